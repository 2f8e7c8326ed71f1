// The FTP client against real servers of the distribution, on loopback.
#include "FtpServers.h"
#include "NetTestUtil.h"

#include <algorithm>
#include <filesystem>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace morvane::net;
using namespace morvane::testing;
namespace fs = std::filesystem;

namespace {

std::string AllByteValues(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        s[i] = char((i + i / 256 * 7) & 255);
    return s;
}

class RealServer : public ::testing::TestWithParam<ServerKind> {
protected:
    void SetUp() override {
        server = std::make_unique<FtpServerProcess>(GetParam());
        ASSERT_EQ(server->error(), "");
    }
    // Connects and switches to binary type.
    void Login(FtpClientHarness& h) {
        h.ftp.SetHostname("127.0.0.1");
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
    void Expect(FtpClientHarness& h, TFTPState state, bool error = false, int millis = 10000) {
        ASSERT_TRUE(h.waitDone(millis));
        EXPECT_EQ(h.lastDone().state, state);
        ASSERT_EQ(h.lastDone().error, error) << h.ftp.ErrorMessage();
    }
    std::unique_ptr<FtpServerProcess> server;
};

} // namespace

TEST_P(RealServer, LoginSystemTypeAndDirectories) {
    FtpClientHarness h;
    Login(h);
    EXPECT_EQ(h.ftp.SystemType(), 1);
    EXPECT_EQ(h.ftp.PathSeparator(), '/');
    std::string home = h.ftp.CurrentDirectory();
    EXPECT_FALSE(home.empty());

    h.ftp.MakeDir("dir with blanks");
    Expect(h, ftpMakingDir);
    EXPECT_TRUE(fs::is_directory(server->root() / "dir with blanks"));
    h.ftp.ChangeDir("dir with blanks");
    Expect(h, ftpChangingDir);
    EXPECT_THAT(h.ftp.CurrentDirectory(), ::testing::EndsWith("/dir with blanks"));
    h.ftp.ChangeDirUp();
    Expect(h, ftpChangingDir);
    EXPECT_EQ(h.ftp.CurrentDirectory(), home);
    h.ftp.ChangeDir("no such dir");
    Expect(h, ftpChangingDir, true);
    EXPECT_THAT(h.ftp.ErrorMessage(), ::testing::StartsWith("Host replied (expected 250): 550"));
    h.ftp.RemoveDir("dir with blanks");
    Expect(h, ftpRemovingDir);
    EXPECT_FALSE(fs::exists(server->root() / "dir with blanks"));
}

TEST_P(RealServer, ListingWithBlanksLinksAndBrokenNames) {
    auto root = server->root();
    writeFile(root / "name with blanks.txt", "12345");
    fs::create_directory(root / "sub");
    fs::create_symlink("name with blanks.txt", root / "link");
    writeFile(root / "split\nname", "x");
    writeFile(root / "a -> b", "");
    FtpClientHarness h;
    Login(h);
    h.ftp.ListDirectory();
    Expect(h, ftpListing);
    std::map<std::string, TDirectoryEntry> byName;
    for (auto& e : h.ev.entries)
        byName[e.Name] = e;
    // Every name looked up must be there: operator[] would make up an empty entry.
    for (const char* name : {"name with blanks.txt", "sub", "link", "a -> b"})
        ASSERT_TRUE(byName.count(name)) << name;
    EXPECT_EQ(byName.at("name with blanks.txt").Size, 5);
    EXPECT_EQ(byName.at("name with blanks.txt").Kind, 0);
    EXPECT_EQ(byName.at("sub").Kind, 1);
    EXPECT_EQ(byName.at("link").Kind, 1);
    EXPECT_EQ(byName.at("a -> b").Kind, 0);
    // The name with a line break gives no entry at all, neither half of it.
    EXPECT_FALSE(byName.count("split"));
    EXPECT_FALSE(byName.count("name"));
    EXPECT_EQ(h.ev.entries.size(), 4u);
}

TEST_P(RealServer, RetrieveAndStoreTenMegabytesOfEveryByteValue) {
    std::string content = AllByteValues(10 << 20);
    writeFile(server->root() / "all.bin", content);
    FtpClientHarness h;
    Login(h);
    std::string text;
    h.ftp.RetrieveToString("all.bin", text);
    Expect(h, ftpRetrieving);
    EXPECT_EQ(text.size(), content.size());
    EXPECT_TRUE(text == content);

    h.ftp.StoreFromBuffer("copy.bin", content);
    Expect(h, ftpStoring);
    // The server may finish writing just after its reply.
    ASSERT_TRUE(RunUntil(*h.loop, [&] {
        return fs::exists(server->root() / "copy.bin") &&
               fs::file_size(server->root() / "copy.bin") == content.size();
    }));
    EXPECT_TRUE(readFile(server->root() / "copy.bin") == content);

    TempDir local;
    h.ftp.RetrieveToFile("copy.bin", (local / "back.bin").string());
    Expect(h, ftpRetrieving);
    EXPECT_TRUE(readFile(local / "back.bin") == content);
}

TEST_P(RealServer, DeleteRenameAndPermissions) {
    writeFile(server->root() / "old name.txt", "data");
    FtpClientHarness h;
    Login(h);
    h.ftp.RenameFile("old name.txt", "new name.txt");
    Expect(h, ftpRenamingTo);
    EXPECT_TRUE(fs::exists(server->root() / "new name.txt"));
    h.ftp.RenameFile("missing.txt", "x.txt");
    Expect(h, ftpRenamingFrom, true);

    h.ftp.SendCommand("SITE CHMOD 600 new name.txt");
    ASSERT_TRUE(RunUntil(*h.loop, [&] { return !h.ev.custom.empty(); }));
    if (GetParam() == ServerKind::Pyftpdlib) {
        EXPECT_EQ(h.ev.custom.back().first, 200) << h.ev.custom.back().second;
        struct stat st {};
        ASSERT_EQ(::stat((server->root() / "new name.txt").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
    } else {
        // Anonymous users may not change permissions here; the refusal comes through.
        EXPECT_EQ(h.ev.custom.back().first, 550) << h.ev.custom.back().second;
    }
    h.ftp.DeleteFile("new name.txt");
    Expect(h, ftpDeleting);
    EXPECT_FALSE(fs::exists(server->root() / "new name.txt"));
    h.ftp.DeleteFile("new name.txt");
    Expect(h, ftpDeleting, true);
}

TEST_P(RealServer, AbortInTheMiddleOfATransferThenReconnect) {
    writeFile(server->root() / "big.bin", AllByteValues(64 << 20));
    FtpClientHarness h;
    Login(h);
    std::string text;
    bool aborted = false;
    h.ftp.OnTransferProgress = [&](TMsgFTP* ftp, std::int64_t) {
        if (!aborted) {
            aborted = true;
            ftp->Abort();
        }
    };
    h.ftp.RetrieveToString("big.bin", text);
    Expect(h, ftpRetrieving, true);
    EXPECT_TRUE(aborted);
    EXPECT_TRUE(h.ftp.Aborted());
    EXPECT_EQ(h.ftp.State(), ftpNotConnected);
    EXPECT_LT(text.size(), std::size_t(64 << 20));
    RunFor(*h.loop, 200);
    EXPECT_EQ(h.ev.done.size(), h.doneSeen); // nothing more after the abort

    h.ftp.OnTransferProgress = nullptr;
    h.ev.connects.clear();
    Login(h);
    EXPECT_FALSE(h.ftp.Aborted());
    h.ftp.Noop();
    Expect(h, ftpNoop);
}

INSTANTIATE_TEST_SUITE_P(Servers, RealServer,
                         ::testing::Values(ServerKind::Pyftpdlib, ServerKind::Vsftpd),
                         [](const ::testing::TestParamInfo<ServerKind>& info) {
                             return info.param == ServerKind::Pyftpdlib ? "pyftpdlib" : "vsftpd";
                         });

TEST(RealNetwork, RefusedPortAndUnknownHost) {
    FtpClientHarness h;
    h.ftp.SetHostname("127.0.0.1");
    h.ftp.SetPort(FreeLoopbackPort());
    h.ftp.Connect();
    ASSERT_TRUE(RunUntil(*h.loop, [&] { return !h.ev.connects.empty(); }));
    EXPECT_EQ(h.ev.connects.back(), 1);
    EXPECT_EQ(h.ftp.ErrorMessage(), "Could not connect to host 127.0.0.1");

    FtpClientHarness u;
    u.ftp.SetHostname("host.that.does.not.exist.invalid");
    u.ftp.Connect();
    ASSERT_TRUE(RunUntil(
        *u.loop, [&] { return !u.ev.connects.empty(); }, 30000));
    EXPECT_EQ(u.ev.connects.back(), 1);
    EXPECT_THAT(
        u.ftp.ErrorMessage(),
        ::testing::StartsWith("Could not look up hostname: host.that.does.not.exist.invalid"));
}
