// Finding past the end of the text (wrap around), replace all over the whole document, and the
// marks and count of every match: the marks of a range against a brute-force scan, the count
// whatever size its slices are.

#include "core/editor/CustomCodeMemo.h"
#include "core/editor/Streams.h"
#include "core/highlight/CodeMemoSearch.h"
#include "core/highlight/MatchMarks.h"
#include "core/platform/FakeUi.h"

#include <gtest/gtest.h>

#include <random>

using namespace morvane::highlight;
using morvane::editor::TCustomCodeMemo;
using morvane::editor::TextOffset;
using morvane::platform::FakeDialogs;

namespace {

struct WrapFixture : ::testing::Test {
    TCustomCodeMemo memo;
    FakeDialogs dialogs;
    TCodeMemoSearch search{memo};

    WrapFixture() {
        memo.SetDialogs(&dialogs);
        search.dialogs = &dialogs;
    }
    void Load(std::string_view text) {
        morvane::editor::TFastMemoryStream s(text);
        memo.LoadFromStream(s);
        memo.SetSelection(0, 0);
    }
    static TSearchRequest Request(std::string text, bool wrap, bool down = true,
                                  bool regExpr = false) {
        TSearchRequest r;
        r.text = std::move(text);
        r.wrap = wrap;
        r.down = down;
        r.regExpr = regExpr;
        return r;
    }
};

TEST_F(WrapFixture, FindGoesOnFromTheOtherEndOnlyWithWrapAround) {
    Load("needle one\nneedle two\nthree");
    for (bool regExpr : {false, true}) {
        SCOPED_TRACE(regExpr ? "regular expression" : "plain");
        memo.SetSelection(0, 0);
        search.ForgetLastFound();
        const std::string text = regExpr ? "ne+dle" : "needle";
        EXPECT_EQ(search.Find(Request(text, false, true, regExpr)), TSearchOutcome::Found);
        EXPECT_EQ(search.Find(Request(text, false, true, regExpr)), TSearchOutcome::Found);
        EXPECT_EQ(memo.SelStart(), 11);
        dialogs.shown.clear();
        EXPECT_EQ(search.Find(Request(text, false, true, regExpr)), TSearchOutcome::NotFound);
        EXPECT_EQ(dialogs.shown.size(), 1u);
        EXPECT_EQ(memo.SelStart(), 11) << "the classic search stays on the last match";

        dialogs.shown.clear();
        EXPECT_EQ(search.Find(Request(text, true, true, regExpr)), TSearchOutcome::Found);
        EXPECT_TRUE(search.Wrapped());
        EXPECT_EQ(memo.SelStart(), 0);
        EXPECT_EQ(memo.SelText(), "needle");
        EXPECT_TRUE(dialogs.shown.empty());
        // Searching up from the first match wraps to the last one.
        EXPECT_EQ(search.Find(Request(text, true, false, regExpr)), TSearchOutcome::Found);
        EXPECT_TRUE(search.Wrapped());
        EXPECT_EQ(memo.SelStart(), 11);
        EXPECT_EQ(search.Find(Request(text, true, false, regExpr)), TSearchOutcome::Found);
        EXPECT_FALSE(search.Wrapped());
        EXPECT_EQ(memo.SelStart(), 0);
    }
}

TEST_F(WrapFixture, WrappingWithOneMatchOrNoneAndFromTheEnd) {
    Load("abc needle xyz");
    search.Find(Request("needle", true));
    EXPECT_EQ(memo.SelStart(), 4);
    EXPECT_EQ(search.Find(Request("needle", true)), TSearchOutcome::Found);
    EXPECT_EQ(memo.SelStart(), 4) << "the only match, found again";
    EXPECT_TRUE(search.Wrapped());

    // The caret at the very end: the search starts over at the top.
    memo.SetSelection(memo.TextLength(), memo.TextLength());
    EXPECT_EQ(search.Find(Request("abc", true)), TSearchOutcome::Found);
    EXPECT_EQ(memo.SelStart(), 0);

    // Nowhere: one report, and the selection stays.
    dialogs.shown.clear();
    memo.SetSelection(5, 7);
    EXPECT_EQ(search.Find(Request("missing", true)), TSearchOutcome::NotFound);
    EXPECT_EQ(search.Find(Request("m.ss", true, false, true)), TSearchOutcome::NotFound);
    EXPECT_EQ(dialogs.shown.size(), 2u);
    EXPECT_EQ(memo.SelStart(), 5);
    EXPECT_EQ(memo.SelLength(), 2);
}

TEST_F(WrapFixture, FindNextKeepsTheWrapOfTheLastSearch) {
    Load("x1 x2");
    search.Find(Request("x", true));
    EXPECT_TRUE(search.FindNext());
    EXPECT_EQ(memo.SelStart(), 3);
    EXPECT_TRUE(search.FindNext());
    EXPECT_EQ(memo.SelStart(), 0);
    EXPECT_TRUE(search.Flags() & sfWrapAround);
}

TEST_F(WrapFixture, ReplaceAllOverTheWholeDocumentOrFromTheCaret) {
    Load("x x x x");
    memo.SetSelection(4, 4);
    TSearchRequest r = Request("x", false);
    EXPECT_EQ(search.Replace(r, "y", true), 2);
    EXPECT_EQ(memo.Text(), "x x y y");
    ASSERT_TRUE(memo.Undo());
    memo.SetSelection(4, 4);
    search.ForgetLastFound();
    r.wholeDocument = true;
    EXPECT_EQ(search.Replace(r, "y", true), 4);
    EXPECT_EQ(memo.Text(), "y y y y");
    ASSERT_TRUE(memo.Undo()); // one step
    EXPECT_EQ(memo.Text(), "x x x x");
    // After a find in the middle, the whole document still means from the top.
    search.Find(Request("x", false));
    EXPECT_EQ(search.Replace(r, "z", true), 4);
    EXPECT_EQ(memo.Text(), "z z z z");
}

// --- marks and count ---

struct MarksFixture : WrapFixture {
    TMatchMarks marks{memo};

    // Non-overlapping matches from the top, as replace all takes them.
    static std::vector<TMatchMarks::Range> Naive(const std::string& text, const std::string& pat,
                                                 bool matchCase) {
        std::vector<TMatchMarks::Range> out;
        for (std::size_t i = 0; i + pat.size() <= text.size();) {
            bool same = true;
            for (std::size_t k = 0; same && k < pat.size(); ++k)
                same = matchCase ? text[i + k] == pat[k]
                                 : FoldCase(static_cast<unsigned char>(text[i + k])) ==
                                       FoldCase(static_cast<unsigned char>(pat[k]));
            if (same) {
                out.push_back({TextOffset(i), TextOffset(i + pat.size())});
                i += pat.size();
            } else {
                ++i;
            }
        }
        return out;
    }
};

TEST_F(MarksFixture, TheMarksOfARangeAreTheMatchesThatOverlapIt) {
    std::mt19937 rng(7);
    std::string text;
    for (int i = 0; i < 300000; ++i)
        text += "abAB\r "[rng() % 6];
    Load(text);
    const std::string stored = memo.Text();
    for (bool matchCase : {false, true}) {
        TSearchRequest r = Request("aBa", false);
        r.matchCase = matchCase;
        marks.SetRequest(r);
        const auto all = Naive(stored, "aBa", matchCase);
        for (TextOffset from :
             {TextOffset(0), TextOffset(1), TextOffset(70001), TextOffset(299990)}) {
            const TextOffset to = std::min<TextOffset>(from + 3000, memo.TextLength());
            std::vector<TMatchMarks::Range> want;
            for (const auto& m : all)
                if (m.end > from && m.start < to) want.push_back(m);
            EXPECT_EQ(marks.Visible(from, to), want) << "from " << from;
        }
    }
}

TEST_F(MarksFixture, MarksAreKeptUntilTheTextOrTheRangeChanges) {
    Load("foo bar foo\nfoo");
    TSearchRequest r = Request("foo", false);
    marks.SetRequest(r);
    EXPECT_EQ(marks.Visible(0, 15).size(), 3u);
    marks.Visible(0, 15);
    EXPECT_EQ(marks.VisibleSearches(), 1u);
    memo.SetSelection(0, 0);
    memo.ReplaceSel("x");
    ASSERT_EQ(marks.Visible(0, 16).size(), 3u);
    EXPECT_EQ(marks.Visible(0, 16)[0].start, 1);
    EXPECT_EQ(marks.VisibleSearches(), 2u);
    // Whole words, and an empty or broken request marks nothing.
    r.wholeWord = true;
    r.text = "oo";
    marks.SetRequest(r);
    EXPECT_TRUE(marks.Visible(0, 16).empty());
    r.text = "[";
    r.wholeWord = false;
    r.regExpr = true;
    marks.SetRequest(r);
    EXPECT_FALSE(marks.Active());
    EXPECT_TRUE(marks.Visible(0, 16).empty());
    r.text = "^fo+";
    marks.SetRequest(r);
    ASSERT_EQ(marks.Visible(0, 16).size(), 1u) << "the line start anchors the second line only";
    EXPECT_EQ(marks.Visible(0, 16)[0].start, 12); // the dialect's ^ takes the CR before the line
}

TEST_F(MarksFixture, TheCountIsTheSameWhateverTheSlicesAndStartsAgainAfterAnEdit) {
    std::mt19937 rng(11);
    std::string text;
    for (int i = 0; i < 200000; ++i)
        text += "aab\r"[rng() % 4];
    Load(text);
    const std::string stored = memo.Text();
    for (const char* pattern : {"aa", "aab\r", "b"}) {
        const auto want = static_cast<long long>(Naive(stored, pattern, true).size());
        for (std::size_t slice :
             {std::size_t(1), std::size_t(7), std::size_t(4096), std::size_t(1) << 30}) {
            TSearchRequest r = Request(pattern, false);
            r.matchCase = true;
            marks.SetRequest(Request("", false)); // a new request starts the count again
            marks.SetRequest(r);
            int steps = 0;
            while (!marks.CountStep(slice) && steps < 1000000)
                ++steps;
            EXPECT_TRUE(marks.Counted());
            EXPECT_EQ(marks.Count(), want) << pattern << " in slices of " << slice;
        }
    }
    // A regular expression is counted by lines; an edit starts the count again.
    marks.SetRequest(Request("a+b", false, true, true));
    while (!marks.CountStep(5000)) {
    }
    const long long before = marks.Count();
    memo.SetSelection(0, 0);
    memo.ReplaceSel("ab\r");
    EXPECT_FALSE(marks.Counted());
    while (!marks.CountStep(5000)) {
    }
    EXPECT_EQ(marks.Count(), before + 1);
}

TEST_F(MarksFixture, TheCountStopsAtItsLimit) {
    Load(std::string(TMatchMarks::kCountLimit + 10, 'a'));
    marks.SetRequest(Request("a", false));
    while (!marks.CountStep(1 << 20)) {
    }
    EXPECT_EQ(marks.Count(), TMatchMarks::kCountLimit);
}

} // namespace
