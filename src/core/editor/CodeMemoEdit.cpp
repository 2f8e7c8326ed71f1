// Insertion into and deletion from the record chain, and the replacement of the selection that
// every edit goes through.

#include "core/editor/CustomCodeMemo.h"
#include "core/editor/LineBreaks.h"

#include <algorithm>
#include <cstring>

namespace morvane::editor {

namespace {
constexpr int kGroupReplace = 21;

std::uint32_t NewFlags(const char* text, std::size_t len) {
    std::uint32_t f = lfRepaint | lfStale;
    if (std::memchr(text, kTAB, len)) f |= lfHasTab;
    return f;
}

// Cuts text into records: at each CR (which stays with its line) and after maxLen characters,
// moved back so that no UTF-8 character is split between two records.
// The first record takes firstMark and firstExtra; each later one continues the line (mark
// kContinuation) when the record before it had no CR.
std::vector<TNewRec> CutRecords(std::string_view text, std::size_t maxLen, std::uint16_t firstMark,
                                std::uint32_t firstExtra) {
    std::vector<TNewRec> recs;
    recs.reserve(text.size() / 40 + 1);
    std::size_t i = 0;
    bool continues = false;
    while (i < text.size()) {
        std::size_t span = std::min(maxLen, text.size() - i);
        auto* cr = static_cast<const char*>(std::memchr(text.data() + i, kCR, span));
        std::size_t len = cr ? static_cast<std::size_t>(cr - (text.data() + i)) + 1
                             : SafeCut(text.substr(i), span);
        std::uint16_t mark = recs.empty() ? firstMark : (continues ? kContinuation : 0);
        recs.push_back({text.data() + i, static_cast<std::uint16_t>(len), mark,
                        NewFlags(text.data() + i, len), recs.empty() ? firstExtra : 0});
        continues = !cr;
        i += len;
    }
    return recs;
}
} // namespace

void TCustomCodeMemo::ReplaceSel(std::string_view text, bool repaint) {
    ReplaceSelStored(NormaliseLineBreaks(text), repaint);
}

void TCustomCodeMemo::ReplaceSelStored(std::string stored, bool repaint) {
    bool group = undo_.BeginGroup(kGroupReplace, anchor_, caret_);
    if (virtualColumn_ >= 0 && anchor_ == caret_) {
        // Typing beyond the line's end fills the gap up to the caret.
        auto where = store_->Locate(caret_);
        stored.insert(0, FillText(LineEndColumn(where.rec), virtualColumn_));
    }
    virtualColumn_ = -1;
    TextOffset from = SelStart(), to = std::max(anchor_, caret_);
    bool record = undo_.recording && !undo_.replaying && !loading_;
    if (record) {
        try {
            undo_.BeginTransaction(TUndoStack::kTransactionCode, anchor_, caret_,
                                   RangeText(from, to, tfStored), stored);
        } catch (const ECodeMemo&) {
            undo_.Discard();
            Beep();
            throw;
        }
    }
    try {
        DeleteRange(from, to);
        InsertStored(from, stored);
    } catch (...) {
        // The log stays usable: the failed replacement is simply not recorded.
        if (record) undo_.AbandonTransaction();
        if (group) undo_.EndGroup(kGroupReplace, anchor_, caret_);
        throw;
    }
    anchor_ = caret_ = from + static_cast<TextOffset>(stored.size());
    // Removing a character can join the stray bytes around it into one: the caret stays
    // outside it.
    if (stored.empty()) anchor_ = caret_ = CharStartAt(caret_);
    changeBits_ |= cbSelection;
    if (record) {
        try {
            undo_.EndTransaction(TUndoStack::kTransactionCode, anchor_, caret_);
        } catch (const ECodeMemo&) {
            undo_.Discard();
            Beep();
            throw;
        }
    }
    if (group) undo_.EndGroup(kGroupReplace, anchor_, caret_);
    if (!loading_) {
        desiredColumn_ = ColumnAt(caret_);
        ScrollToCaret();
    }
    if (repaint) Invalidate();
    NotifyChange(); // waits for the end of an update that is running
}

void TCustomCodeMemo::ReplaceSelFromStream(TStream& stream) {
    const TextOffset anchorBefore = anchor_, caretBefore = caret_;
    const TextOffset from = SelStart(), to = std::max(anchor_, caret_);
    const bool record = undo_.recording && !undo_.replaying && !loading_;
    std::string oldText = record ? RangeText(from, to, tfStored) : std::string();
    virtualColumn_ = -1;
    // Logged as one replacement, also when the stream fails midway: the log must describe
    // whatever reached the text.
    auto log = [&] {
        if (record)
            undo_.PushTransaction(anchorBefore, caretBefore, std::move(oldText),
                                  RangeText(from, caret_, tfStored), caret_, caret_);
        else if (!loading_ && !undo_.replaying)
            undo_.Discard();
    };
    DeleteRange(from, to);
    anchor_ = caret_ = from;
    try {
        LoadBlocks(stream);
    } catch (...) {
        log();
        throw;
    }
    log();
    changeBits_ |= cbSelection;
    ScrollToCaret();
    Invalidate();
}

void TCustomCodeMemo::InsertText(TextOffset at, std::string_view raw) {
    InsertStored(at, NormaliseLineBreaks(raw));
}

void TCustomCodeMemo::InsertStored(TextOffset at, std::string_view stored) {
    if (stored.empty()) return;
    at = std::clamp<TextOffset>(at, 0, TextLength());
    auto where = store_->Locate(at);
    // Typing one character (up to four bytes) into an existing record changes it in place.
    if (stored.size() <= 4 && stored.find(kCR) == std::string_view::npos &&
        where.rec < LineCount()) {
        store_->ReplaceInRecord(where.rec, static_cast<std::size_t>(at - where.start), 0, stored);
        TLineRec& r = store_->Rec(where.rec);
        r.flags = (r.flags & ~lfHasAttrs) | lfRepaint | lfStale |
                  (stored.find(kTAB) != std::string_view::npos ? lfHasTab : 0);
        longestLine_ = std::max<int>(longestLine_, r.length);
        AfterInsert(at, static_cast<TextOffset>(stored.size()), where.rec, where.rec);
        return;
    }
    if (at == TextLength()) {
        AppendStored(stored);
        return;
    }
    // Pieces of kLoadBlock characters; a piece never ends just before a CR would be cut off.
    RecIndex first = -1, last = -1;
    TextOffset pos = at;
    for (std::size_t i = 0; i < stored.size();) {
        std::size_t n = std::min<std::size_t>(kLoadBlock, stored.size() - i);
        if (n == static_cast<std::size_t>(kLoadBlock) && stored[i + n - 1] == kCR && n > 1) --n;
        RecIndex f, l;
        InsertPiece(pos, stored.substr(i, n), f, l);
        if (first < 0) first = f;
        last = l;
        pos += static_cast<TextOffset>(n);
        i += n;
    }
    AfterInsert(at, static_cast<TextOffset>(stored.size()), first, last);
}

// Text after the end (every piece of a load) goes straight into the chain's last blocks.
void TCustomCodeMemo::AppendStored(std::string_view stored) {
    const TextOffset at = TextLength();
    const TTextStore::Appended added = store_->AppendStored(stored, kMaxInsertRecord);
    longestLine_ = std::max(longestLine_, added.longest);
    AfterInsert(at, static_cast<TextOffset>(stored.size()), added.first, added.last);
}

// The record at the offset is split there; before + piece + after are cut into new records.
void TCustomCodeMemo::InsertPiece(TextOffset at, std::string_view piece, RecIndex& first,
                                  RecIndex& last) {
    auto where = store_->Locate(at);
    std::string joined;
    std::uint16_t mark = 0;
    std::uint32_t extra = 0;
    RecIndex remove = 0;
    if (where.rec < LineCount()) {
        std::string_view old = store_->Text(where.rec);
        auto k = static_cast<std::size_t>(at - where.start);
        joined.reserve(old.size() + piece.size());
        joined.append(old.substr(0, k)).append(piece).append(old.substr(k));
        mark = store_->Rec(where.rec).mark;
        extra = store_->TakeExtra(where.rec);
        remove = 1;
    } else {
        joined.assign(piece); // no record to take metadata from
    }
    auto recs = CutRecords(joined, kMaxInsertRecord, mark, extra);
    for (auto& r : recs)
        longestLine_ = std::max<int>(longestLine_, r.length);
    store_->Splice(where.rec, remove, recs.data(), recs.size());
    first = where.rec;
    last = where.rec + static_cast<RecIndex>(recs.size()) - 1;
}

void TCustomCodeMemo::AfterInsert(TextOffset at, TextOffset length, RecIndex first, RecIndex last) {
    customBookmarks_.textInserted(at, length);
    if (marks_)
        marks_->TextInserted(at, length, [this](const TPositionMark& m) {
            if (OnMarkChange) OnMarkChange(this, m.value);
        });
    FlagRange(first, first + VisibleRows() + 1, lfStale);
    dirty_ = dirty_ < 0 ? first : std::min(dirty_, first);
    ShiftTop(at, length);
    TextChanged(at, length);
    if (longestLine_ > kMaxInsertRecord || (options_ & smoWordWrap)) Rewrap(first, last);
}

void TCustomCodeMemo::DeleteRange(TextOffset from, TextOffset to) {
    from = std::clamp<TextOffset>(from, 0, TextLength());
    to = std::clamp<TextOffset>(to, 0, TextLength());
    if (from >= to) return;
    TextOffset len = to - from;
    customBookmarks_.textDeleted(from, to);
    if (marks_)
        marks_->TextDeleted(
            from, to,
            [this](const TPositionMark& m) {
                if (OnMarkChange) OnMarkChange(this, m.value);
            },
            [this](const TPositionMark& m) {
                if (OnMarkFree) OnMarkFree(this, m.value);
            });

    auto head = store_->Locate(from);
    if (head.rec < LineCount()) {
        // Inside one record, short of its last character: the record shrinks in place, which
        // keeps undoing a block indent of many lines cheap.
        TextOffset recEnd = head.start + store_->Rec(head.rec).length;
        if (to < recEnd) {
            bool wasLongest = store_->Rec(head.rec).length >= longestLine_;
            store_->ReplaceInRecord(head.rec, static_cast<std::size_t>(from - head.start),
                                    static_cast<std::size_t>(len), {});
            TLineRec& r = store_->Rec(head.rec);
            r.flags = (r.flags & ~lfHasAttrs) | lfRepaint | lfStale;
            if (wasLongest) longestLine_ = store_->MaxRecordLength();
            FlagRange(head.rec, head.rec + VisibleRows() + 1, lfStale);
            dirty_ = dirty_ < 0 ? head.rec : std::min(dirty_, head.rec);
            ShiftTop(from, -len);
            TextChanged(from, -len);
            if (longestLine_ > kMaxInsertRecord || (options_ & smoWordWrap))
                Rewrap(head.rec, head.rec);
            return;
        }
    }
    auto tail = store_->Locate(to); // the record where the text after the range begins
    bool tailExists = to < TextLength() && tail.rec < LineCount();
    RecIndex lastRemoved = tailExists ? tail.rec : LineCount() - 1;
    bool touchedLongest = false;
    std::string joined(
        store_->Text(head.rec).substr(0, static_cast<std::size_t>(from - head.start)));
    if (tailExists)
        joined.append(store_->Text(tail.rec).substr(static_cast<std::size_t>(to - tail.start)));
    if (from == 0 && to == TextLength()) {
        touchedLongest = true;
    } else {
        TTextStore::Cursor c = store_->CursorAt(head.rec);
        for (; !store_->AtEnd(c) && c.rec <= lastRemoved && !touchedLongest; store_->Next(c))
            touchedLongest = store_->Rec(c).length >= longestLine_;
    }
    RecIndex removeCount = lastRemoved - head.rec + 1;
    if (joined.empty()) {
        store_->Splice(head.rec, removeCount, nullptr, 0);
    } else {
        TLineRec& h = store_->Rec(head.rec);
        std::uint16_t mark = h.mark;
        std::uint32_t extra = store_->TakeExtra(head.rec);
        std::uint32_t flags =
            lfRepaint | lfStale | (std::memchr(joined.data(), kTAB, joined.size()) ? lfHasTab : 0);
        TNewRec rec{joined.data(), static_cast<std::uint16_t>(joined.size()), mark, flags, extra};
        store_->Splice(head.rec, removeCount, &rec, 1);
        longestLine_ = std::max<int>(longestLine_, rec.length);
    }
    if (store_->Empty()) {
        anchor_ = caret_ = 0;
        topLine_ = 0;
        topOffset_ = 0;
        longestLine_ = 0;
        bookmarkColumns_.fill(0);
        customBookmarks_.clear();
        dirty_ = -1;
        TextChanged(0, 0);
        return;
    }
    if (touchedLongest) longestLine_ = store_->MaxRecordLength();
    RecIndex changed = std::min(head.rec, LineCount() - 1);
    FlagRange(changed, changed + VisibleRows() + 1, lfStale);
    dirty_ = dirty_ < 0 ? changed : std::min(dirty_, changed);
    ShiftTop(from, -len);
    TextChanged(from, -len);
    if (longestLine_ > kMaxInsertRecord || (options_ & smoWordWrap)) Rewrap(changed, changed);
}

// Keeps records within the re-wrap limit after an edit of records first..last: a record
// longer than kMaxWrapRecord is cut into pieces of that size, and a physical line that fits
// into one record again is joined into one. Both steps look at a bounded number of
// characters, so typing in a line of many megabytes does not re-cut the whole line.
void TCustomCodeMemo::Rewrap(RecIndex first, RecIndex last) {
    if (store_->Empty()) return;
    if (options_ & smoWordWrap) {
        RewrapLines(first, last, true);
        return;
    }
    RecIndex count0 = LineCount();
    first = std::clamp<RecIndex>(first, 0, count0 - 1);
    last = std::clamp<RecIndex>(last, first, count0 - 1);
    for (RecIndex r = first; r <= last && r < LineCount(); ++r) {
        if (store_->Rec(r).length > kMaxWrapRecord) {
            std::string text(store_->Text(r));
            std::uint16_t mark = store_->Rec(r).mark;
            std::uint32_t extra = store_->TakeExtra(r);
            auto recs = CutRecords(text, kMaxWrapRecord, mark, extra);
            store_->Splice(r, 1, recs.data(), recs.size());
            ForgetLineNumbers(r);
            RecIndex added = static_cast<RecIndex>(recs.size()) - 1;
            last += added;
            r += added;
            continue;
        }
        // A physical line shorter than the limit but spread over several records.
        RecIndex a = r, e = r;
        TextOffset total = store_->Rec(r).length;
        while (a > 0 && (store_->Rec(a).mark & kContinuation) && total < kMaxWrapRecord)
            total += store_->Rec(--a).length;
        while (e + 1 < LineCount() && (store_->Rec(e + 1).mark & kContinuation) &&
               total < kMaxWrapRecord)
            total += store_->Rec(++e).length;
        bool wholeLine = !(store_->Rec(a).mark & kContinuation) &&
                         (e + 1 >= LineCount() || !(store_->Rec(e + 1).mark & kContinuation));
        if (a == e || total >= kMaxWrapRecord || !wholeLine) continue;
        std::string joined;
        for (RecIndex i = a; i <= e; ++i)
            joined.append(store_->Text(i));
        std::uint16_t mark = store_->Rec(a).mark;
        std::uint32_t extra = store_->TakeExtra(a);
        TNewRec one{joined.data(), static_cast<std::uint16_t>(joined.size()), mark,
                    NewFlags(joined.data(), joined.size()), extra};
        store_->Splice(a, e - a + 1, &one, 1);
        ForgetLineNumbers(a);
        last -= e - a;
        r = a;
    }
    if (LineCount() != count0) {
        FlagRange(last + 1, last + VisibleRows() + 1, lfStale);
        ShiftTop(TextLength(), 0);
        if (view_) view_->UpdateScrollBars();
    }
}

void TCustomCodeMemo::ShiftTop(TextOffset at, TextOffset extent) {
    if (at < topOffset_) topOffset_ = std::max(at, topOffset_ + extent);
    if (store_->Empty()) {
        topLine_ = 0;
        topOffset_ = 0;
        return;
    }
    auto where = store_->Locate(topOffset_);
    topLine_ = std::min<RecIndex>(where.rec, LineCount() - 1);
    topOffset_ = store_->Start(topLine_);
}

void TCustomCodeMemo::TextChanged(TextOffset start, TextOffset extent) {
    changeBits_ |= cbText;
    MoveColumnMark(start, extent);
    MoveWrapPending(start, extent);
    ForgetLineNumbers(store_->Empty() ? 0 : LineFromOffset(start));
    TextEdited(start, extent);
    for (TCustomCodeMemo* other : store_->Controls())
        if (other != this) other->SharedTextChanged(start, extent);
    if (OnTextChange) OnTextChange(this, start, extent);
}

// Another control changed the chain this one shows: positions follow as for an own edit.
void TCustomCodeMemo::SharedTextChanged(TextOffset start, TextOffset extent) {
    MoveColumnMark(start, extent);
    TextOffset end = start - extent;
    auto move = [&](TextOffset p) {
        if (extent >= 0) return p >= start ? p + extent : p;
        return p >= end ? p + extent : p > start ? start : p;
    };
    TextOffset len = TextLength();
    anchor_ = std::clamp<TextOffset>(move(anchor_), 0, len);
    caret_ = std::clamp<TextOffset>(move(caret_), 0, len);
    if (extent > 0)
        customBookmarks_.textInserted(start, extent);
    else if (extent < 0)
        customBookmarks_.textDeleted(start, end);
    if (len == 0) customBookmarks_.clear();
    if (marks_) {
        if (extent > 0)
            marks_->TextInserted(start, extent, {});
        else if (extent < 0)
            marks_->TextDeleted(start, end, {}, {});
    }
    ShiftTop(start, extent);
    MoveWrapPending(start, extent);
    ForgetLineNumbers(0);
    dirty_ = -1;
    TextEdited(start, extent);
    changeBits_ |= cbText;
    Invalidate();
    if (OnTextChange) OnTextChange(this, start, extent);
}

} // namespace morvane::editor
