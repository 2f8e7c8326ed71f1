#pragma once
// Where the program keeps its settings in the store, and the start-up steps that only touch the
// store: the single-instance setting, first-run set-up with the migration of older versions'
// keys, and the default weblinks.

#include "core/platform/Registry.h"

#include <filesystem>
#include <string>

namespace morvane::app {

inline constexpr const char* kPerUserRoot = "Software\\Orvandel\\Morvane\\2.1";
inline constexpr const char* kSettingsKey = "Software\\Orvandel\\Morvane\\2.1\\Settings";
inline constexpr const char* kMachineRoot = "Software\\Orvandel\\Morvane\\2.1"; // first-run marker
inline constexpr const char* kVersion20Root = "Software\\Orvandel\\Morvane\\2.0";
inline constexpr const char* kVersion10Root = "Software\\Orvandel\\Morvane\\1.0";
inline constexpr const char* kWeblinksKey = "Software\\Orvandel\\Morvane\\2.1\\Weblinks";
inline constexpr const char* kAccountsKey = "Software\\Orvandel\\Morvane\\2.1\\Accounts";

// On unless the Settings key exists and "One instance only" is exactly "False".
bool singleInstanceEnabled(platform::Registry& registry);

// Writes Weblinks\0 (HTML) and Weblinks\1 (Perl) pointing at the lookup files below the program
// folder. False when the store cannot be written.
bool installDefaultWeblinks(platform::Registry& registry,
                            const std::filesystem::path& programFolder);

enum class FirstRunResult { NotFirstRun, Done, CouldNotWrite };
inline constexpr const char* kCouldNotWriteRegistry = "Could not write to the registry.";

// When the machine-wide marker key is missing: migrates the keys of version 2.0 (per user, then
// machine-wide) or else 1.0, writes "Show toolbar", and creates the marker.
FirstRunResult performFirstRun(platform::Registry& registry);

} // namespace morvane::app
