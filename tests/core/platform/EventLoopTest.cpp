#include "core/platform/EventLoop.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace morvane::platform;
using namespace std::chrono_literals;

namespace {

TEST(PollEventLoop, PostedCallbacksRunInOrderAlsoFromOtherThreads) {
    auto loop = makePollEventLoop();
    std::vector<int> seen;
    loop->post([&] { seen.push_back(1); });
    loop->post([&] { seen.push_back(2); });
    std::thread worker([&] {
        loop->post([&] {
            seen.push_back(3);
            loop->quit();
        });
    });
    auto guard = loop->addTimer(5s, false, [&] { loop->quit(); });
    loop->run();
    worker.join();
    loop->cancelTimer(guard);
    EXPECT_EQ(seen, (std::vector<int>{1, 2, 3}));
}

TEST(PollEventLoop, TimersFireByDueTimeAndCanBeCancelledFromTheirOwnCallback) {
    auto loop = makePollEventLoop();
    std::vector<char> order;
    int ticks = 0;
    TimerId repeating = 0;
    repeating = loop->addTimer(1ms, true, [&] {
        if (++ticks == 3) loop->cancelTimer(repeating);
    });
    loop->addTimer(30ms, false, [&] {
        order.push_back('b');
        loop->quit();
    });
    loop->addTimer(10ms, false, [&] { order.push_back('a'); });
    TimerId cancelled = loop->addTimer(20ms, false, [&] { order.push_back('x'); });
    loop->cancelTimer(cancelled);
    loop->run();
    EXPECT_EQ(order, (std::vector<char>{'a', 'b'}));
    EXPECT_EQ(ticks, 3);
}

TEST(PollEventLoop, WatchesReportReadinessAndMayBeRemovedInsideACallback) {
    auto loop = makePollEventLoop();
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_NONBLOCK), 0);
    std::string got;
    WatchId reader = 0;
    reader = loop->watchFd(fds[0], ioRead, [&](int fd, unsigned events) {
        EXPECT_TRUE(events & ioRead);
        char buf[16];
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) got.append(buf, std::size_t(n));
        if (n == 0) {
            loop->unwatch(reader);
            loop->quit();
        }
    });
    bool wrote = false;
    loop->watchFd(fds[1], ioWrite, [&](int fd, unsigned) {
        if (!wrote) {
            ASSERT_EQ(::write(fd, "hello", 5), 5);
            wrote = true;
            ::close(fds[1]);
        }
    });
    auto guard = loop->addTimer(5s, false, [&] { loop->quit(); });
    loop->run();
    loop->cancelTimer(guard);
    EXPECT_EQ(got, "hello");
    ::close(fds[0]);
}

TEST(PollEventLoop, NestedRunsEndInnermostFirst) {
    auto loop = makePollEventLoop();
    std::vector<std::string> trace;
    loop->post([&] {
        trace.push_back("outer");
        loop->post([&] {
            trace.push_back("inner");
            loop->quit();
        });
        loop->run(); // a modal wait
        trace.push_back("back");
        loop->quit();
    });
    loop->run();
    EXPECT_EQ(trace, (std::vector<std::string>{"outer", "inner", "back"}));
}

TEST(PollEventLoop, ProcessEventsWaitsNoLongerThanAsked) {
    auto loop = makePollEventLoop();
    auto start = std::chrono::steady_clock::now();
    loop->processEvents(20ms);
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_LT(waited, 2s);
}

} // namespace
