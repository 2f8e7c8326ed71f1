#pragma once
// The templates the New command offers: every file directly inside a subfolder of "Templates"
// in the program folder. Each subfolder is a group; files directly in "Templates" and deeper
// folders are not offered, so a folder loop (a link back to a parent) is never walked.

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace morvane::app {

struct TTemplateItem {
    std::string caption; // the file name without its last extension
    std::filesystem::path path;
};

struct TTemplateGroup {
    std::string name; // the subfolder's name
    std::vector<TTemplateItem> items;
};

struct TTemplateListing {
    std::vector<TTemplateGroup> groups;
    // Some files were left out because the listing reached kMaxTemplates.
    bool cutShort = false;
};

// The whole name when it has no dot (or only a leading one), else the text before the last dot.
std::string templateCaption(std::string_view fileName);

// Enough for any real collection; a folder holding more is cut short rather than filling the
// dialog for minutes.
inline constexpr std::size_t kMaxTemplates = 2000;

// Groups and files in name order (a directory's own order is arbitrary on Linux); hidden names
// (starting with ".") are skipped. A folder that cannot be read gives no entries.
TTemplateListing listTemplates(const std::filesystem::path& programFolder);

} // namespace morvane::app
