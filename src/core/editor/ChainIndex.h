#pragma once
// Prefix sums over the blocks of the record chain: how many records and characters come before
// each block. Edits change one block's counts. The sums after an edited block are not rewritten:
// the change is kept as a pending delta for all blocks after a step block, and only moving the
// step to another block touches the sums in between. Typing in one place thus costs the same
// however many blocks follow; a lookup is a binary search over a few thousand blocks.

#include "core/editor/TextTypes.h"

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
    // Applies the pending delta to the sums of blocks (from, to).
    void ApplyPending(std::size_t from, std::size_t to, int sign) const;
    void Flush() const;
    void MoveStep(std::size_t block) const;
    RecIndex RecAt(std::size_t b) const { return recStart_[b] + (Pending(b) ? pendRecs_ : 0); }
    TextOffset CharAt(std::size_t b) const { return charStart_[b] + (Pending(b) ? pendChars_ : 0); }
    bool Pending(std::size_t b) const { return hasStep_ && b > step_; }

    std::vector<RecIndex> recs_;
    std::vector<TextOffset> chars_;
    // invariant: recStart_[b], charStart_[b] are valid for b < valid_
    mutable std::vector<RecIndex> recStart_;
    mutable std::vector<TextOffset> charStart_;
    mutable std::size_t valid_ = 0;
    // invariant: for step_ < b < valid_ the true sums are the stored ones plus the pending delta
    mutable std::size_t last_ = 0; // the block the last lookup found
    mutable bool hasStep_ = false;
    mutable std::size_t step_ = 0;
    mutable RecIndex pendRecs_ = 0;
    mutable TextOffset pendChars_ = 0;
    RecIndex totalRecs_ = 0;
    TextOffset totalChars_ = 0;
};

} // namespace morvane::editor
