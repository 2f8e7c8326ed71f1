#include "core/editor/TextStore.h"

#include "core/editor/ByteScan.h"
#include "core/editor/TextArena.h"

#include <algorithm>
#include <cassert>
#include <cstring>

namespace morvane::editor {

namespace {
// Blocks are filled to about kBlockTarget characters and split when an edit grows them past
// kBlockMax; in between, an insertion moves at most a block's worth of bytes.
constexpr std::size_t kBlockTarget = 56 * 1024;
constexpr std::size_t kBlockMax = 128 * 1024;
constexpr std::size_t kBlockMaxRecs = 8192;
constexpr std::size_t kBlockReserve = kBlockTarget + kLoadBlock + 4096;
// A load fills each block to this many characters, allocated once as an arena slot, and to at most
// kLoadRecs records.
constexpr std::size_t kLoadFill = text_arena::kSlotRequest - 1;
constexpr std::size_t kLoadRecs = kBlockMaxRecs / 2;
// One stored start per kStep records: a record's start is the anchor plus at most kStep - 1
// lengths, which costs less than keeping four bytes for every line.
constexpr std::size_t kStep = 32;

// Makes room for extra more characters. A string would double its buffer, and a load block is
// full to the last byte: the first keystroke in each block would take another 128 KB (and a fresh
// mapping from the system). It grows by an eighth instead.
void Room(TBlockText& text, std::size_t extra) {
    if (text.size() + extra <= text.capacity()) return;
    TBlockText bigger;
    bigger.reserve(text.size() + extra + text.size() / 8);
    bigger.append(text);
    text.swap(bigger);
}
} // namespace

struct TTextStore::Block {
    TBlockText text;   // the records' characters back to back
    std::string attrs; // empty, or one token byte per character of text
    std::vector<TLineRec> recs;
    // invariant: anchors[k] = offset in text of recs[k * kStep], for each such record
    std::vector<std::uint32_t> anchors;
    // The records with side data, ascending by index: (index in recs, 1-based side table slot).
    std::vector<std::pair<std::uint32_t, std::uint32_t>> side;
    mutable int maxLen = -1; // -1: to be recomputed

    std::uint32_t StartOf(std::size_t i) const {
        if (i >= recs.size()) return static_cast<std::uint32_t>(text.size());
        std::size_t j = i - i % kStep;
        std::uint32_t s = anchors[j / kStep];
        for (; j < i; ++j)
            s += recs[j].length;
        return s;
    }
    std::size_t End(std::size_t idx) const { return StartOf(idx); }
    // Renews the anchors after the records from `from` on changed; those before it did not.
    void Restart(std::size_t from) {
        maxLen = -1;
        const std::size_t known = anchors.size();
        anchors.resize((recs.size() + kStep - 1) / kStep);
        std::size_t k = from / kStep;
        if (k >= known) k = known ? known - 1 : 0;
        if (k >= anchors.size()) return;
        std::uint32_t s = k == 0 ? 0 : anchors[k];
        for (std::size_t j = k * kStep; j < recs.size(); ++j) {
            if (j % kStep == 0) anchors[j / kStep] = s;
            s += recs[j].length;
        }
    }
    // The index (in recs) of the record holding local offset off, off below text.size().
    std::size_t IndexAt(std::uint32_t off) const {
        auto it = std::upper_bound(anchors.begin(), anchors.end(), off);
        std::size_t j = static_cast<std::size_t>(it - anchors.begin() - 1) * kStep;
        std::uint32_t s = *(it - 1);
        while (j + 1 < recs.size() && s + recs[j].length <= off)
            s += recs[j++].length;
        return j;
    }
    using SideIt = std::vector<std::pair<std::uint32_t, std::uint32_t>>::iterator;
    SideIt SideFrom(std::size_t idx) {
        return std::lower_bound(side.begin(), side.end(), static_cast<std::uint32_t>(idx),
                                [](const auto& e, std::uint32_t i) { return e.first < i; });
    }
    int MaxLen() const {
        if (maxLen < 0) {
            maxLen = 0;
            for (auto& r : recs)
                maxLen = std::max<int>(maxLen, r.length);
        }
        return maxLen;
    }
};

TTextStore::TTextStore() = default;
TTextStore::~TTextStore() = default;

std::pair<std::size_t, std::size_t> TTextStore::Find(RecIndex rec) const {
    assert(rec >= 0 && rec < Count());
    auto hit = index_.FindRecord(rec);
    return {hit.block, static_cast<std::size_t>(rec - hit.firstRec)};
}

std::string_view TTextStore::Text(RecIndex rec) const {
    auto [b, i] = Find(rec);
    const Block& bl = *blocks_[b];
    return {bl.text.data() + bl.StartOf(i), bl.recs[i].length};
}

const TLineRec& TTextStore::Rec(RecIndex rec) const {
    auto [b, i] = Find(rec);
    return blocks_[b]->recs[i];
}

// Callers may change flags and mark word; the length is the store's own business.
TLineRec& TTextStore::Rec(RecIndex rec) {
    auto [b, i] = Find(rec);
    return blocks_[b]->recs[i];
}

TextOffset TTextStore::Start(RecIndex rec) const {
    if (rec >= Count()) return Length();
    auto hit = index_.FindRecord(rec);
    return hit.firstOffset + blocks_[hit.block]->StartOf(std::size_t(rec - hit.firstRec));
}

TTextStore::Pos TTextStore::Locate(TextOffset off) const {
    if (off < 0) off = 0;
    if (off >= Length()) {
        if (Empty()) return {0, 0};
        RecIndex last = Count() - 1;
        if (EndsWithCR(last)) return {Count(), Length()};
        return {last, Start(last)};
    }
    auto hit = index_.FindOffset(off);
    const Block& bl = *blocks_[hit.block];
    std::size_t i = bl.IndexAt(static_cast<std::uint32_t>(off - hit.firstOffset));
    return {hit.firstRec + static_cast<RecIndex>(i), hit.firstOffset + bl.StartOf(i)};
}

bool TTextStore::EndsWithCR(RecIndex rec) const {
    std::string_view t = Text(rec);
    return !t.empty() && t.back() == kCR;
}

const std::uint8_t* TTextStore::Attrs(RecIndex rec) const {
    auto [b, i] = Find(rec);
    const Block& bl = *blocks_[b];
    if (!(bl.recs[i].flags & lfHasAttrs)) return nullptr;
    return reinterpret_cast<const std::uint8_t*>(bl.attrs.data()) + bl.StartOf(i);
}

void TTextStore::SetAttrs(RecIndex rec, const std::uint8_t* bytes) {
    auto [b, i] = Find(rec);
    Block& bl = *blocks_[b];
    // Token bytes are allocated per block on first use: a document nobody highlights pays nothing.
    if (bl.attrs.size() != bl.text.size()) bl.attrs.assign(bl.text.size(), '\0');
    // memcpy: copying unsigned bytes into chars is otherwise a loop of one byte at a time.
    std::memcpy(bl.attrs.data() + bl.StartOf(i), bytes, std::size_t(bl.recs[i].length));
    bl.recs[i].flags |= lfHasAttrs;
}

const std::uint8_t* TTextStore::Attrs(const Cursor& c) const {
    const Block& bl = *blocks_[c.block];
    if (!(bl.recs[c.idx].flags & lfHasAttrs)) return nullptr;
    return reinterpret_cast<const std::uint8_t*>(bl.attrs.data()) + c.local;
}

void TTextStore::SetAttrs(const Cursor& c, const std::uint8_t* bytes) {
    Block& bl = *blocks_[c.block];
    if (bl.attrs.size() != bl.text.size()) bl.attrs.assign(bl.text.size(), '\0');
    std::memcpy(bl.attrs.data() + c.local, bytes, std::size_t(bl.recs[c.idx].length));
    bl.recs[c.idx].flags |= lfHasAttrs;
}

void TTextStore::DropAttrs(RecIndex rec) {
    Rec(rec).flags &= ~lfHasAttrs;
}

void TTextStore::DropAllAttrs() {
    for (auto& bl : blocks_) {
        std::string().swap(bl->attrs);
        for (auto& r : bl->recs)
            r.flags &= ~lfHasAttrs;
    }
}

int TTextStore::MaxRecordLength() const {
    int m = 0;
    for (auto& bl : blocks_)
        m = std::max(m, bl->MaxLen());
    return m;
}

std::uint32_t TTextStore::SlotOf(std::size_t block, std::size_t idx) const {
    const Block& bl = *blocks_[block];
    if (bl.side.empty()) return 0;
    auto it = std::lower_bound(bl.side.begin(), bl.side.end(), static_cast<std::uint32_t>(idx),
                               [](const auto& e, std::uint32_t i) { return e.first < i; });
    return it != bl.side.end() && it->first == idx ? it->second : 0;
}

bool TTextStore::HasExtra(RecIndex rec) const {
    auto [b, i] = Find(rec);
    return SlotOf(b, i) != 0;
}

bool TTextStore::HasExtra(const Cursor& c) const {
    return SlotOf(c.block, c.idx) != 0;
}

const TLineExtra* TTextStore::ExtraOf(RecIndex rec) const {
    auto [b, i] = Find(rec);
    std::uint32_t slot = SlotOf(b, i);
    return slot ? &extras_[slot - 1] : nullptr;
}

TLineExtra& TTextStore::ExtraFor(RecIndex rec) {
    auto [b, i] = Find(rec);
    Block& bl = *blocks_[b];
    auto it = bl.SideFrom(i);
    if (it != bl.side.end() && it->first == i) return extras_[it->second - 1];
    std::uint32_t slot;
    if (!freeExtras_.empty()) {
        slot = freeExtras_.back();
        freeExtras_.pop_back();
    } else {
        extras_.emplace_back();
        slot = static_cast<std::uint32_t>(extras_.size());
    }
    bl.side.insert(it, {static_cast<std::uint32_t>(i), slot});
    return extras_[slot - 1];
}

void TTextStore::FreeExtra(std::uint32_t slot) {
    if (!slot) return;
    extras_[slot - 1] = TLineExtra();
    freeExtras_.push_back(slot);
}

std::uint16_t TTextStore::GutterMarks(RecIndex rec) const {
    auto* e = ExtraOf(rec);
    return e ? e->gutterMarks : 0;
}

void TTextStore::SetGutterMarks(RecIndex rec, std::uint16_t marks) {
    if (!marks && !HasExtra(rec)) return;
    ExtraFor(rec).gutterMarks = marks;
}

std::int32_t TTextStore::LineBackground(RecIndex rec) const {
    auto* e = ExtraOf(rec);
    return e ? e->background : -1;
}

std::uint32_t TTextStore::LineTextColor(RecIndex rec) const {
    auto* e = ExtraOf(rec);
    return e ? e->textColor : 0;
}

void TTextStore::SetLineColors(RecIndex rec, std::int32_t background, std::uint32_t textColor) {
    TLineExtra& e = ExtraFor(rec);
    e.background = background;
    e.textColor = textColor;
}

TLineTrack* TTextStore::Track(RecIndex rec) const {
    auto* e = ExtraOf(rec);
    return e ? e->track.get() : nullptr;
}

void TTextStore::SetTrack(RecIndex rec, std::unique_ptr<TLineTrack> track) {
    ExtraFor(rec).track = std::move(track);
}

std::uint32_t TTextStore::TakeExtra(RecIndex rec) {
    auto [b, i] = Find(rec);
    Block& bl = *blocks_[b];
    auto it = bl.SideFrom(i);
    if (it == bl.side.end() || it->first != i) return 0;
    std::uint32_t slot = it->second;
    bl.side.erase(it);
    return slot;
}

void TTextStore::ForgetTrackManager(const TLineTrackManager* manager) {
    for (auto& e : extras_)
        if (e.track && e.track->Manager == manager) e.track->Manager = nullptr;
}

void TTextStore::Splice(RecIndex first, RecIndex removeCount, const TNewRec* add,
                        std::size_t addCount) {
    ++generation_;
    std::size_t b = blocks_.size(), idx = 0;
    if (first < Count()) std::tie(b, idx) = Find(first);

    for (RecIndex left = removeCount; left > 0;) {
        Block& bl = *blocks_[b];
        std::size_t k = std::min<std::size_t>(left, bl.recs.size() - idx);
        std::size_t from = bl.StartOf(idx), to = from;
        for (std::size_t i = idx; i < idx + k; ++i) {
            to += bl.recs[i].length;
            lineBreaks_ -= bl.text[to - 1] == kCR;
        }
        auto lo = bl.SideFrom(idx), hi = bl.SideFrom(idx + k);
        for (auto it = lo; it != hi; ++it)
            FreeExtra(it->second);
        for (auto it = bl.side.erase(lo, hi); it != bl.side.end(); ++it)
            it->first -= static_cast<std::uint32_t>(k);
        bl.text.erase(from, to - from);
        if (!bl.attrs.empty()) bl.attrs.erase(from, to - from);
        bl.recs.erase(bl.recs.begin() + idx, bl.recs.begin() + idx + k);
        bl.Restart(idx);
        left -= static_cast<RecIndex>(k);
        if (bl.recs.empty()) {
            blocks_.erase(blocks_.begin() + b);
            index_.Erase(b);
            idx = 0;
        } else {
            index_.Set(b, bl.recs.size(), bl.text.size());
            if (idx == bl.recs.size()) ++b, idx = 0;
        }
    }
    if (addCount == 0) return;

    if (b == blocks_.size()) {
        if (blocks_.empty() || blocks_.back()->text.size() >= kBlockTarget) {
            blocks_.push_back(std::make_unique<Block>());
            blocks_.back()->text.reserve(kBlockReserve);
            index_.Insert(b, 0, 0);
        } else {
            --b;
            idx = blocks_[b]->recs.size();
        }
    }
    Block& bl = *blocks_[b];
    std::size_t pos = bl.End(idx);
    std::size_t total = 0;
    for (std::size_t i = 0; i < addCount; ++i) {
        total += add[i].length;
        lineBreaks_ += add[i].length > 0 && add[i].text[add[i].length - 1] == kCR;
    }
    Room(bl.text, total);
    if (pos == bl.text.size()) {
        for (std::size_t i = 0; i < addCount; ++i)
            bl.text.append(add[i].text, add[i].length);
    } else {
        std::string buf;
        buf.reserve(total);
        for (std::size_t i = 0; i < addCount; ++i)
            buf.append(add[i].text, add[i].length);
        bl.text.insert(pos, buf.data(), buf.size());
    }
    if (!bl.attrs.empty()) bl.attrs.insert(pos, total, '\0');
    bl.recs.insert(bl.recs.begin() + idx, addCount, TLineRec());
    std::vector<std::pair<std::uint32_t, std::uint32_t>> taken;
    for (std::size_t i = 0; i < addCount; ++i) {
        bl.recs[idx + i] = {add[i].length, add[i].mark, add[i].flags & ~lfHasAttrs};
        if (add[i].extra) taken.push_back({static_cast<std::uint32_t>(idx + i), add[i].extra});
    }
    auto at = bl.SideFrom(idx);
    for (auto it = at; it != bl.side.end(); ++it)
        it->first += static_cast<std::uint32_t>(addCount);
    if (!taken.empty()) bl.side.insert(at, taken.begin(), taken.end());
    bl.Restart(idx);
    index_.Set(b, bl.recs.size(), bl.text.size());
    SplitIfLarge(b);
}

void TTextStore::SplitIfLarge(std::size_t b) {
    Block& bl = *blocks_[b];
    if (bl.text.size() <= kBlockMax && bl.recs.size() <= kBlockMaxRecs) return;
    // Cut into pieces of about kBlockTarget characters (and at most half the record limit).
    std::vector<std::size_t> cuts; // record indexes where a new block begins
    std::size_t chars = 0, recs = 0;
    for (std::size_t i = 0; i < bl.recs.size(); ++i) {
        if (recs > 0 && (chars >= kBlockTarget || recs >= kBlockMaxRecs / 2)) {
            cuts.push_back(i);
            chars = recs = 0;
        }
        chars += bl.recs[i].length;
        ++recs;
    }
    cuts.push_back(bl.recs.size());
    for (std::size_t c = 0; c + 1 < cuts.size(); ++c) {
        auto nb = std::make_unique<Block>();
        std::size_t r0 = cuts[c], r1 = cuts[c + 1];
        std::size_t from = bl.StartOf(r0), to = bl.End(r1);
        nb->text.assign(bl.text, from, to - from);
        if (!bl.attrs.empty()) nb->attrs.assign(bl.attrs, from, to - from);
        nb->recs.assign(bl.recs.begin() + r0, bl.recs.begin() + r1);
        for (auto it = bl.SideFrom(r0), hi = bl.SideFrom(r1); it != hi; ++it)
            nb->side.push_back({static_cast<std::uint32_t>(it->first - r0), it->second});
        nb->Restart(0);
        index_.Insert(b + 1 + c, nb->recs.size(), nb->text.size());
        blocks_.insert(blocks_.begin() + b + 1 + c, std::move(nb));
    }
    std::size_t keep = cuts[0];
    bl.text.resize(bl.StartOf(keep));
    bl.text.shrink_to_fit();
    if (!bl.attrs.empty()) bl.attrs.resize(bl.text.size());
    bl.recs.resize(keep);
    bl.side.erase(bl.SideFrom(keep), bl.side.end());
    bl.Restart(keep);
    index_.Set(b, bl.recs.size(), bl.text.size());
}

void TTextStore::ReplaceInRecord(RecIndex rec, std::size_t at, std::size_t removeLen,
                                 std::string_view insert) {
    ++generation_;
    auto [b, i] = Find(rec);
    Block& bl = *blocks_[b];
    const std::size_t start = bl.StartOf(i);
    std::size_t pos = start + at;
    lineBreaks_ -= bl.recs[i].EndsWithCR(bl.text.data() + start);
    if (insert.size() > removeLen) Room(bl.text, insert.size() - removeLen);
    bl.text.replace(pos, removeLen, insert);
    if (!bl.attrs.empty()) bl.attrs.replace(pos, removeLen, insert.size(), '\0');
    bl.recs[i].length = static_cast<std::uint16_t>(bl.recs[i].length - removeLen + insert.size());
    lineBreaks_ += bl.recs[i].EndsWithCR(bl.text.data() + start);
    bl.Restart(i);
    index_.Set(b, bl.recs.size(), bl.text.size());
}

void TTextStore::Clear() {
    ++generation_;
    blocks_.clear();
    index_.Clear();
    lineBreaks_ = 0;
    extras_.clear();
    freeExtras_.clear();
}

// A filled block is trimmed once: the records' vector to its size, and the text when a record
// limit closed it early.
void TTextStore::CloseLoadBlock(std::size_t b) {
    Block& bl = *blocks_[b];
    bl.recs.shrink_to_fit();
    bl.anchors.shrink_to_fit();
    if (bl.text.capacity() - bl.text.size() > kLoadFill / 8) bl.text.shrink_to_fit();
    index_.Set(b, bl.recs.size(), bl.text.size());
}

TTextStore::Appended TTextStore::AppendStored(std::string_view in, std::size_t maxLen) {
    ++generation_;
    Appended res;
    res.first = Count();
    res.last = Count() - 1;
    if (in.empty()) return res;
    std::uint16_t firstMark = 0;
    std::uint32_t firstSlot = 0;
    std::size_t b = blocks_.size(), pos = 0, from = 0;
    if (!blocks_.empty()) {
        b = blocks_.size() - 1;
        Block& bl = *blocks_[b];
        from = bl.recs.size();
        pos = bl.text.size();
        if (!bl.recs.empty() && !bl.text.empty() && bl.text.back() != kCR) {
            // The last record is cut again together with the new text; its characters stay.
            res.first = Count() - 1;
            from = bl.recs.size() - 1;
            pos = bl.StartOf(from);
            firstMark = bl.recs.back().mark;
            if (!bl.side.empty() && bl.side.back().first == from) {
                firstSlot = bl.side.back().second;
                bl.side.pop_back();
            }
            bl.recs.pop_back();
        }
    }
    auto newBlock = [&] {
        blocks_.push_back(std::make_unique<Block>());
        Block& nb = *blocks_.back();
        nb.text.reserve(kLoadFill);
        // Room for as many records as the text so far has per block, and a few more: growing the
        // vector record by record costs copies and leaves holes in the heap.
        const TextOffset chars = index_.Characters();
        const RecIndex recs = index_.Records();
        std::size_t guess =
            chars > 0
                ? static_cast<std::size_t>(static_cast<double>(kLoadFill) * recs / chars * 1.05)
                : 256;
        nb.recs.reserve(std::min(guess + 8, kLoadRecs));
        index_.Insert(blocks_.size() - 1, 0, 0);
        return blocks_.size() - 1;
    };
    if (b == blocks_.size()) b = newBlock();

    const char* src = in.data();
    std::size_t left = in.size();
    bool first = true, continues = false;
    for (;;) {
        Block* bl = blocks_[b].get();
        if (left > 0 && bl->text.size() < kLoadFill) {
            if (bl->text.capacity() < kLoadFill) bl->text.reserve(kLoadFill);
            std::size_t n = std::min(left, kLoadFill - bl->text.size());
            bl->text.append(src, n);
            src += n;
            left -= n;
        }
        const char* t = bl->text.data();
        const std::size_t end = bl->text.size();
        // Each window of text is compared once for CRs and once for TABs, not once per record.
        TByteFinder crs(t, end, kCR), tabs(t, end, kTAB);
        std::size_t nextCR = crs.Next(pos), nextTab = tabs.Next(pos);
        while (pos < end && bl->recs.size() < kLoadRecs) {
            const std::size_t avail = end - pos;
            const std::size_t span = std::min(maxLen, avail);
            const bool cr = nextCR < pos + span;
            std::size_t len;
            if (cr)
                len = nextCR - pos + 1;
            else if (avail > span)
                len = SafeCut(std::string_view(t + pos, avail), span);
            else if (left == 0)
                len = avail;
            else
                break; // more text may end this record or move its cut
            std::uint16_t mark = first ? firstMark : (continues ? kContinuation : 0);
            if (nextTab < pos) nextTab = tabs.Next(pos);
            std::uint32_t flags = lfRepaint | lfStale;
            if (nextTab < pos + len) flags |= lfHasTab;
            if (first && firstSlot)
                bl->side.push_back({static_cast<std::uint32_t>(bl->recs.size()), firstSlot});
            bl->recs.push_back({static_cast<std::uint16_t>(len), mark, flags});
            lineBreaks_ += cr;
            res.longest = std::max(res.longest, static_cast<int>(len));
            continues = !cr;
            first = false;
            pos += len;
            if (cr) nextCR = crs.Next(pos);
        }
        if (left == 0 && pos == end) break;
        // The block is full: what is not cut into records yet moves to a fresh one.
        const std::size_t nb = newBlock();
        Block& next = *blocks_[nb];
        next.text.append(bl->text, pos, end - pos);
        bl->text.resize(pos);
        if (!bl->attrs.empty()) bl->attrs.resize(pos);
        bl->Restart(from);
        CloseLoadBlock(b);
        b = nb;
        pos = from = 0;
    }
    Block& bl = *blocks_[b];
    if (!bl.attrs.empty()) bl.attrs.resize(bl.text.size(), '\0');
    bl.Restart(from);
    index_.Set(b, bl.recs.size(), bl.text.size());
    res.last = Count() - 1;
    return res;
}

TTextStore::Span TTextStore::SpanAt(TextOffset off) const {
    if (off < 0) off = 0;
    if (off >= Length()) return {blocks_.size(), Length(), {}};
    auto hit = index_.FindOffset(off);
    return {hit.block, hit.firstOffset, blocks_[hit.block]->text};
}

bool TTextStore::NextSpan(Span& s) const {
    if (s.block + 1 >= blocks_.size()) return false;
    s.start += static_cast<TextOffset>(s.text.size());
    s.text = blocks_[++s.block]->text;
    return true;
}

bool TTextStore::PrevSpan(Span& s) const {
    if (s.block == 0 || s.block > blocks_.size()) return false;
    s.text = blocks_[--s.block]->text;
    s.start -= static_cast<TextOffset>(s.text.size());
    return true;
}

TTextStore::Cursor TTextStore::CursorAt(RecIndex rec) const {
    if (rec >= Count()) return {blocks_.size(), 0, Count(), Length(), 0};
    auto hit = index_.FindRecord(rec);
    std::size_t i = static_cast<std::size_t>(rec - hit.firstRec);
    std::uint32_t local = blocks_[hit.block]->StartOf(i);
    return {hit.block, i, rec, hit.firstOffset + local, local};
}

bool TTextStore::Next(Cursor& c) const {
    if (AtEnd(c)) return false;
    const Block& bl = *blocks_[c.block];
    c.start += bl.recs[c.idx].length;
    c.local += bl.recs[c.idx].length;
    ++c.rec;
    if (++c.idx == bl.recs.size()) {
        ++c.block;
        c.idx = 0;
        c.local = 0;
    }
    return !AtEnd(c);
}

bool TTextStore::Prev(Cursor& c) const {
    if (c.rec == 0) return false;
    if (c.idx == 0) {
        --c.block;
        c.idx = blocks_[c.block]->recs.size();
        c.local = static_cast<std::uint32_t>(blocks_[c.block]->text.size());
    }
    --c.idx;
    --c.rec;
    c.start -= blocks_[c.block]->recs[c.idx].length;
    c.local -= blocks_[c.block]->recs[c.idx].length;
    return true;
}

std::string_view TTextStore::Text(const Cursor& c) const {
    const Block& bl = *blocks_[c.block];
    return {bl.text.data() + c.local, bl.recs[c.idx].length};
}

TLineRec& TTextStore::Rec(const Cursor& c) {
    return blocks_[c.block]->recs[c.idx];
}
const TLineRec& TTextStore::Rec(const Cursor& c) const {
    return blocks_[c.block]->recs[c.idx];
}

void TTextStore::AddControl(TCustomCodeMemo* memo) {
    if (std::find(controls_.begin(), controls_.end(), memo) == controls_.end())
        controls_.push_back(memo);
}

void TTextStore::RemoveControl(TCustomCodeMemo* memo) {
    controls_.erase(std::remove(controls_.begin(), controls_.end(), memo), controls_.end());
}

} // namespace morvane::editor
