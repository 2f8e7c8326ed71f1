// Where text appears: rows, columns, scrolling, and the rows a view paints.

#include "core/editor/CustomCodeMemo.h"

#include <algorithm>

namespace morvane::editor {

void TCustomCodeMemo::SetFontMetrics(std::shared_ptr<const TFontMetrics> metrics) {
    metrics_ = std::move(metrics);
    margin_ = std::min(margin_, std::max(0, metrics_->CharWidth()));
    changeBits_ |= cbSettings;
    if (options_ & smoWordWrap) RewrapAll();
    FlagRange(topLine_, topLine_ + VisibleRows() + 2, lfRepaint);
    Invalidate();
    if (view_) view_->UpdateScrollBars();
}

void TCustomCodeMemo::SetClientSize(int width, int height) {
    if (width == clientWidth_ && height == clientHeight_) return;
    int oldWrap = WrapWidth();
    clientWidth_ = std::max(0, width);
    clientHeight_ = std::max(0, height);
    // The wrap width follows the window only while no column is set.
    if ((options_ & smoWordWrap) && wrapAtColumn_ == 0 && WrapWidth() != oldWrap) RewrapAll();
    FlagRange(topLine_, topLine_ + VisibleRows() + 2, lfRepaint);
    changeBits_ |= cbSize;
    if (view_) view_->UpdateScrollBars();
}

void TCustomCodeMemo::SetGutter(int value) {
    if (clientWidth_ <= 0) return;
    int most = (clientWidth_ * 20 + 50) / 100; // 20 % of the width, rounded
    if (value != 0 && (value < 34 || value > most)) return;
    if (value == gutter_) return;
    int oldWrap = WrapWidth();
    gutter_ = value;
    fittedGutter_ = WantedGutterWidth();
    if ((options_ & smoWordWrap) && wrapAtColumn_ == 0 && WrapWidth() != oldWrap) RewrapAll();
    FlagRange(topLine_, topLine_ + VisibleRows() + 2, lfRepaint);
    changeBits_ |= cbSize;
    Invalidate();
    if (view_) view_->UpdateScrollBars();
}

int TCustomCodeMemo::WantedGutterWidth() const {
    if (gutter_ == 0 || !(options_ & smoLineNumbers) || gutterDigitWidth_ <= 0) return gutter_;
    int digits = 1;
    for (RecIndex n = NumberedLines(); n >= 10; n /= 10)
        ++digits;
    return std::max(gutter_, digits * gutterDigitWidth_ + kGutterPadding);
}

void TCustomCodeMemo::SetGutterDigitWidth(int pixels) {
    pixels = std::max(0, pixels);
    if (pixels == gutterDigitWidth_) return;
    gutterDigitWidth_ = pixels;
    FitGutter();
}

void TCustomCodeMemo::FitGutter() {
    const int width = WantedGutterWidth();
    if (width == fittedGutter_) return;
    const int oldWrap = WrapWidth();
    fittedGutter_ = width;
    if ((options_ & smoWordWrap) && wrapAtColumn_ == 0 && WrapWidth() != oldWrap &&
        !store_->Empty())
        RewrapAll();
    FlagRange(topLine_, topLine_ + VisibleRows() + 2, lfRepaint);
    changeBits_ |= cbSize;
    Invalidate();
    if (view_) view_->UpdateScrollBars();
}

void TCustomCodeMemo::SetMargin(int value) {
    value = std::clamp(value, 0, std::max(0, metrics_->CharWidth()));
    if (value == margin_) return;
    margin_ = value;
    FlagRange(topLine_, topLine_ + VisibleRows() + 2, lfRepaint);
    changeBits_ |= cbSize;
    Invalidate();
}

void TCustomCodeMemo::SetRightMargin(int value) {
    value = std::max(0, value);
    if (value == rightMargin_) return;
    rightMargin_ = value;
    changeBits_ |= cbOptions;
    FlagRange(topLine_, topLine_ + VisibleRows() + 2, lfRepaint);
    Invalidate();
}

void TCustomCodeMemo::SetShowFocusLine(bool value) {
    if (value == showFocusLine_) return;
    showFocusLine_ = value;
    changeBits_ |= cbOptions;
    Invalidate();
}

TScrollInfo TCustomCodeMemo::ScrollInfo() const {
    TScrollInfo s;
    s.factor = static_cast<int>(LineCount() / 32000 + 1);
    // Qt's maximum is the largest top line, so that the last line can reach the top.
    s.vMax = static_cast<int>(std::max<RecIndex>(0, LineCount() - 1) / s.factor);
    // A text that fits the window from its top has nothing to scroll: no bar.
    const RecIndex rows = LineCount() + (!store_->Empty() && store_->EndsWithCR(LineCount() - 1));
    if (topLine_ == 0 && clientHeight_ > 0 && rows <= VisibleRows()) s.vMax = 0;
    s.vPage = std::max(1, VisibleRows() / s.factor);
    s.vPos = static_cast<int>(topLine_ / s.factor);
    s.hVisible =
        !(options_ & smoWordWrap) && (scrollBars_ == ssHorizontal || scrollBars_ == ssBoth);
    s.vVisible = scrollBars_ == ssVertical || scrollBars_ == ssBoth;
    s.hMax = std::max(0, longestLine_ - VisibleColumns() + 1);
    s.hPage = std::max(1, VisibleColumns());
    s.hPos = leftColumn_;
    return s;
}

void TCustomCodeMemo::SetScrollBars(TScrollStyle value) {
    if (value == scrollBars_) return;
    scrollBars_ = value;
    changeBits_ |= cbSize;
    if (view_) view_->UpdateScrollBars();
}

void TCustomCodeMemo::VScrollTo(int position) {
    SetTopLine(static_cast<RecIndex>(std::max(0, position)) * ScrollInfo().factor);
}

bool TCustomCodeMemo::WheelNotch(bool up) {
    bool handled = false;
    if (up && OnMouseWheelUp) OnMouseWheelUp(this, handled);
    if (!up && OnMouseWheelDown) OnMouseWheelDown(this, handled);
    if (handled) return false;
    SetTopLine(topLine_ + (up ? -1 : 1));
    NotifyChange();
    return true;
}

int TCustomCodeMemo::TextLeft() const {
    return margin_ + ((options_ & smoShowGutter) ? GutterWidth() : 0);
}

int TCustomCodeMemo::VisibleRows() const {
    if (clientHeight_ <= 0) return 40;
    return clientHeight_ / std::max(1, metrics_->LineHeight());
}

int TCustomCodeMemo::VisibleColumns() const {
    if (clientWidth_ <= 0) return 80;
    return std::max(0, (clientWidth_ - TextLeft()) / std::max(1, metrics_->CharWidth()));
}

void TCustomCodeMemo::SetTopLine(RecIndex line) {
    line = std::clamp<RecIndex>(line, 0, std::max<RecIndex>(0, LineCount() - 1));
    if (line == topLine_) return;
    topLine_ = line;
    topOffset_ = store_->Start(line);
    FlagRange(topLine_, topLine_ + VisibleRows() + 2, lfRepaint);
    changeBits_ |= cbScroll;
    Invalidate();
    if (view_) view_->UpdateScrollBars();
}

void TCustomCodeMemo::SetLeftColumn(DisplayColumn col) {
    col = std::clamp<DisplayColumn>(col, 0, std::max(0, longestLine_));
    if (col == leftColumn_) return;
    leftColumn_ = col;
    FlagRange(topLine_, topLine_ + VisibleRows() + 2, lfRepaint);
    changeBits_ |= cbScroll;
    Invalidate();
    if (view_) view_->UpdateScrollBars();
}

void TCustomCodeMemo::LineScroll(DisplayColumn columns, RecIndex lines) {
    SetLeftColumn(leftColumn_ + columns);
    SetTopLine(topLine_ + lines);
}

DisplayColumn TCustomCodeMemo::NextTabStop(DisplayColumn col) const {
    if (!tabColumns_.empty() && col < tabColumns_.back())
        return *std::upper_bound(tabColumns_.begin(), tabColumns_.end(), col);
    return col + (tabDefault_ - col % tabDefault_);
}

DisplayColumn TCustomCodeMemo::ColumnOf(RecIndex rec, std::size_t index) const {
    return ColumnFrom(rec, index, 0);
}

namespace {
// The column after the first index characters of a record's text t, from column start.
template <typename TabStop>
DisplayColumn ColumnInText(std::string_view t, bool hasTab, TTextEncoding enc, std::size_t index,
                           DisplayColumn start, const TabStop& nextTabStop) {
    std::size_t visible = (!t.empty() && t.back() == kCR) ? t.size() - 1 : t.size();
    index = std::min(index, visible);
    // Only UTF-8 has characters of several bytes or two cells.
    const bool cells = enc == TTextEncoding::teUTF8 && !IsAscii(t.substr(0, index));
    if (!hasTab && !cells) return start + static_cast<DisplayColumn>(index);
    DisplayColumn col = start;
    for (std::size_t i = 0; i < index;) {
        if (t[i] == kTAB) {
            col = nextTabStop(col);
            ++i;
        } else if (!cells) {
            ++col;
            ++i;
        } else {
            TCharInfo ch = DecodeChar(enc, t, i);
            col += CellWidth(ch);
            i += ch.length;
        }
    }
    return col;
}
} // namespace

DisplayColumn TCustomCodeMemo::ColumnFrom(RecIndex rec, std::size_t index,
                                          DisplayColumn start) const {
    if (rec < 0 || rec >= LineCount()) return start;
    return ColumnInText(store_->Text(rec), store_->Rec(rec).flags & lfHasTab, Encoding(), index,
                        start, [this](DisplayColumn c) { return NextTabStop(c); });
}

std::size_t TCustomCodeMemo::IndexAtColumn(RecIndex rec, DisplayColumn col) const {
    if (rec < 0 || rec >= LineCount()) return 0;
    std::string_view t = store_->Text(rec);
    std::size_t visible = (!t.empty() && t.back() == kCR) ? t.size() - 1 : t.size();
    const TTextEncoding enc = Encoding();
    const bool cells = enc == TTextEncoding::teUTF8 && !IsAscii(t.substr(0, visible));
    DisplayColumn c = 0;
    std::size_t i = 0;
    while (i < visible) {
        std::size_t len = 1;
        DisplayColumn next = c + 1;
        if (t[i] == kTAB) {
            next = NextTabStop(c);
        } else if (cells) {
            TCharInfo ch = DecodeChar(enc, t, i);
            len = ch.length;
            next = c + CellWidth(ch);
        }
        if (next > col) break;
        c = next;
        i += len;
    }
    return i;
}

DisplayColumn TCustomCodeMemo::ColumnAt(TextOffset off) const {
    auto where = store_->Locate(off);
    return ColumnOf(where.rec, static_cast<std::size_t>(off - where.start));
}

// Records walked before the column at the caret's record is remembered.
constexpr RecIndex kColumnMarkAfter = 16;

TCustomCodeMemo::LineColumn TCustomCodeMemo::CaretPosition() const {
    if (store_->Empty()) return {1, 1};
    auto where = store_->Locate(caret_);
    // Not remembered: the number the painter asks for near the top must survive edits here.
    if (where.rec >= LineCount()) // after the last line break
        return {PhysicalLineNumber(LineCount() - 1, false) + 1, 1};
    const RecIndex line = PhysicalLineNumber(where.rec, false);
    // Columns run on across the records of a long or wrapped line, TAB stops included; the
    // walk back stops at the remembered column when it meets it first.
    DisplayColumn col = 0;
    TTextStore::Cursor c = store_->CursorAt(where.rec);
    const bool marked = columnMarkAt_ >= 0 && columnMarkAt_ <= c.start;
    while (c.rec > 0 && (store_->Rec(c).mark & kContinuation) &&
           !(marked && c.start == columnMarkAt_))
        store_->Prev(c);
    const bool fromMark = marked && c.start == columnMarkAt_;
    TextOffset lineStart = fromMark ? columnMarkLine_ : c.start;
    bool plain = fromMark ? columnMarkPlain_ : true;
    if (fromMark) col = columnMarkValue_;
    const RecIndex walked = where.rec - c.rec;
    const TTextEncoding enc = Encoding();
    auto tabStop = [this](DisplayColumn k) { return NextTabStop(k); };
    for (; c.rec < where.rec; store_->Next(c)) {
        std::string_view t = store_->Text(c);
        const bool tab = store_->Rec(c).flags & lfHasTab;
        // Records before the caret's hold no CR: they continue its line.
        if (!tab && (enc != TTextEncoding::teUTF8 || IsAscii(t))) {
            col += static_cast<DisplayColumn>(t.size());
        } else {
            plain = false;
            col = ColumnInText(t, tab, enc, t.size(), col, tabStop);
        }
    }
    if (walked > kColumnMarkAfter) {
        columnMarkAt_ = where.start;
        columnMarkLine_ = lineStart;
        columnMarkValue_ = col;
        columnMarkPlain_ = plain;
    }
    col = virtualColumn_ >= 0
              ? col + virtualColumn_
              : ColumnFrom(where.rec, static_cast<std::size_t>(caret_ - where.start), col);
    return {line, col + 1};
}

// Called after every edit. An edit after the mark leaves it; one before its line moves it when
// the line break before the line stays; one inside a plain line up to it that keeps the line
// plain (characters of a cell a byte inserted, or plain ones deleted) moves it and its column.
void TCustomCodeMemo::MoveColumnMark(TextOffset start, TextOffset extent) {
    if (columnMarkAt_ < 0 || start >= columnMarkAt_) return;
    const TextOffset end = extent < 0 ? start - extent : start;
    if (end < columnMarkLine_) { // the CR before the line stays
        columnMarkLine_ += extent;
        columnMarkAt_ += extent;
        return;
    }
    bool keep = columnMarkPlain_ && start >= columnMarkLine_;
    if (keep && extent < 0) {
        keep = end <= columnMarkAt_;
    } else if (keep) {
        keep = extent <= 4096;
        if (keep) {
            const std::string added = RangeText(start, start + extent, tfStored);
            keep = added.find_first_of("\t\r") == std::string::npos &&
                   (Encoding() != TTextEncoding::teUTF8 || IsAscii(added));
        }
    }
    if (!keep) {
        columnMarkAt_ = -1;
        return;
    }
    columnMarkAt_ += extent;
    columnMarkValue_ += static_cast<DisplayColumn>(extent);
}

RecIndex TCustomCodeMemo::RecordOfLine(RecIndex line) const {
    if (store_->Empty()) return line <= 1 ? 0 : -1;
    line = std::max<RecIndex>(line, 1);
    RecIndex from = 0, number = 1;
    // Start from the remembered number when it lies before the line asked for.
    if (lineNoRec_ > 0 && lineNoRec_ < LineCount() && lineNoValue_ < line) {
        from = lineNoRec_;
        number = lineNoValue_;
    }
    if (number == line) return from;
    TTextStore::Cursor c = store_->CursorAt(from);
    while (store_->Next(c))
        if (!(store_->Rec(c).mark & kContinuation) && ++number == line) return c.rec;
    return -1;
}

void TCustomCodeMemo::GoToPosition(DisplayColumn column, RecIndex line) {
    column = std::max<DisplayColumn>(column, 1);
    line = std::max<RecIndex>(line, 1);
    TextOffset off = 0;
    if (!store_->Empty()) {
        RecIndex rec = RecordOfLine(line);
        if (rec < 0 && store_->EndsWithCR(LineCount() - 1)) {
            off = TextLength();
        } else {
            if (rec < 0) rec = LineSpanOf(LineCount() - 1).first;
            LineSpan span = LineSpanOf(rec);
            TextOffset len = span.end - span.start;
            off = CharStartAt(span.start + std::clamp<TextOffset>(
                                               column - 1, 0, std::max<TextOffset>(0, len - 1)));
        }
    }
    SetSelection(off, off);
    desiredColumn_ = ColumnAt(off);
    ScrollToCaret();
    NotifyChange();
}

void TCustomCodeMemo::ScrollToCaret() {
    if (TextLeft() >= clientWidth_ || clientHeight_ == 0) return;
    RecIndex oldTop = topLine_;
    DisplayColumn oldLeft = leftColumn_;
    RecIndex line = LineFromOffset(caret_);
    RecIndex rows = std::max(1, VisibleRows());
    if (line < topLine_) topLine_ = line;
    if (rows > 1 && line >= topLine_ + rows) topLine_ = line - rows + 1;
    topLine_ = std::clamp<RecIndex>(topLine_, 0, std::max<RecIndex>(0, LineCount() - 1));
    DisplayColumn col = virtualColumn_ >= 0 ? virtualColumn_ : ColumnAt(caret_);
    DisplayColumn cols = std::max(1, VisibleColumns());
    const int cw = std::max(1, metrics_->CharWidth());
    auto x = [&] { return TextLeft() + (col - leftColumn_) * cw; };
    DisplayColumn lineEnd = line < LineCount() ? LineEndColumn(line) : 0;
    while (x() >= clientWidth_ && lineEnd > leftColumn_)
        leftColumn_ += 8;
    while ((col < leftColumn_ || x() < 0) && leftColumn_ > 0)
        leftColumn_ = std::max(0, leftColumn_ - 8);
    while (col >= leftColumn_ + cols)
        leftColumn_ += 8;
    if (options_ & smoWordWrap)
        while (col < cols && leftColumn_ > 0)
            leftColumn_ = std::max(0, leftColumn_ - 8);
    if (topLine_ != oldTop || leftColumn_ != oldLeft) {
        topOffset_ = store_->Start(topLine_);
        FlagRange(topLine_, topLine_ + rows + 2, lfRepaint);
        changeBits_ |= cbScroll;
        Invalidate();
        if (view_) view_->UpdateScrollBars();
    }
}

TCustomCodeMemo::Point TCustomCodeMemo::PosFromChar(TextOffset off) const {
    off = std::clamp<TextOffset>(off, 0, TextLength());
    RecIndex line = LineFromOffset(off);
    DisplayColumn col = ColumnAt(off);
    int x = TextLeft() + (col - leftColumn_) * metrics_->CharWidth();
    int y = static_cast<int>(line - topLine_) * metrics_->LineHeight();
    return {x, y};
}

TextOffset TCustomCodeMemo::CharFromPos(int x, int y) const {
    int cw = std::max(1, metrics_->CharWidth()), lh = std::max(1, metrics_->LineHeight());
    if (x < TextLeft() || y < 0) return -1;
    if (clientWidth_ > 0 && x >= clientWidth_) return -1;
    if (clientHeight_ > 0 && y >= clientHeight_) return -1;
    RecIndex rec = topLine_ + y / lh;
    if (rec >= LineCount()) {
        // Only the empty line after a final line break holds text positions below the records.
        if (rec == LineCount() && !store_->Empty() && store_->EndsWithCR(rec - 1))
            return TextLength();
        return store_->Empty() && rec == 0 ? 0 : -1;
    }
    DisplayColumn col = leftColumn_ + (x - TextLeft() + cw / 2) / cw;
    return store_->Start(rec) + static_cast<TextOffset>(IndexAtColumn(rec, col));
}

std::vector<TRowLayout> TCustomCodeMemo::LayoutRows() const {
    std::vector<TRowLayout> rows;
    if (store_->Empty()) return rows;
    int count = VisibleRows() + 1; // a partly visible row at the bottom
    DisplayColumn width = VisibleColumns() + 1;
    TextOffset selFrom = SelStart(), selTo = std::max(anchor_, caret_);
    TTextStore::Cursor c = store_->CursorAt(topLine_);
    RecIndex number = PhysicalLineNumber(topLine_);
    const TTextEncoding enc = Encoding();
    for (int r = 0; r < count && !store_->AtEnd(c); ++r, store_->Next(c)) {
        TRowLayout row;
        row.rec = c.rec;
        row.start = c.start;
        const TLineRec& rec = store_->Rec(c);
        row.flags = rec.flags;
        row.continuation = (rec.mark & kContinuation) != 0;
        if (r > 0 && !row.continuation) ++number;
        row.mark = rec.mark;
        if (store_->HasExtra(c)) {
            row.gutterMarks = store_->GutterMarks(c.rec);
            row.background = store_->LineBackground(c.rec);
            row.textColor = store_->LineTextColor(c.rec);
        }
        // Bookmarked and marked lines show their image instead of the number.
        if (!row.continuation && !(rec.mark & kBookmarkBits) && row.gutterMarks == 0)
            row.lineNumber = number;
        const std::uint8_t* attrs = store_->Attrs(c.rec);
        std::string_view t = store_->Text(c);
        row.endsWithCR = !t.empty() && t.back() == kCR;
        bool cr = !t.empty() && t.back() == kCR;
        std::size_t visible = cr ? t.size() - 1 : t.size();
        const bool decode = !IsAscii(t.substr(0, visible));
        DisplayColumn col = 0;
        DisplayColumn selA = -1, selB = -1;
        for (std::size_t i = 0; i <= visible;) {
            TextOffset off = c.start + static_cast<TextOffset>(i);
            if (selA < 0 && off >= selFrom) selA = col;
            if (selB < 0 && off >= selTo) selB = col;
            if (i == visible) break;
            TCharInfo ch{1, true, static_cast<unsigned char>(t[i])};
            if (decode) ch = DecodeChar(enc, t, i);
            DisplayColumn next = t[i] == kTAB ? NextTabStop(col) : col + CellWidth(ch);
            for (DisplayColumn k = col; k < next; ++k)
                if (k >= leftColumn_ && k < leftColumn_ + width) {
                    if (rec.flags & lfHasTab)
                        row.tabs.push_back(t[i] != kTAB ? 0 : k == col ? 1 : 2);
                    row.cells.push_back(t[i] == kTAB ? ' ' : t[i]);
                    if (attrs) row.attrs.push_back(static_cast<char>(attrs[i]));
                    if (decode)
                        row.chars.push_back(t[i] == kTAB ? U' '
                                            : k > col    ? kWideTail
                                            : ch.valid   ? ch.code
                                                         : kByteMark + ch.code);
                }
            col = next;
            i += ch.length;
        }
        row.endColumn = col;
        TextOffset end = c.start + static_cast<TextOffset>(t.size());
        if (selFrom < end && selTo > c.start) {
            if (selA < 0) selA = 0;
            if (selB < 0) selB = col + 1; // the line break is selected too
            row.selFrom = std::max(0, selA - leftColumn_);
            row.selTo = std::max(0, selB - leftColumn_);
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

} // namespace morvane::editor
