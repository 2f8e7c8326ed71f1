#pragma once
// Weblinks: user-defined commands of Tools > Weblink that open a web address for the word under
// the caret. A static weblink opens a fixed address into which the word may be put ("%WORD%"); a
// lookup weblink finds the word in a lookup file, in the section of the word's token class.
// Stored as Weblinks\<n> (n = 0, 1, 2 ... in menu order) below the per-user root.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace morvane::platform {
class Registry;
class Dialogs;
class Shell;
} // namespace morvane::platform

namespace morvane::editor {
class TCustomCodeMemo;
}
namespace morvane::highlight {
class TParserSlots;
}

namespace morvane::app {

enum TWeblinkKind : std::uint8_t { wkStatic = 0, wkLookup = 1 };

struct TWeblink {
    int number = -1; // n of Weblinks\<n> it was read from
    std::string caption;
    TWeblinkKind kind = wkStatic;
    std::string address;                // static: may hold "%WORD%"
    std::string lookupFile;             // lookup: the file's path
    std::vector<std::string> languages; // empty: every language
    std::uint16_t shortcut = 0;         // key code + 0x2000 Shift, 0x4000 Ctrl, 0x8000 Alt
    // Why the stored weblink cannot run (a missing or unknown "Kind"); empty when it can.
    std::string problem;

    bool operator==(const TWeblink&) const = default;
};

// Weblinks\<n> for n from 0 to the number of subkeys minus 1; a missing number is skipped, so a
// gap in the numbering drops the entries past it.
std::vector<TWeblink> loadWeblinks(platform::Registry& registry);
std::optional<TWeblink> loadWeblink(platform::Registry& registry, int n);
// Replaces the whole Weblinks key by the list in one write: entry i becomes Weblinks\<i>.
bool saveWeblinks(platform::Registry& registry, const std::vector<TWeblink>& links);

// The token under the caret: the run of characters around the caret whose token class equals
// the class of the character at the caret (the one before it when the caret stands at a line's
// end), at most kMaxWord characters, as UTF-8. tokenClass is -1 when the text has no token
// classes there.
struct TCaretWord {
    std::string word;
    int tokenClass = -1;
};
inline constexpr std::size_t kMaxWord = 4096;
// slots: the control's highlighter slots, so that the text up to the caret is highlighted first.
TCaretWord wordAtCaret(editor::TCustomCodeMemo& memo, highlight::TParserSlots* slots);

// A lookup file's answer for a word of a token class: the value of the line "WORD=ADDRESS" of the
// first section whose header ("[N]" or "[A-B]") holds the class. The word is compared without
// regard to case. error is set for a section header that is neither a number nor a range.
struct TLookupAnswer {
    std::optional<std::string> address;
    std::string error;
};
TLookupAnswer lookupWord(std::string_view fileText, std::string_view word, int tokenClass);

// Every byte except letters, digits and "-._~" as %XX.
std::string percentEncode(std::string_view text);
// Replaces each "%WORD%" (without regard to case) by the percent-encoded word.
std::string substituteWord(std::string_view address, std::string_view word);
// Only http, https, ftp, file and mailto addresses are opened, and none with control characters.
bool openableAddress(std::string_view address);

// What a weblink runs on: the active document's highlighter language and its word.
struct TWeblinkDocument {
    std::string language;
    std::function<TCaretWord()> word;
};
struct TWeblinkResult {
    std::string address; // to open
    std::string error;   // to show instead
};
// document is null when no document is open. readFile gives a lookup file's text (nullopt when it
// cannot be read); the default reads the file from disk, at most 16 MiB.
TWeblinkResult resolveWeblink(
    const TWeblink& link, const TWeblinkDocument* document,
    const std::function<std::optional<std::string>(const std::string& path)>& readFile = {});

// Resolves the weblink and opens its address through the shell; errors go to dialogs.
void runWeblink(const TWeblink& link, const TWeblinkDocument* document, platform::Dialogs& dialogs,
                platform::Shell& shell);

} // namespace morvane::app
