#include "core/net/Account.h"

#include "core/net/ConnectionPool.h"
#include "core/net/FtpFileSystem.h"
#include "core/net/ProtocolFileSystem.h"
#include "core/net/RemoteFileSystem.h"

#include <algorithm>
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

// Stored as one text: the fingerprints separated by blanks.
std::vector<std::string> FingerprintList(const std::string& text) {
    std::vector<std::string> out;
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t end = text.find(' ', i);
        if (end == std::string::npos) end = text.size();
        std::string print = NormalizeFingerprint(text.substr(i, end - i));
        if (!print.empty() && std::find(out.begin(), out.end(), print) == out.end())
            out.push_back(print);
        i = end + 1;
    }
    return out;
}

std::string FingerprintText(const TAccount& account) {
    std::string text;
    for (const std::string& print : account.TrustedCertificates)
        text += (text.empty() ? "" : " ") + NormalizeFingerprint(print);
    return text;
}

} // namespace

const char* ProtocolText(TRemoteProtocol protocol) {
    return protocol == TRemoteProtocol::Sftp ? "SFTP" : "FTP";
}

TRemoteProtocol ProtocolFromText(const std::string& text) {
    std::string upper;
    for (char c : text)
        upper += (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
    return upper == "SFTP" ? TRemoteProtocol::Sftp : TRemoteProtocol::Ftp;
}

int DefaultPort(TRemoteProtocol protocol) {
    return protocol == TRemoteProtocol::Sftp ? 22 : 21;
}

std::optional<TRemoteUrl> ParseRemoteUrl(const std::string& text) {
    TRemoteUrl url;
    std::string rest = text;
    std::size_t blank = rest.find_first_not_of(" \t");
    rest = blank == std::string::npos ? "" : rest.substr(blank);
    while (!rest.empty() && (rest.back() == ' ' || rest.back() == '\t'))
        rest.pop_back();
    std::size_t scheme = rest.find("://");
    if (scheme != std::string::npos) {
        std::string name;
        for (char c : rest.substr(0, scheme))
            name += (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
        if (name == "sftp")
            url.protocol = TRemoteProtocol::Sftp;
        else if (name == "ftps")
            url.tls = TTlsMode::Require;
        else if (name != "ftp")
            return std::nullopt;
        url.scheme = true;
        rest = rest.substr(scheme + 3);
        std::size_t slash = rest.find('/');
        if (slash != std::string::npos) {
            url.path = rest.substr(slash);
            rest = rest.substr(0, slash);
        }
        std::size_t at = rest.rfind('@');
        if (at != std::string::npos) {
            url.user = rest.substr(0, at);
            rest = rest.substr(at + 1);
        }
    }
    std::string port;
    if (!rest.empty() && rest[0] == '[') {
        std::size_t close = rest.find(']');
        if (close == std::string::npos) return std::nullopt;
        url.host = rest.substr(1, close - 1);
        if (close + 1 < rest.size()) {
            if (rest[close + 1] != ':') return std::nullopt;
            port = rest.substr(close + 2);
        }
    } else if (std::count(rest.begin(), rest.end(), ':') == 1) {
        url.host = rest.substr(0, rest.find(':'));
        port = rest.substr(rest.find(':') + 1);
    } else {
        url.host = rest; // a bare IPv6 address keeps its colons
    }
    if (url.host.empty()) return std::nullopt;
    if (!port.empty() || (url.scheme && rest.back() == ':')) {
        auto p = PortFromText(port);
        if (!p) return std::nullopt;
        url.port = *p;
    }
    return url;
}

const char* TlsModeText(TTlsMode mode) {
    switch (mode) {
    case TTlsMode::Plain:
        return "Plain FTP";
    case TTlsMode::Try:
        return "Use TLS if available";
    case TTlsMode::Require:
        return "Require TLS";
    }
    return "Plain FTP";
}

bool TrustsCertificate(const TAccount& account, const std::string& fingerprint) {
    std::string print = NormalizeFingerprint(fingerprint);
    if (print.empty()) return false;
    for (const std::string& trusted : account.TrustedCertificates)
        if (NormalizeFingerprint(trusted) == print) return true;
    return false;
}

bool RememberClearTextAllowed(platform::Registry& registry, const std::string& name) {
    if (name.empty() || name == kQuickConnectName || name.find('\\') != std::string::npos ||
        !registry.keyExists(Hive::CurrentUser, keyOf(name)))
        return false;
    return registry.writeValue(Hive::CurrentUser, keyOf(name), "Clear text allowed",
                               platform::RegValue::dword(1));
}

bool RememberCertificate(platform::Registry& registry, const std::string& name,
                         const std::string& fingerprint) {
    TAccount account;
    std::string print = NormalizeFingerprint(fingerprint);
    if (print.empty() || name == kQuickConnectName || !LoadAccount(registry, name, account))
        return false;
    if (TrustsCertificate(account, print)) return true;
    account.TrustedCertificates.push_back(print);
    return registry.writeValue(Hive::CurrentUser, keyOf(name), "Trusted certificates",
                               platform::RegValue::string(FingerprintText(account)));
}

std::optional<int> PortFromText(const std::string& text) {
    // The firewall port comes from a text setting: blanks around the number are allowed.
    std::size_t first = text.find_first_not_of(" \t");
    std::size_t last = text.find_last_not_of(" \t");
    if (first == std::string::npos) return std::nullopt;
    int value = 0;
    const char* begin = text.data() + first;
    const char* end = text.data() + last + 1;
    auto [p, ec] = std::from_chars(begin, end, value);
    if (ec != std::errc() || p != end || value < 1 || value > 65535) return std::nullopt;
    return value;
}

std::string AccountNameProblem(const std::string& name, const std::vector<std::string>& others) {
    if (name.empty()) return "Please enter a name for the account.";
    if (name == kQuickConnectName)
        return std::string("The name \"") + kQuickConnectName +
               "\" is reserved for the quick-connect dialog.";
    for (unsigned char c : name)
        if (c == '\\' || c == '/' || c == ':' || c < 32 || c == 127)
            return "The account name \"" + name +
                   "\" may not contain \\, / or : (nor control characters).";
    auto lower = [](std::string s) {
        for (auto& c : s)
            if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
        return s;
    };
    for (const std::string& other : others)
        if (lower(other) == lower(name))
            return "There is already an account named \"" + other + "\".";
    return {};
}

std::string RemoveBlanks(const std::string& name) {
    std::string out;
    for (char c : name)
        if (c != ' ' && c != '\t') out.push_back(c);
    return out;
}

std::string UMaskText(std::int32_t umask) {
    std::string digits = std::to_string(umask < 0 ? 0 : umask);
    return std::string(digits.size() < 3 ? 3 - digits.size() : 0, '0') + digits;
}

std::optional<std::int32_t> UMaskFromText(const std::string& text) {
    if (text.empty() || text.size() > 4) return std::nullopt;
    std::int32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '7') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

std::string UMaskSample(const std::string& text) {
    unsigned mask = 0;
    if (!text.empty() && text.size() <= 11 &&
        text.find_first_not_of("01234567") == std::string::npos)
        mask = unsigned(std::stoul(text, nullptr, 8)) & 0777;
    std::string sample = "-";
    for (int shift : {6, 3, 0}) {
        unsigned bits = (mask >> shift) & 7;
        sample += bits & 4 ? '-' : 'r';
        sample += bits & 2 ? '-' : 'w';
        sample += '-'; // new files are never executable
    }
    return sample;
}

std::string EncodePassword(const std::string& text) {
    return text;
}

std::string DecodePassword(const std::string& text) {
    return text;
}

bool LoadAccount(platform::Registry& registry, const std::string& name, TAccount& account,
                 std::string* error) {
    if (name.empty() || name.find('\\') != std::string::npos ||
        !registry.keyExists(Hive::CurrentUser, keyOf(name))) {
        if (error) *error = kCannotFind;
        return false;
    }
    RegKey key(registry, Hive::CurrentUser, keyOf(name));
    TAccount a;
    a.Name = name;
    a.Protocol = ProtocolFromText(key.readString("Protocol"));
    a.Hostname = key.readString("Hostname");
    a.Username = key.readString("Username");
    a.Password = DecodePassword(key.readString("Password"));
    a.PromptForPassword = flag(key, "Prompt for password");
    a.Directory = key.readString("Directory");
    a.Port = std::int32_t(key.readDword("Port").value_or(DefaultPort(a.Protocol)));
    a.UseFirewall = flag(key, "Use firewall");
    a.CloseConnection = flag(key, "Close connection");
    a.EnableMirroring = flag(key, "Enable mirroring");
    if (key.valueExists("Use UMask")) {
        a.UseUMask = flag(key, "Use UMask");
        a.UMask = std::int32_t(key.readDword("UMask").value_or(0));
    }
    if (key.valueExists("Enable mirroring")) a.MirrorDirectory = key.readString("Mirror directory");
    auto tls = key.readDword("TLS");
    a.Tls = tls && *tls <= 2 ? TTlsMode(*tls) : TTlsMode::Plain;
    a.ClearTextAllowed = flag(key, "Clear text allowed");
    a.TrustedCertificates = FingerprintList(key.readString("Trusted certificates"));
    // Stored before passive mode existed: the account was made for active mode.
    a.PassiveMode = flag(key, "Passive mode");
    a.PassiveUsesServerAddress = flag(key, "Passive uses server address");
    account = std::move(a);
    return true;
}

platform::RegValueList AccountValues(const TAccount& account) {
    using platform::RegValue;
    auto b = [](bool v) { return RegValue::dword(v ? 1 : 0); };
    platform::RegValueList v;
    v.emplace_back("Hostname", RegValue::string(account.Hostname));
    v.emplace_back("Username", RegValue::string(account.Username));
    v.emplace_back("Password",
                   RegValue::string(account.PromptForPassword ? std::string()
                                                              : EncodePassword(account.Password)));
    v.emplace_back("Prompt for password", b(account.PromptForPassword));
    v.emplace_back("Directory", RegValue::string(account.Directory));
    v.emplace_back("Port", RegValue::dword(std::uint32_t(account.Port)));
    v.emplace_back("Use firewall", b(account.UseFirewall));
    v.emplace_back("Close connection", b(account.CloseConnection));
    v.emplace_back("Enable mirroring", b(account.EnableMirroring));
    v.emplace_back("Use UMask", b(account.UseUMask));
    if (account.UseUMask) v.emplace_back("UMask", RegValue::dword(std::uint32_t(account.UMask)));
    v.emplace_back("Mirror directory", RegValue::string(account.MirrorDirectory));
    v.emplace_back("TLS", RegValue::dword(std::uint32_t(account.Tls)));
    v.emplace_back("Clear text allowed", b(account.ClearTextAllowed));
    v.emplace_back("Trusted certificates", RegValue::string(FingerprintText(account)));
    v.emplace_back("Passive mode", b(account.PassiveMode));
    v.emplace_back("Passive uses server address", b(account.PassiveUsesServerAddress));
    v.emplace_back("Protocol", RegValue::string(ProtocolText(account.Protocol)));
    return v;
}

bool SaveAccount(platform::Registry& registry, const std::string& name, const TAccount& account,
                 std::string* error) {
    // One write for the whole account; a umask switched off leaves no stale value behind.
    bool ok = !name.empty() && name.find('\\') == std::string::npos &&
              registry.writeValues(Hive::CurrentUser, keyOf(name), AccountValues(account));
    if (ok && !account.UseUMask && registry.valueExists(Hive::CurrentUser, keyOf(name), "UMask"))
        ok = registry.deleteValue(Hive::CurrentUser, keyOf(name), "UMask");
    if (!ok && error) *error = kCannotWrite;
    return ok;
}

bool SaveAccountList(platform::Registry& registry, const std::vector<TAccount>& accounts,
                     std::string* error) {
    std::vector<platform::RegSubkey> keys;
    for (const TAccount& a : accounts)
        keys.push_back({a.Name, AccountValues(a)});
    bool ok = registry.replaceKey(Hive::CurrentUser, kAccountsRoot, keys);
    if (!ok && error) *error = kCannotWrite;
    return ok;
}

std::vector<std::string> AccountNames(platform::Registry& registry) {
    return registry.subKeyNames(Hive::CurrentUser, kAccountsRoot);
}

namespace {

// The account's TLS mode and its answers to the login's security questions, else the prompts.
void SecurityOf(const TAccount& account, TTlsMode mode, const TAccountPrompts& prompts,
                TRemoteLogin& login) {
    login.tls = mode;
    login.hostKey = [account, ask = prompts.hostKey](const std::string& host, const THostKey& key) {
        return ask ? ask(account, host, key) : THostKeyAnswer::Cancel;
    };
    login.passphrase = [account, ask = prompts.passphrase](const std::string& keyFile) {
        return ask ? ask(account, keyFile) : std::nullopt;
    };
    login.clearText = [account, ask = prompts.clearText](const std::string& host) {
        return account.ClearTextAllowed || (ask && ask(account, host));
    };
    login.certificate = [account, ask = prompts.certificate](const std::string& host,
                                                             const TTlsCertificate& certificate) {
        return TrustsCertificate(account, certificate.Fingerprint) ||
               (ask && ask(account, host, certificate));
    };
}

// The login an account gives, after the prompts it needs; nullopt when one was cancelled.
std::optional<TRemoteLogin> LoginOf(const TAccount& account, const TFirewallSettings& firewall,
                                    const TAccountPrompts& prompts) {
    TRemoteLogin login;
    if (account.Name == kQuickConnectName) {
        if (!prompts.quickConnect || !prompts.quickConnect(login.host, login.user, login.password))
            return std::nullopt;
        // The host field may hold a URL: "sftp://user@host:port" picks the protocol.
        auto url = ParseRemoteUrl(login.host);
        if (!url) return std::nullopt;
        login.protocol = url->protocol;
        login.host = url->host;
        if (!url->user.empty()) login.user = url->user;
        login.directory = url->path;
        // Not whatever port the previous account used.
        login.port = url->port ? url->port : DefaultPort(url->protocol);
        login.passive = true;
        SecurityOf(account, url->scheme ? url->tls : TTlsMode::Try, prompts, login);
        return login;
    }
    login.protocol = account.Protocol;
    login.password = account.Password;
    bool ask = account.PromptForPassword;
    bool ssh = account.Protocol == TRemoteProtocol::Sftp;
    if (ssh && !ask && login.password.empty()) {
        // A key may log in: the password is asked for only when the server wants one.
        login.askPassword = [account, prompts]() -> std::optional<std::string> {
            if (prompts.keptPassword)
                if (auto kept = prompts.keptPassword(account)) return kept;
            if (prompts.askPassword) return prompts.askPassword(account);
            if (prompts.password) return prompts.password("Password for " + account.Name);
            return std::nullopt;
        };
        login.port = account.Port;
        login.user = account.Username;
        login.host = account.Hostname;
        SecurityOf(account, TTlsMode::Plain, prompts, login);
        return login;
    }
    if ((ask || login.password.empty()) && prompts.keptPassword) {
        auto kept = prompts.keptPassword(account);
        ask = !kept;
        if (kept) login.password = *kept;
    }
    if (ask) {
        std::optional<std::string> typed;
        if (prompts.askPassword)
            typed = prompts.askPassword(account);
        else if (prompts.password)
            typed = prompts.password("Password for " + account.Name);
        if (!typed) return std::nullopt;
        login.password = *typed;
    }
    login.port = account.Port;
    if (account.UseFirewall && !ssh) {
        login.user = account.Username + "@" + account.Hostname;
        login.host = firewall.address;
        if (auto p = PortFromText(firewall.port)) login.port = *p;
    } else {
        login.user = account.Username;
        login.host = account.Hostname;
    }
    login.passive = account.PassiveMode;
    login.passiveUsesServerAddress = account.PassiveUsesServerAddress;
    SecurityOf(account, ssh ? TTlsMode::Plain : account.Tls, prompts, login);
    return login;
}

} // namespace

// Quick-connect learns its protocol from what the user types: it gets one that follows its login.
std::unique_ptr<TRemoteFileSystem> MakeFileSystem(platform::EventLoop& loop,
                                                  const TAccount& account) {
    if (account.Name == kQuickConnectName)
        return std::make_unique<TProtocolFileSystem>(loop, account.Protocol);
    return MakeProtocolFileSystem(loop, account.Protocol);
}

bool ApplyAccount(const TAccount& account, TRemoteFileSystem& fs, const TFirewallSettings& firewall,
                  const TAccountPrompts& prompts) {
    auto login = LoginOf(account, firewall, prompts);
    if (!login) return false;
    // A shared file system picks its connections by the account.
    if (auto* pooled = dynamic_cast<TPooledFileSystem*>(&fs)) pooled->SetAccount(account);
    fs.SetLogin(*login);
    return true;
}

} // namespace morvane::net
