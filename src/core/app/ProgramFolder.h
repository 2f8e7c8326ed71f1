#pragma once
// The program folder: a writable folder of the user's that holds "filetypes.txt",
// "AutoReplace.txt", "Templates.txt", "*.stx" scripts and the Templates and Weblinks folders. Each
// file of the installed read-only resources is copied into it once: the folder remembers what it
// was given (kSeededList), so a file the user deleted stays deleted and an edited one is never
// replaced, while files new in a later version still arrive.

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

namespace morvane::app {

// MORVANE_HOME, else $XDG_DATA_HOME/morvane, else ~/.local/share/morvane.
std::filesystem::path defaultProgramFolder();

// MORVANE_RESOURCES, else <executable folder>/../share/morvane when it exists (installed),
// else the source tree's resources folder (running from the build tree).
std::filesystem::path resourcesFolder();

// The user manual's first page: "manual/index.html" in the resources folder (installed), else
// the source tree's docs/manual (running from the build tree); empty when neither exists.
std::filesystem::path manualIndex(const std::filesystem::path& resources);

inline constexpr const char* kSeededList = ".seeded";

// A file an earlier version shipped, known by the FNV-1a hash of its exact bytes: a copy the
// user never changed is replaced by the new version's.
struct SupersededFile {
    const char* name; // relative to data/
    std::uint64_t fnv1a;
};
std::uint64_t fnv1a64(std::string_view bytes);
std::span<const SupersededFile> supersededFiles();

// Copies every file of <resources>/data that was never seeded and that the folder does not have,
// and records them all as seeded; a seeded file still exactly as an earlier version shipped it is
// brought up to date. Returns an error text, empty on success.
std::string seedProgramFolder(const std::filesystem::path& folder,
                              const std::filesystem::path& resources,
                              std::span<const SupersededFile> superseded = supersededFiles());

} // namespace morvane::app
