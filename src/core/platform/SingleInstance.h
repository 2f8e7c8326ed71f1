#pragma once
// One running instance per user: the first process holds a lock file and listens on a Unix
// socket beside it; a later start connects, hands over its arguments as a block of NUL-terminated
// strings and waits for the first instance to acknowledge them.
//
// The lock is an flock on a file in the runtime folder, so it vanishes with the process that
// held it: a crashed first instance never blocks the next start.

#include "core/platform/EventLoop.h"

#include <chrono>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace morvane::platform {

inline constexpr std::size_t handOverBlockSize = 65536;

// The block for argv (program path first): each string followed by NUL, then one more NUL.
// Fails with a message when the block would exceed handOverBlockSize.
struct HandOverBlock {
    std::string bytes;
    std::string error;
};
HandOverBlock encodeHandOver(const std::vector<std::string>& argv);

// The strings of a block up to the first empty one, without the program path. nullopt when the
// block is malformed (too long, or its last string is not NUL-terminated).
std::optional<std::vector<std::string>> decodeHandOver(std::string_view block);

// $MORVANE_RUNTIME_DIR, else $XDG_RUNTIME_DIR/morvane, else /tmp/morvane-<uid>.
std::filesystem::path defaultRuntimeDir();

class SingleInstance {
public:
    explicit SingleInstance(std::filesystem::path runtimeDir);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    enum class Role { First, Second, Failed };
    // Takes the lock when nobody holds it (First), or finds that another instance runs (Second).
    // Failed when the folder or the lock file is not this user's alone (error() says why).
    Role claim();
    const std::string& error() const { return error_; }

    // Second: sends the block and waits for the acknowledgement. False with error() on failure.
    bool handOver(const std::string& block, std::chrono::milliseconds timeout);

    // First: listens for hand-overs on the loop and acknowledges each well-formed block. The
    // lists (program path removed) are queued and given to onArguments one at a time from the
    // loop, never from inside a socket callback and never while an earlier call is still running
    // (a message box's nested loop receives further hand-overs, but they wait their turn).
    bool listen(EventLoop& loop, std::function<void(std::vector<std::string>)> onArguments);

    // At most this many clients are served at once and this many hand-overs wait; beyond that
    // new connections wait in the socket's backlog (their sender retries until its timeout).
    static constexpr std::size_t maxConnections = 32;
    static constexpr std::size_t maxPending = 256;
    std::size_t pendingHandOvers() const { return pending_.size(); }
    std::size_t openConnections() const { return connections_.size(); }
    // False while the listener rests: at a limit above, or after accept() ran out of descriptors.
    bool accepting() const { return accepting_; }

private:
    struct Connection;
    bool prepareFolder();
    void accept();
    void readFrom(Connection& c);
    void drop(int fd);
    void pauseAccepting(bool retryLater);
    void resumeAccepting();
    void scheduleDelivery();
    void deliverNext();

    std::filesystem::path dir_;
    std::filesystem::path lockFile_;
    std::filesystem::path socketFile_;
    int lockFd_ = -1;
    int listenFd_ = -1;
    EventLoop* loop_ = nullptr;
    WatchId listenWatch_ = 0;
    std::function<void(std::vector<std::string>)> onArguments_;
    std::vector<std::unique_ptr<Connection>> connections_;
    std::deque<std::vector<std::string>> pending_;
    bool accepting_ = false;
    TimerId retryTimer_ = 0;    // accepting again after the process ran out of descriptors
    TimerId deliveryTimer_ = 0; // the next delivery, armed from the loop
    bool delivering_ = false;
    std::string error_;
};

} // namespace morvane::platform
