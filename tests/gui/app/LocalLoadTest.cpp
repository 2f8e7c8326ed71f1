#include "gui/app/LocalLoad.h"
#include "MainFormFixture.h"
#include "gui/app/MainForm.h"
#include "gui/app/MorvaneEditor.h"
#include "gui/editor/CodeMemo.h"
#include "support/QtTestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

#include <cstdlib>

using namespace morvane::app;
using morvane::testing::processUntil;
using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace {

// Loads of a few hundred kilobytes take many small slices and show progress from the first.
class LocalLoadTest : public morvane::testing::MainFormFixture {
protected:
    void SetUp() override {
        MainFormFixture::SetUp();
        TLocalLoad::SetSlicing(16 * 1024, 0);
    }
    void TearDown() override {
        form_.reset();
        TLocalLoad::SetSlicing(TLocalLoad::kSliceBytes, TLocalLoad::kQuietMs);
        ::unsetenv("MORVANE_AVAILABLE_MEMORY");
    }
    TMorvaneEditor* doc(int i) {
        return qobject_cast<TMorvaneEditor*>(form_->pageControl()->widget(i));
    }
    std::string bigFile(const std::string& name) {
        std::string text;
        for (int i = 0; text.size() < 600 * 1024; ++i)
            text += "line " + std::to_string(i) + " of a long log\n";
        return file(name, text);
    }
    QString panel(int i) { return form_->statusPanel(i)->text(); }
};

TEST_F(LocalLoadTest, ALongLoadShowsItsProgressIsReadOnlyAndCancelClosesIt) {
    TMainForm& f = form();
    f.openLocalFiles({bigFile("big.log")});
    ASSERT_EQ(f.documentCount(), 1);
    TMorvaneEditor* d = doc(0);
    ASSERT_TRUE(d->Loading());
    EXPECT_TRUE(d->Editor().ReadOnly());
    EXPECT_TRUE(d->Busy());
    for (const char* name : {"FileSave", "SearchFind", "SearchReplace", "SearchGotoLine"})
        EXPECT_FALSE(f.action(name)->isEnabled()) << name;
    ASSERT_TRUE(processUntil([&] { return panel(4).startsWith("Loading big.log: "); }));
    EXPECT_THAT(panel(4).toStdString(), ::testing::MatchesRegex("Loading big.log: [0-9]+%"));
    EXPECT_TRUE(f.cancelTransferButton()->isVisibleTo(&f));
    EXPECT_TRUE(f.transferProgressBar()->isVisibleTo(&f));
    QTest::mouseClick(f.cancelTransferButton(), Qt::LeftButton);
    ASSERT_TRUE(processUntil([&] { return f.documentCount() == 0; }));
    EXPECT_TRUE(dialogs.shown.empty()); // a cancel is no error
    EXPECT_FALSE(f.cancelTransferButton()->isVisibleTo(&f));
    EXPECT_EQ(TLocalLoad::RunningCount(), 0);
}

TEST_F(LocalLoadTest, AnotherFileOpensWhileOneLoadsAndBothEndWhole) {
    TMainForm& f = form();
    const std::string big = bigFile("big.log");
    f.openLocalFiles({big});
    ASSERT_TRUE(doc(0)->Loading());
    // The small one is read at once, while the big one goes on in the background.
    f.openLocalFiles({file("small.txt", "small\n")});
    ASSERT_EQ(f.documentCount(), 2);
    EXPECT_FALSE(doc(1)->Loading());
    EXPECT_FALSE(doc(1)->Editor().ReadOnly());
    EXPECT_EQ(doc(1)->Editor().Text(morvane::editor::tfLF), "small\n");
    EXPECT_TRUE(f.action("FileSave")->isEnabled()); // the small one is active
    EXPECT_TRUE(doc(0)->Loading());
    bool waited = false;
    TLocalLoad::WhenNoneRunning(&f, [&] { waited = true; });
    EXPECT_FALSE(waited);
    ASSERT_TRUE(processUntil([&] { return !doc(0)->Loading(); }, 20000));
    EXPECT_TRUE(processUntil([&] { return waited; }));
    EXPECT_EQ(doc(0)->Editor().Text(morvane::editor::tfLF), morvane::testing::readFile(big));
    EXPECT_FALSE(doc(0)->Editor().ReadOnly());
    EXPECT_FALSE(doc(0)->Editor().Modified());
    f.pageControl()->setCurrentIndex(0);
    EXPECT_TRUE(f.action("FileSave")->isEnabled());
    EXPECT_EQ(panel(4), "");
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(LocalLoadTest, ClosingTheTabStopsTheLoadWithoutAQuestion) {
    TMainForm& f = form();
    f.openLocalFiles({bigFile("big.log")});
    ASSERT_TRUE(doc(0)->Loading());
    f.action("FileClose")->trigger();
    ASSERT_TRUE(processUntil([&] { return f.documentCount() == 0; }));
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_EQ(TLocalLoad::RunningCount(), 0);
}

TEST_F(LocalLoadTest, AFileBiggerThanTheMemoryIsRefusedWithItsSize) {
    TMainForm& f = form();
    ::setenv("MORVANE_AVAILABLE_MEMORY", "2000000", 1);
    f.openLocalFiles({file("huge.bin", std::string(2'500'000, 'x'))});
    ASSERT_TRUE(processUntil([&] { return f.documentCount() == 0; }));
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].text, "File huge.bin is 2.5 MB; only 2.0 MB of memory is "
                                     "available, so it cannot be opened.");
}

TEST_F(LocalLoadTest, AFileThatShrinksWhileLoadingIsClosedWithAMessage) {
    TMainForm& f = form();
    const std::string path = bigFile("cut.log");
    f.openLocalFiles({path});
    ASSERT_TRUE(doc(0)->Loading());
    std::filesystem::resize_file(path, 1000);
    ASSERT_TRUE(processUntil([&] { return f.documentCount() == 0; }, 20000));
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_THAT(dialogs.shown[0].text, StartsWith("File cut.log became shorter while it was read"));
}

TEST_F(LocalLoadTest, WorkWaitingForTheTextRunsOnceItIsWholeAndNeverForACancelledLoad) {
    TMainForm& f = form();
    const std::string big = bigFile("big.log");
    f.openLocalFiles({big, big});
    ASSERT_EQ(f.documentCount(), 2);
    std::vector<std::string> ran;
    doc(0)->WhenLoaded([&] { ran.push_back("cancelled one"); });
    doc(1)->WhenLoaded(
        [&, d = doc(1)] { ran.push_back("whole: " + std::to_string(d->Editor().TextLength())); });
    doc(0)->CancelLoad();
    ASSERT_TRUE(processUntil([&] { return !ran.empty(); }, 20000));
    EXPECT_EQ(
        ran, std::vector<std::string>{"whole: " + std::to_string(std::filesystem::file_size(big))});
    EXPECT_EQ(f.documentCount(), 1);
    // A document that is whole runs it at once.
    doc(0)->WhenLoaded([&] { ran.push_back("at once"); });
    EXPECT_EQ(ran.back(), "at once");
}

// Keys and clicks while the text arrives must not move where it goes.
TEST_F(LocalLoadTest, KeysAndClicksDuringALoadLeaveTheTextWhole) {
    TMainForm& f = form();
    const std::string big = bigFile("big.log");
    f.openLocalFiles({big});
    TMorvaneEditor* d = doc(0);
    ASSERT_TRUE(d->Loading());
    auto& editor = d->Editor();
    for (int i = 0; i < 200 && d->Loading(); ++i) {
        QTest::keyClick(&editor, Qt::Key_Home, Qt::ControlModifier);
        QTest::keyClick(&editor, Qt::Key_Down);
        QTest::keyClick(&editor, Qt::Key_X);
        QTest::mouseClick(editor.viewport(), Qt::LeftButton, {}, QPoint(20, 20));
        QApplication::processEvents();
    }
    ASSERT_TRUE(processUntil([&] { return !d->Loading(); }, 20000));
    EXPECT_TRUE(editor.Text(morvane::editor::tfLF) == morvane::testing::readFile(big));
    EXPECT_FALSE(editor.Modified());
}

TEST_F(LocalLoadTest, ClosingTheWindowDuringALoadEndsIt) {
    TMainForm& f = form();
    f.openLocalFiles({bigFile("big.log")});
    ASSERT_TRUE(doc(0)->Loading());
    f.close();
    ASSERT_TRUE(processUntil([&] { return f.documentCount() == 0 && !f.isVisible(); }));
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_EQ(TLocalLoad::RunningCount(), 0);
}

} // namespace
