#pragma once
// Writes a range of the text with the colours and font styles of its highlighting, as an HTML
// page or as a rich-text document. The writers read each record's token bytes (a record without
// them is plain text) and go through the token-to-style map of the look they are given; they
// know nothing of highlighters, so the caller resolves colours first.

#include "core/editor/Streams.h"
#include "core/editor/TextStore.h"
#include "core/editor/TextTypes.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace morvane::editor {

// Colours are 0xRRGGBB.
struct TExportStyle {
    std::uint32_t text = 0x000000;
    std::uint32_t back = 0xFFFFFF;
    std::uint8_t fontStyle = 0; // 1 bold, 2 italic, 4 underline
    bool defined = false;       // the highlighter defines it: it has a place in the colour table
};

struct TExportLook {
    std::array<TExportStyle, 256> styles{}; // styles[0] is the default text
    std::array<std::uint8_t, 256> tokenStyle{};
    std::string fontName = "Courier New";
    int fontSize = 10;
    std::string title; // the page title (the remembered file name)
    std::string date;  // the page's Date line
    // Declared in the page's head when set; empty declares none. It also says how the RTF
    // writer reads bytes above 127 (Windows-1252 when unknown).
    std::string charset;
    // Tab stops: TABs of a page are spaces to the next stop, as the editor shows them.
    int tabWidth = 8;
    std::vector<int> tabColumns; // 0-based, ascending; past the last, every tabWidth
};

// The current local date and time as a page's Date line shows it.
std::string ExportDate();

class TExportWriter {
public:
    enum TFontStyleBit : std::uint8_t { fbBold = 1, fbItalic = 2, fbUnderline = 4 };

    TExportWriter(const TTextStore& store, const TExportLook& look) : store_(store), look_(look) {}

    // Each writes [from, to) to the stream and returns the bytes the stream accepted.
    std::size_t WriteHtml(TStream& out, TextOffset from, TextOffset to) const;
    std::size_t WriteRtf(TStream& out, TextOffset from, TextOffset to) const;

    // Escapes for text outside the body: attribute values and the title, RTF font names.
    static std::string HtmlEscaped(std::string_view text);
    static std::string RtfEscaped(std::string_view text);

private:
    const TTextStore& store_;
    const TExportLook& look_;
};

} // namespace morvane::editor
