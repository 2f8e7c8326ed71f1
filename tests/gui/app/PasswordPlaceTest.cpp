// Passwords kept outside the settings, as the windows show them: the account manager with the
// keyring's passwords and a sentence saying where they are kept, its renames and deletions
// reaching the keyring, and the password prompt that keeps a password for the run or saves it.

#include "FtpServers.h"
#include "MainFormFixture.h"
#include "core/net/AccountSecrets.h"
#include "core/net/FtpFileSystem.h"
#include "gui/app/AccountsForm.h"
#include "gui/app/MorvaneEditor.h"
#include "gui/editor/CodeMemo.h"
#include "support/MemorySecretStore.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <fstream>
#include <sstream>

#include <gmock/gmock.h>

using namespace morvane;
using namespace morvane::app;
using morvane::testing::MemorySecretStore;
using morvane::testing::processUntil;
using morvane::testing::settle;
using ::testing::HasSubstr;

namespace {

class PasswordPlace : public morvane::testing::MainFormFixture {
protected:
    std::unique_ptr<MemorySecretStore> keyring;
    std::unique_ptr<net::TAccountSecrets> keeper;
    std::vector<std::string> problems;

    void SetUp() override {
        MainFormFixture::SetUp();
        loop = platform::makeQtEventLoop();
        keyring = std::make_unique<MemorySecretStore>(*loop);
        keeper = std::make_unique<net::TAccountSecrets>(registry, *loop, keyring.get());
        keeper->onProblem = [this](const std::string& m) { problems.push_back(m); };
        secrets = keeper.get();
    }
    void TearDown() override { finish(); }
    void start() {
        keeper->start();
        finish();
    }
    void finish() {
        processUntil([this] { return keeper->idle(); });
        settle();
    }
    void save(const std::string& name, const std::string& password, bool prompt = false) {
        net::TAccount a;
        a.Name = name;
        a.Hostname = name + ".example";
        a.Password = password;
        a.PromptForPassword = prompt;
        ASSERT_TRUE(net::SaveAccount(registry, name, a));
    }
    std::string filed(const std::string& name) {
        net::TAccount a;
        net::LoadAccount(registry, name, a);
        return a.Password;
    }
    std::string inKeyring(const std::string& name) {
        return keyring->secretOf({{"program", net::kSecretProgram}, {"account", name}});
    }
    static void answerPrompt(const QString& password, bool save, int* asked = nullptr) {
        QTimer::singleShot(0, [=] {
            processUntil([] { return QApplication::activeModalWidget() != nullptr; }, 3000);
            QWidget* w = QApplication::activeModalWidget();
            if (!w) return;
            if (asked) ++*asked;
            auto* check = w->findChild<QCheckBox*>("SavePasswordCheck");
            EXPECT_TRUE(check && check->isVisibleTo(w));
            if (check) check->setChecked(save);
            w->findChild<QLineEdit*>("PasswordEdit")->setText(password);
            static_cast<QDialog*>(w)->accept();
        });
    }
};

TEST_F(PasswordPlace, TheManagerShowsKeyringPasswordsAndRenamesAndDeletesTheirSecrets) {
    save("site", "pw");
    save("old", "po");
    start(); // both move into the keyring
    ASSERT_EQ(filed("site"), "");
    ASSERT_EQ(inKeyring("site"), "pw");
    TMainForm& f = form();
    {
        TAccountsForm accounts(f);
        EXPECT_THAT(accounts.findChild<QLabel*>("PasswordPlaceLabel")->text().toStdString(),
                    HasSubstr("desktop keyring"));
        accounts.selectRow(0);
        EXPECT_EQ(accounts.findChild<QLineEdit*>("PasswordEdit")->text(), "pw");
        // "site" becomes "renamed"; "old" goes.
        accounts.findChild<QListWidget*>("AccountList")->item(0)->setText("renamed");
        accounts.selectRow(1);
        dialogs.answers.push_back(platform::MsgResult::Yes);
        accounts.deleteSelected();
        accounts.accept();
        ASSERT_EQ(accounts.result(), QDialog::Accepted);
    }
    finish();
    EXPECT_EQ(inKeyring("site"), "<none>");
    EXPECT_EQ(inKeyring("old"), "<none>");
    EXPECT_EQ(inKeyring("renamed"), "pw");
    EXPECT_EQ(filed("renamed"), "");
    EXPECT_TRUE(problems.empty());
}

TEST_F(PasswordPlace, AKeyringThatCannotBeReadIsNamedInTheManager) {
    save("site", "");
    start();
    keyring->failure = "The desktop keyring is locked.";
    TMainForm& f = form();
    TAccountsForm accounts(f);
    EXPECT_THAT(accounts.findChild<QLabel*>("PasswordPlaceLabel")->text().toStdString(),
                HasSubstr("could not be read (The desktop keyring is locked.)"));
    EXPECT_EQ(accounts.findChild<QLineEdit*>("PasswordEdit")->text(), "");
    ASSERT_EQ(problems.size(), 1u);
}

TEST_F(PasswordPlace, WithoutAKeyringTheManagerSaysTheSettingsFileKeepsThem) {
    keyring->failure = "no bus";
    save("site", "pw");
    start();
    TMainForm& f = form();
    TAccountsForm accounts(f);
    EXPECT_THAT(accounts.findChild<QLabel*>("PasswordPlaceLabel")->text().toStdString(),
                HasSubstr("settings file"));
    EXPECT_EQ(accounts.findChild<QLineEdit*>("PasswordEdit")->text(), "pw");
    EXPECT_EQ(filed("site"), "pw");
}

TEST_F(PasswordPlace, ATypedPasswordIsKeptForTheRunAndSavedOnlyWhenTicked) {
    save("ask", "", true);
    save("keep", "", true);
    start();
    TMainForm& f = form();
    auto ftpLoop = platform::makePollEventLoop();
    net::TFtpFileSystem ftp(*ftpLoop);
    net::TAccount ask;
    ASSERT_TRUE(net::LoadAccount(registry, "ask", ask));
    answerPrompt("typed", false);
    ASSERT_TRUE(net::ApplyAccount(ask, ftp, f.firewallSettings(), f.remote().prompts));
    EXPECT_EQ(ftp.Login().password, "typed");
    ftp.SetLogin({});
    // No prompt the second time (nobody would answer it).
    ASSERT_TRUE(net::ApplyAccount(ask, ftp, f.firewallSettings(), f.remote().prompts));
    EXPECT_EQ(ftp.Login().password, "typed");
    finish();
    EXPECT_EQ(inKeyring("ask"), "<none>");
    net::TAccount stored;
    ASSERT_TRUE(net::LoadAccount(registry, "ask", stored));
    EXPECT_TRUE(stored.PromptForPassword);

    net::TAccount keep;
    ASSERT_TRUE(net::LoadAccount(registry, "keep", keep));
    answerPrompt("saved", true);
    ASSERT_TRUE(net::ApplyAccount(keep, ftp, f.firewallSettings(), f.remote().prompts));
    finish();
    EXPECT_EQ(inKeyring("keep"), "saved");
    ASSERT_TRUE(net::LoadAccount(registry, "keep", stored));
    EXPECT_FALSE(stored.PromptForPassword);
    EXPECT_EQ(stored.Password, "");
}

// A wrong password typed at the prompt is not kept: the next open asks again.
TEST_F(PasswordPlace, ARefusedPasswordIsAskedForAgainAndARightOneIsKept) {
    morvane::testing::FtpServerProcess server(morvane::testing::ServerKind::Pyftpdlib);
    ASSERT_EQ(server.error(), "");
    std::ofstream(server.root() / "page.txt") << "text\n";
    net::TAccount account;
    account.Name = "asks";
    account.Hostname = "127.0.0.1";
    account.Port = server.port();
    account.Username = server.user();
    account.PromptForPassword = true;
    ASSERT_TRUE(net::SaveAccount(registry, account.Name, account));
    start();
    TMainForm& f = form();
    int asked = 0;
    auto open = [&] {
        f.remote().openRemoteDocument(account, "", "page.txt");
        // A failed open closes the document: watch it through a guarded pointer.
        QPointer<TMorvaneEditor> doc = qobject_cast<TMorvaneEditor*>(f.activeDocument());
        EXPECT_TRUE(processUntil([&] { return !doc || !doc->Busy(); }, 15000));
        settle();
    };
    answerPrompt("wrong", false, &asked);
    open();
    EXPECT_EQ(asked, 1);
    ASSERT_EQ(dialogs.texts().size(), 1u);
    EXPECT_THAT(dialogs.texts()[0], HasSubstr("Error connecting to host"));
    answerPrompt(QString::fromStdString(server.password()), false, &asked);
    open();
    EXPECT_EQ(asked, 2);
    open(); // kept for the run: no question
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(dialogs.texts().size(), 1u);
    form_.reset(); // documents and their sessions go before the server
}

// Five files of one account opened at once share its logins: one question, at most two logins.
TEST_F(PasswordPlace, FiveFilesOpenedAtOnceAskOnceAndLogInAtMostTwice) {
    morvane::testing::FtpServerProcess server(morvane::testing::ServerKind::Pyftpdlib);
    ASSERT_EQ(server.error(), "");
    for (int i = 1; i <= 5; ++i)
        std::ofstream(server.root() / ("f" + std::to_string(i) + ".txt")) << "file " << i;
    net::TAccount account;
    account.Name = "five";
    account.Hostname = "127.0.0.1";
    account.Port = server.port();
    account.Username = server.user();
    account.PromptForPassword = true;
    ASSERT_TRUE(net::SaveAccount(registry, account.Name, account));
    start();
    TMainForm& f = form();
    int asked = 0;
    answerPrompt(QString::fromStdString(server.password()), false, &asked);
    std::vector<QPointer<TMorvaneEditor>> docs;
    for (int i = 1; i <= 5; ++i) {
        f.remote().openRemoteDocument(account, "", "f" + std::to_string(i) + ".txt");
        docs.emplace_back(qobject_cast<TMorvaneEditor*>(f.activeDocument()));
    }
    ASSERT_TRUE(processUntil(
        [&] {
            for (auto& d : docs)
                if (!d || d->Busy()) return false;
            return true;
        },
        20000));
    settle();
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(docs[std::size_t(i)]);
        EXPECT_EQ(docs[std::size_t(i)]->Editor().Text(), "file " + std::to_string(i + 1));
    }
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(dialogs.texts().empty());
    std::istringstream log(server.output());
    int logins = 0;
    for (std::string line; std::getline(log, line);)
        logins += line.find("USER '" + server.user() + "' logged in") != std::string::npos;
    EXPECT_GE(logins, 1);
    EXPECT_LE(logins, 2) << server.output();
    form_.reset(); // documents and their sessions go before the server
}

} // namespace
