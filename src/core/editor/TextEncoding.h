#pragma once
// How a document's bytes are read as characters. The encoding is used for display and input
// only: the stored bytes are never rewritten, so a byte that is no character in the encoding
// stays as it is and is shown as a mark of its own.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace morvane::editor {

enum class TTextEncoding : std::uint8_t { teUTF8, teWindows1252, teISO8859_1, teISO8859_15 };

inline constexpr int kEncodingCount = 4;

// The name shown in the status bar and menus ("UTF-8", "Windows-1252", ...).
const char* EncodingName(TTextEncoding e);
// Accepts the names above, case-insensitively, and a few common spellings ("utf8", "cp1252",
// "latin1"); nothing for an unknown name.
std::optional<TTextEncoding> EncodingFromName(std::string_view name);

// One character of a byte string: its length in bytes and what it stands for. A byte that
// starts no valid character is a character of one byte with valid false.
struct TCharInfo {
    std::uint8_t length;
    bool valid;
    char32_t code; // the code point; for an invalid byte, the byte
};

// Reads the character starting at s[i] (i < s.size()). UTF-8 is read strictly: overlong
// forms, surrogates, code points above U+10FFFF, bytes F5-FF and sequences cut short by the
// end of s are single invalid bytes.
TCharInfo DecodeChar(TTextEncoding e, std::string_view s, std::size_t i);

// Where the character holding s[i] starts (i <= s.size(); s.size() is returned as it is).
// Agrees with DecodeChar walked from the start of s.
std::size_t CharStart(TTextEncoding e, std::string_view s, std::size_t i);
// The start of the character after the one at i, and of the one before i.
std::size_t NextCharStart(TTextEncoding e, std::string_view s, std::size_t i);
std::size_t PrevCharStart(TTextEncoding e, std::string_view s, std::size_t i);

// A cut of s at i moved back so that it does not split a UTF-8 sequence that is valid as far
// as s[i]; it looks at s[i - 3 .. i] only, so a cut never depends on text further on. Record
// cuts use it in every encoding, so changing the encoding never finds a character split
// between records. Never returns 0 for a cut above 0.
std::size_t SafeCut(std::string_view s, std::size_t i);

// Screen cells of a character: 2 for East Asian wide and fullwidth characters and emoji,
// else 1. Invalid bytes take one cell.
int CellWidth(char32_t code);
inline int CellWidth(const TCharInfo& c) {
    return c.valid ? CellWidth(c.code) : 1;
}

// True when no byte of s is 128 or above: every encoding reads it the same, byte by byte.
bool IsAscii(std::string_view s);
bool IsValidUtf8(std::string_view s);

// Checks UTF-8 piece by piece (a file read in blocks); a sequence cut by a block's end is
// completed by the next block.
class TUtf8Validator {
public:
    void Feed(std::string_view bytes);
    // Valid so far, with no sequence left open.
    bool Valid() const { return valid_ && pendingLength_ == 0; }

private:
    static bool WholeCharAt(std::string_view s);
    void Hold(std::string_view s);
    bool valid_ = true;
    unsigned char pending_[4] = {};
    std::uint8_t pendingLength_ = 0;
};

// The encoding a file opens with: UTF-8 when its bytes are valid UTF-8 (text without bytes
// above 127 included), otherwise Windows-1252.
TTextEncoding DetectEncoding(std::string_view bytes);

// The UTF-8 byte order mark.
inline constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
// A UTF-16 byte order mark at the start, little or big endian.
bool HasUtf16Bom(std::string_view bytes);

// Appends the bytes of a code point in the encoding; false (and nothing appended) when the
// encoding has no such character.
bool EncodeChar(TTextEncoding e, char32_t code, std::string& out);

// Converts UTF-8 text (clipboard, input) into the encoding. Characters the encoding cannot
// hold are refused: returns false and sets *refused to the first of them.
bool FromUtf8(TTextEncoding e, std::string_view utf8, std::string& out,
              char32_t* refused = nullptr);
// Converts bytes in the encoding to UTF-8 for other programs; a byte that is no character
// becomes U+FFFD (exact bytes travel in a format of their own).
std::string ToUtf8(TTextEncoding e, std::string_view bytes);
void AppendUtf8(char32_t code, std::string& out);

} // namespace morvane::editor
