// FTP over TLS against real servers on loopback, with certificates the test makes: vsftpd
// (which insists that data connections resume the control connection's session) and
// pyftpdlib's TLS handler.
#include "FtpServers.h"
#include "NetTestUtil.h"
#include "TestCertificates.h"
#include "support/TempDir.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace morvane::net;
using namespace morvane::testing;
using ::testing::HasSubstr;
namespace fs = std::filesystem;

namespace {

std::string SomeBytes(std::size_t n) {
    std::string s(n, '\0');
    std::uint32_t x = 12345;
    for (auto& c : s) {
        x = x * 1103515245 + 12345;
        c = char(x >> 24);
    }
    return s;
}

std::string ReadAll(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

bool Logged(const TMsgFTP& ftp, const std::string& part) {
    const auto& log = ftp.CommandLog();
    return std::any_of(log.begin(), log.end(),
                       [&](const std::string& l) { return l.find(part) != std::string::npos; });
}

// Starts the login and waits for its end.
void LoginEnds(FtpClientHarness& h, const FtpServerProcess& server, const fs::path& caFile) {
    h.ftp.SetTlsMode(TTlsMode::Require);
    h.ftp.SetTlsCaFile(caFile.string());
    h.ftp.SetHostname("127.0.0.1");
    h.ftp.SetPort(server.port());
    h.ftp.SetUsername(server.user());
    h.ftp.SetPassword(server.password());
    h.ftp.Connect();
    ASSERT_TRUE(RunUntil(
        *h.loop, [&] { return !h.ev.connects.empty() || !h.ev.done.empty(); }, 15000));
    h.doneSeen = h.ev.done.size();
}

void Expect(FtpClientHarness& h, TFTPState state, const FtpServerProcess& server) {
    bool done = h.waitDone(20000);
    std::string log;
    for (auto& l : h.ftp.CommandLog())
        log += l + "\n";
    ASSERT_TRUE(done) << server.output() << log;
    EXPECT_EQ(h.lastDone().state, state);
    ASSERT_FALSE(h.lastDone().error) << h.ftp.ErrorMessage() << "\n" << server.output() << log;
}

class TlsServer : public ::testing::TestWithParam<ServerKind> {
protected:
    void SetUp() override {
        certs = std::make_unique<TestCertificates>(dir.path());
        server = std::make_unique<FtpServerProcess>(GetParam(), "", "127.0.0.1",
                                                    certs->issue("server").string());
        ASSERT_EQ(server->error(), "");
    }
    TempDir dir;
    std::unique_ptr<TestCertificates> certs;
    std::unique_ptr<FtpServerProcess> server;
};

} // namespace

TEST_P(TlsServer, ATrustedServerMovesEveryByteBothWaysOverTls) {
    FtpClientHarness h;
    int asked = 0;
    h.ftp.OnCertificateQuestion = [&](TMsgFTP*, const TTlsCertificate&) { return ++asked, false; };
    LoginEnds(h, *server, certs->caFile());
    ASSERT_EQ(h.ev.connects, std::vector<int>{0}) << h.ftp.ErrorMessage();
    EXPECT_EQ(asked, 0);
    EXPECT_TRUE(h.ftp.Secure());
    EXPECT_TRUE(h.ftp.DataProtected());
    EXPECT_EQ(h.ftp.ServerCertificate().Problem, "");
    h.ftp.SetTransferType("I");
    Expect(h, ftpSettingType, *server);

    // Several records' worth, not a multiple of any buffer size.
    std::string up = SomeBytes((3 << 20) + 12345);
    h.ftp.StoreFromBuffer("up.bin", up);
    Expect(h, ftpStoring, *server);
    EXPECT_TRUE(ReadAll(server->root() / "up.bin") == up);

    std::string down = SomeBytes((2 << 20) + 777);
    std::reverse(down.begin(), down.end());
    { std::ofstream(server->root() / "down.bin", std::ios::binary) << down; }
    std::string got;
    h.ftp.RetrieveToString("down.bin", got);
    Expect(h, ftpRetrieving, *server);
    EXPECT_TRUE(got == down) << got.size() << " of " << down.size() << " bytes";

    h.ftp.ListDirectory();
    Expect(h, ftpListing, *server);
    auto names = std::count_if(h.ev.entries.begin(), h.ev.entries.end(),
                               [](auto& e) { return e.Name == "up.bin" || e.Name == "down.bin"; });
    EXPECT_EQ(names, 2);
    // vsftpd refuses data connections that do not resume the session, so this is proven
    // there by the transfers themselves.
    if (GetParam() == ServerKind::Vsftpd) {
        EXPECT_TRUE(Logged(h.ftp, "session resumed"));
    }
}

TEST_P(TlsServer, AnUntrustedCertificateIsRefusedWithoutConsentAndUsedWithIt) {
    for (bool consent : {false, true}) {
        SCOPED_TRACE(consent ? "connect anyway" : "cancel");
        FtpClientHarness h;
        std::vector<TTlsCertificate> shown;
        h.ftp.OnCertificateQuestion = [&](TMsgFTP*, const TTlsCertificate& c) {
            shown.push_back(c);
            return consent;
        };
        // Only the system's trust store, which has never heard of the test's authority.
        LoginEnds(h, *server, "");
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_THAT(shown[0].Subject, HasSubstr("CN = 127.0.0.1"));
        EXPECT_THAT(shown[0].Issuer, HasSubstr("Morvane test authority"));
        EXPECT_THAT(shown[0].NotAfter, HasSubstr("GMT"));
        EXPECT_EQ(shown[0].Fingerprint.size(), 95u);
        EXPECT_THAT(shown[0].Problem, HasSubstr("local issuer"));
        EXPECT_EQ(Logged(h.ftp, "-> USER"), consent);
        if (!consent) {
            EXPECT_EQ(h.ev.connects, std::vector<int>{1});
            EXPECT_THAT(h.ftp.ErrorMessage(), HasSubstr("certificate was not accepted"));
            continue;
        }
        ASSERT_EQ(h.ev.connects, std::vector<int>{0}) << h.ftp.ErrorMessage();
        h.ftp.SetTransferType("I");
        Expect(h, ftpSettingType, *server);
        std::string bytes = SomeBytes(100000);
        { std::ofstream(server->root() / "f.bin", std::ios::binary) << bytes; }
        std::string got;
        h.ftp.RetrieveToString("f.bin", got);
        Expect(h, ftpRetrieving, *server);
        EXPECT_TRUE(got == bytes);
    }
}

INSTANTIATE_TEST_SUITE_P(Servers, TlsServer,
                         ::testing::Values(ServerKind::Vsftpd, ServerKind::Pyftpdlib));

TEST(TlsCertificateProblems, ExpiredSelfSignedAndOtherHostsAreNamed) {
    TempDir dir;
    TestCertificates certs(dir.path());
    struct Case {
        const char* name;
        CertificateTraits traits;
        const char* problem;
    };
    CertificateTraits expired, selfSigned, otherHost;
    expired.validFromDays = -30;
    expired.validToDays = -1;
    selfSigned.selfSigned = true;
    otherHost.commonName = "ftp.example.org";
    otherHost.altNames = "DNS:ftp.example.org";
    for (const Case& c :
         {Case{"expired", expired, "expired"}, Case{"self-signed", selfSigned, "self-signed"},
          Case{"other-host", otherHost, "mismatch"}}) {
        SCOPED_TRACE(c.name);
        FtpServerProcess server(ServerKind::Pyftpdlib, "", "127.0.0.1",
                                certs.issue(c.name, c.traits).string());
        ASSERT_EQ(server.error(), "");
        FtpClientHarness h;
        std::string problem;
        h.ftp.OnCertificateQuestion = [&](TMsgFTP*, const TTlsCertificate& cert) {
            problem = cert.Problem;
            return false;
        };
        LoginEnds(h, server, certs.caFile());
        EXPECT_THAT(problem, HasSubstr(c.problem));
        EXPECT_EQ(h.ev.connects, std::vector<int>{1});
        EXPECT_FALSE(Logged(h.ftp, "-> USER"));
    }
}
