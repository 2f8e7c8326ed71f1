#include "core/editor/TextStore.h"
#include "core/editor/ChainIndex.h"
#include "core/editor/LineBreaks.h"
#include "core/editor/TextArena.h"

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

// Side data is found through each block's list of records that have any; splices before, inside
// and after those records, and blocks split by large insertions, must keep each record's data.
TEST(TextStoreTest, SideDataStaysWithItsRecordThroughRandomSplices) {
    std::mt19937 rng(11);
    TTextStore store;
    std::vector<std::pair<std::string, std::uint16_t>> model; // text, gutter marks
    std::uint16_t next = 1;
    for (int round = 0; round < 300; ++round) {
        RecIndex n = static_cast<RecIndex>(model.size());
        RecIndex first = n ? std::uniform_int_distribution<RecIndex>(0, n)(rng) : 0;
        RecIndex remove =
            std::uniform_int_distribution<RecIndex>(0, std::min<RecIndex>(n - first, 40))(rng);
        std::vector<std::string> add(
            std::uniform_int_distribution<int>(0, round % 9 == 0 ? 3000 : 30)(rng));
        for (auto& a : add)
            a = std::string(1 + rng() % 90, static_cast<char>('a' + round % 26)) + "\r";
        auto recs = MakeRecs(add);
        store.Splice(first, remove, recs.data(), recs.size());
        model.erase(model.begin() + first, model.begin() + first + remove);
        for (std::size_t i = 0; i < add.size(); ++i)
            model.insert(model.begin() + first + static_cast<RecIndex>(i), {add[i], 0});
        for (int k = 0; k < 3 && !model.empty(); ++k) {
            auto at = static_cast<RecIndex>(rng() % model.size());
            store.SetGutterMarks(at, next);
            model[static_cast<std::size_t>(at)].second = next++;
        }
    }
    ASSERT_EQ(store.Count(), static_cast<RecIndex>(model.size()));
    TTextStore::Cursor c = store.CursorAt(0);
    for (std::size_t i = 0; i < model.size(); ++i, store.Next(c)) {
        const auto rec = static_cast<RecIndex>(i);
        ASSERT_EQ(store.Text(rec), model[i].first);
        ASSERT_EQ(store.GutterMarks(rec), model[i].second) << "record " << i;
        ASSERT_EQ(store.HasExtra(c), model[i].second != 0);
    }
}

// The records a cut by the insertion rule gives: at each CR, else after maxLen characters moved
// back off a split character; a record without CR is continued by the next one.
std::vector<std::pair<std::string, std::uint16_t>> ExpectedCut(std::string_view text,
                                                               std::size_t maxLen) {
    std::vector<std::pair<std::string, std::uint16_t>> out;
    bool continues = false;
    for (std::size_t i = 0; i < text.size();) {
        std::size_t span = std::min(maxLen, text.size() - i);
        std::size_t cr = text.substr(i, span).find('\r');
        std::size_t len = cr != std::string_view::npos ? cr + 1 : SafeCut(text.substr(i), span);
        out.push_back({std::string(text.substr(i, len)), continues ? kContinuation : 0});
        continues = cr == std::string_view::npos;
        i += len;
    }
    return out;
}

void ExpectRecords(const TTextStore& store,
                   const std::vector<std::pair<std::string, std::uint16_t>>& want) {
    ASSERT_EQ(store.Count(), static_cast<RecIndex>(want.size()));
    TextOffset off = 0;
    RecIndex breaks = 0;
    for (std::size_t i = 0; i < want.size(); ++i) {
        const auto rec = static_cast<RecIndex>(i);
        ASSERT_EQ(store.Text(rec), want[i].first) << "record " << i;
        ASSERT_EQ(store.Rec(rec).mark, want[i].second) << "record " << i;
        ASSERT_EQ((store.Rec(rec).flags & lfHasTab) != 0,
                  want[i].first.find('\t') != std::string::npos);
        ASSERT_EQ(store.Start(rec), off);
        ASSERT_EQ(store.Locate(off).rec, rec);
        off += static_cast<TextOffset>(want[i].first.size());
        breaks += want[i].first.back() == '\r';
    }
    ASSERT_EQ(store.Length(), off);
    ASSERT_EQ(store.LineBreaks(), breaks);
}

// Text appended in pieces of any size, across blocks filled by size and by record count, gives
// the records of one insertion of the whole; the record continued keeps its mark and side data.
TEST(TextStoreTest, AppendedPiecesGiveTheRecordsOfTheWholeText) {
    std::mt19937 rng(5);
    std::string text;
    while (text.size() < 400000) {
        switch (rng() % 6) {
        case 0:
            text.append(1 + rng() % 4000, 'x');
            break; // cut after maxLen
        case 1:
            text += "\xE2\x82\xAC\xF0\x9F\x98\x80";
            break; // cuts moved off characters
        case 2:
            text.append(1 + rng() % 3, '\r');
            break; // runs of short lines
        case 3:
            text += "\tindented\r";
            break;
        default:
            text.append(1 + rng() % 80, 'a').push_back('\r');
        }
    }
    text.append(9000, '\r'); // more records than a load block takes
    const auto want = ExpectedCut(text, kMaxInsertRecord);
    for (int round = 0; round < 4; ++round) {
        TTextStore store;
        for (std::size_t at = 0; at < text.size();) {
            std::size_t n = std::min<std::size_t>(text.size() - at,
                                                  round == 0 ? text.size() : 1 + rng() % 70000);
            if (round == 3) n = std::min<std::size_t>(n, 1 + rng() % 5);
            store.AppendStored(std::string_view(text).substr(at, n), kMaxInsertRecord);
            at += n;
        }
        ASSERT_NO_FATAL_FAILURE(ExpectRecords(store, want)) << "round " << round;
    }

    TTextStore store;
    store.AppendStored("one\rtwo", kMaxInsertRecord);
    store.Rec(1).mark = 3; // a bookmark on the unfinished line
    store.SetGutterMarks(1, 9);
    auto added = store.AppendStored(std::string(70000, 'y') + "\rz", kMaxInsertRecord);
    EXPECT_EQ(added.first, 1);
    EXPECT_EQ(added.last, store.Count() - 1);
    EXPECT_EQ(added.longest, kMaxInsertRecord);
    EXPECT_EQ(store.Rec(1).mark, 3);
    EXPECT_EQ(store.GutterMarks(1), 9);
    EXPECT_EQ(store.GutterMarks(2), 0);
    EXPECT_EQ(store.Rec(2).mark, kContinuation);
}

// A break split between two pieces is one break: the normaliser's bulk path for pieces without
// CR must hold back a final LF as the byte-by-byte path does.
TEST(LineBreakTest, EveryCutOfEveryBreakFormNormalisesAsTheWhole) {
    const std::string raw = "a\r\nb\nc\rd\n\re\n\nf\r\rg\n\r\nh\r\n\ri\n";
    LineBreakNormaliser whole;
    std::string want;
    whole.Feed(raw, want);
    whole.Finish(want);
    EXPECT_EQ(want, "a\rb\rc\rd\re\r\rf\r\rg\r\rh\r\ri\r");
    for (std::size_t i = 0; i <= raw.size(); ++i)
        for (std::size_t j = i; j <= raw.size(); ++j) {
            LineBreakNormaliser n;
            std::string got;
            n.Feed(std::string_view(raw).substr(0, i), got);
            n.Feed(std::string_view(raw).substr(i, j - i), got);
            n.Feed(std::string_view(raw).substr(j), got);
            n.Finish(got);
            ASSERT_EQ(got, want) << "cut at " << i << " and " << j;
            ASSERT_EQ(n.FirstBreak(), TLineEnd::leCRLF);
        }
    for (std::string_view lf : {"x\ny", "x\n", "\n\r"}) {
        LineBreakNormaliser n;
        std::string got;
        n.Feed(lf.substr(0, 2), got);
        n.Feed(lf.substr(2), got);
        n.Finish(got);
        EXPECT_EQ(n.FirstBreak(), TLineEnd::leLF) << lf;
    }
}

// Load blocks live in arena regions; a document's regions go back when it goes.
TEST(TextArenaTest, RegionsAreReturnedWhenTheirBlocksAreFreed) {
    const std::size_t before = text_arena::Regions();
    {
        TTextStore store;
        store.AppendStored(std::string(5 * 1024 * 1024, 'q') + "\r", kMaxInsertRecord);
        EXPECT_GE(text_arena::SlotsInUse(), 80u);
        EXPECT_GE(text_arena::Regions(), before + 2);
        store.Splice(0, store.Count() / 2, nullptr, 0);
        store.AppendStored("more\r", kMaxInsertRecord);
    }
    EXPECT_EQ(text_arena::Regions(), before);
}

} // namespace
} // namespace morvane::editor
