#include "core/platform/SingleInstance.h"
#include "support/AsUser.h"
#include "support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstring>
#include <grp.h>
#include <map>
#include <sys/resource.h>
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
    MORVANE_NEEDS_ROOT("needs root to make files of another user");
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
    MORVANE_NEEDS_ROOT("needs root to act as another user");
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

namespace {

// Sends one block on a raw connection (no owner checks) and returns the reply byte, 0 when the
// connection closed without one, -1 when it could not connect.
int rawHandOver(const std::filesystem::path& socketFile, const std::string& block) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::string path = socketFile.string();
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    timeval tv{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    [[maybe_unused]] auto n = ::send(fd, block.data(), block.size(), MSG_NOSIGNAL);
    ::shutdown(fd, SHUT_WR);
    char reply = 0;
    int got = ::recv(fd, &reply, 1, 0) == 1 ? reply : 0;
    ::close(fd);
    return got;
}

// A loop that counts how often each watched descriptor's callback runs.
class CountingLoop : public EventLoop {
public:
    explicit CountingLoop(EventLoop& inner) : inner_(inner) {}
    std::map<int, int> wakeups;

    void post(Callback fn) override { inner_.post(std::move(fn)); }
    TimerId addTimer(std::chrono::milliseconds i, bool repeat, Callback fn) override {
        return inner_.addTimer(i, repeat, std::move(fn));
    }
    void cancelTimer(TimerId id) override { inner_.cancelTimer(id); }
    WatchId watchFd(int fd, unsigned events, IoCallback fn) override {
        return inner_.watchFd(fd, events, [this, fn](int f, unsigned e) {
            ++wakeups[f];
            fn(f, e);
        });
    }
    void setWatchEvents(WatchId id, unsigned events) override { inner_.setWatchEvents(id, events); }
    void unwatch(WatchId id) override { inner_.unwatch(id); }
    void run() override { inner_.run(); }
    void quit() override { inner_.quit(); }
    void processEvents(std::chrono::milliseconds maxWait) override {
        inner_.processEvents(maxWait);
    }

private:
    EventLoop& inner_;
};

// A handler that shows a message box runs a nested loop; hand-overs arriving meanwhile must
// wait, not run the handler again inside itself (a flood of them overflowed the stack).
TEST(SingleInstanceFlood, HandOversAreDeliveredOneAtATimeInOrderEvenFromNestedLoops) {
    TempDir dir;
    auto loop = makePollEventLoop();
    SingleInstance first(dir.path());
    ASSERT_EQ(first.claim(), SingleInstance::Role::First);
    constexpr int count = 100;
    int depth = 0, deepest = 0;
    std::vector<std::string> received;
    ASSERT_TRUE(first.listen(*loop, [&](std::vector<std::string> args) {
        deepest = std::max(deepest, ++depth);
        received.push_back(args.at(0));
        for (int i = 0; i < 3; ++i) // the "modal box"
            loop->processEvents(1ms);
        --depth;
        if (received.size() == count) loop->quit();
    }));
    std::atomic<int> handed{0};
    std::thread sender([&] {
        SingleInstance s(dir.path());
        for (int i = 0; i < count; ++i)
            if (s.handOver(encodeHandOver({"m", "f" + std::to_string(i)}).bytes, 5s)) ++handed;
    });
    auto guard = loop->addTimer(60s, false, [&] { loop->quit(); });
    loop->run();
    sender.join();
    loop->cancelTimer(guard);
    EXPECT_EQ(handed.load(), count);
    EXPECT_EQ(deepest, 1);
    ASSERT_EQ(received.size(), std::size_t(count));
    for (int i = 0; i < count; ++i)
        EXPECT_EQ(received[std::size_t(i)], "f" + std::to_string(i));
}

TEST(SingleInstanceFlood, ClientsAreServedAFewDozenAtATime) {
    TempDir dir;
    auto loop = makePollEventLoop();
    SingleInstance first(dir.path());
    ASSERT_EQ(first.claim(), SingleInstance::Role::First);
    int calls = 0;
    ASSERT_TRUE(first.listen(*loop, [&](auto) { ++calls; }));
    // Silent clients: connected, sending nothing.
    std::vector<int> clients;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::string path = (dir / "morvane.socket").string();
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    for (int i = 0; i < 100; ++i) {
        int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            ::close(fd);
            loop->processEvents(0ms); // lets the listener take some
            continue;
        }
        clients.push_back(fd);
        loop->processEvents(0ms);
    }
    for (int i = 0; i < 5; ++i)
        loop->processEvents(1ms);
    EXPECT_EQ(first.openConnections(), SingleInstance::maxConnections);
    EXPECT_FALSE(first.accepting());
    // As the silent ones go away, the listener takes more.
    for (std::size_t i = 0; i < 10; ++i) {
        ::close(clients[i]);
    }
    for (int i = 0; i < 5; ++i)
        loop->processEvents(1ms);
    EXPECT_EQ(first.openConnections(), SingleInstance::maxConnections);
    for (std::size_t i = 10; i < clients.size(); ++i)
        ::close(clients[i]);
    for (int i = 0; i < 200 && first.openConnections() > 0; ++i)
        loop->processEvents(5ms);
    EXPECT_EQ(first.openConnections(), 0u);
    EXPECT_TRUE(first.accepting());
    EXPECT_EQ(calls, 0);
}

// accept() failing with EMFILE leaves the connection waiting and the socket readable: watching
// it on would spin the loop. The listener rests and tries again later.
TEST(SingleInstanceFlood, RunningOutOfDescriptorsNeitherSpinsNorLosesTheClient) {
    TempDir dir;
    auto poll = makePollEventLoop();
    CountingLoop loop(*poll);
    SingleInstance first(dir.path());
    ASSERT_EQ(first.claim(), SingleInstance::Role::First);
    std::vector<std::string> received;
    ASSERT_TRUE(first.listen(loop, [&](auto args) { received = args; }));
    // A client that has sent its whole block waits in the socket's backlog.
    int client = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::string path = (dir / "morvane.socket").string();
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    ASSERT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    std::string block = encodeHandOver({"m", "x"}).bytes;
    ASSERT_EQ(::send(client, block.data(), block.size(), MSG_NOSIGNAL), ssize_t(block.size()));
    ::shutdown(client, SHUT_WR);
    {
        // The descriptor limit drops to the lowest free number: accept() fails with EMFILE.
        rlimit saved{};
        ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
        int lowest = ::dup(0);
        ::close(lowest);
        rlimit tight = saved;
        tight.rlim_cur = rlim_t(lowest);
        ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
        for (int i = 0; i < 20; ++i)
            loop.processEvents(2ms);
        ::setrlimit(RLIMIT_NOFILE, &saved);
    }
    ASSERT_EQ(loop.wakeups.size(), 1u);
    EXPECT_LE(loop.wakeups.begin()->second, 2) << "the listener spun on a socket it cannot accept";
    EXPECT_FALSE(first.accepting());
    EXPECT_TRUE(received.empty());
    // Once descriptors are free again, the waiting client is served.
    // The listener tries again a quarter of a second later; a deadline bounds the wait.
    for (auto until = std::chrono::steady_clock::now() + 20s;
         received.empty() && std::chrono::steady_clock::now() < until;)
        loop.processEvents(10ms);
    EXPECT_THAT(received, ElementsAre("x"));
    EXPECT_TRUE(first.accepting());
    char reply = 0;
    EXPECT_EQ(::recv(client, &reply, 1, MSG_DONTWAIT), 1);
    EXPECT_EQ(reply, 'A');
    ::close(client);
}

// The socket is private, but should it ever be reachable (a folder opened by hand, a descriptor
// passed on), a client of another user is still turned away: it could hand this user's editor
// files to open. The folder and socket are opened to everyone here to reach the listener's own
// check.
TEST(SingleInstanceFlood, AClientOfAnotherUserIsDroppedWithoutAnAnswer) {
    MORVANE_NEEDS_ROOT("needs root to act as another user");
    TempDir dir;
    auto loop = makePollEventLoop();
    SingleInstance first(dir / "run");
    ASSERT_EQ(first.claim(), SingleInstance::Role::First);
    std::vector<std::string> received;
    ASSERT_TRUE(first.listen(*loop, [&](auto args) { received = args; }));
    morvane::testing::giveToNobody(dir / "run" / "x"); // opens the folders above "run"
    ::chmod((dir / "run").c_str(), 0711);
    ::chmod((dir / "run" / "morvane.socket").c_str(), 0666);
    const std::filesystem::path socketFile = dir / "run" / "morvane.socket";
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 ||
            ::setresuid(65534, 65534, 65534) != 0)
            ::_exit(100);
        int reply = rawHandOver(socketFile, encodeHandOver({"prog", "/etc/shadow"}).bytes);
        ::_exit(reply == -1 ? 2 : reply == 'A' ? 1 : 0);
    }
    int status = -1;
    for (auto until = std::chrono::steady_clock::now() + 20s;
         std::chrono::steady_clock::now() < until;) {
        loop->processEvents(10ms);
        if (::waitpid(pid, &status, WNOHANG) == pid) break;
    }
    if (!WIFEXITED(status)) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        FAIL() << "the other user's client did not finish";
    }
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: acknowledged, 2: could not connect, 100: no setuid";
    for (int i = 0; i < 5; ++i)
        loop->processEvents(1ms);
    EXPECT_TRUE(received.empty());
    // The same raw client of this user is served, so the refusal above was the uid's doing.
    std::atomic<int> mine{-2};
    std::thread own([&] { mine = rawHandOver(socketFile, encodeHandOver({"p", "ok"}).bytes); });
    for (auto until = std::chrono::steady_clock::now() + 20s;
         received.empty() && std::chrono::steady_clock::now() < until;)
        loop->processEvents(10ms);
    own.join();
    EXPECT_EQ(mine.load(), 'A');
    EXPECT_THAT(received, ElementsAre("ok"));
}

} // namespace
