#pragma once
// Character groups of the highlighter rules, interned by TSM_CharGroupManager so that equal
// groups share one number, and the parser of character specifier strings ('a-z', '[^"\n]').

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace morvane::highlight {

struct TSM_CharGroup {
    std::array<std::uint8_t, 32> set{};
    std::uint8_t negate = 0;
    std::uint8_t lowest = 255;
    std::uint8_t highest = 0;
    // Streamed but never filled by the compiler.
    std::vector<std::pair<std::uint8_t, std::uint8_t>> ranges;

    void add(std::uint8_t c) {
        set[c >> 3] |= std::uint8_t(1u << (c & 7));
        if (c < lowest) lowest = c;
        if (c > highest) highest = c;
    }
    bool bit(std::uint8_t c) const { return (set[c >> 3] >> (c & 7)) & 1; }
    bool contains(std::uint8_t c) const { return bit(c) != (negate != 0); }
    bool empty() const;
    // Interning identity: same ranges, same set, same negation flag.
    bool operator==(const TSM_CharGroup& o) const {
        return set == o.set && negate == o.negate && ranges == o.ranges;
    }
};

class TSM_CharGroupManager {
public:
    // The number of an equal group already held, or of a copy appended now.
    std::uint32_t add(const TSM_CharGroup& group);
    // Raises ECodeMemo "Invalid Set ID (%d)" for a number at or above count(). Inline: the
    // engine asks for a group at nearly every character.
    const TSM_CharGroup& get(std::uint32_t id) const {
        if (id >= groups_.size()) [[unlikely]]
            invalidId(id);
        return groups_[id];
    }
    std::uint32_t count() const { return std::uint32_t(groups_.size()); }
    void clear();

private:
    [[noreturn]] static void invalidId(std::uint32_t id);
    static std::string key(const TSM_CharGroup& g);
    std::vector<TSM_CharGroup> groups_;
    std::map<std::string, std::uint32_t> index_;
};

// Splits a specifier string (raw script text, escapes kept) into one group per specifier.
// Raises ECodeMemo "Characters not in correct order for range specifier".
std::vector<TSM_CharGroup> parseCharSpecifiers(std::string_view raw);

} // namespace morvane::highlight
