// The template choice list inside the control: opening, typed search, choosing and leaving.
#include "core/editor/CodeTemplates.h"
#include "gui/editor/CodeMemo.h"
#include "support/QtTestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QListWidget>

namespace morvane::editor {
namespace {

class TemplateListTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { morvane::testing::qtApp(); }

    void SetUp() override {
        memo.resize(600, 300);
        memo.show();
        QApplication::processEvents();
        TCodeTemplates& t = memo.OwnSettings().templates;
        t.addTemplate("while", "loop while", "while (|) {}");
        t.addTemplate("forin", "for in", "for (x in |)");
        t.addTemplate("switch", "", "switch (|)");
        memo.SetCodeTemplates(&t);
    }

    static void Key(QWidget* to, int key, Qt::KeyboardModifiers mods = Qt::NoModifier,
                    const QString& text = {}) {
        QKeyEvent press(QEvent::KeyPress, key, mods, text);
        QApplication::sendEvent(to, &press);
    }

    QListWidget* List() { return memo.findChild<QListWidget*>("TemplateList"); }

    TCodeMemo memo;
};

TEST_F(TemplateListTest, OpensOnThePartialWordAndTypedLettersSearchThenEnterExpands) {
    memo.Lines().SetText("x\n  wh");
    memo.SetSelection(7, 7);
    Key(&memo, Qt::Key_J, Qt::ControlModifier);
    QListWidget* list = List();
    ASSERT_TRUE(list);
    ASSERT_TRUE(list->isVisible());
    EXPECT_EQ(list->count(), 3);
    EXPECT_EQ(list->currentRow(), 2) << "the first name holding \"wh\"";
    EXPECT_EQ(memo.SelText(), "wh");
    EXPECT_FALSE(memo.HideSelection) << "the partial word shows while the list has the focus";
    EXPECT_TRUE(memo.rect().contains(list->geometry()));
    EXPECT_GT(list->geometry().top(), memo.PosFromChar(5).y) << "below the caret's line";

    Key(list, Qt::Key_S, Qt::NoModifier, "s");
    EXPECT_EQ(list->currentRow(), 1);
    Key(list, Qt::Key_F, Qt::NoModifier, "f");
    EXPECT_EQ(list->currentRow(), 0) << "no \"sf\": the search starts again at \"f\"";
    Key(list, Qt::Key_Return);
    EXPECT_FALSE(list->isVisible());
    EXPECT_EQ(memo.Text(), "x\r  whfor (x in )") << "a name without the word goes after it";
    EXPECT_EQ(memo.Caret(), 16);
    EXPECT_TRUE(memo.HideSelection);
}

TEST_F(TemplateListTest, EscapeLeavesTheTextAsItWasAndCollapsesTheSelection) {
    memo.Lines().SetText("sw");
    memo.SetSelection(2, 2);
    Key(&memo, Qt::Key_J, Qt::ControlModifier);
    QListWidget* list = List();
    ASSERT_TRUE(list && list->isVisible());
    EXPECT_EQ(list->currentRow(), 1);
    Key(list, Qt::Key_Escape);
    EXPECT_FALSE(list->isVisible());
    EXPECT_EQ(memo.Text(), "sw");
    EXPECT_EQ(memo.SelLength(), 0);
    EXPECT_EQ(memo.Caret(), 2);
    // Chosen by name over the word: it is replaced.
    Key(&memo, Qt::Key_J, Qt::ControlModifier);
    Key(list, Qt::Key_Return);
    EXPECT_EQ(memo.Text(), "switch ()");
    EXPECT_EQ(memo.Caret(), 8);
}

} // namespace
} // namespace morvane::editor
