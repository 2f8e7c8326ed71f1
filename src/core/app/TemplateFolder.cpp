#include "core/app/TemplateFolder.h"

#include <algorithm>

namespace morvane::app {

namespace fs = std::filesystem;

namespace {

// The names of a folder's entries that pass the filter, sorted; no more than limit are read, so
// a huge folder costs bounded work.
template <class Keep>
std::vector<std::string> entries(const fs::path& folder, std::size_t limit, Keep keep) {
    std::vector<std::string> names;
    std::error_code ec;
    fs::directory_iterator it(folder, ec), end;
    for (; !ec && it != end && names.size() < limit; it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (name.empty() || name.front() == '.') continue;
        if (keep(*it)) names.push_back(std::move(name));
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

std::string templateCaption(std::string_view fileName) {
    std::size_t dot = fileName.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return std::string(fileName);
    return std::string(fileName.substr(0, dot));
}

TTemplateListing listTemplates(const fs::path& programFolder) {
    TTemplateListing listing;
    const fs::path root = programFolder / "Templates";
    // Links are followed: a group or template may be a link to one kept elsewhere.
    auto isFolder = [](const fs::directory_entry& e) {
        std::error_code ec;
        return fs::is_directory(e.path(), ec);
    };
    auto isFile = [](const fs::directory_entry& e) {
        std::error_code ec;
        return fs::is_regular_file(e.path(), ec);
    };
    std::size_t total = 0;
    for (const std::string& group : entries(root, kMaxTemplates, isFolder)) {
        TTemplateGroup g{group, {}};
        // One more than fits is read, to know whether something was left out.
        const std::size_t room = kMaxTemplates - std::min(total, kMaxTemplates);
        std::vector<std::string> files = entries(root / group, kMaxTemplates + 1, isFile);
        for (const std::string& file : files) {
            if (g.items.size() >= room) {
                listing.cutShort = true;
                break;
            }
            g.items.push_back({templateCaption(file), root / group / file});
        }
        total += g.items.size();
        listing.groups.push_back(std::move(g));
    }
    return listing;
}

} // namespace morvane::app
