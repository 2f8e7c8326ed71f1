#include "editor/ChainIndex.h"

#include <algorithm>

namespace morvane::editor {

void ChainIndex::Insert(std::size_t block, RecIndex recs, TextOffset chars) {
    recs_.insert(recs_.begin() + block, recs);
    chars_.insert(chars_.begin() + block, chars);
    recStart_.insert(recStart_.begin() + block, 0);
    charStart_.insert(charStart_.begin() + block, 0);
    totalRecs_ += recs;
    totalChars_ += chars;
    valid_ = std::min(valid_, block);
}

void ChainIndex::Erase(std::size_t block) {
    totalRecs_ -= recs_[block];
    totalChars_ -= chars_[block];
    recs_.erase(recs_.begin() + block);
    chars_.erase(chars_.begin() + block);
    recStart_.erase(recStart_.begin() + block);
    charStart_.erase(charStart_.begin() + block);
    valid_ = std::min(valid_, block);
}

void ChainIndex::Set(std::size_t block, RecIndex recs, TextOffset chars) {
    totalRecs_ += recs - recs_[block];
    totalChars_ += chars - chars_[block];
    recs_[block] = recs;
    chars_[block] = chars;
    // The block's own start is unchanged; only the ones after it move.
    valid_ = std::min(valid_, block + 1);
}

void ChainIndex::Clear() {
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
    return recStart_[block];
}

TextOffset ChainIndex::OffsetStart(std::size_t block) const {
    if (block >= recs_.size()) return totalChars_;
    Refresh();
    return charStart_[block];
}

ChainIndex::Hit ChainIndex::FindRecord(RecIndex rec) const {
    Refresh();
    // Last block whose start is <= rec; blocks are never empty, so it holds rec.
    auto it = std::upper_bound(recStart_.begin(), recStart_.end(), rec);
    std::size_t b = static_cast<std::size_t>(it - recStart_.begin()) - 1;
    return {b, recStart_[b], charStart_[b]};
}

ChainIndex::Hit ChainIndex::FindOffset(TextOffset off) const {
    Refresh();
    auto it = std::upper_bound(charStart_.begin(), charStart_.end(), off);
    std::size_t b = static_cast<std::size_t>(it - charStart_.begin()) - 1;
    return {b, recStart_[b], charStart_[b]};
}

} // namespace morvane::editor
