// The remote browser window and the properties window against real FTP servers on 127.0.0.1.

#include "FtpServers.h"
#include "MainFormFixture.h"
#include "ScriptedFtpServer.h"
#include "core/net/Account.h"
#include "core/net/MsgFTP.h"
#include "gui/app/ChangeDirectoryForm.h"
#include "gui/app/ChooseDirectoryForm.h"
#include "gui/app/FilePropertiesForm.h"
#include "gui/app/OpenFileForm.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTreeWidget>

#include <gmock/gmock.h>

#include <algorithm>
#include <atomic>

#include <sys/stat.h>

using namespace morvane;
using morvane::testing::FtpServerProcess;
using morvane::testing::processUntil;
using morvane::testing::ServerKind;

namespace {

class BrowserForm : public morvane::testing::MainFormFixture,
                    public ::testing::WithParamInterface<ServerKind> {
protected:
    void startServer(ServerKind kind) {
        server = std::make_unique<FtpServerProcess>(kind);
        ASSERT_EQ(server->error(), "");
        auto root = server->root();
        std::filesystem::create_directories(root / "sub");
        morvane::testing::writeFile(root / "sub" / "inner.txt", "inner");
        morvane::testing::writeFile(root / "a.txt", "aaaa");
        morvane::testing::writeFile(root / "b.html", "<p>");
        account.Name = "Local";
        account.Hostname = "127.0.0.1";
        account.Port = server->port();
        account.Username = server->user();
        account.Password = server->password();
        ASSERT_TRUE(net::SaveAccount(registry, account.Name, account));
    }

    std::unique_ptr<app::TOpenFileForm> browse(app::TBrowserMode mode) {
        auto f = std::make_unique<app::TOpenFileForm>(form(), mode, account, "");
        f->show();
        EXPECT_TRUE(processUntil([&] { return names(*f).size() >= 3; }, 10000));
        return f;
    }

    static std::vector<std::string> names(app::TOpenFileForm& f) {
        std::vector<std::string> out;
        for (int i = 0; i < f.list()->topLevelItemCount(); ++i)
            out.push_back(f.list()->topLevelItem(i)->text(0).toStdString());
        return out;
    }
    static QTreeWidgetItem* item(app::TOpenFileForm& f, const std::string& name) {
        for (int i = 0; i < f.list()->topLevelItemCount(); ++i)
            if (f.list()->topLevelItem(i)->text(0).toStdString() == name)
                return f.list()->topLevelItem(i);
        return nullptr;
    }
    static void typeAndOk(app::TOpenFileForm& f, const QString& text) {
        f.fileNameEdit()->setFocus();
        f.fileNameEdit()->setText(text);
        QTest::mouseClick(f.okButton(), Qt::LeftButton);
    }

    net::TAccount account;
    std::unique_ptr<FtpServerProcess> server;
};

using BrowserFormPy = BrowserForm;

} // namespace

TEST_F(BrowserFormPy, DoubleClickEntersFolderAndEnterOnFileReturnsIt) {
    startServer(ServerKind::Pyftpdlib);
    auto f = browse(app::TBrowserMode::Open);
    EXPECT_EQ(f->windowTitle(), "Open file");
    EXPECT_THAT(names(*f), ::testing::ElementsAre("sub", "a.txt", "b.html"));
    QTreeWidgetItem* sub = item(*f, "sub");
    ASSERT_NE(sub, nullptr);
    QRect r = f->list()->visualItemRect(sub);
    // A real double-click: a click, then the second press that arrives as a double-click.
    QTest::mouseClick(f->list()->viewport(), Qt::LeftButton, {}, r.center());
    QTest::mouseDClick(f->list()->viewport(), Qt::LeftButton, {}, r.center());
    ASSERT_TRUE(processUntil([&] { return item(*f, "inner.txt") != nullptr; }, 10000));
    EXPECT_EQ(f->browser().account().Directory, "/sub");
    EXPECT_TRUE(processUntil([&] { return !f->browser().running(); }));
    EXPECT_TRUE(dialogs.shown.empty()) << dialogs.shown.front().text;
    // The path combo shows the folder under the account.
    EXPECT_EQ(f->pathCombo()->currentText().trimmed(), "sub");

    QTreeWidgetItem* inner = item(*f, "inner.txt");
    f->list()->setFocus();
    f->list()->setCurrentItem(inner);
    QTest::keyClick(f->list(), Qt::Key_Return);
    ASSERT_TRUE(processUntil([&] { return !f->isVisible(); }));
    EXPECT_EQ(f->result(), QDialog::Accepted);
    EXPECT_THAT(f->browserResult().fileNames, ::testing::ElementsAre("inner.txt"));
    EXPECT_EQ(f->browserResult().account.Directory, "/sub");
    // Closing stored the window settings.
    EXPECT_EQ(form_->readSetting("FileView"), "Details");
    EXPECT_FALSE(form_->readSetting("OpenWindowWidth").empty());
}

TEST_F(BrowserFormPy, PatternFiltersAndSaveModeAsksBeforeOverwriting) {
    startServer(ServerKind::Pyftpdlib);
    auto f = browse(app::TBrowserMode::Save);
    EXPECT_EQ(f->okButton()->text(), "&Save");
    typeAndOk(*f, "*.txt");
    EXPECT_THAT(names(*f), ::testing::ElementsAre("sub", "a.txt"));
    EXPECT_TRUE(f->isVisible());

    // b.html is hidden by the filter and still counts as existing.
    dialogs.answers = {platform::MsgResult::No};
    typeAndOk(*f, "b.html");
    ASSERT_FALSE(dialogs.shown.empty());
    EXPECT_EQ(dialogs.shown.back().text, "Overwrite existing file b.html");
    EXPECT_TRUE(f->isVisible());

    typeAndOk(*f, "new.txt");
    ASSERT_TRUE(processUntil([&] { return !f->isVisible(); }));
    EXPECT_THAT(f->browserResult().fileNames, ::testing::ElementsAre("new.txt"));
}

TEST_F(BrowserFormPy, FailedDirectoryChangeKeepsListingAndDeleteAsksPerFile) {
    startServer(ServerKind::Pyftpdlib);
    auto f = browse(app::TBrowserMode::Open);
    f->browser().enqueue(net::bcChangeDir, "missing");
    f->browser().kick();
    ASSERT_TRUE(processUntil([&] { return !dialogs.shown.empty(); }, 10000));
    EXPECT_THAT(dialogs.shown.back().text,
                ::testing::StartsWith("Error changing to directory missing:\r\n"));
    EXPECT_EQ(names(*f).size(), 3u);

    item(*f, "a.txt")->setSelected(true);
    item(*f, "b.html")->setSelected(true);
    dialogs.answers = {platform::MsgResult::Yes, platform::MsgResult::No};
    f->deleteSelected();
    ASSERT_TRUE(processUntil([&] { return names(*f).size() == 2; }, 10000));
    EXPECT_FALSE(std::filesystem::exists(server->root() / "a.txt"));
    EXPECT_TRUE(std::filesystem::exists(server->root() / "b.html"));
}

TEST_P(BrowserForm, PropertiesFormChangesTheModeOnDisk) {
    startServer(GetParam());
    auto file = server->root() / "a.txt";
    ::chmod(file.c_str(), 0644);
    auto f = browse(app::TBrowserMode::Open);
    ASSERT_TRUE(processUntil([&] { return !f->browser().running(); }));
    const net::TDirectoryEntry* e = f->browser().find("a.txt");
    ASSERT_NE(e, nullptr);
    app::TFilePropertiesForm p(f->browser().fileSystem(),
                               f->browser().fileSystem().CurrentDirectory(), {*e}, dialogs, {},
                               f.get());
    p.show();
    EXPECT_TRUE(p.box(0, 0)->isChecked());
    EXPECT_FALSE(p.box(2, 1)->isChecked());
    // Group write on, others read off: 660.
    p.box(1, 1)->setChecked(true);
    p.box(2, 0)->setChecked(false);
    ASSERT_EQ(p.items().size(), 1u);
    EXPECT_EQ(p.items()[0].mode, 0660);
    dialogs.answers = {platform::MsgResult::No};
    QTest::mouseClick(p.okButton(), Qt::LeftButton);
    struct stat st {};
    if (GetParam() == ServerKind::Pyftpdlib) {
        ASSERT_TRUE(processUntil([&] { return p.result() == QDialog::Accepted; }, 10000));
        ASSERT_EQ(::stat(file.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0660u);
        EXPECT_EQ(p.status(), "Done.");
    } else {
        // This server refuses SITE CHMOD to anonymous logins: the question, then the error stays.
        ASSERT_TRUE(processUntil([&] { return p.status().startsWith("Error: 550"); }, 10000));
        EXPECT_THAT(dialogs.shown.back().text,
                    ::testing::StartsWith("Could not set attributes for a.txt\r\n550"));
        EXPECT_TRUE(p.isVisible());
        ASSERT_EQ(::stat(file.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0644u);
    }
    p.reject();
    // The browser has its client back.
    f->browser().enqueue(net::bcRefresh);
    f->browser().kick();
    EXPECT_TRUE(processUntil([&] { return !f->browser().running(); }, 10000));
    EXPECT_TRUE(f->browser().fileSystem().Connected());
}

INSTANTIATE_TEST_SUITE_P(Servers, BrowserForm,
                         ::testing::Values(ServerKind::Pyftpdlib, ServerKind::Vsftpd));

TEST_F(BrowserFormPy, FolderChooserListsOnExpansionAndReturnsThePath) {
    startServer(ServerKind::Pyftpdlib);
    std::filesystem::create_directories(server->root() / "sub" / "deeper");
    form();
    app::TChooseDirectoryForm chooser(*form_, {account});
    chooser.show();
    EXPECT_EQ(chooser.windowTitle(), "Select a directory");
    QTreeWidget* tree = chooser.tree();
    ASSERT_EQ(tree->topLevelItemCount(), 1);
    QTreeWidgetItem* root = tree->topLevelItem(0);
    EXPECT_EQ(root->text(0), "Local ()");
    // Before the account connected, its node stands for the login directory.
    EXPECT_EQ(chooser.pathOf(root), "");
    tree->expandItem(root);
    ASSERT_TRUE(processUntil([&] { return root->childCount() == 1 && chooser.idle(); }, 10000));
    QTreeWidgetItem* sub = root->child(0);
    EXPECT_EQ(sub->text(0), "sub");
    tree->expandItem(sub);
    ASSERT_TRUE(processUntil([&] { return sub->childCount() == 1 && chooser.idle(); }, 10000));
    tree->setCurrentItem(sub->child(0));
    QTest::mouseClick(chooser.okButton(), Qt::LeftButton);
    EXPECT_EQ(chooser.result(), QDialog::Accepted);
    EXPECT_EQ(chooser.path(), "/sub/deeper");
}

TEST_F(BrowserFormPy, FolderChooserGivesUpASilentServer) {
    using morvane::testing::ScriptedFtpServer;
    auto stall = [](ScriptedFtpServer::Session& s, const std::string&) {
        s.send("150 Opening\r\n");
        s.dataConnect();
        s.dataSend("drwxr-xr-x 2 u g 4096 Jan  1 12:00 first\r\ndrwx");
    };
    for (bool greets : {false, true}) {
        SCOPED_TRACE(greets ? "stalls mid-listing" : "never greets");
        ScriptedFtpServer server;
        if (!greets) server.greeting = "";
        server.handlers["LIST"] = stall;
        server.start();
        account.Name = "Silent";
        account.Hostname = "127.0.0.1";
        account.Port = server.port();
        auto old = net::TMsgFTP::DefaultTimeout();
        net::TMsgFTP::SetDefaultTimeout(std::chrono::milliseconds(300));
        app::TChooseDirectoryForm chooser(form(), {account});
        net::TMsgFTP::SetDefaultTimeout(old);
        chooser.show();
        QTreeWidgetItem* root = chooser.tree()->topLevelItem(0);
        chooser.tree()->expandItem(root);
        auto* status = chooser.findChild<QStatusBar*>("StatusBar");
        ASSERT_NE(status, nullptr);
        ASSERT_TRUE(processUntil(
            [&] { return !status->currentMessage().isEmpty() && chooser.idle(); }, 10000));
        EXPECT_EQ(status->currentMessage().toStdString(),
                  "The server did not answer in 300 milliseconds; the connection was closed.");
    }
}

TEST_F(BrowserFormPy, FolderChooserLogsInAgainWhenTheServerDroppedTheConnection) {
    using morvane::testing::ScriptedFtpServer;
    ScriptedFtpServer server;
    std::atomic<int> lists{0};
    server.handlers["LIST"] = [&](ScriptedFtpServer::Session& s, const std::string&) {
        // The first listing finds the connection gone (the server dropped it while idle).
        if (lists++ == 0) return s.close();
        s.send("150 Opening\r\n");
        if (!s.dataConnect()) return;
        s.dataSend("drwxr-xr-x 2 u g 4096 Jan  1 12:00 first\r\n");
        s.dataClose();
        s.send("226 Done\r\n");
    };
    server.start();
    account.Name = "Dropping";
    account.Hostname = "127.0.0.1";
    account.Port = server.port();
    account.Username = "user";
    account.Password = "";
    account.PromptForPassword = true;
    int asked = 0;
    app::TMainForm& f = form();
    f.remote().prompts.askPassword = [&](const net::TAccount&) {
        ++asked;
        return std::optional<std::string>("secret");
    };
    app::TChooseDirectoryForm chooser(f, {account});
    chooser.show();
    QTreeWidgetItem* root = chooser.tree()->topLevelItem(0);
    chooser.tree()->expandItem(root);
    ASSERT_TRUE(processUntil([&] { return root->childCount() == 1 && chooser.idle(); }, 10000));
    EXPECT_EQ(root->child(0)->text(0), "first");
    EXPECT_EQ(lists, 2);
    auto commands = server.commands();
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "USER user"), 2);
    EXPECT_EQ(asked, 1); // the login again uses the password typed for the first
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(BrowserFormPy, RenameWaitsForTheServerAndBackspaceGoesUp) {
    startServer(ServerKind::Pyftpdlib);
    auto f = browse(app::TBrowserMode::Open);
    // An edited caption goes back to the old name until the server confirms the rename.
    item(*f, "a.txt")->setText(0, "renamed.txt");
    EXPECT_NE(item(*f, "a.txt"), nullptr);
    ASSERT_TRUE(processUntil([&] { return item(*f, "renamed.txt") != nullptr; }, 10000));
    EXPECT_TRUE(std::filesystem::exists(server->root() / "renamed.txt"));

    f->browser().enqueue(net::bcChangeDir, "sub");
    f->browser().kick();
    ASSERT_TRUE(processUntil([&] { return item(*f, "inner.txt") != nullptr; }, 10000));
    f->list()->setFocus();
    QTest::keyClick(f->list(), Qt::Key_Backspace);
    ASSERT_TRUE(processUntil([&] { return item(*f, "sub") != nullptr; }, 10000));
    EXPECT_EQ(f->browser().account().Directory, "/");
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_P(BrowserForm, LinksAndTypedPathsOpenFilesAndEnterFolders) {
    startServer(GetParam());
    std::filesystem::create_symlink("a.txt", server->root() / "to-a.txt");
    std::filesystem::create_symlink("sub", server->root() / "to-sub");
    auto f = browse(app::TBrowserMode::Open);
    ASSERT_TRUE(processUntil([&] { return names(*f).size() == 5 && !f->browser().running(); }));
    // The name box has the focus, so that a name typed at once goes there.
    EXPECT_EQ(f->focusWidget(), f->fileNameEdit());

    // A link to a folder enters it.
    f->list()->setFocus();
    f->list()->setCurrentItem(item(*f, "to-sub"));
    QTest::keyClick(f->list(), Qt::Key_Return);
    ASSERT_TRUE(processUntil([&] { return item(*f, "inner.txt") != nullptr; }, 10000));
    EXPECT_TRUE(processUntil([&] { return !f->browser().running(); }));
    // The location shows the folder (by the link's name, or the target's where the server says).
    EXPECT_THAT(f->pathCombo()->currentText().trimmed().toStdString(),
                ::testing::AnyOf("to-sub", "sub"));
    QTest::keyClick(f->list(), Qt::Key_Backspace);
    ASSERT_TRUE(
        processUntil([&] { return item(*f, "to-a.txt") && !f->browser().running(); }, 10000));

    // A link to a file opens the file.
    f->list()->setCurrentItem(item(*f, "to-a.txt"));
    QTest::keyClick(f->list(), Qt::Key_Return);
    ASSERT_TRUE(processUntil([&] { return !f->isVisible(); }, 10000));
    EXPECT_EQ(f->result(), QDialog::Accepted);
    EXPECT_THAT(f->browserResult().fileNames, ::testing::ElementsAre("to-a.txt"));
    EXPECT_TRUE(dialogs.shown.empty()) << dialogs.shown.front().text;

    // A path typed into the name box: its folder is entered and the file opened.
    auto g = browse(app::TBrowserMode::Open);
    ASSERT_TRUE(processUntil([&] { return !g->browser().running(); }));
    QTest::keyClicks(g->fileNameEdit(), "sub/inner.txt");
    QTest::keyClick(g->fileNameEdit(), Qt::Key_Return);
    ASSERT_TRUE(processUntil([&] { return !g->isVisible(); }, 10000));
    EXPECT_THAT(g->browserResult().fileNames, ::testing::ElementsAre("inner.txt"));
    EXPECT_THAT(g->browserResult().account.Directory, ::testing::EndsWith("/sub"));
    EXPECT_EQ(g->browserResult().fileNameText, "inner.txt");
    EXPECT_EQ(g->pathCombo()->currentText().trimmed(), "sub");
    EXPECT_TRUE(g->status().isEmpty());
    EXPECT_TRUE(dialogs.shown.empty()) << dialogs.shown.front().text;
}
