// The document's encoding in the window: the status panel, Edit > Encoding, the setting for new
// files, a refused character's message and the notice for UTF-16 files.
#include "MainFormFixture.h"
#include "support/QtTestSupport.h"
#include "gui/app/MainForm.h"
#include "gui/app/MorvaneEditor.h"
#include "gui/editor/CodeMemo.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QMenu>

using namespace morvane::app;
using namespace morvane::platform;
using morvane::editor::TTextEncoding;
using morvane::testing::processUntil;
using ::testing::HasSubstr;

namespace {

class EncodingTest : public morvane::testing::MainFormFixture {
protected:
    TMorvaneEditor* active() { return qobject_cast<TMorvaneEditor*>(form_->activeDocument()); }
    QString encodingPanel() { return form_->statusPanel(5)->text(); }
    QAction* choice(const char* name) {
        return form_->encodingMenu()->findChild<QAction*>(QString("EditEncoding") + name);
    }
};

TEST_F(EncodingTest, ThePanelAndTheMenuShowTheEncodingAndAChoiceReReadsTheBytes) {
    std::string path = file("page.html", "caf\xC3\xA9 \xE6\x97\xA5\n");
    TMainForm& f = form({path});
    ASSERT_EQ(f.documentCount(), 1);
    EXPECT_EQ(encodingPanel(), "UTF-8");
    ASSERT_TRUE(choice("UTF-8"));
    EXPECT_TRUE(choice("UTF-8")->isChecked());
    choice("Windows-1252")->trigger();
    EXPECT_EQ(active()->Editor().Encoding(), TTextEncoding::teWindows1252);
    EXPECT_EQ(encodingPanel(), "Windows-1252");
    EXPECT_TRUE(choice("Windows-1252")->isChecked());
    EXPECT_FALSE(active()->Editor().Modified()); // the bytes are the same
    EXPECT_EQ(active()->Editor().Text(), "caf\xC3\xA9 \xE6\x97\xA5\r");

    std::string latin = file("latin.txt", "caf\xE9\n");
    f.openLocalFiles({latin});
    processUntil([&] { return f.documentCount() == 2; });
    EXPECT_EQ(encodingPanel(), "Windows-1252");
    std::string bom = file("bom.txt", "\xEF\xBB\xBFx\n");
    f.openLocalFiles({bom});
    processUntil([&] { return f.documentCount() == 3; });
    EXPECT_EQ(encodingPanel(), "UTF-8 BOM");
}

TEST_F(EncodingTest, ACharacterTheEncodingCannotHoldIsRefusedWithAMessageOfferingUtf8) {
    std::string path = file("latin.txt", "caf\xE9\n");
    TMainForm& f = form({path});
    ASSERT_EQ(f.documentCount(), 1);
    auto& editor = active()->Editor();
    editor.SetSelection(4, 4);
    int beeps = dialogs.beeps;
    EXPECT_FALSE(editor.TypeCharacter(U'\u65E5'));
    EXPECT_EQ(dialogs.beeps, beeps + 1);
    EXPECT_THAT(f.statusPanel(4)->text().toStdString(), HasSubstr("UTF-8"));
    EXPECT_EQ(editor.Text(), "caf\xE9\r");
    // Switching to UTF-8 takes the message away; now the character goes in.
    choice("UTF-8")->trigger();
    EXPECT_EQ(f.statusPanel(4)->text(), "");
    EXPECT_TRUE(editor.TypeCharacter(U'\u65E5'));
    EXPECT_EQ(editor.Text(), "caf\xE9\xE6\x97\xA5\r");
}

TEST_F(EncodingTest, NewDocumentsTakeTheEncodingSetForNewFiles) {
    TMainForm& f = form();
    f.writeSetting("NewFileEncoding", "ISO-8859-15");
    auto* doc = new TMorvaneEditor(f);
    EXPECT_EQ(doc->Editor().Encoding(), TTextEncoding::teISO8859_15);
    f.writeSetting("NewFileEncoding", "no such encoding");
    auto* other = new TMorvaneEditor(f);
    EXPECT_EQ(other->Editor().Encoding(), TTextEncoding::teUTF8);
}

TEST_F(EncodingTest, AUtf16FileIsOpenedAsItsBytesWithANotice) {
    const std::string bytes("\xFF\xFEh\0i\0\n\0", 8);
    std::string path = file("wide.txt", bytes);
    TMainForm& f = form({path});
    ASSERT_EQ(f.documentCount(), 1);
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, MsgKind::Warning);
    EXPECT_THAT(dialogs.shown[0].text, HasSubstr("UTF-16"));
    active()->Editor().SaveToFile(path);
    EXPECT_EQ(morvane::testing::readFile(path), bytes);
}

} // namespace
