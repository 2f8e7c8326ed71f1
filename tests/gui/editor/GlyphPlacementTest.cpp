// Glyphs, caret and clicks agree when the font's advance is not a whole number of pixels: the
// cells are whole pixels wide, so every glyph must be drawn in its own cell.

#include "gui/editor/CodeMemo.h"
#include "support/QtTestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>

#include <cmath>

namespace morvane::editor {
namespace {

class GlyphPlacementTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { morvane::testing::qtApp(); }

    // A fixed-pitch font whose advance lies well between two whole pixels, so that 70 columns
    // drift by several pixels when glyphs step at the real advance.
    static QFont FractionalFont() {
        for (int size = 10; size <= 16; ++size) {
            QFont f("DejaVu Sans Mono");
            f.setPointSize(size);
            qreal advance = QFontMetricsF(f).horizontalAdvance(QLatin1Char('W'));
            qreal fraction = advance - std::floor(advance);
            if (fraction > 0.15 && fraction < 0.85) return f;
        }
        return {};
    }

    void SetUp() override {
        QFont f = FractionalFont();
        if (f.family().isEmpty()) GTEST_SKIP() << "no fixed font with a fractional advance";
        memo.SetFont(f);
        ASSERT_TRUE(memo.FontMetrics().FixedPitch());
        memo.resize(1100, 200);
        // Line 0: 80 W; line 1: a single W at column 70.
        memo.Lines().SetText(std::string(80, 'W') + "\n" + std::string(70, ' ') + "W\n");
        memo.show();
        memo.activateWindow();
        memo.setFocus();
        QApplication::processEvents();
        cw = memo.FontMetrics().CharWidth();
        lh = memo.FontMetrics().LineHeight();
    }

    QImage Grab() {
        memo.viewport()->update();
        QApplication::processEvents();
        return memo.viewport()->grab().toImage();
    }

    static bool Dark(const QImage& img, int x, int y) { return qGray(img.pixel(x, y)) < 160; }

    // The leftmost and rightmost columns of ink in a row band, left of a limit.
    static std::pair<int, int> Ink(const QImage& img, int row, int lh, int from, int limit) {
        int first = -1, last = -1;
        for (int x = from; x < std::min(limit, img.width()); ++x)
            for (int y = row * lh; y < (row + 1) * lh && y < img.height(); ++y)
                if (Dark(img, x, y)) {
                    if (first < 0) first = x;
                    last = x;
                    break;
                }
        return {first, last};
    }

    void Click(QPoint p) {
        for (auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
            QMouseEvent e(
                type, QPointF(p), QPointF(memo.viewport()->mapToGlobal(p)), Qt::LeftButton,
                type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
            e.setTimestamp(time += 1000);
            QApplication::sendEvent(memo.viewport(), &e);
        }
    }

    TCodeMemo memo;
    int cw = 0, lh = 0;
    unsigned long long time = 100000;
};

TEST_F(GlyphPlacementTest, TheCaretAfterEndStandsRightAfterTheLastDrawnGlyph) {
    if (!memo.hasFocus()) GTEST_SKIP() << "no focus on this platform";
    memo.SetSelection(0, 0);
    QKeyEvent end(QEvent::KeyPress, Qt::Key_End, Qt::NoModifier);
    QApplication::sendEvent(&memo, &end);
    ASSERT_EQ(memo.Caret(), 80);
    QImage img = Grab();
    // The caret: the first column left of which the whole row is dark.
    int caretX = -1;
    for (int x = memo.TextLeft(); x < img.width() && caretX < 0; ++x) {
        bool full = true;
        for (int y = 0; y < lh && full; ++y)
            full = Dark(img, x, y);
        if (full) caretX = x;
    }
    ASSERT_EQ(caretX, memo.TextLeft() + 80 * cw);
    auto [first, last] = Ink(img, 0, lh, memo.TextLeft(), caretX);
    ASSERT_GE(last, 0);
    // The first glyph starts in the first cell, the last one ends just before the caret.
    EXPECT_LT(first - memo.TextLeft(), cw / 2);
    EXPECT_LE(caretX - last, cw / 2 + 1);
}

TEST_F(GlyphPlacementTest, AClickOnADrawnCharacterPutsTheCaretBeforeItAndTypingThere) {
    memo.SetRightMargin(70);
    memo.SetOptions(memo.Options() | smoShowRMargin);
    QImage img = Grab();
    const int cellLeft = memo.TextLeft() + 70 * cw;
    EXPECT_EQ(img.pixelColor(cellLeft, lh + 1), QColor(192, 192, 192));
    auto [first, last] = Ink(img, 1, lh, memo.TextLeft(), img.width());
    ASSERT_GE(first, 0);
    // The W is drawn in the cell of column 70, right of the margin line at column 70.
    EXPECT_GE(first, cellLeft - 1);
    EXPECT_LE(last, cellLeft + cw);
    // A click on the left part of the drawn W.
    Click(QPoint(first + (last - first) / 4, lh + lh / 2));
    EXPECT_EQ(memo.Caret(), memo.LineStart(1) + 70);
    QKeyEvent z(QEvent::KeyPress, Qt::Key_Z, Qt::NoModifier, "Z");
    QApplication::sendEvent(&memo, &z);
    EXPECT_EQ(memo.Lines().Get(1), std::string(70, ' ') + "ZW");
}

} // namespace
} // namespace morvane::editor
