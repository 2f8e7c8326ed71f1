#include "gui/app/QuickConnectForm.h"

#include "core/net/Account.h"
#include "gui/platform/QtUiServices.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QTimer>
#include <QVBoxLayout>

namespace morvane::app {

using platform::fromBytes;
using platform::toBytes;

namespace {

std::string trimmed(const QString& s) {
    return toBytes(s.trimmed());
}

} // namespace

TQuickConnectForm::TQuickConnectForm(platform::Registry& registry, platform::Dialogs& dialogs,
                                     QWidget* parent)
    : QDialog(parent), registry_(registry), dialogs_(dialogs) {
    setObjectName("QuickConnectForm");
    setWindowTitle("Quick-Connect");
    protocol_ = new QComboBox(this);
    protocol_->setObjectName("ProtocolCombo");
    protocol_->addItems({"FTP", "SFTP"});
    host_ = new QLineEdit(this);
    host_->setObjectName("HostEdit");
    host_->setPlaceholderText("host, or sftp://user@host:port");
    user_ = new QLineEdit(this);
    user_->setObjectName("UserEdit");
    password_ = new QLineEdit(this);
    password_->setObjectName("PasswordEdit");
    password_->setEchoMode(QLineEdit::Password);
    auto* fields = new QFormLayout;
    fields->addRow("P&rotocol:", protocol_);
    fields->addRow("&Hostname:", host_);
    fields->addRow("&Username:", user_);
    fields->addRow("&Password:", password_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName("Buttons");
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    layout->addWidget(buttons);

    platform::RegKey key(registry_, platform::Hive::CurrentUser, net::kQuickConnectKey);
    host_->setText(fromBytes(key.readString("Hostname")));
    protocol_->setCurrentIndex(
        net::ProtocolFromText(key.readString("Protocol")) == net::TRemoteProtocol::Sftp ? 1 : 0);
    user_->setText(fromBytes(key.readString("Username")));
}

TQuickConnectForm::~TQuickConnectForm() {
    // What was typed last is offered next time, also after Cancel.
    registry_.writeValues(
        platform::Hive::CurrentUser, net::kQuickConnectKey,
        {{"Hostname", platform::RegValue::string(toBytes(host_->text()))},
         {"Username", platform::RegValue::string(toBytes(user_->text()))},
         {"Protocol", platform::RegValue::string(toBytes(protocol_->currentText()))}});
}

std::string TQuickConnectForm::hostname() const {
    std::string host = trimmed(host_->text());
    if (protocol_->currentIndex() == 1 && host.find("://") == std::string::npos)
        host = "sftp://" + host;
    return host;
}
std::string TQuickConnectForm::username() const {
    return trimmed(user_->text());
}
std::string TQuickConnectForm::password() const {
    return toBytes(password_->text());
}

void TQuickConnectForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    QLineEdit* first = host_->text().isEmpty() ? host_ : password_;
    first->setFocus();
}

void TQuickConnectForm::accept() {
    std::string problem;
    auto url = net::ParseRemoteUrl(hostname());
    if (trimmed(host_->text()).empty())
        problem = "Please enter a hostname to connect to.";
    else if (!url)
        problem = "Please enter a hostname, or a URL such as sftp://user@host:22.";
    if (username().empty() && !(url && !url->user.empty())) problem = "Please enter a username.";
    if (!problem.empty()) {
        dialogs_.message(platform::MsgKind::Error, problem);
        return;
    }
    QDialog::accept();
}

} // namespace morvane::app
