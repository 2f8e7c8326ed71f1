// What a remote save does to the document's modified state against real servers: typing while
// the upload runs stays unsaved, and a reload over edits is one undo step away from them.
#include "FtpServers.h"
#include "MainFormFixture.h"
#include "gui/editor/CodeMemo.h"

#include <filesystem>
#include <fstream>
#include <sys/stat.h>

namespace morvane::testing {
namespace {

namespace fs = std::filesystem;

class RemoteSave : public MainFormFixture, public ::testing::WithParamInterface<ServerKind> {
protected:
    void SetUp() override {
        MainFormFixture::SetUp();
        server = std::make_unique<FtpServerProcess>(GetParam());
        ASSERT_EQ(server->error(), "");
        account.Name = "local";
        account.Hostname = "127.0.0.1";
        account.Port = server->port();
        account.Username = server->user();
        account.Password = server->password();
    }
    void TearDown() override {
        form_.reset(); // documents and their sessions go before the server
        server.reset();
    }
    app::TMorvaneEditor* open(const std::string& name, const std::string& bytes) {
        std::ofstream(server->root() / name, std::ios::binary) << bytes;
        ::chmod((server->root() / name).c_str(), 0644);
        auto& f = form();
        f.remote().openRemoteDocument(account, "", name);
        auto* doc = qobject_cast<app::TMorvaneEditor*>(f.activeDocument());
        EXPECT_TRUE(doc && processUntil([&] { return !doc->Busy(); }, 15000));
        return doc;
    }
    std::string onServer(const std::string& name) {
        std::ifstream in(server->root() / name, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), {});
    }
    static std::string text(app::TMorvaneEditor* doc) { return doc->Editor().Text(editor::tfLF); }
    static void typeAtEnd(app::TMorvaneEditor* doc, const std::string& s) {
        auto& e = doc->Editor();
        e.SetSelection(e.TextLength(), e.TextLength());
        e.ReplaceSel(s);
    }

    std::unique_ptr<FtpServerProcess> server;
    net::TAccount account;
};

TEST_P(RemoteSave, TypingWhileTheUploadRunsStaysModified) {
    auto* doc = open("notes.txt", "one\n");
    ASSERT_TRUE(doc);
    typeAtEnd(doc, "first");
    doc->Save();
    ASSERT_TRUE(doc->Busy());
    typeAtEnd(doc, " second"); // the upload has not even connected yet
    ASSERT_TRUE(processUntil([&] { return !doc->Busy(); }, 15000));
    EXPECT_EQ(onServer("notes.txt"), "one\nfirst");
    EXPECT_TRUE(doc->Editor().Modified());
    // Undo back to the text that was uploaded: that is the server's file, unmodified.
    ASSERT_TRUE(doc->Editor().Undo());
    EXPECT_EQ(text(doc), "one\nfirst");
    EXPECT_FALSE(doc->Editor().Modified());
    ASSERT_TRUE(doc->Editor().Redo());
    EXPECT_TRUE(doc->Editor().Modified());

    // Closing asks, and saving first uploads the later typing too.
    dialogs.answers = {platform::MsgResult::Yes};
    doc->closeRequest(false);
    ASSERT_TRUE(processUntil([&] { return form_->documentCount() == 0; }, 15000));
    EXPECT_EQ(dialogs.texts(),
              std::vector<std::string>{"File 'notes.txt' has been modified, save before closing?"});
    EXPECT_EQ(onServer("notes.txt"), "one\nfirst second");
}

TEST_P(RemoteSave, ReloadOverEditsIsOneUndoStepBack) {
    auto* doc = open("page.html", "<p>original</p>\n");
    ASSERT_TRUE(doc);
    typeAtEnd(doc, "mine");
    std::ofstream(server->root() / "page.html", std::ios::binary) << "<p>someone else's</p>\n";
    dialogs.answers = {platform::MsgResult::Reload};
    doc->Save();
    ASSERT_TRUE(processUntil([&] { return !doc->Busy(); }, 15000));
    EXPECT_EQ(text(doc), "<p>someone else's</p>\n");
    EXPECT_FALSE(doc->Editor().Modified());
    ASSERT_TRUE(doc->Editor().Undo());
    EXPECT_EQ(text(doc), "<p>original</p>\nmine");
    EXPECT_TRUE(doc->Editor().Modified());
    // The reloaded file is what the document knows of the server now: no question.
    doc->Save();
    ASSERT_TRUE(processUntil([&] { return !doc->Busy(); }, 15000));
    EXPECT_EQ(onServer("page.html"), "<p>original</p>\nmine");
    EXPECT_EQ(dialogs.shown.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Servers, RemoteSave,
                         ::testing::Values(ServerKind::Pyftpdlib, ServerKind::Vsftpd));

} // namespace
} // namespace morvane::testing
