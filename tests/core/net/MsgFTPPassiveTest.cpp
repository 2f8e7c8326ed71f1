// Passive data connections (EPSV, PASV and what servers get wrong in them), IPv6 and the order
// in which a host's addresses are tried.
#include "NetTestUtil.h"
#include "ScriptedFtpServer.h"
#include "core/net/HostLookup.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace morvane::net;
using morvane::testing::FtpClientHarness;
using morvane::testing::RunUntil;
using morvane::testing::ScriptedFtpServer;
using Session = ScriptedFtpServer::Session;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

namespace {

// Every byte value, in an order that is not a simple ramp.
std::string AllBytes(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        s[i] = char((i * 131 + i / 256) & 255);
    return s;
}

int Count(const std::vector<std::string>& cmds, const std::string& verb) {
    return int(std::count(cmds.begin(), cmds.end(), verb));
}

std::string LogText(const TMsgFTP& ftp) {
    std::string all;
    for (const auto& line : ftp.CommandLog())
        all += line + "\n";
    return all;
}

// A PASV reply naming the given address and the session's real passive port.
ScriptedFtpServer::Handler PasvNaming(const std::string& commaAddress) {
    return [commaAddress](Session& s, const std::string&) {
        int port = s.openPassive();
        s.send("227 Entering Passive Mode (" + commaAddress + "," + std::to_string(port / 256) +
               "," + std::to_string(port % 256) + ")\r\n");
    };
}

// Connects in passive mode and checks that a listing, a download and an upload go through.
void ExpectTransfers(FtpClientHarness& h, ScriptedFtpServer& server) {
    h.ftp.ListDirectory();
    ASSERT_TRUE(h.waitDone());
    EXPECT_FALSE(h.lastDone().error) << h.ftp.ErrorMessage();
    ASSERT_EQ(h.ev.entries.size(), 1u);
    EXPECT_EQ(h.ev.entries[0].Name, "a file.txt");
    std::string text;
    h.ftp.RetrieveToString("data.bin", text);
    ASSERT_TRUE(h.waitDone());
    EXPECT_FALSE(h.lastDone().error) << h.ftp.ErrorMessage();
    EXPECT_TRUE(text == server.files["data.bin"]) << "size " << text.size();
    std::string up = AllBytes(700000);
    h.ftp.StoreFromBuffer("up.bin", up);
    ASSERT_TRUE(h.waitDone(10000));
    EXPECT_FALSE(h.lastDone().error) << h.ftp.ErrorMessage();
    EXPECT_TRUE(RunUntil(*h.loop, [&] { return server.stored("up.bin").size() == up.size(); }));
    EXPECT_TRUE(server.stored("up.bin") == up);
}

void Serve(ScriptedFtpServer& server) {
    server.listing = "-rw-r--r-- 1 ftp ftp 12 Jan  1 12:00 a file.txt\r\n";
    server.files["data.bin"] = AllBytes(1 << 20);
    server.start();
}

} // namespace

TEST(PassiveReplies, EpsvPortIsReadOnlyBetweenFourDelimiters) {
    EXPECT_EQ(ParseEpsvReply("229 Entering Extended Passive Mode (|||6446|)"), 6446);
    EXPECT_EQ(ParseEpsvReply("229 ok (!!!65535!)"), 65535);
    for (const char* bad :
         {"227 (1,2,3,4,5,6,7)", "229 Entering Extended Passive Mode 6446", "229 (6446)",
          "229 (||6446|)", "229 (|||6446)", "229 (|||6446|", "229 (|||0|)", "229 (|||65536|)",
          "229 (|||1234567|)", "229 (|||x|)", "229 (", "229 (|||", "229 (1116461)", "229 ( 6446 )"})
        EXPECT_EQ(ParseEpsvReply(bad), 0) << bad;
}

TEST(PassiveReplies, PasvNeedsSixNumbersOfAByte) {
    std::uint32_t a = 0;
    std::uint16_t p = 0;
    ASSERT_TRUE(ParsePasvReply("227 Entering Passive Mode (192,168,1,2,19,137)", a, p));
    EXPECT_EQ(a, 0xC0A80102u);
    EXPECT_EQ(p, 19 * 256 + 137);
    ASSERT_TRUE(ParsePasvReply("227 Entering Passive Mode 10,0,0,1,0,21.", a, p));
    EXPECT_EQ(a, 0x0A000001u);
    EXPECT_EQ(p, 21);
    for (const char* bad :
         {"227 (1,2,3,4,5,6,7)", "227 Entering Passive Mode", "227 Entering Passive Mode (garbage)",
          "227 (1,2,3,4,5)", "227 (1,2,3,4,5,)", "227 (256,0,0,1,4,1)", "227 (1,2,3,4,5,300)",
          "227 (1,2,3,4,5,6789)", "227 (0001,2,3,4,5,6)", "227 (1,,3,4,5,6)", "227 (-1,2,3,4,5,6)",
          "22"})
        EXPECT_FALSE(ParsePasvReply(bad, a, p)) << bad;
}

TEST(PassiveReplies, UnroutableAddressesAreTheNatsInsideOnes) {
    auto unroutable = [](const char* text) {
        sockaddr_storage s{};
        EXPECT_TRUE(ParseNumericAddress(text, s)) << text;
        return IsUnroutableAddress(s);
    };
    for (const char* inside :
         {"10.1.2.3", "172.16.0.1", "172.31.255.255", "192.168.0.10", "127.0.0.2", "0.0.0.0",
          "169.254.1.1", "100.64.0.1", "::1", "::", "fd00::1", "fe80::1", "::ffff:192.168.1.1"})
        EXPECT_TRUE(unroutable(inside)) << inside;
    for (const char* outside :
         {"8.8.8.8", "172.32.0.1", "198.51.100.7", "100.128.0.1", "2001:db8::1", "::ffff:8.8.8.8"})
        EXPECT_FALSE(unroutable(outside)) << outside;
}

TEST(FtpPassive, EpsvCarriesListingDownloadAndUploadByteExact) {
    ScriptedFtpServer server;
    Serve(server);
    FtpClientHarness h;
    h.ftp.SetPassive(true);
    ASSERT_TRUE(h.connect(server.port()));
    ExpectTransfers(h, server);
    auto cmds = server.commands();
    EXPECT_EQ(Count(cmds, "EPSV"), 3);
    EXPECT_EQ(Count(cmds, "PASV"), 0);
    for (const auto& c : cmds)
        EXPECT_THAT(c, Not(StartsWith("PORT")));
}

TEST(FtpPassive, RefusedOrUnreadableEpsvFallsBackToPasvForTheSession) {
    for (const char* epsv : {"500 EPSV not understood\r\n", "502 Not implemented\r\n",
                             "229 Entering Extended Passive Mode 6446\r\n"}) {
        ScriptedFtpServer server;
        server.replies["EPSV"] = epsv;
        Serve(server);
        FtpClientHarness h;
        h.ftp.SetPassive(true);
        ASSERT_TRUE(h.connect(server.port()));
        ExpectTransfers(h, server);
        auto cmds = server.commands();
        EXPECT_EQ(Count(cmds, "EPSV"), 1) << epsv; // asked once, remembered
        EXPECT_EQ(Count(cmds, "PASV"), 3) << epsv;

        // A new session asks again: the next server may know EPSV.
        h.ftp.Disconnect();
        ASSERT_TRUE(RunUntil(*h.loop, [&] { return h.ftp.State() == ftpNotConnected; }));
        h.ftp.Connect();
        ASSERT_TRUE(RunUntil(*h.loop, [&] { return h.ev.connects.size() == 2; }));
        h.doneSeen = h.ev.done.size();
        h.ftp.ListDirectory();
        ASSERT_TRUE(h.waitDone());
        EXPECT_EQ(Count(server.commands(), "EPSV"), 2) << epsv;
    }
}

TEST(FtpPassive, ABusyEpsvIsATemporaryFailureNotARefusal) {
    ScriptedFtpServer server;
    server.replies["EPSV"] = "425 Too many data connections\r\n";
    Serve(server);
    FtpClientHarness h;
    h.ftp.SetPassive(true);
    ASSERT_TRUE(h.connect(server.port()));
    h.ftp.ListDirectory();
    ASSERT_TRUE(h.waitDone());
    EXPECT_TRUE(h.lastDone().error);
    EXPECT_EQ(h.lastDone().state, ftpListing);
    EXPECT_EQ(h.ftp.ErrorMessage(), "Host replied (expected 229): 425 Too many data connections");
    EXPECT_EQ(Count(server.commands(), "PASV"), 0);
}

// Bad PASV replies fail the one command with a message that says what was wrong; the session
// stays usable.
TEST(FtpPassive, BadPasvRepliesFailTheCommandClearly) {
    struct Case {
        std::string reply, message;
    };
    for (const Case& c : std::vector<Case>{
             {"227 Entering Passive Mode (garbage)",
              "Could not read the address in the server's PASV reply: 227 Entering Passive "
              "Mode (garbage)"},
             {"227 Entering Passive Mode (127,0,0,1,300,1)", "Could not read the address"},
             {"227 Entering Passive Mode (127,0,0,1,0,0)",
              "The server named port 0 for the data connection: 227"},
             {"500 PASV refused", "Host replied (expected 227): 500 PASV refused"},
         }) {
        ScriptedFtpServer server;
        server.replies["EPSV"] = "500 no\r\n";
        server.replies["PASV"] = c.reply + "\r\n";
        Serve(server);
        FtpClientHarness h;
        h.ftp.SetPassive(true);
        ASSERT_TRUE(h.connect(server.port()));
        std::string text;
        h.ftp.RetrieveToString("data.bin", text);
        ASSERT_TRUE(h.waitDone()) << c.reply;
        EXPECT_TRUE(h.lastDone().error);
        EXPECT_EQ(h.lastDone().state, ftpRetrieving);
        EXPECT_THAT(h.ftp.ErrorMessage(), StartsWith(c.message));
        EXPECT_EQ(Count(server.commands(), "RETR data.bin"), 0);
        h.ftp.Noop();
        ASSERT_TRUE(h.waitDone());
        EXPECT_FALSE(h.lastDone().error) << c.reply;
    }
}

TEST(FtpPassive, AnInsideAddressOfABrokenNatGivesWayToTheServersOwn) {
    ScriptedFtpServer server;
    server.replies["EPSV"] = "502 no\r\n";
    server.handlers["PASV"] = PasvNaming("10,1,2,3");
    Serve(server);
    FtpClientHarness h;
    h.ftp.SetPassive(true);
    ASSERT_TRUE(h.connect(server.port()));
    ExpectTransfers(h, server);
    EXPECT_THAT(LogText(h.ftp), HasSubstr("The server named 10.1.2.3 for the data connection; "
                                          "using 127.0.0.1, the server's own address"));
}

TEST(FtpPassive, WithTheOptionEvenARoutableAddressGivesWayToTheServersOwn) {
    ScriptedFtpServer server;
    server.replies["EPSV"] = "502 no\r\n";
    server.handlers["PASV"] = PasvNaming("198,51,100,7");
    Serve(server);
    FtpClientHarness h;
    h.ftp.SetPassive(true);
    h.ftp.SetPassiveUsesServerAddress(true);
    ASSERT_TRUE(h.connect(server.port()));
    ExpectTransfers(h, server);
    EXPECT_THAT(LogText(h.ftp), HasSubstr("The server named 198.51.100.7"));
}

TEST(FtpPassive, ARefusedDataConnectionFailsTheCommandAndKeepsTheSession) {
    ScriptedFtpServer server;
    // A port that nobody listens on: taken from a passive port closed at once.
    server.handlers["EPSV"] = [](Session& s, const std::string&) {
        int port = s.openPassive();
        ::close(s.passiveFd);
        s.passiveFd = -1;
        s.send("229 Entering Extended Passive Mode (|||" + std::to_string(port) + "|)\r\n");
    };
    Serve(server);
    FtpClientHarness h;
    h.ftp.SetPassive(true);
    ASSERT_TRUE(h.connect(server.port()));
    h.ftp.ListDirectory();
    ASSERT_TRUE(h.waitDone());
    EXPECT_TRUE(h.lastDone().error);
    EXPECT_THAT(h.ftp.ErrorMessage(),
                StartsWith("Could not open the data connection to 127.0.0.1:"));
    EXPECT_EQ(Count(server.commands(), "LIST"), 0);
    EXPECT_TRUE(h.ftp.Connected());
    h.ftp.Noop();
    ASSERT_TRUE(h.waitDone());
    EXPECT_FALSE(h.lastDone().error);
}

// A server silent after EPSV, or after the data connection opened: the reply timeout ends the
// session; the loop runs all along (RunUntil turns it).
// In passive mode the data connection is open before STOR is sent: the bytes wait for the
// server's 150, so a refused upload has sent nothing (callers take that as a clean refusal).
TEST(FtpPassive, AnUploadWaitsForTheServersAcceptance) {
    ScriptedFtpServer server;
    std::atomic<bool> early{false};
    std::string received;
    server.handlers["STOR"] = [&](Session& s, const std::string& name) {
        if (name == "refused.txt") return s.send("553 Not allowed\r\n");
        s.dataConnect();
        pollfd p{s.dataFd, POLLIN, 0};
        early = ::poll(&p, 1, 300) > 0; // anything before the 150?
        s.send("150 Go ahead\r\n");
        received = s.dataReadAll();
        s.dataClose();
        s.send("226 Stored\r\n");
    };
    Serve(server);
    FtpClientHarness h;
    h.ftp.SetPassive(true);
    ASSERT_TRUE(h.connect(server.port()));
    std::string up = AllBytes(300000);
    h.ftp.StoreFromBuffer("refused.txt", up);
    ASSERT_TRUE(h.waitDone());
    EXPECT_TRUE(h.lastDone().error);
    EXPECT_EQ(h.ftp.ErrorMessage(), "Host replied: 553 Not allowed");
    EXPECT_EQ(h.ftp.ByteCount(), 0);
    EXPECT_TRUE(h.ev.progress.empty());

    h.ftp.StoreFromBuffer("taken.txt", up);
    ASSERT_TRUE(h.waitDone());
    EXPECT_FALSE(h.lastDone().error) << h.ftp.ErrorMessage();
    EXPECT_FALSE(early);
    EXPECT_TRUE(received == up) << received.size();
}

TEST(FtpPassive, SilenceAnywhereInTheSetupEndsWithTheTimeout) {
    for (bool afterConnect : {false, true}) {
        ScriptedFtpServer server;
        if (afterConnect) {
            server.handlers["RETR"] = [](Session& s, const std::string&) {
                s.dataConnect();
                s.stall(1500);
            };
        } else {
            server.handlers["EPSV"] = [](Session& s, const std::string&) { s.stall(1500); };
        }
        Serve(server);
        FtpClientHarness h;
        h.ftp.SetPassive(true);
        ASSERT_TRUE(h.connect(server.port()));
        h.ftp.SetReplyTimeout(std::chrono::milliseconds(300));
        std::string text;
        h.ftp.RetrieveToString("data.bin", text);
        ASSERT_TRUE(h.waitDone(5000));
        EXPECT_TRUE(h.lastDone().error);
        EXPECT_EQ(h.ftp.ErrorMessage(),
                  "The server did not answer in 300 milliseconds; the connection was closed.");
        EXPECT_TRUE(RunUntil(*h.loop, [&] { return h.ftp.State() == ftpNotConnected; }));
    }
}

TEST(FtpActive, StaysThePortCommandOverIPv4) {
    ScriptedFtpServer server;
    Serve(server);
    FtpClientHarness h;
    ASSERT_FALSE(h.ftp.Passive()); // a client on its own keeps what it always did
    ASSERT_TRUE(h.connect(server.port()));
    ExpectTransfers(h, server);
    auto cmds = server.commands();
    EXPECT_EQ(Count(cmds, "EPSV"), 0);
    EXPECT_THAT(cmds, Contains(StartsWith("PORT 127,0,0,1,")));
}

TEST(FtpLog, ThePasswordIsNeverLogged) {
    ScriptedFtpServer server;
    server.start();
    FtpClientHarness h;
    std::vector<std::string> debug;
    h.ftp.OnDebug = [&](TMsgFTP*, bool, const std::string& line) { debug.push_back(line); };
    ASSERT_TRUE(h.connect(server.port()));
    EXPECT_THAT(server.commands(), Contains("PASS secret")); // the server did get it
    EXPECT_THAT(LogText(h.ftp), HasSubstr("-> PASS ****\n"));
    EXPECT_THAT(LogText(h.ftp), Not(HasSubstr("secret")));
    EXPECT_THAT(debug, Contains("PASS ****"));
    for (const auto& line : debug)
        EXPECT_THAT(line, Not(HasSubstr("secret")));
}

TEST(FtpIPv6, BracketedLiteralWorksPassiveAndActive) {
    for (bool passive : {true, false}) {
        ScriptedFtpServer server("::1");
        Serve(server);
        FtpClientHarness h;
        h.ftp.SetPassive(passive);
        ASSERT_TRUE(h.connect(server.port(), 5000, "[::1]")) << h.ftp.ErrorMessage();
        EXPECT_EQ(h.ftp.ConnectedAddress(), "::1");
        ExpectTransfers(h, server);
        auto cmds = server.commands();
        if (passive)
            EXPECT_EQ(Count(cmds, "EPSV"), 3);
        else
            EXPECT_THAT(cmds, Contains(StartsWith("EPRT |2|::1|")));
    }
}

TEST(FtpIPv6, PasvOverIPv6UsesTheServersAddress) {
    ScriptedFtpServer server("::1");
    server.replies["EPSV"] = "500 no\r\n";
    Serve(server); // its PASV names 0,0,0,0
    FtpClientHarness h;
    h.ftp.SetPassive(true);
    ASSERT_TRUE(h.connect(server.port(), 5000, "::1"));
    ExpectTransfers(h, server);
}

TEST(HostAddresses, IPv4ComeFirstThenIPv6InTheResolversOrder) {
    EXPECT_EQ(IPv4First({"::1", "10.0.0.1", "2001:db8::1", "10.0.0.1", "127.0.0.1", "junk"}),
              (std::vector<std::string>{"10.0.0.1", "127.0.0.1", "::1", "2001:db8::1"}));
    HostLookupResult r = HostLookup::Resolve("localhost");
    ASSERT_EQ(r.error, 0);
    EXPECT_EQ(r.addrs.front(), "127.0.0.1");
    r = HostLookup::Resolve("[::1]");
    ASSERT_EQ(r.error, 0);
    EXPECT_EQ(r.addrs, std::vector<std::string>{"::1"});
}

// A host with both families: IPv4 is tried first, and when it refuses, IPv6.
TEST(HostAddresses, ARefusingIPv4AddressGivesWayToIPv6) {
    ScriptedFtpServer server("::1");
    Serve(server);
    HostLookup::SetResolverForTests([](const std::string& host) {
        HostLookupResult r;
        if (host == "both.test")
            r.addrs = {"127.0.0.1", "::1"};
        else
            r.error = 11001;
        return r;
    });
    FtpClientHarness h;
    h.ftp.SetPassive(true);
    bool ok = h.connect(server.port(), 5000, "both.test"); // nothing on 127.0.0.1 at that port
    HostLookup::SetResolverForTests(nullptr);
    ASSERT_TRUE(ok) << h.ftp.ErrorMessage();
    EXPECT_EQ(h.ftp.ConnectedAddress(), "::1");
    std::string log = LogText(h.ftp);
    EXPECT_THAT(log, HasSubstr("Connecting to 127.0.0.1 (IPv4)"));
    EXPECT_THAT(log, HasSubstr("Could not connect to 127.0.0.1: "));
    EXPECT_THAT(log, HasSubstr("Connecting to ::1 (IPv6)"));
    EXPECT_LT(log.find("(IPv4)"), log.find("(IPv6)"));
    h.ftp.ListDirectory();
    ASSERT_TRUE(h.waitDone());
    EXPECT_FALSE(h.lastDone().error) << h.ftp.ErrorMessage();
}

TEST(HostAddresses, WhenEveryAddressFailsTheConnectFailsOnce) {
    HostLookup::SetResolverForTests([](const std::string&) {
        HostLookupResult r;
        r.addrs = {"127.0.0.1", "::1"};
        return r;
    });
    int port;
    {
        ScriptedFtpServer gone; // its port, closed again, is refused on both families
        port = gone.port();
    }
    FtpClientHarness h;
    h.ftp.SetHostname("both.test");
    h.ftp.SetPort(port);
    h.ftp.Connect();
    bool done = RunUntil(
        *h.loop, [&] { return h.ftp.State() == ftpNotConnected && !h.ev.connects.empty(); });
    HostLookup::SetResolverForTests(nullptr);
    ASSERT_TRUE(done);
    EXPECT_EQ(h.ev.connects, std::vector<int>{1});
    EXPECT_EQ(h.ftp.ErrorMessage(), "Could not connect to host both.test");
    EXPECT_FALSE(h.ftp.Busy());
}

namespace {

// A listener on 127.0.0.2 at the given port that never accepts and never writes. With filled
// set, its one-place queue is taken by a connection of its own, so a further connect is never
// completed (the SYN is dropped); otherwise the connection is made and then nothing is said.
class SilentListener {
public:
    SilentListener(int port, bool filled) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(std::uint16_t(port));
        inet_pton(AF_INET, "127.0.0.2", &a.sin_addr);
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        int on = 1;
        setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        ok_ = bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
              listen(fd_, filled ? 0 : 8) == 0;
        if (ok_ && filled) {
            filler_ = socket(AF_INET, SOCK_STREAM, 0);
            ok_ = connect(filler_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        }
    }
    ~SilentListener() {
        if (filler_ >= 0) close(filler_);
        close(fd_);
    }
    bool ok() const { return ok_; }

private:
    int fd_ = -1;
    int filler_ = -1;
    bool ok_ = false;
};

void ExpectTheSecondAddressAfterTheSilentFirst(bool connectCompletes) {
    ScriptedFtpServer server;
    Serve(server);
    SilentListener silent(server.port(), !connectCompletes);
    ASSERT_TRUE(silent.ok()) << "127.0.0.2 cannot be listened on";
    HostLookup::SetResolverForTests([](const std::string& host) {
        HostLookupResult r;
        if (host == "two.test")
            r.addrs = {"127.0.0.2", "127.0.0.1"};
        else
            r.error = 11001;
        return r;
    });
    FtpClientHarness h;
    h.ftp.SetPassive(true);
    h.ftp.SetReplyTimeout(std::chrono::milliseconds(400));
    bool ok = h.connect(server.port(), 10000, "two.test");
    HostLookup::SetResolverForTests(nullptr);
    ASSERT_TRUE(ok) << h.ftp.ErrorMessage();
    EXPECT_EQ(h.ftp.ConnectedAddress(), "127.0.0.1");
    EXPECT_EQ(h.ev.connects, std::vector<int>{0}) << "one connect reported, the successful one";
    EXPECT_THAT(LogText(h.ftp),
                HasSubstr(connectCompletes ? "Could not connect to 127.0.0.2: no greeting in 400 "
                                             "milliseconds"
                                           : "Could not connect to 127.0.0.2: no answer in 400 "
                                             "milliseconds"));
    h.ftp.ListDirectory();
    ASSERT_TRUE(h.waitDone());
    EXPECT_FALSE(h.lastDone().error) << h.ftp.ErrorMessage();
    EXPECT_EQ(Count(server.commands(), "USER user"), 1)
        << "the login went to the second address only";
}

} // namespace

// A host whose first address stays silent: the client gives it the reply timeout and then
// connects to the next one, whether the silent one never completes the connection or takes it
// and never greets.
TEST(HostAddresses, ASilentFirstAddressGivesWayToTheNext) {
    {
        SCOPED_TRACE("the connection is never completed");
        ExpectTheSecondAddressAfterTheSilentFirst(false);
    }
    {
        SCOPED_TRACE("the connection is taken and no greeting comes");
        ExpectTheSecondAddressAfterTheSilentFirst(true);
    }
}
