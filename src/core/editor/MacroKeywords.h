#pragma once
// TMacroKeywords: named expansions (code templates, auto-replace pairs). Names are kept in lower
// case in a sorted list and, reversed, in the keyword trie so that the name that ends at the caret
// can be found by reading backwards.

#include "core/editor/Keywords.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace morvane::editor {

struct MacroEntry {
    std::optional<std::string> description;
    std::optional<std::string> expansion;
    bool operator==(const MacroEntry&) const = default;
};

// CR LF and lone LF become the editor's single line break, CR.
std::string normaliseLineBreaks(std::string_view text);

class TMacroKeywords : public TKeywords {
public:
    TMacroKeywords();

    // Names, descriptions and the end-key text have one-byte lengths in the stream form.
    static constexpr std::size_t kMaxFieldBytes = 255;
    // The message for a name or description the stream form cannot hold; empty when it can.
    static std::string fieldProblem(std::string_view name, std::string_view description);

    // A name or description over kMaxFieldBytes raises ECodeMemo with fieldProblem's message,
    // so that nothing is stored that would read back differently.
    void addEntry(std::string_view name, std::optional<std::string> description,
                  std::optional<std::string> expansion);
    bool deleteEntry(std::string_view name);
    void clearEntries();
    void rebuildTrie();
    const std::map<std::string, MacroEntry>& entries() const { return entries_; }
    const MacroEntry* entry(std::string_view name) const;
    // The longest name, so that matching before the caret reads no more text than that.
    std::size_t maxNameLength() const { return maxNameLength_; }

    // The longest name ending at text[end-1], read backwards; its length.
    std::optional<std::pair<std::string, std::size_t>> nameBefore(std::string_view text,
                                                                  std::size_t end) const;

    // Whether a key (virtual key code) with a ShiftState is the trigger.
    virtual bool isTrigger(std::uint16_t key, unsigned shift) const;

    std::uint16_t hotkey = 0x4000 | 'J';
    bool swallowKey = true;
    bool indentExpansion = true;
    bool caretMarker = true;
    bool popup = true;
    std::int32_t enabled = 1;

protected:
    std::map<std::string, MacroEntry> entries_;
    std::size_t maxNameLength_ = 0;
};

} // namespace morvane::editor
