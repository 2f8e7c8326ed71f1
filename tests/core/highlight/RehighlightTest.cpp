// Re-highlighting after edits, by behaviour: where it restarts, where it stops, what OnTokenSeen
// reports, the record limit and catching up; and the highlighter slots of a control.

#include "HighlightMemoUtil.h"
#include "core/editor/CodeMemoError.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace morvane::highlight;
using namespace morvane::highlight::testing;
using morvane::editor::ECodeMemo;
using morvane::editor::RecIndex;
using morvane::editor::TextOffset;

namespace {

struct Seen {
    int value;
    TextOffset from, to;
};

class RehighlightTest : public ::testing::Test {
protected:
    // A control showing rows visible rows, holding text, highlighted with language.
    HighlightMemo& memo(const std::string& language, const std::string& text, int rows = 40) {
        m.SetClientSize(600, rows * m.FontMetrics().LineHeight());
        m.Load(text);
        m.SetParser(1, &byLanguage(list, language));
        m.OnTokenSeen = [this](morvane::editor::TCustomCodeMemo*, int v, TextOffset a,
                               TextOffset b) {
            seen.push_back({v, a, b});
        };
        return m;
    }
    // Once the pending work caught up, the bytes are those of a scan of the whole text.
    void expectFullScan(const std::string& language) {
        m.EnsureHighlightedThrough(m.LineCount());
        EXPECT_EQ(m.Attrs(), fullScan(language, m.Text())) << m.Text();
    }
    static std::string lines(int n, const std::string& line) {
        std::string s;
        for (int i = 0; i < n; ++i)
            s += line;
        return s;
    }

    Highlighters list = freshBuiltins();
    HighlightMemo m;
    std::vector<Seen> seen;
};

// --- restart point ---

TEST_F(RehighlightTest, TypingRestartsAtTheEditedRecordsStart) {
    memo("C++", lines(50, "int a = 1; // c\n"));
    seen.clear();
    TextOffset at = m.LineStart(20) + 4;
    m.Edit(at, at, "x");
    ASSERT_GE(seen.size(), 3u);
    EXPECT_EQ(seen[1].from, m.LineStart(20));
    expectFullScan("C++");
}

TEST_F(RehighlightTest, AnEditInsideAMultiLineTokenRestartsWhereTheTokenStarts) {
    // Records inside the comment start in the middle of a token: no state to restart from.
    memo("C++", "int a;\n/* one\ntwo\nthree */\nint b;\n");
    seen.clear();
    TextOffset at = m.LineStart(2) + 1;
    m.Edit(at, at, "*/");
    ASSERT_GE(seen.size(), 3u);
    EXPECT_EQ(seen[1].from, m.LineStart(1));
    expectFullScan("C++");
}

TEST_F(RehighlightTest, TheStateAtARecordsStartIsRestoredExactly) {
    // A preprocessor line and an SQL section carry state that their first character's token
    // value does not show; restarting from such a value alone would paint the rest wrongly.
    memo("C++", "#include \"my.h\" // local\n#define N 10\nEXEC SQL SELECT a\n FROM b;\nint x;\n");
    for (int line : {0, 1, 2, 3}) {
        TextOffset at = m.LineStart(line + 1) - 1;
        m.Edit(at, at, " ");
        expectFullScan("C++");
    }
}

// --- stop rule ---

TEST_F(RehighlightTest, AnEditThatLeavesTheStateAloneStopsAfterItsRecord) {
    memo("C++", lines(500, "int a = 1; /* c */\n"));
    m.EnsureHighlightedThrough(m.LineCount());
    seen.clear();
    TextOffset at = m.LineStart(250) + 4;
    m.Edit(at, at, "y");
    ASSERT_GE(seen.size(), 3u);
    EXPECT_LT(seen[seen.size() - 2].to, m.LineStart(252)); // the last token before -2, -2
    expectFullScan("C++");
}

TEST_F(RehighlightTest, AnOpenHereDocumentKeepsRehighlightingGoingUntilItCloses) {
    std::string body = lines(30, "x = 1;\n");
    memo("Perl", "my $a = 1;\nprint <<END;\n" + body + "END\n$b = 2;\n", 100);
    expectFullScan("Perl");
    // Removing the introducer turns the body into code: every body line changes.
    TextOffset at = TextOffset(m.Text().find("<<END"));
    m.Edit(at, at + 5, "");
    expectFullScan("Perl");
    // Typing it again makes it a here-document up to its terminator, and no further.
    seen.clear();
    m.Edit(at, at, "<<END");
    expectFullScan("Perl");
    EXPECT_LT(seen[seen.size() - 2].to, TextOffset(m.Text().find("$b")) + 10);
}

// --- OnTokenSeen ---

TEST_F(RehighlightTest, OnTokenSeenBracketsThePassAndReportsEveryTokenInOrder) {
    memo("C++", "int main() { return 0; }\n");
    seen.clear();
    m.Edit(0, 0, "static ");
    ASSERT_GE(seen.size(), 4u);
    EXPECT_EQ(seen.front().from, -1);
    EXPECT_EQ(seen.front().to, -1);
    EXPECT_EQ(seen.back().from, -2);
    EXPECT_EQ(seen.back().to, -2);
    auto attrs = m.Attrs();
    TextOffset expect = 0;
    for (std::size_t i = 1; i + 1 < seen.size(); ++i) {
        EXPECT_EQ(seen[i].from, expect) << i; // contiguous, at least one character each
        EXPECT_GT(seen[i].to, seen[i].from) << i;
        for (TextOffset c = seen[i].from; c < seen[i].to; ++c)
            EXPECT_EQ(attrs[std::size_t(c)], seen[i].value);
        expect = seen[i].to;
    }
    EXPECT_EQ(expect, m.TextLength());
}

// --- record limit and catching up ---

TEST_F(RehighlightTest, BeyondTheRecordLimitWorkIsPendingAndFinishedBeforeRowsShow) {
    std::string text = "<p>top</p>\n" + lines(200, "var x = \"s\"; // c\n") + "<p>end</p>\n";
    memo("HTML", text, 5);
    expectFullScan("HTML");
    const int scheduledBefore = m.scheduled;
    m.Edit(m.LineStart(1), m.LineStart(1), "<script>\n");
    // Visible rows + 2 records from the edit are done at once, the rest waits.
    EXPECT_TRUE(m.HighlightPending());
    EXPECT_GT(m.scheduled, scheduledBefore);
    auto full = fullScan("HTML", m.Text());
    auto now = m.Attrs();
    EXPECT_NE(now, full);
    std::size_t limitEnd = std::size_t(m.LineStart(1 + 5 + 2));
    EXPECT_TRUE(std::equal(full.begin(), full.begin() + std::ptrdiff_t(limitEnd), now.begin()));

    // A view scrolled down catches up to its last row first.
    m.EnsureHighlightedThrough(120);
    auto shown = m.AttrsThrough(120);
    EXPECT_TRUE(std::equal(shown.begin(), shown.end(), full.begin()));
    // Idle steps finish the rest.
    int steps = 0;
    while (m.ContinueHighlight(10))
        ASSERT_LT(++steps, 100);
    EXPECT_FALSE(m.HighlightPending());
    EXPECT_EQ(m.Attrs(), full);
}

TEST_F(RehighlightTest, PendingWorkFollowsLaterEditsAboveAndBelowIt) {
    std::string text = lines(100, "a = 1; // c\n");
    memo("JavaScript", text, 5);
    m.Edit(m.LineStart(2), m.LineStart(2), "/*\n");
    m.Edit(m.LineStart(60), m.LineStart(60), "*/\n"); // closes it far below
    ASSERT_TRUE(m.HighlightPending());
    m.Edit(0, 0, "b = 2;\n\n\n"); // shifts everything pending
    m.Edit(m.LineStart(80), m.LineStart(81), "");
    m.EnsureHighlightedThrough(m.LineCount());
    EXPECT_FALSE(m.HighlightPending());
    expectFullScan("JavaScript");
}

TEST_F(RehighlightTest, ADirtyRecordNeitherStaleNorScanStartIsForgotten) {
    memo("C++", "int a;\nint b;\n");
    auto& r = m.Store().Rec(1);
    r.flags &= ~(morvane::editor::lfStale | morvane::editor::lfHighlighterFirst);
    seen.clear();
    m.HighlightDirtyRecord(1);
    EXPECT_TRUE(seen.empty());
}

TEST_F(RehighlightTest, AHighlighterThatNeedsACustomRoutineItLacksIsNotUsed) {
    TCodeMemoParser& perl = byLanguage(list, "Perl");
    perl.engine().OnCustomParse = nullptr;
    memo("Perl", "print <<END;\nbody\nEND\n");
    EXPECT_EQ(m.Highlighter(), nullptr);
    EXPECT_EQ(m.Store().Attrs(0), nullptr);
}

// --- slots ---

TEST_F(RehighlightTest, SlotNumbersOutsideOneToSixAreRefused) {
    for (int bad : {0, 7, -1}) {
        EXPECT_THROW(
            {
                try {
                    m.Parser(bad);
                } catch (const ECodeMemo& e) {
                    EXPECT_STREQ(e.what(), "Parser index out of range");
                    throw;
                }
            },
            ECodeMemo);
        EXPECT_THROW(m.SetParser(bad, nullptr), ECodeMemo);
        EXPECT_THROW(m.SetActiveParser(bad), ECodeMemo);
    }
    EXPECT_EQ(m.ActiveParser(), 1);
}

TEST_F(RehighlightTest, SlotsAttachAndDetachTheControlFromHighlighters) {
    TCodeMemoParser& cpp = byLanguage(list, "C++");
    TCodeMemoParser& sql = byLanguage(list, "SQL");
    m.SetParser(2, &cpp);
    m.SetParser(3, &cpp);
    m.SetParser(4, &sql);
    EXPECT_THAT(cpp.Editors(), ::testing::ElementsAre(&m));
    m.SetParser(2, nullptr);
    EXPECT_EQ(cpp.Editors().size(), 1u); // still in slot 3
    m.SetParser(3, &sql);
    EXPECT_TRUE(cpp.Editors().empty());
    EXPECT_EQ(sql.Editors().size(), 1u);
}

TEST_F(RehighlightTest, TheActiveSlotsSettingsAreAppliedToTheControl) {
    TCodeMemoParser& cpp = byLanguage(list, "C++");
    TCodeMemoParser& sql = byLanguage(list, "SQL");
    cpp.settings().options = std::int32_t(morvane::editor::kInitialOptions) | 1; // line numbers
    cpp.settings().defaultTab = 3;
    cpp.settings().indentStep = 5;
    m.SetParser(2, &cpp);
    int applied = m.applied;
    m.SetParser(3, &sql); // not the active slot
    EXPECT_EQ(m.applied, applied);
    m.SetActiveParser(2);
    EXPECT_EQ(m.applied, applied + 1);
    EXPECT_EQ(&m.Settings(), &cpp.settings());
    EXPECT_EQ(m.Options(), cpp.settings().options);
    EXPECT_EQ(m.TabDefault(), 3);
    EXPECT_EQ(m.IndentStep(), 5);
    EXPECT_EQ(&m.KeyMap(), &cpp.settings().keys);
    m.SetActiveParser(5); // empty: the control's own record
    EXPECT_EQ(&m.Settings(), &m.OwnSettings());
    EXPECT_EQ(&m.KeyMap(), &m.OwnSettings().keys);
}

TEST_F(RehighlightTest, ADestroyedHighlighterLeavesEverySlotHoldingItEmpty) {
    auto doomed = std::make_unique<TCodeMemoParser>();
    doomed->compileFile(std::string(MORVANE_RESOURCES_DIR) + "/highlighters/cpp.stx");
    memo("C++", "int a;\n");
    m.SetParser(1, doomed.get());
    m.SetParser(4, doomed.get());
    doomed.reset();
    EXPECT_EQ(m.Parser(1), nullptr);
    EXPECT_EQ(m.Parser(4), nullptr);
    EXPECT_EQ(&m.Settings(), &m.OwnSettings());
    EXPECT_EQ(m.Highlighter(), nullptr);
    EXPECT_EQ(m.Store().Attrs(0), nullptr); // its token values are gone with it
    seen.clear();
    m.Edit(0, 0, "x"); // and nothing highlights
    EXPECT_TRUE(seen.empty());
}

TEST_F(RehighlightTest, SwitchingOrRecompilingTheHighlighterHighlightsAgain) {
    memo("Plain text", "int a; /* c */\n");
    auto plain = m.Attrs();
    m.SetParser(1, &byLanguage(list, "C++"));
    expectFullScan("C++");
    EXPECT_NE(m.Attrs(), plain);
    // A recompiled definition reaches the editors that use it.
    TCodeMemoParser& cpp = byLanguage(list, "C++");
    cpp.compileFile(std::string(MORVANE_RESOURCES_DIR) + "/highlighters/plaintext.stx");
    EXPECT_EQ(m.Attrs(), std::vector<std::uint8_t>(m.Attrs().size(), 0));
}

} // namespace
