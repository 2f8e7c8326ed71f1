#include "NetTestUtil.h"
#include "ScriptedFtpServer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace morvane::net;
using morvane::testing::FtpClientHarness;
using morvane::testing::RunFor;
using morvane::testing::RunUntil;
using morvane::testing::ScriptedFtpServer;
using Session = ScriptedFtpServer::Session;
using ::testing::ElementsAre;

namespace {

bool Logged(const TMsgFTP& ftp, const std::string& line) {
    for (auto& l : ftp.CommandLog())
        if (l == line) return true;
    return false;
}

} // namespace

TEST(FtpLogin, FullSequenceReportsStatesAndDirectory) {
    ScriptedFtpServer server;
    server.start();
    FtpClientHarness h;
    ASSERT_TRUE(h.connect(server.port()));
    EXPECT_THAT(server.commands(), ElementsAre("USER user", "PASS secret", "SYST", "PWD"));
    EXPECT_THAT(h.ev.states,
                ElementsAre(ftpResolving, ftpConnecting, ftpWaitGreeting, ftpSendingUser,
                            ftpSendingPassword, ftpSystemType, ftpGettingDir, ftpReady));
    EXPECT_EQ(h.ftp.CurrentDirectory(), "/home/user");
    EXPECT_EQ(h.ftp.SystemType(), 1);
    EXPECT_TRUE(h.ftp.UnixPaths());
    EXPECT_EQ(h.ftp.PathSeparator(), '/');
    EXPECT_TRUE(h.ftp.Connected());
    EXPECT_FALSE(h.ftp.Busy());
    EXPECT_TRUE(Logged(h.ftp, "-> USER user"));
    EXPECT_TRUE(Logged(h.ftp, "<- 220 scripted server ready"));
    EXPECT_EQ(FTPStatusText(ftpResolving, "h"), "Resalving host name 'h'");
}

TEST(FtpLogin, UserAnsweredWith230GoesOnWithoutPassword) {
    ScriptedFtpServer server;
    server.replies["USER"] = "230 No password needed\r\n";
    server.start();
    FtpClientHarness h;
    ASSERT_TRUE(h.connect(server.port()));
    EXPECT_THAT(server.commands(), ElementsAre("USER user", "SYST", "PWD"));
}

TEST(FtpLogin, RejectedPasswordFailsWithTheReplyAndStaysBusy) {
    ScriptedFtpServer server;
    server.replies["PASS"] = "530 Login incorrect.\r\n";
    server.start();
    FtpClientHarness h;
    EXPECT_FALSE(h.connect(server.port()));
    EXPECT_THAT(h.ev.connects, ElementsAre(1));
    EXPECT_EQ(h.ftp.ErrorMessage(), "Host replied 530 Login incorrect.");
    EXPECT_TRUE(h.ftp.Busy());
    h.ftp.Abort();
    EXPECT_FALSE(h.ftp.Busy());
    EXPECT_TRUE(h.ftp.Aborted());
    EXPECT_EQ(h.ftp.State(), ftpNotConnected);
}

TEST(FtpLogin, GreetingOtherThan220AndGarbageFail) {
    for (std::string greeting : {"421 Too many users\r\n", "\x01\xff garbage\r\n"}) {
        ScriptedFtpServer server;
        server.greeting = greeting;
        server.start();
        FtpClientHarness h;
        EXPECT_FALSE(h.connect(server.port()));
        EXPECT_EQ(h.ftp.ErrorMessage(), "Host replied " + greeting.substr(0, greeting.size() - 2));
    }
}

TEST(FtpLogin, SystemTypeFromSystReply) {
    struct Case {
        const char* reply;
        int type;
    } cases[] = {{"215 Windows_NT\r\n", 1},
                 {"215 OS/400 is the remote system\r\n", 2},
                 {"215 VMS system\r\n", 3},
                 {"500 SYST not understood\r\n", 1}};
    for (auto& c : cases) {
        ScriptedFtpServer server;
        server.replies["SYST"] = c.reply;
        server.start();
        FtpClientHarness h;
        ASSERT_TRUE(h.connect(server.port())) << c.reply;
        EXPECT_EQ(h.ftp.SystemType(), c.type) << c.reply;
        EXPECT_EQ(h.ftp.UnixPaths(), c.type == 1);
    }
}

TEST(FtpLogin, ConnectionRefusedAndUnknownHost) {
    int closedPort;
    {
        ScriptedFtpServer gone;
        closedPort = gone.port();
    }
    FtpClientHarness h;
    EXPECT_FALSE(h.connect(closedPort));
    EXPECT_EQ(h.ftp.ErrorMessage(), "Could not connect to host 127.0.0.1");
    ASSERT_TRUE(RunUntil(*h.loop, [&] { return h.ftp.State() == ftpNotConnected; }));
    EXPECT_FALSE(h.ftp.Busy());
    h.doneSeen = h.ev.done.size();
    h.ftp.Noop(); // no connection: fails from the loop and stays disconnected
    ASSERT_TRUE(h.waitDone());
    EXPECT_EQ(h.lastDone().state, ftpNoop);
    EXPECT_EQ(h.ftp.ErrorMessage(), "Not connected");
    EXPECT_EQ(h.ftp.State(), ftpNotConnected);

    FtpClientHarness u;
    u.ftp.SetHostname("no-such-host.invalid");
    u.ftp.Connect();
    ASSERT_TRUE(RunUntil(
        *u.loop, [&] { return !u.ev.connects.empty(); }, 20000));
    EXPECT_EQ(u.ev.connects.back(), 1);
    EXPECT_EQ(u.ftp.ErrorMessage().rfind("Could not look up hostname: no-such-host.invalid", 0),
              0u);
    EXPECT_FALSE(u.ftp.Busy());

    // An IPv6 literal is connected to like any other address.
    FtpClientHarness v6;
    v6.ftp.SetHostname("::1");
    v6.ftp.SetPort(closedPort);
    v6.ftp.Connect();
    ASSERT_TRUE(RunUntil(*v6.loop, [&] { return !v6.ev.connects.empty(); }));
    EXPECT_EQ(v6.ftp.ErrorMessage(), "Could not connect to host ::1");
}

TEST(FtpLogin, SilentServerWaitsForAbort) {
    ScriptedFtpServer server;
    server.greeting = "";
    server.start();
    FtpClientHarness h;
    EXPECT_FALSE(h.connect(server.port(), 300));
    EXPECT_EQ(h.ftp.State(), ftpWaitGreeting);
    h.ftp.Abort();
    ASSERT_EQ(h.ev.done.size(), 1u);
    EXPECT_EQ(h.ev.done[0].state, ftpWaitGreeting);
    EXPECT_TRUE(h.ev.done[0].error);
    EXPECT_EQ(h.ftp.State(), ftpNotConnected);
    EXPECT_FALSE(h.ftp.Connected());
    RunFor(*h.loop, 50);
    EXPECT_EQ(h.ev.done.size(), 1u); // reported once
}

// --- reply assembly ---

TEST(FtpReplies, MultiLineGreetingIsOneReply) {
    ScriptedFtpServer server;
    server.greeting = "220-Welcome\r\nfree text line\r\n220 ready\r\n";
    server.start();
    FtpClientHarness h;
    ASSERT_TRUE(h.connect(server.port()));
    EXPECT_TRUE(Logged(h.ftp, "<- 220-Welcome\nfree text line\n220 ready"));
    EXPECT_THAT(server.commands(), ElementsAre("USER user", "PASS secret", "SYST", "PWD"));
}

TEST(FtpReplies, RepliesSplitAcrossReadsAndSeveralInOneRead) {
    // A multi-line greeting without its last line is not a reply yet.
    ScriptedFtpServer split;
    split.greeting = "220-first\r\n220-second\r\n";
    split.handlers["USER"] = [](Session& s, const std::string&) { s.send("331 ok\r\n"); };
    split.start();
    FtpClientHarness g;
    g.ftp.SetHostname("127.0.0.1");
    g.ftp.SetPort(split.port());
    g.ftp.SetUsername("u");
    g.ftp.Connect();
    RunFor(*g.loop, 200);
    EXPECT_EQ(g.ftp.State(), ftpWaitGreeting); // incomplete multi-line reply waits
    EXPECT_TRUE(split.commands().empty());

    // Several replies in one read are all handled, in order.
    ScriptedFtpServer many;
    many.handlers["STAT"] = [](Session& s, const std::string&) {
        s.send("211-status\r\n line\r\n211 end\r\n200 second\r\n502 third\r\n");
    };
    many.start();
    FtpClientHarness m;
    ASSERT_TRUE(m.connect(many.port()));
    m.ftp.SendCommand("STAT");
    ASSERT_TRUE(RunUntil(*m.loop, [&] { return m.ev.custom.size() == 3; }));
    EXPECT_EQ(m.ev.custom[0], std::make_pair(211, std::string("211-status\n line\n211 end")));
    EXPECT_EQ(m.ev.custom[1], std::make_pair(200, std::string("200 second")));
    EXPECT_EQ(m.ev.custom[2], std::make_pair(502, std::string("502 third")));

    // A reply split in the middle of its code still arrives whole.
    ScriptedFtpServer slow;
    slow.handlers["USER"] = [](Session& s, const std::string&) {
        s.send("33");
        s.stall(30);
        s.send("1 Pass");
        s.stall(30);
        s.send("word please\r\n");
    };
    slow.start();
    FtpClientHarness sl;
    ASSERT_TRUE(sl.connect(slow.port()));
    EXPECT_TRUE(Logged(sl.ftp, "<- 331 Password please"));

    // A multi-line reply whose lines, the last one too, arrive in pieces.
    ScriptedFtpServer pieces;
    pieces.handlers["STAT"] = [](Session& s, const std::string&) {
        for (const char* piece : {"211-sta", "tus\r\n line\r\n21", "1 e", "nd\r\n"}) {
            s.send(piece);
            s.stall(30);
        }
    };
    pieces.start();
    FtpClientHarness p;
    ASSERT_TRUE(p.connect(pieces.port()));
    p.ftp.SendCommand("STAT");
    ASSERT_TRUE(RunUntil(*p.loop, [&] { return p.ev.custom.size() == 1; }));
    EXPECT_EQ(p.ev.custom[0], std::make_pair(211, std::string("211-status\n line\n211 end")));
}

TEST(FtpReplies, OverlongLineAndEndlessMultiLineReplyEndTheSession) {
    ScriptedFtpServer server;
    server.handlers["NOOP"] = [](Session& s, const std::string&) {
        s.send("200 " + std::string(1 << 20, 'x') + "\r\n");
    };
    server.start();
    FtpClientHarness h;
    ASSERT_TRUE(h.connect(server.port()));
    h.ftp.Noop();
    ASSERT_TRUE(h.waitDone());
    EXPECT_TRUE(h.lastDone().error);
    EXPECT_THAT(h.ftp.ErrorMessage(), ::testing::StartsWith("Host reply too long"));
    EXPECT_EQ(h.ftp.State(), ftpNotConnected);

    ScriptedFtpServer endless;
    endless.handlers["NOOP"] = [](Session& s, const std::string&) {
        s.send("200-start\r\n");
        for (int i = 0; i < 40000 && !s.closed; ++i)
            s.send(" still going on and on and on\r\n");
    };
    endless.start();
    FtpClientHarness e;
    ASSERT_TRUE(e.connect(endless.port()));
    e.ftp.Noop();
    ASSERT_TRUE(e.waitDone(10000));
    EXPECT_TRUE(e.lastDone().error);
    EXPECT_THAT(e.ftp.ErrorMessage(), ::testing::StartsWith("Host reply too long"));
}

// --- commands ---

TEST(FtpCommands, SuccessesReportTheirStates) {
    ScriptedFtpServer server;
    server.start();
    FtpClientHarness h;
    ASSERT_TRUE(h.connect(server.port()));
    server.setReply("PWD", "257 \"/home/user/sub\"\r\n");
    h.ftp.ChangeDir("sub dir");
    ASSERT_TRUE(h.waitDone());
    EXPECT_EQ(h.lastDone().state, ftpChangingDir);
    EXPECT_FALSE(h.lastDone().error);
    EXPECT_EQ(h.ftp.CurrentDirectory(), "/home/user/sub");
    h.ftp.ChangeDirUp();
    ASSERT_TRUE(h.waitDone());
    EXPECT_EQ(h.lastDone().state, ftpChangingDir); // CDUP reports as a directory change

    struct Step {
        std::function<void()> run;
        TFTPState state;
    } steps[] = {
        {[&] { h.ftp.SetTransferType("I"); }, ftpSettingType},
        {[&] { h.ftp.Noop(); }, ftpNoop},
        {[&] { h.ftp.DeleteFile("a b.txt"); }, ftpDeleting},
        {[&] { h.ftp.RemoveDir("old"); }, ftpRemovingDir},
        {[&] { h.ftp.MakeDir("new"); }, ftpMakingDir},
        {[&] { h.ftp.RenameFile("x", "y"); }, ftpRenamingTo},
        {[&] { h.ftp.SetUmask(22); }, ftpSettingUmask},
    };
    for (auto& step : steps) {
        step.run();
        ASSERT_TRUE(h.waitDone());
        EXPECT_EQ(h.lastDone().state, step.state);
        EXPECT_FALSE(h.lastDone().error) << h.ftp.ErrorMessage();
        EXPECT_EQ(h.ftp.State(), ftpReady);
    }
    auto cmds = server.commands();
    std::vector<std::string> tail(cmds.begin() + 4, cmds.end());
    EXPECT_THAT(tail,
                ElementsAre("CWD sub dir", "PWD", "CDUP", "PWD", "TYPE I", "NOOP", "DELE a b.txt",
                            "RMD old", "MKD new", "RNFR x", "RNTO y", "SITE UMASK 022"));
}

TEST(FtpCommands, FailuresCarryTheExactTexts) {
    ScriptedFtpServer server;
    server.start();
    FtpClientHarness h;
    ASSERT_TRUE(h.connect(server.port()));
    struct Step {
        const char* verb;
        std::function<void()> run;
        TFTPState state;
        const char* prefix;
    } steps[] = {
        {"CWD", [&] { h.ftp.ChangeDir("x"); }, ftpChangingDir, "Host replied (expected 250): "},
        {"CDUP", [&] { h.ftp.ChangeDirUp(); }, ftpChangingDirUp, "Host replied (expected 250): "},
        {"TYPE", [&] { h.ftp.SetTransferType("Q"); }, ftpSettingType,
         "Host replied (expected 200): "},
        {"DELE", [&] { h.ftp.DeleteFile("x"); }, ftpDeleting, "Host replied (expected 250): "},
        {"MKD", [&] { h.ftp.MakeDir("x"); }, ftpMakingDir, "Host replied (expected 257): "},
        {"RNFR", [&] { h.ftp.RenameFile("x", "y"); }, ftpRenamingFrom,
         "Host replied (expected 350): "},
        {"PORT", [&] { h.ftp.ListDirectory(); }, ftpListing, "Host replied (Expected 200): "},
        {"LIST", [&] { h.ftp.ListDirectory(); }, ftpListing, "Host replied (150, 226): "},
    };
    auto original = server.replies;
    for (auto& step : steps) {
        server.setReply(step.verb, "550 Nope\r\n");
        step.run();
        ASSERT_TRUE(h.waitDone()) << step.verb;
        EXPECT_EQ(h.lastDone().state, step.state) << step.verb;
        EXPECT_TRUE(h.lastDone().error);
        EXPECT_EQ(h.ftp.ErrorMessage(), std::string(step.prefix) + "550 Nope");
        EXPECT_FALSE(h.ftp.Busy());
        server.setReplies(original);
    }
    // RNTO refused after RNFR accepted reports as the second step.
    server.setReply("RNTO", "553 Not allowed\r\n");
    h.ftp.RenameFile("x", "y");
    ASSERT_TRUE(h.waitDone());
    EXPECT_EQ(h.lastDone().state, ftpRenamingTo);
    EXPECT_EQ(h.ftp.ErrorMessage(), "Host replied (expected 250): 553 Not allowed");

    // A directory change whose PWD fails still succeeds, with no current directory.
    server.setReply("PWD", "550 no\r\n");
    h.ftp.ChangeDir("y");
    ASSERT_TRUE(h.waitDone());
    EXPECT_FALSE(h.lastDone().error);
    EXPECT_EQ(h.ftp.CurrentDirectory(), "");
}

TEST(FtpCommands, LineBreaksInNamesAreNeverSent) {
    ScriptedFtpServer server;
    server.start();
    FtpClientHarness h;
    ASSERT_TRUE(h.connect(server.port()));
    std::string evil = "a\r\nDELE important";
    std::string text;
    std::vector<std::function<void()>> ops = {
        [&] { h.ftp.ChangeDir(evil); },
        [&] { h.ftp.DeleteFile(evil); },
        [&] { h.ftp.RenameFile("a", evil); },
        [&] { h.ftp.RenameFile(evil, "b"); },
        [&] { h.ftp.MakeDir("x\ny"); },
        [&] { h.ftp.RetrieveToString(evil, text); },
        [&] { h.ftp.SendCommand("NOOP\r\nDELE x"); },
    };
    for (auto& op : ops) {
        op();
        ASSERT_TRUE(h.waitDone());
        EXPECT_TRUE(h.lastDone().error);
        EXPECT_THAT(h.ftp.ErrorMessage(), ::testing::HasSubstr("CR or LF"));
        EXPECT_FALSE(h.ftp.Busy());
    }
    RunFor(*h.loop, 100);
    EXPECT_EQ(server.commands().size(), 4u); // only the login
}

TEST(FtpCommands, UnexpectedReplyInReadyIsLogged) {
    ScriptedFtpServer server;
    server.replies["PWD"] = "257 \"/\"\r\n226 stray\r\n";
    server.start();
    FtpClientHarness h;
    ASSERT_TRUE(h.connect(server.port()));
    ASSERT_TRUE(
        RunUntil(*h.loop, [&] { return Logged(h.ftp, "<- Unexpected command: 226 stray"); }));
}

TEST(FtpCommands, ServerClosingReportsTheCommandAndDisconnects) {
    ScriptedFtpServer server;
    server.handlers["NOOP"] = [](Session& s, const std::string&) {
        s.send("421 Service not available, closing\r\n");
        s.close();
    };
    server.start();
    FtpClientHarness h;
    ASSERT_TRUE(h.connect(server.port()));
    h.ftp.Noop();
    ASSERT_TRUE(h.waitDone());
    EXPECT_TRUE(h.lastDone().error);
    ASSERT_TRUE(RunUntil(*h.loop, [&] { return h.ftp.State() == ftpNotConnected; }));
    EXPECT_FALSE(h.ftp.Connected());
    EXPECT_TRUE(h.ftp.Aborted());
    // A new Connect clears Aborted and works again.
    ASSERT_TRUE(h.connect(server.port()));
    EXPECT_FALSE(h.ftp.Aborted());
}

TEST(FtpCommands, PortCommandNumbers) {
    EXPECT_EQ(PortCommand((192u << 24) | (168u << 16) | (1u << 8) | 5u, 1100),
              "PORT 192,168,1,5,4,76");
    EXPECT_EQ(PortCommand(0x7F000001u, 65535), "PORT 127,0,0,1,255,255");
}

TEST(FtpCommands, AConnectionTheServerEndsIsSaidSo) {
    // During the login.
    ScriptedFtpServer early;
    early.handlers["USER"] = [](Session& s, const std::string&) { s.close(); };
    early.start();
    FtpClientHarness login;
    EXPECT_FALSE(login.connect(early.port()));
    ASSERT_EQ(login.ev.done.size(), 1u);
    EXPECT_TRUE(login.ev.done[0].error);
    EXPECT_EQ(login.ftp.ErrorMessage(), "Connection closed by server");
    EXPECT_EQ(login.ftp.State(), ftpNotConnected);

    // After a command, with an older failure still in ErrorMessage.
    ScriptedFtpServer server;
    server.handlers["NOOP"] = [](Session& s, const std::string&) { s.close(); };
    server.replies["TYPE"] = "504 no\r\n";
    server.start();
    FtpClientHarness h;
    ASSERT_TRUE(h.connect(server.port()));
    h.ftp.SetTransferType("Q");
    ASSERT_TRUE(h.waitDone());
    EXPECT_EQ(h.ftp.ErrorMessage(), "Host replied (expected 200): 504 no");
    h.ftp.Noop();
    ASSERT_TRUE(h.waitDone());
    EXPECT_TRUE(h.lastDone().error);
    EXPECT_EQ(h.lastDone().state, ftpNoop);
    EXPECT_EQ(h.ftp.ErrorMessage(), "Connection closed by server");

    // Our own Disconnect is no failure of the server's.
    FtpClientHarness d;
    ASSERT_TRUE(d.connect(server.port()));
    d.ftp.SetTransferType("Q");
    ASSERT_TRUE(d.waitDone());
    d.ftp.Disconnect();
    EXPECT_EQ(d.ftp.State(), ftpNotConnected);
    EXPECT_EQ(d.ftp.ErrorMessage(), "Host replied (expected 200): 504 no");
}
