#include "core/editor/KeyStore.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace morvane::editor {

namespace {

struct KeyName {
    const char* name;
    std::uint16_t code;
};

// Sorted by name for the binary search.
constexpr std::array<KeyName, 26> kKeyNames{{
    {"backspace", 8}, {"delete", 46}, {"down", 40},   {"end", 35},   {"f1", 112},
    {"f10", 121},     {"f11", 122},   {"f12", 123},   {"f2", 113},   {"f3", 114},
    {"f4", 115},      {"f5", 116},    {"f6", 117},    {"f7", 118},   {"f8", 119},
    {"f9", 120},      {"home", 36},   {"insert", 45}, {"left", 37},  {"pagedown", 34},
    {"pageup", 33},   {"return", 13}, {"right", 39},  {"space", 32}, {"tab", 9},
    {"up", 38},
}};

struct ShortName {
    std::uint16_t code;
    const char* text;
};

constexpr ShortName kShortNames[] = {
    {8, "BkSp"},    {9, "Tab"},     {13, "Enter"},  {27, "Esc"},    {32, "Space"},  {33, "PgUp"},
    {34, "PgDn"},   {35, "End"},    {36, "Home"},   {37, "Left"},   {38, "Up"},     {39, "Right"},
    {40, "Down"},   {45, "Ins"},    {46, "Del"},    {96, "Num 0"},  {97, "Num 1"},  {98, "Num 2"},
    {99, "Num 3"},  {100, "Num 4"}, {101, "Num 5"}, {102, "Num 6"}, {103, "Num 7"}, {104, "Num 8"},
    {105, "Num 9"}, {106, "Num *"}, {107, "Num +"}, {109, "Num -"}, {110, "Num ."}, {111, "Num /"},
    {186, ";"},     {187, "="},     {188, ","},     {189, "-"},     {190, "."},     {191, "/"},
    {192, "`"},     {219, "["},     {220, "\\"},    {221, "]"},     {222, "'"},
};

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = char(x + 32);
        if (y >= 'A' && y <= 'Z') y = char(y + 32);
        if (x != y) return false;
    }
    return true;
}

} // namespace

std::uint16_t keyCodeOfName(std::string_view name) {
    std::string lower(name);
    for (auto& c : lower)
        if (c >= 'A' && c <= 'Z') c = char(c + 32);
    auto it = std::lower_bound(kKeyNames.begin(), kKeyNames.end(), lower,
                               [](const KeyName& k, const std::string& n) { return k.name < n; });
    if (it != kKeyNames.end() && it->name == lower) return it->code;
    return 0;
}

std::string shortCutToText(std::uint16_t shortcut) {
    std::uint16_t key = shortcut & scKeyMask;
    std::string name;
    if ((key >= '0' && key <= '9') || (key >= 'A' && key <= 'Z')) {
        name = std::string(1, char(key));
    } else if (key >= vkF1 && key <= vkF12) {
        name = "F" + std::to_string(key - vkF1 + 1);
    } else {
        for (const auto& s : kShortNames)
            if (s.code == key) name = s.text;
    }
    if (name.empty()) return {};
    std::string text;
    if (shortcut & scShift) text += "Shift+";
    if (shortcut & scCtrl) text += "Ctrl+";
    if (shortcut & scAlt) text += "Alt+";
    return text + name;
}

std::uint16_t textToShortCut(std::string_view text) {
    std::uint16_t mods = 0;
    for (;;) {
        auto plus = text.find('+');
        if (plus == std::string_view::npos || plus + 1 >= text.size()) break;
        std::string_view mod = text.substr(0, plus);
        if (equalsNoCase(mod, "shift"))
            mods |= scShift;
        else if (equalsNoCase(mod, "ctrl"))
            mods |= scCtrl;
        else if (equalsNoCase(mod, "alt"))
            mods |= scAlt;
        else
            return 0;
        text.remove_prefix(plus + 1);
    }
    if (text.size() == 1) {
        char c = text[0];
        if (c >= 'a' && c <= 'z') c = char(c - 32);
        if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z')) return std::uint16_t(mods | c);
    }
    if (text.size() >= 2 && (text[0] == 'F' || text[0] == 'f')) {
        int n = 0;
        for (char c : text.substr(1))
            n = (c >= '0' && c <= '9' && n < 100) ? n * 10 + (c - '0') : 1000;
        if (n >= 1 && n <= 12) return std::uint16_t(mods | (vkF1 + n - 1));
    }
    for (const auto& s : kShortNames)
        if (equalsNoCase(text, s.text)) return std::uint16_t(mods | s.code);
    return 0;
}

std::uint16_t keyOfChar(unsigned char c) {
    constexpr std::uint16_t shift = 256;
    if (c >= 'a' && c <= 'z') return std::uint16_t(c - 32);
    if (c >= 'A' && c <= 'Z') return std::uint16_t(c | shift);
    if (c >= '0' && c <= '9') return c;
    switch (c) {
    case ' ':
        return 32;
    case '\t':
        return 9;
    case '\r':
        return 13;
    case '\n':
        return 13 | 512;
    case 8:
        return 8;
    case 27:
        return 27;
    case ';':
        return 186;
    case ':':
        return 186 | shift;
    case '=':
        return 187;
    case '+':
        return 187 | shift;
    case ',':
        return 188;
    case '<':
        return 188 | shift;
    case '-':
        return 189;
    case '_':
        return 189 | shift;
    case '.':
        return 190;
    case '>':
        return 190 | shift;
    case '/':
        return 191;
    case '?':
        return 191 | shift;
    case '`':
        return 192;
    case '~':
        return 192 | shift;
    case '[':
        return 219;
    case '{':
        return 219 | shift;
    case '\\':
        return 220;
    case '|':
        return 220 | shift;
    case ']':
        return 221;
    case '}':
        return 221 | shift;
    case '\'':
        return 222;
    case '"':
        return 222 | shift;
    case '!':
        return '1' | shift;
    case '@':
        return '2' | shift;
    case '#':
        return '3' | shift;
    case '$':
        return '4' | shift;
    case '%':
        return '5' | shift;
    case '^':
        return '6' | shift;
    case '&':
        return '7' | shift;
    case '*':
        return '8' | shift;
    case '(':
        return '9' | shift;
    case ')':
        return '0' | shift;
    default:
        return 0xFFFF;
    }
}

void TKeyStore::clear() {
    nodes_.clear();
    index_.clear();
    lastOfLevel_.clear();
    first_ = -1;
    position_ = -1;
}

std::int32_t TKeyStore::find(std::int32_t parent, std::uint16_t shortcut) const {
    auto it = index_.find(slot(parent, shortcut));
    return it == index_.end() ? -1 : it->second;
}

std::int32_t TKeyStore::findOrAdd(std::int32_t parent, std::uint16_t shortcut) {
    if (std::int32_t n = find(parent, shortcut); n >= 0) return n;
    Node node;
    node.shortcut = shortcut;
    node.parent = parent;
    nodes_.push_back(node);
    auto added = std::int32_t(nodes_.size() - 1);
    auto last = lastOfLevel_.find(parent);
    if (last != lastOfLevel_.end())
        nodes_[std::size_t(last->second)].sibling = added;
    else if (parent < 0)
        first_ = added;
    else
        nodes_[std::size_t(parent)].child = added;
    lastOfLevel_[parent] = added;
    index_.emplace(slot(parent, shortcut), added);
    return added;
}

void TKeyStore::forEachInTreeOrder(const std::function<bool(std::int32_t)>& visit) const {
    // Depth-first with the sibling taken before the child; iterative so that no stored tree
    // can exhaust the call stack.
    std::vector<std::int32_t> stack;
    if (first_ >= 0) stack.push_back(first_);
    while (!stack.empty()) {
        std::int32_t n = stack.back();
        stack.pop_back();
        if (!visit(n)) return;
        const Node& node = nodes_[std::size_t(n)];
        if (node.child >= 0) stack.push_back(node.child);
        if (node.sibling >= 0) stack.push_back(node.sibling);
    }
}

TKeyStore::Result TKeyStore::lookup(std::uint16_t shortcut, std::int32_t& command) {
    if (position_ >= 0) shortcut &= scKeyMask;
    std::int32_t n = find(position_, shortcut);
    if (n < 0) {
        position_ = -1;
        return Result::NoMatch;
    }
    const Node& node = nodes_[std::size_t(n)];
    if (node.child >= 0) {
        position_ = n;
        return Result::Prefix;
    }
    position_ = -1;
    if (!node.isEnd) return Result::NoMatch;
    command = node.command;
    return Result::Command;
}

} // namespace morvane::editor
