#include "core/app/DocumentRules.h"

#include "core/editor/CustomCodeMemo.h"

#include <cstdio>
#include <vector>

namespace morvane::app {

DoubleSpacing detectDoubleSpacing(std::size_t count,
                                  const std::function<bool(std::size_t)>& lineEmpty) {
    if (count <= 1) return DoubleSpacing::None;
    auto allEmpty = [&](std::size_t first) {
        for (std::size_t i = first; i < count; i += 2)
            if (!lineEmpty(i)) return false;
        return true;
    };
    if (allEmpty(0)) return DoubleSpacing::TextOnOddLines;
    if (allEmpty(1)) return DoubleSpacing::TextOnEvenLines;
    return DoubleSpacing::None;
}

namespace {

// Calls f(start, end, empty) for each physical line; end is past its line break.
template <typename F> void forEachPhysicalLine(const editor::TTextStore& store, F f) {
    editor::TextOffset start = 0;
    bool empty = true;
    auto c = store.CursorAt(0);
    for (; !store.AtEnd(c); store.Next(c)) {
        std::string_view t = store.Text(c);
        const bool lineEnds = !t.empty() && t.back() == editor::kCR;
        if (t.size() > (lineEnds ? 1u : 0u)) empty = false;
        if (lineEnds) {
            const editor::TextOffset end = c.start + editor::TextOffset(t.size());
            f(start, end, empty);
            start = end;
            empty = true;
        }
    }
    // The last line has no break; after a final break there is no further line.
    if (start < store.Length()) f(start, store.Length(), empty);
}

} // namespace

DoubleSpacing detectDoubleSpacing(const editor::TCustomCodeMemo& memo) {
    std::vector<bool> empty;
    forEachPhysicalLine(
        memo.Store(), [&](editor::TextOffset, editor::TextOffset, bool e) { empty.push_back(e); });
    return detectDoubleSpacing(empty.size(), [&](std::size_t i) { return bool(empty[i]); });
}

std::size_t removeDoubleSpacing(editor::TCustomCodeMemo& memo, DoubleSpacing spacing) {
    if (spacing == DoubleSpacing::None) return 0;
    std::size_t parity = spacing == DoubleSpacing::TextOnOddLines ? 0 : 1, index = 0;
    std::vector<std::pair<editor::TextOffset, editor::TextOffset>> doomed;
    forEachPhysicalLine(memo.Store(),
                        [&](editor::TextOffset start, editor::TextOffset end, bool empty) {
                            if (index++ % 2 == parity && empty) doomed.emplace_back(start, end);
                        });
    if (doomed.empty()) return 0;
    editor::TUndoGroupScope group(memo, editor::ugDoubleSpaced);
    memo.BeginUpdate();
    try {
        // From the end, so that the offsets before each deleted line stay true.
        for (auto it = doomed.rbegin(); it != doomed.rend(); ++it) {
            memo.SetSelection(it->first, it->second, false);
            memo.ReplaceSel({});
        }
    } catch (...) {
        memo.EndUpdate();
        throw;
    }
    memo.EndUpdate();
    return doomed.size();
}

std::string caretPositionText(long line, long column) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%4ld:%4ld", line, column);
    return buf;
}

std::string saveBeforeClosingQuestion(std::string_view fileName) {
    return "File '" + std::string(fileName) + "' has been modified, save before closing?";
}

std::string cancelSavingQuestion(std::string_view fileName) {
    return "Cancel saving file '" + std::string(fileName) + "'?";
}

std::string documentPlace(std::string_view account, std::string_view directory, bool remote) {
    std::string folder(directory);
    if (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    if (!remote) return folder;
    // An empty remote folder is the home folder until the login names it.
    return std::string(account) + ":" + (folder.empty() ? "~" : folder);
}

std::string documentWindowTitle(std::string_view fileName, std::string_view place, bool modified) {
    std::string title = tabCaption(fileName, modified);
    if (!place.empty()) title += " - " + std::string(place);
    return title + " - Morvane";
}

std::string tabCaption(std::string_view fileName, bool modified) {
    return (modified ? "*" : "") + std::string(fileName);
}

std::string associationQuestion(std::string_view fileName, std::string_view language) {
    std::size_t dot = fileName.rfind('.');
    std::string phrase = dot == std::string_view::npos
                             ? std::string("no extension")
                             : "extension \"" + std::string(fileName.substr(dot)) + "\"";
    std::string lower(language);
    for (auto& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return "Do you want to associate all files with " + phrase + " with " + lower +
           " syntax highlighting?";
}

} // namespace morvane::app
