// TMainForm: the remote road (the default and last-used account, the firewall, the remote
// browser behind File > Open).

#include "gui/app/MainForm.h"

#include "core/app/AppOptions.h"
#include "core/net/Account.h"
#include "core/net/ConnectionPool.h"

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

std::unique_ptr<net::TRemoteFileSystem> TMainForm::sharedFileSystem(platform::EventLoop& loop) {
    if (&loop != context_.loop) return nullptr;
    net::TPoolSettings settings;
    settings.keepAlive = net::KeepAliveFromText(readSetting(kKeepAliveInterval));
    if (!pool_) {
        pool_ = std::make_shared<net::TConnectionPool>(
            loop, [&loop](const net::TAccount& a) { return net::MakeFileSystem(loop, a); },
            settings);
    } else if (pool_->Settings().keepAlive != settings.keepAlive) {
        pool_->SetSettings(settings);
    }
    return std::make_unique<net::TPooledFileSystem>(pool_);
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
