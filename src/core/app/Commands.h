#pragma once
// The main window's command set: name, caption (with its "&" mnemonic), key and hint. Menus and
// toolbars are built from these; the Qt side turns them into actions.

#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace morvane::app {

struct CommandInfo {
    std::string_view name;
    std::string_view caption;
    std::string_view key; // "Ctrl+Shift+Z"; empty for none
    std::string_view hint;
};

std::span<const CommandInfo> mainCommands();
const CommandInfo* findCommand(std::string_view name);

// The two key maps: the classic one, and one with the keys of today's desktop editors.
enum class KeyMapKind { Classic, Desktop };
std::string_view keyMapName(KeyMapKind kind); // "Classic", "Desktop": the setting's text
std::optional<KeyMapKind> keyMapFromName(std::string_view name);

// A command's keys under a key map, the main one first (none: no key).
std::vector<std::string_view> commandKeys(const CommandInfo& command, KeyMapKind map);

// Keys of the window that belong to no menu command (the desktop map's tab switching).
struct WindowKey {
    std::string_view name;
    std::string_view caption;
    std::string_view key;
};
std::span<const WindowKey> windowKeys(KeyMapKind map);

// The commands that need a document, enabled and disabled as a group when the first document
// opens and the last one closes.
std::span<const std::string_view> documentCommands();
// Disabled with the group when the last document closes; a document enables them one by one.
std::span<const std::string_view> documentEditCommands();

} // namespace morvane::app
