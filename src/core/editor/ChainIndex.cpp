#include "core/editor/ChainIndex.h"

#include <algorithm>

namespace morvane::editor {

namespace {
// The last index below n for which atOrBelow holds; it holds for index 0 and is monotonic.
template <class Pred> std::size_t LastAtOrBelow(std::size_t n, Pred atOrBelow) {
    std::size_t lo = 0, hi = n; // atOrBelow(lo) holds; hi is past the last candidate
    while (hi - lo > 1) {
        std::size_t mid = lo + (hi - lo) / 2;
        if (atOrBelow(mid))
            lo = mid;
        else
            hi = mid;
    }
    return lo;
}
} // namespace

void ChainIndex::ApplyPending(std::size_t from, std::size_t to, int sign) const {
    for (std::size_t b = from + 1; b < to && b < valid_; ++b) {
        recStart_[b] += sign * pendRecs_;
        charStart_[b] += sign * pendChars_;
    }
}

void ChainIndex::Flush() const {
    if (hasStep_) ApplyPending(step_, valid_, 1);
    hasStep_ = false;
    pendRecs_ = 0;
    pendChars_ = 0;
}

// Puts the step at block: the sums between the old and the new step take or give up the delta.
void ChainIndex::MoveStep(std::size_t block) const {
    if (!hasStep_) {
        hasStep_ = true;
        step_ = block;
        pendRecs_ = 0;
        pendChars_ = 0;
        return;
    }
    if (block > step_)
        ApplyPending(step_, block + 1, 1);
    else if (block < step_)
        ApplyPending(block, step_ + 1, -1);
    step_ = block;
}

void ChainIndex::Insert(std::size_t block, RecIndex recs, TextOffset chars) {
    Flush();
    recs_.insert(recs_.begin() + block, recs);
    chars_.insert(chars_.begin() + block, chars);
    recStart_.insert(recStart_.begin() + block, 0);
    charStart_.insert(charStart_.begin() + block, 0);
    totalRecs_ += recs;
    totalChars_ += chars;
    valid_ = std::min(valid_, block);
}

void ChainIndex::Erase(std::size_t block) {
    Flush();
    totalRecs_ -= recs_[block];
    totalChars_ -= chars_[block];
    recs_.erase(recs_.begin() + block);
    chars_.erase(chars_.begin() + block);
    recStart_.erase(recStart_.begin() + block);
    charStart_.erase(charStart_.begin() + block);
    valid_ = std::min(valid_, block);
}

void ChainIndex::Set(std::size_t block, RecIndex recs, TextOffset chars) {
    RecIndex dr = recs - recs_[block];
    TextOffset dc = chars - chars_[block];
    totalRecs_ += dr;
    totalChars_ += dc;
    recs_[block] = recs;
    chars_[block] = chars;
    // The block's own start is unchanged; only the ones after it move.
    if (block + 1 >= valid_) {
        Flush();
        valid_ = std::min(valid_, block + 1);
        return;
    }
    MoveStep(block);
    pendRecs_ += dr;
    pendChars_ += dc;
}

void ChainIndex::Clear() {
    hasStep_ = false;
    pendRecs_ = 0;
    pendChars_ = 0;
    recs_.clear();
    chars_.clear();
    recStart_.clear();
    charStart_.clear();
    valid_ = 0;
    totalRecs_ = 0;
    totalChars_ = 0;
}

void ChainIndex::Refresh() const {
    std::size_t n = recs_.size();
    if (valid_ >= n) return;
    Flush();
    RecIndex r = valid_ == 0 ? 0 : recStart_[valid_ - 1] + recs_[valid_ - 1];
    TextOffset c = valid_ == 0 ? 0 : charStart_[valid_ - 1] + chars_[valid_ - 1];
    for (std::size_t b = valid_; b < n; ++b) {
        recStart_[b] = r;
        charStart_[b] = c;
        r += recs_[b];
        c += chars_[b];
    }
    valid_ = n;
}

RecIndex ChainIndex::RecStart(std::size_t block) const {
    if (block >= recs_.size()) return totalRecs_;
    Refresh();
    return RecAt(block);
}

TextOffset ChainIndex::OffsetStart(std::size_t block) const {
    if (block >= recs_.size()) return totalChars_;
    Refresh();
    return CharAt(block);
}

ChainIndex::Hit ChainIndex::FindRecord(RecIndex rec) const {
    Refresh();
    // Edits and lookups come in runs at one place: the block found last is tried first.
    std::size_t b = last_;
    if (b >= recs_.size() || RecAt(b) > rec || RecAt(b) + recs_[b] <= rec) {
        // Last block whose start is <= rec; blocks are never empty, so it holds rec.
        b = LastAtOrBelow(recs_.size(), [&](std::size_t i) { return RecAt(i) <= rec; });
        last_ = b;
    }
    return {b, RecAt(b), CharAt(b)};
}

ChainIndex::Hit ChainIndex::FindOffset(TextOffset off) const {
    Refresh();
    std::size_t b = last_;
    if (b >= recs_.size() || CharAt(b) > off || CharAt(b) + chars_[b] <= off) {
        b = LastAtOrBelow(recs_.size(), [&](std::size_t i) { return CharAt(i) <= off; });
        last_ = b;
    }
    return {b, RecAt(b), CharAt(b)};
}

} // namespace morvane::editor
