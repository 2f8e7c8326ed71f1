// Where the mouse points in the text and what clicks select: the offset and line under a
// point, words for a double click, lines for a triple click and margin clicks, Shift-click,
// and the right margin and wrap column that can be dragged.

#include "core/editor/CustomCodeMemo.h"

#include <algorithm>

namespace morvane::editor {

namespace {
constexpr DisplayColumn kMaxVirtualColumn = 2047;
} // namespace

RecIndex TCustomCodeMemo::LineAtY(int y, bool physical) const {
    int lh = std::max(1, metrics_->LineHeight());
    RecIndex rec = topLine_ + std::max(0, y) / lh;
    if (rec >= LineCount()) return -1;
    if (physical)
        while (rec > 0 && (store_->Rec(rec).mark & kContinuation))
            --rec;
    return rec;
}

DisplayColumn TCustomCodeMemo::ColumnAtX(int x) const {
    int cw = std::max(1, metrics_->CharWidth());
    return leftColumn_ + std::max(0, x - TextLeft() + cw / 2) / cw;
}

TextOffset TCustomCodeMemo::OffsetAtPoint(int x, int y) const {
    if (store_->Empty()) return 0;
    int lh = std::max(1, metrics_->LineHeight());
    if (clientHeight_ > 0) y = std::min(y, clientHeight_ - 1);
    RecIndex rec = topLine_ + std::max(0, y) / lh;
    if (rec >= LineCount()) return TextLength();
    return store_->Start(rec) + static_cast<TextOffset>(IndexAtColumn(rec, ColumnAtX(x)));
}

void TCustomCodeMemo::PlaceCaretAtPoint(int x, int y, bool extend) {
    TextOffset off = OffsetAtPoint(x, y);
    SetSelection(extend ? anchor_ : off, off, false);
    if (CaretAfterEOLAllowed()) {
        int cw = std::max(1, metrics_->CharWidth());
        DisplayColumn col = std::max(0, x - TextLeft()) / cw + leftColumn_;
        RecIndex rec = LineFromOffset(off);
        if (rec < LineCount() && col > LineEndColumn(rec)) {
            virtualColumn_ = std::min(col, kMaxVirtualColumn);
            changeBits_ |= cbSelection;
        }
    }
    desiredColumn_ = CaretColumn();
    Invalidate();
}

std::pair<TextOffset, TextOffset> TCustomCodeMemo::WordRangeAt(TextOffset off) const {
    off = std::clamp<TextOffset>(off, 0, TextLength());
    auto where = store_->Locate(off);
    if (where.rec >= LineCount()) return {off, off};
    std::string_view t = store_->Text(where.rec);
    if (!t.empty() && t.back() == kCR) t.remove_suffix(1);
    const std::size_t n = t.size();
    auto i = std::min(static_cast<std::size_t>(off - where.start), n);
    auto word = [&](std::size_t k) { return CharStartsWord(t[k]) || CharIsInWord(t[k]); };
    std::size_t a, b;
    if ((i < n && word(i)) || (i > 0 && word(i - 1))) {
        a = b = (i < n && word(i)) ? i : i - 1;
        while (a > 0 && word(a - 1))
            --a;
        while (b < n && word(b))
            ++b;
    } else if (i == 0) {
        // At the start of the line the first word of the line; a line without one entirely.
        a = 0;
        while (a < n && !word(a))
            ++a;
        if (a < n) {
            b = a;
            while (b < n && word(b))
                ++b;
        } else {
            a = 0;
            b = n;
        }
    } else {
        a = b = i;
        while (a > 0 && !word(a - 1))
            --a;
        while (b < n && !word(b))
            ++b;
    }
    // Word tests look at bytes; the range takes whole characters.
    a = CharStart(Encoding(), t, a);
    if (b < n && CharStart(Encoding(), t, b) != b) b = NextCharStart(Encoding(), t, b);
    return {where.start + static_cast<TextOffset>(a), where.start + static_cast<TextOffset>(b)};
}

std::pair<TextOffset, TextOffset> TCustomCodeMemo::LineRangeAt(TextOffset off) const {
    off = std::clamp<TextOffset>(off, 0, TextLength());
    auto where = store_->Locate(off);
    if (where.rec >= LineCount()) return {off, off};
    return {where.start, where.start + static_cast<TextOffset>(store_->Rec(where.rec).length)};
}

TCustomCodeMemo::TokenRun TCustomCodeMemo::TokenRunAt(TextOffset off, int& token) const {
    constexpr TextOffset kMaxRun = 4096;
    auto valueAt = [&](TextOffset o) -> int {
        if (o < 0 || o >= TextLength()) return -1;
        auto where = store_->Locate(o);
        if (where.rec >= LineCount()) return -1;
        const std::uint8_t* attrs = store_->Attrs(where.rec);
        auto i = static_cast<std::size_t>(o - where.start);
        std::string_view t = store_->Text(where.rec);
        if (!attrs || i >= t.size() || t[i] == kCR) return -1;
        return attrs[i];
    };
    token = valueAt(off);
    if (token < 0) return {{}, off};
    TextOffset a = off, b = off + 1;
    while (a > 0 && off - a < kMaxRun && valueAt(a - 1) == token)
        --a;
    while (b - off < kMaxRun && valueAt(b) == token)
        ++b;
    return {RangeText(a, b, tfStored), a};
}

void TCustomCodeMemo::ExtendSelectionTo(TextOffset off) {
    TextOffset start = SelStart(), end = std::max(anchor_, caret_);
    if (off < start)
        SetSelection(end, off);
    else
        SetSelection(start, off);
}

} // namespace morvane::editor
