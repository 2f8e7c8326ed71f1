#include "gui/app/AccountWindows.h"

#include "core/net/AccountSecrets.h"
#include "core/net/SftpFileSystem.h"
#include "gui/app/AccountsForm.h"
#include "gui/app/EnterPasswordForm.h"
#include "gui/app/MainForm.h"
#include "gui/app/QuickConnectForm.h"
#include "gui/platform/QtUiServices.h"

#include <QCheckBox>
#include <QLineEdit>

namespace morvane::app {

namespace {

using platform::MsgKind;
using platform::MsgResult;

bool stored(const net::TAccount& account) {
    return account.Name != net::kQuickConnectName;
}

} // namespace

bool askClearText(TMainForm& form, const net::TAccount& account, const std::string& host) {
    platform::Registry& registry = *form.context().registry;
    // Another window of the same account may have been answered since this one was opened.
    net::TAccount now;
    if (stored(account) && net::LoadAccount(registry, account.Name, now) && now.ClearTextAllowed)
        return true;
    std::string text = "The server " + host +
                       " does not offer TLS.\n\nIf you continue, your user name, password and "
                       "files travel over the network in clear text, where anyone on the way "
                       "can read them.";
    if (stored(account))
        text += "\n\nThe answer is remembered for the account \"" + account.Name + "\".";
    MsgResult answer = form.context().dialogs->message(
        MsgKind::Warning, text, platform::mbContinue | platform::mbCancel, "Connection not secure");
    if (answer != MsgResult::Continue) return false;
    if (stored(account)) net::RememberClearTextAllowed(registry, account.Name);
    return true;
}

bool askCertificate(TMainForm& form, const net::TAccount& account, const std::string& host,
                    const net::TTlsCertificate& c) {
    platform::Registry& registry = *form.context().registry;
    net::TAccount now;
    if (stored(account) && net::LoadAccount(registry, account.Name, now) &&
        net::TrustsCertificate(now, c.Fingerprint))
        return true;
    std::string text = "The certificate of " + host + " could not be verified: " + c.Problem +
                       ".\n\nSubject: " + c.Subject + "\nIssuer: " + c.Issuer + "\nValid from " +
                       c.NotBefore + " to " + c.NotAfter + "\nSHA-256 fingerprint:\n" +
                       c.Fingerprint +
                       "\n\nSomeone may be posing as the server. Connect only if you know that "
                       "this is the server's certificate.";
    unsigned buttons = platform::mbConnectAnyway | platform::mbCancel;
    if (stored(account)) buttons |= platform::mbAlwaysTrust;
    MsgResult answer =
        form.context().dialogs->message(MsgKind::Warning, text, buttons, "Certificate not trusted");
    if (answer == MsgResult::AlwaysTrust && stored(account)) {
        net::RememberCertificate(registry, account.Name, c.Fingerprint);
        return true;
    }
    return answer == MsgResult::ConnectAnyway;
}

net::THostKeyAnswer askHostKey(TMainForm& form, const std::string& host, const net::THostKey& key) {
    std::string text = "The host " + host + " is not known.\n\nIts " + key.type +
                       " key has the fingerprint\n" + key.fingerprint +
                       "\n\nConnect only if you know that this is the server's key. \"Always\" "
                       "adds it to ~/.ssh/known_hosts, and the host is not asked about again.";
    MsgResult answer = form.context().dialogs->message(
        MsgKind::Warning, text,
        platform::mbConnectOnce | platform::mbAlwaysConnect | platform::mbCancel, "Unknown host");
    if (answer == MsgResult::AlwaysConnect) return net::THostKeyAnswer::Always;
    if (answer == MsgResult::ConnectOnce) return net::THostKeyAnswer::Once;
    return net::THostKeyAnswer::Cancel;
}

std::optional<std::string> askPassphrase(TMainForm& form, const std::string& keyFile) {
    net::TAccountSecrets* secrets = form.context().secrets;
    if (secrets) {
        if (auto kept = secrets->keptPassphrase(keyFile)) {
            if (net::KeyPassphraseWorks(keyFile, *kept)) return kept;
            secrets->forgetPassphrase(keyFile); // the key was given a new passphrase
        }
    }
    TEnterPasswordForm dialog(platform::fromBytes("Passphrase for " + keyFile), &form);
    dialog.saveCheck()->setText(QStringLiteral("&Remember in the keyring"));
    if (!secrets) dialog.saveCheck()->hide();
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    std::string phrase = platform::toBytes(dialog.passwordEdit()->text());
    if (secrets && net::KeyPassphraseWorks(keyFile, phrase))
        secrets->rememberPassphrase(keyFile, phrase, dialog.saveCheck()->isChecked());
    return phrase;
}

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
    remote.prompts.clearText = [&form](const net::TAccount& account, const std::string& host) {
        return askClearText(form, account, host);
    };
    remote.prompts.certificate = [&form](const net::TAccount& account, const std::string& host,
                                         const net::TTlsCertificate& certificate) {
        return askCertificate(form, account, host, certificate);
    };
    remote.prompts.hostKey = [&form](const net::TAccount&, const std::string& host,
                                     const net::THostKey& key) {
        return askHostKey(form, host, key);
    };
    remote.prompts.passphrase = [&form](const net::TAccount&, const std::string& keyFile) {
        return askPassphrase(form, keyFile);
    };
    if (net::TAccountSecrets* secrets = form.context().secrets) {
        remote.prompts.keptPassword = [secrets](const net::TAccount& account) {
            return secrets->kept(account);
        };
        remote.prompts.askPassword =
            [&form, secrets](const net::TAccount& account) -> std::optional<std::string> {
            return secrets->question(account, [&form, secrets, &account] {
                TEnterPasswordForm dialog(platform::fromBytes("Password for " + account.Name),
                                          &form);
                // Said as the dialog closes: requests waiting inside its loop go on at once.
                QObject::connect(&dialog, &QDialog::finished, &dialog, [&](int result) {
                    if (result != QDialog::Accepted)
                        return secrets->answer(account, std::nullopt, false);
                    secrets->answer(account, platform::toBytes(dialog.passwordEdit()->text()),
                                    dialog.saveCheck()->isChecked());
                });
                dialog.exec();
            });
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
