// Passive data connections and IPv6 against real servers of the distribution, on loopback.
#include "FtpServers.h"
#include "NetTestUtil.h"

#include <filesystem>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <tuple>

using namespace morvane::net;
using namespace morvane::testing;
namespace fs = std::filesystem;
using ::testing::HasSubstr;

namespace {

struct Setup {
    ServerKind kind;
    const char* host; // as typed in a host field
    bool passive;
};

void PrintTo(const Setup& s, std::ostream* os);

std::string Name(const Setup& s) {
    std::string name = s.kind == ServerKind::Pyftpdlib ? "pyftpdlib" : "vsftpd";
    name += std::string(s.host).find(':') != std::string::npos ? "_IPv6" : "_IPv4";
    return name + (s.passive ? "_passive" : "_active");
}

void PrintTo(const Setup& s, std::ostream* os) {
    *os << Name(s) << " on " << s.host;
}

class RealServerData : public ::testing::TestWithParam<Setup> {
protected:
    void SetUp() override {
        std::string host = GetParam().host;
        if (host.front() == '[') host = host.substr(1, host.size() - 2);
        server = std::make_unique<FtpServerProcess>(GetParam().kind, "", host);
        ASSERT_EQ(server->error(), "");
    }
    void Login(FtpClientHarness& h) {
        h.ftp.SetPassive(GetParam().passive);
        h.ftp.SetHostname(GetParam().host);
        h.ftp.SetPort(server->port());
        h.ftp.SetUsername(server->user());
        h.ftp.SetPassword(server->password());
        h.ftp.Connect();
        ASSERT_TRUE(RunUntil(
            *h.loop, [&] { return !h.ev.connects.empty(); }, 10000));
        ASSERT_EQ(h.ev.connects.back(), 0) << h.ftp.ErrorMessage();
        h.doneSeen = h.ev.done.size();
        h.ftp.SetTransferType("I");
        ASSERT_TRUE(h.waitDone());
        ASSERT_FALSE(h.lastDone().error) << h.ftp.ErrorMessage();
    }
    void Expect(FtpClientHarness& h, TFTPState state) {
        ASSERT_TRUE(h.waitDone(20000));
        EXPECT_EQ(h.lastDone().state, state);
        ASSERT_FALSE(h.lastDone().error) << h.ftp.ErrorMessage();
    }
    std::string Log(const FtpClientHarness& h) {
        std::string all;
        for (const auto& line : h.ftp.CommandLog())
            all += line + "\n";
        return all;
    }
    std::unique_ptr<FtpServerProcess> server;
};

// Every byte value at every position modulo 256, and not periodic in 256.
std::string AllByteValues(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        s[i] = char((i + i / 256 * 7) & 255);
    return s;
}

} // namespace

TEST_P(RealServerData, ListingAndByteExactTransfers) {
    std::string content = AllByteValues(3 << 20);
    writeFile(server->root() / "all bytes.bin", content);
    fs::create_directory(server->root() / "sub");
    FtpClientHarness h;
    Login(h);

    h.ftp.ListDirectory();
    Expect(h, ftpListing);
    std::vector<std::string> names;
    for (auto& e : h.ev.entries)
        names.push_back(e.Name);
    EXPECT_THAT(names, ::testing::UnorderedElementsAre("all bytes.bin", "sub"));

    std::string text;
    h.ftp.RetrieveToString("all bytes.bin", text);
    Expect(h, ftpRetrieving);
    EXPECT_TRUE(text == content) << "size " << text.size();

    h.ftp.StoreFromBuffer("copy.bin", content);
    Expect(h, ftpStoring);
    ASSERT_TRUE(RunUntil(*h.loop, [&] {
        return fs::exists(server->root() / "copy.bin") &&
               fs::file_size(server->root() / "copy.bin") == content.size();
    }));
    EXPECT_TRUE(readFile(server->root() / "copy.bin") == content);

    TempDir local;
    h.ftp.RetrieveToFile("copy.bin", (local / "back.bin").string());
    Expect(h, ftpRetrieving);
    EXPECT_TRUE(readFile(local / "back.bin") == content);

    // The data connections went the way that was asked for.
    std::string log = Log(h);
    bool v6 = std::string(GetParam().host).find(':') != std::string::npos;
    if (GetParam().passive) {
        EXPECT_THAT(log, HasSubstr("-> EPSV\n"));
        EXPECT_THAT(log, ::testing::Not(HasSubstr("-> PORT")));
    } else {
        EXPECT_THAT(log, HasSubstr(v6 ? "-> EPRT |2|::1|" : "-> PORT 127,0,0,1,"));
    }
    EXPECT_EQ(h.ftp.ConnectedAddress(), v6 ? "::1" : "127.0.0.1");
}

INSTANTIATE_TEST_SUITE_P(Servers, RealServerData,
                         ::testing::Values(Setup{ServerKind::Pyftpdlib, "127.0.0.1", true},
                                           Setup{ServerKind::Vsftpd, "127.0.0.1", true},
                                           Setup{ServerKind::Pyftpdlib, "[::1]", true},
                                           Setup{ServerKind::Vsftpd, "[::1]", true},
                                           Setup{ServerKind::Pyftpdlib, "::1", false},
                                           Setup{ServerKind::Vsftpd, "::1", false}),
                         [](const ::testing::TestParamInfo<Setup>& info) {
                             return Name(info.param);
                         });

// PASV where EPSV is refused: vsftpd can be told to refuse nothing, so the refusal is made with
// its command list, which leaves EPSV out.
TEST(RealServerPasv, VsftpdWithoutEpsvFallsBackToPasvOnce) {
    FtpServerProcess server(ServerKind::Vsftpd,
                            "cmds_allowed=USER,PASS,SYST,PWD,TYPE,PASV,LIST,RETR,STOR,QUIT\n");
    ASSERT_EQ(server.error(), "");
    std::string content = AllByteValues(1 << 20);
    writeFile(server.root() / "f.bin", content);
    FtpClientHarness h;
    h.ftp.SetPassive(true);
    h.ftp.SetHostname("127.0.0.1");
    h.ftp.SetPort(server.port());
    h.ftp.SetUsername(server.user());
    h.ftp.SetPassword(server.password());
    h.ftp.Connect();
    ASSERT_TRUE(RunUntil(
        *h.loop, [&] { return !h.ev.connects.empty(); }, 10000));
    ASSERT_EQ(h.ev.connects.back(), 0) << h.ftp.ErrorMessage();
    h.doneSeen = h.ev.done.size();
    for (int i = 0; i < 2; ++i) {
        std::string text;
        h.ftp.RetrieveToString("f.bin", text);
        ASSERT_TRUE(h.waitDone(20000));
        ASSERT_FALSE(h.lastDone().error) << h.ftp.ErrorMessage();
        EXPECT_TRUE(text == content);
    }
    std::string log;
    for (const auto& line : h.ftp.CommandLog())
        log += line + "\n";
    std::size_t epsv = 0, pasv = 0;
    for (std::size_t p = 0; (p = log.find("-> EPSV\n", p)) != std::string::npos; ++p)
        ++epsv;
    for (std::size_t p = 0; (p = log.find("-> PASV\n", p)) != std::string::npos; ++p)
        ++pasv;
    EXPECT_EQ(epsv, 1u);
    EXPECT_EQ(pasv, 2u);
}

// A refused STOR after the passive data connection opened leaves the session usable.
TEST(RealServerPasv, ARefusedStoreLeavesTheSessionUsable) {
    FtpServerProcess server(ServerKind::Vsftpd, "deny_file={*.tmp}\n");
    ASSERT_EQ(server.error(), "");
    FtpClientHarness h;
    h.ftp.SetPassive(true);
    h.ftp.SetHostname("127.0.0.1");
    h.ftp.SetPort(server.port());
    h.ftp.SetUsername(server.user());
    h.ftp.SetPassword(server.password());
    h.ftp.Connect();
    ASSERT_TRUE(RunUntil(
        *h.loop, [&] { return !h.ev.connects.empty(); }, 10000));
    ASSERT_EQ(h.ev.connects.back(), 0) << h.ftp.ErrorMessage();
    h.doneSeen = h.ev.done.size();
    std::string content = AllByteValues(100000);
    h.ftp.StoreFromBuffer("refused.tmp", content);
    ASSERT_TRUE(h.waitDone(10000));
    EXPECT_TRUE(h.lastDone().error);
    EXPECT_THAT(h.ftp.ErrorMessage(), HasSubstr("550"));
    h.ftp.StoreFromBuffer("taken.txt", content);
    ASSERT_TRUE(h.waitDone(10000));
    std::string log;
    for (const auto& line : h.ftp.CommandLog())
        log += line + "\n";
    ASSERT_FALSE(h.lastDone().error) << h.ftp.ErrorMessage() << "\n" << log;
    ASSERT_TRUE(RunUntil(*h.loop, [&] {
        return fs::exists(server.root() / "taken.txt") &&
               fs::file_size(server.root() / "taken.txt") == content.size();
    }));
}
