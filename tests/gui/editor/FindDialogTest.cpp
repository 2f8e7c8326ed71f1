// The control's find and replace dialogs offscreen: the text they offer, the messages that open
// them or search at once, and replacing through the prompt's All.
#include "gui/editor/FindDialog.h"
#include "core/editor/CodeMemoMessages.h"
#include "core/editor/Streams.h"
#include "core/platform/FakeUi.h"
#include "gui/editor/CodeMemo.h"
#include "support/QtTestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>

namespace morvane::editor {
namespace {

class FindDialogTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { morvane::testing::qtApp(); }
    void SetUp() override {
        memo.SetDialogs(&dialogs);
        memo.resize(600, 300);
        memo.show();
    }
    void Load(std::string_view text) {
        TFastMemoryStream s(text);
        memo.LoadFromStream(s);
        memo.SetSelection(0, 0);
    }

    platform::FakeDialogs dialogs;
    TCodeMemo memo;
};

TEST_F(FindDialogTest, TheDialogOffersTheSelectionOrTheWordAtTheCaret) {
    Load("alpha beta\rgamma");
    memo.SetSelection(7, 7); // inside "beta"
    memo.Perform(SM_FIND, 0, 0);
    ASSERT_NE(memo.FindDialog(), nullptr);
    EXPECT_TRUE(memo.FindDialog()->isVisible());
    EXPECT_EQ(memo.FindDialog()->findText(), "beta");
    EXPECT_FALSE(memo.FindDialog()->regularExpressions());

    // A selection over a line break offers its first line; regular expressions come with the
    // request.
    memo.SetSelection(6, 13);
    memo.Perform(SM_FIND, highlight::sfRegExpr, 0);
    EXPECT_EQ(memo.FindDialog()->findText(), "beta");
    EXPECT_TRUE(memo.FindDialog()->regularExpressions());

    // Opening the replace dialog closes the find dialog.
    memo.Perform(SM_REPLACEDIALOG, 0, 0);
    ASSERT_NE(memo.ReplaceDialog(), nullptr);
    EXPECT_TRUE(memo.ReplaceDialog()->isVisible());
    EXPECT_FALSE(memo.FindDialog()->isVisible());
}

TEST_F(FindDialogTest, SearchAtOnceReturnsWhereItFound) {
    Load("one two one");
    EXPECT_EQ(memo.Perform(SM_FIND, highlight::sfAtOnce, reinterpret_cast<std::intptr_t>("one")),
              0);
    EXPECT_EQ(memo.Perform(SM_FIND, highlight::sfAtOnce, reinterpret_cast<std::intptr_t>("one")),
              8);
    EXPECT_EQ(memo.SelText(), "one");
    EXPECT_EQ(memo.Perform(SM_FIND, highlight::sfAtOnce, reinterpret_cast<std::intptr_t>("one")),
              -1);
    EXPECT_EQ(memo.Perform(SM_FIND, highlight::sfAtOnce | highlight::sfRegExpr,
                           reinterpret_cast<std::intptr_t>("t.o")),
              -1); // the selection stands at the end
    memo.SetSelection(0, 0);
    EXPECT_NE(memo.Perform(SM_FIND, highlight::sfAtOnce | highlight::sfRegExpr,
                           reinterpret_cast<std::intptr_t>("t.o")),
              -1);
    EXPECT_EQ(memo.SelText(), "two");
}

TEST_F(FindDialogTest, ReplaceAsksAndAllReplacesTheRestAsOneStep) {
    Load("x x x x");
    long long reported = -1;
    memo.OnReplaceAllDone = [&](TCodeMemo*, long long n) { reported = n; };
    memo.ShowReplaceDialog(0);
    TFindDialog& d = *memo.ReplaceDialog();
    d.setFindText("x");
    d.setReplaceText("yy");
    dialogs.answers = {platform::MsgResult::No, platform::MsgResult::All};
    d.findChild<QPushButton*>("ReplaceButton")->click();
    EXPECT_EQ(memo.Text(), "x yy yy yy");
    ASSERT_GE(dialogs.shown.size(), 2u);
    EXPECT_EQ(dialogs.shown[0].text, "Replace this occurence of 'x' with 'yy' ?");
    EXPECT_TRUE(dialogs.shown[0].buttons & platform::mbAll);

    memo.SetSelection(0, 0);
    memo.ShowReplaceDialog(0); // forgets the last found position: from the caret
    d.setFindText("yy");
    d.setReplaceText("z");
    d.findChild<QPushButton*>("ReplaceAllButton")->click();
    EXPECT_EQ(memo.Text(), "x z z z");
    EXPECT_EQ(reported, 3);
    EXPECT_TRUE(memo.Undo());
    EXPECT_EQ(memo.Text(), "x yy yy yy");
}

} // namespace
} // namespace morvane::editor
