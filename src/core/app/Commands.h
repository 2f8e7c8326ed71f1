#pragma once
// The main window's command set: name, caption (with its "&" mnemonic), key and hint. Menus and
// toolbars are built from these; the Qt side turns them into actions.

#include <span>
#include <string_view>

namespace morvane::app {

struct CommandInfo {
    std::string_view name;
    std::string_view caption;
    std::string_view key; // "Ctrl+Shift+Z"; empty for none
    std::string_view hint;
};

std::span<const CommandInfo> mainCommands();
const CommandInfo* findCommand(std::string_view name);

// The commands that need a document, enabled and disabled as a group when the first document
// opens and the last one closes.
std::span<const std::string_view> documentCommands();
// Disabled with the group when the last document closes; a document enables them one by one.
std::span<const std::string_view> documentEditCommands();

} // namespace morvane::app
