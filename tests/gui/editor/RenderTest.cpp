// The view painted offscreen: token colours, gutter numbers, selection, line colours, caret.

#include "gui/editor/CodeMemo.h"
#include "support/QtTestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFontInfo>
#include <QFontMetrics>
#include <QImage>

#include <functional>

namespace morvane::editor {
namespace {

using highlight::StyleEffect;

class RenderTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { morvane::testing::qtApp(); }

    // Text with token values as a highlighter would store them: "int" 5, "42" 6.
    void SetUp() override {
        memo.resize(420, 220);
        memo.Lines().SetText("int x = 42;\nfoo bar\nthird\n");
        auto& s = memo.Settings();
        StyleEffect keyword;
        keyword.fontStyle = highlight::fsBoldBit;
        keyword.foreground = 0x0000FF; // red, as 0x00BBGGRR
        keyword.background = 0xFFFFFF;
        s.setEffect(1, keyword);
        StyleEffect number;
        number.foreground = 0x000000;
        number.background = 0xFF0000; // blue
        s.setEffect(2, number);
        s.setStyleOfToken(5, 1);
        s.setStyleOfToken(6, 2);
        highlight::GutterFont gf = s.gutterFont();
        gf.color = 0x00C000; // green numbers
        gf.size = 9;
        s.setGutterFont(gf);
        std::vector<std::uint8_t> tokens(12, 0);
        tokens[0] = tokens[1] = tokens[2] = 5;
        tokens[8] = tokens[9] = 6;
        memo.Store().SetAttrs(0, tokens.data());
        memo.SetOptions(memo.Options() | smoLineNumbers);
        memo.show();
        QApplication::processEvents();
        cw = memo.FontMetrics().CharWidth();
        lh = memo.FontMetrics().LineHeight();
    }

    QImage Grab() {
        QApplication::processEvents();
        return memo.viewport()->grab().toImage();
    }

    // Pixels in a rectangle of the image that satisfy a test.
    static int Count(const QImage& img, QRect r, const std::function<bool(QColor)>& test) {
        int n = 0;
        r = r.intersected(img.rect());
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                if (test(img.pixelColor(x, y))) ++n;
        return n;
    }
    QRect Cells(int row, int col, int count) const {
        return QRect(memo.TextLeft() + col * cw, row * lh, count * cw, lh);
    }

    TCodeMemo memo;
    int cw = 0, lh = 0;
};

bool Reddish(QColor c) {
    return c.red() > 150 && c.green() < 100 && c.blue() < 100;
}
bool Blue(QColor c) {
    return c == QColor(0, 0, 255);
}
bool Greenish(QColor c) {
    return c.green() > 100 && c.red() < 100 && c.blue() < 100;
}

TEST_F(RenderTest, TokensAreDrawnInTheirStyles) {
    QImage img = Grab();
    EXPECT_GT(Count(img, Cells(0, 0, 3), Reddish), 0) << "keyword colour";
    EXPECT_EQ(Count(img, Cells(0, 4, 4), Reddish), 0) << "plain text stays black";
    // The number's background fills its two cells.
    QRect number = Cells(0, 8, 2);
    EXPECT_GT(Count(img, number, Blue), number.width() * number.height() / 2);
    EXPECT_EQ(Count(img, Cells(1, 0, 7), Blue), 0);
    // Without syntax highlighting the styles are not used.
    memo.SetOptions(memo.Options() & ~smoSyntaxHighlight);
    img = Grab();
    EXPECT_EQ(Count(img, Cells(0, 0, 3), Reddish), 0);
    EXPECT_EQ(Count(img, number, Blue), 0);
    // A line-draw handler that paints the row itself keeps the control's text off it.
    memo.SetOptions(memo.Options() | smoSyntaxHighlight);
    int asked = 0;
    memo.OnDrawLine = [&](TCustomCodeMemo*, TLineDrawRecord* line) {
        ++asked;
        line->Handled = line->Offset == 0;
    };
    img = Grab();
    EXPECT_GE(asked, 3);
    EXPECT_EQ(Count(img, Cells(0, 0, 3), Reddish), 0);
}

TEST_F(RenderTest, GutterShowsLineNumbersExceptOnBookmarkedLines) {
    memo.Store().Rec(1).mark |= 1 << 2; // bookmark 2 on the second line
    memo.viewport()->update();
    QImage img = Grab();
    auto band = [&](int row) { return QRect(0, row * lh, memo.Gutter() - 3, lh); };
    EXPECT_GT(Count(img, band(0), Greenish), 0);
    EXPECT_EQ(Count(img, band(1), Greenish), 0);
    EXPECT_GT(Count(img, band(2), Greenish), 0);
    // The gutter's own colour fills the rest.
    EXPECT_EQ(img.pixelColor(memo.Gutter() - 4, 4 * lh + 2), memo.GutterColor());
    // No numbers without the option.
    memo.SetOptions(memo.Options() & ~smoLineNumbers);
    img = Grab();
    EXPECT_EQ(Count(img, band(0), Greenish), 0);
}

// Numbers are right-aligned in a gutter that grows to hold the largest one whole.
TEST_F(RenderTest, TheGutterHoldsTheLastLinesNumberWhole) {
    std::string text;
    for (int i = 0; i < 100000; ++i)
        text += "x\n";
    memo.Lines().SetText(text + "last");
    Grab(); // painting measures the numbers' font
    const QFontMetrics digits(QFont(QString::fromStdString(memo.Settings().gutterFont().name),
                                    memo.Settings().gutterFont().size));
    const int number = digits.horizontalAdvance("100001");
    EXPECT_GE(memo.GutterWidth(), number + TCustomCodeMemo::kGutterPadding);
    EXPECT_EQ(memo.TextLeft(), memo.GutterWidth() + memo.Margin());
    memo.SetTopLine(memo.LineCount() - 2); // rows "100000" and "100001"
    const QImage img = Grab();
    // The ink of each number: from its first to its last green column.
    auto ink = [&](int row) {
        int first = -1, last = -1;
        for (int x = 0; x < memo.GutterWidth(); ++x)
            if (Count(img, QRect(x, row * lh, 1, lh), Greenish) > 0) {
                if (first < 0) first = x;
                last = x;
            }
        return std::pair(first, last);
    };
    const auto [first, last] = ink(1);
    ASSERT_GE(first, 0);
    EXPECT_GE(last - first + 1, number - digits.horizontalAdvance('0')) << "six digits, not cut";
    EXPECT_GT(first, 0);
    EXPECT_LT(last, memo.GutterWidth() - 2) << "clear of the separator";
    EXPECT_NEAR(ink(0).second, last, 2) << "right-aligned";
}

TEST_F(RenderTest, SelectionAndLineColoursOverrideStyles) {
    memo.HideSelection = false;
    memo.Settings().selTextBack = 0x00FFFF; // yellow
    memo.Settings().selTextBackDefault = 0;
    memo.SetSelection(12, 15); // "foo"
    memo.Store().SetLineColors(2, 0x808000, 0xFFFFFF);
    memo.viewport()->update();
    QImage img = Grab();
    auto yellow = [](QColor c) { return c == QColor(255, 255, 0); };
    QRect foo = Cells(1, 0, 3);
    EXPECT_GT(Count(img, foo, yellow), foo.width() * foo.height() / 2);
    EXPECT_EQ(Count(img, Cells(1, 4, 3), yellow), 0);
    // The line background fills the whole row beyond the text.
    EXPECT_EQ(img.pixelColor(memo.width() - 30, 2 * lh + lh / 2), QColor(0, 128, 128));
}

TEST_F(RenderTest, CaretIsTwoPixelsOrABlockInOverwriteMode) {
    memo.activateWindow();
    memo.setFocus();
    QApplication::processEvents();
    if (!memo.hasFocus()) GTEST_SKIP() << "no focus on this platform";
    memo.SetSelection(5, 5); // before "x"
    memo.viewport()->update();
    QImage img = Grab();
    int x = memo.TextLeft() + 5 * cw;
    auto black = [](QColor c) { return c == QColor(0, 0, 0); };
    EXPECT_EQ(Count(img, QRect(x, 0, 2, lh), black), 2 * lh);
    EXPECT_LT(Count(img, QRect(x + 2, 0, cw - 2, lh), black), (cw - 2) * lh);
    memo.SetInsertMode(false);
    memo.viewport()->update();
    img = Grab();
    // A translucent block over the whole cell darkens its background.
    QColor inside = img.pixelColor(x + cw - 2, 1);
    EXPECT_LT(inside.lightness(), 250);
}

TEST_F(RenderTest, MarginLinesAndWrapGlyphs) {
    memo.SetRightMargin(20);
    memo.viewport()->update();
    QImage img = Grab();
    int x = memo.TextLeft() + 20 * cw;
    EXPECT_EQ(img.pixelColor(x, 5 * lh), QColor(192, 192, 192));
    memo.SetOptions(memo.Options() & ~smoShowRMargin);
    img = Grab();
    EXPECT_NE(img.pixelColor(x, 5 * lh), QColor(192, 192, 192));
    // Word wrap: continuation rows carry the wrap image and no number.
    memo.Lines().SetText(std::string(60, 'a') + "\nb\n");
    memo.SetWrapAtColumn(20);
    memo.SetOptions(memo.Options() | smoWordWrap);
    EXPECT_EQ(memo.LineCount(), 4);
    img = Grab();
    auto band = [&](int row) { return QRect(0, row * lh, memo.Gutter() - 3, lh); };
    EXPECT_EQ(Count(img, band(1), Greenish), 0);
    EXPECT_GT(Count(img, band(1), [&](QColor c) { return c != memo.GutterColor(); }), 0);
    EXPECT_GT(Count(img, band(3), Greenish), 0);
    // The dotted wrap column line.
    int wx = memo.TextLeft() + 20 * cw;
    EXPECT_GT(Count(img, QRect(wx, 5 * lh, 1, 4 * lh),
                    [](QColor c) { return c == QColor(192, 192, 192); }),
              0);
}

// Fixed pitch is measured: some monospaced families do not flag themselves so.
TEST(FixedPitchTest, MonospacedFamiliesMeasureFixedAndProportionalOnesDoNot) {
    morvane::testing::qtApp();
    int checked = 0;
    for (const char* family : {"DejaVu Sans Mono", "Noto Sans Mono"}) {
        QFont font(family, 10);
        if (QFontInfo(font).family() != family) continue; // not installed here
        ++checked;
        EXPECT_TRUE(MeasuresFixedPitch(font)) << family;
        font.setBold(true);
        font.setItalic(true);
        EXPECT_TRUE(TQtFontMetrics(font).FixedPitch()) << family;
    }
    EXPECT_GT(checked, 0) << "no monospaced family installed (scripts/deps.sh)";
    EXPECT_FALSE(MeasuresFixedPitch(QFont("DejaVu Sans", 10)));
}

} // namespace
} // namespace morvane::editor
