// Remote documents over SFTP against a real OpenSSH server: the host key question, open, edit
// and safe save byte for byte, the changed-on-server question, the mode kept, and a save after
// the connection was cut.
#include "MainFormFixture.h"
#include "SshServer.h"
#include "core/app/RExecCommands.h"
#include "gui/app/RExecTool.h"
#include "gui/editor/CodeMemo.h"

#include <QListWidget>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>

namespace morvane::testing {
namespace {

namespace fs = std::filesystem;

std::string readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

class SftpDocument : public MainFormFixture {
protected:
    void SetUp() override {
        MainFormFixture::SetUp();
        server = std::make_unique<SshServerProcess>();
        ASSERT_EQ(server->error(), "");
        // The program's SSH folder is $HOME/.ssh: the server's client key, no known hosts.
        const char* home = std::getenv("HOME");
        savedHome = home ? home : "";
        fs::copy(server->clientDir(), home_ / ".ssh");
        ::setenv("HOME", home_.path().c_str(), 1);
        ::unsetenv("SSH_AUTH_SOCK");
        account.Name = "ssh";
        account.Protocol = net::TRemoteProtocol::Sftp;
        account.Hostname = "127.0.0.1";
        account.Port = server->port();
        account.Username = server->user();
        account.Directory = server->root().string();
    }
    void TearDown() override {
        form_.reset(); // documents and their sessions go before the server
        server.reset();
        ::setenv("HOME", savedHome.c_str(), 1);
    }
    app::TMorvaneEditor* open(const std::string& name) {
        auto& f = form_ ? *form_ : form();
        f.remote().openRemoteDocument(account, account.Directory, name);
        auto* doc = qobject_cast<app::TMorvaneEditor*>(f.activeDocument());
        EXPECT_TRUE(doc && processUntil([&] { return !doc->Busy(); }, 20000));
        return doc;
    }
    bool save(app::TMorvaneEditor* doc) {
        doc->Save();
        return processUntil([&] { return !doc->Busy(); }, 20000);
    }
    void write(const std::string& name, const std::string& bytes, int mode = 0644) {
        std::ofstream(server->root() / name, std::ios::binary) << bytes;
        ::chmod((server->root() / name).c_str(), mode_t(mode));
    }

    TempDir home_;
    std::string savedHome;
    std::unique_ptr<SshServerProcess> server;
    net::TAccount account;
};

TEST_F(SftpDocument, EditAndSaveEveryByteAfterTheHostKeyIsAcceptedOnce) {
    // Every byte value; a lone CR would be a line end of its own to the editor.
    std::string all;
    for (int i = 0; i < 256; ++i)
        if (i != '\r') all.push_back(char(i));
    const std::vector<std::pair<std::string, std::string>> files = {
        {"lf.txt", "one\ntwo\n"},
        {"crlf.txt", "one\r\ntwo\r\n"},
        {"bytes.bin", all},
    };
    form();
    dialogs.answers = {platform::MsgResult::AlwaysConnect};
    for (auto& [name, content] : files) {
        SCOPED_TRACE(name);
        write(name, content);
        auto* doc = open(name);
        ASSERT_TRUE(doc);
        EXPECT_EQ(doc->DocumentKind(), app::TMorvaneEditor::kRemote);
        EXPECT_FALSE(doc->Editor().ReadOnly());
        doc->Editor().SetSelection(0, 0);
        doc->Editor().ReplaceSel("zero ");
        ASSERT_TRUE(save(doc));
        EXPECT_FALSE(doc->Editor().Modified());
        EXPECT_EQ(readAll(server->root() / name), "zero " + content);
    }
    // Asked once, for the first document; the rest found the key in known_hosts.
    ASSERT_EQ(dialogs.shown.size(), 1u) << dialogs.texts().back();
    EXPECT_EQ(dialogs.shown[0].buttons,
              platform::mbConnectOnce | platform::mbAlwaysConnect | platform::mbCancel);
    for (const auto& e : fs::directory_iterator(server->root()))
        EXPECT_EQ(e.path().filename().string().find(".morvane"), std::string::npos)
            << "left behind: " << e.path();
}

TEST_F(SftpDocument, ChangedOnTheServerIsAskedAndTheModeIsKept) {
    dialogs.answers = {platform::MsgResult::AlwaysConnect};
    write("run.pl", "#!/usr/bin/perl\n", 0750);
    auto* doc = open("run.pl");
    ASSERT_TRUE(doc);
    write("run.pl", "someone else's longer text\n", 0750);
    doc->Editor().ReplaceSel("mine ");
    dialogs.answers = {platform::MsgResult::Cancel};
    dialogs.shown.clear();
    ASSERT_TRUE(save(doc));
    ASSERT_FALSE(dialogs.texts().empty());
    EXPECT_EQ(dialogs.texts().back(),
              "The file 'run.pl' was changed on the server since you opened it.");
    EXPECT_EQ(readAll(server->root() / "run.pl"), "someone else's longer text\n");

    dialogs.answers = {platform::MsgResult::Overwrite};
    ASSERT_TRUE(save(doc));
    EXPECT_EQ(readAll(server->root() / "run.pl"), "mine #!/usr/bin/perl\n");
    struct stat st {};
    ASSERT_EQ(::stat((server->root() / "run.pl").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0750u);
}

TEST_F(SftpDocument, ASaveAfterTheConnectionWasCutReconnectsFirst) {
    dialogs.answers = {platform::MsgResult::AlwaysConnect};
    write("notes.txt", "kept\n");
    auto* doc = open("notes.txt");
    ASSERT_TRUE(doc);
    server->killConnections();
    doc->Editor().SetSelection(doc->Editor().TextLength(), doc->Editor().TextLength());
    doc->Editor().ReplaceSel("added\n");
    ASSERT_TRUE(save(doc));
    EXPECT_FALSE(doc->Editor().Modified())
        << (dialogs.texts().empty() ? "" : dialogs.texts().back());
    EXPECT_EQ(readAll(server->root() / "notes.txt"), "kept\nadded\n");
}

TEST_F(SftpDocument, ARemoteCommandOnTheOpenFileRunsOverSsh) {
    ASSERT_TRUE(app::saveRExecCommands(
        registry, {{"Lines", "wc -l < %f; echo warn >&2", true, "(None)", "", app::raOpenFile}}));
    dialogs.answers = {platform::MsgResult::AlwaysConnect};
    write("three lines.txt", "a\nb\nc\n");
    auto* doc = open("three lines.txt");
    ASSERT_TRUE(doc);
    auto* tool = form_->findChild<app::TRExecTool*>("RExecTool");
    ASSERT_NE(tool, nullptr);
    tool->run(0);
    QStringList lines;
    ASSERT_TRUE(processUntil(
        [&] {
            lines.clear();
            for (int i = 0; i < form_->outputList()->count(); ++i)
                lines << form_->outputList()->item(i)->text();
            return lines.contains("-- End of output");
        },
        20000));
    const QString path = QString::fromStdString(server->root().string());
    EXPECT_EQ(lines,
              QStringList({"-- Executing wc -l < '" + path + "/three lines.txt'; echo warn >&2",
                           "3", "warn", "-- End of output"}));
}

} // namespace
} // namespace morvane::testing
