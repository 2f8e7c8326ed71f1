#pragma once
// Server accounts: one FTP login with its options, stored one key per account under
// Software\Orvandel\Morvane\2.1\Accounts, and the step that turns an account into the
// connection parameters of an FTP client (ApplyAccount).

#include "platform/Registry.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace morvane::net {

class TMsgFTP;

inline constexpr const char* kAccountsRoot = "Software\\Orvandel\\Morvane\\2.1\\Accounts";
inline constexpr const char* kQuickConnectKey = "Software\\Orvandel\\Morvane\\2.1\\Quick connect";
// The entry that stands for the quick-connect dialog; never stored.
inline constexpr const char* kQuickConnectName = "Quick-connect";

struct TAccount {
    std::string Name = "New account";
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

// What ApplyAccount asks the user; empty functions count as a cancel.
struct TAccountPrompts {
    // The quick-connect dialog: fills host, user and password; false when cancelled.
    std::function<bool(std::string& host, std::string& user, std::string& password)> quickConnect;
    // The password prompt with this caption ("Password for " + account name); nullopt on cancel.
    std::function<std::optional<std::string>(const std::string& caption)> password;
};

// The firewall settings of the application options ("Firewall address", "Firewall port").
struct TFirewallSettings {
    std::string address;
    std::string port; // used when it is a valid integer, otherwise the account's port
};

// Copies the account's connection parameters into the client. False when the user cancelled a
// prompt; the client is then left as it was.
bool ApplyAccount(const TAccount& account, TMsgFTP& ftp, const TFirewallSettings& firewall,
                  const TAccountPrompts& prompts);

} // namespace morvane::net
