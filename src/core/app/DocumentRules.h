#pragma once
// Rules of a document that need no window: the double-spaced check and the status texts.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace morvane::editor {
class TCustomCodeMemo;
}

namespace morvane::app {

enum class DoubleSpacing { None, TextOnOddLines, TextOnEvenLines };

inline constexpr const char* kDoubleSpacedQuestion =
    "This file appears to have double-spaced lines, would you like to remove them?";

// Looks at the lines 0..count-1 through lineEmpty; only texts of more than one line can be
// double-spaced.
DoubleSpacing detectDoubleSpacing(std::size_t count,
                                  const std::function<bool(std::size_t)>& lineEmpty);

// The same on an editor's text, by physical lines: a line held in several records (longer than
// a record, or wrapped) is one line, so a record holding only the break of a long line is not an
// empty line. The repair deletes every empty line of the empty parity, as one undo group, and
// returns how many it deleted.
DoubleSpacing detectDoubleSpacing(const editor::TCustomCodeMemo& memo);
std::size_t removeDoubleSpacing(editor::TCustomCodeMemo& memo, DoubleSpacing spacing);

// Status panel 0: "%4d:%4d", line then column, both from 1.
std::string caretPositionText(long line, long column);

// The question before closing a modified document, and the one while it is being stored.
std::string saveBeforeClosingQuestion(std::string_view fileName);
std::string cancelSavingQuestion(std::string_view fileName);

// Where a document lives, as the window title and the status bar name it: "Demo:/www" for a
// remote one, the folder without its last "/" for a local one ("/" stays), empty for none.
std::string documentPlace(std::string_view account, std::string_view directory, bool remote);
// "*page.html - Demo:/www - Morvane": the modified marker, the name, the place when there is one.
std::string documentWindowTitle(std::string_view fileName, std::string_view place, bool modified);
// A tab's caption: the name, marked "*" when modified ("&" is left to the caller).
std::string tabCaption(std::string_view fileName, bool modified);

// The question of a manual association: "extension \".x\"" or "no extension".
std::string associationQuestion(std::string_view fileName, std::string_view language);

} // namespace morvane::app
