#include "core/editor/ExportWriter.h"
#include "core/editor/TextEncoding.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace morvane::editor {

namespace {

// Collects output and hands it to the stream in large pieces: a 100 MB export must not hold a
// second copy of the text.
class Sink {
public:
    explicit Sink(TStream& out) : out_(out) { buf_.reserve(kChunk + 4096); }
    void Put(std::string_view s) {
        buf_.append(s);
        if (buf_.size() >= kChunk) Flush();
    }
    void Put(char c) { buf_.push_back(c); }
    std::size_t Finish() {
        Flush();
        return written_;
    }

private:
    static constexpr std::size_t kChunk = 256 * 1024;
    void Flush() {
        if (!buf_.empty()) written_ += out_.Write(buf_.data(), buf_.size());
        buf_.clear();
    }
    TStream& out_;
    std::string buf_;
    std::size_t written_ = 0;
};

// One replacement per byte; bytes marked plain are copied in runs.
struct EscapeTable {
    std::array<std::string, 256> text;
    std::array<bool, 256> plain{};

    void Write(Sink& sink, std::string_view s) const {
        const char* p = s.data();
        std::size_t n = s.size(), k = 0;
        while (k < n) {
            std::size_t start = k;
            while (k < n && plain[static_cast<unsigned char>(p[k])])
                ++k;
            if (k > start) sink.Put(std::string_view(p + start, k - start));
            if (k < n) sink.Put(text[static_cast<unsigned char>(p[k++])]);
        }
    }

    // A page declared UTF-8: valid characters go out as their bytes; a stray byte cannot, and
    // becomes the replacement character (a numeric reference would name a Latin-1 letter).
    void WriteUtf8(Sink& sink, std::string_view s) const {
        std::size_t k = 0;
        while (k < s.size()) {
            std::size_t start = k;
            while (k < s.size() && static_cast<unsigned char>(s[k]) < 128 &&
                   plain[static_cast<unsigned char>(s[k])])
                ++k;
            if (k > start) sink.Put(s.substr(start, k - start));
            if (k == s.size()) break;
            const auto b = static_cast<unsigned char>(s[k]);
            if (b < 128) {
                sink.Put(text[b]);
                ++k;
                continue;
            }
            const TCharInfo c = DecodeChar(TTextEncoding::teUTF8, s, k);
            sink.Put(c.valid ? s.substr(k, c.length) : std::string_view("&#xFFFD;"));
            k += c.length;
        }
    }
};

const EscapeTable& HtmlTable() {
    static const EscapeTable table = [] {
        EscapeTable t;
        for (int c = 0; c < 256; ++c) {
            if (c < 32 && c != '\t')
                t.text[c] = ""; // control characters have no place in a page
            else if (c == 160)
                t.text[c] = "&nbsp;";
            else if (c >= 128)
                t.text[c] = "&#" + std::to_string(c) + ";";
            else
                t.text[c] = std::string(1, char(c));
        }
        t.text['"'] = "&quot;";
        t.text['<'] = "&lt;";
        t.text['>'] = "&gt;";
        // Without it a text that shows "&lt;" would show "<" in the page.
        t.text['&'] = "&amp;";
        for (int c = 0; c < 256; ++c)
            t.plain[c] = t.text[c].size() == 1 && t.text[c][0] == char(c);
        return t;
    }();
    return table;
}

std::string Hex2(int c) {
    char b[8];
    std::snprintf(b, sizeof b, "\\'%02x", c & 0xFF);
    return b;
}

const EscapeTable& RtfTable() {
    static const EscapeTable table = [] {
        EscapeTable t;
        for (int c = 0; c < 256; ++c)
            t.text[c] = (c < 32 || c >= 128) ? Hex2(c) : std::string(1, char(c));
        t.text[0] = "";
        t.text['\t'] = "\\tab ";
        t.text['\f'] = "\\page ";
        t.text['\r'] = "\\line ";
        t.text['\''] = "\\'27";
        t.text['\\'] = "\\\\";
        t.text['{'] = "\\{";
        t.text['}'] = "\\}";
        for (int c = 0; c < 256; ++c)
            t.plain[c] = t.text[c].size() == 1 && t.text[c][0] == char(c);
        return t;
    }();
    return table;
}

// The column after a TAB at column col, by the look's stops.
int NextTabStop(const TExportLook& look, int col) {
    auto it = std::upper_bound(look.tabColumns.begin(), look.tabColumns.end(), col);
    if (it != look.tabColumns.end()) return *it;
    const int w = std::max(1, look.tabWidth);
    return col + (w - col % w);
}

// Display columns taken by s from column col (TABs excluded: the caller splits at them).
int AdvanceColumns(std::string_view s, int col, bool utf8) {
    if (!utf8) return col + static_cast<int>(s.size());
    for (std::size_t i = 0; i < s.size();) {
        if (static_cast<unsigned char>(s[i]) < 128) {
            ++col;
            ++i;
            continue;
        }
        const TCharInfo c = DecodeChar(TTextEncoding::teUTF8, s, i);
        col += CellWidth(c);
        i += c.length;
    }
    return col;
}

// The Windows-1252 byte of a character above ASCII, '?' when it has none; without a search of
// all 128 upper bytes per character.
int Cp1252Byte(char32_t code) {
    if (code >= 0xA0 && code <= 0xFF) return static_cast<int>(code);
    static const std::array<char32_t, 32> high = [] {
        std::array<char32_t, 32> t{};
        for (int b = 0; b < 32; ++b)
            t[b] = DecodeChar(TTextEncoding::teWindows1252, std::string(1, char(128 + b)), 0).code;
        return t;
    }();
    auto it = std::find(high.begin(), high.end(), code);
    return it == high.end() ? '?' : 128 + static_cast<int>(it - high.begin());
}

// One character as "\uN" and the one character (\uc1) a reader without Unicode shows in its
// place: the code page's own byte where it has the character, else '?'. The fallback is always
// written as "\'hh": a converter that skips it then skips exactly that, never a following letter.
std::string RtfChar(char32_t code) {
    if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = 0xFFFD;
    const std::string fallback = Hex2(Cp1252Byte(code));
    // RTF numbers are signed 16 bits: units above 32767 are written negative.
    auto unit = [&](unsigned u) {
        return "\\u" + std::to_string(static_cast<std::int16_t>(u)) + fallback;
    };
    if (code <= 0xFFFF) return unit(static_cast<unsigned>(code));
    // Beyond the BMP: a surrogate pair, each unit with its own fallback.
    code -= 0x10000;
    return unit(0xD800 + static_cast<unsigned>(code >> 10)) +
           unit(0xDC00 + static_cast<unsigned>(code & 0x3FF));
}

std::string Color6(std::uint32_t rgb) {
    char b[16];
    std::snprintf(b, sizeof b, "#%.6x", rgb & 0xFFFFFF);
    return b;
}

// Walks the records of [from, to): f(text, attrs, lineBreak) gets each record's part without
// its CR, the token bytes of that part (nullptr when the record has none) and whether the part
// ends with the record's line break.
template <class F> void ForParts(const TTextStore& store, TextOffset from, TextOffset to, F&& f) {
    from = std::clamp<TextOffset>(from, 0, store.Length());
    to = std::clamp<TextOffset>(to, 0, store.Length());
    if (from >= to) return;
    TTextStore::Cursor c = store.CursorAt(store.Locate(from).rec);
    for (; !store.AtEnd(c) && c.start < to; store.Next(c)) {
        std::string_view t = store.Text(c);
        std::size_t a = from > c.start ? static_cast<std::size_t>(from - c.start) : 0;
        std::size_t b = std::min<std::size_t>(t.size(), static_cast<std::size_t>(to - c.start));
        bool lineBreak = b > a && t[b - 1] == kCR;
        std::size_t end = lineBreak ? b - 1 : b;
        const std::uint8_t* attrs = store.Attrs(c);
        f(t.substr(a, end - a), attrs ? attrs + a : nullptr, lineBreak);
    }
}

// Calls run(begin, end, token) for each stretch of equal token bytes.
template <class F> void ForRuns(std::string_view text, const std::uint8_t* attrs, F&& run) {
    std::size_t i = 0, n = text.size();
    while (i < n) {
        std::size_t j = i + 1;
        while (j < n && attrs[j] == attrs[i])
            ++j;
        run(i, j, attrs[i]);
        i = j;
    }
}

} // namespace

std::string ExportDate() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char b[32];
    std::strftime(b, sizeof b, "%Y-%m-%d %H:%M", &local);
    return b;
}

std::string TExportWriter::HtmlEscaped(std::string_view text) {
    TMemoryStream stream;
    Sink sink(stream);
    HtmlTable().Write(sink, text);
    sink.Finish();
    return stream.Data();
}

std::string TExportWriter::RtfEscaped(std::string_view text) {
    // A font name comes from the font system as UTF-8; anything else goes out byte by byte.
    const bool utf8 = IsValidUtf8(text);
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const char ch = text[i];
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 128 && utf8) {
            const TCharInfo u = DecodeChar(TTextEncoding::teUTF8, text, i);
            out += RtfChar(u.code);
            i += u.length;
            continue;
        }
        // A semicolon would end the name in the font table.
        if (c == ';' || c < 32 || c >= 128 || c == '\'')
            out += Hex2(c);
        else if (c == '\\' || c == '{' || c == '}')
            out += {'\\', ch};
        else
            out += ch;
        ++i;
    }
    return out;
}

std::size_t TExportWriter::WriteHtml(TStream& stream, TextOffset from, TextOffset to) const {
    Sink out(stream);
    const TExportStyle& base = look_.styles[0];
    out.Put("<HTML><HEAD>\r\n");
    out.Put("<META NAME=\"Generator\" CONTENT=\"Morvane TCodeMemo\">\r\n");
    if (!look_.charset.empty())
        out.Put("<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=" +
                HtmlEscaped(look_.charset) + "\">\r\n");
    out.Put("<TITLE>" + HtmlEscaped(look_.title) + "</TITLE>\r\n");
    out.Put("<META NAME=\"Date\" CONTENT=\"" + HtmlEscaped(look_.date) + "\">\r\n");
    out.Put("</HEAD>\r\n");
    out.Put("<BODY TEXT=\"" + Color6(base.text) + "\" BGCOLOR=\"" + Color6(base.back) + "\">\r\n");
    // The line break goes straight after PRE, where a browser drops it: after the FONT tag it
    // would add an empty first line to the page.
    out.Put("<PRE>\r\n<FONT FACE=\"" + HtmlEscaped(look_.fontName) + "\">");

    const EscapeTable& esc = HtmlTable();
    const bool utf8 = EncodingFromName(look_.charset) == TTextEncoding::teUTF8;
    // The display column in the line, so that a TAB becomes the spaces up to its stop.
    int column = 0;
    auto writePlain = [&](std::string_view t) {
        utf8 ? esc.WriteUtf8(out, t) : esc.Write(out, t);
        column = AdvanceColumns(t, column, utf8);
    };
    auto write = [&](std::string_view t) {
        for (std::size_t tab; (tab = t.find('\t')) != std::string_view::npos;) {
            writePlain(t.substr(0, tab));
            const int stop = NextTabStop(look_, column);
            out.Put(std::string(static_cast<std::size_t>(stop - column), ' '));
            column = stop;
            t.remove_prefix(tab + 1);
        }
        writePlain(t);
    };
    // The colour switch of each style, made once: a page has a switch every few characters.
    std::array<std::string, 256> colorTag;
    for (int i = 0; i < 256; ++i)
        colorTag[i] = "</FONT><FONT COLOR=\"" + Color6(look_.styles[i].text) + "\">";
    std::uint32_t color = base.text;
    std::uint8_t bits = 0;
    auto switchTo = [&](std::uint8_t token) {
        std::uint8_t style = look_.tokenStyle[token];
        const TExportStyle& s = look_.styles[style];
        if (s.text != color) {
            color = s.text;
            out.Put(colorTag[style]);
        }
        std::uint8_t want = s.fontStyle & (fbBold | fbItalic | fbUnderline);
        std::uint8_t change = want ^ bits;
        if (change & fbBold) out.Put(want & fbBold ? "<B>" : "</B>");
        if (change & fbItalic) out.Put(want & fbItalic ? "<I>" : "</I>");
        if (change & fbUnderline) out.Put(want & fbUnderline ? "<U>" : "</U>");
        bits = want;
    };
    ForParts(store_, from, to, [&](std::string_view text, const std::uint8_t* attrs, bool br) {
        if (attrs)
            ForRuns(text, attrs, [&](std::size_t i, std::size_t j, std::uint8_t token) {
                switchTo(token);
                write(text.substr(i, j - i));
            });
        else
            write(text);
        // Only the text's own line breaks: a long line's records and wrapped rows are one line.
        if (br) {
            out.Put("\r\n");
            column = 0;
        }
    });
    if (bits & fbUnderline) out.Put("</U>");
    if (bits & fbItalic) out.Put("</I>");
    if (bits & fbBold) out.Put("</B>");
    out.Put("</PRE></FONT></BODY></HTML>\r\n");
    return out.Finish();
}

std::size_t TExportWriter::WriteRtf(TStream& stream, TextOffset from, TextOffset to) const {
    Sink out(stream);
    out.Put("{\\rtf1\\ansi\\ansicpg1252\\uc1 \\deff1{\\fonttbl {\\f1 \\fnil " +
            RtfEscaped(look_.fontName) + ";}}\r\n");

    constexpr std::size_t kMaxColors = 256;
    std::vector<std::uint32_t> table{look_.styles[0].text, look_.styles[0].back};
    auto add = [&](std::uint32_t c) {
        if (table.size() < kMaxColors && std::find(table.begin(), table.end(), c) == table.end())
            table.push_back(c);
    };
    for (const TExportStyle& s : look_.styles)
        if (s.defined) {
            add(s.text);
            add(s.back);
        }
    out.Put("{\\colortbl");
    for (std::uint32_t c : table)
        out.Put("\\red" + std::to_string((c >> 16) & 0xFF) + "\\green" +
                std::to_string((c >> 8) & 0xFF) + "\\blue" + std::to_string(c & 0xFF) + ";");
    out.Put("}\r\n");

    // Table indexes per style, looked up once.
    auto indexOf = [&](std::uint32_t c, int missing) {
        auto it = std::find(table.begin(), table.end(), c);
        return it == table.end() ? missing : static_cast<int>(it - table.begin());
    };
    std::array<int, 256> cf{}, cb{};
    std::array<std::string, 256> cfTag, cbTag;
    for (int i = 0; i < 256; ++i) {
        cf[i] = indexOf(look_.styles[i].text, 0);
        cb[i] = indexOf(look_.styles[i].back, 1);
        cfTag[i] = "\\cf" + std::to_string(i) + " ";
        cbTag[i] = "\\cb" + std::to_string(i) + " ";
    }
    out.Put("{\\f1\\fs" + std::to_string(look_.fontSize * 2) + "\\cf0\\cb1 ");

    const EscapeTable& esc = RtfTable();
    // Characters above ASCII go out as Unicode numbers, read in the text's own encoding.
    const TTextEncoding enc =
        EncodingFromName(look_.charset).value_or(TTextEncoding::teWindows1252);
    auto write = [&](std::string_view t) {
        std::size_t k = 0;
        while (k < t.size()) {
            std::size_t start = k;
            while (k < t.size() && static_cast<unsigned char>(t[k]) < 128)
                ++k;
            if (k > start) esc.Write(out, t.substr(start, k - start));
            if (k == t.size()) break;
            const TCharInfo c = DecodeChar(enc, t, k);
            out.Put(RtfChar(c.valid ? c.code : 0xFFFD));
            k += c.length;
        }
    };
    int curCf = 0, curCb = 1;
    std::uint8_t bits = 0;
    auto switchTo = [&](std::uint8_t token) {
        std::uint8_t style = look_.tokenStyle[token];
        std::uint8_t want = look_.styles[style].fontStyle & (fbBold | fbItalic | fbUnderline);
        std::uint8_t change = want ^ bits;
        if (change & fbBold) out.Put(want & fbBold ? "\\b1 " : "\\b0 ");
        if (change & fbItalic) out.Put(want & fbItalic ? "\\i1 " : "\\i0 ");
        if (change & fbUnderline) out.Put(want & fbUnderline ? "\\ul1 " : "\\ul0 ");
        bits = want;
        if (cf[style] != curCf) {
            curCf = cf[style];
            out.Put(cfTag[curCf]);
        }
        if (cb[style] != curCb) {
            curCb = cb[style];
            out.Put(cbTag[curCb]);
        }
    };
    ForParts(store_, from, to, [&](std::string_view text, const std::uint8_t* attrs, bool br) {
        if (attrs)
            ForRuns(text, attrs, [&](std::size_t i, std::size_t j, std::uint8_t token) {
                switchTo(token);
                write(text.substr(i, j - i));
            });
        else
            write(text);
        if (br) out.Put("\\line ");
        out.Put("\r\n");
    });
    out.Put("}}");
    return out.Finish();
}

} // namespace morvane::editor
