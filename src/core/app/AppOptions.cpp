#include "core/app/AppOptions.h"

#include "core/app/AppRegistry.h"
#include "core/app/MainFormSettings.h"
#include "core/app/RecentFiles.h"
#include "core/net/Account.h"

#include <algorithm>

namespace morvane::app {

using platform::Hive;
using platform::RegValue;

namespace {

std::string trimmed(std::string_view text) {
    std::size_t b = text.find_first_not_of(" \t");
    if (b == std::string_view::npos) return {};
    std::size_t e = text.find_last_not_of(" \t");
    return std::string(text.substr(b, e - b + 1));
}

} // namespace

AppOptions readAppOptions(platform::Registry& registry) {
    platform::RegKey key(registry, Hive::CurrentUser, kSettingsKey);
    MainFormSettings settings(key);
    AppOptions o;
    o.restoreWindowSettings = settings.restoreWindowSettings();
    if (auto n = key.readDword("NumRecent"))
        o.numRecent = std::to_string(*n);
    else if (key.valueExists("NumRecent"))
        o.numRecent = digitsOnly(key.readString("NumRecent"));
    o.noDefaultAccount = settings.noDefaultAccount();
    o.oneInstanceOnly = settings.read("One instance only") != "False";
    o.firewallAddress = settings.read("Firewall address");
    o.firewallPort = settings.read("Firewall port");
    o.checkForUpdates = settings.read(kCheckForUpdates) != "False";
    if (key.valueExists(kKeepAliveInterval))
        o.keepAlive = trimmed(settings.read(kKeepAliveInterval));
    return o;
}

std::optional<OptionsError> validateAppOptions(const AppOptions& o) {
    const std::string recent = trimmed(o.numRecent);
    if (recent.empty() || recent.size() > 3 || digitsOnly(recent) != recent ||
        std::stoi(recent) > kMaxRecent)
        return OptionsError{OptionsField::NumRecent,
                            "The number of recent files must be a number from 0 to " +
                                std::to_string(kMaxRecent) + "."};
    const std::string keepAlive = trimmed(o.keepAlive);
    if (keepAlive.empty() || keepAlive.size() > 4 || digitsOnly(keepAlive) != keepAlive ||
        std::stoi(keepAlive) > kMaxKeepAlive)
        return OptionsError{OptionsField::KeepAlive,
                            "The keep-alive interval must be a number of seconds from 0 to " +
                                std::to_string(kMaxKeepAlive) + " (0: none)."};
    const std::string address = trimmed(o.firewallAddress);
    const std::string port = trimmed(o.firewallPort);
    if (address.empty() != port.empty())
        return OptionsError{address.empty() ? OptionsField::FirewallAddress
                                            : OptionsField::FirewallPort,
                            "Must enter both an address and a port for the firewall."};
    if (address.empty()) return std::nullopt;
    // The address goes onto the control connection: no blanks, no control characters.
    if (std::any_of(address.begin(), address.end(),
                    [](char c) { return static_cast<unsigned char>(c) <= ' ' || c == 127; }))
        return OptionsError{OptionsField::FirewallAddress,
                            "The firewall address must not contain blanks or control characters."};
    if (!net::PortFromText(port))
        return OptionsError{OptionsField::FirewallPort,
                            "Please enter an integer value from 1 to 65535 for the firewall port."};
    return std::nullopt;
}

std::optional<OptionsError> writeAppOptions(platform::Registry& registry, const AppOptions& o) {
    if (auto error = validateAppOptions(o)) return error;
    auto flag = [](bool on) { return RegValue::string(on ? "True" : "False"); };
    const platform::RegValueList values = {
        {"Restore window settings", flag(o.restoreWindowSettings)},
        {"One instance only", flag(o.oneInstanceOnly)},
        {"NumRecent", RegValue::dword(std::uint32_t(std::stoi(trimmed(o.numRecent))))},
        {"Firewall address", RegValue::string(trimmed(o.firewallAddress))},
        {"Firewall port", RegValue::string(trimmed(o.firewallPort))},
        {"No default account", RegValue::string(o.noDefaultAccount ? "1" : "0")},
        {kCheckForUpdates, flag(o.checkForUpdates)},
        {kKeepAliveInterval, RegValue::string(std::to_string(std::stoi(trimmed(o.keepAlive))))},
    };
    if (!registry.writeValues(Hive::CurrentUser, kSettingsKey, values))
        return OptionsError{OptionsField::NumRecent,
                            "The options could not be saved: " + registry.lastError()};
    return std::nullopt;
}

std::string digitsOnly(std::string_view text) {
    std::string out;
    for (char c : text)
        if (c >= '0' && c <= '9') out.push_back(c);
    return out;
}

} // namespace morvane::app
