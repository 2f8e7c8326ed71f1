#pragma once
// TWordStore: a case-insensitive trie of words with a value each; the compiler keeps its script
// keywords and its macros in two of them.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace morvane::highlight {

class TWordStore {
public:
    // Adds or replaces the word's value.
    void set(std::string_view word, std::int32_t value);
    std::optional<std::int32_t> find(std::string_view word) const;
    // Lengths of every stored word that is a prefix of text, longest first, with their values.
    std::vector<std::pair<std::size_t, std::int32_t>> prefixesOf(std::string_view text) const;
    void clear() { nodes_.assign(1, Node{}); }

private:
    struct Node {
        std::vector<std::pair<char, std::int32_t>> children; // sorted by character
        std::int32_t value = -1;
        bool terminal = false;
    };
    std::int32_t child(std::int32_t n, char c) const;
    static char fold(char c) { return (c >= 'A' && c <= 'Z') ? char(c + 32) : c; }
    std::vector<Node> nodes_{Node{}};
};

} // namespace morvane::highlight
