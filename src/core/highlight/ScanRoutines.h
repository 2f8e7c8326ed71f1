#pragma once
// The built-in scanning routines that rules name by number (7 to 20; 10 to 20 are the standard
// token types of the scripts).

#include "core/highlight/ScanStream.h"

#include <cstddef>
#include <string_view>

namespace morvane::highlight {

enum ScanRoutineNumber : int {
    srPascalChar = 7,
    srUrl = 8,
    srWholeLine = 9,
    srIdentifier = 10,
    srNumberOrFp = 11,
    srPascalString = 12,
    srCString = 13,
    srCChar = 14,
    srCNumberOrFpSigned = 15,
    srNumber = 16,
    srMailUrl = 17,
    srHtmlString = 18,
    srJsLineComment = 19,
    srCStringSq = 20
};

// Runs routine `number` at the stream's position. On acceptance the stream stands after what was
// accepted; on refusal it is back where it started. tokenStart is where the current token began
// (routine 9 looks at the character before it). Unknown numbers refuse. No routine reads past the
// end of the text or past the line end where it stops there.
bool ScanRoutine(int number, TScanStream& s, std::size_t tokenStart);

// Where the run of mail address characters that routine 17 reads from pos ends.
std::size_t MailRunEnd(std::string_view text, std::size_t pos);

} // namespace morvane::highlight
