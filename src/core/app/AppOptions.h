#pragma once
// The application-wide options of the Settings key that the Options dialog edits. They are read,
// checked and written as a whole: one field that is not valid stops the write of every field.

#include "core/platform/Registry.h"

#include <optional>
#include <string>
#include <string_view>

namespace morvane::app {

// Off when "False"; the update check reads the same value.
inline constexpr const char* kCheckForUpdates = "Check for updates";
// Seconds between NOOPs on a resting connection; "0" sends none.
inline constexpr const char* kKeepAliveInterval = "Keep-alive interval";
inline constexpr int kMaxKeepAlive = 3600;

struct AppOptions {
    bool restoreWindowSettings = true;
    std::string numRecent = "4"; // as typed
    bool noDefaultAccount = false;
    bool oneInstanceOnly = true;
    std::string firewallAddress;
    std::string firewallPort; // as typed
    bool checkForUpdates = true;
    std::string keepAlive = "60"; // as typed
    bool operator==(const AppOptions&) const = default;
};

enum class OptionsField { NumRecent, KeepAlive, FirewallAddress, FirewallPort };

struct OptionsError {
    OptionsField field; // the field that gets the focus
    std::string message;
};

AppOptions readAppOptions(platform::Registry& registry);

// The first field that cannot be stored, in the dialog's order, or nullopt when all can.
std::optional<OptionsError> validateAppOptions(const AppOptions& options);

// Validates, then writes every value in one write of the store. Returns the validation error,
// or the store's error (field NumRecent) when the write failed; nullopt when stored.
std::optional<OptionsError> writeAppOptions(platform::Registry& registry,
                                            const AppOptions& options);

// What a digits-only field keeps of a typed or pasted text.
std::string digitsOnly(std::string_view text);

} // namespace morvane::app
