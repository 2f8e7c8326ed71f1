// The demo script: a local FTP server, the "Demo" account and the editor on it; nothing is
// left running or lying around when the editor exits, also after Ctrl+C.

#include "core/net/Account.h"
#include "core/platform/Registry.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

using morvane::testing::readFile;
using morvane::testing::TempDir;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

class Demo : public ::testing::Test {
protected:
    ~Demo() override {
        if (pid_ > 0) {
            ::kill(-pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }

    void start(bool quitWhenReady) {
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            std::string v = *e;
            if (v.starts_with("MORVANE_") || v.starts_with("QT_QPA_PLATFORM=") ||
                v.starts_with("TMPDIR=") || v.starts_with("XDG_STATE_HOME="))
                continue;
            env.push_back(v);
        }
        env.push_back("QT_QPA_PLATFORM=offscreen");
        env.push_back("MORVANE_CONFIG_DIR=" + (dir / "cfg").string());
        env.push_back("MORVANE_HOME=" + (dir / "home").string());
        env.push_back("MORVANE_RUNTIME_DIR=" + (dir / "run").string());
        env.push_back("MORVANE_TRACE_FILE=" + (dir / "trace").string());
        env.push_back("TMPDIR=" + (dir / "tmp").string());
        env.push_back("XDG_STATE_HOME=" + (dir / "state").string());
        env.push_back("MORVANE_NO_UPDATE_CHECK=1");
        if (quitWhenReady) env.push_back("MORVANE_QUIT_WHEN_READY=1");
        fs::create_directories(dir / "tmp");

        std::string script = fs::path(MORVANE_TEST_RESOURCES).parent_path() / "scripts/demo.sh";
        std::string build = fs::path(MORVANE_EXECUTABLE).parent_path();
        std::vector<char*> argv{script.data(), build.data(), nullptr};
        std::vector<char*> envp;
        for (auto& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP); // a group, as a terminal makes
        posix_spawnattr_setpgroup(&attr, 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        std::string log = (dir / "demo.log").string();
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT, 0600);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        ASSERT_EQ(posix_spawn(&pid_, script.c_str(), &actions, &attr, argv.data(), envp.data()), 0);
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attr);
    }

    // The exit status, or -1 when it did not end within 30 s.
    int wait() {
        int status = 0;
        for (int i = 0; i < 600; ++i) {
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(50ms);
        }
        return -1;
    }

    bool traced(const std::string& event) {
        for (int i = 0; i < 600; ++i) {
            if (readFile(dir / "trace").find(" " + event) != std::string::npos) return true;
            std::this_thread::sleep_for(50ms);
        }
        return false;
    }

    morvane::net::TAccount demoAccount() {
        morvane::platform::Registry store(dir / "cfg");
        morvane::net::TAccount a;
        EXPECT_TRUE(morvane::net::LoadAccount(store, "Demo", a)) << readFile(dir / "demo.log");
        return a;
    }

    static bool listening(int port) {
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(std::uint16_t(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        ::close(fd);
        return ok;
    }

    bool scratchLeft() const {
        for (auto& e : fs::directory_iterator(dir / "tmp"))
            if (e.path().filename().string().starts_with("morvane-demo.")) return true;
        return false;
    }

    TempDir dir;
    pid_t pid_ = -1;
};

TEST_F(Demo, StartsTheServerPointsTheDemoAccountAtItAndStopsItWithTheEditor) {
    start(true);
    ASSERT_EQ(wait(), 0) << readFile(dir / "demo.log");
    EXPECT_TRUE(readFile(dir / "trace").find(" activated") != std::string::npos);
    morvane::net::TAccount demo = demoAccount();
    EXPECT_EQ(demo.Hostname, "127.0.0.1");
    EXPECT_EQ(demo.Username, "demo");
    EXPECT_FALSE(demo.Password.empty());
    EXPECT_EQ(demo.Directory, "/");
    EXPECT_FALSE(listening(demo.Port));
    EXPECT_FALSE(scratchLeft());
}

TEST_F(Demo, CtrlCLeavesNoServerBehind) {
    start(false);
    ASSERT_TRUE(traced("activated")) << readFile(dir / "demo.log");
    morvane::net::TAccount demo = demoAccount();
    EXPECT_TRUE(listening(demo.Port));
    ::kill(-pid_, SIGINT); // what Ctrl+C in the terminal does
    EXPECT_NE(wait(), -1);
    EXPECT_FALSE(listening(demo.Port));
    EXPECT_FALSE(scratchLeft());
}

} // namespace
