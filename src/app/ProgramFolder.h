#pragma once
// The program folder: a writable folder of the user's that holds "filetypes.txt",
// "AutoReplace.txt", "Templates.txt", "*.stx" scripts and the Templates and Weblinks folders. It is
// seeded from the installed read-only resources on every start with whatever it lacks, so a
// user's own edits are never replaced.

#include <filesystem>
#include <string>

namespace morvane::app {

// MORVANE_HOME, else $XDG_DATA_HOME/morvane, else ~/.local/share/morvane.
std::filesystem::path defaultProgramFolder();

// MORVANE_RESOURCES, else <executable folder>/../share/morvane when it exists (installed),
// else the source tree's resources folder (running from the build tree).
std::filesystem::path resourcesFolder();

// Copies every file of <resources>/data that the folder does not have yet. Returns an error text,
// empty on success.
std::string seedProgramFolder(const std::filesystem::path& folder,
                              const std::filesystem::path& resources);

} // namespace morvane::app
