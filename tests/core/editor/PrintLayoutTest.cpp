// Which lines are printed, their numbers, wrapping or cutting, and the page frame.

#include "core/editor/PrintLayout.h"
#include "EditorTestUtil.h"

#include <gtest/gtest.h>

namespace morvane::editor {
namespace {

using test::Load;

TEST(PrintLayoutTest, SelectionPrintsTheWholeLinesItTouches) {
    TCustomCodeMemo m;
    Load(m, "one\ntwo\nthree\nfour\n");
    m.SetSelection(5, 8); // from inside "two" to the start of "three"
    EXPECT_EQ(PrintRange(m, true), (std::pair<RecIndex, RecIndex>{1, 1}));
    m.SetSelection(5, 9);
    EXPECT_EQ(PrintRange(m, true), (std::pair<RecIndex, RecIndex>{1, 2}));
    EXPECT_EQ(PrintRange(m, false), (std::pair<RecIndex, RecIndex>{0, 3}));
    TFixedMetrics cells(10, 20, true);
    auto rows = PrintRows(m, true, cells, 1000);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].lineNumber, 2);
    EXPECT_EQ(rows[1].text, "three");
    TCustomCodeMemo empty;
    EXPECT_TRUE(PrintRows(empty, false, cells, 1000).empty());
}

TEST(PrintLayoutTest, LongLinesWrapOrAreCut) {
    TCustomCodeMemo m;
    // A wrapped line in the view is still one printed line with one number.
    m.SetOptions(m.Options() | smoWordWrap);
    m.SetWrapAtColumn(20);
    Load(m, "alpha beta gamma delta epsilon zeta eta theta\n\tx\n");
    ASSERT_GT(m.LineCount(), 2);
    TFixedMetrics cells(10, 20, true);
    // 10 line-number columns + 20 text columns.
    auto rows = PrintRows(m, false, cells, 300);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0].text, "alpha beta gamma ");
    EXPECT_EQ(rows[0].lineNumber, 1);
    EXPECT_EQ(rows[1].lineNumber, 0);
    EXPECT_EQ(rows[2].text, "eta theta");
    EXPECT_EQ(rows[3].text, "    x"); // TAB expanded
    EXPECT_EQ(rows[3].lineNumber, 2);
    m.SetOptions(m.Options() & ~smoPrintWrap);
    rows = PrintRows(m, false, cells, 300);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].text, "alpha beta gamma del");
    // Without numbers the whole width holds text.
    m.SetOptions(m.Options() & ~smoPrintLineNos);
    EXPECT_EQ(PrintRows(m, false, cells, 300)[0].text.size(), 30u);
}

TEST(PrintLayoutTest, FurnitureTakesRowsAtTopAndBottom) {
    EXPECT_EQ(LineNumberColumn(42), "    42:   ");
    EXPECT_EQ(LineNumberColumn(0), "          ");
    EXPECT_EQ(LineNumberColumn(1234567890), "1234567890:"); // never cut
    EXPECT_EQ(PageNumberText(3), "- 3 -");
    TPageFrame f = PageFrame(kInitialOptions, 0, 1000, 10);
    EXPECT_TRUE(f.header);
    EXPECT_EQ(f.headerRule, 20);
    EXPECT_EQ(f.textTop, 30);
    EXPECT_EQ(f.footerRule, 970);
    EXPECT_EQ(f.pageNumberTop, 975);
    EXPECT_EQ(f.textBottom, 960);
    EXPECT_EQ(f.RowsPerPage(10), 93);
    f = PageFrame(kInitialOptions & ~(smoPrintFilename | smoPrintDate | smoPrintPageNos), 0, 1000,
                  10);
    EXPECT_FALSE(f.header || f.footer);
    EXPECT_EQ(f.RowsPerPage(10), 100);
    f = PageFrame(smoPrintDate, 0, 1000, 10);
    EXPECT_EQ(f.textTop, 30);
    EXPECT_EQ(f.textBottom, 1000);
}

} // namespace
} // namespace morvane::editor
