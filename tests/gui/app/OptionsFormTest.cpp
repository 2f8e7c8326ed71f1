// Settings > Options: the application options dialog, also opened on its Firewall page from the
// account manager.
#include "gui/app/OptionsForm.h"
#include "MainFormFixture.h"
#include "core/app/AppOptions.h"
#include "core/app/AppRegistry.h"
#include "core/app/RecentFiles.h"
#include "gui/app/AccountsForm.h"

#include <gmock/gmock.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

namespace morvane::testing {
namespace {

using app::TOptionsForm;
using ::testing::ElementsAre;

template <class T> T* child(QWidget* parent, const char* name) {
    auto* w = parent->findChild<T*>(name);
    EXPECT_NE(w, nullptr) << name;
    return w;
}

class OptionsForm : public MainFormFixture {
protected:
    platform::RegKey settings() {
        return platform::RegKey(registry, platform::Hive::CurrentUser, app::kSettingsKey);
    }
    std::string hive() { return readFile(dir / "cfg" / "user.reg"); }
};

TEST_F(OptionsForm, ShowsTheStoredValuesAndFocusesThePageItOpensOn) {
    settings().writeString("Restore window settings", "False");
    settings().writeDword("NumRecent", 9);
    settings().writeString("Firewall address", "fw.example.org");
    {
        TOptionsForm d(registry, dialogs, TOptionsForm::pageGeneral);
        EXPECT_EQ(d.windowTitle(), "Options");
        EXPECT_EQ(d.pages()->tabText(0), "&General");
        d.show();
        settle();
        EXPECT_EQ(d.pages()->currentIndex(), 0);
        EXPECT_EQ(d.focusWidget(), child<QCheckBox>(&d, "RestoreWindowCheck"));
        EXPECT_FALSE(child<QCheckBox>(&d, "RestoreWindowCheck")->isChecked());
        EXPECT_EQ(child<QLineEdit>(&d, "NumRecentEdit")->text(), "9");
        EXPECT_TRUE(child<QCheckBox>(&d, "OneInstanceCheck")->isChecked());
        EXPECT_TRUE(child<QCheckBox>(&d, "CheckForUpdatesCheck")->isChecked());
    }
    TOptionsForm d(registry, dialogs, TOptionsForm::pageFirewall);
    d.show();
    settle();
    EXPECT_EQ(d.pages()->currentIndex(), 1);
    EXPECT_EQ(d.focusWidget(), child<QLineEdit>(&d, "FirewallAddressEdit"));
    EXPECT_EQ(child<QLineEdit>(&d, "FirewallAddressEdit")->text(), "fw.example.org");
    EXPECT_EQ(child<QLineEdit>(&d, "FirewallPortEdit")->text(), "");
}

TEST_F(OptionsForm, TypedAndPastedTextKeepsOnlyItsDigitsWithABeep) {
    TOptionsForm d(registry, dialogs, TOptionsForm::pageGeneral);
    d.show();
    auto* recent = child<QLineEdit>(&d, "NumRecentEdit");
    recent->clear();
    QTest::keyClicks(recent, "1a");
    EXPECT_EQ(recent->text(), "1");
    EXPECT_EQ(dialogs.beeps, 1);
    recent->clear();
    recent->insert("2 x5"); // what a paste or a drop does
    EXPECT_EQ(recent->text(), "25");
    EXPECT_EQ(dialogs.beeps, 2);
    auto* port = child<QLineEdit>(&d, "FirewallPortEdit");
    port->insert(" 21:21 ");
    EXPECT_EQ(port->text(), "2121");
    port->insert("999999"); // no more than a port's five digits
    EXPECT_EQ(port->text(), "21219");
}

// An invalid field used to leave the values before it written; now nothing is written until
// every field is valid, and the dialog stays open on the field to mend.
TEST_F(OptionsForm, AnInvalidFieldKeepsTheDialogOpenAndWritesNothing) {
    const std::string before = hive();
    TOptionsForm d(registry, dialogs, TOptionsForm::pageGeneral);
    d.show();
    child<QCheckBox>(&d, "RestoreWindowCheck")->setChecked(false);
    child<QLineEdit>(&d, "FirewallAddressEdit")->setText("fw.example.org");
    d.accept();
    EXPECT_THAT(dialogs.texts(),
                ElementsAre("Must enter both an address and a port for the firewall."));
    EXPECT_NE(d.result(), QDialog::Accepted);
    EXPECT_TRUE(d.isVisible());
    EXPECT_EQ(d.pages()->currentIndex(), 1);
    EXPECT_EQ(hive(), before);

    child<QLineEdit>(&d, "FirewallPortEdit")->setText("70000");
    child<QLineEdit>(&d, "NumRecentEdit")->setText("");
    d.accept();
    EXPECT_EQ(dialogs.texts().back(), "The number of recent files must be a number from 0 to 36.");
    EXPECT_EQ(d.pages()->currentIndex(), 0);
    child<QLineEdit>(&d, "NumRecentEdit")->setText("37");
    d.accept();
    EXPECT_EQ(dialogs.texts().size(), 3u);
    child<QLineEdit>(&d, "NumRecentEdit")->setText("6");
    d.accept();
    EXPECT_EQ(dialogs.texts().back(),
              "Please enter an integer value from 1 to 65535 for the firewall port.");
    EXPECT_EQ(hive(), before);

    child<QLineEdit>(&d, "FirewallPortEdit")->setText("2121");
    d.accept();
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_EQ(settings().readString("Restore window settings"), "False");
    EXPECT_EQ(settings().readDword("NumRecent"), 6u);
    EXPECT_EQ(settings().readString("Firewall port"), "2121");
}

TEST_F(OptionsForm, OKFromTheMenuAppliesTheDefaultAccountAndTheRecentCount) {
    net::TAccount a;
    a.Name = "site";
    a.Hostname = "site.example";
    ASSERT_TRUE(net::SaveAccount(registry, "site", a));
    app::TMainForm& f = form();
    EXPECT_TRUE(f.action("SettingsOptions")->isEnabled());
    EXPECT_EQ(f.lastUsedAccount().Name, "site");
    QTimer::singleShot(0, [] {
        processUntil([] { return QApplication::activeModalWidget() != nullptr; }, 3000);
        auto* d = qobject_cast<TOptionsForm*>(QApplication::activeModalWidget());
        if (!d) return;
        d->findChild<QCheckBox*>("NoDefaultAccountCheck")->setChecked(true);
        d->findChild<QLineEdit*>("NumRecentEdit")->setText("0");
        d->accept();
    });
    f.action("SettingsOptions")->trigger();
    EXPECT_EQ(f.lastUsedAccount().Name, "");
    EXPECT_EQ(app::TRecentFiles(registry).Count(), 0);
    EXPECT_EQ(settings().readString("No default account"), "1");
}

// Help opens the manual the way Help > Help Topics does, and only when that can.
TEST_F(OptionsForm, HelpFollowsHelpTopics) {
    app::TMainForm& f = form();
    int opened = 0;
    QObject::connect(f.action("HelpHelpTopics"), &QAction::triggered, [&] { ++opened; });
    std::vector<bool> enabled;
    auto press = [&] {
        QTimer::singleShot(0, [&] {
            processUntil([] { return QApplication::activeModalWidget() != nullptr; }, 3000);
            auto* d = qobject_cast<TOptionsForm*>(QApplication::activeModalWidget());
            if (!d) return;
            enabled.push_back(d->helpButton()->isEnabled());
            d->helpButton()->click();
            d->reject();
        });
        f.action("SettingsOptions")->trigger();
    };
    f.setCommandAvailable("HelpHelpTopics", false);
    press();
    f.setCommandAvailable("HelpHelpTopics", true);
    press();
    EXPECT_THAT(enabled, ElementsAre(false, true));
    EXPECT_EQ(opened, 1);
}

TEST_F(OptionsForm, FirewallPropertiesOpensTheOptionsOnTheFirewallPage) {
    net::TAccount a;
    a.Name = "site";
    a.Hostname = "site.example";
    ASSERT_TRUE(net::SaveAccount(registry, "site", a));
    app::TMainForm& f = form();
    app::TAccountsForm accounts(f);
    auto* button = child<QPushButton>(&accounts, "FirewallPropertiesButton");
    ASSERT_TRUE(button->isEnabled());
    int page = -1;
    QString focus; // the dialog is gone when the click returns
    QTimer::singleShot(0, [&] {
        processUntil([] { return QApplication::activeModalWidget() != nullptr; }, 3000);
        auto* d = qobject_cast<TOptionsForm*>(QApplication::activeModalWidget());
        if (!d) return;
        settle();
        page = d->pages()->currentIndex();
        focus = d->focusWidget() ? d->focusWidget()->objectName() : QString();
        d->reject();
    });
    button->click();
    EXPECT_EQ(page, TOptionsForm::pageFirewall);
    EXPECT_EQ(focus, "FirewallAddressEdit");
}

} // namespace
} // namespace morvane::testing
