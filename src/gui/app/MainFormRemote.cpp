// TMainForm: the remote road (the default and last-used account, the firewall, the remote
// browser behind File > Open).

#include "gui/app/MainForm.h"

#include "core/net/Account.h"

namespace morvane::app {

void TMainForm::reloadDefaultAccount() {
    lastAccount_ = net::TAccount();
    lastAccount_.Name.clear();
    if (settings_.noDefaultAccount()) return;
    auto accounts = net::AccountNames(*context_.registry);
    if (!accounts.empty()) net::LoadAccount(*context_.registry, accounts.front(), lastAccount_);
}

net::TFirewallSettings TMainForm::firewallSettings() const {
    return {readSetting("Firewall address"), readSetting("Firewall port")};
}

void TMainForm::openRemoteCommand() {
    if (!remote_.browse) return;
    auto result = remote_.browse(TBrowserMode::Open, lastAccount_, "");
    if (!result) return;
    lastAccount_ = result->account;
    if (!remote_.openRemoteDocument) return;
    for (const std::string& name : result->fileNames)
        remote_.openRemoteDocument(result->account, result->account.Directory, name);
}

} // namespace morvane::app
