// Word wrap: a physical line is held as several records, each continuation marked in its mark
// word. Lines are re-cut after edits, option changes and width changes.

#include "editor/CustomCodeMemo.h"

#include <algorithm>
#include <cstring>

namespace morvane::editor {

namespace {
bool IsBreak(char c) {
    auto u = static_cast<unsigned char>(c);
    return u <= 32 || u == 160;
}
} // namespace

int TCustomCodeMemo::WrapWidth() const {
    int w = wrapAtColumn_ != 0 ? wrapAtColumn_ : VisibleColumns() - 4;
    return std::max(20, w);
}

void TCustomCodeMemo::SetWrapAtColumn(int value) {
    value = std::clamp(value, 0, 65535);
    if (value == wrapAtColumn_) return;
    wrapAtColumn_ = value;
    changeBits_ |= cbOptions;
    if (options_ & smoWordWrap) RewrapAll();
    Invalidate();
}

void TCustomCodeMemo::SetWrapOverride(std::string_view value) {
    if (value == wrapOverride_) return;
    wrapOverride_.assign(value);
    changeBits_ |= cbOptions;
    if ((options_ & smoWordWrap) && (options_ & smoWrapOverride)) RewrapAll();
    Invalidate();
}

// Piece ends (indexes just after each piece) for one physical line, its CR included.
std::vector<std::size_t> TCustomCodeMemo::CutLine(std::string_view line, bool wrap) const {
    std::vector<std::size_t> ends;
    const std::size_t n = line.size();
    if (wrap && (options_ & smoWrapOverride) && n > 0 &&
        wrapOverride_.find(line[0]) != std::string::npos)
        wrap = false;
    if (!wrap) {
        for (std::size_t at = 0; at < n; at += kMaxWrapRecord)
            ends.push_back(std::min(n, at + kMaxWrapRecord));
        return ends;
    }
    const std::size_t visible = (n > 0 && line.back() == kCR) ? n - 1 : n;
    const int width = WrapWidth();
    const bool fixed = metrics_->FixedPitch();
    const bool tabs = std::memchr(line.data(), kTAB, visible) != nullptr;
    const long pixelLimit = static_cast<long>(width) * std::max(1, metrics_->CharWidth());
    std::size_t start = 0;
    while (start < n) {
        std::size_t cut = start;
        if (fixed && !tabs) {
            cut = std::min(visible, start + static_cast<std::size_t>(width));
        } else if (fixed) {
            DisplayColumn col = 0, limit = std::max(1, width - tabDefault_);
            while (cut < visible && col < limit)
                col = line[cut++] == kTAB ? NextTabStop(col) : col + 1;
        } else {
            long px = 0;
            DisplayColumn col = 0;
            while (cut < visible) {
                char c = line[cut];
                DisplayColumn next = c == kTAB ? NextTabStop(col) : col + 1;
                long w = c == kTAB ? (next - col) * static_cast<long>(metrics_->CharPixels(' '))
                                   : metrics_->CharPixels(static_cast<unsigned char>(c));
                if (px + w > pixelLimit && cut > start) break;
                px += w;
                col = next;
                ++cut;
            }
        }
        const std::size_t maxCut = start + kMaxWrapRecord;
        cut = std::min(cut, maxCut);
        if (cut >= visible) {
            // The rest of the line, its CR included, fits into this piece.
            if (n - start <= static_cast<std::size_t>(kMaxWrapRecord)) {
                ends.push_back(n);
                break;
            }
            cut = std::min(visible, maxCut);
        } else if (OnWordBreakProc) {
            std::size_t c = OnWordBreakProc(const_cast<TCustomCodeMemo*>(this), line, start, cut);
            if (c > start && c <= std::min(n, maxCut)) cut = c;
        } else if (IsBreak(line[cut])) {
            // Blanks at the cut stay at the end of this piece.
            while (cut < n && cut < maxCut && IsBreak(line[cut]))
                ++cut;
        } else {
            std::size_t k = cut;
            while (k > start && !IsBreak(line[k - 1]))
                --k;
            if (k > start) cut = k;
        }
        ends.push_back(cut);
        start = cut;
    }
    return ends;
}

// Re-cuts the physical line holding record first; on return first and last are the records
// it now takes. True when its records changed.
bool TCustomCodeMemo::WrapPhysicalLine(RecIndex& first, RecIndex& last) {
    RecIndex a = first;
    while (a > 0 && (store_->Rec(a).mark & kContinuation))
        --a;
    RecIndex e = a;
    const RecIndex count = LineCount();
    while (e + 1 < count && (store_->Rec(e + 1).mark & kContinuation))
        ++e;
    bool wrap = (options_ & smoWordWrap) != 0;
    // Most lines fit into one record as they are: no copies for them.
    if (a == e && (!wrap ? store_->Rec(a).length <= kMaxWrapRecord
                         : CutLine(store_->Text(a), true).size() == 1)) {
        store_->Rec(a).flags |= lfRepaint;
        first = last = a;
        return false;
    }
    std::string line;
    std::string attrs;
    bool anyAttrs = false;
    for (RecIndex i = a; i <= e; ++i) {
        std::string_view t = store_->Text(i);
        line.append(t);
        if (const std::uint8_t* at = store_->Attrs(i)) {
            anyAttrs = true;
            attrs.append(reinterpret_cast<const char*>(at), t.size());
        } else {
            attrs.append(t.size(), '\0');
        }
    }
    std::vector<std::size_t> ends = CutLine(line, wrap);
    bool same = ends.size() == static_cast<std::size_t>(e - a + 1);
    for (std::size_t i = 0, from = 0; same && i < ends.size(); from = ends[i++])
        same = ends[i] - from == store_->Rec(a + static_cast<RecIndex>(i)).length;
    if (same) {
        FlagRange(a, e, lfRepaint);
        first = a;
        last = e;
        return false;
    }
    longestLine_ = std::max<int>(
        longestLine_, static_cast<int>(std::min<std::size_t>(line.size(), kMaxWrapRecord)));
    std::vector<TNewRec> recs;
    recs.reserve(ends.size());
    std::uint16_t mark = store_->Rec(a).mark & ~kContinuation;
    std::uint32_t extra = store_->TakeExtra(a);
    for (std::size_t i = 0, from = 0; i < ends.size(); from = ends[i++]) {
        const char* p = line.data() + from;
        std::size_t len = ends[i] - from;
        std::uint32_t flags = lfRepaint | lfStale | (std::memchr(p, kTAB, len) ? lfHasTab : 0);
        recs.push_back({p, static_cast<std::uint16_t>(len), i == 0 ? mark : kContinuation, flags,
                        i == 0 ? extra : 0u});
    }
    store_->Splice(a, e - a + 1, recs.data(), recs.size());
    if (anyAttrs)
        for (std::size_t i = 0, from = 0; i < ends.size(); from = ends[i++])
            store_->SetAttrs(a + static_cast<RecIndex>(i),
                             reinterpret_cast<const std::uint8_t*>(attrs.data()) + from);
    ForgetLineNumbers(a);
    if (dirty_ > a) dirty_ = a;
    first = a;
    last = a + static_cast<RecIndex>(ends.size()) - 1;
    return true;
}

void TCustomCodeMemo::RewrapLines(RecIndex first, RecIndex last) {
    if (store_->Empty()) return;
    const RecIndex count0 = LineCount();
    first = std::clamp<RecIndex>(first, 0, count0 - 1);
    last = std::clamp<RecIndex>(last, first, count0 - 1);
    RecIndex r = first;
    while (r < LineCount() && r <= last) {
        RecIndex before = LineCount();
        RecIndex a = r, e = r;
        WrapPhysicalLine(a, e);
        last += LineCount() - before;
        r = e + 1;
    }
    if (LineCount() != count0) {
        FlagRange(last + 1, last + VisibleRows() + 1, lfStale);
        ShiftTop(TextLength(), 0);
        changeBits_ |= cbOptions;
        if (view_) view_->UpdateScrollBars();
    }
}

void TCustomCodeMemo::RewrapAll() {
    if (store_->Empty()) return;
    RewrapLines(0, LineCount() - 1);
    Invalidate();
}

RecIndex TCustomCodeMemo::PhysicalLineNumber(RecIndex rec) const {
    if (store_->Empty() || rec < 0) return 1;
    rec = std::min(rec, LineCount() - 1);
    RecIndex from = 0, number = 0;
    bool cached = false;
    if (lineNoRec_ >= 0 && lineNoRec_ < LineCount() && lineNoRec_ <= rec) {
        from = lineNoRec_;
        number = lineNoValue_;
        cached = true;
    } else if (lineNoRec_ >= 0 && lineNoRec_ < LineCount() && rec < lineNoRec_ &&
               lineNoRec_ - rec < rec) {
        // Walking back from the remembered record is shorter.
        TTextStore::Cursor c = store_->CursorAt(lineNoRec_);
        number = lineNoValue_;
        while (c.rec > rec) {
            if (!(store_->Rec(c).mark & kContinuation)) --number;
            store_->Prev(c);
        }
        lineNoRec_ = rec;
        lineNoValue_ = number;
        return number;
    }
    TTextStore::Cursor c = store_->CursorAt(from);
    if (cached) store_->Next(c); // the remembered record is counted already
    for (; !store_->AtEnd(c) && c.rec <= rec; store_->Next(c))
        if (!(store_->Rec(c).mark & kContinuation) || c.rec == 0) ++number;
    lineNoRec_ = rec;
    lineNoValue_ = number;
    return number;
}

void TCustomCodeMemo::ForgetLineNumbers(RecIndex from) {
    if (lineNoRec_ >= from) lineNoRec_ = -1;
}

} // namespace morvane::editor
