#include "gui/app/AccountWindows.h"

#include "core/net/AccountSecrets.h"
#include "gui/app/AccountsForm.h"
#include "gui/app/EnterPasswordForm.h"
#include "gui/app/MainForm.h"
#include "gui/app/QuickConnectForm.h"
#include "gui/platform/QtUiServices.h"

#include <QCheckBox>
#include <QLineEdit>

namespace morvane::app {

void installAccountWindows(TMainForm& form) {
    TRemoteServices& remote = form.remote();
    remote.prompts.quickConnect = [&form](std::string& host, std::string& user,
                                          std::string& password) {
        TQuickConnectForm dialog(*form.context().registry, *form.context().dialogs, &form);
        if (dialog.exec() != QDialog::Accepted) return false;
        host = dialog.hostname();
        user = dialog.username();
        password = dialog.password();
        return true;
    };
    remote.prompts.password = [&form](const std::string& caption) -> std::optional<std::string> {
        TEnterPasswordForm dialog(platform::fromBytes(caption), &form);
        dialog.saveCheck()->hide(); // nowhere to keep it
        if (dialog.exec() != QDialog::Accepted) return std::nullopt;
        return platform::toBytes(dialog.passwordEdit()->text());
    };
    if (net::TAccountSecrets* secrets = form.context().secrets) {
        remote.prompts.keptPassword = [secrets](const net::TAccount& account) {
            return secrets->kept(account);
        };
        remote.prompts.askPassword =
            [&form, secrets](const net::TAccount& account) -> std::optional<std::string> {
            TEnterPasswordForm dialog(platform::fromBytes("Password for " + account.Name), &form);
            if (dialog.exec() != QDialog::Accepted) return std::nullopt;
            std::string password = platform::toBytes(dialog.passwordEdit()->text());
            secrets->typed(account, password, dialog.saveCheck()->isChecked());
            return password;
        };
    }
    remote.showAccounts = [&form] {
        TAccountsForm dialog(form);
        return dialog.exec() == QDialog::Accepted;
    };
    remote.addRecent = [&form](const std::string& account, const std::string& directory,
                               const std::string& fileName) {
        form.addRecentFile(account, directory, fileName);
    };
}

} // namespace morvane::app
