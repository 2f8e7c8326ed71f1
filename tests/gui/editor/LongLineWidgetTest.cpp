// The window over one line of megabytes without a line break: keys move the caret to its end and
// back, the view follows, typing at its end works, and with word wrap on a keystroke re-cuts only
// the rows near it.

#include "gui/editor/CodeMemo.h"
#include "support/QtTestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QScrollBar>

namespace morvane::editor {
namespace {

constexpr std::size_t kLineBytes = 16u << 20;

class LongLineWidgetTest : public ::testing::Test {
protected:
    void SetUp() override {
        memo.resize(640, 400);
        memo.show();
        QApplication::processEvents();
    }
    void Open(bool wrap) {
        text.reserve(kLineBytes);
        while (text.size() < kLineBytes)
            text += "lorem ipsum dolor sit amet ";
        memo.SetWordWrap(wrap);
        TFastMemoryStream in(text);
        memo.LoadFromStream(in);
        QElapsedTimer bound;
        bound.start();
        while (memo.WrapPending() && bound.elapsed() < 60000)
            QApplication::processEvents();
        ASSERT_FALSE(memo.WrapPending());
    }
    void Key(int key, Qt::KeyboardModifiers mods = Qt::NoModifier, const QString& typed = {}) {
        QKeyEvent press(QEvent::KeyPress, key, mods, typed);
        QApplication::sendEvent(&memo, &press);
        memo.viewport()->repaint();
    }
    // The caret's row is on screen and its x inside the text area.
    void ExpectCaretInView() {
        const RecIndex row = memo.LineFromOffset(memo.Caret());
        EXPECT_GE(row, memo.TopLine());
        EXPECT_LT(row, memo.TopLine() + memo.VisibleRows());
        const auto at = memo.PosFromChar(memo.Caret());
        EXPECT_GE(at.x, memo.TextLeft());
        EXPECT_LT(at.x, memo.ClientWidth());
    }

    struct AppFirst {
        AppFirst() { morvane::testing::qtApp(); }
    } app_;
    TCodeMemo memo;
    std::string text;
};

TEST_F(LongLineWidgetTest, KeysCrossTheLineAndTheViewFollows) {
    ASSERT_NO_FATAL_FAILURE(Open(false));
    const TextOffset len = memo.TextLength();
    ASSERT_EQ(len, TextOffset(text.size()));
    // The horizontal range is that of one record, not of the whole line.
    EXPECT_LE(memo.horizontalScrollBar()->maximum(), kMaxWrapRecord);

    // End and Home on the first row, which is wider than the window.
    Key(Qt::Key_End);
    EXPECT_GT(memo.Caret(), 1000);
    EXPECT_LT(memo.Caret(), kMaxWrapRecord);
    EXPECT_GT(memo.LeftColumn(), 0);
    ExpectCaretInView();
    Key(Qt::Key_Home);
    EXPECT_EQ(memo.Caret(), 0);
    EXPECT_EQ(memo.LeftColumn(), 0);

    Key(Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(memo.Caret(), len);
    EXPECT_EQ(memo.CaretPosition().column, len + 1);
    ExpectCaretInView();
    Key(Qt::Key_Home);
    EXPECT_EQ(memo.Caret(), memo.LineStart(memo.LineFromOffset(len)));
    ExpectCaretInView();
    Key(Qt::Key_End, Qt::ControlModifier);
    Key(Qt::Key_X, Qt::NoModifier, "x");
    EXPECT_EQ(memo.TextLength(), len + 1);
    EXPECT_EQ(memo.Caret(), len + 1);
    EXPECT_EQ(memo.RangeText(len - 2, len + 1, tfStored), "t x");
    EXPECT_EQ(memo.CaretPosition().column, len + 2);
    ExpectCaretInView();

    Key(Qt::Key_Home, Qt::ControlModifier);
    EXPECT_EQ(memo.Caret(), 0);
    EXPECT_EQ(memo.TopLine(), 0);
    EXPECT_EQ(memo.LeftColumn(), 0);
    EXPECT_EQ(memo.CaretPosition().column, 1);
    // Scrolled all the way right by the bar: the row's last columns show.
    memo.horizontalScrollBar()->setValue(memo.horizontalScrollBar()->maximum());
    EXPECT_EQ(memo.LeftColumn(), memo.horizontalScrollBar()->maximum());
    memo.viewport()->repaint();
}

TEST_F(LongLineWidgetTest, WrappedTheKeystrokeAtTheEndReCutsOnlyRowsNearIt) {
    ASSERT_NO_FATAL_FAILURE(Open(true));
    const TextOffset len = memo.TextLength();
    EXPECT_GT(memo.LineCount(), 10 * (len / kMaxWrapRecord)); // rows of the window's width
    EXPECT_FALSE(memo.horizontalScrollBar()->isVisible());
    EXPECT_EQ(memo.NumberedLines(), 1);

    Key(Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(memo.Caret(), len);
    ExpectCaretInView();
    EXPECT_EQ(memo.CaretPosition().column, len + 1);

    TTextStore& s = memo.Store();
    constexpr std::uint32_t kUntouched = 1u << 30;
    for (auto c = s.CursorAt(0); !s.AtEnd(c); s.Next(c))
        s.Rec(c).flags |= kUntouched;
    const RecIndex rows = memo.LineCount();
    for (QChar ch : QString("zz z")) {
        Key(ch == ' ' ? Qt::Key_Space : Qt::Key_Z, Qt::NoModifier, QString(ch));
        ExpectCaretInView();
    }
    EXPECT_EQ(memo.Caret(), len + 4);
    EXPECT_EQ(memo.RangeText(len - 3, len + 4, tfStored), "et zz z");
    EXPECT_LE(memo.LineCount() - rows, 1);
    int touched = 0;
    for (auto c = s.CursorAt(0); !s.AtEnd(c); s.Next(c))
        touched += !(s.Rec(c).flags & kUntouched);
    EXPECT_LT(touched, 50);
    EXPECT_EQ(memo.CaretPosition().column, len + 5);

    Key(Qt::Key_Home, Qt::ControlModifier);
    EXPECT_EQ(memo.Caret(), 0);
    EXPECT_EQ(memo.TopLine(), 0);
    // Word wrap off again: the line goes back into records of the longest size.
    memo.SetWordWrap(false);
    QElapsedTimer bound;
    bound.start();
    while (memo.WrapPending() && bound.elapsed() < 60000)
        QApplication::processEvents();
    EXPECT_LT(memo.LineCount(), rows / 10);
    EXPECT_EQ(memo.Text(tfStored), text + "zz z");
}

} // namespace
} // namespace morvane::editor
