// Word wrap, gutter and margin limits, scrolling and gutter line numbers, with fixed metrics.

#include "EditorTestUtil.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>

namespace morvane::editor {
namespace {

using test::CheckChain;
using test::Load;
using test::Records;
using test::Stored;

// 8-pixel cells, 16 pixels a row; fixed pitch unless asked otherwise.
std::shared_ptr<TFixedMetrics> Cells(bool fixed = true) {
    return std::make_shared<TFixedMetrics>(8, 16, fixed);
}

// Proportional: 'W' is twice as wide as every other character.
class WideW final : public TFixedMetrics {
public:
    WideW() : TFixedMetrics(8, 16, false) {}
    int CharPixels(unsigned char c) const override { return c == 'W' ? 16 : 8; }
};

std::vector<std::size_t> Lengths(const TCustomCodeMemo& m) {
    std::vector<std::size_t> out;
    for (const auto& r : Records(m))
        out.push_back(r.size());
    return out;
}

class WrapTest : public ::testing::Test {
protected:
    void SetUp() override {
        m.SetFontMetrics(Cells());
        m.SetClientSize(800, 400); // text left 36: 95 columns, wrap width 91
    }
    void Wrap(bool on = true) {
        m.SetOptions(on ? m.Options() | smoWordWrap : m.Options() & ~smoWordWrap);
    }
    TCustomCodeMemo m;
};

TEST_F(WrapTest, WrapWidthFollowsTheWindowWithATwentyColumnMinimum) {
    EXPECT_EQ(m.VisibleColumns(), 95);
    EXPECT_EQ(m.WrapWidth(), 91);
    m.SetClientSize(200, 400); // 20 visible columns, less 4, raised to 20
    EXPECT_EQ(m.WrapWidth(), 20);
    Load(m, std::string(50, 'a'));
    Wrap();
    EXPECT_EQ(Lengths(m), (std::vector<std::size_t>{20, 20, 10}));
    m.SetWrapAtColumn(30);
    EXPECT_EQ(Lengths(m), (std::vector<std::size_t>{30, 20}));
    m.SetWrapAtColumn(5); // below the minimum
    EXPECT_EQ(Lengths(m), (std::vector<std::size_t>{20, 20, 10}));
    TCustomCodeMemo fresh; // no window: 80 columns
    EXPECT_EQ(fresh.VisibleColumns(), 80);
    EXPECT_EQ(fresh.VisibleRows(), 40);
}

TEST_F(WrapTest, LongLineWithoutBlanksIsCutAtExactlyTheWrapWidth) {
    std::string line;
    for (int i = 0; i < 3000; ++i)
        line += static_cast<char>('a' + i % 26);
    Load(m, line + "\nnext\n");
    EXPECT_EQ(m.LineCount(), 3); // 2047 + 953 on loading, then "next"
    Wrap();
    auto recs = Records(m);
    ASSERT_EQ(recs.size(), 3000u / 91 + 1 + 1);
    for (std::size_t i = 0; i + 2 < recs.size(); ++i)
        EXPECT_EQ(recs[i].size(), 91u) << i;
    EXPECT_EQ(recs[recs.size() - 2], line.substr(3000 / 91 * 91) + "\r");
    for (RecIndex i = 1; i + 1 < m.LineCount(); ++i)
        EXPECT_EQ(m.Store().Rec(i).mark, kContinuation);
    EXPECT_EQ(m.Store().Rec(m.LineCount() - 1).mark, 0);
    EXPECT_EQ(Stored(m), line + "\rnext\r");
    CheckChain(m);
    // Off again: the line goes back to 2048-character pieces.
    Wrap(false);
    EXPECT_EQ(Lengths(m), (std::vector<std::size_t>{2048, 953, 5}));
    EXPECT_EQ(Stored(m), line + "\rnext\r");
}

TEST_F(WrapTest, PiecesEndAtWordBreaks) {
    m.SetWrapAtColumn(20);
    // The 21st character is a blank: the cut moves forward past both blanks.
    Load(m, "aaaa bbbb cccc ddddd  eeee ffff gggg hhhh iiii\n");
    Wrap();
    auto recs = Records(m);
    ASSERT_GE(recs.size(), 2u);
    EXPECT_EQ(recs[0], "aaaa bbbb cccc ddddd  ");
    // Otherwise back to just after the blank before the word that would be cut.
    EXPECT_EQ(recs[1], "eeee ffff gggg hhhh ");
    EXPECT_EQ(recs[2], "iiii\r");
    // A line that ends with blanks keeps them and its CR in the last piece.
    Load(m, std::string(20, 'x') + "   \n");
    EXPECT_EQ(Records(m), (std::vector<std::string>{std::string(20, 'x') + "   \r"}));
    // A handler decides instead.
    m.OnWordBreakProc = [](TCustomCodeMemo*, std::string_view, std::size_t start, std::size_t) {
        return start + 7;
    };
    Load(m, "aaaa bbbb cccc ddddd  eeee\n");
    EXPECT_EQ(Lengths(m), (std::vector<std::size_t>{7, 20}));
}

TEST_F(WrapTest, WrapOverrideKeepsMarkedLinesWhole) {
    m.SetClientSize(200, 400);
    std::string comment = ";" + std::string(60, 'c') + "\n";
    std::string text = comment + std::string(60, 'd') + "\n";
    Load(m, text);
    m.SetWrapOverride(";");
    m.SetOptions(m.Options() | smoWordWrap | smoWrapOverride);
    EXPECT_EQ(Lengths(m), (std::vector<std::size_t>{62, 20, 20, 21}));
    // Without the option the override characters do not count.
    m.SetOptions(m.Options() & ~smoWrapOverride);
    EXPECT_EQ(m.LineCount(), 7);
    // ">" is no longer among them.
    m.SetOptions(m.Options() | smoWrapOverride);
    Load(m, ">" + std::string(30, 'q'));
    EXPECT_EQ(m.LineCount(), 2);
}

TEST_F(WrapTest, FirstPieceKeepsTheLinesMarksAndTokens) {
    m.SetWrapAtColumn(20);
    Load(m, std::string(45, 'z') + "\nshort\n");
    TTextStore& s = m.Store();
    s.Rec(0).mark = 1 << 3; // bookmark 3
    s.SetGutterMarks(0, 5);
    s.SetLineColors(0, 0x00FF00, 0x0000FF);
    std::vector<std::uint8_t> tokens(46);
    for (std::size_t i = 0; i < tokens.size(); ++i)
        tokens[i] = static_cast<std::uint8_t>(i);
    s.SetAttrs(0, tokens.data());
    Wrap();
    ASSERT_EQ(m.LineCount(), 4);
    EXPECT_EQ(s.Rec(0).mark, 1 << 3);
    EXPECT_EQ(s.GutterMarks(0), 5);
    EXPECT_EQ(s.LineBackground(0), 0x00FF00);
    EXPECT_EQ(s.Rec(1).mark, kContinuation);
    EXPECT_EQ(s.GutterMarks(1), 0);
    EXPECT_EQ(s.LineBackground(1), -1);
    EXPECT_TRUE(s.Rec(1).flags & lfStale);
    // Token values travel with their characters.
    ASSERT_NE(s.Attrs(2), nullptr);
    EXPECT_EQ(s.Attrs(1)[0], 20);
    EXPECT_EQ(s.Attrs(2)[5], 45);
    Wrap(false);
    ASSERT_EQ(m.LineCount(), 2);
    EXPECT_EQ(s.Rec(0).mark, 1 << 3);
    EXPECT_EQ(s.GutterMarks(0), 5);
    ASSERT_NE(s.Attrs(0), nullptr);
    EXPECT_EQ(s.Attrs(0)[44], 44);
}

TEST_F(WrapTest, TabsAndProportionalFontsAreMeasured) {
    m.SetWrapAtColumn(20);
    // With TABs a piece takes characters until their width reaches 20 - 4 columns.
    Load(m, "\tabcdefghijkl mnopqrstuvwxyz\n");
    Wrap();
    EXPECT_EQ(Records(m)[0], "\tabcdefghijkl ");
    // Proportional: 160 pixels hold ten 'W's, or twenty other characters.
    m.SetFontMetrics(std::make_shared<WideW>());
    Load(m, std::string(25, 'W') + "\n" + std::string(25, 'i') + "\n");
    EXPECT_EQ(Lengths(m), (std::vector<std::size_t>{10, 10, 6, 20, 6}));
}

TEST_F(WrapTest, EditsAndWidthChangesRewrap) {
    m.SetClientSize(200, 400); // wrap width 20
    Load(m, "one two three four five six seven eight nine ten\n");
    Wrap();
    RecIndex before = m.LineCount();
    m.SetSelection(0, 0);
    m.ReplaceSel("prefix prefix prefix ");
    EXPECT_GT(m.LineCount(), before);
    CheckChain(m);
    EXPECT_EQ(Stored(m), "prefix prefix prefix one two three four five six seven eight nine ten\r");
    // A wider window re-wraps while no wrap column is set.
    m.SetClientSize(800, 400);
    EXPECT_EQ(m.LineCount(), 1);
    m.SetWrapAtColumn(25);
    RecIndex at25 = m.LineCount();
    m.SetClientSize(300, 400);
    EXPECT_EQ(m.LineCount(), at25);
}

TEST_F(WrapTest, RandomEditsKeepTheTextAndTheChainSound) {
    m.SetClientSize(240, 400);
    Wrap();
    std::mt19937 rng(6);
    std::string model;
    const char alphabet[] = "ab c\t\n  xyzW";
    for (int step = 0; step < 400; ++step) {
        TextOffset len = m.TextLength();
        std::uniform_int_distribution<TextOffset> pos(0, len);
        TextOffset a = pos(rng), b = pos(rng);
        if (a > b) std::swap(a, b);
        if (rng() % 3 == 0) b = a;
        std::string ins;
        int n = static_cast<int>(rng() % 40);
        for (int i = 0; i < n; ++i)
            ins += alphabet[rng() % (sizeof alphabet - 1)];
        m.SetSelection(a, b);
        m.ReplaceSel(ins);
        model = model.substr(0, a) + test::RefNormalise(ins) + model.substr(b);
        ASSERT_EQ(Stored(m), model) << step;
        ASSERT_NO_FATAL_FAILURE(CheckChain(m)) << step;
        if (step % 50 == 0) m.SetWrapAtColumn(20 + step % 30);
    }
}

TEST(GutterTest, GutterAndMarginStayWithinTheirLimits) {
    TCustomCodeMemo m;
    m.SetFontMetrics(Cells());
    m.SetGutter(50); // no width yet
    EXPECT_EQ(m.Gutter(), 34);
    m.SetClientSize(300, 200);
    m.SetGutter(20);
    EXPECT_EQ(m.Gutter(), 34);
    m.SetGutter(100); // above 20 % of 300
    EXPECT_EQ(m.Gutter(), 34);
    m.SetGutter(60);
    EXPECT_EQ(m.Gutter(), 60);
    EXPECT_EQ(m.TextLeft(), 62);
    m.SetGutter(0);
    EXPECT_EQ(m.Gutter(), 0);
    EXPECT_EQ(m.TextLeft(), 2);
    m.SetMargin(30); // not wider than a character
    EXPECT_EQ(m.Margin(), 8);
    m.SetOptions(m.Options() & ~smoShowGutter);
    m.SetGutter(40);
    EXPECT_EQ(m.TextLeft(), 8);
}

TEST(ScrollTest, VerticalScrollBarStaysBelow32000Steps) {
    TCustomCodeMemo m;
    m.SetFontMetrics(Cells());
    m.SetClientSize(400, 160);
    std::string text;
    for (int i = 0; i < 100000; ++i)
        text += "l\n";
    Load(m, text);
    TScrollInfo s = m.ScrollInfo();
    EXPECT_EQ(s.factor, 4);
    EXPECT_EQ(s.vMax, 99999 / 4);
    EXPECT_LT(s.vMax, 32000);
    m.VScrollTo(1000);
    EXPECT_EQ(m.TopLine(), 4000);
    EXPECT_EQ(m.ScrollInfo().vPos, 1000);
    Load(m, "short\n");
    EXPECT_EQ(m.ScrollInfo().factor, 1);
}

TEST(ScrollTest, CaretIsBroughtIntoViewInStepsOfEightColumns) {
    TCustomCodeMemo m;
    m.SetFontMetrics(Cells());
    m.SetClientSize(36 + 8 * 20, 160); // 20 columns, 10 rows
    std::string text(100, 'x');
    text += "\n";
    for (int i = 0; i < 30; ++i)
        text += "row\n";
    Load(m, text);
    m.SetSelection(25, 25);
    m.ScrollToCaret();
    EXPECT_EQ(m.LeftColumn(), 8);
    m.SetSelection(3, 3);
    m.ScrollToCaret();
    EXPECT_EQ(m.LeftColumn(), 0);
    m.SetSelection(m.LineStart(20), m.LineStart(20));
    m.ScrollToCaret();
    EXPECT_EQ(m.TopLine(), 11);
    // A wheel handler can take the notch.
    bool asked = false;
    m.OnMouseWheelDown = [&](TCustomCodeMemo*, bool& handled) { asked = handled = true; };
    EXPECT_FALSE(m.WheelNotch(false));
    EXPECT_TRUE(asked);
    EXPECT_EQ(m.TopLine(), 11);
    EXPECT_TRUE(m.WheelNotch(true));
    EXPECT_EQ(m.TopLine(), 10);
}

TEST(LineNumberTest, ContinuationsAndBookmarkedLinesShowNoNumber) {
    TCustomCodeMemo m;
    m.SetFontMetrics(Cells());
    m.SetClientSize(36 + 8 * 24, 16 * 20); // wrap width 20
    Load(m, "first\n" + std::string(50, 'w') + "\nthird\nfourth\nfifth\n");
    m.SetOptions(m.Options() | smoWordWrap | smoLineNumbers);
    m.Store().Rec(4).mark |= 1; // bookmark 0 on "third"
    auto rows = m.LayoutRows();
    ASSERT_EQ(rows.size(), 7u);
    std::vector<RecIndex> numbers;
    for (const auto& r : rows)
        numbers.push_back(r.lineNumber);
    EXPECT_EQ(numbers, (std::vector<RecIndex>{1, 2, 0, 0, 0, 4, 5}));
    EXPECT_TRUE(rows[2].continuation);
    // Scrolled: the count of physical lines before the top record.
    m.SetTopLine(5);
    EXPECT_EQ(m.LayoutRows()[0].lineNumber, 4);
    EXPECT_EQ(m.PhysicalLineNumber(6), 5);
    EXPECT_EQ(m.PhysicalLineNumber(2), 2);
    // An edit above the top changes the numbers below.
    m.SetSelection(0, 0);
    m.ReplaceSel("new\n");
    EXPECT_EQ(m.PhysicalLineNumber(6), 5);
}

// Where a user reads or types a line number, lines are the text's lines: wrapped rows and the
// records of a long line count once, and the column runs on across them (TAB stops included).
TEST_F(WrapTest, CaretPositionAndGoToCountTheTextsLines) {
    std::string text;
    for (int i = 1; i <= 10; ++i)
        text += std::to_string(i) + (i % 3 ? std::string(150, 'x') : "") + "\n";
    Load(m, text + "end");
    Wrap();
    ASSERT_GT(m.LineCount(), 11); // the long lines take two rows each
    m.SetSelection(m.TextLength(), m.TextLength());
    EXPECT_EQ(m.CaretPosition().line, 11);
    EXPECT_EQ(m.CaretPosition().column, 4);
    // The painter's remembered count (here a row in the middle) is a starting point only.
    const RecIndex middle = m.RecordOfLine(5) + 1; // the second row of line 5
    ASSERT_TRUE(m.Store().Rec(middle).mark & kContinuation);
    ASSERT_EQ(m.PhysicalLineNumber(middle), 5);
    m.GoToPosition(1, 10);
    EXPECT_EQ(m.CaretPosition().line, 10);
    EXPECT_EQ(m.CaretPosition().column, 1);
    EXPECT_EQ(m.SelText(), "");
    EXPECT_EQ(m.Text().substr(m.SelStart(), 3), "10x");
    // A column in the line's second row.
    m.GoToPosition(120, 8);
    EXPECT_EQ(m.CaretPosition().line, 8);
    EXPECT_EQ(m.CaretPosition().column, 120);
    EXPECT_EQ(m.Text().substr(m.SelStart() - 119, 2), "8x");
    // Past the last line: its end; the same numbers without wrapping.
    m.GoToPosition(1, 99);
    EXPECT_EQ(m.CaretPosition().line, 11);
    Wrap(false);
    m.GoToPosition(120, 8);
    EXPECT_EQ(m.CaretPosition().line, 8);
    EXPECT_EQ(m.CaretPosition().column, 120);

    // A TAB at the start of a second row reaches the stop counted from the line's start.
    m.SetClientSize(36 + 8 * 24, 400); // wrap width 20
    Load(m, std::string(19, 'a') + " \tb\n" + std::string(3000, 'c') + "\nz");
    Wrap();
    m.GoToPosition(22, 1); // the 'b'
    EXPECT_EQ(m.CaretPosition().column, 25);
    // Without wrapping a 3000-character line still takes two records: one line.
    Wrap(false);
    m.GoToPosition(1, 3);
    EXPECT_EQ(m.CaretPosition().line, 3);
    EXPECT_EQ(m.Text().substr(m.SelStart()), "z");
}

// With line numbers on, the gutter grows to hold the largest number whole.
TEST(GutterTest, GutterWidensForTheDigitsOfTheLastLine) {
    TCustomCodeMemo m;
    m.SetFontMetrics(Cells());
    m.SetClientSize(800, 400);
    m.SetOptions(m.Options() | smoLineNumbers);
    m.SetGutterDigitWidth(7);
    Load(m, "a\nb\n");
    EXPECT_EQ(m.GutterWidth(), 34); // the set width holds small numbers
    std::string text;
    for (int i = 0; i < 100000; ++i)
        text += "l\n";
    Load(m, text);
    m.FitGutter();
    EXPECT_EQ(m.GutterWidth(), 6 * 7 + TCustomCodeMemo::kGutterPadding);
    EXPECT_EQ(m.TextLeft(), m.GutterWidth() + m.Margin());
    m.SetOptions(m.Options() & ~smoLineNumbers);
    EXPECT_EQ(m.GutterWidth(), 34);
    // Typing the line that makes a fifth digit re-wraps to the narrower text area.
    m.SetOptions(m.Options() | smoLineNumbers | smoWordWrap);
    EXPECT_EQ(m.GutterWidth(), 6 * 7 + TCustomCodeMemo::kGutterPadding);
    Load(m, "x"); // a short text narrows it again
    EXPECT_EQ(m.GutterWidth(), 34);
    text.clear();
    for (int i = 0; i < 9998; ++i)
        text += "l\n";
    Load(m, text + std::string(91, 'q')); // one row of 91 columns beside a 4-digit gutter
    m.FitGutter();
    const RecIndex before = m.LineCount();
    ASSERT_EQ(before, 9999);
    m.SetSelection(0, 0);
    m.ReplaceSel("\n");
    EXPECT_EQ(m.GutterWidth(), 5 * 7 + TCustomCodeMemo::kGutterPadding);
    EXPECT_EQ(m.LineCount(), before + 2); // the long last line now takes two rows
}

// The gutter counts the digits of the last line's number, not the records: wrapped rows and
// a final line break add none, and crossing a power of ten widens or narrows it at once.
TEST(GutterTest, GutterFollowsTheDigitsOfTheLineCount) {
    TCustomCodeMemo m;
    m.SetFontMetrics(Cells());
    m.SetClientSize(800, 400);
    m.SetOptions(m.Options() | smoLineNumbers);
    m.SetGutterDigitWidth(30); // one digit: 38 pixels, above the set width of 34
    auto width = [](int digits) { return digits * 30 + TCustomCodeMemo::kGutterPadding; };
    Load(m, "x");
    EXPECT_EQ(m.GutterWidth(), width(1));
    std::string nine;
    for (int i = 1; i <= 9; ++i)
        nine += std::string(150, 'a') + "\n"; // each line wraps into two rows below
    Load(m, nine);
    EXPECT_EQ(m.NumberedLines(), 9);
    EXPECT_EQ(m.GutterWidth(), width(1));
    m.SetOptions(m.Options() | smoWordWrap);
    ASSERT_GE(m.LineCount(), 18);
    m.FitGutter();
    EXPECT_EQ(m.GutterWidth(), width(1)) << "rows of wrapped lines have no numbers";
    m.SetSelection(m.TextLength(), m.TextLength());
    m.ReplaceSel("z"); // the tenth line
    EXPECT_EQ(m.NumberedLines(), 10);
    EXPECT_EQ(m.GutterWidth(), width(2));
    m.Undo();
    EXPECT_EQ(m.GutterWidth(), width(1));

    std::string lines;
    for (int i = 0; i < 98; ++i)
        lines += "l\n";
    Load(m, lines + "last"); // 99 lines
    EXPECT_EQ(m.GutterWidth(), width(2));
    m.SetSelection(0, 0);
    m.ReplaceSel("\n");
    EXPECT_EQ(m.NumberedLines(), 100);
    EXPECT_EQ(m.GutterWidth(), width(3));
    m.SetSelection(0, 1);
    m.ReplaceSel("");
    EXPECT_EQ(m.GutterWidth(), width(2));
}

// A text that fits the window has nothing to scroll; one a row longer has.
TEST(ScrollTest, ATextThatFitsHasNoVerticalRange) {
    TCustomCodeMemo m;
    m.SetFontMetrics(Cells());
    m.SetClientSize(400, 16 * 10);
    Load(m, "1\n2\n3\n4\n5\n6\n7\n8\n9");
    EXPECT_EQ(m.ScrollInfo().vMax, 0);
    Load(m, "1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n");
    EXPECT_GT(m.ScrollInfo().vMax, 0);
    Load(m, "a\nb\nc\n");
    m.SetTopLine(1); // scrolled by the wheel: the way back stays
    EXPECT_GT(m.ScrollInfo().vMax, 0);
}

TEST(ChangeTest, CaretMoveRaisesOnChange) {
    TCustomCodeMemo m;
    Load(m, "abc\ndef\n");
    int changes = 0;
    m.OnChange = [&](TCustomCodeMemo*) { ++changes; };
    m.ExecuteCommand(ecCursorRight, 0, false);
    EXPECT_EQ(changes, 1);
    m.ExecuteCommand(ecLineDown, 0, false);
    EXPECT_EQ(changes, 2);
    m.SetSelection(1, 1);
    m.NotifyChange();
    EXPECT_EQ(changes, 3);
    m.NotifyChange(); // nothing changed since
    EXPECT_EQ(changes, 3);
}

} // namespace
} // namespace morvane::editor
