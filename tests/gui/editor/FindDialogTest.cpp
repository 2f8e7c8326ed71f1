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
#include <QCheckBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

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

// A search through a large text shows the busy indicator, and Escape pressed meanwhile stops it:
// the text, the selection and the dialog stay as they were, and nothing is reported.
TEST_F(FindDialogTest, EscapeStopsALongSearchAndLeavesEverythingAsItWas) {
    const std::string text = std::string(6'000'000, 'x') + " needle";
    Load(text);
    memo.SetSelection(10, 12);
    memo.Perform(SM_FIND, highlight::sfRegExpr, 0);
    TFindDialog& d = *memo.FindDialog();
    d.setFindText("(.)(.)needle"); // tried at every position: seconds of work
    d.setRegularExpressions(true);
    bool indicatorShown = false;
    auto pressEscapeSoon = [&] {
        QTimer::singleShot(0, &d, [&] {
            auto* wait = memo.findChild<QWidget*>("SearchBusy");
            indicatorShown = wait && wait->isVisible();
            QApplication::postEvent(
                &d, new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
        });
    };
    pressEscapeSoon();
    d.findChild<QPushButton*>("FindNextButton")->click();
    EXPECT_TRUE(indicatorShown);
    EXPECT_EQ(memo.SelStart(), 10);
    EXPECT_EQ(memo.SelLength(), 2);
    EXPECT_EQ(memo.TextLength(), TextOffset(text.size()));
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_TRUE(d.isVisible()); // the Escape went to the search, not to the dialog
    EXPECT_FALSE(memo.findChild<QWidget*>("SearchBusy"));

    // Find Next and Replace All stop the same way; replacing nothing leaves no undo step.
    pressEscapeSoon();
    memo.FindNextCommand(0);
    EXPECT_EQ(memo.SelStart(), 10);
    memo.ShowReplaceDialog(highlight::sfRegExpr);
    TFindDialog& r = *memo.ReplaceDialog();
    r.setFindText("(.)(.)needle");
    r.setReplaceText("pin");
    pressEscapeSoon();
    r.findChild<QPushButton*>("ReplaceAllButton")->click();
    EXPECT_EQ(memo.TextLength(), TextOffset(text.size()));
    EXPECT_FALSE(memo.CanUndo());

    // Let go, the same search finds its match.
    r.hide();
    memo.SetSelection(0, 0);
    memo.Perform(SM_FIND, highlight::sfRegExpr, 0);
    d.setFindText("(.)(.)needle");
    d.findChild<QPushButton*>("FindNextButton")->click();
    EXPECT_EQ(memo.SelStart(), TextOffset(text.size()) - 8);
    EXPECT_TRUE(dialogs.shown.empty());
}

// Events handled while a search runs may ask for another one (a click the event loop delivers
// late): it is refused, and the running search ends once, with one report.
TEST_F(FindDialogTest, ASearchAskedForDuringASearchIsRefused) {
    Load(std::string(6'000'000, 'x'));
    memo.Perform(SM_FIND, highlight::sfRegExpr, 0);
    TFindDialog& d = *memo.FindDialog();
    d.setFindText("(.)(.)needle");
    d.setRegularExpressions(true);
    auto* findNext = d.findChild<QPushButton*>("FindNextButton");
    QTimer::singleShot(0, &d, [findNext] { findNext->click(); });
    findNext->click();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].text, "Search string \"(.)(.)needle\" not found.");
    EXPECT_EQ(memo.SelStart(), 0);
}

} // namespace
} // namespace morvane::editor
