#pragma once
// Prefix sums over the blocks of the record chain: how many records and characters come before
// each block. Edits change one block's counts; the sums from that block on are recomputed
// lazily, so a lookup costs a binary search over a few thousand blocks.

#include "editor/TextTypes.h"

#include <cstddef>
#include <vector>

namespace morvane::editor {

class ChainIndex {
public:
    struct Hit {
        std::size_t block;
        RecIndex firstRec;      // index of the block's first record
        TextOffset firstOffset; // text offset of the block's first character
    };

    std::size_t Blocks() const { return recs_.size(); }
    RecIndex Records() const { return totalRecs_; }
    TextOffset Characters() const { return totalChars_; }

    void Insert(std::size_t block, RecIndex recs, TextOffset chars);
    void Erase(std::size_t block);
    void Set(std::size_t block, RecIndex recs, TextOffset chars);
    void Clear();

    RecIndex RecStart(std::size_t block) const;
    TextOffset OffsetStart(std::size_t block) const;

    // The block holding record rec; rec must be below Records().
    Hit FindRecord(RecIndex rec) const;
    // The block holding offset off; off must be below Characters().
    Hit FindOffset(TextOffset off) const;

private:
    void Refresh() const;

    std::vector<RecIndex> recs_;
    std::vector<TextOffset> chars_;
    // invariant: recStart_[b], charStart_[b] are valid for b < valid_
    mutable std::vector<RecIndex> recStart_;
    mutable std::vector<TextOffset> charStart_;
    mutable std::size_t valid_ = 0;
    RecIndex totalRecs_ = 0;
    TextOffset totalChars_ = 0;
};

} // namespace morvane::editor
