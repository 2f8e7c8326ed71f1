// The control's keys, mouse, clipboard and drag-and-drop, driven by Qt events offscreen.
#include "core/platform/FakeUi.h"
#include "gui/editor/CodeMemo.h"
#include "support/QtTestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDrag>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>

namespace morvane::editor {
namespace {

class CodeMemoInputTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { morvane::testing::qtApp(); }

    void SetUp() override {
        memo.resize(1400, 300);
        memo.show();
        QApplication::processEvents();
    }

    // Mouse events carry explicit times, so that click counting does not depend on the clock.
    void Mouse(QEvent::Type type, QPoint p, Qt::MouseButtons buttons,
               Qt::KeyboardModifiers mods = Qt::NoModifier) {
        Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent e(type, QPointF(p), QPointF(memo.viewport()->mapToGlobal(p)), button, buttons,
                      mods);
        e.setTimestamp(time);
        QApplication::sendEvent(memo.viewport(), &e);
    }
    void Click(QPoint p, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        Mouse(QEvent::MouseButtonPress, p, Qt::LeftButton, mods);
        Mouse(QEvent::MouseButtonRelease, p, Qt::NoButton, mods);
    }
    // The second click of a quick pair arrives as Qt's double-click event.
    void SecondClick(QPoint p) {
        Mouse(QEvent::MouseButtonDblClick, p, Qt::LeftButton);
        Mouse(QEvent::MouseButtonRelease, p, Qt::NoButton);
    }
    QPoint At(TextOffset off) {
        auto pt = memo.PosFromChar(off);
        return QPoint(pt.x + 1, pt.y + 3);
    }
    void Key(int key, Qt::KeyboardModifiers mods = Qt::NoModifier, const QString& text = {}) {
        QKeyEvent press(QEvent::KeyPress, key, mods, text);
        QApplication::sendEvent(&memo, &press);
    }

    TCodeMemo memo;
    unsigned long long time = 100000;
};

TEST_F(CodeMemoInputTest, DoubleClickSelectsAWordAndTripleClickTheLine) {
    memo.Lines().SetText("alpha beta\ngamma delta\n");
    Click(At(7));
    time += 100;
    Mouse(QEvent::MouseButtonDblClick, At(7), Qt::LeftButton);
    Mouse(QEvent::MouseMove, At(7) + QPoint(1, 1), Qt::LeftButton); // a hand is never still
    Mouse(QEvent::MouseButtonRelease, At(7), Qt::NoButton);
    EXPECT_EQ(memo.SelStart(), 6);
    EXPECT_EQ(memo.SelLength(), 4);
    time += 100;
    Click(At(8));
    EXPECT_EQ(memo.SelStart(), 0);
    EXPECT_EQ(memo.SelLength(), 11); // with its line break
    // The click after a triple click counts 4, the next one starts a new series. Its third
    // click lands on the next line and only places the caret there.
    time += 5000;
    Click(At(2));
    time += 5000;
    Click(At(2));
    time += 100;
    SecondClick(At(2));
    time += 100;
    Click(At(14));
    EXPECT_EQ(memo.SelLength(), 0);
    EXPECT_EQ(memo.Caret(), 14);
    // With a handler the third click is its business.
    TextOffset reported = -1;
    memo.OnTripleClick = [&](TCustomCodeMemo*, TPixelPoint, TextOffset off) { reported = off; };
    time += 5000;
    Click(At(13));
    time += 5000;
    Click(At(13));
    time += 100;
    SecondClick(At(13));
    time += 100;
    Click(At(13));
    EXPECT_EQ(reported, 13);
    EXPECT_EQ(memo.SelLength(), 5); // the word of the double click stays
    // Slow clicks are single clicks.
    time += 5000;
    Click(At(3));
    time += 5000;
    Click(At(3));
    time += 5000;
    SecondClick(At(3));
    EXPECT_EQ(memo.SelLength(), 0);
}

TEST_F(CodeMemoInputTest, ClickInsideTheSelectionPlacesTheCaretOnRelease) {
    memo.Lines().SetText("some words here");
    memo.SetSelection(0, 10);
    Mouse(QEvent::MouseButtonPress, At(3), Qt::LeftButton);
    EXPECT_EQ(memo.SelLength(), 10); // a drag may still start
    Mouse(QEvent::MouseButtonRelease, At(3), Qt::NoButton);
    EXPECT_EQ(memo.SelLength(), 0);
    EXPECT_EQ(memo.Caret(), 3);
    // Shift-click moves the nearer end.
    time += 5000;
    memo.SetSelection(5, 10);
    Click(At(2), Qt::ShiftModifier);
    EXPECT_EQ(memo.Anchor(), 10);
    EXPECT_EQ(memo.Caret(), 2);
    // Dragging with the button down selects; the anchor stays.
    time += 5000;
    Mouse(QEvent::MouseButtonPress, At(1), Qt::LeftButton);
    Mouse(QEvent::MouseMove, At(9), Qt::LeftButton);
    Mouse(QEvent::MouseButtonRelease, At(9), Qt::NoButton);
    EXPECT_EQ(memo.Anchor(), 1);
    EXPECT_EQ(memo.Caret(), 9);
}

// Runs the event loop for a while, or until done() holds.
template <class Pred> bool RunUntil(Pred done, int ms = 3000) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

TEST_F(CodeMemoInputTest, SelectingBeyondTheBottomScrollsUntilReleased) {
    std::string text;
    for (int i = 0; i < 200; ++i)
        text += "line " + std::to_string(i) + "\n";
    memo.Lines().SetText(text);
    Mouse(QEvent::MouseButtonPress, At(2), Qt::LeftButton);
    const int below = memo.viewport()->height() + 20;
    Mouse(QEvent::MouseMove, QPoint(memo.TextLeft() + 5, below), Qt::LeftButton);
    ASSERT_TRUE(RunUntil([&] { return memo.TopLine() >= 3; }));
    Mouse(QEvent::MouseButtonRelease, QPoint(memo.TextLeft() + 5, below), Qt::NoButton);
    const RecIndex top = memo.TopLine();
    EXPECT_EQ(memo.Anchor(), 2);
    // The caret follows to the last visible row.
    EXPECT_GE(memo.LineFromOffset(memo.Caret()), top + memo.VisibleRows() - 1);
    RunUntil([] { return false; }, 200);
    EXPECT_EQ(memo.TopLine(), top);
    // Without a button held nothing scrolls.
    Mouse(QEvent::MouseMove, QPoint(memo.TextLeft() + 5, below), Qt::NoButton);
    RunUntil([] { return false; }, 200);
    EXPECT_EQ(memo.TopLine(), top);
}

TEST_F(CodeMemoInputTest, GutterAndMarginClicks) {
    memo.Lines().SetText("one\ntwo\nthree");
    RecIndex gutterLine = -1;
    memo.OnGutterClick = [&](TCustomCodeMemo*, RecIndex line) { gutterLine = line; };
    const int rowTwo = memo.FontMetrics().LineHeight() + 2;
    Click(QPoint(3, rowTwo));
    EXPECT_EQ(gutterLine, 2);
    EXPECT_EQ(memo.SelLength(), 0);
    time += 5000;
    Click(QPoint(memo.TextLeft() - 1, rowTwo));
    EXPECT_EQ(memo.SelStart(), 4);
    EXPECT_EQ(memo.SelLength(), 4);
}

// Stands in for the window system's drag loop: the drag enters, moves and drops at a point.
Qt::DropAction DropAt(TCodeMemo& memo, QDrag& drag, Qt::DropActions allowed, QPoint p,
                      Qt::KeyboardModifiers mods) {
    QDragEnterEvent enter(p, allowed, drag.mimeData(), Qt::LeftButton, mods);
    QApplication::sendEvent(memo.viewport(), &enter);
    if (!enter.isAccepted()) return Qt::IgnoreAction;
    QDragMoveEvent move(p, allowed, drag.mimeData(), Qt::LeftButton, mods);
    QApplication::sendEvent(memo.viewport(), &move);
    QDropEvent drop(QPointF(p), allowed, drag.mimeData(), Qt::LeftButton, mods);
    drop.setDropAction(move.dropAction());
    QApplication::sendEvent(memo.viewport(), &drop);
    return drop.isAccepted() ? drop.dropAction() : Qt::IgnoreAction;
}

TEST_F(CodeMemoInputTest, DraggingTheSelectionMovesOrCopiesItAsOneUndoStep) {
    memo.Lines().SetText("one two three");
    Qt::KeyboardModifiers mods = Qt::NoModifier;
    QPoint target;
    Qt::DropActions offered;
    memo.RunDrag = [&](QDrag& drag, Qt::DropActions allowed) {
        offered = allowed;
        EXPECT_EQ(drag.mimeData()->text(), memo.SelLength() ? "one " : "");
        return DropAt(memo, drag, allowed, target, mods);
    };
    auto drag = [&](TextOffset from, TextOffset to) {
        time += 5000;
        memo.SetSelection(0, 4);
        target = At(to);
        Mouse(QEvent::MouseButtonPress, At(from), Qt::LeftButton);
        Mouse(QEvent::MouseMove, target, Qt::LeftButton);
    };
    drag(1, 13);
    EXPECT_EQ(memo.Text(), "two threeone ");
    EXPECT_EQ(offered, Qt::CopyAction | Qt::MoveAction);
    EXPECT_TRUE(memo.Undo());
    EXPECT_EQ(memo.Text(), "one two three");
    mods = Qt::ControlModifier;
    drag(1, 8);
    EXPECT_EQ(memo.Text(), "one two one three");
    EXPECT_TRUE(memo.Undo());
    EXPECT_EQ(memo.Text(), "one two three");
    EXPECT_FALSE(memo.CanUndo());
    // Onto its own selection: nothing changes and nothing is recorded.
    mods = Qt::NoModifier;
    drag(1, 2);
    EXPECT_EQ(memo.Text(), "one two three");
    EXPECT_FALSE(memo.CanUndo());
    // Without smoOLEDragSource a press inside the selection starts a new selection.
    memo.SetOptions(memo.Options() & ~smoOLEDragSource);
    drag(1, 10);
    Mouse(QEvent::MouseButtonRelease, At(10), Qt::NoButton);
    EXPECT_EQ(memo.Text(), "one two three");
    EXPECT_EQ(memo.Anchor(), 1);
    EXPECT_EQ(memo.Caret(), 10);
    memo.SetOptions(memo.Options() | smoOLEDragSource);
    // Read-only: the text can be dragged away as a copy only, and nothing is dropped here.
    memo.SetReadOnly(true);
    drag(1, 13);
    EXPECT_EQ(offered, Qt::CopyAction);
    EXPECT_EQ(memo.Text(), "one two three");
}

TEST_F(CodeMemoInputTest, MovedToAnotherControlTheTextLeavesTheSource) {
    memo.Lines().SetText("one two three");
    TCodeMemo other;
    other.resize(400, 100);
    other.show();
    other.Lines().SetText("x");
    memo.RunDrag = [&](QDrag& drag, Qt::DropActions allowed) {
        QPoint p(other.TextLeft() + 50, 3);
        QDragEnterEvent enter(p, allowed, drag.mimeData(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(other.viewport(), &enter);
        QDropEvent drop(QPointF(p), allowed, drag.mimeData(), Qt::LeftButton, Qt::NoModifier);
        drop.setDropAction(Qt::MoveAction);
        QApplication::sendEvent(other.viewport(), &drop);
        return drop.dropAction();
    };
    memo.Lines().SetText(std::string("one tw\xf6 three"));
    memo.SetSelection(4, 8);
    Mouse(QEvent::MouseButtonPress, At(5), Qt::LeftButton);
    Mouse(QEvent::MouseMove, At(12), Qt::LeftButton);
    EXPECT_EQ(other.Text(), "xtw\xf6 "); // every byte arrives as it was
    EXPECT_EQ(memo.Text(), "one three");
    EXPECT_TRUE(memo.Undo());
    EXPECT_EQ(memo.Text(), "one tw\xf6 three");
}

TEST_F(CodeMemoInputTest, DraggingTheRightMarginLineSetsTheColumn) {
    memo.Lines().SetText("short\n");
    const int cw = memo.FontMetrics().CharWidth();
    ASSERT_LT(memo.TextLeft() + 101 * cw, memo.viewport()->width());
    QPoint line(memo.TextLeft() + 80 * cw, 5);
    Mouse(QEvent::MouseMove, line, Qt::NoButton);
    EXPECT_EQ(memo.viewport()->cursor().shape(), Qt::SplitHCursor);
    Mouse(QEvent::MouseButtonPress, line, Qt::LeftButton);
    QPoint to(memo.TextLeft() + 100 * cw + 1, 5);
    Mouse(QEvent::MouseMove, to, Qt::LeftButton);
    Mouse(QEvent::MouseButtonRelease, to, Qt::NoButton);
    EXPECT_EQ(memo.RightMargin(), 100);
    EXPECT_EQ(memo.SelLength(), 0);
    EXPECT_EQ(memo.Caret(), 0); // the caret did not move
    // The wrap column's line is dragged the same way while word wrap is on.
    memo.SetOptions(memo.Options() | smoWordWrap);
    memo.SetWrapAtColumn(40);
    QPoint wrap(memo.TextLeft() + 40 * cw, 5);
    Mouse(QEvent::MouseMove, wrap, Qt::NoButton);
    Mouse(QEvent::MouseButtonPress, wrap, Qt::LeftButton);
    QPoint wider(memo.TextLeft() + 60 * cw, 5);
    Mouse(QEvent::MouseMove, wider, Qt::LeftButton);
    Mouse(QEvent::MouseButtonRelease, wider, Qt::NoButton);
    EXPECT_EQ(memo.WrapAtColumn(), 60);
    EXPECT_EQ(memo.RightMargin(), 100);
    // Away from the line, or on a line reaching past it, a press is an ordinary click.
    memo.SetOptions(memo.Options() & ~smoWordWrap);
    memo.Lines().SetText(std::string(120, 'x'));
    Mouse(QEvent::MouseMove, QPoint(memo.TextLeft() + 100 * cw, 5), Qt::NoButton);
    EXPECT_NE(memo.viewport()->cursor().shape(), Qt::SplitHCursor);
}

TEST_F(CodeMemoInputTest, PastedHtmlKeepsOnlyTheFragmentWhenTheHandlerAsks) {
    platform::FakeClipboard clip;
    memo.SetClipboard(&clip);
    memo.Lines().SetText("[]");
    memo.SetSelection(1, 1);
    clip.contents = {{"text/plain", "bold text"},
                     {"text/html", "Version:0.9\r\n<html><body><!--StartFragment--><b>bold</b> "
                                   "text<!--EndFragment--></body></html>"}};
    memo.OnDataDrop = [](TCustomCodeMemo*, std::uint16_t& types) {
        types = std::uint16_t((types & ~dsPlainText) | dsHtmlFragment);
    };
    Key(Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(memo.Text(), "[<b>bold</b> text]");
    memo.SetSelection(1, 4);
    Key(Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(clip.contents["text/plain"], "<b>");
}

TEST_F(CodeMemoInputTest, HotSpotTokensActAsHyperlinks) {
    memo.Lines().SetText("see http://x.org now");
    auto& settings = memo.Settings();
    highlight::StyleEffect link;
    link.inUse = 1;
    link.hotSpot = 1;
    settings.setEffect(5, link);
    settings.setStyleOfToken(7, 5);
    std::vector<std::uint8_t> tokens(20, 0);
    std::fill(tokens.begin() + 4, tokens.begin() + 16, 7);
    memo.Store().SetAttrs(0, tokens.data());
    std::vector<std::pair<std::string, int>> hovered, clicked;
    memo.OnHyperlinkHover = [&](TCustomCodeMemo*, const std::string& d, int t) {
        hovered.emplace_back(d, t);
    };
    memo.OnHyperlinkClick = [&](TCustomCodeMemo*, const std::string& d, int t) {
        clicked.emplace_back(d, t);
    };
    Mouse(QEvent::MouseMove, At(1), Qt::NoButton);
    EXPECT_EQ(memo.viewport()->cursor().shape(), Qt::IBeamCursor);
    Mouse(QEvent::MouseMove, At(6), Qt::NoButton);
    Mouse(QEvent::MouseMove, At(7), Qt::NoButton); // the same link: one hover
    EXPECT_EQ(memo.viewport()->cursor().shape(), memo.HyperCursor.shape());
    ASSERT_EQ(hovered.size(), 1u);
    EXPECT_EQ(hovered[0], std::make_pair(std::string("http://x.org"), 7));
    Click(At(10));
    ASSERT_EQ(clicked.size(), 1u);
    EXPECT_EQ(clicked[0].first, "http://x.org");
    time += 5000;
    Click(At(18));
    EXPECT_EQ(clicked.size(), 1u);
}

TEST_F(CodeMemoInputTest, TwoKeySequencesTakeTheirSecondKeyFromTheWindow) {
    memo.Lines().SetText("abc\ndef");
    memo.SetSelection(0, 5);
    Key(Qt::Key_K, Qt::ControlModifier, "\x0b");
    // The window's shortcuts (Ctrl+I is a menu key) let the control have the second key.
    QKeyEvent override(QEvent::ShortcutOverride, Qt::Key_I, Qt::ControlModifier, "\x09");
    QApplication::sendEvent(&memo, &override);
    EXPECT_TRUE(override.isAccepted());
    Key(Qt::Key_I, Qt::ControlModifier, "\x09");
    EXPECT_EQ(memo.Text(), "\tabc\r\tdef"); // a level of the tab width
    QKeyEvent noPrefix(QEvent::ShortcutOverride, Qt::Key_I, Qt::ControlModifier, "\x09");
    noPrefix.ignore();
    QApplication::sendEvent(&memo, &noPrefix);
    EXPECT_FALSE(noPrefix.isAccepted());
    // Ctrl+K then X: no such sequence, so X types.
    memo.SetSelection(0, 0);
    Key(Qt::Key_K, Qt::ControlModifier, "\x0b");
    Key(Qt::Key_Shift, Qt::ShiftModifier); // a modifier alone keeps the sequence going
    EXPECT_TRUE(memo.KeyMap().prefixPending());
    Key(Qt::Key_X, Qt::NoModifier, "x");
    EXPECT_EQ(memo.Text(), "x\tabc\r\tdef");
    EXPECT_FALSE(memo.KeyMap().prefixPending());
    // A key with no code (a character outside the layout) ends a sequence too.
    Key(Qt::Key_K, Qt::ControlModifier, "\x0b");
    Key(0x01000000 + 0xFFF, Qt::NoModifier, QString());
    EXPECT_FALSE(memo.KeyMap().prefixPending());
}

TEST(KeyTranslation, QtKeysAndShortcutValuesBothWays) {
    EXPECT_EQ(ShortcutOf(Qt::Key_Semicolon, Qt::NoModifier), 186);
    EXPECT_EQ(ShortcutOf(Qt::Key_Colon, Qt::ShiftModifier), 186 | kShortcutShift);
    EXPECT_EQ(ShortcutOf(Qt::Key_BraceLeft, Qt::ShiftModifier | Qt::ControlModifier),
              219 | kShortcutShift | kShortcutCtrl);
    EXPECT_EQ(ShortcutOf(Qt::Key_5, Qt::KeypadModifier), 101);
    EXPECT_EQ(ShortcutOf(Qt::Key_Plus, Qt::KeypadModifier), 107);
    EXPECT_EQ(ShortcutOf(Qt::Key_Enter, Qt::KeypadModifier), 13);
    EXPECT_EQ(ShortcutOf(Qt::Key_F12, Qt::AltModifier), 123 | kShortcutAlt);
    EXPECT_EQ(ShortcutOf(Qt::Key_Shift, Qt::ShiftModifier), 0);
    EXPECT_EQ(KeySequenceOf(kShortcutCtrl | 'J'), QKeySequence("Ctrl+J"));
    EXPECT_EQ(KeySequenceOf(kShortcutCtrl | 221), QKeySequence(Qt::CTRL | Qt::Key_BracketRight));
    EXPECT_EQ(KeySequenceOf(0), QKeySequence());
    // What a stored map names comes back from the key that Qt reports for it.
    for (std::uint16_t sc :
         {std::uint16_t(kShortcutCtrl | 'K'), std::uint16_t(kShortcutShift | kShortcutCtrl | 'Z'),
          std::uint16_t(kShortcutShift | 35), std::uint16_t(kShortcutCtrl | 8),
          std::uint16_t(kShortcutCtrl | 219), std::uint16_t(kShortcutAlt | 190),
          std::uint16_t(kShortcutCtrl | 117)}) {
        QKeyCombination k = KeySequenceOf(sc)[0];
        EXPECT_EQ(ShortcutOf(k.key(), k.keyboardModifiers()), sc) << shortCutToText(sc);
    }
    EXPECT_EQ(
        KeySequenceOf(kShortcutShift | kShortcutCtrl | 'Z'),
        QKeySequence(QString::fromStdString(shortCutToText(kShortcutShift | kShortcutCtrl | 'Z'))));
}

} // namespace
} // namespace morvane::editor
