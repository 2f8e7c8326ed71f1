#pragma once
// TKeyStore: the tree behind the key map. First-level nodes are first keys; a node with children
// is a prefix whose children are the second keys (stored without modifiers). Also the shortcut
// encoding shared by the key map, templates and auto-replace.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace morvane::editor {

// A shortcut: virtual key code in the low byte plus these modifier bits.
constexpr std::uint16_t scShift = 0x2000;
constexpr std::uint16_t scCtrl = 0x4000;
constexpr std::uint16_t scAlt = 0x8000;
constexpr std::uint16_t scKeyMask = 0x00FF;

// Virtual key codes used by the defaults and the key names.
enum VirtualKey : std::uint16_t {
    vkBack = 8,
    vkTab = 9,
    vkReturn = 13,
    vkEscape = 27,
    vkSpace = 32,
    vkPrior = 33,
    vkNext = 34,
    vkEnd = 35,
    vkHome = 36,
    vkLeft = 37,
    vkUp = 38,
    vkRight = 39,
    vkDown = 40,
    vkInsert = 45,
    vkDelete = 46,
    vkF1 = 112,
    vkF12 = 123,
};

// The key names used where texts name keys ("backspace", "f1", ...); 0 for an unknown name.
std::uint16_t keyCodeOfName(std::string_view name);

// "Shift+Ctrl+J" style text of a shortcut, and back (0 for text that names no key).
std::string shortCutToText(std::uint16_t shortcut);
std::uint16_t textToShortCut(std::string_view text);

// The key that types character c on a US layout: code in the low byte, Shift as 256, Ctrl as
// 512; 0xFFFF when no key types it.
std::uint16_t keyOfChar(unsigned char c);

class TKeyStore {
public:
    struct Node {
        std::uint16_t shortcut = 0;
        std::int32_t parent = -1;
        std::int32_t sibling = -1;
        std::int32_t child = -1;
        bool isEnd = false;
        std::int32_t command = -1;
    };
    enum class Result { NoMatch, Prefix, Command };

    void clear();
    // Finds the node of shortcut among the level starting at first, or appends it there.
    std::int32_t findOrAdd(std::int32_t parent, std::uint16_t shortcut);
    std::int32_t find(std::int32_t parent, std::uint16_t shortcut) const;
    Node& node(std::int32_t i) { return nodes_[std::size_t(i)]; }
    const Node& node(std::int32_t i) const { return nodes_[std::size_t(i)]; }
    std::int32_t firstLevel() const { return first_; }

    // Nodes in tree order: a node, its later siblings, then its children.
    void forEachInTreeOrder(const std::function<bool(std::int32_t)>& visit) const;

    // One step of a key sequence; command receives the command on Result::Command.
    Result lookup(std::uint16_t shortcut, std::int32_t& command);
    void resetPosition() { position_ = -1; }
    bool atPrefix() const { return position_ >= 0; }
    // Whether shortcut is a second key under the pending prefix.
    bool continuesSequence(std::uint16_t shortcut) const {
        return position_ >= 0 && find(position_, std::uint16_t(shortcut & scKeyMask)) >= 0;
    }

private:
    static std::uint64_t slot(std::int32_t parent, std::uint16_t shortcut) {
        return (std::uint64_t(std::uint32_t(parent + 1)) << 16) | shortcut;
    }

    std::vector<Node> nodes_;
    // Lookup by (parent, shortcut) and the last node of each level, so that a stored map with
    // very many bindings loads in linear time.
    std::unordered_map<std::uint64_t, std::int32_t> index_;
    std::unordered_map<std::int32_t, std::int32_t> lastOfLevel_;
    std::int32_t first_ = -1;
    std::int32_t position_ = -1; // the prefix node whose children are the current level
};

} // namespace morvane::editor
