// Mirroring against real servers on loopback (vsftpd and pyftpdlib through the connection pool,
// OpenSSH's SFTP directly): the local copy of a tree with a link loop, compared byte for byte.
#include "FtpServers.h"
#include "NetTestUtil.h"
#include "SshServer.h"
#include "support/SmallDisk.h"

#include "core/net/Account.h"
#include "core/net/ConnectionPool.h"
#include "core/net/FtpFileSystem.h"
#include "core/net/MirrorWalk.h"
#include "core/net/SftpFileSystem.h"

#include <filesystem>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <optional>
#include <set>
#include <unistd.h>

using namespace morvane::net;
using namespace morvane::testing;
namespace fs = std::filesystem;

namespace {

// Three levels, a file of every byte value, a name with blanks, an empty file, two links that
// lead back up (a loop a walk that follows links must end), a link to a folder copied already
// and a link to a file.
void BuildTree(const fs::path& top) {
    fs::path deep = top / "level one" / "level two" / "level three";
    fs::create_directories(deep);
    std::string every;
    for (int round = 0; round < 3; ++round)
        for (int b = 0; b < 256; ++b)
            every += char(b);
    writeFile(top / "all bytes.bin", every);
    writeFile(top / "level one" / "name with blanks.txt", "blanks\r\n");
    writeFile(top / "level one" / "level two" / "empty", "");
    writeFile(deep / "deepest.bin", every + "end");
    fs::create_directory_symlink("..", top / "level one" / "loop");
    fs::create_directory_symlink("../..", top / "level one" / "level two" / "to top");
    fs::create_directory_symlink("level three", top / "level one" / "level two" / "to three");
    fs::create_symlink("../all bytes.bin", top / "level one" / "link to bytes");
}

// Every regular file of the server's tree, and every link to one, is in the copy with the same
// bytes (links to folders are not followed), and the copy holds nothing else.
void ExpectSameTree(const fs::path& server, const fs::path& copy) {
    std::set<std::string> want, got;
    for (auto it = fs::recursive_directory_iterator(server);
         it != fs::recursive_directory_iterator(); ++it) {
        if (!it->is_regular_file() || (it->is_symlink() && fs::is_directory(it->path()))) continue;
        std::string rel = it->path().lexically_relative(server).string();
        want.insert(rel);
        EXPECT_EQ(readFile(copy / rel), readFile(it->path())) << rel;
    }
    for (auto it = fs::recursive_directory_iterator(copy); it != fs::recursive_directory_iterator();
         ++it) {
        EXPECT_FALSE(it->is_symlink()) << it->path();
        if (it->is_regular_file()) got.insert(it->path().lexically_relative(copy).string());
    }
    EXPECT_EQ(got, want);
}

struct MirrorRun {
    std::optional<std::string> message;
    TMirrorSummary summary;
    std::vector<std::string> notes, questions;
    std::int64_t lastProgress = -1;
};

void Mirror(morvane::platform::EventLoop& loop, TRemoteFileSystem& fs, const fs::path& local,
            MirrorRun& run) {
    TMirrorWalk walk(loop, fs);
    walk.events.note = [&](const std::string& l) { run.notes.push_back(l); };
    walk.events.askContinue = [&](const std::string& m) {
        run.questions.push_back(m);
        return true;
    };
    walk.events.progress = [&](std::int64_t b) { run.lastProgress = b; };
    walk.events.finished = [&](const TMirrorSummary& s, const std::string& m) {
        run.summary = s;
        run.message = m;
    };
    walk.Start("", local.string());
    ASSERT_TRUE(RunUntil(
        loop, [&] { return run.message.has_value(); }, 60000));
}

class MirrorRealServer : public ::testing::TestWithParam<ServerKind> {};

} // namespace

TEST_P(MirrorRealServer, TheTreeIsCopiedByteForByteThroughThePool) {
    FtpServerProcess server(GetParam());
    ASSERT_EQ(server.error(), "");
    BuildTree(server.root());
    auto loop = morvane::platform::makePollEventLoop();
    auto pool = std::make_shared<TConnectionPool>(
        *loop, [&](const TAccount& a) { return MakeFileSystem(*loop, a); });
    TPooledFileSystem fs(pool);
    TAccount account;
    account.Name = "site";
    account.Hostname = server.host();
    account.Port = server.port();
    account.Username = server.user();
    account.Password = server.password();
    ASSERT_TRUE(ApplyAccount(account, fs, {}, {}));

    TempDir local;
    MirrorRun run;
    Mirror(*loop, fs, local.path(), run);
    ASSERT_EQ(*run.message, "Finished mirroring to " + local.path().string()) << server.output();
    EXPECT_TRUE(run.questions.empty()) << ::testing::PrintToString(run.questions);
    EXPECT_EQ(run.summary.failed, 0);
    EXPECT_EQ(run.summary.files, 5);
    EXPECT_EQ(run.summary.bytes, 768 + 8 + 771 + 768);
    ExpectSameTree(server.root(), local.path());
    // Two links lead up and one to a folder copied already: none is entered twice.
    EXPECT_EQ(run.summary.folders, 4);
    EXPECT_EQ(run.summary.skipped, 3) << ::testing::PrintToString(run.notes);

    // A second run overwrites the copy with the server's current bytes.
    writeFile(server.root() / "all bytes.bin", "changed");
    writeFile(local.path() / "level one" / "name with blanks.txt", "local edit");
    MirrorRun again;
    Mirror(*loop, fs, local.path(), again);
    EXPECT_TRUE(again.summary.completed);
    ExpectSameTree(server.root(), local.path());
}

INSTANTIATE_TEST_SUITE_P(Servers, MirrorRealServer,
                         ::testing::Values(ServerKind::Pyftpdlib, ServerKind::Vsftpd));

TEST(MirrorSftp, TheTreeIsCopiedByteForByteOverSftp) {
    TempDir keys;
    ASSERT_TRUE(MakeSshKey(keys / "host", "ed25519"));
    SshServerProcess server(0, keys / "host");
    ASSERT_EQ(server.error(), "");
    BuildTree(server.root());
    ::unsetenv("SSH_AUTH_SOCK");
    auto loop = morvane::platform::makePollEventLoop();
    TSftpFileSystem sftp(*loop);
    TRemoteLogin login;
    login.protocol = TRemoteProtocol::Sftp;
    login.host = "127.0.0.1";
    login.port = server.port();
    login.user = server.user();
    login.sshDir = server.clientDir().string();
    login.hostKey = [](const std::string&, const THostKey&) { return THostKeyAnswer::Once; };
    sftp.SetLogin(login);
    sftp.SetReplyTimeout(std::chrono::seconds(20));

    TempDir local;
    MirrorRun run;
    Mirror(*loop, sftp, local.path(), run);
    ASSERT_EQ(*run.message, "Finished mirroring to " + local.path().string()) << server.output();
    EXPECT_EQ(run.summary.failed, 0) << ::testing::PrintToString(run.notes);
    ExpectSameTree(server.root(), local.path());
    EXPECT_EQ(run.summary.skipped, 3) << ::testing::PrintToString(run.notes);
}

// The local root on a disk that fills up, then on one that is read-only: every failure is a
// question, the walk ends, the copy made before keeps its bytes and no temporary file is left.
TEST(MirrorLocalDisk, AFullOrReadOnlyRootKeepsThePreviousCopy) {
    if (::geteuid() != 0) GTEST_SKIP() << "mounting a small disk needs root";
    FtpServerProcess server(ServerKind::Pyftpdlib);
    ASSERT_EQ(server.error(), "");
    writeFile(server.root() / "small.txt", "small");
    writeFile(server.root() / "big.bin", std::string(64 * 1024, 'b'));
    auto loop = morvane::platform::makePollEventLoop();
    auto fs = std::make_unique<TFtpFileSystem>(*loop);
    TAccount account;
    account.Hostname = server.host();
    account.Port = server.port();
    account.Username = server.user();
    account.Password = server.password();
    ASSERT_TRUE(ApplyAccount(account, *fs, {}, {}));

    TempDir scratch;
    SmallDisk disk(scratch / "copy", "32k");
    if (!disk.mounted()) GTEST_SKIP() << "tmpfs could not be mounted here";
    writeFile(scratch / "copy" / "big.bin", "previous copy");
    MirrorRun full;
    Mirror(*loop, *fs, scratch / "copy", full);
    EXPECT_TRUE(full.summary.completed);
    EXPECT_EQ(full.summary.failed, 1) << ::testing::PrintToString(full.notes);
    EXPECT_EQ(full.questions.size(), 1u);
    EXPECT_EQ(readFile(scratch / "copy" / "big.bin"), "previous copy");
    EXPECT_EQ(readFile(scratch / "copy" / "small.txt"), "small");

    ASSERT_TRUE(disk.makeReadOnly());
    writeFile(server.root() / "small.txt", "changed");
    MirrorRun readOnly;
    Mirror(*loop, *fs, scratch / "copy", readOnly);
    EXPECT_TRUE(readOnly.summary.completed);
    EXPECT_EQ(readOnly.summary.failed, 2) << ::testing::PrintToString(readOnly.notes);
    EXPECT_EQ(readFile(scratch / "copy" / "big.bin"), "previous copy");
    EXPECT_EQ(readFile(scratch / "copy" / "small.txt"), "small");

    std::set<std::string> left;
    for (const auto& e : fs::directory_iterator(scratch / "copy"))
        left.insert(e.path().filename().string());
    EXPECT_EQ(left, (std::set<std::string>{"big.bin", "small.txt"}));
}
