// One physical line of megabytes without a line break: the caret crosses it, the status bar's
// column follows it, typing at its end works, and word wrap cuts it on and off, the same as a
// line cut while it was loaded.

#include "EditorTestUtil.h"

#include <gtest/gtest.h>

#include <memory>

namespace morvane::editor {
namespace {

using test::Load;
using test::Records;

constexpr std::size_t kLineBytes = 12u << 20; // several batches of the whole-line wrap

std::string LongLine(std::size_t bytes, std::string_view piece) {
    std::string t;
    t.reserve(bytes + piece.size());
    while (t.size() < bytes)
        t += piece;
    return t;
}

void Configure(TCustomCodeMemo& m) {
    m.SetFontMetrics(std::make_shared<TFixedMetrics>(8, 16, true));
    m.SetClientSize(800, 400);
}

// The records of one physical line: the first starts it, every other one continues it.
void ExpectOneLine(const TCustomCodeMemo& m, std::size_t maxRecord) {
    const TTextStore& s = m.Store();
    ASSERT_GT(s.Count(), 0);
    EXPECT_FALSE(s.Rec(0).mark & kContinuation);
    std::size_t longest = 0;
    for (auto c = s.CursorAt(0); !s.AtEnd(c); s.Next(c)) {
        if (c.rec > 0) {
            ASSERT_TRUE(s.Rec(c).mark & kContinuation) << "record " << c.rec;
        }
        longest = std::max<std::size_t>(longest, s.Rec(c).length);
    }
    EXPECT_LE(longest, maxRecord);
    EXPECT_EQ(m.NumberedLines(), 1);
}

TEST(LongLineTest, CaretCrossesTheLineAndTheColumnFollows) {
    TCustomCodeMemo m;
    Configure(m);
    const std::string text = LongLine(kLineBytes, "lorem ipsum dolor sit amet ");
    Load(m, text);
    ASSERT_NO_FATAL_FAILURE(ExpectOneLine(m, kMaxWrapRecord));
    const TextOffset len = m.TextLength();

    m.ExecuteCommand(ecDocEnd, 0, false);
    EXPECT_EQ(m.SelStart(), len);
    EXPECT_EQ(m.CaretPosition().line, 1);
    EXPECT_EQ(m.CaretPosition().column, len + 1);
    // The caret's row is in view, at the right column.
    EXPECT_GE(m.LineFromOffset(len), m.TopLine());
    EXPECT_LT(m.LineFromOffset(len), m.TopLine() + m.VisibleRows());
    const auto at = m.PosFromChar(len);
    EXPECT_GE(at.x, m.TextLeft());
    EXPECT_LT(at.x, 800);

    // Home and End stay on the caret's row, at its ends.
    m.ExecuteCommand(ecLineStart, 0, false);
    const TextOffset rowStart = m.LineStart(m.LineFromOffset(len));
    EXPECT_EQ(m.SelStart(), rowStart);
    EXPECT_EQ(m.CaretPosition().column, rowStart + 1);
    m.ExecuteCommand(ecLineEnd, 0, false);
    EXPECT_EQ(m.SelStart(), len - 1); // the blank at the end is skipped
    EXPECT_EQ(m.CaretPosition().column, len);

    // Typed at the end, the character joins the line and the column runs on.
    m.ExecuteCommand(ecDocEnd, 0, false);
    m.KeyPress('z');
    EXPECT_EQ(m.TextLength(), len + 1);
    EXPECT_EQ(m.SelStart(), len + 1);
    EXPECT_EQ(m.CaretPosition().column, len + 2);
    EXPECT_EQ(m.RangeText(len - 3, len + 1, tfStored), "et z");
    ASSERT_NO_FATAL_FAILURE(ExpectOneLine(m, kMaxWrapRecord));

    m.ExecuteCommand(ecDocStart, 0, false);
    EXPECT_EQ(m.SelStart(), 0);
    EXPECT_EQ(m.TopLine(), 0);
    EXPECT_EQ(m.LeftColumn(), 0);
    EXPECT_EQ(m.CaretPosition().column, 1);
    m.ExecuteCommand(ecDocEnd, 0, false);
    EXPECT_EQ(m.CaretPosition().column, len + 2);
}

// The column near the line's end is remembered; whatever changes the text before it, the tab
// stops or the encoding is counted again.
TEST(LongLineTest, TheColumnFollowsEditsTabsAndEncodingBeforeTheCaret) {
    TCustomCodeMemo m;
    Configure(m);
    const std::string text = LongLine(1u << 20, "abc ");
    Load(m, text);
    const TextOffset len = m.TextLength();
    m.ExecuteCommand(ecDocEnd, 0, false);
    ASSERT_EQ(m.CaretPosition().column, len + 1);

    // A TAB at the start takes a tab stop of cells.
    m.SetTabDefault(4);
    m.SetSelection(0, 0);
    m.KeyPress('\t');
    m.SetSelection(len + 1, len + 1);
    EXPECT_EQ(m.CaretPosition().column, len + 4 + 1);
    m.SetTabDefault(8);
    EXPECT_EQ(m.CaretPosition().column, len + 8 + 1);

    // Deleted again from another control showing the same text.
    TCustomCodeMemo other(m.SharedStore());
    Configure(other);
    other.SetSelection(0, 1);
    other.ReplaceSel("");
    EXPECT_EQ(m.SelStart(), len);
    EXPECT_EQ(m.CaretPosition().column, len + 1);

    // A character of two bytes counts one cell in UTF-8 and two in a single-byte encoding.
    m.SetSelection(0, 0);
    m.ReplaceSel("\xC3\xA9");
    m.SetEncoding(TTextEncoding::teUTF8);
    m.SetSelection(len + 2, len + 2);
    EXPECT_EQ(m.CaretPosition().column, len + 2);
    m.SetEncoding(TTextEncoding::teWindows1252);
    m.SetSelection(len + 2, len + 2);
    EXPECT_EQ(m.CaretPosition().column, len + 3);
}

// Edits before the remembered column, inside the long line and in the line before it.
TEST(LongLineTest, TheColumnFollowsEditsBeforeItInTheLineAndAboveIt) {
    TCustomCodeMemo m;
    Configure(m);
    Load(m, "head\n" + LongLine(1u << 20, "abc "));
    const TextOffset len = m.TextLength();
    const TextOffset lineStart = 5;
    auto columnAtEnd = [&] {
        m.SetSelection(m.TextLength(), m.TextLength());
        return m.CaretPosition().column;
    };
    ASSERT_EQ(columnAtEnd(), len - lineStart + 1);
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round); // the second round starts from a remembered column
        m.SetSelection(lineStart + 2, lineStart + 2);
        m.ReplaceSel("xyz");
        EXPECT_EQ(columnAtEnd(), len + 3 - lineStart + 1);
        m.SetSelection(lineStart, lineStart + 3);
        m.ReplaceSel("");
        EXPECT_EQ(columnAtEnd(), len - lineStart + 1);
        m.SetSelection(1, 1); // in the line above
        m.ReplaceSel("1234");
        EXPECT_EQ(columnAtEnd(), len - lineStart + 1);
        m.SetSelection(1, 5);
        m.ReplaceSel("");
        EXPECT_EQ(columnAtEnd(), len - lineStart + 1);
    }
    // A TAB, a character of two bytes and two cells, and the line break before the line.
    m.SetSelection(lineStart, lineStart);
    m.ReplaceSel("\t");
    EXPECT_EQ(columnAtEnd(), m.TabDefault() + len - lineStart + 1);
    m.SetSelection(lineStart, lineStart + 1);
    m.ReplaceSel("\xE6\x97\xA5");
    ASSERT_EQ(m.Encoding(), TTextEncoding::teUTF8);
    EXPECT_EQ(columnAtEnd(), 2 + len - lineStart + 1);
    m.SetSelection(lineStart, lineStart + 3);
    m.ReplaceSel("");
    EXPECT_EQ(columnAtEnd(), len - lineStart + 1);
    m.SetSelection(lineStart - 1, lineStart);
    m.ReplaceSel("");
    EXPECT_EQ(columnAtEnd(), len);
    EXPECT_EQ(m.CaretPosition().line, 1);
}

TEST(LongLineTest, WordWrapCutsTheWholeLineAsALoadWouldAndUncutsIt) {
    const std::string text = LongLine(kLineBytes, "lorem ipsum\tdolor sit amet, consectetur ");
    // Wrapped while loading: every piece is cut next to the text just read.
    TCustomCodeMemo loaded;
    Configure(loaded);
    loaded.SetOptions(loaded.Options() | smoWordWrap);
    Load(loaded, text);

    TCustomCodeMemo m;
    Configure(m);
    Load(m, text);
    m.SetOptions(m.Options() | smoWordWrap);
    ASSERT_NO_FATAL_FAILURE(ExpectOneLine(m, std::size_t(m.WrapWidth())));
    EXPECT_GT(m.LineCount(), TextOffset(kLineBytes) / m.WrapWidth());
    EXPECT_EQ(Records(m), Records(loaded));
    EXPECT_EQ(m.Text(tfStored), text);

    // Typed at the end: the text and the cuts are those of the same text wrapped afresh.
    m.ExecuteCommand(ecDocEnd, 0, false);
    const RecIndex rows = m.LineCount();
    const auto column = m.CaretPosition().column;
    for (char c : std::string_view("xyz w"))
        m.KeyPress(c);
    EXPECT_EQ(m.SelStart(), m.TextLength());
    EXPECT_LE(m.LineCount() - rows, 1);
    EXPECT_EQ(m.CaretPosition().column, column + 5);
    TCustomCodeMemo fresh;
    Configure(fresh);
    Load(fresh, text + "xyz w");
    fresh.SetOptions(fresh.Options() | smoWordWrap);
    EXPECT_EQ(Records(m), Records(fresh));

    m.SetOptions(m.Options() & ~smoWordWrap);
    ASSERT_NO_FATAL_FAILURE(ExpectOneLine(m, kMaxWrapRecord));
    EXPECT_EQ(m.Text(tfStored), text + "xyz w");
}

} // namespace
} // namespace morvane::editor
