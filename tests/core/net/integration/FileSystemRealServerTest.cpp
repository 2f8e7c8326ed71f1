// The FTP file system against real servers of the distribution, on loopback: what the remote
// session relies on, with each server's own replies.
#include "FtpServers.h"
#include "NetTestUtil.h"

#include "core/net/FtpFileSystem.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <optional>
#include <sys/stat.h>

using namespace morvane::net;
using namespace morvane::testing;
namespace fs = std::filesystem;

namespace {

class RealFileSystem : public ::testing::TestWithParam<ServerKind> {
protected:
    void SetUp() override {
        server = std::make_unique<FtpServerProcess>(GetParam());
        ASSERT_EQ(server->error(), "");
        TRemoteLogin login;
        login.host = "127.0.0.1";
        login.port = server->port();
        login.user = server->user();
        login.password = server->password();
        ftp->SetLogin(login);
    }
    TRemoteResult wait(const std::function<void(TRemoteFileSystem::Done)>& op) {
        std::optional<TRemoteResult> r;
        op([&](const TRemoteResult& result) { r = result; });
        EXPECT_TRUE(RunUntil(
            *loop, [&] { return r.has_value(); }, 10000));
        return r.value_or(TRemoteResult::Fail(TRemoteError::Failed, "never ended"));
    }
    std::pair<TRemoteResult, TRemoteStat> stat(const std::string& name) {
        TRemoteStat st;
        auto r = wait([&](auto done) {
            ftp->Stat(name, {}, [&st, done](const TRemoteResult& r, const TRemoteStat& s) {
                st = s;
                done(r);
            });
        });
        return {r, st};
    }
    std::unique_ptr<FtpServerProcess> server;
    std::unique_ptr<morvane::platform::EventLoop> loop = morvane::platform::makePollEventLoop();
    std::unique_ptr<TFtpFileSystem> ftp = std::make_unique<TFtpFileSystem>(*loop);
};

} // namespace

// Uploads far bigger than the socket buffers, from memory and from a local file read as it
// goes: the server's copy is the same bytes.
TEST_P(RealFileSystem, BigUploadsFromMemoryAndFromAFileArriveWhole) {
    ASSERT_TRUE(wait([&](auto done) { ftp->Connect(done); }).ok());
    std::string bytes((24 << 20) + 777, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = char((i * 2654435761u) >> 13);
    auto readBack = [&](const std::string& name) {
        std::ifstream in(server->root() / name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    std::int64_t last = 0;
    auto progress = [&](std::int64_t n) {
        EXPECT_GE(n, last);
        last = n;
    };
    auto r = wait([&](auto done) { ftp->Write("mem.bin", bytes, progress, done); });
    ASSERT_TRUE(r.ok()) << r.message;
    EXPECT_EQ(last, std::int64_t(bytes.size()));
    EXPECT_TRUE(readBack("mem.bin") == bytes);

    fs::path local = server->root().parent_path() / "local-upload.bin";
    std::ofstream(local, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    last = 0;
    r = wait([&](auto done) { ftp->WriteFromFile("file.bin", local.string(), progress, done); });
    ASSERT_TRUE(r.ok()) << r.message;
    EXPECT_EQ(last, std::int64_t(bytes.size()));
    EXPECT_TRUE(readBack("file.bin") == bytes);
    fs::remove(local);

    r = wait([&](auto done) { ftp->WriteFromFile("x.bin", (local / "none").string(), {}, done); });
    EXPECT_FALSE(r.ok());
    EXPECT_NE(r.message.find("Cannot read local file"), std::string::npos) << r.message;
    EXPECT_TRUE(ftp->Connected());
}

TEST_P(RealFileSystem, WriteStatRenameReadChmodAndRemove) {
    ASSERT_TRUE(wait([&](auto done) { ftp->Connect(done); }).ok());
    std::string text("line one\r\nNUL \0 and \xff\n", 22);
    auto r = wait([&](auto done) { ftp->Write(".a.txt.tmp", text, nullptr, done); });
    ASSERT_TRUE(r.ok()) << r.message;
    auto [sr, st] = stat(".a.txt.tmp");
    ASSERT_TRUE(sr.ok()) << sr.message;
    EXPECT_EQ(st.size, std::int64_t(text.size()));
    EXPECT_EQ(st.kind, TRemoteKind::File);
    EXPECT_EQ(st.precision, TTimePrecision::Second);

    ASSERT_TRUE(wait([&](auto done) { ftp->Rename(".a.txt.tmp", "a.txt", done); }).ok());
    // A hidden name's entry may not show (vsftpd lists no dot files); a plain one's does.
    auto [nr, named] = stat("a.txt");
    ASSERT_TRUE(nr.ok()) << nr.message;
    EXPECT_EQ(named.kind, TRemoteKind::File);
    EXPECT_TRUE(named.mode.has_value());
    std::string back;
    r = wait([&](auto done) {
        ftp->Read(
            "a.txt", [&](std::string_view b) { back.append(b); }, done);
    });
    ASSERT_TRUE(r.ok()) << r.message;
    EXPECT_EQ(back, text);

    r = wait([&](auto done) { ftp->Chmod("a.txt", 0750, done); });
    if (GetParam() == ServerKind::Vsftpd) {
        // Its anonymous login may not change modes.
        EXPECT_EQ(r.error, TRemoteError::Permission) << r.message;
    } else {
        ASSERT_TRUE(r.ok()) << r.message;
        struct stat local {};
        ASSERT_EQ(::stat((server->root() / "a.txt").c_str(), &local), 0);
        EXPECT_EQ(local.st_mode & 0777, 0750u);
    }

    ASSERT_TRUE(wait([&](auto done) { ftp->Remove("a.txt", done); }).ok());
    auto [gone, _] = stat("a.txt");
    EXPECT_EQ(gone.error, TRemoteError::NotFound) << gone.message;
    r = wait([&](auto done) { ftp->Rename("a.txt", "b.txt", done); });
    EXPECT_EQ(r.error, TRemoteError::NotFound) << r.message;
    r = wait([&](auto done) { ftp->ChangeDirectory("no such folder", done); });
    EXPECT_FALSE(r.ok());
    EXPECT_TRUE(ftp->Connected());
}

INSTANTIATE_TEST_SUITE_P(Servers, RealFileSystem,
                         ::testing::Values(ServerKind::Pyftpdlib, ServerKind::Vsftpd));
