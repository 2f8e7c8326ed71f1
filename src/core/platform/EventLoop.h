#pragma once
// The one event loop that every asynchronous part of the program runs on: posted callbacks,
// timers and file-descriptor watches. Everything runs on the thread that runs the loop; only
// post() may be called from another thread (the host-name lookup worker posts its result back).

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

namespace morvane::platform {

enum IoEvents : unsigned {
    ioNone = 0,
    ioRead = 1,  // readable, or a listening socket has a connection waiting, or peer closed
    ioWrite = 2, // writable, or a non-blocking connect has finished (either way)
    ioError = 4, // reported only: POLLERR / POLLHUP / POLLNVAL
};

using TimerId = std::uint64_t;
using WatchId = std::uint64_t;

class EventLoop {
public:
    using Callback = std::function<void()>;
    using IoCallback = std::function<void(int fd, unsigned events)>;

    virtual ~EventLoop() = default;

    // Runs fn on the loop's thread after the current callback returns. Thread-safe.
    virtual void post(Callback fn) = 0;

    // A timer fires after interval, once or repeatedly until cancelled. Cancelling an unknown or
    // already finished timer is harmless, also from inside its own callback.
    virtual TimerId addTimer(std::chrono::milliseconds interval, bool repeat, Callback fn) = 0;
    virtual void cancelTimer(TimerId id) = 0;

    // Watches fd for the given IoEvents. The callback gets the events that are ready.
    // A watch may be changed or removed at any time, also from inside any callback.
    virtual WatchId watchFd(int fd, unsigned events, IoCallback fn) = 0;
    virtual void setWatchEvents(WatchId id, unsigned events) = 0;
    virtual void unwatch(WatchId id) = 0;

    // Runs until quit(). Nested calls (modal waits) are allowed.
    virtual void run() = 0;
    virtual void quit() = 0;

    // Runs what is ready, waiting at most maxWait for something to happen. Returns after one
    // round of dispatch. Used by modal waits, which must keep the program responsive.
    virtual void processEvents(std::chrono::milliseconds maxWait) = 0;
};

// The poll()-based loop used by tests and command-line tools.
std::unique_ptr<EventLoop> makePollEventLoop();

} // namespace morvane::platform
