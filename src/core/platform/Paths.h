#pragma once
// Paths as the program receives them and the folders it keeps its own files in.

#include <filesystem>
#include <string>
#include <string_view>

namespace morvane::platform {

// A path that names a file for this process: relative paths are taken against the current
// working folder, now, so that they keep their meaning when handed to another process or kept
// for later. "." components are dropped; ".." is kept, since a symbolic link before it decides
// where it leads. The empty text stays empty.
std::string absolutePath(std::string_view path);

// "MORVANE://account:path" references name remote files; they are not local paths.
bool isRemoteReference(std::string_view argument);

// Where writing to path really lands: a symbolic link (or a chain of them, at most 40) is
// followed to the file it names, which need not exist yet. Other paths come back unchanged.
std::string writeTarget(const std::string& path);

// MORVANE_STATE_DIR, else $XDG_STATE_HOME/morvane, else ~/.local/state/morvane: the per-user
// state folder (copies kept while a file is rewritten in place, recovery files).
std::filesystem::path defaultStateDir();

} // namespace morvane::platform
