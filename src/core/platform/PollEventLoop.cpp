#include "core/platform/EventLoop.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <vector>

namespace morvane::platform {
namespace {

using Clock = std::chrono::steady_clock;

class PollEventLoop final : public EventLoop {
public:
    PollEventLoop() { wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC); }
    ~PollEventLoop() override {
        if (wakeFd_ >= 0) ::close(wakeFd_);
    }

    void post(Callback fn) override {
        {
            std::lock_guard lock(postedMutex_);
            posted_.push_back(std::move(fn));
        }
        std::uint64_t one = 1;
        [[maybe_unused]] auto n = ::write(wakeFd_, &one, sizeof one);
    }

    TimerId addTimer(std::chrono::milliseconds interval, bool repeat, Callback fn) override {
        TimerId id = ++lastId_;
        interval = std::max(interval, std::chrono::milliseconds(0));
        timers_[id] = Timer{Clock::now() + interval, interval, repeat, std::move(fn)};
        return id;
    }
    void cancelTimer(TimerId id) override { timers_.erase(id); }

    WatchId watchFd(int fd, unsigned events, IoCallback fn) override {
        WatchId id = ++lastId_;
        watches_[id] = Watch{fd, events, std::move(fn)};
        return id;
    }
    void setWatchEvents(WatchId id, unsigned events) override {
        if (auto it = watches_.find(id); it != watches_.end()) it->second.events = events;
    }
    void unwatch(WatchId id) override { watches_.erase(id); }

    void run() override {
        int depth = ++runDepth_;
        while (quitDepth_ < depth)
            processEvents(std::chrono::milliseconds(-1));
        // A quit ends the innermost run only.
        quitDepth_ = depth - 1;
        --runDepth_;
    }
    void quit() override { quitDepth_ = runDepth_; }

    void processEvents(std::chrono::milliseconds maxWait) override {
        std::vector<pollfd> fds;
        std::vector<WatchId> ids;
        fds.push_back({wakeFd_, POLLIN, 0});
        for (auto& [id, w] : watches_) {
            short ev = 0;
            if (w.events & ioRead) ev |= POLLIN;
            if (w.events & ioWrite) ev |= POLLOUT;
            if (ev == 0) continue;
            fds.push_back({w.fd, ev, 0});
            ids.push_back(id);
        }
        int timeout = waitMillis(maxWait);
        int n = ::poll(fds.data(), fds.size(), timeout);
        if (n < 0 && errno != EINTR) n = 0;

        if (fds[0].revents & POLLIN) {
            std::uint64_t v;
            [[maybe_unused]] auto r = ::read(wakeFd_, &v, sizeof v);
        }
        runPosted();
        if (n > 0) {
            for (std::size_t i = 1; i < fds.size(); ++i) {
                if (!fds[i].revents) continue;
                auto it = watches_.find(ids[i - 1]);
                if (it == watches_.end()) continue; // removed by an earlier callback
                unsigned ready = 0;
                if (fds[i].revents & (POLLIN | POLLHUP)) ready |= ioRead;
                if (fds[i].revents & POLLOUT) ready |= ioWrite;
                if (fds[i].revents & (POLLERR | POLLHUP | POLLNVAL)) ready |= ioError;
                ready &= it->second.events | ioError;
                if (!ready) continue;
                IoCallback cb = it->second.callback; // the watch may go away inside the call
                cb(fds[i].fd, ready);
            }
        }
        runTimers();
    }

private:
    struct Timer {
        Clock::time_point due;
        std::chrono::milliseconds interval;
        bool repeat;
        Callback callback;
    };
    struct Watch {
        int fd;
        unsigned events;
        IoCallback callback;
    };

    int waitMillis(std::chrono::milliseconds maxWait) {
        {
            std::lock_guard lock(postedMutex_);
            if (!posted_.empty()) return 0;
        }
        long long wait = maxWait.count(); // negative: no limit
        auto now = Clock::now();
        for (auto& [id, t] : timers_) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(t.due - now).count();
            if (left < 0) left = 0;
            if (wait < 0 || left < wait) wait = left;
        }
        if (wait > 1000 * 1000) wait = 1000 * 1000;
        return static_cast<int>(wait);
    }

    void runPosted() {
        std::vector<Callback> batch;
        {
            std::lock_guard lock(postedMutex_);
            batch.swap(posted_);
        }
        for (auto& fn : batch)
            fn();
    }

    void runTimers() {
        auto now = Clock::now();
        std::vector<TimerId> due;
        for (auto& [id, t] : timers_)
            if (t.due <= now) due.push_back(id);
        for (TimerId id : due) {
            auto it = timers_.find(id);
            if (it == timers_.end()) continue;
            Callback cb = it->second.callback;
            if (it->second.repeat)
                it->second.due = now + std::max(it->second.interval, std::chrono::milliseconds(1));
            else
                timers_.erase(it);
            cb();
        }
    }

    int wakeFd_ = -1;
    std::mutex postedMutex_;
    std::vector<Callback> posted_;
    std::map<TimerId, Timer> timers_;
    std::map<WatchId, Watch> watches_;
    std::uint64_t lastId_ = 0;
    int runDepth_ = 0;
    int quitDepth_ = 0;
};

} // namespace

std::unique_ptr<EventLoop> makePollEventLoop() {
    return std::make_unique<PollEventLoop>();
}

} // namespace morvane::platform
