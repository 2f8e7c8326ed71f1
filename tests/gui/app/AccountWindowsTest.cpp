// The account manager, the quick-connect and password prompts, and the main window's remote
// commands that use accounts: Open, references on the command line, the recent-files list.

#include "MainFormFixture.h"
#include "core/app/RecentFiles.h"
#include "core/net/FtpFileSystem.h"
#include "core/platform/EventLoop.h"
#include "gui/app/AccountsForm.h"
#include "gui/app/EnterPasswordForm.h"
#include "gui/app/QuickConnectForm.h"

#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMap>
#include <QMenu>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <gmock/gmock.h>

using namespace morvane;
using namespace morvane::app;
using morvane::testing::MainFormFixture;
using morvane::testing::processUntil;
using morvane::testing::readFile;
using morvane::testing::settle;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

template <class T> T* child(QObject* parent, const char* name) {
    T* w = parent->findChild<T*>(name);
    EXPECT_NE(w, nullptr) << name;
    return w;
}

class AccountWindows : public MainFormFixture {
protected:
    void store(std::initializer_list<const char*> names) {
        for (const char* n : names) {
            net::TAccount a;
            a.Name = n;
            a.Hostname = std::string(n) + ".example";
            a.Directory = std::string("/home/") + n;
            ASSERT_TRUE(net::SaveAccount(registry, n, a));
        }
    }
    std::string hive() { return readFile(dir / "cfg" / "user.reg"); }
};

TEST_F(AccountWindows, WithoutAccountsTheManagerAsksForANewOne) {
    TMainForm& f = form();
    f.remote().chooseDirectory = nullptr; // a build without the remote folder chooser
    TAccountsForm accounts(f);
    EXPECT_EQ(accounts.windowTitle(), "Accounts");
    EXPECT_TRUE(child<QLabel>(&accounts, "NoAccountsLabel")->isVisibleTo(&accounts));
    EXPECT_FALSE(child<QTabWidget>(&accounts, "Pages")->isVisibleTo(&accounts));
    EXPECT_THAT(child<QPushButton>(&accounts, "NewButton")->styleSheet().toStdString(),
                HasSubstr("red"));
    // The remote folder chooser is offered only when a browser provides it.
    EXPECT_FALSE(child<QPushButton>(&accounts, "DirectoryButton")->isEnabled());
}

TEST_F(AccountWindows, NewAccountRenamedWithBlanksIsStoredWithoutThemAndBecomesDefault) {
    TMainForm& f = form();
    TAccountsForm accounts(f);
    accounts.show();
    child<QPushButton>(&accounts, "NewButton")->click();
    settle();
    auto* list = child<QListWidget>(&accounts, "AccountList");
    ASSERT_EQ(list->count(), 1);
    EXPECT_EQ(list->item(0)->text(), "New account");
    EXPECT_TRUE(accounts.renaming());
    EXPECT_FALSE(child<QLabel>(&accounts, "NoAccountsLabel")->isVisibleTo(&accounts));

    // Typing into the in-place editor, then OK: the first OK only ends the rename.
    auto* editor = list->findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr);
    editor->setText("my server");
    accounts.accept();
    EXPECT_FALSE(accounts.renaming());
    EXPECT_NE(accounts.result(), QDialog::Accepted);
    EXPECT_EQ(list->item(0)->text(), "myserver");
    EXPECT_EQ(accounts.accounts()[0].Name, "myserver");
    EXPECT_TRUE(net::AccountNames(registry).empty()); // nothing written yet

    child<QLineEdit>(&accounts, "HostEdit")->setText("ftp.example.org");
    accounts.accept();
    EXPECT_EQ(accounts.result(), QDialog::Accepted);
    EXPECT_THAT(net::AccountNames(registry), ElementsAre("myserver"));
    EXPECT_EQ(f.lastUsedAccount().Name, "myserver");
    EXPECT_EQ(f.lastUsedAccount().Hostname, "ftp.example.org");
}

TEST_F(AccountWindows, MovingAnAccountToTheTopMakesItTheDefaultAfterOK) {
    store({"a", "b", "c"});
    TMainForm& f = form();
    EXPECT_EQ(f.lastUsedAccount().Name, "a");
    TAccountsForm accounts(f);
    accounts.selectRow(2);
    auto* top = child<QPushButton>(&accounts, "MoveTopButton");
    EXPECT_EQ(top->toolTip(), "Moves the account to the top");
    top->click();
    EXPECT_EQ(accounts.currentRow(), 0); // the moved account stays selected
    child<QPushButton>(&accounts, "MoveDownButton")->click();
    child<QPushButton>(&accounts, "MoveTopButton")->click();
    child<QPushButton>(&accounts, "MoveBottomButton")->click();
    child<QPushButton>(&accounts, "MoveUpButton")->click();
    // c a b -> a c b -> c a b -> a b c -> a c b
    std::vector<std::string> names;
    for (auto& a : accounts.accounts())
        names.push_back(a.Name);
    EXPECT_THAT(names, ElementsAre("a", "c", "b"));
    accounts.selectRow(1);
    child<QPushButton>(&accounts, "MoveTopButton")->click();
    accounts.accept();
    ASSERT_EQ(accounts.result(), QDialog::Accepted);
    EXPECT_THAT(net::AccountNames(registry), ElementsAre("c", "a", "b"));
    EXPECT_EQ(f.lastUsedAccount().Name, "c");
    EXPECT_EQ(f.lastUsedAccount().Directory, "/home/c");
}

TEST_F(AccountWindows, RefusedNamesAndPortsKeepTheWindowOpenAndWriteNothing) {
    store({"alpha", "beta"});
    TMainForm& f = form();
    std::string before = hive();
    TAccountsForm accounts(f);
    auto* list = child<QListWidget>(&accounts, "AccountList");
    for (const char* bad : {"ALPHA", "", "a/b", "x:y", "Quick-connect"}) {
        list->item(1)->setText(bad);
        accounts.accept();
        EXPECT_NE(accounts.result(), QDialog::Accepted) << bad;
        EXPECT_EQ(accounts.currentRow(), 1);
        EXPECT_EQ(hive(), before) << bad;
    }
    EXPECT_EQ(dialogs.shown.size(), 5u);
    EXPECT_THAT(dialogs.shown[0].text, HasSubstr("already an account named \"alpha\""));

    list->item(1)->setText("beta");
    accounts.selectRow(0);
    child<QCheckBox>(&accounts, "UsePortCheck")->setChecked(true);
    auto* port = child<QLineEdit>(&accounts, "PortEdit");
    EXPECT_TRUE(port->isEnabled());
    port->setText("70000");
    accounts.accept();
    EXPECT_NE(accounts.result(), QDialog::Accepted);
    EXPECT_THAT(dialogs.shown.back().text, HasSubstr("1 to 65535"));
    EXPECT_EQ(hive(), before);
}

TEST_F(AccountWindows, EditsWriteThroughAndThePortAndUMaskEditsTakeOnlyDigits) {
    store({"one", "two"});
    TMainForm& f = form();
    TAccountsForm accounts(f);
    accounts.show();
    accounts.selectRow(1);
    child<QLineEdit>(&accounts, "UserEdit")->setText("webmaster");
    child<QCheckBox>(&accounts, "PromptPasswordCheck")->setChecked(true);
    auto* usePort = child<QCheckBox>(&accounts, "UsePortCheck");
    auto* port = child<QLineEdit>(&accounts, "PortEdit");
    EXPECT_FALSE(port->isEnabled()); // only while "Use different port:" is checked
    usePort->setChecked(true);
    QTest::keyClicks(port, "2a1x2-1");
    EXPECT_EQ(port->text(), "2121");
    EXPECT_EQ(accounts.accounts()[1].Port, 2121);
    usePort->setChecked(false);
    EXPECT_EQ(port->text(), "");
    EXPECT_EQ(accounts.accounts()[1].Port, 21);
    usePort->setChecked(true);
    QTest::keyClicks(port, "990");

    auto* umask = child<QLineEdit>(&accounts, "UMaskEdit");
    auto* sample = child<QLabel>(&accounts, "UMaskSampleLabel");
    EXPECT_FALSE(umask->isEnabled());
    EXPECT_EQ(umask->text(), "000");
    EXPECT_EQ(sample->text(), "-rw-rw-rw-");
    child<QCheckBox>(&accounts, "UseUMaskCheck")->setChecked(true);
    umask->clear();
    QTest::keyClicks(umask, "0928");
    EXPECT_EQ(umask->text(), "02");
    QTest::keyClicks(umask, "2");
    EXPECT_EQ(sample->text(), "-rw-r--r--");

    dialogs.directoryAnswers.push_back("/home/me/mirror");
    child<QPushButton>(&accounts, "MirrorFolderButton")->click();
    EXPECT_EQ(child<QLineEdit>(&accounts, "MirrorFolderEdit")->text(), "/home/me/mirror");

    // Selecting another account and back shows what was written through.
    accounts.selectRow(0);
    EXPECT_EQ(child<QLineEdit>(&accounts, "UserEdit")->text(), "");
    accounts.selectRow(1);
    EXPECT_EQ(child<QLineEdit>(&accounts, "UserEdit")->text(), "webmaster");
    EXPECT_EQ(port->text(), "990");

    accounts.accept();
    ASSERT_EQ(accounts.result(), QDialog::Accepted);
    net::TAccount two;
    ASSERT_TRUE(net::LoadAccount(registry, "two", two));
    EXPECT_EQ(two.Username, "webmaster");
    EXPECT_TRUE(two.PromptForPassword);
    EXPECT_EQ(two.Port, 990);
    EXPECT_TRUE(two.UseUMask);
    EXPECT_EQ(two.UMask, 22);
    EXPECT_EQ(two.MirrorDirectory, "/home/me/mirror");
    EXPECT_EQ(two.Hostname, "two.example");
}

// A new account starts in passive mode; one stored before the setting shows active mode and
// keeps it until the box is ticked.
TEST_F(AccountWindows, PassiveModeBoxShowsStoresAndGatesTheServerAddressBox) {
    store({"old"});
    ASSERT_TRUE(registry.deleteValue(platform::Hive::CurrentUser,
                                     std::string(net::kAccountsRoot) + "\\old", "Passive mode"));
    TMainForm& f = form();
    TAccountsForm accounts(f);
    accounts.show();
    auto* passive = child<QCheckBox>(&accounts, "PassiveModeCheck");
    auto* serverAddress = child<QCheckBox>(&accounts, "PassiveServerAddressCheck");
    accounts.selectRow(0);
    EXPECT_FALSE(passive->isChecked());
    EXPECT_FALSE(serverAddress->isEnabled());

    child<QPushButton>(&accounts, "NewButton")->click();
    settle();
    EXPECT_TRUE(passive->isChecked());
    EXPECT_TRUE(serverAddress->isEnabled());
    EXPECT_FALSE(serverAddress->isChecked());
    if (accounts.renaming()) accounts.accept(); // ends the rename only

    accounts.selectRow(0);
    passive->setChecked(true);
    serverAddress->setChecked(true);
    accounts.accept();
    ASSERT_EQ(accounts.result(), QDialog::Accepted);
    net::TAccount old, fresh;
    ASSERT_TRUE(net::LoadAccount(registry, "old", old));
    EXPECT_TRUE(old.PassiveMode);
    EXPECT_TRUE(old.PassiveUsesServerAddress);
    ASSERT_EQ(net::AccountNames(registry).size(), 2u);
    ASSERT_TRUE(net::LoadAccount(registry, net::AccountNames(registry)[1], fresh));
    EXPECT_TRUE(fresh.PassiveMode);
    EXPECT_FALSE(fresh.PassiveUsesServerAddress);
}

// The key after '&' in a caption, lower case; none without one ("&&" is a plain '&').
QChar mnemonic(const QString& text) {
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != '&') continue;
        if (text[i + 1] != '&') return text[i + 1].toLower();
        ++i;
    }
    return {};
}

// On every page, each Alt key the user can see leads somewhere and to one place only: a label
// shows its '&' as an underline only with a buddy, and a key shared by two controls needs a
// second press.
TEST_F(AccountWindows, EveryVisibleAltKeyLeadsToOneField) {
    store({"one"});
    TMainForm& f = form();
    TAccountsForm accounts(f);
    accounts.show();
    auto* pages = child<QTabWidget>(&accounts, "Pages");
    ASSERT_GE(pages->count(), 4);
    for (int page = 0; page < pages->count(); ++page) {
        pages->setCurrentIndex(page);
        QMap<QChar, QStringList> owners;
        for (int t = 0; t < pages->count(); ++t)
            if (QChar k = mnemonic(pages->tabText(t)); !k.isNull()) owners[k] << pages->tabText(t);
        for (QWidget* w : accounts.findChildren<QWidget*>()) {
            if (!w->isVisibleTo(&accounts) || !w->isEnabled()) continue;
            QString text;
            if (auto* label = qobject_cast<QLabel*>(w)) {
                text = label->text();
                if (!mnemonic(text).isNull()) {
                    EXPECT_NE(label->buddy(), nullptr) << text.toStdString();
                }
            } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
                text = button->text();
            }
            if (QChar k = mnemonic(text); !k.isNull()) owners[k] << text;
        }
        for (auto it = owners.begin(); it != owners.end(); ++it)
            EXPECT_EQ(it.value().size(), 1) << "page " << pages->tabText(page).toStdString() << ": "
                                            << it.value().join(", ").toStdString();
        if (page == 0) {
            EXPECT_TRUE(owners.contains('d') && owners.contains('u'));
        }
    }
    auto* directory = child<QLineEdit>(&accounts, "DirectoryEdit");
    int directoryLabels = 0;
    for (QLabel* label : accounts.findChildren<QLabel*>())
        if (label->text() == "&Directory:") {
            ++directoryLabels;
            EXPECT_EQ(label->buddy(), directory);
        }
    EXPECT_EQ(directoryLabels, 1);
}

TEST_F(AccountWindows, DeleteAsksAndCancelForgetsEverything) {
    store({"keep", "drop"});
    TMainForm& f = form();
    {
        TAccountsForm accounts(f);
        accounts.selectRow(1);
        dialogs.answers = {platform::MsgResult::No};
        child<QPushButton>(&accounts, "DeleteButton")->click();
        EXPECT_EQ(accounts.accounts().size(), 2u);
        EXPECT_EQ(dialogs.shown.back().text, "Delete account drop?");
        dialogs.answers = {platform::MsgResult::Yes};
        QTest::keyClick(child<QListWidget>(&accounts, "AccountList"), Qt::Key_Delete);
        ASSERT_EQ(accounts.accounts().size(), 1u);
        EXPECT_EQ(accounts.accounts()[0].Name, "keep");
        accounts.reject();
    }
    EXPECT_THAT(net::AccountNames(registry), ElementsAre("keep", "drop"));
}

TEST_F(AccountWindows, SettingsAccountsOpensTheManager) {
    TMainForm& f = form();
    int shown = 0;
    f.remote().showAccounts = [&] { return ++shown, true; };
    QAction* accounts = f.action("SettingsAccounts");
    EXPECT_TRUE(accounts->isEnabled());
    accounts->trigger();
    EXPECT_EQ(shown, 1);
}

TEST_F(AccountWindows, QuickConnectChecksHostThenUserAndRemembersThem) {
    {
        TQuickConnectForm quick(registry, dialogs);
        EXPECT_EQ(quick.windowTitle(), "Quick-Connect");
        quick.accept();
        EXPECT_THAT(dialogs.texts(), ElementsAre("Please enter a username."));
        quick.hostEdit()->setText("  ");
        quick.userEdit()->setText("me");
        quick.accept();
        EXPECT_EQ(dialogs.texts().back(), "Please enter a hostname to connect to.");
        EXPECT_NE(quick.result(), QDialog::Accepted);
        quick.hostEdit()->setText(" ftp.example.org ");
        quick.passwordEdit()->setText("pw");
        quick.accept();
        EXPECT_EQ(quick.result(), QDialog::Accepted);
        EXPECT_EQ(quick.hostname(), "ftp.example.org");
        EXPECT_EQ(dialogs.beeps, 2);
    }
    platform::RegKey key(registry, platform::Hive::CurrentUser, net::kQuickConnectKey);
    EXPECT_EQ(key.readString("Username"), "me");
    EXPECT_FALSE(key.valueExists("Password"));

    TQuickConnectForm again(registry, dialogs);
    EXPECT_EQ(again.userEdit()->text(), "me");
    again.show();
    settle();
    EXPECT_EQ(again.focusWidget(), again.passwordEdit()); // a host is filled in already
}

// Answers the next modal dialog that opens.
void answerModal(std::function<void(QWidget*)> answer) {
    QTimer::singleShot(0, [answer] {
        processUntil([] { return QApplication::activeModalWidget() != nullptr; }, 3000);
        if (QWidget* w = QApplication::activeModalWidget()) answer(w);
    });
}

TEST_F(AccountWindows, PasswordPromptFeedsApplyAccountAndItsCancelAbortsIt) {
    TMainForm& f = form();
    auto loop = platform::makePollEventLoop();
    net::TFtpFileSystem ftp(*loop);
    net::TAccount a;
    a.Name = "secret";
    a.Hostname = "h";
    a.PromptForPassword = true;

    answerModal([](QWidget* w) {
        EXPECT_EQ(w->windowTitle(), "Password for secret");
        w->findChild<QLineEdit*>("PasswordEdit")->setText("typed");
        static_cast<QDialog*>(w)->accept();
    });
    EXPECT_TRUE(net::ApplyAccount(a, ftp, f.firewallSettings(), f.remote().prompts));
    EXPECT_EQ(ftp.Login().password, "typed");

    answerModal([](QWidget* w) { static_cast<QDialog*>(w)->reject(); });
    EXPECT_FALSE(net::ApplyAccount(a, ftp, f.firewallSettings(), f.remote().prompts));

    net::TAccount quick;
    quick.Name = net::kQuickConnectName;
    answerModal([](QWidget* w) {
        w->findChild<QLineEdit*>("HostEdit")->setText("q.example");
        w->findChild<QLineEdit*>("UserEdit")->setText("u");
        static_cast<QDialog*>(w)->accept();
    });
    net::TRemoteLogin before;
    before.port = 2121;
    ftp.SetLogin(before);
    EXPECT_TRUE(net::ApplyAccount(quick, ftp, f.firewallSettings(), f.remote().prompts));
    EXPECT_EQ(ftp.Login().host, "q.example");
    EXPECT_EQ(ftp.Login().port, 21);
}

struct Opened {
    std::string account, directory, fileName;
    bool operator==(const Opened&) const = default;
};
void PrintTo(const Opened& o, std::ostream* os) {
    *os << o.account << ":" << o.directory << ":" << o.fileName;
}

class RemoteCommands : public AccountWindows {
protected:
    std::vector<Opened> opened;
    std::vector<std::pair<TBrowserMode, std::string>> browsed;
    void hook(TMainForm& f) {
        f.remote().openRemoteDocument = [this](const net::TAccount& a, const std::string& d,
                                               const std::string& n) {
            opened.push_back({a.Name, d, n});
        };
        f.remote().browse = [this](TBrowserMode mode, const net::TAccount& a,
                                   const std::string&) -> std::optional<TBrowserResult> {
            browsed.emplace_back(mode, a.Name);
            TBrowserResult r;
            r.account = a;
            r.account.Name = "b";
            r.account.Directory = "/shown/last";
            r.fileNames = {"one.html", "two.css"};
            return r;
        };
    }
};

TEST_F(RemoteCommands, OpenBrowsesTheLastUsedAccountAndOpensEachChosenFile) {
    store({"a", "b"});
    TMainForm& f = form();
    hook(f);
    QAction* open = f.action("FileOpen");
    EXPECT_TRUE(open->isEnabled());
    EXPECT_EQ(open->shortcut(), QKeySequence("Ctrl+O"));
    open->trigger();
    ASSERT_EQ(browsed.size(), 1u);
    EXPECT_EQ(browsed[0].first, TBrowserMode::Open);
    EXPECT_EQ(browsed[0].second, "a");
    EXPECT_THAT(opened, ElementsAre(Opened{"b", "/shown/last", "one.html"},
                                    Opened{"b", "/shown/last", "two.css"}));
    EXPECT_EQ(f.lastUsedAccount().Name, "b");

    // Cancel changes nothing.
    f.remote().browse = [](TBrowserMode, const net::TAccount&, const std::string&) {
        return std::optional<TBrowserResult>();
    };
    open->trigger();
    EXPECT_EQ(opened.size(), 2u);
    EXPECT_EQ(f.lastUsedAccount().Name, "b");
}

TEST_F(RemoteCommands, BrowseOptionRunsOpenWithThatAccountAfterStartUp) {
    store({"a", "Demo"});
    AppContext c;
    c.registry = &registry;
    c.dialogs = &dialogs;
    c.clipboard = &clipboard;
    c.shell = &shell;
    c.programFolder = dir / "home";
    c.resources = MORVANE_TEST_RESOURCES;
    c.browseAccount = "Demo";
    form_ = std::make_unique<TMainForm>(c);
    hook(*form_);
    form_->show();
    ASSERT_TRUE(processUntil([&] { return !browsed.empty(); }));
    EXPECT_EQ(browsed[0].second, "Demo");
}

TEST_F(RemoteCommands, ReferencesOnTheCommandLineOpenThroughTheirAccount) {
    store({"site"});
    TMainForm& f = form();
    hook(f);
    f.openArgument("morvane://site:docs/index.html");
    f.openArgument("MORVANE://site:/abs/a.txt");
    EXPECT_THAT(opened, ElementsAre(Opened{"site", "/home/site/docs", "index.html"},
                                    Opened{"site", "/abs", "a.txt"}));
    f.openArgument("MORVANE://ghost:a.txt");
    f.openArgument("MORVANE://a.txt");
    EXPECT_THAT(dialogs.texts(), ElementsAre("Cannot find the specified account.",
                                             "Incorrect format for file: a.txt."));
    EXPECT_EQ(dialogs.beeps, 2);
    EXPECT_EQ(opened.size(), 2u);
    EXPECT_EQ(f.documentCount(), 0);
}

TEST_F(RemoteCommands, RecentMenuListsClosedFilesAndReopensThem) {
    store({"site"});
    std::string path = file("notes & todo.txt", "x\n");
    TMainForm& f = form();
    hook(f);
    QMenu* menu = f.recentMenu();
    EXPECT_FALSE(menu->menuAction()->isEnabled());

    f.remote().addRecent("site", "/www", "index.html");
    f.remote().addRecent("Quick-connect", "/", "skip.txt");
    f.openLocalFiles({path});
    ASSERT_EQ(f.documentCount(), 1);
    auto* doc = qobject_cast<TMorvaneEditor*>(f.activeDocument());
    doc->closeRequest(false);
    ASSERT_TRUE(processUntil([&] { return f.documentCount() == 0; }));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); // the document goes
    settle();

    ASSERT_EQ(menu->actions().size(), 2);
    std::string folder = (dir.path() / "").string();
    EXPECT_EQ(menu->actions()[0]->text().toStdString(),
              "&0 (local):" + folder + ":notes && todo.txt");
    EXPECT_EQ(menu->actions()[1]->text().toStdString(), "&1 site:/www:index.html");
    EXPECT_TRUE(menu->menuAction()->isEnabled());

    menu->actions()[1]->trigger();
    EXPECT_THAT(opened, ElementsAre(Opened{"site", "/www", "index.html"}));
    menu->actions()[0]->trigger();
    ASSERT_EQ(f.documentCount(), 1);
    EXPECT_EQ(qobject_cast<TMorvaneEditor*>(f.activeDocument())->FileName(), "notes & todo.txt");

    // An entry whose account has gone reports it.
    ASSERT_TRUE(registry.deleteKey(platform::Hive::CurrentUser,
                                   std::string(net::kAccountsRoot) + "\\site"));
    f.reopenRecent(2);
    EXPECT_EQ(dialogs.texts().back(), "Cannot find the specified account.");
}

} // namespace

TEST_F(AccountWindows, TheSecurityChoiceIsStoredAndOldAccountsStayPlain) {
    store({"old"});
    // Written before the setting existed.
    ASSERT_TRUE(registry.deleteValue(platform::Hive::CurrentUser,
                                     std::string(net::kAccountsRoot) + "\\old", "TLS"));
    TMainForm& f = form();
    TAccountsForm accounts(f);
    auto* security = child<QComboBox>(&accounts, "SecurityCombo");
    std::vector<std::string> items;
    for (int i = 0; i < security->count(); ++i)
        items.push_back(security->itemText(i).toStdString());
    EXPECT_THAT(items, ElementsAre("Plain FTP", "Use TLS if available", "Require TLS"));
    EXPECT_EQ(security->currentText(), "Plain FTP");
    security->setCurrentIndex(2);
    accounts.accept();
    ASSERT_EQ(accounts.result(), QDialog::Accepted);
    net::TAccount old;
    ASSERT_TRUE(net::LoadAccount(registry, "old", old));
    EXPECT_EQ(old.Tls, net::TTlsMode::Require);

    // A new account tries TLS.
    TAccountsForm again(f);
    child<QPushButton>(&again, "NewButton")->click();
    settle();
    EXPECT_EQ(child<QComboBox>(&again, "SecurityCombo")->currentText(), "Use TLS if available");
    EXPECT_EQ(again.accounts().back().Tls, net::TTlsMode::Try);
}

TEST_F(AccountWindows, SecurityQuestionsAreAskedOnceAndTheirAnswersRemembered) {
    store({"site", "other"});
    TMainForm& f = form();
    auto loop = platform::makePollEventLoop();
    net::TFtpFileSystem ftp(*loop);
    net::TAccount site, other;
    ASSERT_TRUE(net::LoadAccount(registry, "site", site));
    ASSERT_TRUE(net::LoadAccount(registry, "other", other));
    net::TTlsCertificate cert;
    cert.Subject = "CN = site.example";
    cert.Issuer = "CN = Nobody";
    cert.NotBefore = "Jan  1 00:00:00 2026 GMT";
    cert.NotAfter = "Jan  1 00:00:00 2027 GMT";
    cert.Problem = "self-signed certificate";
    cert.Fingerprint = "AB";
    for (int i = 1; i < 32; ++i)
        cert.Fingerprint += ":CD";

    // Cancel stores nothing; the next connection asks again.
    ASSERT_TRUE(net::ApplyAccount(other, ftp, f.firewallSettings(), f.remote().prompts));
    dialogs.answers = {platform::MsgResult::Cancel, platform::MsgResult::ConnectAnyway};
    EXPECT_FALSE(ftp.Login().clearText(ftp.Login().host));
    EXPECT_TRUE(ftp.Login().certificate(ftp.Login().host, cert)); // this once
    EXPECT_FALSE(ftp.Login().certificate(ftp.Login().host, cert));
    EXPECT_EQ(dialogs.shown.size(), 3u);

    dialogs.shown.clear();
    ASSERT_TRUE(net::ApplyAccount(site, ftp, f.firewallSettings(), f.remote().prompts));
    dialogs.answers = {platform::MsgResult::Continue, platform::MsgResult::AlwaysTrust};
    EXPECT_TRUE(ftp.Login().clearText(ftp.Login().host));
    EXPECT_TRUE(ftp.Login().certificate(ftp.Login().host, cert));
    ASSERT_EQ(dialogs.shown.size(), 2u);
    EXPECT_EQ(dialogs.shown[0].buttons, platform::mbContinue | platform::mbCancel);
    EXPECT_THAT(dialogs.shown[0].text, HasSubstr("clear text"));
    EXPECT_EQ(dialogs.shown[1].buttons,
              platform::mbConnectAnyway | platform::mbAlwaysTrust | platform::mbCancel);
    for (const std::string& part :
         {cert.Subject, cert.Issuer, cert.NotBefore, cert.NotAfter, cert.Fingerprint, cert.Problem})
        EXPECT_THAT(dialogs.shown[1].text, HasSubstr(part));
    net::TAccount back;
    ASSERT_TRUE(net::LoadAccount(registry, "site", back));
    EXPECT_TRUE(back.ClearTextAllowed);
    EXPECT_TRUE(net::TrustsCertificate(back, cert.Fingerprint));
    // Even a copy of the account taken before the answers is not asked again.
    ASSERT_TRUE(net::ApplyAccount(site, ftp, f.firewallSettings(), f.remote().prompts));
    EXPECT_TRUE(ftp.Login().clearText(ftp.Login().host));
    EXPECT_TRUE(ftp.Login().certificate(ftp.Login().host, cert));
    EXPECT_EQ(dialogs.shown.size(), 2u);
    net::TAccount untouched;
    ASSERT_TRUE(net::LoadAccount(registry, "other", untouched));
    EXPECT_EQ(untouched, other);
}

TEST_F(AccountWindows, SftpAccountsTurnOffFtpFieldsAndUseTheSshPort) {
    store({"site"});
    TMainForm& f = form();
    TAccountsForm accounts(f);
    accounts.show();
    accounts.selectRow(0);
    auto* protocol = child<QComboBox>(&accounts, "ProtocolCombo");
    auto* firewall = child<QCheckBox>(&accounts, "UseFirewallCheck");
    auto* passive = child<QCheckBox>(&accounts, "PassiveModeCheck");
    auto* security = child<QComboBox>(&accounts, "SecurityCombo");
    EXPECT_EQ(protocol->currentText(), "FTP");
    EXPECT_TRUE(firewall->isEnabled() && passive->isEnabled() && security->isEnabled());
    protocol->setCurrentIndex(protocol->findText("SFTP"));
    EXPECT_FALSE(firewall->isEnabled() || passive->isEnabled() || security->isEnabled());
    EXPECT_EQ(accounts.accounts()[0].Port, 22);
    accounts.accept();
    ASSERT_EQ(accounts.result(), QDialog::Accepted);
    net::TAccount back;
    ASSERT_TRUE(net::LoadAccount(registry, "site", back));
    EXPECT_EQ(back.Protocol, net::TRemoteProtocol::Sftp);
    EXPECT_EQ(back.Port, 22);

    TAccountsForm again(f);
    again.show();
    again.selectRow(0);
    EXPECT_EQ(child<QComboBox>(&again, "ProtocolCombo")->currentText(), "SFTP");
    EXPECT_FALSE(child<QCheckBox>(&again, "UsePortCheck")->isChecked()); // 22 is SFTP's own
    EXPECT_FALSE(child<QCheckBox>(&again, "UseFirewallCheck")->isEnabled());
    child<QComboBox>(&again, "ProtocolCombo")->setCurrentIndex(0);
    EXPECT_EQ(again.accounts()[0].Port, 21);
    EXPECT_TRUE(child<QCheckBox>(&again, "UseFirewallCheck")->isEnabled());
}

TEST_F(AccountWindows, QuickConnectTakesAProtocolOrAnSftpUrl) {
    {
        TQuickConnectForm quick(registry, dialogs);
        quick.protocolCombo()->setCurrentIndex(1);
        quick.hostEdit()->setText("example.org:2222");
        quick.userEdit()->setText("me");
        quick.accept();
        EXPECT_EQ(quick.result(), QDialog::Accepted);
        EXPECT_EQ(quick.hostname(), "sftp://example.org:2222");
    }
    TQuickConnectForm url(registry, dialogs);
    EXPECT_EQ(url.protocolCombo()->currentText(), "SFTP"); // remembered
    url.protocolCombo()->setCurrentIndex(0);
    url.hostEdit()->setText("sftp://deploy@example.org/srv");
    url.userEdit()->clear();
    url.accept(); // the user is in the URL
    EXPECT_EQ(url.result(), QDialog::Accepted);
    EXPECT_EQ(url.hostname(), "sftp://deploy@example.org/srv");
    url.setResult(0);
    url.hostEdit()->setText("gopher://example.org");
    url.userEdit()->setText("me");
    url.accept();
    EXPECT_NE(url.result(), QDialog::Accepted);
    EXPECT_THAT(dialogs.texts().back(), HasSubstr("sftp://"));
}

TEST_F(AccountWindows, AnUnknownHostKeyIsAskedWithItsFingerprint) {
    store({"site"});
    TMainForm& f = form();
    net::TAccount site;
    ASSERT_TRUE(net::LoadAccount(registry, "site", site));
    site.Protocol = net::TRemoteProtocol::Sftp;
    auto loop = platform::makePollEventLoop();
    auto fs = net::MakeFileSystem(*loop, site);
    ASSERT_TRUE(net::ApplyAccount(site, *fs, f.firewallSettings(), f.remote().prompts));
    net::THostKey key{"ssh-ed25519", "SHA256:abcdefghijklmnopqrstuvwxyz0123456789ABCDEFG"};
    dialogs.answers = {platform::MsgResult::AlwaysConnect, platform::MsgResult::ConnectOnce,
                       platform::MsgResult::Cancel};
    EXPECT_EQ(fs->Login().hostKey("site.example", key), net::THostKeyAnswer::Always);
    EXPECT_EQ(fs->Login().hostKey("site.example", key), net::THostKeyAnswer::Once);
    EXPECT_EQ(fs->Login().hostKey("site.example", key), net::THostKeyAnswer::Cancel);
    ASSERT_EQ(dialogs.shown.size(), 3u);
    EXPECT_EQ(dialogs.shown[0].buttons,
              platform::mbConnectOnce | platform::mbAlwaysConnect | platform::mbCancel);
    EXPECT_THAT(dialogs.shown[0].text, HasSubstr(key.fingerprint));
    EXPECT_THAT(dialogs.shown[0].text, HasSubstr(key.type));
    EXPECT_THAT(dialogs.shown[0].text, HasSubstr("site.example"));
}
