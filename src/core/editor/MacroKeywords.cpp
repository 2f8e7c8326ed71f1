#include "core/editor/MacroKeywords.h"

#include "core/editor/CodeMemoError.h"
#include "core/editor/KeyStore.h"
#include "core/editor/KeyboardActionContoller.h"

#include <algorithm>

namespace morvane::editor {

std::string normaliseLineBreaks(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        out.push_back(c == '\n' ? '\r' : c);
    }
    return out;
}

TMacroKeywords::TMacroKeywords() {
    setCaseSensitive(false);
}

std::string TMacroKeywords::fieldProblem(std::string_view name, std::string_view description) {
    if (name.size() > kMaxFieldBytes)
        return "The name \"" + std::string(name.substr(0, 40)) + "...\" is " +
               std::to_string(name.size()) + " bytes long; a name may have at most 255 bytes.";
    if (description.size() > kMaxFieldBytes)
        return "The description of \"" + std::string(name) + "\" is " +
               std::to_string(description.size()) +
               " bytes long; a description may have at most 255 bytes.";
    return {};
}

void TMacroKeywords::addEntry(std::string_view name, std::optional<std::string> description,
                              std::optional<std::string> expansion) {
    if (name.empty()) return;
    if (std::string problem = fieldProblem(name, description.value_or(std::string()));
        !problem.empty())
        throw ECodeMemo(problem);
    if (expansion) expansion = normaliseLineBreaks(*expansion);
    std::string key = lowered(name);
    auto [it, added] =
        entries_.insert_or_assign(key, MacroEntry{std::move(description), std::move(expansion)});
    if (added) {
        add(std::string(key.rbegin(), key.rend()), 0, StateSet{0});
        maxNameLength_ = std::max(maxNameLength_, key.size());
    }
}

bool TMacroKeywords::deleteEntry(std::string_view name) {
    bool erased = entries_.erase(lowered(name)) > 0;
    if (erased) rebuildTrie();
    return erased;
}

void TMacroKeywords::clearEntries() {
    entries_.clear();
    clear();
    maxNameLength_ = 0;
}

void TMacroKeywords::rebuildTrie() {
    clear();
    maxNameLength_ = 0;
    for (const auto& [name, e] : entries_) {
        add(std::string(name.rbegin(), name.rend()), 0, StateSet{0});
        maxNameLength_ = std::max(maxNameLength_, name.size());
    }
}

const MacroEntry* TMacroKeywords::entry(std::string_view name) const {
    auto it = entries_.find(lowered(name));
    return it == entries_.end() ? nullptr : &it->second;
}

std::optional<std::pair<std::string, std::size_t>>
TMacroKeywords::nameBefore(std::string_view text, std::size_t end) const {
    auto m = matchBackward(text, end, StateSet{0});
    if (!m) return std::nullopt;
    return std::make_pair(lowered(text.substr(end - m->length, m->length)), m->length);
}

bool TMacroKeywords::isTrigger(std::uint16_t key, unsigned shift) const {
    std::uint16_t sc = key & scKeyMask;
    if (shift & ssShift) sc |= scShift;
    if (shift & ssCtrl) sc |= scCtrl;
    if (shift & ssAlt) sc |= scAlt;
    return hotkey != 0 && sc == hotkey;
}

} // namespace morvane::editor
