#include "gui/app/OptionsForm.h"

#include "core/platform/Registry.h"
#include "core/platform/UiServices.h"
#include "gui/platform/QtUiServices.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>
#include <QValidator>

namespace morvane::app {

using platform::fromBytes;
using platform::toBytes;

namespace {

// Keeps the digits of whatever reaches the field, typed, pasted or dropped alike, and beeps
// when something else was left out. The length is capped after filtering (a field's own
// maximum length would cut a pasted " 2121" before its blank is taken out).
class DigitsFilter : public QValidator {
public:
    DigitsFilter(platform::Dialogs& dialogs, int maxDigits, QObject* parent)
        : QValidator(parent), dialogs_(dialogs), maxDigits_(maxDigits) {}
    State validate(QString& input, int& pos) const override {
        QString kept;
        int keptBeforeCursor = 0;
        for (int i = 0; i < input.size(); ++i)
            if (input[i] >= '0' && input[i] <= '9' && kept.size() < maxDigits_) {
                kept += input[i];
                if (i < pos) ++keptBeforeCursor;
            }
        if (kept.size() != input.size()) {
            dialogs_.beep();
            input = kept;
            pos = keptBeforeCursor;
        }
        return Acceptable;
    }

private:
    platform::Dialogs& dialogs_;
    int maxDigits_;
};

QCheckBox* checkBox(const QString& caption, const char* name, QWidget* parent) {
    auto* c = new QCheckBox(caption, parent);
    c->setObjectName(name);
    return c;
}

QLineEdit* lineEdit(const char* name, QWidget* parent) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(name);
    return e;
}

} // namespace

TOptionsForm::TOptionsForm(platform::Registry& registry, platform::Dialogs& dialogs, Page page,
                           QWidget* parent)
    : QDialog(parent), registry_(registry), dialogs_(dialogs), firstPage_(page) {
    setObjectName("OptionsForm");
    setWindowTitle("Options");
    auto* layout = new QVBoxLayout(this);
    pages_ = new QTabWidget(this);
    pages_->setObjectName("OptionsPages");
    layout->addWidget(pages_);

    auto* general = new QWidget;
    general->setObjectName("GeneralPage");
    auto* generalLayout = new QFormLayout(general);
    restore_ = checkBox("&Restore window settings", "RestoreWindowCheck", general);
    numRecent_ = lineEdit("NumRecentEdit", general);
    numRecent_->setValidator(new DigitsFilter(dialogs_, 3, numRecent_));
    numRecent_->setToolTip("From 0 to 36");
    noDefaultAccount_ = checkBox("No &default account", "NoDefaultAccountCheck", general);
    oneInstance_ = checkBox("&One instance only", "OneInstanceCheck", general);
    oneInstance_->setToolTip("Takes effect at the next start");
    checkForUpdates_ =
        checkBox("Check for a new &version once a day", "CheckForUpdatesCheck", general);
    generalLayout->addRow(restore_);
    generalLayout->addRow("Number of recent &files:", numRecent_);
    generalLayout->addRow(noDefaultAccount_);
    generalLayout->addRow(oneInstance_);
    generalLayout->addRow(checkForUpdates_);
    keepAlive_ = lineEdit("KeepAliveEdit", general);
    keepAlive_->setValidator(new DigitsFilter(dialogs_, 4, keepAlive_));
    keepAlive_->setToolTip("Seconds between NOOP commands on an idle connection; 0 for servers "
                           "that dislike them");
    generalLayout->addRow("&Keep connections alive every (seconds):", keepAlive_);
    pages_->addTab(general, "&General");

    auto* firewall = new QWidget;
    firewall->setObjectName("FirewallPage");
    auto* firewallLayout = new QFormLayout(firewall);
    address_ = lineEdit("FirewallAddressEdit", firewall);
    port_ = lineEdit("FirewallPortEdit", firewall);
    port_->setValidator(new DigitsFilter(dialogs_, 5, port_));
    auto* note = new QLabel("Accounts with \"Use firewall\" connect to this address and log in "
                            "as \"user@host\".",
                            firewall);
    note->setWordWrap(true);
    firewallLayout->addRow("&Address:", address_);
    firewallLayout->addRow("&Port:", port_);
    firewallLayout->addRow(note);
    pages_->addTab(firewall, "F&irewall");

    auto* buttons = new QDialogButtonBox(
        QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Help, this);
    help_ = buttons->button(QDialogButtonBox::Help);
    help_->setObjectName("HelpButton");
    help_->setEnabled(false); // enabled by whoever can open the manual
    connect(buttons, &QDialogButtonBox::accepted, this, &TOptionsForm::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    const AppOptions o = readAppOptions(registry_);
    restore_->setChecked(o.restoreWindowSettings);
    numRecent_->setText(fromBytes(o.numRecent));
    noDefaultAccount_->setChecked(o.noDefaultAccount);
    oneInstance_->setChecked(o.oneInstanceOnly);
    checkForUpdates_->setChecked(o.checkForUpdates);
    keepAlive_->setText(fromBytes(o.keepAlive));
    address_->setText(fromBytes(o.firewallAddress));
    port_->setText(fromBytes(o.firewallPort));
    pages_->setCurrentIndex(page);
}

void TOptionsForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (firstPage_ == pageFirewall)
        address_->setFocus();
    else
        restore_->setFocus();
}

AppOptions TOptionsForm::options() const {
    AppOptions o;
    o.restoreWindowSettings = restore_->isChecked();
    o.numRecent = toBytes(numRecent_->text());
    o.noDefaultAccount = noDefaultAccount_->isChecked();
    o.oneInstanceOnly = oneInstance_->isChecked();
    o.checkForUpdates = checkForUpdates_->isChecked();
    o.keepAlive = toBytes(keepAlive_->text());
    o.firewallAddress = toBytes(address_->text());
    o.firewallPort = toBytes(port_->text());
    return o;
}

void TOptionsForm::accept() {
    auto error = writeAppOptions(registry_, options());
    if (!error) {
        QDialog::accept();
        return;
    }
    QLineEdit* field = error->field == OptionsField::FirewallAddress ? address_
                       : error->field == OptionsField::FirewallPort  ? port_
                       : error->field == OptionsField::KeepAlive     ? keepAlive_
                                                                     : numRecent_;
    pages_->setCurrentIndex(field == address_ || field == port_ ? pageFirewall : pageGeneral);
    dialogs_.message(platform::MsgKind::Error, error->message);
    field->setFocus();
    field->selectAll();
}

} // namespace morvane::app
