#include "core/editor/TextStore.h"
#include "core/editor/ChainIndex.h"

#include <gtest/gtest.h>

#include <random>

namespace morvane::editor {
namespace {

TEST(ChainIndexTest, FindsBlocksByRecordAndOffsetAfterEdits) {
    ChainIndex ix;
    ix.Insert(0, 3, 30);
    ix.Insert(1, 2, 20);
    ix.Insert(1, 5, 50); // blocks now 3/30, 5/50, 2/20
    EXPECT_EQ(ix.Records(), 10);
    EXPECT_EQ(ix.Characters(), 100);
    EXPECT_EQ(ix.FindRecord(3).block, 1u);
    EXPECT_EQ(ix.FindRecord(8).firstRec, 8);
    EXPECT_EQ(ix.FindOffset(79).block, 1u);
    EXPECT_EQ(ix.FindOffset(80).firstOffset, 80);
    ix.Set(0, 1, 5);
    EXPECT_EQ(ix.FindOffset(5).block, 1u);
    EXPECT_EQ(ix.OffsetStart(2), 55);
    ix.Erase(1);
    EXPECT_EQ(ix.FindRecord(1).block, 1u);
    EXPECT_EQ(ix.Characters(), 25);
}

std::vector<TNewRec> MakeRecs(const std::vector<std::string>& texts) {
    std::vector<TNewRec> r;
    for (auto& t : texts)
        r.push_back({t.data(), static_cast<std::uint16_t>(t.size()), 0, lfStale, 0});
    return r;
}

// Splices at random places across many blocks must behave like splicing a vector.
TEST(TextStoreTest, RandomSplicesMatchAVectorOfLines) {
    std::mt19937 rng(7);
    TTextStore store;
    std::vector<std::string> model;
    std::uniform_int_distribution<int> len(1, 300);
    for (int round = 0; round < 400; ++round) {
        RecIndex n = static_cast<RecIndex>(model.size());
        RecIndex first = n ? std::uniform_int_distribution<RecIndex>(0, n)(rng) : 0;
        RecIndex remove =
            std::uniform_int_distribution<RecIndex>(0, std::min<RecIndex>(n - first, 50))(rng);
        if (round % 50 == 0) remove = std::min<RecIndex>(n - first, 3000);
        std::vector<std::string> add(
            std::uniform_int_distribution<int>(0, round % 7 == 0 ? 2000 : 20)(rng));
        for (auto& a : add)
            a = std::string(static_cast<std::size_t>(len(rng)),
                            static_cast<char>('a' + round % 26)) +
                "\r";
        auto recs = MakeRecs(add);
        store.Splice(first, remove, recs.data(), recs.size());
        model.erase(model.begin() + first, model.begin() + first + remove);
        model.insert(model.begin() + first, add.begin(), add.end());
        ASSERT_EQ(store.Count(), static_cast<RecIndex>(model.size()));
    }
    TextOffset off = 0;
    TTextStore::Cursor c = store.CursorAt(0);
    for (std::size_t i = 0; i < model.size(); ++i, store.Next(c)) {
        ASSERT_EQ(store.Text(static_cast<RecIndex>(i)), model[i]);
        ASSERT_EQ(store.Text(c), model[i]);
        ASSERT_EQ(store.Start(static_cast<RecIndex>(i)), off);
        auto at = store.Locate(off + static_cast<TextOffset>(model[i].size()) - 1);
        ASSERT_EQ(at.rec, static_cast<RecIndex>(i));
        off += static_cast<TextOffset>(model[i].size());
    }
    EXPECT_TRUE(store.AtEnd(c));
    EXPECT_EQ(store.Length(), off);
}

TEST(TextStoreTest, SideDataFollowsTakeExtraAndIsFreedWithItsRecord) {
    TTextStore store;
    std::vector<std::string> texts{"a\r", "b\r", "c"};
    auto recs = MakeRecs(texts);
    store.Splice(0, 0, recs.data(), recs.size());
    store.SetGutterMarks(1, 5);
    store.SetLineColors(1, 0xFF, 0x10);
    EXPECT_EQ(store.LineBackground(0), -1);
    std::string joined = "bc";
    TNewRec r{joined.data(), 2, 0, 0, store.TakeExtra(1)};
    store.Splice(1, 2, &r, 1);
    EXPECT_EQ(store.GutterMarks(1), 5);
    EXPECT_EQ(store.LineBackground(1), 0xFF);
    store.Splice(1, 1, nullptr, 0);
    store.Splice(1, 0, recs.data() + 2, 1); // a new record reuses the freed slot, clean
    EXPECT_EQ(store.GutterMarks(1), 0);
    EXPECT_EQ(store.LineBackground(1), -1);
}

TEST(TextStoreTest, TokenBytesAreKeptPerRecordAndDroppedOnRequest) {
    TTextStore store;
    std::vector<std::string> texts{"ab\r", "cd"};
    auto recs = MakeRecs(texts);
    store.Splice(0, 0, recs.data(), recs.size());
    EXPECT_EQ(store.Attrs(0), nullptr);
    const std::uint8_t bytes[] = {7, 8};
    store.SetAttrs(1, bytes);
    ASSERT_NE(store.Attrs(1), nullptr);
    EXPECT_EQ(store.Attrs(1)[1], 8);
    store.Splice(0, 0, recs.data(), 1); // inserting before moves the bytes along
    ASSERT_NE(store.Attrs(2), nullptr);
    EXPECT_EQ(store.Attrs(2)[0], 7);
    store.DropAllAttrs();
    EXPECT_EQ(store.Attrs(2), nullptr);
}

} // namespace
} // namespace morvane::editor
