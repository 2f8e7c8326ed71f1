// Indenting and un-indenting the lines a selection touches.

#include "core/editor/CustomCodeMemo.h"

#include <algorithm>

namespace morvane::editor {

namespace {
constexpr int kGroupIndent = 17;
constexpr int kGroupUnindent = 18;
constexpr char kNoBreakSpace = static_cast<char>(160);
} // namespace

// Start offsets of the physical lines from the selection start's line to the selection end's
// line; the end's line is left out when the end stands at its start. A record that continues
// a line is part of that line, never a line of its own: indenting it would put blanks into
// the middle of the line's text.
std::vector<TextOffset> TCustomCodeMemo::SelectedLineStarts() const {
    std::vector<TextOffset> starts;
    TextOffset from = SelStart(), to = std::max(anchor_, caret_);
    if (from == to || store_->Empty()) return starts;
    RecIndex first = std::min(LineFromOffset(from), LineCount() - 1);
    RecIndex last = std::min(LineFromOffset(to), LineCount() - 1);
    if (last > first && LineStart(last) == to) --last;
    while (first > 0 && (store_->Rec(first).mark & kContinuation))
        --first;
    TTextStore::Cursor c = store_->CursorAt(first);
    for (; !store_->AtEnd(c) && c.rec <= last; store_->Next(c))
        if (!(store_->Rec(c).mark & kContinuation)) starts.push_back(c.start);
    return starts;
}

void TCustomCodeMemo::ReselectAfterBlockEdit(TextOffset start, TextOffset end, bool caretAtEnd) {
    end = std::clamp<TextOffset>(end, 0, TextLength());
    start = std::clamp<TextOffset>(start, 0, end);
    if (caretAtEnd)
        SetSelection(start, end, false);
    else
        SetSelection(end, start, false);
    ScrollToCaret();
    Invalidate();
    NotifyChange();
}

void TCustomCodeMemo::BlockIndent(int steps, bool useTabs) {
    if (readOnly_) return;
    std::vector<TextOffset> starts = SelectedLineStarts();
    if (starts.empty()) return;
    // A level of the tab width is one TAB where TABs are in use.
    const bool level = steps <= 0 && indentStep_ <= 0;
    if (steps <= 0) steps = IndentWidth();
    bool tabs = (useTabs || level) && (options_ & smoUseTAB);
    if (tabs && level) steps = 1;
    std::string indent(static_cast<std::size_t>(steps), tabs ? kTAB : ' ');
    auto count = static_cast<TextOffset>(indent.size());
    TextOffset start = SelStart(), end = std::max(anchor_, caret_);
    bool caretAtEnd = caret_ >= anchor_;
    bool group = undo_.BeginGroup(kGroupIndent, anchor_, caret_);
    TextOffset shift = 0;
    for (TextOffset lineStart : starts) {
        TextOffset at = lineStart + shift;
        InsertStored(at, indent);
        if (undo_.recording && !undo_.replaying)
            undo_.PushTransaction(at, at, {}, indent, at, at + count);
        shift += count;
    }
    end += shift;
    if (group) undo_.EndGroup(kGroupIndent, caretAtEnd ? start : end, caretAtEnd ? end : start);
    ReselectAfterBlockEdit(start, end, caretAtEnd);
}

void TCustomCodeMemo::BlockUnindent(int steps) {
    if (readOnly_) return;
    std::vector<TextOffset> starts = SelectedLineStarts();
    if (starts.empty()) return;
    const bool level = steps <= 0 && indentStep_ <= 0;
    if (steps <= 0) steps = IndentWidth();
    TextOffset start = SelStart(), end = std::max(anchor_, caret_);
    bool caretAtEnd = caret_ >= anchor_;
    bool group = undo_.BeginGroup(kGroupUnindent, anchor_, caret_);
    TextOffset shift = 0;
    for (TextOffset lineStart : starts) {
        TextOffset at = lineStart - shift;
        std::string_view t = store_->Text(LineFromOffset(at));
        // Steps count characters: in UTF-8 the no-break space is the two bytes C2 A0.
        const bool utf8 = Encoding() == TTextEncoding::teUTF8;
        std::size_t n = 0;
        for (int k = 0; n < t.size() && k < steps; ++k) {
            if (t[n] == kTAB && level) {
                ++n; // a TAB is a whole level
                break;
            }
            if (t[n] == ' ' || t[n] == kTAB || (!utf8 && t[n] == kNoBreakSpace))
                ++n;
            else if (utf8 && t.substr(n, 2) == "\xC2\xA0")
                n += 2;
            else
                break;
        }
        if (n == 0) continue;
        std::string removed(t.substr(0, n));
        DeleteRange(at, at + static_cast<TextOffset>(n));
        if (undo_.recording && !undo_.replaying)
            undo_.PushTransaction(at, at + static_cast<TextOffset>(n), std::move(removed), {}, at,
                                  at);
        // Positions inside the removed run fall back to its start.
        if (start > at) start = std::max(at, start - static_cast<TextOffset>(n));
        end -= std::min<TextOffset>(static_cast<TextOffset>(n), std::max<TextOffset>(0, end - at));
        shift += static_cast<TextOffset>(n);
    }
    if (group) undo_.EndGroup(kGroupUnindent, caretAtEnd ? start : end, caretAtEnd ? end : start);
    ReselectAfterBlockEdit(start, end, caretAtEnd);
}

} // namespace morvane::editor
