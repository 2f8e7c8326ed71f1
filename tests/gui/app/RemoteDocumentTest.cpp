// Remote documents in the main window against the real FTP servers of the distribution: open,
// edit, save and compare the server's file byte for byte.
#include "FtpServers.h"
#include "MainFormFixture.h"
#include "ScriptedFtpServer.h"
#include "core/app/DocumentRules.h"
#include "gui/editor/CodeMemo.h"
#include "gui/platform/QtUiServices.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

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

class RemoteDocument : public MainFormFixture, public ::testing::WithParamInterface<ServerKind> {
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
    // Opens name in the home directory and waits for its text.
    app::TMorvaneEditor* open(const std::string& name) {
        auto& f = form_ ? *form_ : form();
        int before = f.documentCount();
        f.remote().openRemoteDocument(account, "", name);
        auto* doc = qobject_cast<app::TMorvaneEditor*>(f.activeDocument());
        EXPECT_EQ(f.documentCount(), before + 1);
        EXPECT_TRUE(processUntil([&] { return !doc->Busy(); }, 15000));
        return doc;
    }
    bool save(app::TMorvaneEditor* doc) {
        doc->Save();
        return processUntil([&] { return !doc->Busy(); }, 15000);
    }
    void write(const std::string& name, const std::string& bytes) {
        std::ofstream(server->root() / name, std::ios::binary) << bytes;
        ::chmod((server->root() / name).c_str(), 0644);
    }

    std::unique_ptr<FtpServerProcess> server;
    net::TAccount account;
};

TEST_P(RemoteDocument, EditAndSaveKeepsLineEndsAndEveryByte) {
    std::string binary("top\n", 4);
    binary += std::string("\0nul\x80\x81\xfe\xff", 8) + "\n";
    // Large enough to arrive in many pieces, which load as they come.
    std::string large;
    while (large.size() < 600000)
        large += "caf\xC3\xA9 \xE2\x82\xAC line " + std::to_string(large.size()) + "\r\n";
    const std::vector<std::pair<std::string, std::string>> files = {
        {"lf.txt", "one\ntwo\nthree\n"},
        {"crlf.txt", "one\r\ntwo\r\nthree\r\n"},
        {"bytes.txt", binary},
        {"large.txt", large},
        {"empty.txt", ""},
    };
    form();
    for (auto& [name, content] : files) {
        SCOPED_TRACE(name);
        write(name, content);
        auto* doc = open(name);
        ASSERT_TRUE(doc);
        EXPECT_EQ(doc->DocumentKind(), app::TMorvaneEditor::kRemote);
        EXPECT_FALSE(doc->Editor().ReadOnly());
        EXPECT_FALSE(doc->Editor().Modified());
        if (name == "large.txt") {
            EXPECT_EQ(doc->Editor().Encoding(), editor::TTextEncoding::teUTF8);
        }
        doc->Editor().SetSelection(0, 0);
        doc->Editor().ReplaceSel("zero ");
        EXPECT_FALSE(editor::TCodeMemo::BackgroundHeld());
        doc->Save();
        // Idle work waits while the document is busy with the server.
        EXPECT_TRUE(editor::TCodeMemo::BackgroundHeld());
        ASSERT_TRUE(processUntil([&] { return !doc->Busy(); }, 15000));
        EXPECT_FALSE(editor::TCodeMemo::BackgroundHeld());
        EXPECT_FALSE(doc->Editor().Modified());
        // The title and the status bar name the account and folder.
        const std::string place = app::documentPlace("local", doc->Directory(), true);
        EXPECT_EQ(form_->windowTitle().toStdString(), name + " - " + place + " - Morvane");
        EXPECT_EQ(form_->statusPanel(4)->text().toStdString(), "Saved " + name + " to " + place);
        EXPECT_EQ(readAll(server->root() / name), "zero " + content);
        EXPECT_FALSE(fs::exists(server->root() / ("." + name + ".morvane-tmp")));
    }
    EXPECT_TRUE(dialogs.shown.empty()) << dialogs.texts().front();
}

TEST_P(RemoteDocument, ChangedBehindTheDocumentsBackIsNotOverwrittenWithoutAsking) {
    write("page.html", "<p>original</p>\n");
    auto* doc = open("page.html");
    ASSERT_TRUE(doc);
    write("page.html", "<p>someone else's longer edit</p>\n");
    doc->Editor().ReplaceSel("mine ");
    dialogs.answers = {platform::MsgResult::Cancel};
    ASSERT_TRUE(save(doc));
    ASSERT_EQ(dialogs.texts().size(), 1u);
    EXPECT_EQ(dialogs.texts()[0],
              "The file 'page.html' was changed on the server since you opened it.");
    EXPECT_EQ(dialogs.shown[0].buttons,
              unsigned(platform::mbOverwriteReloadCancel | platform::mbCompare));
    EXPECT_EQ(readAll(server->root() / "page.html"), "<p>someone else's longer edit</p>\n");
    EXPECT_TRUE(doc->Editor().Modified());

    dialogs.answers = {platform::MsgResult::Overwrite};
    ASSERT_TRUE(save(doc));
    EXPECT_EQ(readAll(server->root() / "page.html"), "mine <p>original</p>\n");
    EXPECT_FALSE(doc->Editor().Modified());
}

TEST_P(RemoteDocument, MissingFileClosesTheDocumentWithTheError) {
    form();
    form_->remote().openRemoteDocument(account, "", "nothing-here.txt");
    ASSERT_TRUE(processUntil([&] { return form_->documentCount() == 0; }, 15000));
    ASSERT_EQ(dialogs.texts().size(), 1u);
    EXPECT_EQ(dialogs.texts()[0].rfind("Error getting file nothing-here.txt:\r\n", 0), 0u);
}

// The listed size is checked against the memory before anything is downloaded.
TEST_P(RemoteDocument, AFileBiggerThanTheMemoryIsRefusedByItsListedSize) {
    write("huge.log", std::string(5000, 'x'));
    form();
    ::setenv("MORVANE_AVAILABLE_MEMORY", "4000", 1);
    form_->remote().openRemoteDocument(account, "", "huge.log");
    const bool closed = processUntil([&] { return form_->documentCount() == 0; }, 15000);
    ::unsetenv("MORVANE_AVAILABLE_MEMORY");
    ASSERT_TRUE(closed);
    ASSERT_EQ(dialogs.texts().size(), 1u);
    EXPECT_EQ(dialogs.texts()[0], "Error getting file huge.log:\r\nFile huge.log is 5.0 KB; only "
                                  "4.0 KB of memory is available, so it cannot be opened.");
}

TEST_P(RemoteDocument, RevertReloadsAndCloseWithSaveEntersTheRecentList) {
    write("notes.txt", "first\n");
    auto* doc = open("notes.txt");
    ASSERT_TRUE(doc);
    doc->Editor().ReplaceSel("typed ");
    dialogs.answers = {platform::MsgResult::Yes};
    doc->Revert();
    ASSERT_TRUE(processUntil([&] { return !doc->Busy(); }, 15000));
    EXPECT_EQ(dialogs.texts().back(), "Discard changes and reload original file?");
    EXPECT_EQ(doc->Editor().Text(), "first\r");
    EXPECT_FALSE(doc->Editor().Modified());

    std::vector<std::string> recent;
    form_->remote().addRecent = [&](const std::string& a, const std::string& d,
                                    const std::string& f) {
        recent = {a, d, f};
    };
    doc->Editor().SetSelection(0, 0); // a reload keeps the caret about where it was
    doc->Editor().ReplaceSel("kept ");
    dialogs.answers = {platform::MsgResult::Yes}; // save before closing
    doc->closeRequest(false);
    ASSERT_TRUE(processUntil([&] { return form_->documentCount() == 0; }, 15000));
    EXPECT_EQ(readAll(server->root() / "notes.txt"), "kept first\n");
    ASSERT_EQ(recent.size(), 3u);
    EXPECT_EQ(recent[0], "local");
    EXPECT_EQ(recent[2], "notes.txt");
}

TEST_P(RemoteDocument, ReferenceArgumentOpensTheFileAndABadOneOpensNothing) {
    write("ref.txt", "by reference\n");
    ASSERT_TRUE(net::SaveAccount(registry, "local", account));
    auto& f = form();
    f.openArgument("morvane://local:ref.txt");
    ASSERT_EQ(f.documentCount(), 1);
    auto* doc = qobject_cast<app::TMorvaneEditor*>(f.activeDocument());
    ASSERT_TRUE(processUntil([&] { return !doc->Busy(); }, 15000));
    EXPECT_EQ(doc->Editor().Text(), "by reference\r");
    EXPECT_EQ(doc->AccountName(), "local");

    f.openArgument("MORVANE://nobody:/x.txt");
    f.openArgument("MORVANE://x.txt");
    EXPECT_EQ(f.documentCount(), 1);
    EXPECT_EQ(dialogs.texts(), (std::vector<std::string>{"Cannot find the specified account.",
                                                         "Incorrect format for file: x.txt."}));
}

TEST_P(RemoteDocument, SavingThroughALinkKeepsTheLinkAndTheTargetsMode) {
    fs::create_directories(server->root() / "real");
    write("real/page.html", "<p>target</p>\n");
    ::chmod((server->root() / "real" / "page.html").c_str(), 0640);
    fs::create_symlink("real/page.html", server->root() / "page.html");
    write("same.txt", "beside\n");
    fs::create_symlink("same.txt", server->root() / "alias.txt");
    for (const char* name : {"page.html", "alias.txt"}) {
        SCOPED_TRACE(name);
        auto* doc = open(name);
        ASSERT_TRUE(doc);
        doc->Editor().ReplaceSel("new ");
        ASSERT_TRUE(save(doc));
        EXPECT_FALSE(doc->Editor().Modified());
    }
    EXPECT_TRUE(fs::is_symlink(server->root() / "page.html"));
    EXPECT_EQ(fs::read_symlink(server->root() / "page.html"), "real/page.html");
    EXPECT_EQ(readAll(server->root() / "real" / "page.html"), "new <p>target</p>\n");
    EXPECT_TRUE(fs::is_symlink(server->root() / "alias.txt"));
    EXPECT_EQ(readAll(server->root() / "same.txt"), "new beside\n");
    EXPECT_FALSE(fs::exists(server->root() / "real" / ".page.html.morvane-tmp"));
    struct stat st {};
    ASSERT_EQ(::stat((server->root() / "real" / "page.html").c_str(), &st), 0);
    // Never the link's rwxrwxrwx; the target's own mode where the server lets it be put back.
    EXPECT_NE(st.st_mode & 0777, 0777u);
    if (GetParam() == ServerKind::Pyftpdlib) {
        EXPECT_EQ(st.st_mode & 07777, 0640u);
    }
    EXPECT_TRUE(dialogs.shown.empty()) << dialogs.texts().front();
}

TEST_P(RemoteDocument, TheSameFileOpensOnceAndAFailedOneIsNotRemembered) {
    write("page.html", "<p>one</p>\n");
    std::vector<std::vector<std::string>> recent;
    auto* doc = open("page.html");
    ASSERT_TRUE(doc);
    form_->remote().addRecent = [&](const std::string& a, const std::string& d,
                                    const std::string& f) {
        recent.push_back({a, d, f});
    };
    // The login folder: the root for one server, the real folder for the other.
    const std::string home = doc->Directory() == "/" ? "" : doc->Directory();
    EXPECT_EQ(form_->pageControl()->tabToolTip(0).toStdString(), home + "/page.html");
    // Again by the same name, by its full path and by a detour: the tab is shown, not a copy.
    form_->remote().openRemoteDocument(account, "", "page.html");
    form_->remote().openRemoteDocument(account, home + "/", "page.html");
    form_->remote().openRemoteDocument(account, home + "/x/..", "page.html");
    EXPECT_EQ(form_->documentCount(), 1);
    EXPECT_EQ(form_->activeDocument(), doc);

    // Another folder: its tooltip keeps the slash between folder and name.
    fs::create_directories(server->root() / "css");
    write("css/style.css", "a {}\n");
    form_->remote().openRemoteDocument(account, home + "/css", "style.css");
    ASSERT_EQ(form_->documentCount(), 2);
    auto* css = qobject_cast<app::TMorvaneEditor*>(form_->activeDocument());
    ASSERT_TRUE(processUntil([&] { return !css->Busy(); }, 15000));
    EXPECT_EQ(form_->pageControl()->tabToolTip(1).toStdString(), home + "/css/style.css");

    // A file that is not there closes its document and stays out of the recent files.
    form_->remote().openRemoteDocument(account, "", "missing.txt");
    ASSERT_TRUE(processUntil([&] { return form_->documentCount() == 2; }, 15000));
    EXPECT_TRUE(recent.empty());
    doc->closeRequest(false);
    ASSERT_TRUE(processUntil([&] { return form_->documentCount() == 1; }, 15000));
    ASSERT_EQ(recent.size(), 1u);
    EXPECT_EQ(recent[0][2], "page.html");
}

INSTANTIATE_TEST_SUITE_P(Servers, RemoteDocument,
                         ::testing::Values(ServerKind::Pyftpdlib, ServerKind::Vsftpd));

// A server that refuses the temporary name (and, the second time, the backup name too).
class RefusingServer : public RemoteDocument {
protected:
    void SetUp() override {
        MainFormFixture::SetUp();
        server = std::make_unique<FtpServerProcess>(ServerKind::Vsftpd, deny());
        ASSERT_EQ(server->error(), "");
        account.Name = "local";
        account.Hostname = "127.0.0.1";
        account.Port = server->port();
        account.Username = server->user();
        account.Password = server->password();
    }
    virtual std::string deny() const { return "deny_file={*.morvane-tmp}\n"; }
};

TEST_F(RefusingServer, NoTemporaryNameSavesInPlaceBehindABackup) {
    write("page.html", "<p>original</p>\n");
    auto* doc = open("page.html");
    ASSERT_TRUE(doc);
    doc->Editor().ReplaceSel("mine ");
    ASSERT_TRUE(save(doc));
    EXPECT_EQ(readAll(server->root() / "page.html"), "mine <p>original</p>\n");
    EXPECT_FALSE(fs::exists(server->root() / "page.html.morvane-backup"));
    EXPECT_FALSE(doc->Editor().Modified());
    EXPECT_TRUE(dialogs.shown.empty()) << dialogs.texts().front();
}

class RefusingEverything : public RefusingServer {
protected:
    std::string deny() const override { return "deny_file={*.morvane-tmp,*.morvane-backup}\n"; }
};

TEST_F(RefusingEverything, WritingInPlaceIsTheUsersChoice) {
    write("page.html", "<p>original</p>\n");
    auto* doc = open("page.html");
    ASSERT_TRUE(doc);
    doc->Editor().ReplaceSel("mine ");
    dialogs.answers = {platform::MsgResult::No};
    ASSERT_TRUE(save(doc));
    ASSERT_EQ(dialogs.texts().size(), 1u);
    EXPECT_NE(dialogs.texts()[0].find("cut short"), std::string::npos);
    EXPECT_EQ(readAll(server->root() / "page.html"), "<p>original</p>\n");
    EXPECT_TRUE(doc->Editor().Modified());

    dialogs.answers = {platform::MsgResult::Yes};
    ASSERT_TRUE(save(doc));
    EXPECT_EQ(readAll(server->root() / "page.html"), "mine <p>original</p>\n");
    EXPECT_FALSE(doc->Editor().Modified());
}

// SITE CHMOD is refused to anonymous logins by one of the servers, so the mode test runs on the
// other.
class RemoteDocumentModes : public RemoteDocument {};

TEST_P(RemoteDocumentModes, SaveKeepsTheOriginalsPermissions) {
    write("run.pl", "#!/usr/bin/perl\nprint 1;\n");
    ::chmod((server->root() / "run.pl").c_str(), 0750);
    auto* doc = open("run.pl");
    ASSERT_TRUE(doc);
    doc->Editor().SetSelection(doc->Editor().TextLength(), doc->Editor().TextLength());
    doc->Editor().ReplaceSel("print 2;\r");
    ASSERT_TRUE(save(doc));
    EXPECT_EQ(readAll(server->root() / "run.pl"), "#!/usr/bin/perl\nprint 1;\nprint 2;\n");
    struct stat st {};
    ASSERT_EQ(::stat((server->root() / "run.pl").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0750u);
}

INSTANTIATE_TEST_SUITE_P(Servers, RemoteDocumentModes, ::testing::Values(ServerKind::Pyftpdlib));

// A download that stalls: the Cancel button shows while it runs, the status bar the file's name
// and the bytes so far, and cancelling closes the document that never got its text, without an
// error to acknowledge.
net::TAccount SlowServerAccount(int port) {
    net::TAccount account;
    account.Name = "slow";
    account.Hostname = "127.0.0.1";
    account.Port = port;
    account.Username = "user";
    account.Password = "secret";
    return account;
}

TEST_F(MainFormFixture, CancelButtonAbortsAStalledDownload) {
    ScriptedFtpServer server;
    server.handlers["RETR"] = [](ScriptedFtpServer::Session& s, const std::string&) {
        s.send("150 Opening\r\n");
        if (!s.dataConnect()) return;
        s.dataSend(std::string(1000, 'x'));
        s.stall(1500);
    };
    server.start();
    auto& f = form();
    f.remote().openRemoteDocument(SlowServerAccount(server.port()), "", "big.txt");
    auto* doc = qobject_cast<app::TMorvaneEditor*>(f.activeDocument());
    ASSERT_TRUE(doc);
    EXPECT_TRUE(doc->Editor().ReadOnly());
    ASSERT_TRUE(
        processUntil([&] { return f.statusPanel(3)->text() == "Loading big.txt: 1.0 KB"; }));
    EXPECT_TRUE(f.cancelTransferButton()->isVisible());
    EXPECT_EQ(f.statusPanel(4)->text(), "Getting file");
    f.cancelTransferButton()->click();
    ASSERT_TRUE(processUntil([&] { return f.documentCount() == 0; }));
    EXPECT_TRUE(dialogs.texts().empty());
}

// Keys and clicks while a download's pieces arrive must not move where the next one goes.
TEST_F(MainFormFixture, KeysDuringADownloadLeaveTheTextWhole) {
    ScriptedFtpServer server;
    std::string first;
    while (first.size() < 200000) // beyond what the control holds back before inserting
        first += "a line\n";
    const std::string second = "the end\n";
    server.handlers["RETR"] = [&](ScriptedFtpServer::Session& s, const std::string&) {
        s.send("150 Opening\r\n");
        if (!s.dataConnect()) return;
        s.dataSend(first);
        s.stall(700);
        s.dataSend(second);
        s.dataClose();
        s.send("226 Done\r\n");
    };
    server.start();
    auto& f = form();
    f.remote().openRemoteDocument(SlowServerAccount(server.port()), "", "big.txt");
    auto* doc = qobject_cast<app::TMorvaneEditor*>(f.activeDocument());
    ASSERT_TRUE(doc);
    ASSERT_TRUE(processUntil([&] { return doc->Editor().LoadingPieces(); }));
    for (int i = 0; i < 5; ++i) {
        QTest::keyClick(&doc->Editor(), Qt::Key_Home, Qt::ControlModifier);
        QTest::keyClick(&doc->Editor(), Qt::Key_Down);
        QTest::keyClick(&doc->Editor(), Qt::Key_X);
        QTest::mouseClick(doc->Editor().viewport(), Qt::LeftButton, {}, QPoint(5, 5));
        QApplication::processEvents();
    }
    ASSERT_TRUE(processUntil([&] { return !doc->Busy(); }, 15000));
    EXPECT_TRUE(doc->Editor().Text(editor::tfLF) == first + second);
}

// Save As Remote File of a local document whose account asks for a password that the user does
// not give: the document stays what it was.
TEST_F(MainFormFixture, SaveAsRemoteWithCancelledPasswordChangesNothing) {
    auto& f = form();
    std::string path = file("local.txt", "text\n");
    f.openLocalFiles({path});
    auto* doc = qobject_cast<app::TMorvaneEditor*>(f.activeDocument());
    ASSERT_TRUE(doc);
    net::TAccount account;
    account.Name = "asks";
    account.Hostname = "127.0.0.1";
    account.PromptForPassword = true;
    int browsed = 0, asked = 0;
    f.remote().browse = [&](app::TBrowserMode mode, const net::TAccount&, const std::string&) {
        ++browsed;
        EXPECT_EQ(mode, app::TBrowserMode::Save);
        app::TBrowserResult r;
        r.account = account;
        r.fileNameText = "remote.txt";
        return std::optional<app::TBrowserResult>(r);
    };
    f.remote().prompts.password = [&](const std::string& caption) {
        ++asked;
        EXPECT_EQ(caption, "Password for asks");
        return std::optional<std::string>();
    };
    f.action("FileSaveAsLocalFile")->trigger();
    EXPECT_EQ(browsed, 1);
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(doc->DocumentKind(), app::TMorvaneEditor::kLocal);
    EXPECT_EQ(doc->FileName(), "local.txt");
    EXPECT_EQ(doc->AccountName(), "");
    EXPECT_EQ(f.lastUsedAccount().Name, "");
    EXPECT_FALSE(doc->Busy());
}

} // namespace
} // namespace morvane::testing

namespace morvane::testing {
namespace {

// A server's reply or a file's name may hold markup: the box shows it as it is.
TEST(MessageBoxes, ServerTextsAreShownAsPlainText) {
    qtApp(); // each test runs in a process of its own under ctest
    platform::QtDialogs dialogs;
    Qt::TextFormat format = Qt::AutoText;
    QString shown;
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (!box || !box->isVisible()) continue;
            format = box->textFormat();
            shown = box->text();
            poll.stop();
            box->button(QMessageBox::Ok)->click();
            return;
        }
    });
    poll.start();
    const std::string text = "Error getting file <b>x</b><img src=y>:\r\n550 No such file";
    dialogs.message(platform::MsgKind::Error, text);
    EXPECT_EQ(format, Qt::PlainText);
    EXPECT_EQ(shown.toStdString(), text);
}

} // namespace
} // namespace morvane::testing
