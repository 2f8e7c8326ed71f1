// Painting the editor view: gutter, margin, text in runs of equal style, selection, glyphs for
// blanks and line ends, margin lines, the focus line and the caret.

#include "gui/editor/CodeMemo.h"

#include "core/highlight/DarkColours.h"

#include <QFontMetricsF>
#include <QPaintEvent>
#include <QPainter>
#include <QPalette>

#include <algorithm>
#include <optional>

namespace morvane::editor {

using highlight::StyleEffect;
using highlight::TSM_Settings;

namespace {
QColor FromBgr(std::int32_t v) {
    auto u = static_cast<std::uint32_t>(v);
    return QColor(static_cast<int>(u & 0xFF), static_cast<int>((u >> 8) & 0xFF),
                  static_cast<int>((u >> 16) & 0xFF));
}

std::int32_t ToBgr(const QColor& c) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(c.red()) |
                                     (static_cast<std::uint32_t>(c.green()) << 8) |
                                     (static_cast<std::uint32_t>(c.blue()) << 16));
}

const QColor kSilver(192, 192, 192);

// Glyphs shown with smoShowAllChars.
constexpr char16_t kLineEndGlyph = 0x00B6; // pilcrow
constexpr char16_t kWrapGlyph = 0x21B5;    // downwards arrow with corner
constexpr char16_t kTabGlyph = 0x00BB;     // right-pointing double angle
constexpr char16_t kBlankGlyph = 0x00B7;   // middle dot
} // namespace

QColor TCodeMemo::ColorOf(std::int32_t value) const {
    if (value < 0 && (static_cast<std::uint32_t>(value) & 0x80000000u)) {
        switch (static_cast<std::uint32_t>(value) & 0xFF) {
        case 0x0D:
            return palette().color(QPalette::Highlight);
        case 0x0E:
            return palette().color(QPalette::HighlightedText);
        case 0x0F:
            return palette().color(QPalette::Button);
        case 0x05:
            return palette().color(QPalette::Base);
        case 0x08:
            return palette().color(QPalette::Text);
        default:
            return palette().color(QPalette::Window);
        }
    }
    return FromBgr(value);
}

QColor TCodeMemo::ViewColor(std::int32_t value) const {
    return darkView_ && value >= 0 ? FromBgr(highlight::DarkCounterpart(value)) : ColorOf(value);
}

bool TCodeMemo::FollowsDarkPalette() const {
    return highlight::IsDarkRgb(palette().color(QPalette::Base).rgb() & 0xFFFFFF) &&
           Settings().coloursAsShipped();
}

QColor TCodeMemo::GutterColor() const {
    const TSM_Settings& s = Settings();
    return s.gutterColorDefault ? palette().color(QPalette::Button) : ViewColor(s.gutterColor);
}

void TCodeMemo::SetGutterColor(const QColor& c) {
    Settings().gutterColor = ToBgr(c);
    Settings().gutterColorDefault = 0;
    viewport()->update();
}

QColor TCodeMemo::MarginColor() const {
    const TSM_Settings& s = Settings();
    return s.marginColorDefault ? DefaultBack() : ViewColor(s.marginColor);
}

void TCodeMemo::SetMarginColor(const QColor& c) {
    Settings().marginColor = ToBgr(c);
    Settings().marginColorDefault = 0;
    viewport()->update();
}

QColor TCodeMemo::DefaultText() const {
    return ViewColor(Settings().effect(0).foreground);
}

QColor TCodeMemo::DefaultBack() const {
    return ViewColor(Settings().effect(0).background);
}

QColor TCodeMemo::SelTextColor() const {
    const TSM_Settings& s = Settings();
    return s.selTextColorDefault ? palette().color(QPalette::HighlightedText)
                                 : ViewColor(s.selTextColor);
}

QColor TCodeMemo::SelTextBack() const {
    const TSM_Settings& s = Settings();
    return s.selTextBackDefault ? palette().color(QPalette::Highlight) : ViewColor(s.selTextBack);
}

void TCodeMemo::SetSelTextColor(const QColor& c) {
    Settings().selTextColor = ToBgr(c);
    Settings().selTextColorDefault = 0;
    viewport()->update();
}

void TCodeMemo::SetSelTextBack(const QColor& c) {
    Settings().selTextBack = ToBgr(c);
    Settings().selTextBackDefault = 0;
    viewport()->update();
}

void TCodeMemo::SetDefTextColor(const QColor& c) {
    StyleEffect e = Settings().effect(0);
    e.foreground = ToBgr(c);
    Settings().setEffect(0, e);
    viewport()->update();
}

void TCodeMemo::SetDefBackColor(const QColor& c) {
    StyleEffect e = Settings().effect(0);
    e.background = ToBgr(c);
    Settings().setEffect(0, e);
    viewport()->update();
}

void TCodeMemo::SetDefFontStyle(std::uint8_t fontStyleBits) {
    StyleEffect e = Settings().effect(0);
    e.fontStyle = fontStyleBits & 15;
    Settings().setEffect(0, e);
    viewport()->update();
}

bool TCodeMemo::Focused() const {
    return hasFocus();
}

const QFont& TCodeMemo::StyleFont(std::uint8_t bits) {
    bits &= 15;
    if (!styleFontMade_[bits]) {
        QFont f(font_);
        f.setBold(bits & highlight::fsBoldBit);
        f.setItalic(bits & highlight::fsItalicBit);
        f.setUnderline(bits & highlight::fsUnderlineBit);
        f.setStrikeOut(bits & highlight::fsStrikeBit);
        if (metrics_->FixedPitch()) {
            // Each glyph steps exactly one cell: the cell width is the advance rounded to whole
            // pixels, and the caret, clicks, selection and margin lines are all counted in cells.
            f.setKerning(false);
            const qreal advance = QFontMetricsF(f).horizontalAdvance(QLatin1Char('W'));
            f.setLetterSpacing(QFont::AbsoluteSpacing, metrics_->CharWidth() - advance);
        }
        styleFonts_[bits] = f;
        styleCovers_[bits].fill(-1);
        styleCoversWide_[bits].clear();
        styleFontMade_[bits] = true;
    }
    return styleFonts_[bits];
}

bool TCodeMemo::StyleFontHas(std::uint8_t bits, unsigned char byte, QChar glyph) {
    // Glyphs of Latin-1 are looked up under their own code, the others (the characters of bytes
    // 128-159) under their byte, whose own code is never drawn.
    const QFont& font = StyleFont(bits); // made first: making it forgets what was known
    const std::size_t key = glyph.unicode() < 256 ? glyph.unicode() : byte;
    std::int8_t& known = styleCovers_[bits & 15][key];
    if (known < 0) known = QFontMetrics(font).inFont(glyph) ? 1 : 0;
    return known == 1;
}

bool TCodeMemo::StyleFontHasCode(std::uint8_t bits, char32_t code) {
    const QFont& font = StyleFont(bits);
    auto& known = styleCoversWide_[bits & 15];
    auto it = known.find(code);
    if (it != known.end()) return it->second;
    const bool has = QFontMetrics(font).inFontUcs4(static_cast<uint>(code));
    if (known.size() < 4096) known.emplace(code, has);
    return has;
}

void TCodeMemo::PaintByteMark(QPainter& p, int x, int y, unsigned byte, const QColor& color) {
    const int lh = metrics_->LineHeight(), cw = metrics_->CharWidth();
    static const char kHex[] = "0123456789ABCDEF";
    QFont f(font_);
    f.setPixelSize(std::max(5, lh / 2 - 1));
    f.setBold(false);
    f.setItalic(false);
    f.setLetterSpacing(QFont::AbsoluteSpacing, 0);
    p.save();
    p.setFont(f);
    p.setPen(color);
    p.drawRect(QRect(x, y + 1, cw - 1, lh - 3));
    p.drawText(QRect(x, y + 1, cw, lh / 2), Qt::AlignCenter, QString(QChar(kHex[byte >> 4])));
    p.drawText(QRect(x, y + lh / 2 - 1, cw, lh / 2), Qt::AlignCenter,
               QString(QChar(kHex[byte & 15])));
    p.restore();
}

// Bookmarks as numbered tags, gutter marks as coloured dots, the wrap glyph as an arrow.
void TCodeMemo::MakeImages() {
    const int size = std::clamp(metrics_->LineHeight() - 2, 8, 16);
    static const QColor kDots[16] = {
        Qt::red,      Qt::darkGreen, Qt::blue,     Qt::darkYellow,     Qt::magenta,  Qt::cyan,
        Qt::darkRed,  Qt::green,     Qt::darkBlue, Qt::darkMagenta,    Qt::darkCyan, Qt::gray,
        Qt::darkGray, Qt::yellow,    Qt::black,    QColor(255, 128, 0)};
    for (int i = 0; i < 10; ++i) {
        if (!BookmarkImages[static_cast<std::size_t>(i)].isNull()) continue;
        QPixmap pm(size, size);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        p.setPen(QColor(0, 0, 128));
        p.setBrush(QColor(255, 255, 160));
        p.drawRect(0, 0, size - 1, size - 1);
        QFont f(font_);
        f.setPixelSize(size - 3);
        f.setBold(true);
        p.setFont(f);
        p.drawText(QRect(0, 0, size, size), Qt::AlignCenter, QString::number(i));
        BookmarkImages[static_cast<std::size_t>(i)] = pm;
    }
    for (int i = 0; i < 16; ++i) {
        if (!GutterImages[static_cast<std::size_t>(i)].isNull()) continue;
        QPixmap pm(size, size);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(kDots[i]);
        p.drawEllipse(2, 2, size - 4, size - 4);
        GutterImages[static_cast<std::size_t>(i)] = pm;
    }
    if (WrapImage.isNull()) {
        QPixmap pm(size, size);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        p.setPen(QPen(QColor(0, 0, 128), 1));
        int r = size - 3, m = size / 2;
        p.drawLine(r, 2, r, m);
        p.drawLine(r, m, 3, m);
        p.drawLine(3, m, 6, m - 3);
        p.drawLine(3, m, 6, m + 3);
        WrapImage = pm;
    }
}

void TCodeMemo::paintEvent(QPaintEvent*) {
    if (UpdateLocked() || Updating() || Printing() || !isVisible()) return;
    QPainter p(viewport());
    PaintTo(p, viewport()->rect());
}

void TCodeMemo::PaintTo(QPainter& p, const QRect& area) {
    darkView_ = FollowsDarkPalette();
    const int w = area.width(), h = area.height();
    const int lh = metrics_->LineHeight(), cw = metrics_->CharWidth();
    const bool gutter = (Options() & smoShowGutter) && GutterWidth() > 0;
    const int left = TextLeft();
    std::vector<TRowLayout> rows = LayoutRows();
    if (gutter) PaintGutter(p, rows, h);
    if (Margin() > 0) p.fillRect(QRect(gutter ? GutterWidth() : 0, 0, Margin(), h), MarginColor());
    p.save();
    p.setClipRect(QRect(left, 0, std::max(0, w - left), h));
    // A match found from the find dialog shows while the dialog has the focus.
    const bool showSelection = Focused() || !HideSelection || SearchDialogShown();
    int y = 0;
    for (const TRowLayout& row : rows) {
        if (y >= h) break;
        bool handled = false;
        if (OnDrawLine) {
            std::string_view text = Store().Text(row.rec);
            TLineDrawRecord rec;
            rec.Kind = ldkScreen;
            rec.Text = text.data();
            rec.Length = static_cast<int>(text.size());
            rec.Canvas = &p;
            rec.Left = left;
            rec.Top = y;
            rec.Right = w;
            rec.Bottom = y + lh;
            rec.Offset = row.start;
            rec.LeftColumn = LeftColumn();
            OnDrawLine(this, &rec);
            handled = rec.Handled;
        }
        if (!handled) PaintRow(p, row, y, w, showSelection);
        PaintMarks(p, row, y);
        Store().Rec(row.rec).flags &= ~lfRepaint;
        y += lh;
    }
    if (y < h) p.fillRect(QRect(left, y, w - left, h - y), DefaultBack());
    PaintEditAids(p, rows, w);
    PaintMatchMarks(p, rows);
    // Margin lines over the text.
    if (Options() & smoShowRMargin) {
        int col = RightMargin() - LeftColumn();
        if (col >= 0 && col <= VisibleColumns()) {
            p.setPen(QPen(kSilver, 1, Qt::SolidLine));
            int x = left + col * cw;
            p.drawLine(x, 0, x, h);
        }
    }
    if ((Options() & smoWordWrap) && (Options() & smoShowWrapColumn) && WrapAtColumn() >= 1) {
        int col = WrapAtColumn() - LeftColumn();
        if (col >= 0 && col <= VisibleColumns()) {
            p.setPen(QPen(kSilver, 1, Qt::DotLine));
            int x = left + col * cw;
            p.drawLine(x, 0, x, h);
        }
    }
    p.restore();
    if (ShowFocusLine()) {
        RecIndex line = LineFromOffset(Caret());
        int top = static_cast<int>(line - TopLine()) * lh;
        if (top >= 0 && top < h) {
            QColor back = DefaultBack();
            p.setPen(QColor(255 - back.red(), 255 - back.green(), 255 - back.blue()));
            p.drawLine(left, top, w, top);
            p.drawLine(left, top + lh - 1, w, top + lh - 1);
        }
    }
    PaintCaret(p, w, h);
}

const QFont& TCodeMemo::GutterFont() {
    const highlight::GutterFont& gf = Settings().gutterFont();
    if (!(gf == gutterFontKey_) || !gutterFontMade_) {
        gutterFont_ = QFont(QString::fromStdString(gf.name));
        gutterFont_.setPointSize(std::max(1, static_cast<int>(gf.size)));
        gutterFont_.setBold(gf.style & highlight::fsBoldBit);
        gutterFont_.setItalic(gf.style & highlight::fsItalicBit);
        gutterFont_.setUnderline(gf.style & highlight::fsUnderlineBit);
        gutterFont_.setStrikeOut(gf.style & highlight::fsStrikeBit);
        gutterFontKey_ = gf;
        gutterFontMade_ = true;
        QFontMetrics fm(gutterFont_);
        int digit = 1;
        for (char c = '0'; c <= '9'; ++c)
            digit = std::max(digit, fm.horizontalAdvance(QLatin1Char(c)));
        SetGutterDigitWidth(digit);
    }
    return gutterFont_;
}

// Drawn off-screen and copied in one operation, so the numbers never flicker.
void TCodeMemo::PaintGutter(QPainter& p, const std::vector<TRowLayout>& rows, int height) {
    const int gw = GutterWidth(), lh = metrics_->LineHeight();
    if (BookmarkImages[0].isNull() || WrapImage.isNull()) MakeImages();
    QPixmap pm(gw, std::max(1, height));
    pm.fill(GutterColor());
    QPainter g(&pm);
    if (gw > 9) {
        g.setPen(darkView_ ? palette().color(QPalette::Mid) : QColor(Qt::white));
        g.drawLine(gw - 2, 0, gw - 2, height);
    }
    const highlight::GutterFont& gf = Settings().gutterFont();
    g.setFont(GutterFont());
    g.setPen(ViewColor(gf.color));
    const bool numbers = Options() & smoLineNumbers;
    int y = 0;
    auto centred = [&](const QPixmap& img, int x) {
        int top = y + std::max(0, (lh - img.height()) / 2);
        g.drawPixmap(x, top, img);
    };
    for (const TRowLayout& row : rows) {
        if (y >= height) break;
        std::uint16_t mark = row.mark;
        if (!(Options() & smoShowWrapGlyph)) mark &= static_cast<std::uint16_t>(~kContinuation);
        mark &= static_cast<std::uint16_t>(kBookmarkBits | kContinuation);
        int x = 2;
        if (mark) {
            int bit = __builtin_ctz(mark);
            const QPixmap& img =
                bit == 12 ? WrapImage : BookmarkImages[static_cast<std::size_t>(bit)];
            centred(img, x);
            x += img.width() + 1;
        }
        if (row.gutterMarks) centred(GutterImages[__builtin_ctz(row.gutterMarks) & 15], x);
        // Right-aligned, clear of the separator: the gutter is sized for the largest number.
        if (numbers && row.lineNumber > 0)
            g.drawText(QRect(2, y, gw - kGutterPadding, lh), Qt::AlignRight | Qt::AlignVCenter,
                       QString::number(row.lineNumber));
        y += lh;
    }
    g.end();
    p.drawPixmap(0, 0, pm);
}

void TCodeMemo::PaintRow(QPainter& p, const TRowLayout& row, int y, int width, bool showSelection) {
    const int lh = metrics_->LineHeight(), cw = metrics_->CharWidth();
    const int left = TextLeft();
    const TSM_Settings& st = Settings();
    const bool syntax = (Options() & smoSyntaxHighlight) && !row.attrs.empty();
    const StyleEffect& plain = st.effect(0);
    const QColor defText = ViewColor(plain.foreground), defBack = ViewColor(plain.background);
    const bool lineColors = row.background != -1;
    const QColor lineBack = lineColors ? FromBgr(row.background) : defBack;
    const QColor lineText =
        lineColors ? FromBgr(static_cast<std::int32_t>(row.textColor)) : defText;
    const QColor selText = SelTextColor(), selBack = SelTextBack();
    const bool allChars = Options() & smoShowAllChars;
    const bool fixed = metrics_->FixedPitch();
    const std::size_t n = row.cells.size();
    const bool decoded = !row.chars.empty();
    // The text sits centred in the row, as the bold italic measure left room for.
    const int baseline = y + (lh - metrics_->Height()) / 2 + metrics_->Ascent();

    auto styleAt = [&](std::size_t i) -> std::uint8_t {
        return syntax ? st.styleOfToken(static_cast<std::uint8_t>(row.attrs[i])) : 0;
    };
    auto selectedAt = [&](std::size_t i) {
        return showSelection && static_cast<DisplayColumn>(i) >= row.selFrom &&
               static_cast<DisplayColumn>(i) < row.selTo;
    };
    p.fillRect(QRect(left, y, width - left, lh), lineBack);
    for (std::size_t i = 0; i < n;) {
        const std::size_t start = i;
        const std::uint8_t style = styleAt(i);
        const bool selected = selectedAt(i);
        const StyleEffect& e = st.effect(style);
        bool control = false, alone = false;
        int runCells = 0;  // cells the run covers (a wide character takes two)
        unsigned mark = 0; // a byte drawn as its hex value, 0x100 + byte
        QString run;
        for (; i < n; ++i) {
            bool c = false;
            const auto byte = static_cast<unsigned char>(row.cells[i]);
            const char32_t code = decoded ? row.chars[i] : byte;
            int cells = 1;
            unsigned hex = 0;
            QString g;
            if (code == kWideTail) {
                // The second cell of a wide character, or one whose first cell is scrolled
                // out of view: nothing of its own to draw.
                if (i > start) {
                    if (alone && runCells == 2) continue;
                    break;
                }
                c = true;
                g = QStringLiteral(" ");
            } else if (code >= kByteMark || (decoded && code >= 0x80 && code < 0xA0)) {
                hex = 0x100 + (code >= kByteMark ? code - kByteMark : code);
                c = true;
            } else if (code < 256 && !(decoded && code >= 0x80)) {
                g = GlyphOf(byte, &c);
            } else {
                const char32_t one[1] = {code};
                g = QString::fromUcs4(one, 1);
                if (i + 1 < n && row.chars[i + 1] == kWideTail) cells = 2;
            }
            if (allChars && !hex) {
                char kind = i < row.tabs.size() ? row.tabs[i] : 0;
                if (kind == 1)
                    g = QChar(kTabGlyph);
                else if (kind == 0 && row.cells[i] == ' ')
                    g = QChar(kBlankGlyph);
            }
            // A character the font lacks comes from another font with another advance, so it
            // is drawn by itself in its cell; so are wide characters and byte marks.
            bool single = c || hex || cells == 2 || g.size() > 1;
            if (!single && fixed)
                single = code < 256 && !decoded ? !StyleFontHas(e.fontStyle, byte, g[0])
                                                : !StyleFontHasCode(e.fontStyle, code);
            if (i > start && (single || alone || styleAt(i) != style || selectedAt(i) != selected))
                break;
            control = c;
            alone = single;
            mark = hex;
            runCells += cells;
            run.append(g);
        }
        QColor fg = e.foregroundDefault ? defText : ViewColor(e.foreground);
        QColor bg = e.backgroundDefault ? defBack : ViewColor(e.background);
        if (lineColors) {
            fg = lineText;
            bg = lineBack;
        }
        if (selected) {
            fg = selText;
            bg = selBack;
        }
        if (control && !selected) fg = ControlCharColor;
        const int x = left + static_cast<int>(start) * cw;
        const int runWidth = static_cast<int>(i - start) * cw;
        if (bg != lineBack) p.fillRect(QRect(x, y, runWidth, lh), bg);
        if (mark) {
            PaintByteMark(p, x, y, mark & 0xFF, fg);
            continue;
        }
        p.setFont(StyleFont(e.fontStyle));
        p.setPen(fg);
        if (alone && runCells == 2) {
            // A wide character is centred in its two cells, whatever its own advance.
            const int advance = QFontMetrics(p.font()).horizontalAdvance(run);
            p.drawText(QPoint(x + std::max(0, (2 * cw - advance) / 2), baseline), run);
        } else if (fixed || alone) {
            p.drawText(QPoint(x, baseline), run);
        } else {
            // Positions are counted in cells; a proportional font is placed cell by cell so
            // that the caret and the mouse agree with the text.
            for (qsizetype k = 0; k < run.size(); ++k)
                p.drawText(QPoint(x + static_cast<int>(k) * cw, baseline), QString(run[k]));
        }
    }
    // The selected line break, and the glyph for the line's end or its continuation.
    const int endX = left + static_cast<int>(n) * cw;
    if (showSelection && row.selTo > static_cast<DisplayColumn>(n) &&
        row.selFrom <= static_cast<DisplayColumn>(n) && row.endsWithCR)
        p.fillRect(QRect(endX, y, cw, lh), selBack);
    if (allChars && row.endColumn - LeftColumn() == static_cast<DisplayColumn>(n)) {
        bool continued = !row.endsWithCR && row.rec + 1 < LineCount();
        if (row.endsWithCR || continued) {
            p.setFont(font_);
            p.setPen(ControlCharColor);
            p.drawText(QRect(endX, y, cw * 2, lh), Qt::AlignLeft | Qt::AlignVCenter,
                       QString(QChar(row.endsWithCR ? kLineEndGlyph : kWrapGlyph)));
        }
    }
}

void TCodeMemo::PaintMarks(QPainter& p, const TRowLayout& row, int y) {
    if (Marks().Count() == 0) return;
    const int lh = metrics_->LineHeight(), cw = metrics_->CharWidth();
    const TextOffset recEnd = row.start + Store().Rec(row.rec).length;
    for (std::size_t i = 0; i < Marks().Count(); ++i) {
        const TPositionMark& m = Marks()[i];
        if (m.start >= recEnd) break; // sorted by start
        if (m.end < row.start || (m.end == row.start && m.start < m.end)) continue;
        TextOffset a = std::max(m.start, row.start), b = std::min(m.end, recEnd);
        DisplayColumn ca = ColumnOf(row.rec, static_cast<std::size_t>(a - row.start));
        DisplayColumn cb = ColumnOf(row.rec, static_cast<std::size_t>(b - row.start));
        TViewRect r{TextLeft() + (ca - LeftColumn()) * cw, y,
                    TextLeft() + (cb - LeftColumn()) * cw + (ca == cb ? 1 : 0), y + lh};
        if (OnDrawMark) {
            OnDrawMark(this, &p, m, r);
        } else {
            p.setPen(DefaultText());
            p.setBrush(Qt::NoBrush);
            p.drawRect(QRect(QPoint(r.Left, r.Top), QPoint(r.Right - 1, r.Bottom - 1)));
        }
    }
}

void TCodeMemo::PaintEditAids(QPainter& p, const std::vector<TRowLayout>& rows, int width) {
    const bool line = Options() & smoHighlightLine;
    std::optional<BracketMatch> match = MatchBracket(Caret());
    if (match && match->partner < 0) match.reset();
    if (!line && !match) return;
    const int lh = metrics_->LineHeight(), cw = metrics_->CharWidth();
    const int left = TextLeft();
    const bool dark = DefaultBack().lightness() < 128;
    p.save();
    p.setCompositionMode(dark ? QPainter::CompositionMode_Screen
                              : QPainter::CompositionMode_Multiply);
    const RecIndex caretRec = LineFromOffset(Caret());
    // The rows of a record that holds [from, from + length).
    auto tint = [&](TextOffset from, TextOffset length, const QColor& color) {
        int y = 0;
        for (const TRowLayout& row : rows) {
            const TextOffset end = row.start + Store().Rec(row.rec).length;
            if (from >= row.start && from < end) {
                const auto a = static_cast<std::size_t>(from - row.start);
                const auto b = static_cast<std::size_t>(std::min(end, from + length) - row.start);
                const int x0 = left + (ColumnOf(row.rec, a) - LeftColumn()) * cw;
                const int x1 = left + (ColumnOf(row.rec, b) - LeftColumn()) * cw;
                p.fillRect(QRect(x0, y, std::max(cw, x1 - x0), lh), color);
                return;
            }
            y += lh;
        }
    };
    if (line) {
        int y = 0;
        for (const TRowLayout& row : rows) {
            if (row.rec == caretRec)
                p.fillRect(QRect(left, y, width - left, lh),
                           dark ? CurrentLineColorDark : CurrentLineColor);
            y += lh;
        }
    }
    if (match) {
        const QColor& color = dark ? BracketMatchColorDark : BracketMatchColor;
        tint(match->at, match->length, color);
        tint(match->partner, match->partnerLength, color);
    }
    p.restore();
}

void TCodeMemo::PaintCaret(QPainter& p, int width, int height) {
    if (!Focused() || !caretShown_) return;
    const int lh = metrics_->LineHeight(), cw = metrics_->CharWidth();
    const int left = TextLeft();
    // The caret's column includes a virtual caret beyond the line's end.
    int x = left + (CaretColumn() - LeftColumn()) * cw;
    int y = static_cast<int>(LineFromOffset(Caret()) - TopLine()) * lh;
    if (x < left || x >= width || y < 0 || y >= height) return;
    bool block = !InsertMode() && (Options() & smoBlockOverwriteCursor);
    int w = 2;
    if (block) {
        // As wide as the character under it: a TAB spreads to its tab stop.
        w = cw;
        TextOffset at = Caret();
        if (!VirtualCaret() && at < TextLength() && RangeText(at, at + 1, tfStored) == "\t") {
            DisplayColumn col = CaretColumn();
            w = (NextTabStop(col) - col) * cw;
        }
    }
    p.fillRect(QRect(x, y, w, lh), block ? QColor(0, 0, 0, 96) : DefaultText());
}

} // namespace morvane::editor
