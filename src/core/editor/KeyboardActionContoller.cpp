#include "core/editor/KeyboardActionContoller.h"

#include <algorithm>
#include <array>

namespace morvane::editor {

namespace {

constexpr std::array<const char*, 20> kBaseNames{
    "Cursor left",
    "Cursor right",
    "Line start",
    "Line end",
    "Up one line",
    "Down one line",
    "Up one page",
    "Down one page",
    "Move to word before",
    "Move to word after",
    "Document start",
    "Document end",
    "Cut to clipboard",
    "Copy to clipboard",
    "Paste from clipboard",
    "Delete character at cursor",
    "Delete character before caret",
    "Indent selected block",
    "Un-indent selected block",
    "Toggle insert/overwrite mode",
};

std::uint16_t ctrl(char c) {
    return std::uint16_t(scCtrl | std::uint8_t(c));
}

} // namespace

const TKeyboardActionContoller& TKeyboardActionContoller::globalDefault() {
    static const TKeyboardActionContoller instance = [] {
        TKeyboardActionContoller c;
        c.loadDefaults();
        return c;
    }();
    return instance;
}

void TKeyboardActionContoller::loadDefaults() {
    clear();
    for (std::size_t i = 0; i < kBaseNames.size(); ++i)
        setCommandName(std::int32_t(i), kBaseNames[i]);
    for (int i = 0; i < 10; ++i) {
        setCommandName(20 + i, "Set Bookmark " + std::to_string(i));
        setCommandName(30 + i, "Goto Bookmark " + std::to_string(i));
    }
    setCommandName(40, "Delete current line");
    setCommandName(41, "Undo");
    setCommandName(42, "Redo");
    setCommandName(43, "Delete previous word");
    setCommandName(44, "Print selection");
    setCommandName(50, "Jump to matching bracket");

    const std::uint16_t oneKey[][2] = {
        {vkLeft, 0},
        {vkRight, 1},
        {vkHome, 2},
        {vkEnd, 3},
        {vkUp, 4},
        {vkDown, 5},
        {vkPrior, 6},
        {vkNext, 7},
        {std::uint16_t(scCtrl | vkLeft), 8},
        {std::uint16_t(scCtrl | vkRight), 9},
        {std::uint16_t(scCtrl | vkHome), 10},
        {std::uint16_t(scCtrl | vkEnd), 11},
        {ctrl('X'), 12},
        {ctrl('C'), 13},
        {ctrl('V'), 14},
        {vkDelete, 15},
        {vkBack, 16},
        {vkInsert, 19},
        {ctrl('Y'), 40},
        {ctrl('Z'), 41},
        {std::uint16_t(scShift | scCtrl | 'Z'), 42},
        {std::uint16_t(scCtrl | vkBack), 43},
        {ctrl('M'), 50},
    };
    for (const auto& b : oneKey)
        addBinding(b[0], 0, b[1]);
    addBinding(ctrl('K'), 'I', 17);
    addBinding(ctrl('K'), 'U', 18);
    for (int i = 0; i < 10; ++i) {
        addBinding(ctrl('K'), std::uint16_t('0' + i), 20 + i);
        addBinding(ctrl('Q'), std::uint16_t('0' + i), 30 + i);
    }
    addBinding(ctrl('K'), 'P', 44);
}

const TKeyboardActionContoller& TKeyboardActionContoller::globalDesktop() {
    static const TKeyboardActionContoller instance = [] {
        TKeyboardActionContoller c;
        c.loadDesktopDefaults();
        return c;
    }();
    return instance;
}

void TKeyboardActionContoller::loadDesktopDefaults() {
    TKeyboardActionContoller classic;
    classic.loadDefaults();
    clear();
    for (const auto& [command, name] : classic.commandNames())
        setCommandName(command, name);
    setCommandName(45, "Duplicate lines");
    setCommandName(46, "Move lines up");
    setCommandName(47, "Move lines down");
    setCommandName(48, "Toggle comment");
    setCommandName(49, "Delete selected lines");
    for (const auto& [first, second, command] : classic.bindings())
        if (!(first == ctrl('Y') && second == 0)) addBinding(first, second, command);
    addBinding(ctrl('Y'), 0, 42);
    addBinding(ctrl('D'), 0, 45);
    addBinding(std::uint16_t(scAlt | vkUp), 0, 46);
    addBinding(std::uint16_t(scAlt | vkDown), 0, 47);
    addBinding(std::uint16_t(scCtrl | (keyOfChar('/') & scKeyMask)), 0, 48);
    addBinding(std::uint16_t(scShift | scCtrl | 'K'), 0, 49);
}

void TKeyboardActionContoller::ambiguous(std::int32_t existing, std::int32_t added) const {
    throw EAmbigiousKeyPair("Duplicate key sequence definition for\n\"" + commandName(existing) +
                            "\" and \"" + commandName(added) + "\"");
}

void TKeyboardActionContoller::addBinding(std::uint16_t first, std::uint16_t second,
                                          std::int32_t command) {
    std::int32_t n = store_.find(-1, first);
    if (n >= 0 && second == 0 && store_.node(n).child >= 0)
        ambiguous(store_.node(store_.node(n).child).command, command);
    if (n < 0) n = store_.findOrAdd(-1, first);
    if (second != 0 && !store_.node(n).isEnd)
        n = store_.findOrAdd(n, std::uint16_t(second & scKeyMask));
    auto& node = store_.node(n);
    if (node.isEnd) ambiguous(node.command, command);
    node.isEnd = true;
    node.command = command;
}

void TKeyboardActionContoller::setCommandName(std::int32_t command, const std::string& name) {
    if (auto it = nameIndex_.find(command); it != nameIndex_.end()) {
        names_[it->second].second = name;
        return;
    }
    nameIndex_.emplace(command, names_.size());
    names_.emplace_back(command, name);
}

std::string TKeyboardActionContoller::commandName(std::int32_t command) const {
    auto it = nameIndex_.find(command);
    return it == nameIndex_.end() ? std::string() : names_[it->second].second;
}

bool TKeyboardActionContoller::findFrom(std::int32_t command, std::int32_t after,
                                        std::uint16_t& first, std::uint16_t& second) {
    bool passed = after < 0;
    std::int32_t found = -1;
    store_.forEachInTreeOrder([&](std::int32_t n) {
        if (!passed) {
            passed = n == after;
            return true;
        }
        const auto& node = store_.node(n);
        if (node.isEnd && node.command == command) {
            found = n;
            return false;
        }
        return true;
    });
    first = second = 0;
    lastFound_ = found;
    if (found < 0) return false;
    const auto& node = store_.node(found);
    if (node.parent >= 0) {
        first = store_.node(node.parent).shortcut;
        second = node.shortcut;
    } else {
        first = node.shortcut;
    }
    return true;
}

bool TKeyboardActionContoller::findKeys(std::int32_t command, std::uint16_t& first,
                                        std::uint16_t& second) {
    return findFrom(command, -1, first, second);
}

bool TKeyboardActionContoller::findNextKeys(std::int32_t command, std::uint16_t& first,
                                            std::uint16_t& second) {
    if (lastFound_ < 0) {
        first = second = 0;
        return false;
    }
    return findFrom(command, lastFound_, first, second);
}

std::vector<std::tuple<std::uint16_t, std::uint16_t, std::int32_t>>
TKeyboardActionContoller::bindings() const {
    std::vector<std::tuple<std::uint16_t, std::uint16_t, std::int32_t>> out;
    store_.forEachInTreeOrder([&](std::int32_t n) {
        const auto& node = store_.node(n);
        if (node.isEnd) {
            if (node.parent >= 0)
                out.emplace_back(store_.node(node.parent).shortcut, node.shortcut, node.command);
            else
                out.emplace_back(node.shortcut, 0, node.command);
        }
        return true;
    });
    return out;
}

void TKeyboardActionContoller::clear() {
    store_.clear();
    names_.clear();
    nameIndex_.clear();
    lastFound_ = -1;
}

void TKeyboardActionContoller::assign(const TKeyboardActionContoller& other) {
    if (&other == this) return;
    std::string bytes = other.saveToString();
    BinaryReader in(bytes);
    loadFromStream(in);
}

void TKeyboardActionContoller::saveToStream(BinaryWriter& out) const {
    out.u32(std::uint32_t(names_.size()));
    for (const auto& [c, n] : names_) {
        out.i32(c);
        out.str8(n);
    }
    auto all = bindings();
    out.u32(std::uint32_t(all.size()));
    for (const auto& [first, second, command] : all) {
        out.u16(first);
        out.u16(second);
        out.i32(command);
    }
}

std::string TKeyboardActionContoller::saveToString() const {
    std::string bytes;
    BinaryWriter out(bytes);
    saveToStream(out);
    return bytes;
}

void TKeyboardActionContoller::loadFromStream(BinaryReader& in) {
    clear();
    std::uint32_t count = in.u32();
    for (std::uint32_t i = 0; i < count; ++i) {
        std::int32_t command = in.i32();
        setCommandName(command, in.str8());
    }
    count = in.u32();
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint16_t first = in.u16();
        std::uint16_t second = in.u16();
        std::int32_t command = in.i32();
        addBinding(first, second, command);
    }
    store_.resetPosition();
}

TKeyStore::Result TKeyboardActionContoller::processKey(std::uint16_t key, unsigned shift,
                                                       std::int32_t& command, bool& extend) {
    key &= scKeyMask;
    extend = (shift & ssShift) != 0;
    bool stripShift = key == vkBack || (key >= vkPrior && key <= vkDown);
    std::uint16_t shortcut = key;
    if ((shift & ssShift) && !stripShift) shortcut |= scShift;
    if (shift & ssCtrl) shortcut |= scCtrl;
    if (shift & ssAlt) shortcut |= scAlt;
    return store_.lookup(shortcut, command);
}

bool TKeyboardActionContoller::operator==(const TKeyboardActionContoller& o) const {
    // The same bindings in any tree order: a reloaded map orders its prefixes by first use.
    auto mine = bindings(), theirs = o.bindings();
    std::sort(mine.begin(), mine.end());
    std::sort(theirs.begin(), theirs.end());
    return names_ == o.names_ && mine == theirs;
}

} // namespace morvane::editor
