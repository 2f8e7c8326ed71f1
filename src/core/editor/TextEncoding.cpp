// Reading bytes as characters in the document encodings, and writing characters back.

#include "core/editor/TextEncoding.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <iterator>

namespace morvane::editor {

namespace {
// Bytes 128-159 of Windows-1252. The five it leaves unassigned read as the C1 controls of the
// same number, as the system converts them, so they round-trip.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// The eight places where ISO-8859-15 differs from ISO-8859-1.
struct Latin9Pair {
    unsigned char byte;
    char16_t code;
};
constexpr Latin9Pair kLatin9[8] = {{0xA4, 0x20AC}, {0xA6, 0x0160}, {0xA8, 0x0161}, {0xB4, 0x017D},
                                   {0xB8, 0x017E}, {0xBC, 0x0152}, {0xBD, 0x0153}, {0xBE, 0x0178}};

char32_t SingleByteCode(TTextEncoding e, unsigned char b) {
    if (b < 128) return b;
    switch (e) {
    case TTextEncoding::teWindows1252:
        return b < 160 ? kCp1252High[b - 128] : b;
    case TTextEncoding::teISO8859_15:
        for (const auto& p : kLatin9)
            if (p.byte == b) return p.code;
        return b;
    default:
        return b;
    }
}

bool IsCont(unsigned char b) {
    return (b & 0xC0) == 0x80;
}

// Length of the valid UTF-8 sequence at s[i], 0 when there is none.
int Utf8Length(std::string_view s, std::size_t i, char32_t* code) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data()) + i;
    const std::size_t left = s.size() - i;
    const unsigned char b = p[0];
    if (b < 0x80) {
        *code = b;
        return 1;
    }
    if (b < 0xC2 || b > 0xF4) return 0; // continuation, overlong lead, or beyond U+10FFFF
    if (b < 0xE0) {
        if (left < 2 || !IsCont(p[1])) return 0;
        *code = (char32_t(b & 0x1F) << 6) | (p[1] & 0x3F);
        return 2;
    }
    if (b < 0xF0) {
        if (left < 3 || !IsCont(p[1]) || !IsCont(p[2])) return 0;
        if (b == 0xE0 && p[1] < 0xA0) return 0;  // overlong
        if (b == 0xED && p[1] >= 0xA0) return 0; // surrogate
        *code = (char32_t(b & 0x0F) << 12) | (char32_t(p[1] & 0x3F) << 6) | (p[2] & 0x3F);
        return 3;
    }
    if (left < 4 || !IsCont(p[1]) || !IsCont(p[2]) || !IsCont(p[3])) return 0;
    if (b == 0xF0 && p[1] < 0x90) return 0;  // overlong
    if (b == 0xF4 && p[1] >= 0x90) return 0; // above U+10FFFF
    *code = (char32_t(b & 0x07) << 18) | (char32_t(p[1] & 0x3F) << 12) |
            (char32_t(p[2] & 0x3F) << 6) | (p[3] & 0x3F);
    return 4;
}

// Whether s (the end of a piece) is the start of a valid sequence that goes on after it.
bool OpenPrefix(std::string_view s) {
    if (s.empty() || s.size() > 3) return false;
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const unsigned char b = p[0];
    const std::size_t need = b >= 0xC2 && b < 0xE0    ? 2
                             : b >= 0xE0 && b < 0xF0  ? 3
                             : b >= 0xF0 && b <= 0xF4 ? 4
                                                      : 0;
    if (need <= s.size()) return false;
    for (std::size_t k = 1; k < s.size(); ++k)
        if (!IsCont(p[k])) return false;
    if (s.size() >= 2) {
        const unsigned char c = p[1];
        if ((b == 0xE0 && c < 0xA0) || (b == 0xED && c >= 0xA0) || (b == 0xF0 && c < 0x90) ||
            (b == 0xF4 && c >= 0x90))
            return false;
    }
    return true;
}

struct Range {
    char32_t first, last;
};
// East Asian wide and fullwidth characters and the emoji shown as wide, sorted.
constexpr Range kWide[] = {
    {0x1100, 0x115F},   {0x231A, 0x231B},   {0x2329, 0x232A},   {0x23E9, 0x23EC},
    {0x23F0, 0x23F0},   {0x23F3, 0x23F3},   {0x25FD, 0x25FE},   {0x2614, 0x2615},
    {0x2648, 0x2653},   {0x267F, 0x267F},   {0x2693, 0x2693},   {0x26A1, 0x26A1},
    {0x26AA, 0x26AB},   {0x26BD, 0x26BE},   {0x26C4, 0x26C5},   {0x26CE, 0x26CE},
    {0x26D4, 0x26D4},   {0x26EA, 0x26EA},   {0x26F2, 0x26F3},   {0x26F5, 0x26F5},
    {0x26FA, 0x26FA},   {0x26FD, 0x26FD},   {0x2705, 0x2705},   {0x270A, 0x270B},
    {0x2728, 0x2728},   {0x274C, 0x274C},   {0x274E, 0x274E},   {0x2753, 0x2755},
    {0x2757, 0x2757},   {0x2795, 0x2797},   {0x27B0, 0x27B0},   {0x27BF, 0x27BF},
    {0x2B1B, 0x2B1C},   {0x2B50, 0x2B50},   {0x2B55, 0x2B55},   {0x2E80, 0x303E},
    {0x3041, 0x33FF},   {0x3400, 0x4DBF},   {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},
    {0xA960, 0xA97F},   {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},   {0xFE10, 0xFE19},
    {0xFE30, 0xFE6F},   {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},   {0x16FE0, 0x16FE4},
    {0x17000, 0x18AFF}, {0x1B000, 0x1B2FF}, {0x1F004, 0x1F004}, {0x1F0CF, 0x1F0CF},
    {0x1F18E, 0x1F18E}, {0x1F191, 0x1F19A}, {0x1F200, 0x1F202}, {0x1F210, 0x1F23B},
    {0x1F240, 0x1F248}, {0x1F250, 0x1F251}, {0x1F260, 0x1F265}, {0x1F300, 0x1F320},
    {0x1F32D, 0x1F335}, {0x1F337, 0x1F37C}, {0x1F37E, 0x1F393}, {0x1F3A0, 0x1F3CA},
    {0x1F3CF, 0x1F3D3}, {0x1F3E0, 0x1F3F0}, {0x1F3F4, 0x1F3F4}, {0x1F3F8, 0x1F43E},
    {0x1F440, 0x1F440}, {0x1F442, 0x1F4FC}, {0x1F4FF, 0x1F53D}, {0x1F54B, 0x1F54E},
    {0x1F550, 0x1F567}, {0x1F57A, 0x1F57A}, {0x1F595, 0x1F596}, {0x1F5A4, 0x1F5A4},
    {0x1F5FB, 0x1F64F}, {0x1F680, 0x1F6C5}, {0x1F6CC, 0x1F6CC}, {0x1F6D0, 0x1F6D2},
    {0x1F6D5, 0x1F6D7}, {0x1F6EB, 0x1F6EC}, {0x1F6F4, 0x1F6FC}, {0x1F7E0, 0x1F7EB},
    {0x1F90C, 0x1F93A}, {0x1F93C, 0x1F945}, {0x1F947, 0x1F9FF}, {0x1FA70, 0x1FAFF},
    {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD},
};

bool EqualNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; };
               return lower(x) == lower(y);
           });
}
} // namespace

const char* EncodingName(TTextEncoding e) {
    switch (e) {
    case TTextEncoding::teUTF8:
        return "UTF-8";
    case TTextEncoding::teWindows1252:
        return "Windows-1252";
    case TTextEncoding::teISO8859_1:
        return "ISO-8859-1";
    case TTextEncoding::teISO8859_15:
        return "ISO-8859-15";
    }
    return "UTF-8";
}

std::optional<TTextEncoding> EncodingFromName(std::string_view name) {
    for (int i = 0; i < kEncodingCount; ++i) {
        auto e = static_cast<TTextEncoding>(i);
        if (EqualNoCase(name, EncodingName(e))) return e;
    }
    if (EqualNoCase(name, "utf8")) return TTextEncoding::teUTF8;
    if (EqualNoCase(name, "cp1252") || EqualNoCase(name, "windows1252"))
        return TTextEncoding::teWindows1252;
    if (EqualNoCase(name, "latin1")) return TTextEncoding::teISO8859_1;
    if (EqualNoCase(name, "latin9")) return TTextEncoding::teISO8859_15;
    return std::nullopt;
}

TCharInfo DecodeChar(TTextEncoding e, std::string_view s, std::size_t i) {
    const auto b = static_cast<unsigned char>(s[i]);
    if (e != TTextEncoding::teUTF8) return {1, true, SingleByteCode(e, b)};
    char32_t code = 0;
    int n = Utf8Length(s, i, &code);
    if (n == 0) return {1, false, b};
    return {static_cast<std::uint8_t>(n), true, code};
}

std::size_t CharStart(TTextEncoding e, std::string_view s, std::size_t i) {
    if (e != TTextEncoding::teUTF8 || i >= s.size()) return std::min(i, s.size());
    if (!IsCont(static_cast<unsigned char>(s[i]))) return i;
    // A continuation byte belongs to the valid sequence of a lead at most three bytes back.
    for (std::size_t k = 1; k <= 3 && k <= i; ++k) {
        const auto b = static_cast<unsigned char>(s[i - k]);
        if (IsCont(b)) continue;
        char32_t code;
        int n = Utf8Length(s, i - k, &code);
        return n > static_cast<int>(k) ? i - k : i;
    }
    return i;
}

std::size_t NextCharStart(TTextEncoding e, std::string_view s, std::size_t i) {
    if (i >= s.size()) return s.size();
    i = CharStart(e, s, i);
    return i + DecodeChar(e, s, i).length;
}

std::size_t PrevCharStart(TTextEncoding e, std::string_view s, std::size_t i) {
    if (i == 0) return 0;
    return CharStart(e, s, std::min(i, s.size()) - 1);
}

std::size_t SafeCut(std::string_view s, std::size_t i) {
    if (i == 0 || i >= s.size() || !IsCont(static_cast<unsigned char>(s[i]))) return i;
    for (std::size_t k = 1; k <= 3 && k <= i; ++k) {
        if (IsCont(static_cast<unsigned char>(s[i - k]))) continue;
        // s[i - k .. i] must be the start of a sequence longer than k + 1 bytes, or of one of
        // exactly k + 1 bytes, for the cut to split it.
        std::string_view head = s.substr(i - k, k + 1);
        char32_t code;
        bool splits = OpenPrefix(head) || Utf8Length(head, 0, &code) == static_cast<int>(k + 1);
        return splits && i - k > 0 ? i - k : i;
    }
    return i;
}

int CellWidth(char32_t code) {
    if (code < 0x1100) return 1;
    const Range* end = std::end(kWide);
    const Range* r = std::lower_bound(std::begin(kWide), end, code,
                                      [](const Range& x, char32_t c) { return x.last < c; });
    return r != end && code >= r->first ? 2 : 1;
}

bool IsAscii(std::string_view s) {
    const char* p = s.data();
    std::size_t n = s.size();
    // Eight bytes at a time: the scan runs over whole files when they load.
    for (; n >= 8; p += 8, n -= 8) {
        std::uint64_t w;
        std::memcpy(&w, p, 8);
        if (w & 0x8080808080808080ull) return false;
    }
    for (; n > 0; ++p, --n)
        if (static_cast<unsigned char>(*p) & 0x80) return false;
    return true;
}

bool IsValidUtf8(std::string_view s) {
    TUtf8Validator v;
    v.Feed(s);
    return v.Valid();
}

// Runs over every byte of every file opened: ASCII eight bytes at a time, each sequence
// checked in place.
void TUtf8Validator::Feed(std::string_view bytes) {
    if (!valid_) return;
    if (pendingLength_ > 0) {
        // The sequence the last piece left open, completed from this one.
        std::string joined(reinterpret_cast<const char*>(pending_), pendingLength_);
        joined.append(bytes.substr(0, 4));
        const std::size_t n = NextCharStart(TTextEncoding::teUTF8, joined, 0);
        if (!WholeCharAt(joined)) {
            if (joined.size() < 4 && joined.size() == pendingLength_ + bytes.size())
                Hold(joined); // still open: the piece was tiny
            else
                valid_ = false;
            return;
        }
        bytes.remove_prefix(n - pendingLength_);
        pendingLength_ = 0;
    }
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* const end = p + bytes.size();
    while (p < end) {
        if (end - p >= 8) {
            std::uint64_t w;
            std::memcpy(&w, p, 8);
            const std::uint64_t high = w & 0x8080808080808080ull;
            if (!high) {
                p += 8;
                continue;
            }
            // Straight to the first byte above 127 (the word was read little-endian).
            p += (std::endian::native == std::endian::little ? std::countr_zero(high)
                                                             : std::countl_zero(high)) >>
                 3;
        }
        const unsigned char b = *p;
        if (b < 0x80) {
            ++p;
            continue;
        }
        const long n = b < 0xC2 ? 0 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : b <= 0xF4 ? 4 : 0;
        if (n == 0) {
            valid_ = false;
            return;
        }
        if (end - p < n) {
            Hold(std::string_view(reinterpret_cast<const char*>(p), std::size_t(end - p)));
            return;
        }
        bool ok = IsCont(p[1]);
        if (n >= 3) ok = ok && IsCont(p[2]);
        if (n == 4) ok = ok && IsCont(p[3]);
        ok = ok && !(b == 0xE0 && p[1] < 0xA0) && !(b == 0xED && p[1] > 0x9F) &&
             !(b == 0xF0 && p[1] < 0x90) && !(b == 0xF4 && p[1] > 0x8F);
        if (!ok) {
            valid_ = false;
            return;
        }
        p += n;
    }
}

bool TUtf8Validator::WholeCharAt(std::string_view s) {
    char32_t code;
    return Utf8Length(s, 0, &code) > 0;
}

void TUtf8Validator::Hold(std::string_view s) {
    if (!OpenPrefix(s)) {
        valid_ = false;
        return;
    }
    std::memcpy(pending_, s.data(), s.size());
    pendingLength_ = static_cast<std::uint8_t>(s.size());
}

TTextEncoding DetectEncoding(std::string_view bytes) {
    return IsValidUtf8(bytes) ? TTextEncoding::teUTF8 : TTextEncoding::teWindows1252;
}

bool HasUtf16Bom(std::string_view bytes) {
    return bytes.size() >= 2 && ((bytes[0] == '\xFF' && bytes[1] == '\xFE') ||
                                 (bytes[0] == '\xFE' && bytes[1] == '\xFF'));
}

void AppendUtf8(char32_t c, std::string& out) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

bool EncodeChar(TTextEncoding e, char32_t code, std::string& out) {
    if (e == TTextEncoding::teUTF8) {
        if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
        AppendUtf8(code, out);
        return true;
    }
    if (code < 128) {
        out.push_back(static_cast<char>(code));
        return true;
    }
    for (unsigned b = 128; b < 256; ++b)
        if (SingleByteCode(e, static_cast<unsigned char>(b)) == code) {
            out.push_back(static_cast<char>(b));
            return true;
        }
    return false;
}

bool FromUtf8(TTextEncoding e, std::string_view utf8, std::string& out, char32_t* refused) {
    if (e == TTextEncoding::teUTF8 || IsAscii(utf8)) {
        out.append(utf8);
        return true;
    }
    std::string result;
    result.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        TCharInfo c = DecodeChar(TTextEncoding::teUTF8, utf8, i);
        // An invalid byte in the input stands for the character of that byte.
        char32_t code = c.valid ? c.code : SingleByteCode(e, static_cast<unsigned char>(utf8[i]));
        if (!EncodeChar(e, code, result)) {
            if (refused) *refused = code;
            return false;
        }
        i += c.length;
    }
    out.append(result);
    return true;
}

std::string ToUtf8(TTextEncoding e, std::string_view bytes) {
    if (IsAscii(bytes) || (e == TTextEncoding::teUTF8 && IsValidUtf8(bytes)))
        return std::string(bytes);
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 2);
    for (std::size_t i = 0; i < bytes.size();) {
        TCharInfo c = DecodeChar(e, bytes, i);
        AppendUtf8(c.valid ? c.code : 0xFFFD, out);
        i += c.length;
    }
    return out;
}

} // namespace morvane::editor
