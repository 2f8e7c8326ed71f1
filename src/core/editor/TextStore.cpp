#include "core/editor/TextStore.h"

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
} // namespace

struct TTextStore::Block {
    std::string text;  // the records' characters back to back
    std::string attrs; // empty, or one token byte per character of text
    std::vector<TLineRec> recs;
    std::vector<std::uint32_t> starts; // invariant: starts[i] = offset of recs[i] in text
    mutable int maxLen = -1;           // -1: to be recomputed

    void Restart(std::size_t from) {
        starts.resize(recs.size());
        std::uint32_t s = from == 0 ? 0 : starts[from - 1] + recs[from - 1].length;
        for (std::size_t i = from; i < recs.size(); ++i) {
            starts[i] = s;
            s += recs[i].length;
        }
        maxLen = -1;
    }
    std::size_t End(std::size_t idx) const { return idx < recs.size() ? starts[idx] : text.size(); }
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
    return {bl.text.data() + bl.starts[i], bl.recs[i].length};
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
    return hit.firstOffset + blocks_[hit.block]->starts[rec - hit.firstRec];
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
    auto local = static_cast<std::uint32_t>(off - hit.firstOffset);
    auto it = std::upper_bound(bl.starts.begin(), bl.starts.end(), local);
    std::size_t i = static_cast<std::size_t>(it - bl.starts.begin()) - 1;
    return {hit.firstRec + static_cast<RecIndex>(i), hit.firstOffset + bl.starts[i]};
}

bool TTextStore::EndsWithCR(RecIndex rec) const {
    std::string_view t = Text(rec);
    return !t.empty() && t.back() == kCR;
}

const std::uint8_t* TTextStore::Attrs(RecIndex rec) const {
    auto [b, i] = Find(rec);
    const Block& bl = *blocks_[b];
    if (!(bl.recs[i].flags & lfHasAttrs)) return nullptr;
    return reinterpret_cast<const std::uint8_t*>(bl.attrs.data()) + bl.starts[i];
}

void TTextStore::SetAttrs(RecIndex rec, const std::uint8_t* bytes) {
    auto [b, i] = Find(rec);
    Block& bl = *blocks_[b];
    // Token bytes are allocated per block on first use: a document nobody highlights pays nothing.
    if (bl.attrs.size() != bl.text.size()) bl.attrs.assign(bl.text.size(), '\0');
    // memcpy: copying unsigned bytes into chars is otherwise a loop of one byte at a time.
    std::memcpy(bl.attrs.data() + bl.starts[i], bytes, std::size_t(bl.recs[i].length));
    bl.recs[i].flags |= lfHasAttrs;
}

const std::uint8_t* TTextStore::Attrs(const Cursor& c) const {
    const Block& bl = *blocks_[c.block];
    if (!(bl.recs[c.idx].flags & lfHasAttrs)) return nullptr;
    return reinterpret_cast<const std::uint8_t*>(bl.attrs.data()) + bl.starts[c.idx];
}

void TTextStore::SetAttrs(const Cursor& c, const std::uint8_t* bytes) {
    Block& bl = *blocks_[c.block];
    if (bl.attrs.size() != bl.text.size()) bl.attrs.assign(bl.text.size(), '\0');
    std::memcpy(bl.attrs.data() + bl.starts[c.idx], bytes, std::size_t(bl.recs[c.idx].length));
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

const TLineExtra* TTextStore::ExtraOf(RecIndex rec) const {
    std::uint32_t slot = Rec(rec).extra;
    return slot ? &extras_[slot - 1] : nullptr;
}

TLineExtra& TTextStore::ExtraFor(RecIndex rec) {
    TLineRec& r = Rec(rec);
    if (!r.extra) {
        if (!freeExtras_.empty()) {
            r.extra = freeExtras_.back();
            freeExtras_.pop_back();
        } else {
            extras_.emplace_back();
            r.extra = static_cast<std::uint32_t>(extras_.size());
        }
    }
    return extras_[r.extra - 1];
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
    if (!marks && !Rec(rec).extra) return;
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
    TLineRec& r = Rec(rec);
    std::uint32_t slot = r.extra;
    r.extra = 0;
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
        std::size_t from = bl.starts[idx], to = bl.End(idx + k);
        for (std::size_t i = idx; i < idx + k; ++i) {
            FreeExtra(bl.recs[i].extra);
            lineBreaks_ -= bl.recs[i].EndsWithCR(bl.text.data() + bl.starts[i]);
        }
        bl.text.erase(from, to - from);
        if (!bl.attrs.empty()) bl.attrs.erase(from, to - from);
        bl.recs.erase(bl.recs.begin() + idx, bl.recs.begin() + idx + k);
        bl.starts.erase(bl.starts.begin() + idx, bl.starts.begin() + idx + k);
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
    if (pos == bl.text.size()) {
        for (std::size_t i = 0; i < addCount; ++i)
            bl.text.append(add[i].text, add[i].length);
    } else {
        std::string buf;
        buf.reserve(total);
        for (std::size_t i = 0; i < addCount; ++i)
            buf.append(add[i].text, add[i].length);
        bl.text.insert(pos, buf);
    }
    if (!bl.attrs.empty()) bl.attrs.insert(pos, total, '\0');
    std::vector<TLineRec> recs(addCount);
    for (std::size_t i = 0; i < addCount; ++i)
        recs[i] = {add[i].length, add[i].mark, add[i].flags & ~lfHasAttrs, add[i].extra};
    bl.recs.insert(bl.recs.begin() + idx, recs.begin(), recs.end());
    bl.starts.insert(bl.starts.begin() + idx, addCount, 0);
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
        std::size_t from = bl.starts[r0], to = bl.End(r1);
        nb->text.assign(bl.text, from, to - from);
        if (!bl.attrs.empty()) nb->attrs.assign(bl.attrs, from, to - from);
        nb->recs.assign(bl.recs.begin() + r0, bl.recs.begin() + r1);
        nb->Restart(0);
        index_.Insert(b + 1 + c, nb->recs.size(), nb->text.size());
        blocks_.insert(blocks_.begin() + b + 1 + c, std::move(nb));
    }
    std::size_t keep = cuts[0];
    bl.text.resize(bl.starts[keep]);
    bl.text.shrink_to_fit();
    if (!bl.attrs.empty()) bl.attrs.resize(bl.text.size());
    bl.recs.resize(keep);
    bl.starts.resize(keep);
    bl.maxLen = -1;
    index_.Set(b, bl.recs.size(), bl.text.size());
}

void TTextStore::ReplaceInRecord(RecIndex rec, std::size_t at, std::size_t removeLen,
                                 std::string_view insert) {
    ++generation_;
    auto [b, i] = Find(rec);
    Block& bl = *blocks_[b];
    std::size_t pos = bl.starts[i] + at;
    lineBreaks_ -= bl.recs[i].EndsWithCR(bl.text.data() + bl.starts[i]);
    bl.text.replace(pos, removeLen, insert);
    if (!bl.attrs.empty()) bl.attrs.replace(pos, removeLen, insert.size(), '\0');
    bl.recs[i].length = static_cast<std::uint16_t>(bl.recs[i].length - removeLen + insert.size());
    lineBreaks_ += bl.recs[i].EndsWithCR(bl.text.data() + bl.starts[i]);
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
    if (rec >= Count()) return {blocks_.size(), 0, Count(), Length()};
    auto hit = index_.FindRecord(rec);
    std::size_t i = static_cast<std::size_t>(rec - hit.firstRec);
    return {hit.block, i, rec, hit.firstOffset + blocks_[hit.block]->starts[i]};
}

bool TTextStore::Next(Cursor& c) const {
    if (AtEnd(c)) return false;
    const Block& bl = *blocks_[c.block];
    c.start += bl.recs[c.idx].length;
    ++c.rec;
    if (++c.idx == bl.recs.size()) {
        ++c.block;
        c.idx = 0;
    }
    return !AtEnd(c);
}

bool TTextStore::Prev(Cursor& c) const {
    if (c.rec == 0) return false;
    if (c.idx == 0) {
        --c.block;
        c.idx = blocks_[c.block]->recs.size();
    }
    --c.idx;
    --c.rec;
    c.start -= blocks_[c.block]->recs[c.idx].length;
    return true;
}

std::string_view TTextStore::Text(const Cursor& c) const {
    const Block& bl = *blocks_[c.block];
    return {bl.text.data() + bl.starts[c.idx], bl.recs[c.idx].length};
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
