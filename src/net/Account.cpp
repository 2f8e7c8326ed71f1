#include "net/Account.h"

#include "net/MsgFTP.h"

#include <charconv>

namespace morvane::net {

using platform::Hive;
using platform::RegKey;

namespace {

constexpr const char* kCannotFind = "Cannot find the specified account.";
constexpr const char* kCannotWrite = "Unable to write to the registry.";

std::string keyOf(const std::string& name) {
    return std::string(kAccountsRoot) + "\\" + name;
}

// A stored flag is on only when it is exactly 1.
bool flag(const RegKey& key, const char* name) {
    auto v = key.readDword(name);
    return v && *v == 1;
}

std::optional<int> portNumber(const std::string& text) {
    int value = 0;
    const char* end = text.data() + text.size();
    auto [p, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || p != end || value < 1 || value > 65535) return std::nullopt;
    return value;
}

} // namespace

std::string EncodePassword(const std::string& text) {
    return text;
}

std::string DecodePassword(const std::string& text) {
    return text;
}

bool LoadAccount(platform::Registry& registry, const std::string& name, TAccount& account,
                 std::string* error) {
    if (name.empty() || !registry.keyExists(Hive::CurrentUser, keyOf(name))) {
        if (error) *error = kCannotFind;
        return false;
    }
    RegKey key(registry, Hive::CurrentUser, keyOf(name));
    TAccount a;
    a.Name = name;
    a.Hostname = key.readString("Hostname");
    a.Username = key.readString("Username");
    a.Password = DecodePassword(key.readString("Password"));
    a.PromptForPassword = flag(key, "Prompt for password");
    a.Directory = key.readString("Directory");
    a.Port = std::int32_t(key.readDword("Port").value_or(21));
    a.UseFirewall = flag(key, "Use firewall");
    a.CloseConnection = flag(key, "Close connection");
    a.EnableMirroring = flag(key, "Enable mirroring");
    if (key.valueExists("Use UMask")) {
        a.UseUMask = flag(key, "Use UMask");
        a.UMask = std::int32_t(key.readDword("UMask").value_or(0));
    }
    if (key.valueExists("Enable mirroring")) a.MirrorDirectory = key.readString("Mirror directory");
    account = std::move(a);
    return true;
}

bool SaveAccount(platform::Registry& registry, const std::string& name, const TAccount& account,
                 std::string* error) {
    RegKey key(registry, Hive::CurrentUser, keyOf(name));
    auto b = [](bool v) { return std::uint32_t(v ? 1 : 0); };
    bool ok = !name.empty() && registry.createKey(Hive::CurrentUser, keyOf(name)) &&
              key.writeString("Hostname", account.Hostname) &&
              key.writeString("Username", account.Username) &&
              key.writeString("Password",
                              account.PromptForPassword ? "" : EncodePassword(account.Password)) &&
              key.writeDword("Prompt for password", b(account.PromptForPassword)) &&
              key.writeString("Directory", account.Directory) &&
              key.writeDword("Port", std::uint32_t(account.Port)) &&
              key.writeDword("Use firewall", b(account.UseFirewall)) &&
              key.writeDword("Close connection", b(account.CloseConnection)) &&
              key.writeDword("Enable mirroring", b(account.EnableMirroring)) &&
              key.writeDword("Use UMask", b(account.UseUMask)) &&
              (!account.UseUMask || key.writeDword("UMask", std::uint32_t(account.UMask))) &&
              key.writeString("Mirror directory", account.MirrorDirectory);
    if (!ok && error) *error = kCannotWrite;
    return ok;
}

std::vector<std::string> AccountNames(platform::Registry& registry) {
    return registry.subKeyNames(Hive::CurrentUser, kAccountsRoot);
}

bool ApplyAccount(const TAccount& account, TMsgFTP& ftp, const TFirewallSettings& firewall,
                  const TAccountPrompts& prompts) {
    if (account.Name == kQuickConnectName) {
        std::string host, user, password;
        if (!prompts.quickConnect || !prompts.quickConnect(host, user, password)) return false;
        ftp.SetHostname(host);
        ftp.SetUsername(user);
        ftp.SetPassword(password);
        ftp.SetPort(21); // not whatever port the previous account used
        return true;
    }
    std::string password = account.Password;
    if (account.PromptForPassword) {
        if (!prompts.password) return false;
        auto typed = prompts.password("Password for " + account.Name);
        if (!typed) return false;
        password = *typed;
    }
    int port = account.Port;
    if (account.UseFirewall) {
        ftp.SetUsername(account.Username + "@" + account.Hostname);
        ftp.SetHostname(firewall.address);
        if (auto p = portNumber(firewall.port)) port = *p;
    } else {
        ftp.SetUsername(account.Username);
        ftp.SetHostname(account.Hostname);
    }
    ftp.SetPassword(password);
    ftp.SetPort(port);
    return true;
}

} // namespace morvane::net
