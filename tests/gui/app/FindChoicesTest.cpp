// The find dialogs in the window: their boxes read from and written to the settings, the count
// of marked matches in the status bar, and line numbers on in a new document.
#include "MainFormFixture.h"
#include "gui/app/MainForm.h"
#include "gui/app/MorvaneEditor.h"
#include "gui/editor/CodeMemo.h"
#include "gui/editor/FindDialog.h"
#include "support/QtTestSupport.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>

using namespace morvane::app;
using morvane::editor::TCodeMemo;
using morvane::testing::processUntil;

namespace {

class FindChoicesTest : public morvane::testing::MainFormFixture {
protected:
    void TearDown() override { TCodeMemo::FindChoices() = {}; }
    TMorvaneEditor* active() { return qobject_cast<TMorvaneEditor*>(form_->activeDocument()); }
};

TEST_F(FindChoicesTest, TheBoxesComeFromTheSettingsAndAChangeIsStored) {
    std::string path = file("a.txt", "a needle b needle\n");
    TMainForm& first = form();
    first.writeSetting("Find wrap around", "False");
    form_.reset();
    TMainForm& f = form({path});
    EXPECT_FALSE(TCodeMemo::FindChoices().wrapAround) << "stored off";
    EXPECT_TRUE(TCodeMemo::FindChoices().markAll) << "nothing stored: on";
    TCodeMemo& editor = active()->Editor();
    EXPECT_TRUE(editor.Options() & morvane::editor::smoLineNumbers);

    editor.ShowFindDialog(0);
    auto& dialog = *editor.FindDialog();
    EXPECT_FALSE(dialog.wrapAround());
    dialog.setFindText("needle");
    EXPECT_TRUE(processUntil([&] { return f.statusPanel(3)->text() == "2 matches"; }));
    dialog.findChild<QCheckBox*>("WrapAroundBox")->click();
    EXPECT_EQ(f.readSetting("Find wrap around"), "True");
    dialog.findChild<QCheckBox*>("MarkAllBox")->click();
    EXPECT_EQ(f.readSetting("Mark all matches"), "False");
    EXPECT_EQ(f.statusPanel(3)->text(), "");
}

} // namespace
