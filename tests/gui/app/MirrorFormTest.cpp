// The mirroring window offscreen: started from the account manager, against a real server and a
// scripted one that stalls mid-transfer for Cancel and Escape.
#include "FtpServers.h"
#include "MainFormFixture.h"
#include "ScriptedFtpServer.h"

#include "gui/app/AccountsForm.h"
#include "gui/app/MirrorForm.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include <gmock/gmock.h>

using namespace morvane;
using namespace morvane::app;
using morvane::testing::FtpServerProcess;
using morvane::testing::MainFormFixture;
using morvane::testing::processUntil;
using morvane::testing::readFile;
using morvane::testing::ScriptedFtpServer;
using morvane::testing::ServerKind;
using morvane::testing::writeFile;
using ::testing::HasSubstr;
namespace fs = std::filesystem;

namespace {

class MirrorWindow : public MainFormFixture {
protected:
    net::TAccount account(const std::string& host, int port, const std::string& user,
                          const std::string& password, const fs::path& folder) {
        net::TAccount a;
        a.Name = "site";
        a.Hostname = host;
        a.Port = port;
        a.Username = user;
        a.Password = password;
        a.EnableMirroring = true;
        a.MirrorDirectory = folder.string();
        return a;
    }
    bool shown(const std::string& text) {
        for (const auto& s : dialogs.shown)
            if (s.text == text) return true;
        return false;
    }
};

} // namespace

TEST_F(MirrorWindow, MirrorNowCreatesTheMissingFolderAndCopiesTheTree) {
    FtpServerProcess server(ServerKind::Pyftpdlib);
    ASSERT_EQ(server.error(), "");
    fs::create_directories(server.root() / "sub");
    writeFile(server.root() / "top.html", "<p>top</p>");
    writeFile(server.root() / "sub" / "bytes.bin", std::string("\0\xff\r\n", 4));
    fs::path folder = dir / "mirror" / "site";
    ASSERT_TRUE(net::SaveAccount(
        registry, "site",
        account("127.0.0.1", server.port(), server.user(), server.password(), folder)));
    TMainForm& f = form();
    TAccountsForm accounts(f);
    auto* edit = accounts.findChild<QLineEdit*>("MirrorFolderEdit");
    auto* now = accounts.findChild<QPushButton*>("MirrorNowButton");
    ASSERT_TRUE(edit && now && now->isEnabled());

    // An empty folder is refused before any window opens.
    edit->setText("");
    now->click();
    EXPECT_TRUE(shown("You must enter a directory to mirror to."));
    EXPECT_EQ(accounts.findChild<TMirrorForm*>(), nullptr);

    edit->setText(QString::fromStdString(folder.string()));
    now->click();
    QPointer<TMirrorForm> mirror = accounts.findChild<TMirrorForm*>();
    ASSERT_TRUE(mirror);
    EXPECT_EQ(mirror->windowTitle(), "Mirroring account");
    ASSERT_TRUE(processUntil([&] { return mirror.isNull(); }, 20000)); // frees itself
    EXPECT_TRUE(shown("Directory " + folder.string() + " does not exist, create it and continue?"));
    EXPECT_TRUE(shown("Finished mirroring to " + folder.string()));
    EXPECT_EQ(readFile(folder / "top.html"), "<p>top</p>");
    EXPECT_EQ(readFile(folder / "sub" / "bytes.bin"), std::string("\0\xff\r\n", 4));

    // No to the missing folder: nothing is made, nothing is asked of the server.
    fs::path other = dir / "elsewhere";
    edit->setText(QString::fromStdString(other.string()));
    dialogs.answers.push_back(platform::MsgResult::No);
    now->click();
    mirror = accounts.findChild<TMirrorForm*>();
    ASSERT_TRUE(processUntil([&] { return mirror.isNull(); }, 5000));
    EXPECT_FALSE(fs::exists(other));
}

TEST_F(MirrorWindow, CancelAndEscapeEndATransferAndKeepThePreviousCopy) {
    ScriptedFtpServer server;
    server.listing = "-rw-r--r-- 1 u g 1000000 Jan  1 12:00 big.bin\r\n";
    server.handlers["RETR"] = [](ScriptedFtpServer::Session& s, const std::string&) {
        s.send("150 Here\r\n");
        s.dataConnect();
        s.dataSend(std::string(4000, 'x'));
        s.stall(3000); // the rest never comes before the user gives up
        s.dataClose();
        s.close();
    };
    server.start();
    fs::path folder = dir / "copy";
    fs::create_directories(folder);
    writeFile(folder / "big.bin", "previous");
    TMainForm& f = form();
    for (bool escape : {false, true}) {
        SCOPED_TRACE(escape ? "Escape" : "Cancel");
        auto* mirror =
            new TMirrorForm(f, account("127.0.0.1", server.port(), "u", "p", folder), &f);
        mirror->setAttribute(Qt::WA_DeleteOnClose);
        QPointer<TMirrorForm> alive = mirror;
        mirror->open();
        ASSERT_TRUE(processUntil([&] { return mirror->bytesText() == "4000"; }, 10000))
            << mirror->statusText().toStdString();
        EXPECT_EQ(mirror->statusText(), "Getting file big.bin");
        if (escape)
            QTest::keyClick(mirror, Qt::Key_Escape);
        else
            mirror->findChild<QPushButton*>("CancelButton")->click();
        ASSERT_TRUE(processUntil([&] { return alive.isNull(); }, 5000));
        EXPECT_EQ(readFile(folder / "big.bin"), "previous");
        EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
        for (const auto& s : dialogs.shown)
            EXPECT_THAT(s.text, ::testing::Not(HasSubstr("Continue with mirroring?")));
        processUntil([] { return false; }, 3200); // the server ends its stalled session
    }
}

TEST_F(MirrorWindow, FailedStepsAskAndSkippedNamesGoToTheOutputPane) {
    ScriptedFtpServer server;
    server.listing = "-rw-r--r-- 1 u g 5 Jan  1 12:00 ../escape\r\n"
                     "-rw-r--r-- 1 u g 5 Jan  1 12:00 missing.txt\r\n";
    server.start();
    fs::path folder = dir / "copy";
    fs::create_directories(folder);
    TMainForm& f = form();
    dialogs.answers.push_back(platform::MsgResult::No); // to the question after missing.txt
    auto* mirror = new TMirrorForm(f, account("127.0.0.1", server.port(), "u", "p", folder), &f);
    mirror->setAttribute(Qt::WA_DeleteOnClose);
    QPointer<TMirrorForm> alive = mirror;
    mirror->open();
    ASSERT_TRUE(processUntil([&] { return alive.isNull(); }, 10000));
    ASSERT_FALSE(dialogs.shown.empty());
    EXPECT_THAT(dialogs.shown.back().text, HasSubstr("missing.txt"));
    EXPECT_THAT(dialogs.shown.back().text, HasSubstr("\nContinue with mirroring?"));
    EXPECT_FALSE(shown("Finished mirroring to " + folder.string()));
    EXPECT_TRUE(f.outputVisible());
    QListWidget* out = f.outputList();
    ASSERT_GE(out->count(), 1);
    EXPECT_THAT(out->item(0)->text().toStdString(), HasSubstr("../escape"));
    EXPECT_FALSE(fs::exists(dir / "escape"));
}

TEST_F(MirrorWindow, MinimisingTheWindowMinimisesTheProgram) {
    TMainForm& f = form();
    TMirrorForm mirror(f, account("127.0.0.1", 1, "u", "p", dir / "copy"), &f);
    EXPECT_FALSE(f.isMinimized());
    mirror.setWindowState(Qt::WindowMinimized); // not shown: no walk starts
    EXPECT_TRUE(f.isMinimized());
}
