#include "core/editor/PrintLayout.h"

#include "core/editor/CustomCodeMemo.h"

#include <algorithm>
#include <cstdio>

namespace morvane::editor {

int TPageFrame::RowsPerPage(int rowHeight) const {
    return std::max(1, (textBottom - textTop) / std::max(1, rowHeight));
}

TPageFrame PageFrame(std::uint32_t options, int top, int bottom, int rowHeight) {
    TPageFrame f;
    f.header = options & (smoPrintFilename | smoPrintDate);
    f.footer = options & smoPrintPageNos;
    f.titleTop = top;
    f.textTop = top;
    f.textBottom = bottom;
    if (f.header) {
        f.headerRule = top + 2 * rowHeight;
        f.textTop = top + 3 * rowHeight;
    }
    if (f.footer) {
        f.pageNumberTop = bottom - (5 * rowHeight) / 2;
        f.footerRule = bottom - 3 * rowHeight;
        f.textBottom = bottom - 4 * rowHeight;
    }
    // A page too small for its furniture still prints a row.
    f.textBottom = std::max(f.textBottom, f.textTop + rowHeight);
    return f;
}

std::pair<RecIndex, RecIndex> PrintRange(const TCustomCodeMemo& memo, bool selectionOnly) {
    const TTextStore& s = memo.Store();
    if (s.Empty()) return {0, -1};
    RecIndex first = 0, last = s.Count() - 1;
    if (selectionOnly) {
        TextOffset a = memo.SelStart(), b = std::max(memo.Anchor(), memo.Caret());
        first = std::min(memo.LineFromOffset(a), s.Count() - 1);
        last = std::min(memo.LineFromOffset(b), s.Count() - 1);
        if (b > a && last > first && s.Start(last) == b) --last;
        if (memo.LineFromOffset(b) >= s.Count() && b > a) last = s.Count() - 1;
    }
    // Whole physical lines.
    while (first > 0 && (s.Rec(first).mark & kContinuation))
        --first;
    while (last + 1 < s.Count() && (s.Rec(last + 1).mark & kContinuation))
        ++last;
    return {first, last};
}

std::string LineNumberColumn(RecIndex number) {
    std::string out;
    if (number > 0) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%6lld:", static_cast<long long>(number));
        out = buf;
    }
    if (out.size() < static_cast<std::size_t>(kLineNumberColumns))
        out.resize(kLineNumberColumns, ' ');
    return out;
}

std::string PageNumberText(int page) {
    return "- " + std::to_string(page) + " -";
}

namespace {
bool IsBlank(char c) {
    auto u = static_cast<unsigned char>(c);
    return u <= 32 || u == 160;
}
} // namespace

std::vector<TPrintRow> PrintRows(const TCustomCodeMemo& memo, bool selectionOnly,
                                 const TFontMetrics& metrics, int width) {
    std::vector<TPrintRow> rows;
    auto [first, last] = PrintRange(memo, selectionOnly);
    if (last < first) return rows;
    const std::uint32_t options = memo.Options();
    const bool numbers = options & smoPrintLineNos;
    const bool wrap = options & smoPrintWrap;
    const int cw = std::max(1, metrics.CharWidth());
    const long avail = std::max<long>(cw, width - (numbers ? kLineNumberColumns * cw : 0));
    const TTextStore& s = memo.Store();
    const TTextEncoding enc = memo.Encoding();
    // Byte 160 is a no-break space except in UTF-8, where it continues a character.
    auto isBlank = [&](char c) {
        return IsBlank(c) && (enc != TTextEncoding::teUTF8 || c != '\xA0');
    };
    RecIndex number = memo.PhysicalLineNumber(first);
    RecIndex r = first;
    while (r <= last) {
        // One physical line, its TABs expanded from the line's start.
        std::string text, attrs;
        bool anyAttrs = false;
        DisplayColumn col = 0;
        do {
            std::string_view t = s.Text(r);
            const std::uint8_t* a = s.Attrs(r);
            anyAttrs = anyAttrs || a;
            for (std::size_t i = 0; i < t.size(); ++i) {
                if (t[i] == kCR) break;
                char tok = a ? static_cast<char>(a[i]) : '\0';
                if (t[i] == kTAB) {
                    DisplayColumn next = memo.NextTabStop(col);
                    text.append(static_cast<std::size_t>(next - col), ' ');
                    attrs.append(static_cast<std::size_t>(next - col), tok);
                    col = next;
                } else {
                    // A character of several bytes keeps them together, with its token value
                    // on each, and takes its cells.
                    TCharInfo ch = DecodeChar(enc, t, i);
                    text.append(t.substr(i, ch.length));
                    attrs.append(ch.length, tok);
                    col += CellWidth(ch);
                    i += ch.length - 1u;
                }
            }
            ++r;
        } while (r <= last && (s.Rec(r).mark & kContinuation));
        if (!anyAttrs) attrs.clear();
        std::size_t start = 0;
        bool firstRow = true;
        do {
            std::size_t cut = start;
            long px = 0;
            while (cut < text.size()) {
                TCharInfo ch = DecodeChar(enc, text, cut);
                long w = ch.length > 1 || !ch.valid
                             ? CellWidth(ch) * static_cast<long>(cw)
                             : metrics.CharPixels(static_cast<unsigned char>(text[cut]));
                if (px + w > avail && cut > start) break;
                px += w;
                cut += ch.length;
            }
            if (wrap && cut < text.size() && !isBlank(text[cut])) {
                std::size_t k = cut;
                while (k > start && !isBlank(text[k - 1]))
                    --k;
                if (k > start) cut = k;
            }
            TPrintRow row;
            row.lineNumber = firstRow ? number : 0;
            row.text = text.substr(start, cut - start);
            if (!attrs.empty()) row.attrs = attrs.substr(start, cut - start);
            rows.push_back(std::move(row));
            firstRow = false;
            start = cut;
            if (wrap)
                while (start < text.size() && text[start] == ' ')
                    ++start; // a wrapped row does not start with the blanks it broke at
        } while (wrap && start < text.size());
        ++number;
    }
    return rows;
}

} // namespace morvane::editor
