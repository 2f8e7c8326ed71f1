#include "core/app/UpdateCheck.h"
#include "core/app/AppRegistry.h"
#include "support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

using namespace morvane::app;
using morvane::platform::Hive;
using morvane::platform::Registry;
using morvane::platform::RegKey;
using morvane::testing::readFile;
using morvane::testing::TempDir;
using morvane::testing::writeFile;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

TEST(UpdateVersion, ShortFormAndDecimalOrder) {
    EXPECT_EQ(shortVersion("2.2.1.155"), "2.21");
    EXPECT_TRUE(versionNewer("2.3", "2.21"));  // 0.3 > 0.21
    EXPECT_TRUE(versionNewer("10.0", "2.21")); // a text comparison would say no
    EXPECT_TRUE(versionNewer("2.22", "2.21"));
    EXPECT_FALSE(versionNewer("2.21", "2.21"));
    EXPECT_FALSE(versionNewer("2.210", "2.21"));
    EXPECT_FALSE(versionNewer("2.2", "2.21"));
    EXPECT_FALSE(versionNewer("02.21", "2.21"));
    EXPECT_TRUE(versionNewer("2.21b", "2.21")); // not a number: byte order, longer is greater
}

TEST(UpdateReplyParser, VersionLinesStatusAndLineEnds) {
    auto r = parseUpdateReply("HTTP/1.0 200 OK\r\nServer: x\r\n\r\nNews\r\nVersion: 2.30 soon\r\n"
                              "Version:2.40 later\r\nVersion: 2.50\r\n Version: 2.60 indented\r\n"
                              "Version: 3.0 last");
    EXPECT_EQ(r.status, 200);
    EXPECT_TRUE(r.body);
    // A version with nothing after it announces nothing; a line must start with "Version:".
    EXPECT_THAT(r.versions, ElementsAre("2.30", "2.40", "", "3.0"));

    auto lf = parseUpdateReply("HTTP/1.1 404 Not Found\n\nVersion: 9.0 x\n");
    EXPECT_EQ(lf.status, 404);
    EXPECT_THAT(lf.versions, ElementsAre("9.0"));

    auto bare = parseUpdateReply("Version: 9.0 no headers at all\n");
    EXPECT_EQ(bare.status, 0);
    EXPECT_FALSE(bare.body);
    EXPECT_TRUE(bare.versions.empty());
    EXPECT_EQ(parseUpdateReply("").status, 0);
    EXPECT_EQ(parseUpdateReply("HTTP/1.0").status, 0);
    EXPECT_EQ(parseUpdateReply("HTTP/1.0 2x0 Odd\n\n").status, 0);
}

TEST(UpdateRequest, NamesTheProgramNotItsPathAndSendsTheHost) {
    EXPECT_EQ(updateRequest("news.example", 80, "/news.txt", "2.21"),
              "GET /news.txt HTTP/1.0\r\nHost: news.example\r\nReferer: Morvane\r\n"
              "User-agent: Morvane 2.21\r\n\r\n");
    EXPECT_THAT(updateRequest("::1", 8080, "/n", "2.21"), HasSubstr("Host: [::1]:8080\r\n"));
}

// The news server script, started for one test and killed after it.
class NewsServer {
public:
    explicit NewsServer(std::vector<std::string> args) {
        log_ = dir_ / "requests.log";
        std::vector<std::string> argv = {"python3", MORVANE_NEWS_SERVER, log_.string()};
        argv.insert(argv.end(), args.begin(), args.end());
        int out[2];
        if (::pipe(out) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], 1);
            ::close(out[0]);
            ::close(out[1]);
            std::vector<char*> a;
            for (auto& s : argv)
                a.push_back(s.data());
            a.push_back(nullptr);
            ::execvp("python3", a.data());
            ::_exit(127);
        }
        ::close(out[1]);
        std::string line;
        char c;
        while (line.find('\n') == std::string::npos && ::read(out[0], &c, 1) == 1)
            line.push_back(c);
        ::close(out[0]);
        port_ = std::atoi(line.c_str());
    }
    ~NewsServer() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    int port() const { return port_; }
    std::string requests() const { return readFile(log_); }
    int requestCount() const {
        std::string r = requests();
        int n = 0;
        for (std::size_t p = r.find("\n--\n"); p != std::string::npos; p = r.find("\n--\n", p + 1))
            ++n;
        return n;
    }
    const TempDir& dir() const { return dir_; }

private:
    TempDir dir_;
    std::filesystem::path log_;
    pid_t pid_ = -1;
    int port_ = 0;
};

struct UpdateFixture : ::testing::Test {
    TempDir dir;
    Registry registry{dir.path()};
    RegKey settings{registry, Hive::CurrentUser, kSettingsKey};
    std::unique_ptr<morvane::platform::EventLoop> loop = morvane::platform::makePollEventLoop();
    std::vector<std::string> asked;
    std::vector<std::string> opened;
    bool answer = true;
    std::string day = "2026-12-10";

    std::unique_ptr<TUpdateCheck> makeCheck(int port) {
        settings.writeString("Update server", "127.0.0.1");
        settings.writeString("Update server port", std::to_string(port));
        settings.writeString("Update server path", "/news.txt");
        auto check = std::make_unique<TUpdateCheck>(*loop, settings, "2.21");
        check->today = [this] { return day; };
        check->onAsk = [this](const std::string& v, const std::string& server) {
            asked.push_back(v + "@" + server);
            return answer;
        };
        check->onOpenHomePage = [this](const std::string& a) { opened.push_back(a); };
        check->setTimeout(std::chrono::milliseconds(3000));
        return check;
    }
    // Runs one check to its end; returns whether it completed, or nullopt when it did not start.
    std::optional<bool> run(TUpdateCheck& check) {
        std::optional<bool> result;
        check.onFinished = [&](bool completed) { result = completed; };
        if (!check.start()) return std::nullopt;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!result && std::chrono::steady_clock::now() < deadline)
            loop->processEvents(std::chrono::milliseconds(20));
        EXPECT_TRUE(result.has_value()) << "the check never ended";
        return result ? result : std::optional<bool>(false);
    }
};

TEST_F(UpdateFixture, OnceADayOneQuestionPerVersionAndTheRequestItSends) {
    TempDir site;
    writeFile(site / "news.txt", "Morvane news\nVersion: 2.30 is out\n");
    NewsServer files({"files", site.path().string()});
    ASSERT_GT(files.port(), 0);
    auto check = makeCheck(files.port());

    EXPECT_EQ(run(*check), true);
    EXPECT_THAT(asked, ElementsAre("2.30@127.0.0.1"));
    EXPECT_THAT(opened, ElementsAre(kUpdateHomePage));
    EXPECT_EQ(settings.readString("Acknowledged version"), "2.30");
    EXPECT_EQ(settings.readString("Last update check"), "2026-12-10");
    std::string request = files.requests();
    EXPECT_THAT(request, HasSubstr("GET /news.txt HTTP/1.0\r\n"));
    EXPECT_THAT(request, HasSubstr("Host: 127.0.0.1:" + std::to_string(files.port())));
    EXPECT_THAT(request, HasSubstr("Referer: Morvane\n"));

    // The same day: the server is not asked again.
    EXPECT_EQ(run(*check), std::nullopt);
    EXPECT_EQ(files.requestCount(), 1);
    // The next day it is, and the version already told of asks nothing, whatever the answer was.
    day = "2026-12-11";
    EXPECT_EQ(run(*check), true);
    EXPECT_EQ(files.requestCount(), 2);
    EXPECT_EQ(asked.size(), 1u);
    // Turned off, nothing is asked on any day.
    day = "2026-12-12";
    settings.writeString("Check for updates", "False");
    EXPECT_EQ(run(*check), std::nullopt);
    EXPECT_EQ(files.requestCount(), 2);
}

TEST_F(UpdateFixture, SeveralVersionLinesWithCrLfAskOnceForTheNewest) {
    TempDir files;
    writeFile(files / "reply", "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n"
                               "Version: 2.30 first\r\nVersion: 10.1 big step\r\n"
                               "Version: 2.40 second\r\nVersion: 2.10 older\r\n");
    NewsServer server({"raw", (files / "reply").string()});
    answer = false;
    auto check = makeCheck(server.port());
    EXPECT_EQ(run(*check), true);
    EXPECT_THAT(asked, ElementsAre("10.1@127.0.0.1"));
    EXPECT_TRUE(opened.empty());
    EXPECT_EQ(settings.readString("Acknowledged version"), "10.1");
}

TEST_F(UpdateFixture, RepliesThatAreNotNewsOnlyRecordTheDay) {
    TempDir files;
    struct Case {
        const char* reply;
        const char* why;
    } cases[] = {
        {"Version: 9.0 without any headers\n", "no status line or headers"},
        {"HTTP/1.0 404 Not Found\r\n\r\nVersion: 9.0 an error page\r\n", "not a 200"},
        {"HTTP/1.0 200 OK\r\n\r\nVersion: 9.0\r\n", "a version line without text after it"},
        {"HTTP/1.0 200 OK\r\n\r\n", "an empty body"},
        {"", "nothing at all"},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        writeFile(files / "reply", c.reply);
        NewsServer server({"raw", (files / "reply").string()});
        day = "2026-12-" + std::to_string(10 + n++);
        auto check = makeCheck(server.port());
        EXPECT_EQ(run(*check), true);
        EXPECT_TRUE(asked.empty());
        EXPECT_EQ(settings.readString("Last update check"), day);
    }
}

TEST_F(UpdateFixture, HugeAndEndlessRepliesAreCutAtTheCap) {
    for (const char* mode : {"big", "endless"}) {
        SCOPED_TRACE(mode);
        asked.clear();
        settings.writeString("Acknowledged version", "");
        settings.writeString("Last update check", "");
        NewsServer server({mode});
        auto check = makeCheck(server.port());
        EXPECT_EQ(run(*check), true);
        // The big reply's version line is in the first 64 KiB and is heard.
        if (std::string(mode) == "big") {
            EXPECT_THAT(asked, ElementsAre("9.9@127.0.0.1"));
        }
        EXPECT_EQ(settings.readString("Last update check"), day);
    }
}

TEST_F(UpdateFixture, SilentServerRefusedConnectionAndBadSettingsEndWithoutRecordingTheDay) {
    NewsServer silent({"silent"});
    auto check = makeCheck(silent.port());
    check->setTimeout(std::chrono::milliseconds(300));
    EXPECT_EQ(run(*check), false);
    EXPECT_EQ(silent.requestCount(), 1);
    EXPECT_EQ(settings.readString("Last update check"), "");

    int closedPort;
    {
        NewsServer gone({"silent"});
        closedPort = gone.port();
    }
    auto refused = makeCheck(closedPort);
    EXPECT_EQ(run(*refused), false);
    EXPECT_EQ(settings.readString("Last update check"), "");

    // A path that would add a header line, or a port out of range, is never sent.
    auto bad = makeCheck(silent.port());
    settings.writeString("Update server path", "/news.txt\r\nX-Evil: 1");
    EXPECT_EQ(run(*bad), std::nullopt);
    settings.writeString("Update server path", "/news.txt");
    settings.writeString("Update server port", "70000");
    EXPECT_EQ(run(*bad), std::nullopt);
    EXPECT_EQ(silent.requestCount(), 1);
}

TEST_F(UpdateFixture, DestroyedWhileRunningLeavesNothingBehind) {
    NewsServer silent({"silent"});
    auto check = makeCheck(silent.port());
    check->onFinished = [](bool) { FAIL() << "a destroyed check reported"; };
    ASSERT_TRUE(check->start());
    for (int i = 0; i < 20; ++i)
        loop->processEvents(std::chrono::milliseconds(10));
    check.reset();
    for (int i = 0; i < 20; ++i)
        loop->processEvents(std::chrono::milliseconds(10));
}

} // namespace
