// The block index against plain prefix sums, under edits that jump between blocks.

#include "core/editor/ChainIndex.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace morvane::editor {
namespace {

TEST(ChainIndexStepTest, PendingDeltasMatchPlainSums) {
    std::mt19937 rng(7);
    ChainIndex ix;
    std::vector<RecIndex> recs;
    std::vector<TextOffset> chars;
    auto any = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n)(rng); };
    for (int i = 0; i < 40; ++i) {
        recs.push_back(1 + static_cast<RecIndex>(any(9)));
        chars.push_back(recs.back() * 10);
        ix.Insert(static_cast<std::size_t>(i), recs.back(), chars.back());
    }
    for (int step = 0; step < 5000; ++step) {
        std::size_t b = any(recs.size() - 1);
        int what = static_cast<int>(rng() % 10);
        if (what == 0 && recs.size() > 1) {
            recs.erase(recs.begin() + static_cast<std::ptrdiff_t>(b));
            chars.erase(chars.begin() + static_cast<std::ptrdiff_t>(b));
            ix.Erase(b);
        } else if (what == 1) {
            recs.insert(recs.begin() + static_cast<std::ptrdiff_t>(b), 3);
            chars.insert(chars.begin() + static_cast<std::ptrdiff_t>(b), 30);
            ix.Insert(b, 3, 30);
        } else {
            // Mostly near the last edit, as typing is.
            if (what < 8) b = std::min(recs.size() - 1, b % 3);
            recs[b] = 1 + static_cast<RecIndex>(any(9));
            chars[b] = recs[b] * 10 + static_cast<TextOffset>(any(5));
            ix.Set(b, recs[b], chars[b]);
        }
        RecIndex r = 0;
        TextOffset c = 0;
        for (std::size_t k = 0; k < recs.size(); ++k) {
            if (k % 7 == static_cast<std::size_t>(step) % 7) {
                ASSERT_EQ(ix.RecStart(k), r) << step << " block " << k;
                ASSERT_EQ(ix.OffsetStart(k), c) << step << " block " << k;
                ASSERT_EQ(ix.FindRecord(r + recs[k] - 1).block, k) << step;
                ASSERT_EQ(ix.FindOffset(c).block, k) << step;
            }
            r += recs[k];
            c += chars[k];
        }
        ASSERT_EQ(ix.Records(), r);
        ASSERT_EQ(ix.Characters(), c);
    }
}

} // namespace
} // namespace morvane::editor
