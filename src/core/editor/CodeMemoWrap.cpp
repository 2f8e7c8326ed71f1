// Word wrap: a physical line is held as several records, each continuation marked in its mark
// word. Lines are re-cut after edits, option changes and width changes.

#include "core/editor/CustomCodeMemo.h"

#include <algorithm>
#include <cstring>

namespace morvane::editor {

namespace {
bool IsBreak(char c) {
    auto u = static_cast<unsigned char>(c);
    return u <= 32 || u == 160;
}

// The text of a physical line's records from rd on, with their attributes (zeros where a record
// has none), read until buf holds `need` bytes or the line ends; true once it has ended.
struct LineReader {
    std::string buf, attrs;
    std::vector<std::size_t> starts; // where each record read begins in buf
    bool anyAttrs = false;

    bool Read(const TTextStore& store, TTextStore::Cursor& rd, std::size_t need) {
        while (buf.size() < need) {
            std::string_view t = store.Text(rd);
            starts.push_back(buf.size());
            buf.append(t);
            if (const std::uint8_t* at = store.Attrs(rd)) {
                anyAttrs = true;
                attrs.append(reinterpret_cast<const char*>(at), t.size());
            } else {
                attrs.append(t.size(), '\0');
            }
            bool cr = !t.empty() && t.back() == kCR;
            if (!store.Next(rd) || cr || !(store.Rec(rd).mark & kContinuation)) return true;
        }
        return false;
    }
    void Clear() {
        buf.clear();
        attrs.clear();
        starts.clear();
        anyAttrs = false;
    }
};
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

bool TCustomCodeMemo::WrapOverrideActive() const {
    return (options_ & smoWrapOverride) && !wrapOverride_.empty();
}

// Where the piece starting at buf[start] ends. buf holds the line from some point on, at least
// kMaxWrapRecord + 2 characters past start or up to the line's end (complete): a piece's cut
// never looks further, so cutting a window equals cutting the whole line.
std::size_t TCustomCodeMemo::CutPiece(std::string_view buf, std::size_t start, bool complete,
                                      bool wrap) const {
    const std::size_t n = buf.size();
    if (!wrap) return SafeCut(buf, std::min(n, start + kMaxWrapRecord));
    const std::size_t visible = (complete && n > 0 && buf.back() == kCR) ? n - 1 : n;
    const int width = WrapWidth();
    const bool fixed = metrics_->FixedPitch();
    const long pixelLimit = static_cast<long>(width) * std::max(1, metrics_->CharWidth());
    const std::size_t maxCut = start + kMaxWrapRecord;
    std::size_t cut = start;
    const std::size_t span = std::min(visible, maxCut + 1) - std::min(visible, start);
    const bool tabs = std::memchr(buf.data() + start, kTAB, span) != nullptr;
    const TTextEncoding enc = store_->Encoding();
    // In UTF-8 a character may take several bytes and two cells; other encodings and ASCII
    // text take one byte and one cell a character.
    const bool bytesAreCells =
        enc != TTextEncoding::teUTF8 || IsAscii(buf.substr(std::min(visible, start), span));
    if (fixed && !tabs && bytesAreCells) {
        cut = std::min(visible, start + static_cast<std::size_t>(width));
    } else if (fixed) {
        DisplayColumn col = 0, limit = tabs ? std::max(1, width - tabDefault_) : width;
        while (cut < visible && cut < maxCut) {
            TCharInfo ch = DecodeChar(enc, buf, cut);
            DisplayColumn next = buf[cut] == kTAB ? NextTabStop(col) : col + CellWidth(ch);
            if (tabs ? col >= limit : next > limit) break;
            col = next;
            cut += ch.length;
        }
    } else {
        long px = 0;
        DisplayColumn col = 0;
        while (cut < visible && cut <= maxCut) {
            char c = buf[cut];
            TCharInfo ch = DecodeChar(enc, buf, cut);
            DisplayColumn next = c == kTAB ? NextTabStop(col) : col + CellWidth(ch);
            long w = c == kTAB ? (next - col) * static_cast<long>(metrics_->CharPixels(' '))
                     : ch.length > 1 || !ch.valid
                         ? CellWidth(ch) * static_cast<long>(metrics_->CharWidth())
                         : metrics_->CharPixels(static_cast<unsigned char>(c));
            if (px + w > pixelLimit && cut > start) break;
            px += w;
            col = next;
            cut += ch.length;
        }
    }
    cut = std::min(cut, maxCut);
    if (cut >= visible) {
        // The rest of the line, its CR included, fits into this piece.
        if (n - start <= static_cast<std::size_t>(kMaxWrapRecord)) return n;
        return SafeCut(buf, std::min(visible, maxCut));
    }
    // Byte 160 is a no-break space in the single-byte encodings, a continuation byte in UTF-8.
    const bool nbsp = enc != TTextEncoding::teUTF8;
    auto isBreak = [&](char c) { return IsBreak(c) && (nbsp || c != '\xA0'); };
    if (OnWordBreakProc) {
        std::size_t c = OnWordBreakProc(const_cast<TCustomCodeMemo*>(this), buf, start, cut);
        if (c > start && c <= std::min(n, maxCut)) cut = c;
    } else if (isBreak(buf[cut])) {
        // Blanks at the cut stay at the end of this piece.
        while (cut < n && cut < maxCut && isBreak(buf[cut]))
            ++cut;
    } else {
        std::size_t k = cut;
        while (k > start && !isBreak(buf[k - 1]))
            --k;
        if (k > start) cut = k;
    }
    std::size_t safe = SafeCut(buf, cut);
    return safe > start ? safe : cut;
}

// Re-cuts the physical line holding record first. With edited set, records first..edited were
// edited and the line's other records still hold the cuts they had: the re-cut starts at the
// last piece whose cut cannot see the edit and stops where a new cut meets the start of an
// unedited record after the edit, as everything after it is cut as before. Otherwise (the wrap
// width or options changed, a word-break handler or the wrap override decides) the whole line
// is cut. On return first and last are the records the re-cut took. True when records changed.
bool TCustomCodeMemo::WrapPhysicalLine(RecIndex& first, RecIndex& last, RecIndex edited) {
    const bool wrap = (options_ & smoWordWrap) != 0;
    const RecIndex count = LineCount();
    // Most lines fit into one record as they are: no copies for them.
    {
        const TLineRec& r = store_->Rec(first);
        if (!(r.mark & kContinuation) &&
            (first + 1 >= count || !(store_->Rec(first + 1).mark & kContinuation))) {
            std::string_view t = store_->Text(first);
            bool wrapLine = wrap && !(WrapOverrideActive() && !t.empty() &&
                                      wrapOverride_.find(t[0]) != std::string::npos);
            if (CutPiece(t, 0, true, wrapLine) == t.size()) {
                store_->Rec(first).flags |= lfRepaint;
                last = first;
                return false;
            }
        }
    }
    const bool local = edited >= first && !OnWordBreakProc && !WrapOverrideActive();
    // Where to start: the line's first record, or locally the last piece before the edit
    // whose cut looks at no edited character.
    TTextStore::Cursor c = store_->CursorAt(first);
    const TextOffset editStart = c.start;
    while (c.rec > 0 && (store_->Rec(c).mark & kContinuation) &&
           (!local || editStart - c.start <= kMaxWrapRecord + 1))
        store_->Prev(c);
    const RecIndex p = c.rec;
    // A word-break handler is handed the whole line; everything else cuts it batch by batch.
    if (!local && !OnWordBreakProc) return WrapWholeLine(p, first, last);

    LineReader line;
    std::string& buf = line.buf;
    std::string& attrs = line.attrs;
    std::vector<std::size_t>& oldStarts = line.starts;
    bool complete = false;
    TTextStore::Cursor rd = c;
    auto fill = [&](std::size_t need) {
        if (!complete) complete = line.Read(*store_, rd, need);
    };
    const std::size_t need = kMaxWrapRecord + 2;
    fill(local ? need : SIZE_MAX);
    const bool wrapLine = wrap && !(WrapOverrideActive() && !buf.empty() &&
                                    wrapOverride_.find(buf[0]) != std::string::npos);
    std::vector<std::size_t> ends;
    std::size_t pos = 0, j = 0;
    RecIndex stopRec = -1; // the unedited record where the new cuts meet the old ones
    while (pos < buf.size()) {
        fill(pos + need);
        pos = CutPiece(buf, pos, complete, wrapLine);
        ends.push_back(pos);
        if (!local || pos >= buf.size()) continue;
        while (j < oldStarts.size() && oldStarts[j] < pos)
            ++j;
        if (j < oldStarts.size() && oldStarts[j] == pos && p + static_cast<RecIndex>(j) > edited) {
            stopRec = p + static_cast<RecIndex>(j);
            break;
        }
    }
    const RecIndex oldEnd = stopRec >= 0 ? stopRec : p + static_cast<RecIndex>(oldStarts.size());
    // Leading pieces that are unedited records cut as before stay as they are.
    std::size_t keep = 0;
    for (std::size_t from = 0; keep < ends.size() && keep + 1 < oldStarts.size() &&
                               p + static_cast<RecIndex>(keep) < std::min(first, oldEnd) &&
                               oldStarts[keep] == from && oldStarts[keep + 1] == ends[keep];
         from = ends[keep++]) {
    }
    bool same = ends.size() == static_cast<std::size_t>(oldEnd - p);
    for (std::size_t i = 0, from = 0; same && i < ends.size(); from = ends[i++])
        same = oldStarts[i] == from &&
               (i + 1 == oldStarts.size() ? buf.size() : oldStarts[i + 1]) == ends[i];
    if (same) {
        FlagRange(p, oldEnd - 1, lfRepaint);
        first = p;
        last = oldEnd - 1;
        return false;
    }
    const RecIndex a = p + static_cast<RecIndex>(keep);
    const std::size_t from0 = keep == 0 ? 0 : ends[keep - 1];
    std::vector<TNewRec> recs;
    recs.reserve(ends.size() - keep);
    std::uint16_t mark = store_->Rec(a).mark;
    std::uint32_t extra = store_->TakeExtra(a);
    for (std::size_t i = keep, from = from0; i < ends.size(); from = ends[i++]) {
        const char* q = buf.data() + from;
        std::size_t len = ends[i] - from;
        longestLine_ = std::max<int>(longestLine_, static_cast<int>(len));
        std::uint32_t flags = lfRepaint | lfStale | (std::memchr(q, kTAB, len) ? lfHasTab : 0);
        recs.push_back({q, static_cast<std::uint16_t>(len), i == keep ? mark : kContinuation, flags,
                        i == keep ? extra : 0u});
    }
    store_->Splice(a, oldEnd - a, recs.data(), recs.size());
    if (line.anyAttrs)
        for (std::size_t i = keep, from = from0; i < ends.size(); from = ends[i++])
            store_->SetAttrs(a + static_cast<RecIndex>(i - keep),
                             reinterpret_cast<const std::uint8_t*>(attrs.data()) + from);
    ForgetLineNumbers(a);
    if (dirty_ < 0 || dirty_ > a) dirty_ = a;
    first = a;
    last = a + static_cast<RecIndex>(recs.size()) - 1;
    return true;
}

// Cuts the whole physical line from its first record p in batches of about kWrapBatch
// characters: a batch's records are replaced by its pieces and by one record holding the text
// after its last cut (less than a piece's look-ahead), which the next batch starts with. A line
// of gigabytes thus needs memory for one batch, and a batch cut as before stays untouched.
bool TCustomCodeMemo::WrapWholeLine(RecIndex p, RecIndex& first, RecIndex& last) {
    constexpr std::size_t kWrapBatch = 1 << 20;
    const std::size_t need = kMaxWrapRecord + 2;
    const std::string_view head = store_->Text(p);
    const bool wrapLine =
        (options_ & smoWordWrap) && !(WrapOverrideActive() && !head.empty() &&
                                      wrapOverride_.find(head[0]) != std::string::npos);
    LineReader line;
    const std::string& buf = line.buf;
    const std::string& attrs = line.attrs;
    const std::vector<std::size_t>& oldStarts = line.starts;
    std::vector<std::size_t> ends;
    std::vector<TNewRec> recs;
    bool changed = false;
    RecIndex r = p; // the first record not cut yet
    for (bool complete = false; !complete;) {
        line.Clear();
        ends.clear();
        TTextStore::Cursor rd = store_->CursorAt(r);
        complete = line.Read(*store_, rd, kWrapBatch);
        std::size_t pos = 0;
        while (pos < buf.size() && (complete || buf.size() - pos >= need)) {
            pos = CutPiece(buf, pos, complete, wrapLine);
            ends.push_back(pos);
        }
        const std::size_t k = ends.size();
        bool same = k <= oldStarts.size();
        for (std::size_t i = 0; same && i < k; ++i)
            same = (i + 1 < oldStarts.size() ? oldStarts[i + 1] : buf.size()) == ends[i];
        if (same) {
            FlagRange(r, r + static_cast<RecIndex>(k) - 1, lfRepaint);
            r += static_cast<RecIndex>(k);
            continue;
        }
        recs.clear();
        std::uint16_t mark = store_->Rec(r).mark;
        std::uint32_t extra = store_->TakeExtra(r);
        auto add = [&](std::size_t from, std::size_t to, bool piece) {
            const char* q = buf.data() + from;
            std::size_t len = to - from;
            if (piece) longestLine_ = std::max<int>(longestLine_, static_cast<int>(len));
            std::uint32_t flags = lfRepaint | lfStale | (std::memchr(q, kTAB, len) ? lfHasTab : 0);
            recs.push_back({q, static_cast<std::uint16_t>(len), recs.empty() ? mark : kContinuation,
                            flags, recs.empty() ? extra : 0u});
        };
        for (std::size_t i = 0, from = 0; i < k; from = ends[i++])
            add(from, ends[i], true);
        if (pos < buf.size()) add(pos, buf.size(), false);
        store_->Splice(r, static_cast<RecIndex>(oldStarts.size()), recs.data(), recs.size());
        if (line.anyAttrs)
            for (std::size_t i = 0, from = 0; i < recs.size(); from += recs[i++].length)
                store_->SetAttrs(r + static_cast<RecIndex>(i),
                                 reinterpret_cast<const std::uint8_t*>(attrs.data()) + from);
        if (!changed) {
            ForgetLineNumbers(r);
            if (dirty_ < 0 || dirty_ > r) dirty_ = r;
            changed = true;
        }
        r += static_cast<RecIndex>(k);
    }
    first = p;
    last = std::max(p, r - 1);
    return changed;
}

void TCustomCodeMemo::RewrapLines(RecIndex first, RecIndex last, bool edited) {
    if (store_->Empty()) return;
    const RecIndex count0 = LineCount();
    first = std::clamp<RecIndex>(first, 0, count0 - 1);
    last = std::clamp<RecIndex>(last, first, count0 - 1);
    RecIndex r = first;
    while (r < LineCount() && r <= last) {
        RecIndex before = LineCount();
        RecIndex a = r, e = r;
        RecIndex localFrom = edited ? last : -1;
        if (!wrapPending_.empty()) {
            // A line that still holds old cuts is cut whole, and is then up to date.
            LineSpan line = LineSpanOf(r);
            if (WrapPendingIn(line.start, line.end)) {
                localFrom = -1;
                WrapDone(line.start, line.end);
            }
        }
        WrapPhysicalLine(a, e, localFrom);
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
    if (view_ && view_->DefersWrap()) {
        // The rows in view now, the rest in idle steps: a 100 MB file re-wraps without the
        // window stopping. Until then the scroll range counts the old cuts.
        wrapPending_.assign(1, {0, TextLength()});
        EnsureRowsWrapped(store_->Start(topLine_), VisibleRows() + 2);
        if (!wrapPending_.empty()) view_->ScheduleWrap();
    } else {
        wrapPending_.clear();
        RewrapLines(0, LineCount() - 1);
    }
    Invalidate();
}

TCustomCodeMemo::LineSpan TCustomCodeMemo::LineSpanOf(RecIndex rec) const {
    TTextStore::Cursor c = store_->CursorAt(rec);
    while (c.rec > 0 && (store_->Rec(c).mark & kContinuation))
        store_->Prev(c);
    LineSpan s{c.rec, rec, c.start, 0};
    c = store_->CursorAt(rec);
    for (;;) {
        s.last = c.rec;
        s.end = c.start + store_->Rec(c).length;
        if (!store_->Next(c) || !(store_->Rec(c).mark & kContinuation)) break;
    }
    return s;
}

bool TCustomCodeMemo::WrapPendingIn(TextOffset from, TextOffset to) const {
    for (const auto& [a, b] : wrapPending_)
        if (a < to && from < b) return true;
    return false;
}

void TCustomCodeMemo::WrapDone(TextOffset from, TextOffset to) {
    std::vector<std::pair<TextOffset, TextOffset>> left;
    left.reserve(wrapPending_.size() + 1);
    for (const auto& [a, b] : wrapPending_) {
        if (a < from) left.push_back({a, std::min(b, from)});
        if (b > to) left.push_back({std::max(a, to), b});
    }
    wrapPending_ = std::move(left);
}

// Pending ranges follow an edit like any other offsets; text inserted inside a range joins it.
void TCustomCodeMemo::MoveWrapPending(TextOffset start, TextOffset extent) {
    if (wrapPending_.empty()) return;
    const TextOffset end = start - extent;
    auto move = [&](TextOffset p) {
        if (extent >= 0) return p > start ? p + extent : p;
        return p >= end ? p + extent : p > start ? start : p;
    };
    std::vector<std::pair<TextOffset, TextOffset>> kept;
    for (auto [a, b] : wrapPending_) {
        a = move(a);
        b = move(b);
        if (a < b) kept.push_back({a, b});
    }
    wrapPending_ = std::move(kept);
}

void TCustomCodeMemo::AfterWrapStep(RecIndex count0) {
    if (LineCount() == count0) return;
    ShiftTop(TextLength(), 0);
    changeBits_ |= cbOptions;
    if (view_) view_->UpdateScrollBars();
}

void TCustomCodeMemo::EnsureRowsWrapped(TextOffset from, int rows) {
    if (wrapPending_.empty() || store_->Empty()) return;
    const RecIndex count0 = LineCount();
    TextOffset off = std::clamp<TextOffset>(from, 0, TextLength());
    for (int done = 0; done < rows && off < TextLength();) {
        LineSpan line = LineSpanOf(LineFromOffset(off));
        if (WrapPendingIn(line.start, line.end)) {
            WrapDone(line.start, line.end);
            RecIndex a = line.first, e = line.last;
            WrapPhysicalLine(a, e, -1);
            line.last = e;
        }
        done += static_cast<int>(line.last - LineFromOffset(off) + 1);
        off = line.end;
    }
    AfterWrapStep(count0);
}

bool TCustomCodeMemo::ContinueWrap(RecIndex maxRecords) {
    if (store_->Empty()) wrapPending_.clear();
    if (wrapPending_.empty()) return false;
    const RecIndex count0 = LineCount();
    for (RecIndex done = 0; done < maxRecords && !wrapPending_.empty();) {
        if (wrapPending_.front().first >= TextLength()) {
            wrapPending_.clear();
            break;
        }
        // Lines one after the other, without looking each up again.
        RecIndex r = LineSpanOf(LineFromOffset(wrapPending_.front().first)).first;
        TextOffset start = store_->Start(r);
        const TextOffset to = wrapPending_.front().second;
        while (done < maxRecords && r < LineCount() && start < to) {
            RecIndex a = r, e = r;
            WrapPhysicalLine(a, e, -1);
            done += e - a + 1;
            r = e + 1;
            start = store_->Start(r);
        }
        WrapDone(0, start);
    }
    // Rows in view were cut already: no repaint, only the scroll range may move.
    AfterWrapStep(count0);
    return !wrapPending_.empty();
}

RecIndex TCustomCodeMemo::PhysicalLineNumber(RecIndex rec, bool remember) const {
    if (store_->Empty() || rec < 0) return 1;
    rec = std::min(rec, LineCount() - 1);
    // The records of the last line share its number: no walk over a last line of gigabytes.
    const RecIndex lastNumber = NumberedLines();
    if (lastNumber == 1) return 1;
    if (lineNoRec_ >= 0 && lineNoRec_ < LineCount() && lineNoRec_ <= rec &&
        lineNoValue_ == lastNumber)
        return lastNumber;
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
        if (remember) {
            lineNoRec_ = rec;
            lineNoValue_ = number;
        }
        return number;
    }
    TTextStore::Cursor c = store_->CursorAt(from);
    if (cached) store_->Next(c); // the remembered record is counted already
    for (; !store_->AtEnd(c) && c.rec <= rec; store_->Next(c))
        if (!(store_->Rec(c).mark & kContinuation) || c.rec == 0) ++number;
    if (remember) {
        lineNoRec_ = rec;
        lineNoValue_ = number;
    }
    return number;
}

void TCustomCodeMemo::ForgetLineNumbers(RecIndex from) {
    if (lineNoRec_ >= from) lineNoRec_ = -1;
}

} // namespace morvane::editor
