// Servers that misbehave: endless lines, endless preliminary replies, silence. The client must
// keep its memory bounded and give up a silent server on its own.
#include "NetTestUtil.h"
#include "ScriptedFtpServer.h"
#include "support/TempDir.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace morvane::net;
using morvane::testing::FtpClientHarness;
using morvane::testing::RunFor;
using morvane::testing::RunUntil;
using morvane::testing::ScriptedFtpServer;
using Session = ScriptedFtpServer::Session;
using ::testing::HasSubstr;

namespace {

constexpr auto kShort = std::chrono::milliseconds(300);

bool Logged(const TMsgFTP& ftp, const std::string& part) {
    for (auto& l : ftp.CommandLog())
        if (l.find(part) != std::string::npos) return true;
    return false;
}

} // namespace

TEST(FtpServerFaults, AnEndlessListingLineIsSkippedAndHeldBytesStayBounded) {
    ScriptedFtpServer server;
    const std::size_t total = 32u << 20;
    server.handlers["LIST"] = [total](Session& s, const std::string&) {
        s.send("150 Opening\r\n");
        s.dataConnect();
        std::string block(1 << 20, 'x');
        for (std::size_t sent = 0; sent < total; sent += block.size())
            s.dataSend(block);
        s.dataSend("\r\n-rw-r--r-- 1 u g 5 Jan  1 12:00 after.txt\r\n");
        s.dataClose();
        s.send("226 Done\r\n");
    };
    server.start();
    FtpClientHarness h;
    ASSERT_TRUE(h.connect(server.port()));
    std::size_t most = 0;
    h.ftp.OnTransferProgress = [&](TMsgFTP* ftp, std::int64_t) {
        most = std::max(most, ftp->HeldBytes());
    };
    h.ftp.ListDirectory();
    ASSERT_TRUE(h.waitDone(30000));
    EXPECT_FALSE(h.lastDone().error) << h.ftp.ErrorMessage();
    ASSERT_EQ(h.ev.entries.size(), 1u);
    EXPECT_EQ(h.ev.entries[0].Name, "after.txt");
    EXPECT_TRUE(Logged(h.ftp, "Skipped a listing line longer than 65536 bytes"));
    // A line's worth plus what one read brings, however much the kernel has gathered.
    EXPECT_LE(most, std::size_t(1) << 20);
}

TEST(FtpServerFaults, AListingOverItsLimitFailsAndEndsTheSession) {
    ScriptedFtpServer server;
    for (int i = 0; i < 5000; ++i)
        server.listing +=
            "-rw-r--r-- 1 user group 1 Jan  1 12:00 file" + std::to_string(i) + "\r\n";
    server.start();
    FtpClientHarness h;
    ASSERT_TRUE(h.connect(server.port()));
    h.ftp.SetMaxListingSize(100000);
    h.ftp.ListDirectory();
    ASSERT_TRUE(h.waitDone());
    EXPECT_TRUE(h.lastDone().error);
    EXPECT_EQ(h.ftp.ErrorMessage(), "Directory listing too large: more than 100000 bytes");
    EXPECT_LT(h.ev.entries.size(), 5000u);
    ASSERT_TRUE(RunUntil(*h.loop, [&] { return h.ftp.State() == ftpNotConnected; }));

    // Within the limit the same listing is read whole.
    FtpClientHarness h2;
    ASSERT_TRUE(h2.connect(server.port()));
    h2.ftp.ListDirectory();
    ASSERT_TRUE(h2.waitDone());
    EXPECT_FALSE(h2.lastDone().error) << h2.ftp.ErrorMessage();
    EXPECT_EQ(h2.ev.entries.size(), 5000u);
}

TEST(FtpServerFaults, EndlessPreliminaryRepliesKeepTheLogBounded) {
    ScriptedFtpServer server;
    const int repeats = 300000;
    server.handlers["LIST"] = [repeats](Session& s, const std::string&) {
        std::string burst;
        for (int i = 0; i < 1000; ++i)
            burst += "150 Here it comes\r\n";
        for (int i = 0; i < repeats / 1000; ++i)
            s.send(burst);
        s.dataConnect();
        s.dataSend("-rw-r--r-- 1 u g 5 Jan  1 12:00 only.txt\r\n");
        s.dataClose();
        s.send("226 Done\r\n");
    };
    server.start();
    FtpClientHarness h;
    ASSERT_TRUE(h.connect(server.port()));
    std::size_t replies = 0, most = 0;
    h.ftp.OnDebug = [&](TMsgFTP* ftp, bool sent, const std::string&) {
        replies += sent ? 0 : 1;
        most = std::max(most, ftp->HeldBytes());
    };
    h.ftp.ListDirectory();
    ASSERT_TRUE(h.waitDone(60000));
    EXPECT_FALSE(h.lastDone().error) << h.ftp.ErrorMessage();
    EXPECT_EQ(h.ev.entries.size(), 1u);
    EXPECT_GE(replies, std::size_t(repeats));
    EXPECT_LE(h.ftp.CommandLog().size(), TMsgFTP::MaxLogLines);
    EXPECT_EQ(h.ftp.CommandLog().back(), "<- Transfer session closed");
    EXPECT_LE(most, TMsgFTP::MaxReplyBuffer);
}

TEST(FtpServerFaults, LongLogLinesAreCut) {
    ScriptedFtpServer server;
    server.replies["NOOP"] = "200 " + std::string(20000, 'y') + "\r\n";
    server.start();
    FtpClientHarness h;
    ASSERT_TRUE(h.connect(server.port()));
    h.ftp.Noop();
    ASSERT_TRUE(h.waitDone());
    EXPECT_FALSE(h.lastDone().error);
    EXPECT_EQ(h.ftp.CommandLog().back().size(), 3 + TMsgFTP::MaxLogLineLength + 3);
}

TEST(FtpServerFaults, ASilentServerIsGivenUpAtEveryStep) {
    struct Case {
        const char* what;
        std::function<void(ScriptedFtpServer&)> script;
        std::function<void(TMsgFTP&, std::string&)> run; // empty: the login is the step
        TFTPState state;
    };
    std::vector<Case> cases = {
        {"no greeting", [](ScriptedFtpServer& s) { s.greeting = ""; }, nullptr, ftpWaitGreeting},
        {"no answer to PASS",
         [](ScriptedFtpServer& s) { s.handlers["PASS"] = [](Session&, auto&) {}; }, nullptr,
         ftpSendingPassword},
        {"stall mid-listing",
         [](ScriptedFtpServer& s) {
             s.handlers["LIST"] = [](Session& ss, const std::string&) {
                 ss.send("150 Opening\r\n");
                 ss.dataConnect();
                 ss.dataSend("-rw-r--r-- 1 u g 5 Jan  1 12:00 first.txt\r\n-rw-r--r-- 1 u");
             };
         },
         [](TMsgFTP& f, std::string&) { f.ListDirectory(); }, ftpListing},
        {"226 without closing the data connection",
         [](ScriptedFtpServer& s) {
             s.handlers["RETR"] = [](Session& ss, const std::string&) {
                 ss.send("150 Opening\r\n");
                 ss.dataConnect();
                 ss.dataSend("all of it");
                 ss.send("226 Done\r\n");
             };
         },
         [](TMsgFTP& f, std::string& text) { f.RetrieveToString("f.txt", text); }, ftpRetrieving},
        {"no answer to a custom command",
         [](ScriptedFtpServer& s) { s.handlers["SITE"] = [](Session&, auto&) {}; },
         [](TMsgFTP& f, std::string&) { f.SendCommand("SITE CHMOD 644 a"); }, ftpCustomCommand},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedFtpServer server;
        c.script(server);
        server.start();
        FtpClientHarness h;
        h.ftp.SetReplyTimeout(kShort);
        std::string text;
        if (c.run) {
            ASSERT_TRUE(h.connect(server.port()));
            c.run(h.ftp, text);
        } else {
            EXPECT_FALSE(h.connect(server.port(), 100));
        }
        ASSERT_TRUE(h.waitDone(10000));
        EXPECT_EQ(h.lastDone().state, c.state);
        EXPECT_TRUE(h.lastDone().error);
        EXPECT_EQ(h.ftp.ErrorMessage(),
                  "The server did not answer in 300 milliseconds; the connection was closed.");
        EXPECT_EQ(h.ftp.State(), ftpNotConnected);
        EXPECT_FALSE(h.ftp.Connected());
        EXPECT_FALSE(h.ftp.Busy());
        RunFor(*h.loop, 2 * int(kShort.count()));
        EXPECT_EQ(h.ev.done.size(), 1u);
    }
}

TEST(FtpServerFaults, ADownloadCutByTheTimeoutLeavesTheOldFile) {
    morvane::testing::TempDir dir;
    std::string local = (dir.path() / "f.txt").string();
    std::ofstream(local) << "old contents";
    ScriptedFtpServer server;
    server.handlers["RETR"] = [](Session& s, const std::string&) {
        s.send("150 Opening\r\n");
        s.dataConnect();
        s.dataSend("new");
        s.send("226 Done\r\n");
    };
    server.start();
    FtpClientHarness h;
    h.ftp.SetReplyTimeout(kShort);
    ASSERT_TRUE(h.connect(server.port()));
    h.ftp.RetrieveToFile("f.txt", local);
    ASSERT_TRUE(h.waitDone(10000));
    EXPECT_TRUE(h.lastDone().error);
    std::ifstream in(local);
    std::string now((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(now, "old contents");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(FtpServerFaults, ASlowButLivelyServerIsNotCutAndAnIdleConnectionStays) {
    ScriptedFtpServer server;
    server.handlers["LIST"] = [](Session& s, const std::string&) {
        s.send("150 Opening\r\n");
        s.dataConnect();
        // Far longer in all than the timeout, never silent for long.
        for (int i = 0; i < 12; ++i) {
            s.dataSend("-rw-r--r-- 1 u g 5 Jan  1 12:00 f" + std::to_string(i) + "\r\n");
            s.stall(100);
        }
        s.dataClose();
        s.send("226 Done\r\n");
    };
    server.replies["SITE"] = "200 OK\r\n";
    server.start();
    FtpClientHarness h;
    h.ftp.SetReplyTimeout(std::chrono::milliseconds(800));
    ASSERT_TRUE(h.connect(server.port()));
    h.ftp.ListDirectory();
    ASSERT_TRUE(h.waitDone(10000));
    EXPECT_FALSE(h.lastDone().error) << h.ftp.ErrorMessage();
    EXPECT_EQ(h.ev.entries.size(), 12u);

    // Nothing is awaited between commands, nor once a custom command has its answer.
    h.ftp.SendCommand("SITE IDLE 1");
    ASSERT_TRUE(RunUntil(*h.loop, [&] { return !h.ev.custom.empty(); }));
    RunFor(*h.loop, 2000);
    EXPECT_TRUE(h.ftp.Connected());
    EXPECT_EQ(h.ev.done.size(), 1u);
}

TEST(FtpServerFaults, NewClientsTakeTheDefaultTimeout) {
    auto old = TMsgFTP::DefaultTimeout();
    EXPECT_EQ(old, TMsgFTP::DefaultReplyTimeout);
    TMsgFTP::SetDefaultTimeout(kShort);
    FtpClientHarness h;
    TMsgFTP::SetDefaultTimeout(old);
    EXPECT_EQ(h.ftp.ReplyTimeout(), kShort);
    FtpClientHarness h2;
    EXPECT_EQ(h2.ftp.ReplyTimeout(), old);
}
