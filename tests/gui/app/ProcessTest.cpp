// The real executable, started as a user would start it (offscreen), twice where it matters.

#include "core/net/Account.h"
#include "core/platform/Registry.h"
#include "support/AsUser.h"
#include "support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

using morvane::testing::readFile;
using morvane::testing::TempDir;
using morvane::testing::writeFile;
using namespace std::chrono_literals;
using ::testing::HasSubstr;

namespace {

class Morvane : public ::testing::Test {
protected:
    ~Morvane() override {
        for (pid_t p : running_) {
            ::kill(p, SIGKILL);
            ::waitpid(p, nullptr, 0);
        }
    }

    std::vector<std::string> environment() const {
        std::vector<std::string> env;
        auto overridden = [&](const std::string& v) {
            for (auto& e : extraEnv)
                if (v.starts_with(e.substr(0, e.find('=') + 1))) return true;
            return false;
        };
        for (char** e = environ; *e; ++e) {
            std::string v = *e;
            if (v.starts_with("MORVANE_") || v.starts_with("QT_QPA_PLATFORM=") || overridden(v))
                continue;
            if (headless && (v.starts_with("DISPLAY=") || v.starts_with("WAYLAND_DISPLAY=")))
                continue;
            env.push_back(v);
        }
        if (!headless) env.push_back("QT_QPA_PLATFORM=offscreen");
        env.push_back("MORVANE_CONFIG_DIR=" + (dir / "cfg").string());
        env.push_back("MORVANE_HOME=" + (dir / "home").string());
        env.push_back("MORVANE_RUNTIME_DIR=" + (dir / "run").string());
        env.push_back("MORVANE_TRACE_FILE=" + trace().string());
        env.push_back("MORVANE_NO_UPDATE_CHECK=1");
        for (auto& e : extraEnv)
            env.push_back(e);
        return env;
    }

    pid_t start(std::vector<std::string> args, const std::string& errFile = "/dev/null") {
        args.insert(args.begin(), MORVANE_EXECUTABLE);
        if (asNobody)
            args.insert(args.begin(), {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
                                       "--clear-groups", "--"});
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        auto env = environment();
        std::vector<char*> envp;
        for (auto& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
        if (!input.empty())
            posix_spawn_file_actions_addopen(&actions, 0, input.c_str(), O_RDONLY, 0);
        pid_t pid = -1;
        int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        EXPECT_EQ(rc, 0);
        return pid;
    }

    // Starts an instance that stays running, and waits until it has finished starting.
    pid_t startFirst(std::vector<std::string> args = {}) {
        pid_t pid = start(std::move(args));
        running_.push_back(pid);
        EXPECT_TRUE(waitForTrace(pid, "activated")) << readFile(trace());
        return pid;
    }

    // Runs to the end; -1 when it did not end in time.
    int run(std::vector<std::string> args, std::string* err = nullptr) {
        std::string errFile = (dir / "stderr").string();
        pid_t pid = start(std::move(args), errFile);
        int status = 0;
        for (int i = 0; i < 300; ++i) {
            if (::waitpid(pid, &status, WNOHANG) == pid) {
                if (err) *err = readFile(errFile);
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(50ms);
        }
        running_.push_back(pid);
        return -1;
    }

    std::filesystem::path trace() const { return dir / "trace"; }

    std::vector<std::string> traceOf(pid_t pid) const {
        std::vector<std::string> events;
        std::istringstream in(readFile(trace()));
        std::string line;
        std::string mark = " " + std::to_string(pid) + " ";
        while (std::getline(in, line)) {
            auto at = line.find(mark);
            if (at != std::string::npos) events.push_back(line.substr(at + mark.size()));
        }
        return events;
    }

    bool waitForTrace(pid_t pid, const std::string& event) const {
        for (int i = 0; i < 400; ++i) {
            for (auto& e : traceOf(pid))
                if (e == event) return true;
            std::this_thread::sleep_for(50ms);
        }
        return false;
    }

    std::string userHive() const { return readFile(dir / "cfg" / "user.reg"); }

    TempDir dir;
    std::vector<std::string> extraEnv;
    std::filesystem::path cwd;   // the working folder of the started program
    std::filesystem::path input; // its standard input, when set
    bool asNobody = false;       // started as an unprivileged user (needs root)
    bool headless = false;       // started with no display and no Qt platform
    std::vector<pid_t> running_;
};

TEST_F(Morvane, ASecondStartHandsItsArgumentsToTheFirstAndExitsZero) {
    pid_t first = startFirst();
    std::string a = (dir / "a.txt").string();
    writeFile(a, "text\n");
    EXPECT_EQ(run({a, "MORVANE://site:/www/index.html"}), 0);
    ASSERT_TRUE(waitForTrace(first, "open MORVANE://site:/www/index.html"));
    EXPECT_THAT(traceOf(first),
                ::testing::IsSupersetOf(std::vector<std::string>{"hand-over 2", "open " + a}));
}

// Qt's own options and their values are Qt's: neither the first instance nor a second one that
// hands over its arguments opens them as files.
TEST_F(Morvane, QtOptionsAreNotOpenedAsFiles) {
    std::string sheet = (dir / "look.qss").string(), a = (dir / "a.txt").string(),
                b = (dir / "b.txt").string();
    writeFile(sheet, "QWidget { }\n");
    writeFile(a, "a\n");
    writeFile(b, "b\n");
    pid_t first = startFirst({"-stylesheet", sheet, "-style", "Fusion", a});
    EXPECT_TRUE(waitForTrace(first, "open " + a));
    EXPECT_EQ(run({"-platform", "offscreen", "-stylesheet=" + sheet, b}), 0);
    EXPECT_TRUE(waitForTrace(first, "open " + b));
    std::vector<std::string> opened;
    for (const std::string& e : traceOf(first))
        if (e.starts_with("open ") || e.starts_with("hand-over ")) opened.push_back(e);
    EXPECT_EQ(opened, (std::vector<std::string>{"open " + a, "hand-over 1", "open " + b}));

    // A start from a shell with no display still hands its file over.
    std::string c = (dir / "c.txt").string();
    writeFile(c, "c\n");
    headless = true;
    EXPECT_EQ(run({c}), 0);
    EXPECT_TRUE(waitForTrace(first, "open " + c));
}

TEST_F(Morvane, ASecondStartWithoutArgumentsOnlyBringsTheFirstForward) {
    pid_t first = startFirst();
    EXPECT_EQ(run({}), 0);
    EXPECT_TRUE(waitForTrace(first, "hand-over 0"));
}

TEST_F(Morvane, WithOneInstanceOffASecondWindowStarts) {
    std::filesystem::create_directories(dir / "cfg");
    writeFile(dir / "cfg" / "user.reg",
              "Windows Registry Editor Version 5.00\n\n"
              "[HKEY_CURRENT_USER\\Software\\Orvandel\\Morvane\\2.1\\Settings]\n"
              "\"One instance only\"=\"False\"\n");
    pid_t first = startFirst();
    std::string b = (dir / "b.txt").string();
    writeFile(b, "text\n");
    pid_t second = startFirst({b});
    EXPECT_NE(first, second);
    EXPECT_TRUE(waitForTrace(second, "open " + b));
}

TEST_F(Morvane, ArgumentsThatDoNotFitAreRefusedClearly) {
    pid_t first = startFirst();
    std::string err;
    EXPECT_EQ(run({std::string(70000, 'x')}, &err), 1);
    EXPECT_THAT(err, HasSubstr("too long to hand to the running instance"));
    for (auto& e : traceOf(first))
        EXPECT_THAT(e, ::testing::Not(HasSubstr("hand-over")));
}

TEST_F(Morvane, AKilledFirstInstanceDoesNotBlockTheNextStart) {
    pid_t first = startFirst();
    ::kill(first, SIGKILL);
    ::waitpid(first, nullptr, 0);
    running_.clear();
    std::string c = (dir / "c.txt").string();
    writeFile(c, "text\n");
    pid_t next = startFirst({c});
    EXPECT_TRUE(waitForTrace(next, "open " + c));
}

TEST_F(Morvane, InstWeblinksWritesTheTwoWeblinksAndOpensNoWindow) {
    EXPECT_EQ(run({"/InstWeblinks"}), 0);
    std::string hive = userHive();
    EXPECT_THAT(hive,
                HasSubstr("[HKEY_CURRENT_USER\\Software\\Orvandel\\Morvane\\2.1\\Weblinks\\0]"));
    EXPECT_THAT(hive, HasSubstr("@=\"Perl on-line help\""));
    EXPECT_THAT(hive, HasSubstr("\"Shortcut\"=dword:00000071"));
    EXPECT_THAT(hive, HasSubstr((dir / "home").string() + "/Weblinks/HTML weblinks.txt"));
    EXPECT_THAT(readFile(trace()), ::testing::Not(HasSubstr("first-paint")));
}

TEST_F(Morvane, InstWeblinksIsHandedOverLikeAnyArgumentWhileAnInstanceRuns) {
    pid_t first = startFirst();
    EXPECT_EQ(run({"/InstWeblinks"}), 0);
    EXPECT_TRUE(waitForTrace(first, "open /InstWeblinks"));
    // Opened as a file (it may enter the recent files), never run: no Weblinks key.
    EXPECT_THAT(userHive(), ::testing::Not(HasSubstr("2.1\\Weblinks")));
}

TEST_F(Morvane, ImportSettingsTakesAWindowsExport) {
    writeFile(dir / "export.reg",
              "REGEDIT4\r\n\r\n"
              "[HKEY_CURRENT_USER\\Software\\Orvandel\\Morvane\\2.1\\Settings]\r\n"
              "\"Wordwrap\"=\"True\"\r\n"
              "\"NumRecent\"=dword:00000008\r\n");
    EXPECT_EQ(run({"--import-settings", (dir / "export.reg").string()}), 0);
    EXPECT_THAT(userHive(), HasSubstr("\"NumRecent\"=dword:00000008"));
    std::string err;
    EXPECT_EQ(run({"--import-settings", (dir / "missing.reg").string()}, &err), 1);
    EXPECT_THAT(err, HasSubstr("Cannot read"));
}

TEST_F(Morvane, ARunEndsCleanlyAfterItsWindowHasShown) {
    extraEnv.push_back("MORVANE_QUIT_ON_FIRST_PAINT=1");
    EXPECT_EQ(run({}), 0);
    writeFile(dir / "d.txt", "text\n");
    EXPECT_EQ(run({(dir / "d.txt").string()}), 0); // with a document open
}

// "Ready" means the documents are loaded, also a file that loads in several slices.
TEST_F(Morvane, QuitWhenReadyWaitsForTheLoadsToEnd) {
    extraEnv.push_back("MORVANE_QUIT_WHEN_READY=1");
    std::string text;
    while (text.size() < 20'000'000)
        text += "a line of a log that takes several slices to load\n";
    writeFile(dir / "big.log", text);
    EXPECT_EQ(run({(dir / "big.log").string()}), 0);
    const std::string trace = readFile(this->trace());
    const auto loading = trace.find(" loading big.log");
    const auto loaded = trace.find(" loaded big.log");
    ASSERT_NE(loading, std::string::npos) << trace;
    ASSERT_NE(loaded, std::string::npos) << trace;
    EXPECT_LT(loading, loaded);
}

TEST_F(Morvane, FirstStartCreatesTheSettingsAndSeedsTheProgramFolder) {
    startFirst();
    EXPECT_THAT(userHive(), HasSubstr("\"Show toolbar\"=\"True\""));
    EXPECT_THAT(readFile(dir / "cfg" / "machine.reg"),
                HasSubstr("[HKEY_LOCAL_MACHINE\\Software\\Orvandel\\Morvane\\2.1]"));
    EXPECT_TRUE(std::filesystem::exists(dir / "home" / "filetypes.txt"));
    EXPECT_TRUE(std::filesystem::exists(dir / "home" / "Weblinks" / "Perl weblinks.txt"));
}

TEST_F(Morvane, RelativePathsMeanTheWorkingFolderOfTheProcessThatWasGivenThem) {
    std::filesystem::create_directories(dir / "first");
    std::filesystem::create_directories(dir / "site");
    writeFile(dir / "first" / "a.txt", "a\n");
    writeFile(dir / "site" / "notes.txt", "n\n");
    cwd = dir / "first";
    pid_t first = startFirst({"a.txt"});
    EXPECT_TRUE(waitForTrace(first, "open " + (dir / "first" / "a.txt").string()));
    // A second start in another folder hands over the path as it meant it.
    cwd = dir / "site";
    EXPECT_EQ(run({"notes.txt", "MORVANE://site:notes.txt"}), 0);
    EXPECT_TRUE(waitForTrace(first, "open " + (dir / "site" / "notes.txt").string()));
    EXPECT_TRUE(waitForTrace(first, "open MORVANE://site:notes.txt"));
}

TEST_F(Morvane, ASettingsFileTheUserCannotReadIsReportedAndKept) {
    MORVANE_NEEDS_ROOT("needs root to act as another user");
    // Everything is the user's except the settings file, left behind by a run as root.
    std::filesystem::create_directories(dir / "cfg");
    const std::string hive =
        "Windows Registry Editor Version 5.00\n\n"
        "[HKEY_CURRENT_USER\\Software\\Orvandel\\Morvane\\2.1\\Accounts\\Site]\n"
        "\"Host\"=\"ftp.example.org\"\n";
    writeFile(dir / "cfg" / "user.reg", hive);
    ::chmod((dir / "cfg" / "user.reg").c_str(), 0600);
    writeFile(dir / "export.reg", "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Orvandel\\"
                                  "Morvane\\2.1\\Settings]\r\n\"Wordwrap\"=\"True\"\r\n");
    ::chmod((dir / "export.reg").c_str(), 0644);
    morvane::testing::giveToNobody(dir / "cfg");
    morvane::testing::giveToNobody(dir.path());
    extraEnv.push_back("HOME=" + dir.path().string());
    asNobody = true;
    std::string err;
    EXPECT_EQ(run({"--import-settings", (dir / "export.reg").string()}, &err), 1);
    EXPECT_THAT(err, HasSubstr("cannot be read"));
    EXPECT_EQ(userHive(), hive);

    pid_t pid = start({});
    running_.push_back(pid);
    EXPECT_TRUE(waitForTrace(pid, "settings-problem")) << readFile(trace());
    ::kill(pid, SIGTERM); // the warning waits for an answer nobody gives offscreen
    EXPECT_EQ(userHive(), hive);
}

TEST_F(Morvane, ARuntimeFolderOfAnotherUserReceivesNothing) {
    MORVANE_NEEDS_ROOT("needs root to make files of another user");
    // Another user made the folder first, holds the lock and listens.
    std::filesystem::path run = dir / "run";
    std::filesystem::create_directories(run);
    ::chmod(run.c_str(), 0777);
    int lock = ::open((run / "morvane.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    ASSERT_GE(lock, 0);
    ASSERT_EQ(::flock(lock, LOCK_EX), 0);
    int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::string path = (run / "morvane.socket").string();
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    for (auto p : {run / "morvane.socket", run / "morvane.lock", run})
        ASSERT_EQ(::chown(p.c_str(), morvane::testing::kNobody, morvane::testing::kNobody), 0);

    writeFile(dir / "secret.txt", "s\n");
    pid_t pid = start({(dir / "secret.txt").string()}, (dir / "stderr").string());
    running_.push_back(pid);
    EXPECT_TRUE(waitForTrace(pid, "single-instance-failed")) << readFile(trace());
    pollfd p{listener, POLLIN, 0};
    EXPECT_EQ(::poll(&p, 1, 500), 0) << "a connection reached the other user's socket";
    EXPECT_THAT(readFile(dir / "stderr"), HasSubstr("belongs to another user"));
    ::close(listener);
    ::close(lock);
}

} // namespace

namespace {

TEST_F(Morvane, SetDemoAccountAddsOrUpdatesTheDemoAccountInTheStore) {
    std::string err;
    // "-": the password comes on standard input, out of the process list.
    input = dir / "password";
    writeFile(input, "pw1"); // as the demo writes it, without a line break
    ASSERT_EQ(run({"--set-demo-account", "127.0.0.1", "2121", "demo", "-", "/"}, &err), 0) << err;
    EXPECT_EQ(err, "");
    morvane::platform::Registry store(dir / "cfg");
    morvane::net::TAccount demo;
    ASSERT_TRUE(morvane::net::LoadAccount(store, "Demo", demo));
    EXPECT_EQ(demo.Hostname, "127.0.0.1");
    EXPECT_EQ(demo.Port, 2121);
    EXPECT_EQ(demo.Username, "demo");
    EXPECT_EQ(demo.Password, "pw1");
    EXPECT_EQ(demo.Directory, "/");

    EXPECT_TRUE(demo.PassiveMode);

    // A second demo on another port updates the same account. A password on the command line
    // still works, with a warning.
    input.clear();
    ASSERT_EQ(run({"--set-demo-account", "127.0.0.1", "40000", "demo", "pw2", "/site"}, &err), 0);
    EXPECT_THAT(err, HasSubstr("can be read by every user"));
    morvane::platform::Registry again(dir / "cfg");
    ASSERT_TRUE(morvane::net::LoadAccount(again, "Demo", demo));
    EXPECT_EQ(demo.Port, 40000);
    EXPECT_EQ(demo.Password, "pw2");
    EXPECT_EQ(morvane::net::AccountNames(again).size(), 1u);

    EXPECT_EQ(run({"--set-demo-account", "127.0.0.1", "0", "demo", "pw", "/"}, &err), 2);
    EXPECT_THAT(err, HasSubstr("not a port number"));
    EXPECT_EQ(run({"--set-demo-account", "127.0.0.1"}), 2);
    EXPECT_EQ(demo.Tls, morvane::net::TTlsMode::Plain);

    // The TLS demo is an account of its own that requires TLS.
    ASSERT_EQ(run({"--set-demo-account", "127.0.0.1", "40001", "demo", "pw3", "/", "--tls"}), 0);
    morvane::platform::Registry third(dir / "cfg");
    morvane::net::TAccount tls;
    ASSERT_TRUE(morvane::net::LoadAccount(third, "DemoTLS", tls));
    EXPECT_EQ(tls.Port, 40001);
    EXPECT_EQ(tls.Tls, morvane::net::TTlsMode::Require);
    ASSERT_TRUE(morvane::net::LoadAccount(third, "Demo", demo));
    EXPECT_EQ(demo.Port, 40000);
    EXPECT_EQ(run({"--set-demo-account", "127.0.0.1", "1", "demo", "pw", "/", "--other"}), 2);
}

TEST_F(Morvane, ABrowsingStartRunsItsOwnWindowBesideAFirstInstance) {
    pid_t first = startFirst();
    pid_t browsing = start({"--browse", "Nobody"});
    running_.push_back(browsing);
    // It does not hand over and exit: it comes up as a window of its own.
    EXPECT_TRUE(waitForTrace(browsing, "activated")) << readFile(trace());
    for (auto& e : traceOf(first))
        EXPECT_EQ(e.find("hand-over"), std::string::npos) << e;
}

} // namespace
