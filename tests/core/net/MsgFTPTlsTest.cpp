// The login's TLS steps against servers that refuse, lie or vanish: whatever happens, no user
// name or password leaves in clear text unless the user agreed, and nothing waits for ever.
// (Real TLS servers are in integration/TlsTest.cpp.)
#include "NetTestUtil.h"
#include "ScriptedFtpServer.h"

#include <algorithm>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace morvane::net;
using morvane::testing::FtpClientHarness;
using morvane::testing::RunUntil;
using morvane::testing::ScriptedFtpServer;
using Session = ScriptedFtpServer::Session;
using ::testing::HasSubstr;

namespace {

bool LoginSent(const ScriptedFtpServer& server) {
    auto c = server.commands();
    return std::any_of(c.begin(), c.end(), [](const std::string& line) {
        return line.rfind("USER", 0) == 0 || line.rfind("PASS", 0) == 0;
    });
}

bool Sent(const ScriptedFtpServer& server, const std::string& line) {
    auto c = server.commands();
    return std::find(c.begin(), c.end(), line) != c.end();
}

// Connects and waits for the login's end, successful or not.
bool LoginEnds(FtpClientHarness& h, int port, TTlsMode mode, int millis = 5000) {
    h.ftp.SetTlsMode(mode);
    h.ftp.SetHostname("127.0.0.1");
    h.ftp.SetPort(port);
    h.ftp.SetUsername("user");
    h.ftp.SetPassword("secret");
    h.ftp.Connect();
    return RunUntil(
        *h.loop, [&] { return !h.ev.connects.empty() || !h.ev.done.empty(); }, millis);
}

} // namespace

TEST(FtpTls, PlainAccountsNeverAskForTls) {
    ScriptedFtpServer server;
    server.start();
    FtpClientHarness h;
    ASSERT_TRUE(LoginEnds(h, server.port(), TTlsMode::Plain));
    EXPECT_EQ(h.ev.connects, std::vector<int>{0});
    EXPECT_FALSE(Sent(server, "AUTH TLS"));
    EXPECT_FALSE(h.ftp.Secure());
}

TEST(FtpTls, RequiredTlsAgainstAServerWithoutItFailsBeforeTheLogin) {
    ScriptedFtpServer server;
    server.replies["AUTH"] = "502 Command not implemented\r\n";
    server.start();
    FtpClientHarness h;
    bool asked = false;
    h.ftp.OnClearTextQuestion = [&](TMsgFTP*) { return asked = true; };
    ASSERT_TRUE(LoginEnds(h, server.port(), TTlsMode::Require));
    EXPECT_EQ(h.ev.connects, std::vector<int>{1});
    EXPECT_THAT(h.ftp.ErrorMessage(), HasSubstr("does not offer TLS"));
    EXPECT_FALSE(asked);
    EXPECT_TRUE(Sent(server, "AUTH TLS"));
    EXPECT_FALSE(LoginSent(server));
}

TEST(FtpTls, TlsIfAvailableAsksBeforeTheUserNameAndFollowsTheAnswer) {
    for (bool agree : {false, true}) {
        SCOPED_TRACE(agree ? "continue" : "cancel");
        ScriptedFtpServer server;
        server.replies["AUTH"] = "500 AUTH not understood\r\n";
        server.start();
        FtpClientHarness h;
        int asked = 0;
        bool loginBeforeAnswer = true;
        h.ftp.OnClearTextQuestion = [&](TMsgFTP*) {
            ++asked;
            loginBeforeAnswer = LoginSent(server);
            return agree;
        };
        ASSERT_TRUE(LoginEnds(h, server.port(), TTlsMode::Try));
        EXPECT_EQ(asked, 1);
        EXPECT_FALSE(loginBeforeAnswer);
        EXPECT_EQ(h.ev.connects, std::vector<int>{agree ? 0 : 1});
        EXPECT_EQ(LoginSent(server), agree);
        if (!agree) {
            EXPECT_THAT(h.ftp.ErrorMessage(), HasSubstr("clear text"));
        }
        EXPECT_FALSE(h.ftp.Secure());
    }
}

TEST(FtpTls, TheQuestionStopsTheReplyTimeout) {
    ScriptedFtpServer server;
    server.replies["AUTH"] = "502 no\r\n";
    server.start();
    FtpClientHarness h;
    h.ftp.SetReplyTimeout(std::chrono::milliseconds(100));
    h.ftp.OnClearTextQuestion = [&](TMsgFTP*) {
        // The user takes longer to answer than the server may take to reply.
        morvane::testing::RunFor(*h.loop, 400);
        return true;
    };
    ASSERT_TRUE(LoginEnds(h, server.port(), TTlsMode::Try));
    EXPECT_EQ(h.ev.connects, std::vector<int>{0}) << h.ftp.ErrorMessage();
}

TEST(FtpTls, PlainTextAfterAgreeingToTlsEndsTheLogin) {
    // Right behind the reply, or a moment later, when the handshake has begun.
    for (int pause : {0, 200}) {
        SCOPED_TRACE(pause);
        ScriptedFtpServer server;
        server.handlers["AUTH"] = [pause](Session& s, const std::string&) {
            if (pause == 0) return s.send("234 Go ahead\r\n220 surprise, still plain\r\n");
            s.send("234 Go ahead\r\n");
            s.stall(pause);
            s.send("220 surprise, still plain\r\n");
        };
        server.start();
        FtpClientHarness h;
        ASSERT_TRUE(LoginEnds(h, server.port(), TTlsMode::Require));
        EXPECT_FALSE(h.ev.connects.empty() && h.ev.done.empty());
        EXPECT_TRUE(h.ev.connects.empty() || h.ev.connects.back() == 1);
        EXPECT_THAT(h.ftp.ErrorMessage(), HasSubstr("login was not sent"));
        EXPECT_THAT(h.ftp.ErrorMessage(), pause == 0 ? HasSubstr("plain text") : HasSubstr("TLS"));
        EXPECT_FALSE(LoginSent(server));
    }
}

TEST(FtpTls, AHandshakeThatNeverEndsTimesOut) {
    ScriptedFtpServer server;
    server.handlers["AUTH"] = [](Session& s, const std::string&) {
        s.send("234 Go ahead\r\n"); // and then nothing: the client's hello is never answered
    };
    server.start();
    FtpClientHarness h;
    h.ftp.SetReplyTimeout(std::chrono::milliseconds(300));
    ASSERT_TRUE(LoginEnds(h, server.port(), TTlsMode::Try));
    EXPECT_THAT(h.ftp.ErrorMessage(), HasSubstr("TLS negotiation did not finish"));
    EXPECT_FALSE(h.ftp.Connected());
    EXPECT_FALSE(LoginSent(server));
}

TEST(FtpTls, AServerThatHangsUpAroundAuthGetsNoLogin) {
    for (bool agreeFirst : {false, true}) {
        SCOPED_TRACE(agreeFirst ? "after 234" : "instead of a reply");
        ScriptedFtpServer server;
        server.handlers["AUTH"] = [agreeFirst](Session& s, const std::string&) {
            if (agreeFirst) s.send("234 Go ahead\r\n");
            s.close();
        };
        server.start();
        FtpClientHarness h;
        bool asked = false;
        h.ftp.OnClearTextQuestion = [&](TMsgFTP*) { return asked = true; };
        ASSERT_TRUE(LoginEnds(h, server.port(), TTlsMode::Try));
        EXPECT_FALSE(asked);
        EXPECT_THAT(h.ftp.ErrorMessage(), HasSubstr("login was not sent"));
        EXPECT_FALSE(LoginSent(server));
        EXPECT_TRUE(RunUntil(*h.loop, [&] { return !h.ftp.Connected(); }));
    }
}

TEST(FtpTls, FingerprintsAreComparedWhateverTheirSpelling) {
    std::string hex(64, 'a');
    std::string colons;
    for (std::size_t i = 0; i < hex.size(); i += 2)
        colons += (i ? ":" : "") + hex.substr(i, 2);
    EXPECT_EQ(NormalizeFingerprint(colons), std::string(64, 'A'));
    EXPECT_EQ(NormalizeFingerprint("sha256//" + hex), std::string(64, 'A'));
    EXPECT_EQ(NormalizeFingerprint(hex.substr(2)), "");       // too short
    EXPECT_EQ(NormalizeFingerprint(hex.substr(1) + "g"), ""); // not hex
}
