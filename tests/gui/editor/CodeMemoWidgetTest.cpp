#include "gui/editor/CodeMemo.h"
#include "support/QtTestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QScrollBar>

namespace morvane::editor {
namespace {

class CodeMemoWidgetTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { morvane::testing::qtApp(); }
};

TEST_F(CodeMemoWidgetTest, TheFontIsStoredInTheSettingsRecordInUse) {
    highlight::TCodeMemoParser parser;
    TCodeMemo memo;
    const int ownSize = memo.OwnSettings().fontSize;
    memo.SetParser(1, &parser);
    QFont font(QStringLiteral("DejaVu Sans Mono"), 13);
    memo.SetFont(font);
    EXPECT_EQ(parser.settings().fontName, "DejaVu Sans Mono");
    EXPECT_EQ(parser.settings().fontSize, 13);
    // The control's own record is left alone while a highlighter is active, and is used again
    // once the slot is empty.
    EXPECT_EQ(memo.OwnSettings().fontSize, ownSize);
    memo.SetParser(1, nullptr);
    EXPECT_EQ(&memo.Settings(), &memo.OwnSettings());
}

TEST_F(CodeMemoWidgetTest, ControlBytesHaveVisibleGlyphs) {
    bool control;
    EXPECT_EQ(GlyphOf(0, &control), QChar(0x2400));
    EXPECT_TRUE(control);
    EXPECT_EQ(GlyphOf('A', &control), QChar('A'));
    EXPECT_FALSE(control);
    EXPECT_EQ(GlyphOf(0x80, &control), QChar(0x20AC));
    EXPECT_FALSE(control);
    GlyphOf(0x81, &control);
    EXPECT_TRUE(control);
    EXPECT_EQ(GlyphOf(0xE9, &control), QChar(0xE9));
}

TEST_F(CodeMemoWidgetTest, ScrollBarsFollowTheTextAndMoveTheView) {
    TCodeMemo memo;
    memo.resize(400, 200);
    std::string text;
    for (int i = 0; i < 500; ++i)
        text += "line " + std::to_string(i) + std::string(i % 7 * 30, '-') + "\n";
    TFastMemoryStream in(text);
    memo.LoadFromStream(in);
    memo.show();
    QApplication::processEvents();
    QScrollBar* v = memo.verticalScrollBar();
    EXPECT_EQ(v->maximum(), 499);
    EXPECT_GT(v->pageStep(), 1);
    v->setValue(120);
    EXPECT_EQ(memo.TopLine(), 120);
    QScrollBar* h = memo.horizontalScrollBar();
    EXPECT_GT(h->maximum(), 0);
    h->setValue(16);
    EXPECT_EQ(memo.LeftColumn(), 16);
    memo.SetTopLine(300);
    EXPECT_EQ(v->value(), 300);
}

TEST_F(CodeMemoWidgetTest, PaintsTextInTheTextArea) {
    TCodeMemo memo;
    memo.resize(300, 120);
    memo.Lines().SetText(std::string("WWWWWWWW\tx\n\x01\x02 binary\n", 22));
    memo.show();
    QApplication::processEvents();
    QImage image = memo.viewport()->grab().toImage();
    ASSERT_FALSE(image.isNull());
    // Some pixel of the first row's text area differs from the background.
    int inked = 0;
    int lh = memo.FontMetrics().LineHeight();
    for (int x = memo.TextLeft(); x < memo.TextLeft() + 8 * memo.FontMetrics().CharWidth(); ++x)
        for (int y = 0; y < lh; ++y)
            if (image.pixelColor(x, y) != memo.DefaultBack()) ++inked;
    EXPECT_GT(inked, 0);
}

TEST_F(CodeMemoWidgetTest, ClickPlacesTheCaret) {
    TCodeMemo memo;
    memo.resize(300, 120);
    memo.Lines().SetText("abc\ndef");
    memo.show();
    QApplication::processEvents();
    auto p = memo.PosFromChar(5);
    TextOffset off = memo.CharFromPos(p.x, p.y + 1);
    EXPECT_EQ(off, 5);
}

void Key(TCodeMemo& memo, int key, Qt::KeyboardModifiers mods = Qt::NoModifier,
         const QString& text = {}) {
    QKeyEvent press(QEvent::KeyPress, key, mods, text);
    QApplication::sendEvent(&memo, &press);
}

void Type(TCodeMemo& memo, const QString& text) {
    for (QChar c : text)
        Key(memo, c.isLetter() ? Qt::Key_A + (c.toUpper().unicode() - 'A') : 0, Qt::NoModifier,
            QString(c));
}

TEST_F(CodeMemoWidgetTest, KeysEditTheText) {
    TCodeMemo memo;
    memo.resize(300, 120);
    memo.SetOptions(kInitialOptions & ~(smoUseTAB | smoTabToColumn));
    memo.SetEncoding(TTextEncoding::teWindows1252);
    int changes = 0;
    memo.OnChange = [&](TCustomCodeMemo*) { ++changes; };
    Type(memo, QString::fromUtf8("ab\u20ac"));
    EXPECT_EQ(memo.Text(), "ab\x80");
    Key(memo, Qt::Key_Left);
    Key(memo, Qt::Key_Home, Qt::ShiftModifier);
    EXPECT_EQ(memo.Anchor(), 2);
    EXPECT_EQ(memo.Caret(), 0);
    Key(memo, Qt::Key_Delete);
    EXPECT_EQ(memo.Text(), "\x80");
    Key(memo, Qt::Key_Return, Qt::NoModifier, "\r");
    Key(memo, Qt::Key_Tab, Qt::NoModifier, "\t");
    EXPECT_EQ(memo.Text(), "\r    \x80");
    Key(memo, Qt::Key_Backspace, Qt::NoModifier, "\b");
    EXPECT_EQ(memo.Text(), "\r   \x80");
    Key(memo, Qt::Key_Z, Qt::ControlModifier, "\x1a");
    EXPECT_EQ(memo.Text(), "\r    \x80");
    Key(memo, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(memo.Text(), "\r   \x80");
    Key(memo, Qt::Key_Insert);
    EXPECT_FALSE(memo.InsertMode());
    Key(memo, Qt::Key_X, Qt::AltModifier, "x"); // left to the menus
    EXPECT_EQ(memo.Text(), "\r   \x80");
    EXPECT_GE(changes, 10);
    QInputMethodEvent composed;
    composed.setCommitString(QString::fromUtf8("\u00e9"));
    QApplication::sendEvent(&memo, &composed);
    EXPECT_EQ(memo.Text(), "\r   \xe9"); // overwrite mode is on
}

TEST_F(CodeMemoWidgetTest, TabWithoutWantTabIsNotTypedAndKeysHaveCodes) {
    TCodeMemo memo;
    memo.resize(300, 120);
    memo.show();
    memo.setFocus();
    QApplication::processEvents();
    memo.SetWantTab(false);
    Key(memo, Qt::Key_Tab, Qt::NoModifier, "\t");
    EXPECT_EQ(memo.Text(), "");
    memo.SetWantTab(true);
    EXPECT_EQ(ShortcutOf(Qt::Key_Left, Qt::ShiftModifier | Qt::ControlModifier),
              37 | kShortcutShift | kShortcutCtrl);
    EXPECT_EQ(ShortcutOf(Qt::Key_BracketRight, Qt::ControlModifier), 221 | kShortcutCtrl);
    EXPECT_EQ(AnsiOf(QChar(0x20AC)), '\x80');
    EXPECT_EQ(AnsiOf(QChar(0x4E00)), 0);
}

} // namespace
} // namespace morvane::editor
