#pragma once
// Server accounts: one FTP login with its options, stored one key per account under
// Software\Orvandel\Morvane\2.1\Accounts, and the step that turns an account into the
// login of a remote file system (ApplyAccount).

#include "core/net/RemoteFileSystem.h"
#include "core/net/TlsLayer.h"
#include "core/platform/EventLoop.h"
#include "core/platform/Registry.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace morvane::net {

class TRemoteFileSystem;

inline constexpr const char* kAccountsRoot = "Software\\Orvandel\\Morvane\\2.1\\Accounts";
inline constexpr const char* kQuickConnectKey = "Software\\Orvandel\\Morvane\\2.1\\Quick connect";
// The entry that stands for the quick-connect dialog; never stored.
inline constexpr const char* kQuickConnectName = "Quick-connect";

struct TAccount {
    std::string Name = "New account";
    // Stored as "FTP" or "SFTP"; an account stored without it is FTP.
    TRemoteProtocol Protocol = TRemoteProtocol::Ftp;
    std::string Hostname;
    std::string Username;
    std::string Password;
    std::string Directory;  // remote directory to open first
    std::int32_t UMask = 0; // the decimal value of the octal digits: 022 is stored as 22
    bool UseUMask = false;
    std::int32_t Port = 21;
    bool UseFirewall = false;
    bool PromptForPassword = false;
    bool CloseConnection = false; // "Close connection after open and save"
    bool EnableMirroring = false;
    std::string MirrorDirectory; // local folder mirroring copies into
    // Plain unless chosen: accounts stored before the setting existed load as plain FTP, as
    // they were made. The account manager's new accounts choose TLS when the server offers it.
    TTlsMode Tls = TTlsMode::Plain;
    bool ClearTextAllowed = false; // the user agreed to log in without TLS on this server
    std::vector<std::string> TrustedCertificates; // SHA-256 fingerprints, upper-case hex
    // New accounts use passive mode; one stored before the setting existed keeps active mode.
    bool PassiveMode = true;
    bool PassiveUsesServerAddress = false; // ignore the address in PASV replies

    bool operator==(const TAccount&) const = default;
};

// Passwords pass through these on the way into and out of the store (plain text).
std::string EncodePassword(const std::string& text);
std::string DecodePassword(const std::string& text);

// Loads the account of that name. When its key is missing: error = "Cannot find the specified
// account." and false; nothing is shown (callers show the message).
bool LoadAccount(platform::Registry& registry, const std::string& name, TAccount& account,
                 std::string* error = nullptr);
// Writes every value of the account under its name; false (error = "Unable to write to the
// registry.") when the store cannot be written.
bool SaveAccount(platform::Registry& registry, const std::string& name, const TAccount& account,
                 std::string* error = nullptr);
// The stored account names in the store's order (the first is the default account).
std::vector<std::string> AccountNames(platform::Registry& registry);
// The values SaveAccount writes, in the order it writes them.
platform::RegValueList AccountValues(const TAccount& account);
// Replaces every stored account by this list, in this order, in one write: when it fails
// (error = "Unable to write to the registry.") the stored accounts are left as they were.
bool SaveAccountList(platform::Registry& registry, const std::vector<TAccount>& accounts,
                     std::string* error = nullptr);

// The user's answers to a connection's security questions, written into the stored account of
// that name alone (the other values stay as they are). False when it cannot be written.
bool RememberClearTextAllowed(platform::Registry& registry, const std::string& name);
bool RememberCertificate(platform::Registry& registry, const std::string& name,
                         const std::string& fingerprint);
// Whether the account trusts a certificate of this fingerprint (any spelling).
bool TrustsCertificate(const TAccount& account, const std::string& fingerprint);
// "FTP" / "SFTP", and back (anything else is FTP); the usual port of each.
const char* ProtocolText(TRemoteProtocol protocol);
TRemoteProtocol ProtocolFromText(const std::string& text);
int DefaultPort(TRemoteProtocol protocol);

// A server typed as a URL ("sftp://user@host:port/path", "ftp://", "ftps://" for FTP over TLS
// required) or as a bare host name (FTP). nullopt for an unknown scheme or an empty host.
struct TRemoteUrl {
    TRemoteProtocol protocol = TRemoteProtocol::Ftp;
    TTlsMode tls = TTlsMode::Plain;
    bool scheme = false; // a scheme was given
    std::string user, host, path;
    int port = 0; // 0: not given
};
std::optional<TRemoteUrl> ParseRemoteUrl(const std::string& text);

// The security setting as the account manager lists it, and back.
const char* TlsModeText(TTlsMode mode);

// Why a name cannot be stored as an account's name (empty when it can): empty, the name of the
// quick-connect entry, a character that would nest keys or break references ("\", "/", ":",
// control characters), or equal, ignoring case, to one of the other names.
std::string AccountNameProblem(const std::string& name, const std::vector<std::string>& others);
// The name without blanks, as the account manager stores a typed name.
std::string RemoveBlanks(const std::string& name);

// The umask as the account manager shows it: at least three digits ("%.3d" of the stored value).
std::string UMaskText(std::int32_t umask);
// The stored value of a umask text: its octal digits read as a decimal number ("022" -> 22);
// nullopt unless the text is one to four octal digits.
std::optional<std::int32_t> UMaskFromText(const std::string& text);
// The permissions a new file gets under this umask text, e.g. "-rw-r--r--" for "022". A text
// that is not an octal number counts as 0.
std::string UMaskSample(const std::string& text);
// A port typed or stored: 1 to 65535.
std::optional<int> PortFromText(const std::string& text);

// What ApplyAccount asks the user; empty functions count as a cancel.
struct TAccountPrompts {
    // The quick-connect dialog: fills host, user and password; false when cancelled.
    std::function<bool(std::string& host, std::string& user, std::string& password)> quickConnect;
    // The password prompt with this caption ("Password for " + account name); nullopt on cancel.
    std::function<std::optional<std::string>(const std::string& caption)> password;
    // Asked during the login when a server under "Use TLS if available" offers no TLS, before
    // the user name is sent (not when the account already allows it): true to go on in clear
    // text. The answer is the prompt's to remember.
    std::function<bool(const TAccount& account, const std::string& host)> clearText;
    // Asked when the server's certificate does not verify and the account does not trust its
    // fingerprint: true to connect. "Always trust" is the prompt's to remember.
    std::function<bool(const TAccount& account, const std::string& host,
                       const TTlsCertificate& certificate)>
        certificate;
    // The password kept for an account whose settings hold none, or that prompts (the desktop
    // keyring's, or one typed earlier in this run); nullopt when the user must be asked.
    std::function<std::optional<std::string>(const TAccount& account)> keptPassword;
    // The prompt for this account's password; used instead of password when set.
    std::function<std::optional<std::string>(const TAccount& account)> askPassword;
    // SSH: the question for an unknown host key (the answer "Always" is the login's to write
    // into known_hosts) and the passphrase of a private key (nullopt: skip that key).
    std::function<THostKeyAnswer(const TAccount& account, const std::string& host,
                                 const THostKey& key)>
        hostKey;
    std::function<std::optional<std::string>(const TAccount& account, const std::string& keyFile)>
        passphrase;
};

// The firewall settings of the application options ("Firewall address", "Firewall port").
struct TFirewallSettings {
    std::string address;
    std::string port; // used when it is a valid integer, otherwise the account's port
};

// A new file system for the account's protocol, not yet connected (ApplyAccount gives its login).
std::unique_ptr<TRemoteFileSystem> MakeFileSystem(platform::EventLoop& loop,
                                                  const TAccount& account);
// Gives the file system the account's login with its security questions set to the account's
// answers and the prompts (the umask left unset; quick-connect uses passive mode and TLS when
// the server offers it). False when the user cancelled a prompt; the file system is then left
// as it was.
bool ApplyAccount(const TAccount& account, TRemoteFileSystem& fs, const TFirewallSettings& firewall,
                  const TAccountPrompts& prompts);

} // namespace morvane::net
