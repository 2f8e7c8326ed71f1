#include "platform/SingleInstance.h"
#include "support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

using namespace morvane::platform;
using morvane::testing::TempDir;
using namespace std::chrono_literals;
using ::testing::ElementsAre;

namespace {

TEST(HandOverBlock, HoldsNulTerminatedStringsAndAFinalNul) {
    auto b = encodeHandOver({"/usr/bin/morvane", "a.txt", "MORVANE://site:/www/index.html"});
    ASSERT_TRUE(b.error.empty());
    EXPECT_EQ(b.bytes,
              std::string("/usr/bin/morvane\0a.txt\0MORVANE://site:/www/index.html\0\0", 55));
    EXPECT_THAT(*decodeHandOver(b.bytes), ElementsAre("a.txt", "MORVANE://site:/www/index.html"));
}

TEST(HandOverBlock, TheSizeLimitCountsEveryTerminator) {
    // 1 + (len+1) for each string: a program path of 9 bytes and one argument that fills the rest.
    std::string path = "/bin/prog";
    std::string fits(65536 - 1 - (path.size() + 1) - 1, 'x');
    EXPECT_TRUE(encodeHandOver({path, fits}).error.empty());
    auto tooLong = encodeHandOver({path, fits + "x"});
    EXPECT_THAT(tooLong.error, ::testing::HasSubstr("65537 bytes; at most 65536"));
    EXPECT_TRUE(tooLong.bytes.empty());
}

TEST(HandOverBlock, MalformedBlocksAreRefused) {
    EXPECT_FALSE(decodeHandOver(std::string("prog\0a.txt", 10)));      // not NUL-terminated
    EXPECT_FALSE(decodeHandOver(""));                                  // nothing at all
    EXPECT_FALSE(decodeHandOver(std::string(65537, '\0')));            // too long
    EXPECT_THAT(*decodeHandOver(std::string("prog\0a\0\0junk\0", 13)), // stops at the empty string
                ElementsAre("a"));
}

TEST(SingleInstance, OnlyOneHolderAtATimeAndTheLockDiesWithItsHolder) {
    TempDir dir;
    {
        SingleInstance first(dir.path());
        ASSERT_EQ(first.claim(), SingleInstance::Role::First);
        SingleInstance second(dir.path());
        EXPECT_EQ(second.claim(), SingleInstance::Role::Second);
    }
    // A lock file and socket file left behind (as by a crash) do not block the next start.
    ASSERT_TRUE(std::filesystem::exists(dir / "morvane.lock"));
    morvane::testing::writeFile(dir / "morvane.socket", "stale");
    auto loop = makePollEventLoop(); // outlives the instance that watches on it
    SingleInstance next(dir.path());
    EXPECT_EQ(next.claim(), SingleInstance::Role::First);
    EXPECT_TRUE(next.listen(*loop, [](auto) {})) << next.error();
}

TEST(SingleInstance, ArgumentsReachTheFirstInstanceAndAreAcknowledged) {
    TempDir dir;
    auto loop = makePollEventLoop();
    SingleInstance first(dir.path());
    ASSERT_EQ(first.claim(), SingleInstance::Role::First);
    std::vector<std::vector<std::string>> received;
    ASSERT_TRUE(first.listen(
        *loop, [&](std::vector<std::string> args) { received.push_back(std::move(args)); }));

    bool handed = false;
    std::string error;
    std::thread second([&] {
        SingleInstance s(dir.path());
        if (s.claim() == SingleInstance::Role::Second) {
            handed = s.handOver(encodeHandOver({"morvane", "a.txt", "b c.txt"}).bytes, 5s);
            error = s.error();
        }
        loop->post([&] { loop->quit(); });
    });
    auto guard = loop->addTimer(10s, false, [&] { loop->quit(); });
    loop->run();
    second.join();
    loop->cancelTimer(guard);
    EXPECT_TRUE(handed) << error;
    ASSERT_EQ(received.size(), 1u);
    EXPECT_THAT(received[0], ElementsAre("a.txt", "b c.txt"));
}

TEST(SingleInstance, ABlockWithoutItsTerminatorIsRefusedAndNothingOpens) {
    TempDir dir;
    auto loop = makePollEventLoop();
    SingleInstance first(dir.path());
    ASSERT_EQ(first.claim(), SingleInstance::Role::First);
    int calls = 0;
    ASSERT_TRUE(first.listen(*loop, [&](auto) { ++calls; }));
    bool handed = true;
    std::string error;
    std::thread second([&] {
        SingleInstance s(dir.path());
        s.claim();
        handed = s.handOver(std::string("morvane\0a.txt", 13), 5s);
        error = s.error();
        loop->post([&] { loop->quit(); });
    });
    auto guard = loop->addTimer(10s, false, [&] { loop->quit(); });
    loop->run();
    second.join();
    loop->cancelTimer(guard);
    EXPECT_FALSE(handed);
    EXPECT_EQ(error, "The running instance of Morvane refused the arguments.");
    EXPECT_EQ(calls, 0);
}

TEST(SingleInstance, NoListenerMeansATimelyErrorNotAHang) {
    TempDir dir;
    SingleInstance first(dir.path());
    ASSERT_EQ(first.claim(), SingleInstance::Role::First); // holds the lock, never listens
    SingleInstance second(dir.path());
    ASSERT_EQ(second.claim(), SingleInstance::Role::Second);
    EXPECT_FALSE(second.handOver(encodeHandOver({"m"}).bytes, 200ms));
    EXPECT_EQ(second.error(), "The running instance of Morvane does not answer.");
}

} // namespace
