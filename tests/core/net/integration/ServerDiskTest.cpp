// A document saved to a server whose disk is full or mounted read-only, over FTP (both servers)
// and SFTP: the save fails with a message, the server's file keeps its old bytes, and no
// temporary file is left behind. The folder is a small tmpfs, so the test needs root.
#include "FtpServers.h"
#include "NetTestUtil.h"
#include "SshServer.h"
#include "support/SmallDisk.h"

#include "core/app/RemoteSession.h"
#include "core/net/Account.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

using namespace morvane;
using namespace morvane::net;
using namespace morvane::testing;
namespace fs = std::filesystem;

namespace {

struct Document : app::TRemoteSessionHost {
    std::string text, failure, retryQuestion, inPlaceQuestion, notes;
    bool arrived = false, saved = false, asked = false;
    void SessionStatus(const std::string&) override {}
    void SessionProgress(bool, std::int64_t, std::int64_t) override {}
    void SessionBusyChanged() override {}
    void Downloaded(std::string& bytes) override {
        text = bytes;
        arrived = true;
    }
    void SessionFailed(const std::string& message, bool) override { failure = message; }
    bool AskRetrySave(const std::string& message) override {
        retryQuestion = message;
        asked = true;
        return false;
    }
    app::TChangedAnswer AskChanged(const std::string&) override {
        return app::TChangedAnswer::Cancel;
    }
    bool AskCreateMirrorFolder(const std::string&) override { return false; }
    bool AskWriteInPlace(const std::string& question) override {
        inPlaceQuestion = question;
        asked = true;
        return false;
    }
    void Saved() override { saved = true; }
    void Note(const std::string& note) override { notes += note + "\n"; }
    void CloseRequested() override {}
};

std::string Slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

enum class Server { Vsftpd, Pyftpdlib, Sftp };

std::string Name(const ::testing::TestParamInfo<Server>& info) {
    switch (info.param) {
    case Server::Vsftpd:
        return "vsftpd";
    case Server::Pyftpdlib:
        return "pyftpdlib";
    default:
        return "sftp";
    }
}

class ServerDisk : public ::testing::TestWithParam<Server> {
protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "mounting a small disk needs root";
        if (GetParam() == Server::Sftp) {
            ASSERT_TRUE(MakeSshKey(keys.path() / "host", "ed25519"));
            ssh = std::make_unique<SshServerProcess>(0, keys.path() / "host");
            ASSERT_EQ(ssh->error(), "");
            root = ssh->root();
            account.Protocol = TRemoteProtocol::Sftp;
            account.Hostname = "127.0.0.1";
            account.Port = ssh->port();
            account.Username = ssh->user();
        } else {
            ftp = std::make_unique<FtpServerProcess>(
                GetParam() == Server::Vsftpd ? ServerKind::Vsftpd : ServerKind::Pyftpdlib);
            ASSERT_EQ(ftp->error(), "");
            root = ftp->root();
            account.Hostname = ftp->host();
            account.Port = ftp->port();
            account.Username = ftp->user();
            account.Password = ftp->password();
            account.PassiveMode = true;
        }
        account.Name = "disk";
        disk = std::make_unique<SmallDisk>(root / "box");
        if (!disk->mounted()) GTEST_SKIP() << "tmpfs could not be mounted here";
        original = std::string(100000, 'a');
        std::ofstream(root / "box" / "page.txt", std::ios::binary) << original;
    }

    // Opens box/page.txt, then saves `bytes` over it; true when both ended.
    bool openThenSave(const std::string& bytes) {
        session = std::make_unique<app::TRemoteSession>(*loop, doc, MakeFileSystem(*loop, account));
        TAccountPrompts prompts;
        prompts.hostKey = [](const TAccount&, const std::string&, const THostKey&) {
            return THostKeyAnswer::Once;
        };
        if (!ApplyAccount(account, session->FileSystem(), {}, prompts)) return false;
        if (ssh) {
            TRemoteLogin login = session->FileSystem().Login();
            login.sshDir = ssh->clientDir().string();
            session->FileSystem().SetLogin(login);
        }
        session->SetAccount(account);
        session->SetLocation("box", "page.txt");
        session->Open();
        if (!RunUntil(
                *loop, [&] { return doc.arrived || !doc.failure.empty(); }, 20000))
            return false;
        if (!doc.arrived) return false;
        session->Save(bytes);
        return RunUntil(
                   *loop, [&] { return doc.saved || doc.asked || !doc.failure.empty(); }, 30000) &&
               RunUntil(
                   *loop, [&] { return !session->Busy(); }, 20000);
    }
    void expectOriginalKept() {
        EXPECT_FALSE(doc.saved) << doc.notes;
        EXPECT_EQ(Slurp(root / "box" / "page.txt"), original);
        for (const auto& e : fs::directory_iterator(root / "box"))
            EXPECT_EQ(e.path().filename(), "page.txt") << "left behind: " << e.path();
        std::string said = doc.retryQuestion + doc.inPlaceQuestion + doc.failure;
        EXPECT_NE(said.find("page.txt"), std::string::npos) << said;
    }

    TempDir keys;
    std::unique_ptr<SshServerProcess> ssh;
    std::unique_ptr<FtpServerProcess> ftp;
    fs::path root;
    std::unique_ptr<SmallDisk> disk;
    TAccount account;
    std::string original;
    std::unique_ptr<platform::EventLoop> loop = platform::makePollEventLoop();
    Document doc;
    std::unique_ptr<app::TRemoteSession> session;
};

TEST_P(ServerDisk, AFullDiskFailsTheSaveAndKeepsTheFile) {
    ASSERT_TRUE(openThenSave(std::string(400000, 'b'))) << doc.failure;
    expectOriginalKept();
}

TEST_P(ServerDisk, AReadOnlyFolderFailsTheSaveAndKeepsTheFile) {
    ASSERT_TRUE(disk->makeReadOnly());
    ASSERT_TRUE(openThenSave("short new text\n")) << doc.failure;
    expectOriginalKept();
}

INSTANTIATE_TEST_SUITE_P(Servers, ServerDisk,
                         ::testing::Values(Server::Vsftpd, Server::Pyftpdlib, Server::Sftp), Name);

} // namespace
