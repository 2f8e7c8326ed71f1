#pragma once
// TKeywords: a character trie of words, each ending in entries (states, token value, follow
// group). Used for the highlighter's keyword tables (matched forward from a character) and, with
// the words stored reversed, for template and auto-replace names (matched backward from the caret).

#include "core/editor/StateSet.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace morvane::editor {

class EKeywords : public std::runtime_error {
public:
    explicit EKeywords(const std::string& message) : std::runtime_error(message) {}
};

struct KeywordEntry {
    StateSet states;
    std::uint8_t token = 0;
    std::int32_t followGroup = -1; // character group the next character must be in; -1: none
};

class TKeywords {
public:
    // Tells whether character ch (-1 at the end of the text) satisfies a follow group.
    using FollowTest = std::function<bool(std::int32_t group, int ch)>;

    struct Match {
        std::size_t length = 0;
        KeywordEntry entry;
    };

    TKeywords() { index_.fill(-1); }
    virtual ~TKeywords() = default;

    // A case-insensitive table stores words lower-cased and lower-cases the text it matches.
    bool caseSensitive() const { return caseSensitive_; }
    void setCaseSensitive(bool on) { caseSensitive_ = on; }

    // Raises EKeywords "Duplicate keyword - '%s'" when the word already has an entry whose
    // states meet the new one's.
    void add(std::string_view word, std::uint8_t token, const StateSet& states,
             std::int32_t followGroup = -1);
    // The entry of a word (folded as add would fold it) meeting states, if any.
    std::optional<KeywordEntry> find(std::string_view word, const StateSet& states) const;
    void clear();
    std::size_t wordCount() const { return words_.size(); }
    bool empty() const { return words_.empty(); }

    // Longest word starting at text[pos] whose entry meets states and whose follow group accepts
    // the character after it.
    std::optional<Match> matchForward(std::string_view text, std::size_t pos,
                                      const StateSet& states, const FollowTest& follow = {}) const;
    // matchForward for the highlighter's hot loop: the follow test is inlined and the entry is
    // not copied. entry stays valid until the table changes.
    struct Hit {
        std::size_t length = 0;
        const KeywordEntry* entry = nullptr; // null: no match
    };
    template <class Follow>
    Hit matchAt(std::string_view text, std::size_t pos, const StateSet& states,
                const Follow& follow) const;
    // Longest stored word that, read backwards from text[end-1], matches (for reversed names).
    std::optional<Match> matchBackward(std::string_view text, std::size_t end,
                                       const StateSet& states) const;

    // Every word with its entries, in insertion order.
    void forEach(const std::function<void(const std::string& word, const KeywordEntry&)>& fn) const;

    static char lower(char c) { return (c >= 'A' && c <= 'Z') ? char(c + 32) : c; }
    static std::string lowered(std::string_view s);

private:
    struct Node {
        char ch;
        std::int32_t sibling = -1;
        std::int32_t child = -1;
        StateSet states;
        std::vector<KeywordEntry> entries;
    };
    std::int32_t findChild(std::int32_t first, char c) const;
    std::int32_t insertChild(std::int32_t parent, char c);
    std::int32_t walk(std::string_view word) const;

    bool caseSensitive_ = false;
    std::array<std::int32_t, 256> index_;
    std::vector<Node> nodes_;
    std::vector<std::pair<std::string, KeywordEntry>> words_;
};

template <class Follow>
TKeywords::Hit TKeywords::matchAt(std::string_view text, std::size_t pos, const StateSet& states,
                                  const Follow& follow) const {
    Hit best;
    const std::size_t size = text.size();
    if (pos >= size) return best;
    auto fold = [this](char c) { return caseSensitive_ ? c : lower(c); };
    std::int32_t n = index_[std::uint8_t(fold(text[pos]))];
    std::size_t i = pos;
    while (n >= 0) {
        const Node& node = nodes_[std::size_t(n)];
        if (!node.states.meets(states)) break;
        ++i;
        if (!node.entries.empty()) {
            const int next = i < size ? std::uint8_t(text[i]) : -1;
            for (const auto& e : node.entries) {
                if (!e.states.meets(states)) continue;
                if (e.followGroup >= 0 && !follow(e.followGroup, next)) continue;
                best = Hit{i - pos, &e};
                break;
            }
        }
        if (i >= size) break;
        const char c = fold(text[i]);
        n = node.child;
        while (n >= 0 && nodes_[std::size_t(n)].ch != c)
            n = nodes_[std::size_t(n)].sibling;
    }
    return best;
}

} // namespace morvane::editor
