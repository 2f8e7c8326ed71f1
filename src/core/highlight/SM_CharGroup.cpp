#include "core/highlight/SM_CharGroup.h"

#include "core/editor/CodeMemoError.h"

namespace morvane::highlight {

using editor::ECodeMemo;

bool TSM_CharGroup::empty() const {
    if (!ranges.empty()) return false;
    for (auto b : set)
        if (b) return false;
    return true;
}

std::string TSM_CharGroupManager::key(const TSM_CharGroup& g) {
    std::string k(reinterpret_cast<const char*>(g.set.data()), g.set.size());
    k.push_back(char(g.negate));
    for (auto [lo, hi] : g.ranges) {
        k.push_back(char(lo));
        k.push_back(char(hi));
    }
    return k;
}

std::uint32_t TSM_CharGroupManager::add(const TSM_CharGroup& group) {
    std::string k = key(group);
    if (auto it = index_.find(k); it != index_.end()) return it->second;
    if (groups_.size() == groups_.capacity()) groups_.reserve(groups_.size() + 16);
    groups_.push_back(group);
    auto id = std::uint32_t(groups_.size() - 1);
    index_.emplace(std::move(k), id);
    return id;
}

void TSM_CharGroupManager::invalidId(std::uint32_t id) {
    throw ECodeMemo("Invalid Set ID (" + std::to_string(id) + ")");
}

void TSM_CharGroupManager::clear() {
    groups_.clear();
    index_.clear();
}

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

struct SpecReader {
    std::string_view s;
    std::size_t i = 0;

    bool atEnd() const { return i >= s.size(); }
    // One character, escapes applied; escaped tells whether it was written with a backslash.
    std::uint8_t next(bool& escaped) {
        escaped = false;
        char c = s[i++];
        if (c != '\\' || atEnd()) return std::uint8_t(c);
        escaped = true;
        char e = s[i++];
        switch (e) {
        case 'b':
            return 8;
        case 'e':
            return 27;
        case 'n':
            return 13;
        case 'r':
            return 10;
        case 's':
            return 32;
        case 't':
            return 9;
        case 'x':
        case 'u': {
            unsigned v = 0;
            while (!atEnd() && hexValue(s[i]) >= 0)
                v = (v * 16 + unsigned(hexValue(s[i++]))) & 0xFFFF;
            return std::uint8_t(v);
        }
        default:
            if (e >= '0' && e <= '7') {
                unsigned v = unsigned(e - '0');
                while (!atEnd() && s[i] >= '0' && s[i] <= '7')
                    v = (v * 8 + unsigned(s[i++] - '0')) & 0xFFFF;
                return std::uint8_t(v);
            }
            return std::uint8_t(e);
        }
    }
    // A character, or a range when an unescaped '-' and another character follow.
    void item(TSM_CharGroup& g) {
        bool escaped;
        std::uint8_t lo = next(escaped);
        if (i + 1 < s.size() && s[i] == '-' && !(inClass && s[i + 1] == ']')) {
            ++i;
            std::uint8_t hi = next(escaped);
            if (hi < lo) throw ECodeMemo("Characters not in correct order for range specifier");
            for (unsigned c = lo; c <= hi; ++c)
                g.add(std::uint8_t(c));
            return;
        }
        g.add(lo);
    }
    bool inClass = false;
};

} // namespace

std::vector<TSM_CharGroup> parseCharSpecifiers(std::string_view raw) {
    std::vector<TSM_CharGroup> groups;
    SpecReader r{raw};
    while (!r.atEnd()) {
        TSM_CharGroup g;
        if (raw[r.i] == '[') {
            ++r.i;
            if (!r.atEnd() && raw[r.i] == '^') {
                g.negate = 1;
                ++r.i;
            }
            r.inClass = true;
            while (!r.atEnd() && raw[r.i] != ']')
                r.item(g);
            r.inClass = false;
            if (!r.atEnd()) ++r.i; // the closing ']'
        } else {
            r.item(g);
        }
        groups.push_back(std::move(g));
    }
    return groups;
}

} // namespace morvane::highlight
