#pragma once
// Plain values of the editor control: points, save and copy forms, editor commands, undo group
// codes and shortcut bits.

#include <cstdint>
#include <string>

namespace morvane::editor {

struct TPixelPoint {
    int x = 0, y = 0;
    bool operator==(const TPixelPoint&) const = default;
};

// sfMAC writes CR line ends, so that a file that had them keeps them.
enum TSaveFormat { sfTEXT, sfRTF, sfHTML, sfUNIX, sfMAC };
enum TSelLineStyle { lsCRLF, lsLF };
enum TScrollStyle { ssNone, ssHorizontal, ssVertical, ssBoth };

// Forms of SM_SAVESTREAM and SM_GETSELTEXT.
enum TTextForm : unsigned { tfStored = 0, tfCRLF = 1, tfRTF = 2, tfHTML = 4, tfLF = 8, tfCR = 16 };

// The editor commands that keys are bound to.
enum TEditCommand : int {
    ecCursorLeft = 0,
    ecCursorRight = 1,
    ecLineStart = 2,
    ecLineEnd = 3,
    ecLineUp = 4,
    ecLineDown = 5,
    ecPageUp = 6,
    ecPageDown = 7,
    ecWordLeft = 8,
    ecWordRight = 9,
    ecDocStart = 10,
    ecDocEnd = 11,
    ecCut = 12,
    ecCopy = 13,
    ecPaste = 14,
    ecDeleteChar = 15,
    ecDeleteLastChar = 16,
    ecBlockIndent = 17,
    ecBlockUnindent = 18,
    ecToggleMode = 19,
    ecSetBookmark0 = 20,
    ecGotoBookmark0 = 30,
    ecDeleteLine = 40,
    ecUndo = 41,
    ecRedo = 42,
    ecDeleteLastWord = 43,
    ecPrintSelection = 44,
    // Whole-line commands of the desktop key map; they act on every line the selection touches.
    ecDuplicateLines = 45,
    ecMoveLinesUp = 46,
    ecMoveLinesDown = 47,
    ecToggleComment = 48,
    ecDeleteLines = 49,
    ecMatchBracket = 50,
};

// What the highlighter's language writes for comments (empty where it has none).
struct TCommentTokens {
    std::string line;       // "//", "#"
    std::string blockOpen;  // "/*", "<!--"
    std::string blockClose; // "*/", "-->"
    bool operator==(const TCommentTokens&) const = default;
};

// Undo group codes; callers outside the control use their own (20, 32, 33).
enum TUndoGroup : int {
    ugDrop = 11,
    ugTyping = 12,
    ugDelete = 13,
    ugPaste = 14,
    ugCut = 15,
    ugTemplate = 16,
    ugBlockIndent = 17,
    ugBlockUnindent = 18,
    ugDeleteWord = 19,
    ugReplace = 20,
    ugReplaceSel = 21,
    ugIndentedReturn = 22,
    ugDoubleSpaced = 32,
    ugHtmlTool = 33,
    ugReload = 34,
    ugLines = 35,
};

// Shortcut modifier bits over the virtual key code.
inline constexpr std::uint16_t kShortcutShift = 0x2000;
inline constexpr std::uint16_t kShortcutCtrl = 0x4000;
inline constexpr std::uint16_t kShortcutAlt = 0x8000;

// Formats a copy puts on the clipboard.
enum TSM_ClipFormat : unsigned { smTEXT = 1, smRTF = 2 };
using TSM_ClipFormats = unsigned;
} // namespace morvane::editor
