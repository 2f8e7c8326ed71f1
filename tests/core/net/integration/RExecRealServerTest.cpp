// The rexec client against the distribution's rexec daemon, started per connection from a
// loopback listener the way inetd would, logging in as a user the test makes.
#include "core/net/RExecClient.h"

#include "NetTestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace morvane::testing {
namespace {

constexpr const char* kDaemon = "/usr/sbin/in.rexecd";
constexpr const char* kUser = "morvanerx";
constexpr const char* kPassword = "Rx-test-7781";

// Hands each connection to a new daemon as its standard input, output and error.
class RExecDaemon {
public:
    RExecDaemon() {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(listener_, 4);
        socklen_t len = sizeof a;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
        thread_ = std::thread([this] {
            for (;;) {
                int conn = ::accept(listener_, nullptr, nullptr);
                if (conn < 0 || stop_) break;
                posix_spawn_file_actions_t actions;
                posix_spawn_file_actions_init(&actions);
                for (int fd : {0, 1, 2})
                    posix_spawn_file_actions_adddup2(&actions, conn, fd);
                char* argv[] = {const_cast<char*>(kDaemon), nullptr};
                pid_t pid = 0;
                if (posix_spawn(&pid, kDaemon, &actions, nullptr, argv, environ) == 0)
                    children_.push_back(pid);
                posix_spawn_file_actions_destroy(&actions);
                ::close(conn);
            }
        });
    }
    ~RExecDaemon() {
        stop_ = true;
        ::shutdown(listener_, SHUT_RDWR);
        thread_.join();
        ::close(listener_);
        for (pid_t pid : children_) {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
    }
    int port = 0;

private:
    int listener_ = -1;
    std::atomic<bool> stop_{false};
    std::vector<pid_t> children_;
    std::thread thread_;
};

class RExecRealServer : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (::getuid() != 0 || !std::filesystem::exists(kDaemon)) return;
        std::string make = std::string("id ") + kUser +
                           " >/dev/null 2>&1 || useradd -m -s /bin/sh " + kUser + " && echo '" +
                           kUser + ":" + kPassword + "' | chpasswd";
        ready_ = std::system(make.c_str()) == 0;
    }
    static void TearDownTestSuite() {
        if (ready_) std::system((std::string("userdel -r ") + kUser + " >/dev/null 2>&1").c_str());
    }
    void SetUp() override {
        if (::getuid() != 0) GTEST_SKIP() << "needs root to make the test user";
        if (!std::filesystem::exists(kDaemon))
            GTEST_SKIP() << kDaemon << " is missing (Debian package rsh-server)";
        ASSERT_TRUE(ready_) << "could not make the test user " << kUser;
    }

    struct Result {
        bool done = false;
        bool error = false;
        std::string output;
        int pieces = 0;
    };
    Result run(const std::string& command, const std::string& password = kPassword) {
        auto loop = platform::makePollEventLoop();
        net::TRExecClient client(*loop);
        Result r;
        client.onOutput = [&](std::string_view bytes) {
            r.output.append(bytes);
            ++r.pieces;
        };
        client.onDone = [&](bool e) {
            r.done = true;
            r.error = e;
        };
        client.start({"127.0.0.1", daemon_.port, kUser, password, command});
        EXPECT_TRUE(RunUntil(
            *loop, [&] { return r.done; }, 30000));
        return r;
    }

    static inline bool ready_ = false;
    RExecDaemon daemon_;
};

TEST_F(RExecRealServer, RunsTheCommandAsTheUserAndShowsItsOutputWithoutTheStatusByte) {
    Result r = run("cd /tmp && echo \"in $(pwd) as $(id -un)\"; printf 'a b\\n'");
    EXPECT_FALSE(r.error);
    EXPECT_EQ(r.output, std::string("in /tmp as ") + kUser + "\na b\n");
}

TEST_F(RExecRealServer, AWrongPasswordIsReportedNotSilent) {
    // The daemon closes without a word; the client says why that probably is.
    Result r = run("id", "wrong");
    EXPECT_TRUE(r.error);
    EXPECT_NE(r.output.find("password wrong?"), std::string::npos) << r.output;
}

TEST_F(RExecRealServer, LongOutputArrivesWhileTheCommandRuns) {
    Result r = run("seq 1 100000");
    EXPECT_FALSE(r.error);
    EXPECT_EQ(std::count(r.output.begin(), r.output.end(), '\n'), 100000);
    EXPECT_EQ(r.output.substr(r.output.size() - 7), "100000\n");
    EXPECT_GT(r.pieces, 1);
}

} // namespace
} // namespace morvane::testing
