#pragma once
// TQuickConnectForm: protocol, host, user and password for a connection without a stored
// account. Protocol, host and user come from the "Quick connect" key and go back there when the
// window closes; the password is never stored. The host may be typed as a URL
// ("sftp://user@host:port/path"), which then decides the protocol.

#include "core/platform/Registry.h"
#include "core/platform/UiServices.h"

#include <QDialog>

class QComboBox;
class QLineEdit;

namespace morvane::app {

class TQuickConnectForm : public QDialog {
    Q_OBJECT
public:
    TQuickConnectForm(platform::Registry& registry, platform::Dialogs& dialogs,
                      QWidget* parent = nullptr);
    ~TQuickConnectForm() override;

    // The host as typed, with "sftp://" before it when SFTP is chosen and it names no scheme.
    std::string hostname() const;
    std::string username() const;
    std::string password() const;
    QLineEdit* hostEdit() const { return host_; }
    QComboBox* protocolCombo() const { return protocol_; }
    QLineEdit* userEdit() const { return user_; }
    QLineEdit* passwordEdit() const { return password_; }

    void accept() override; // checks host and user first

protected:
    void showEvent(QShowEvent* event) override;

private:
    platform::Registry& registry_;
    platform::Dialogs& dialogs_;
    QComboBox* protocol_;
    QLineEdit* host_;
    QLineEdit* user_;
    QLineEdit* password_;
};

} // namespace morvane::app
