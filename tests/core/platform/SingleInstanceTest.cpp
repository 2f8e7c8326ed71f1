#include "core/platform/SingleInstance.h"
#include "support/AsUser.h"
#include "support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace morvane::platform;
using morvane::testing::TempDir;
using morvane::testing::writeFile;
using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

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

namespace {

using morvane::testing::giveToNobody;
using morvane::testing::runningAsRoot;

// Whoever controls the folder, the lock or the socket would receive every later start's files.
TEST(SingleInstanceFolder, IsCreatedPrivateAndAFolderOpenToOthersIsMadePrivate) {
    TempDir dir;
    SingleInstance a(dir / "new" / "run");
    ASSERT_EQ(a.claim(), SingleInstance::Role::First) << a.error();
    struct stat st {};
    ::stat((dir / "new" / "run").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    std::filesystem::create_directories(dir / "open");
    ::chmod((dir / "open").c_str(), 0777);
    SingleInstance b(dir / "open");
    ASSERT_EQ(b.claim(), SingleInstance::Role::First) << b.error();
    ::stat((dir / "open").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST(SingleInstanceFolder, ALinkOrALockFileOthersMayWriteIsRefused) {
    TempDir dir;
    std::filesystem::create_directories(dir / "elsewhere");
    std::filesystem::create_symlink(dir / "elsewhere", dir / "link");
    SingleInstance viaLink(dir / "link");
    EXPECT_EQ(viaLink.claim(), SingleInstance::Role::Failed);
    EXPECT_THAT(viaLink.error(), HasSubstr("it is not a folder"));

    std::filesystem::create_directories(dir / "run");
    writeFile(dir / "run" / "morvane.lock", "");
    ::chmod((dir / "run" / "morvane.lock").c_str(), 0666);
    SingleInstance open(dir / "run");
    EXPECT_EQ(open.claim(), SingleInstance::Role::Failed);
    EXPECT_THAT(open.error(), HasSubstr("other users may write to it"));
    EXPECT_THAT(open.error(), HasSubstr("runs as a separate instance"));
}

TEST(SingleInstanceFolder, AFolderOrSocketOfAnotherUserIsRefused) {
    if (!runningAsRoot()) GTEST_SKIP() << "needs root to make files of another user";
    TempDir dir;
    std::filesystem::create_directories(dir / "theirs");
    giveToNobody(dir / "theirs");
    ::chmod((dir / "theirs").c_str(), 0700);
    SingleInstance intoTheirs(dir / "theirs");
    EXPECT_EQ(intoTheirs.claim(), SingleInstance::Role::Failed);
    EXPECT_THAT(intoTheirs.error(), HasSubstr("belongs to another user"));

    // A lock held by a first instance, and a socket file that another user has put in its place:
    // nothing is sent to it.
    auto loop = makePollEventLoop();
    SingleInstance first(dir / "run");
    ASSERT_EQ(first.claim(), SingleInstance::Role::First);
    std::vector<std::string> received;
    ASSERT_TRUE(first.listen(*loop, [&](auto args) { received = args; }));
    ::chown((dir / "run" / "morvane.socket").c_str(), morvane::testing::kNobody,
            morvane::testing::kNobody);
    SingleInstance second(dir / "run");
    ASSERT_EQ(second.claim(), SingleInstance::Role::Second);
    auto block = encodeHandOver({"prog", "/home/me/secret.txt"});
    EXPECT_FALSE(second.handOver(block.bytes, 2s));
    EXPECT_THAT(second.error(), HasSubstr("belongs to another user"));
}

TEST(SingleInstanceFolder, AListenerOfAnotherUserBehindASafeLookingSocketGetsNothing) {
    if (!runningAsRoot()) GTEST_SKIP() << "needs root to act as another user";
    TempDir dir;
    std::filesystem::create_directories(dir / "run");
    giveToNobody(dir / "run");
    ::chmod((dir / "run").c_str(), 0777);
    // Another user binds the socket, which is then made to look like ours.
    int ready[2], done[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(done), 0);
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (::setresgid(65534, 65534, 65534) != 0 || ::setresuid(65534, 65534, 65534) != 0)
            ::_exit(1);
        int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::string path = (dir / "run" / "morvane.socket").string();
        std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::listen(fd, 4) != 0)
            ::_exit(2);
        char c = 'r';
        [[maybe_unused]] auto n = ::write(ready[1], &c, 1);
        n = ::read(done[0], &c, 1); // until the test has finished
        ::_exit(0);
    }
    char c;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    ::chown((dir / "run" / "morvane.socket").c_str(), 0, 0);
    ::chmod((dir / "run" / "morvane.socket").c_str(), 0600);
    ::chown((dir / "run").c_str(), 0, 0);
    ::chmod((dir / "run").c_str(), 0700);
    SingleInstance holder(dir / "run"); // holds the lock, as a first instance would
    ASSERT_EQ(holder.claim(), SingleInstance::Role::First) << holder.error();
    SingleInstance second(dir / "run");
    ASSERT_EQ(second.claim(), SingleInstance::Role::Second);
    EXPECT_FALSE(second.handOver(encodeHandOver({"prog", "/x"}).bytes, 2s));
    EXPECT_THAT(second.error(), HasSubstr("belongs to another user"));
    [[maybe_unused]] auto n = ::write(done[1], &c, 1);
    ::waitpid(pid, nullptr, 0);
    for (int fd : {ready[0], ready[1], done[0], done[1]})
        ::close(fd);
}

} // namespace
