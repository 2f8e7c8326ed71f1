// What the view shows around a search, offscreen: the match selected while the dialog has the
// focus, every match marked and counted, the dialogs' wrap around and whole-document boxes
// remembered; and the view's colours under a dark palette.

#include "core/platform/FakeUi.h"
#include "gui/editor/CodeMemo.h"
#include "gui/editor/FindDialog.h"
#include "support/QtTestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QImage>
#include <QPushButton>
#include <QThread>

#include <functional>

namespace morvane::editor {
namespace {

int Count(const QImage& img, QRect r, const std::function<bool(QColor)>& test) {
    int n = 0;
    r = r.intersected(img.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            if (test(img.pixelColor(x, y))) ++n;
    return n;
}

// The marks' orange over white paper.
bool Marked(QColor c) {
    return c.red() > 200 && c.green() > 150 && c.green() < 235 && c.blue() < 170;
}

class FindViewTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { morvane::testing::qtApp(); }
    void SetUp() override {
        saved_ = TCodeMemo::FindChoices();
        TCodeMemo::FindChoices() = {};
        memo.SetDialogs(&dialogs);
        memo.resize(600, 300);
        memo.show();
        QApplication::processEvents();
        cw = memo.FontMetrics().CharWidth();
        lh = memo.FontMetrics().LineHeight();
    }
    void TearDown() override {
        TCodeMemo::FindChoices() = saved_;
        TCodeMemo::OnFindChoicesChanged() = nullptr;
    }
    QImage Grab() {
        QApplication::processEvents();
        return memo.viewport()->grab().toImage();
    }
    QRect Cells(int row, int col, int count) const {
        return QRect(memo.TextLeft() + col * cw, row * lh, count * cw, lh);
    }
    // Runs the idle steps of the count until it has reported (bounded).
    void SettleCount() {
        for (int i = 0; i < 200 && !counted; ++i)
            QApplication::processEvents();
    }
    TFindDialog& OpenFind(const QString& text) {
        memo.ShowFindDialog(0);
        TFindDialog& d = *memo.FindDialog();
        d.setFindText(text);
        return d;
    }

    TCodeMemo::TFindChoices saved_;
    platform::FakeDialogs dialogs;
    TCodeMemo memo;
    int cw = 0, lh = 0;
    bool counted = false;
};

TEST_F(FindViewTest, EveryVisibleMatchIsMarkedAndCountedWhileTheDialogIsOpen) {
    memo.Lines().SetText("needle hay needle\nhay\nhay needle\n");
    long long count = -2;
    memo.OnMatchCount = [&](TCodeMemo*, long long n, bool) {
        count = n;
        counted = n >= 0;
    };
    OpenFind("needle");
    SettleCount();
    EXPECT_EQ(count, 3);
    QImage img = Grab();
    for (QRect r : {Cells(0, 0, 6), Cells(0, 11, 6), Cells(2, 4, 6)})
        EXPECT_GT(Count(img, r, Marked), r.width() * r.height() / 3);
    EXPECT_EQ(Count(img, Cells(0, 6, 5), Marked), 0);
    EXPECT_EQ(Count(img, Cells(1, 0, 3), Marked), 0);

    // The count follows typing in the text once typing pauses.
    counted = false;
    memo.SetSelection(memo.TextLength(), memo.TextLength());
    memo.ReplaceSel("needle");
    for (int i = 0; i < 100 && !counted; ++i) {
        QApplication::processEvents();
        QThread::msleep(10);
    }
    EXPECT_EQ(count, 4);

    // A new search text, then marking turned off in the dialog, then the dialog closed.
    memo.FindDialog()->setFindText("hay");
    counted = false;
    SettleCount();
    EXPECT_EQ(count, 3);
    img = Grab();
    EXPECT_EQ(Count(img, Cells(0, 0, 6), Marked), 0);
    EXPECT_GT(Count(img, Cells(1, 0, 3), Marked), 0);
    memo.FindDialog()->setMarkAll(false);
    EXPECT_EQ(count, -1);
    EXPECT_EQ(Count(Grab(), Cells(1, 0, 3), Marked), 0);
    EXPECT_FALSE(TCodeMemo::FindChoices().markAll);
    memo.FindDialog()->setMarkAll(true);
    EXPECT_GT(Count(Grab(), Cells(1, 0, 3), Marked), 0);
    memo.FindDialog()->hide();
    EXPECT_FALSE(memo.Marking());
    EXPECT_EQ(Count(Grab(), Cells(1, 0, 3), Marked), 0);
}

TEST_F(FindViewTest, TheFoundMatchShowsSelectedWhileTheDialogHasTheFocus) {
    std::string text;
    for (int i = 0; i < 200; ++i)
        text += "line\n";
    memo.Lines().SetText(text + "target\n");
    TFindDialog& d = OpenFind("target");
    d.setMarkAll(false);
    d.findChild<QPushButton*>("FindNextButton")->click();
    EXPECT_EQ(memo.SelText(), "target");
    ASSERT_GE(memo.LineFromOffset(memo.SelStart()), memo.TopLine());
    const int row = static_cast<int>(memo.LineFromOffset(memo.SelStart()) - memo.TopLine());
    ASSERT_LT(row, memo.VisibleRows()) << "scrolled into view";
    const QColor highlight = memo.SelTextBack();
    const QImage img = Grab();
    EXPECT_GT(Count(img, Cells(row, 0, 6), [&](QColor c) { return c == highlight; }), cw * lh)
        << "selected though the editor has no focus";
}

TEST_F(FindViewTest, WrapAroundIsOnByDefaultAndItsBoxIsRemembered) {
    memo.Lines().SetText("one needle\ntwo needle\n");
    TCodeMemo::TFindChoices told;
    int changes = 0;
    TCodeMemo::OnFindChoicesChanged() = [&](const TCodeMemo::TFindChoices& c) {
        told = c;
        ++changes;
    };
    TFindDialog& d = OpenFind("needle");
    EXPECT_TRUE(d.wrapAround());
    auto* next = d.findChild<QPushButton*>("FindNextButton");
    next->click();
    next->click();
    EXPECT_EQ(memo.SelStart(), 15);
    next->click();
    EXPECT_EQ(memo.SelStart(), 4) << "wrapped to the first match";
    EXPECT_TRUE(dialogs.shown.empty());

    d.findChild<QCheckBox*>("WrapAroundBox")->click();
    EXPECT_EQ(changes, 1);
    EXPECT_FALSE(told.wrapAround);
    next->click();
    next->click();
    EXPECT_EQ(memo.SelStart(), 15);
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].text, "Search string \"needle\" not found.");

    // Another dialog opens with the remembered choice.
    d.hide();
    memo.ShowReplaceDialog(0);
    EXPECT_FALSE(memo.ReplaceDialog()->wrapAround());
    EXPECT_TRUE(memo.ReplaceDialog()->wholeDocument());
}

TEST_F(FindViewTest, ReplaceAllTakesTheWholeDocumentUnlessTheBoxIsCleared) {
    memo.Lines().SetText("x x x x");
    memo.SetSelection(4, 4);
    memo.ShowReplaceDialog(0);
    TFindDialog& d = *memo.ReplaceDialog();
    d.setFindText("x");
    d.setReplaceText("y");
    d.findChild<QPushButton*>("ReplaceAllButton")->click();
    EXPECT_EQ(memo.Text(), "y y y y");
    ASSERT_TRUE(memo.Undo());
    d.findChild<QCheckBox*>("WholeDocumentBox")->click();
    EXPECT_FALSE(TCodeMemo::FindChoices().wholeDocument);
    memo.SetSelection(4, 4);
    memo.ShowReplaceDialog(0); // forgets the last found position: from the caret
    d.findChild<QPushButton*>("ReplaceAllButton")->click();
    EXPECT_EQ(memo.Text(), "x x y y");
}

// --- the desktop's palette ---

QPalette DarkPalette() {
    QPalette p;
    p.setColor(QPalette::Window, QColor(40, 40, 40));
    p.setColor(QPalette::Base, QColor(30, 30, 30));
    p.setColor(QPalette::Button, QColor(50, 50, 50));
    p.setColor(QPalette::Text, QColor(220, 220, 220));
    p.setColor(QPalette::WindowText, QColor(220, 220, 220));
    p.setColor(QPalette::ButtonText, QColor(220, 220, 220));
    p.setColor(QPalette::Highlight, QColor(60, 90, 160));
    p.setColor(QPalette::HighlightedText, QColor(255, 255, 255));
    return p;
}

bool Dark(QColor c) {
    return c.lightness() < 80;
}
bool Light(QColor c) {
    return c.lightness() > 150;
}

TEST_F(FindViewTest, ADarkPaletteTurnsTheTextAreaAndGutterDarkUnlessTheUserSetColours) {
    memo.Lines().SetText("some words here\nmore\n");
    memo.SetOptions(memo.Options() | smoLineNumbers);
    QImage light = Grab();
    const QRect paper(memo.TextLeft() + 20 * cw, 3 * lh, 5 * cw, lh);
    EXPECT_EQ(Count(light, paper, Light), paper.width() * paper.height());

    memo.setPalette(DarkPalette());
    QImage dark = Grab();
    EXPECT_EQ(Count(dark, paper, Dark), paper.width() * paper.height()) << "dark paper";
    EXPECT_GT(Count(dark, Cells(0, 0, 4), Light), 4) << "light ink";
    EXPECT_EQ(Count(dark, Cells(0, 0, 4), [](QColor c) { return c.lightness() < 20; }), 0)
        << "no black ink left";
    const QRect gutter(1, 0, memo.GutterWidth() - 4, 2 * lh);
    EXPECT_GT(Count(dark, gutter, Dark), gutter.width() * gutter.height() / 2);
    EXPECT_GT(Count(dark, gutter, Light), 2) << "the numbers read on the dark gutter";

    // Colours the user chose stay as chosen.
    memo.SetDefBackColor(QColor(255, 255, 200));
    const QImage chosen = Grab();
    EXPECT_EQ(chosen.pixelColor(paper.center()), QColor(255, 255, 200));
    EXPECT_FALSE(memo.FollowsDarkPalette());
}

} // namespace
} // namespace morvane::editor
