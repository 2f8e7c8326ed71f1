#pragma once
// TCustomBookmarks: named positions in the text that follow its edits. Entries are kept in text
// order; a name is unique (adding it again moves the bookmark).

#include "core/editor/TextTypes.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace morvane::editor {

struct TCustBookmark {
    std::string name;
    TextOffset offset = 0;
    bool operator==(const TCustBookmark&) const = default;
};

class TCustomBookmarks {
public:
    // Raised for every entry removed by an edit or by clear().
    std::function<void(const std::string& name)> onFree;

    void add(std::string_view name, TextOffset offset);
    std::optional<TextOffset> find(std::string_view name) const;
    bool remove(std::string_view name);
    void clear();
    // In text order; equal offsets keep the order they were added in.
    const std::vector<TCustBookmark>& entries() const { return entries_; }
    // Names in sorted order.
    std::vector<std::string> names() const;

    // Bookmarks at or after at move by length.
    void textInserted(TextOffset at, TextOffset length);
    // Positions strictly inside [from, to) vanish with the text; the one at to and those after
    // it move back to close the gap. A bookmark at from stays where it is.
    void textDeleted(TextOffset from, TextOffset to);

private:
    std::vector<TCustBookmark> entries_;
};

} // namespace morvane::editor
