// The bracket pair beside the caret and the caret's line, as the view paints them.
#include "gui/editor/CodeMemo.h"
#include "support/QtTestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>

namespace morvane::editor {
namespace {

class EditAidsPaint : public ::testing::Test {
protected:
    static void SetUpTestSuite() { morvane::testing::qtApp(); }
    void SetUp() override {
        memo.resize(400, 200);
        memo.SetDefBackColor(Qt::white);
        memo.Lines().SetText("f(a) {\n  x;\n}\n");
        memo.show();
        QApplication::processEvents();
    }
    // Pixels of a colour in each text row.
    std::vector<int> RowsWith(const QColor& colour) {
        QImage image = memo.viewport()->grab().toImage();
        const int lh = memo.FontMetrics().LineHeight();
        std::vector<int> rows(3, 0);
        for (int y = 0; y < 3 * lh; ++y)
            for (int x = memo.TextLeft(); x < image.width(); ++x)
                if (image.pixelColor(x, y) == colour) ++rows[std::size_t(y / lh)];
        return rows;
    }
    TCodeMemo memo;
};

TEST_F(EditAidsPaint, TheBracketPairBesideTheCaretIsTinted) {
    const QColor match = memo.BracketMatchColor;
    memo.SetSelection(9, 9); // inside "  x;": no bracket beside it
    auto none = RowsWith(match);
    EXPECT_EQ(none, (std::vector<int>{0, 0, 0}));
    memo.SetSelection(5, 5); // before "{"
    auto pair = RowsWith(match);
    EXPECT_GT(pair[0], 0);
    EXPECT_EQ(pair[1], 0);
    EXPECT_GT(pair[2], 0) << "the partner on the third line";
    memo.SetSelection(4, 4); // after ")"
    auto round = RowsWith(match);
    EXPECT_GT(round[0], pair[0]) << "both round brackets on the first line";
    EXPECT_EQ(round[2], 0);
}

TEST_F(EditAidsPaint, TheCaretsLineIsTintedWhenTheSettingIsOn) {
    memo.SetSelection(9, 9);
    EXPECT_EQ(RowsWith(memo.CurrentLineColor), (std::vector<int>{0, 0, 0}));
    memo.SetOptions(memo.Options() | smoHighlightLine);
    auto rows = RowsWith(memo.CurrentLineColor);
    EXPECT_EQ(rows[0], 0);
    EXPECT_GT(rows[1], 100);
    EXPECT_EQ(rows[2], 0);
}

} // namespace
} // namespace morvane::editor
