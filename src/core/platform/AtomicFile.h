#pragma once
// Replacing a small private file all at once: the bytes go to a temporary file beside it, are
// synced, and the temporary file is renamed over the old one, so a reader (or a crash) sees
// either the old file or the new one whole.

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace morvane::platform {

// Writes the pieces one after the other to path with the given mode. False with error set (the
// old file, if any, is left as it was and the temporary one is removed).
bool replaceFileAtomically(const std::filesystem::path& path,
                           const std::vector<std::string_view>& pieces, unsigned mode,
                           std::string& error);

// The same for bytes made while they are written: produce hands each piece to the function it
// gets, which returns false when the write failed; produce returns false to give up.
using PieceSink = std::function<bool(std::string_view)>;
bool replaceFileAtomically(const std::filesystem::path& path, unsigned mode,
                           const std::function<bool(const PieceSink&)>& produce,
                           std::string& error);

} // namespace morvane::platform
