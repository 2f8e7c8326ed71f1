#pragma once
// A set of highlighter states 0..255 as 256 bits (bit n of byte n/8 is state n). Shared by the
// keyword tries here and by the highlighter definitions built on them.

#include <array>
#include <cstdint>
#include <initializer_list>

namespace morvane::editor {

struct StateSet {
    std::array<std::uint8_t, 32> bits{};

    StateSet() = default;
    StateSet(std::initializer_list<int> states) {
        for (int s : states)
            add(s);
    }

    bool has(int s) const { return s >= 0 && s < 256 && (bits[s >> 3] >> (s & 7)) & 1; }
    void add(int s) {
        if (s >= 0 && s < 256) bits[s >> 3] |= std::uint8_t(1u << (s & 7));
    }
    void remove(int s) {
        if (s >= 0 && s < 256) bits[s >> 3] &= std::uint8_t(~(1u << (s & 7)));
    }
    bool empty() const {
        for (auto b : bits)
            if (b) return false;
        return true;
    }
    bool meets(const StateSet& o) const {
        for (int i = 0; i < 32; ++i)
            if (bits[i] & o.bits[i]) return true;
        return false;
    }
    StateSet& operator|=(const StateSet& o) {
        for (int i = 0; i < 32; ++i)
            bits[i] |= o.bits[i];
        return *this;
    }
    // Set difference: removes every member of o.
    StateSet& operator-=(const StateSet& o) {
        for (int i = 0; i < 32; ++i)
            bits[i] &= std::uint8_t(~o.bits[i]);
        return *this;
    }
    StateSet operator&(const StateSet& o) const {
        StateSet r;
        for (int i = 0; i < 32; ++i)
            r.bits[i] = bits[i] & o.bits[i];
        return r;
    }
    // Lowest member, or -1 when empty.
    int first() const {
        for (int s = 0; s < 256; ++s)
            if (has(s)) return s;
        return -1;
    }
    bool operator==(const StateSet&) const = default;
};

} // namespace morvane::editor
