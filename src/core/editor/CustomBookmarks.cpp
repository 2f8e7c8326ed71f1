#include "core/editor/CustomBookmarks.h"

#include <algorithm>

namespace morvane::editor {

void TCustomBookmarks::add(std::string_view name, TextOffset offset) {
    remove(name);
    auto at = std::upper_bound(entries_.begin(), entries_.end(), offset,
                               [](TextOffset o, const TCustBookmark& b) { return o < b.offset; });
    entries_.insert(at, TCustBookmark{std::string(name), offset});
}

std::optional<TextOffset> TCustomBookmarks::find(std::string_view name) const {
    for (const TCustBookmark& b : entries_)
        if (b.name == name) return b.offset;
    return std::nullopt;
}

bool TCustomBookmarks::remove(std::string_view name) {
    auto it = std::find_if(entries_.begin(), entries_.end(),
                           [&](const TCustBookmark& b) { return b.name == name; });
    if (it == entries_.end()) return false;
    entries_.erase(it);
    return true;
}

void TCustomBookmarks::clear() {
    // Handlers may look at the list: it is empty before the first one runs.
    std::vector<TCustBookmark> gone;
    gone.swap(entries_);
    if (onFree)
        for (const TCustBookmark& b : gone)
            onFree(b.name);
}

std::vector<std::string> TCustomBookmarks::names() const {
    std::vector<std::string> out;
    out.reserve(entries_.size());
    for (const TCustBookmark& b : entries_)
        out.push_back(b.name);
    std::sort(out.begin(), out.end());
    return out;
}

void TCustomBookmarks::textInserted(TextOffset at, TextOffset length) {
    for (TCustBookmark& b : entries_)
        if (b.offset >= at) b.offset += length;
}

void TCustomBookmarks::textDeleted(TextOffset from, TextOffset to) {
    if (to <= from) return;
    std::vector<std::string> gone;
    std::vector<TCustBookmark> kept;
    kept.reserve(entries_.size());
    for (TCustBookmark& b : entries_) {
        if (b.offset > from && b.offset < to) {
            gone.push_back(std::move(b.name));
            continue;
        }
        if (b.offset >= to) b.offset -= to - from;
        kept.push_back(std::move(b));
    }
    entries_.swap(kept);
    if (onFree)
        for (const std::string& name : gone)
            onFree(name);
}

} // namespace morvane::editor
