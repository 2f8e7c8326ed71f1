// A local document and its file on disk: a file another program changed is never overwritten
// without a question whose Enter and Escape keep everything, and a reload over edits is one undo
// step away from them.
#include "MainFormFixture.h"
#include "gui/app/MainForm.h"
#include "gui/app/MorvaneEditor.h"
#include "gui/editor/CodeMemo.h"
#include "gui/platform/QtUiServices.h"
#include "support/QtTestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QTest>
#include <QTimer>

#include <filesystem>
#include <fstream>

namespace morvane::testing {
namespace {

using app::TMorvaneEditor;
using platform::MsgResult;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
namespace fs = std::filesystem;

const char* const kSaveQuestion = "The file 'a.txt' was changed on disk since you opened it.";

class ChangedOnDisk : public MainFormFixture {
protected:
    TMorvaneEditor* open(const std::string& bytes) {
        path = file("a.txt", bytes);
        form({path});
        auto* doc = qobject_cast<TMorvaneEditor*>(form_->activeDocument());
        EXPECT_TRUE(doc);
        return doc;
    }
    static std::string text(TMorvaneEditor* doc) { return doc->Editor().Text(editor::tfLF); }
    static void typeAtEnd(TMorvaneEditor* doc, const std::string& s) {
        auto& e = doc->Editor();
        e.SetSelection(e.TextLength(), e.TextLength());
        e.ReplaceSel(s);
    }
    void append(const std::string& bytes) {
        std::ofstream(path, std::ios::binary | std::ios::app) << bytes;
    }
    std::string path;
};

TEST_F(ChangedOnDisk, SaveAsksAndCancelOrOverwriteDoWhatTheySay) {
    auto* doc = open("one\n");
    typeAtEnd(doc, "mine");
    append("theirs\n");
    dialogs.answers = {MsgResult::Cancel};
    doc->Save();
    ASSERT_THAT(dialogs.texts(), ElementsAre(kSaveQuestion));
    EXPECT_EQ(dialogs.shown[0].buttons,
              unsigned(platform::mbOverwriteReloadCancel | platform::mbCompare));
    EXPECT_EQ(readFile(path), "one\ntheirs\n");
    EXPECT_EQ(text(doc), "one\nmine");
    EXPECT_TRUE(doc->Editor().Modified());

    dialogs.answers = {MsgResult::Overwrite};
    doc->Save();
    EXPECT_EQ(dialogs.shown.size(), 2u);
    EXPECT_EQ(readFile(path), "one\nmine");
    EXPECT_FALSE(doc->Editor().Modified());
    // The document's own save is no change by another program.
    typeAtEnd(doc, "!");
    doc->Save();
    doc->CheckDiskFile();
    EXPECT_EQ(dialogs.shown.size(), 2u);
    EXPECT_EQ(readFile(path), "one\nmine!");
}

TEST_F(ChangedOnDisk, AFileReplacedWithTheSameSizeAndTimeIsSeenAndReloadIsOneUndoStep) {
    auto* doc = open("one\n");
    typeAtEnd(doc, "mine");
    std::string other = file("other.txt", "two\n");
    fs::last_write_time(other, fs::last_write_time(path));
    fs::rename(other, path);
    dialogs.answers = {MsgResult::Reload};
    doc->Save();
    ASSERT_THAT(dialogs.texts(), ElementsAre(kSaveQuestion));
    EXPECT_EQ(readFile(path), "two\n");
    EXPECT_EQ(text(doc), "two\n");
    EXPECT_FALSE(doc->Editor().Modified());
    ASSERT_TRUE(doc->Editor().Undo());
    EXPECT_EQ(text(doc), "one\nmine");
    EXPECT_TRUE(doc->Editor().Modified());
    ASSERT_TRUE(doc->Editor().Redo());
    EXPECT_EQ(text(doc), "two\n");
    EXPECT_FALSE(doc->Editor().Modified());
    // The reloaded file is the document's now: the typing brought back saves without a question.
    doc->Editor().Undo();
    doc->Save();
    EXPECT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(readFile(path), "one\nmine");
}

TEST_F(ChangedOnDisk, ClosingWithSaveThatIsCancelledKeepsTheDocumentOpen) {
    auto* doc = open("one\n");
    typeAtEnd(doc, "mine");
    append("theirs\n");
    dialogs.answers = {MsgResult::Yes, MsgResult::Cancel};
    form_->action("FileClose")->trigger();
    settle();
    ASSERT_EQ(dialogs.texts().size(), 2u);
    EXPECT_EQ(dialogs.texts()[1], kSaveQuestion);
    EXPECT_EQ(form_->documentCount(), 1);
    EXPECT_EQ(readFile(path), "one\ntheirs\n");
    EXPECT_EQ(text(doc), "one\nmine");
}

TEST_F(ChangedOnDisk, TheCheckOffersAReloadAndRemembersARefusal) {
    auto* doc = open("v1\n");
    doc->CheckDiskFile();
    EXPECT_TRUE(dialogs.shown.empty()); // nothing changed
    std::ofstream(path, std::ios::binary) << "v2 longer\n";
    dialogs.answers = {MsgResult::Yes};
    doc->CheckDiskFile();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_THAT(dialogs.shown[0].text, HasSubstr("changed on disk by another program"));
    EXPECT_EQ(dialogs.shown[0].buttons, unsigned(platform::mbYesNo));
    EXPECT_EQ(text(doc), "v2 longer\n");
    EXPECT_FALSE(doc->Editor().Modified());

    // With edits the question says what is at stake; Cancel keeps them and is not asked again
    // for the same change, but saving still asks.
    typeAtEnd(doc, "!");
    append("v3\n");
    dialogs.answers = {MsgResult::Cancel};
    doc->CheckDiskFile();
    ASSERT_EQ(dialogs.shown.size(), 2u);
    EXPECT_THAT(dialogs.shown[1].text, HasSubstr("not saved"));
    EXPECT_EQ(dialogs.shown[1].buttons, unsigned(platform::mbReload | platform::mbCancel));
    EXPECT_EQ(text(doc), "v2 longer\n!");
    doc->CheckDiskFile();
    EXPECT_EQ(dialogs.shown.size(), 2u);
    dialogs.answers = {MsgResult::Cancel};
    doc->Save();
    EXPECT_EQ(dialogs.texts().back(), kSaveQuestion);
    EXPECT_EQ(readFile(path), "v2 longer\nv3\n");

    // A file that is gone has nothing to lose: no question, and saving writes it again.
    fs::remove(path);
    doc->CheckDiskFile();
    doc->Save();
    EXPECT_EQ(dialogs.shown.size(), 3u);
    EXPECT_EQ(readFile(path), "v2 longer\n!");
}

TEST_F(ChangedOnDisk, TheWatchNoticesAChangeByItself) {
    auto* doc = open("v1\n");
    dialogs.answers = {MsgResult::Yes};
    append("v2\n");
    ASSERT_TRUE(processUntil([&] { return !dialogs.shown.empty(); }));
    EXPECT_TRUE(processUntil([&] { return text(doc) == "v1\nv2\n"; }));
}

// Enter and Escape take Cancel on a question whose other answers overwrite a file or throw the
// user's text away.
TEST(ChangedQuestion, EnterAndEscapeAnswerCancel) {
    qtApp();
    platform::QtDialogs dialogs;
    for (unsigned buttons :
         {unsigned(platform::mbOverwriteReloadCancel), platform::mbReload | platform::mbCancel,
          platform::mbOverwriteReloadCancel | platform::mbCompare}) {
        for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
            SCOPED_TRACE(std::to_string(buttons) + " " + std::to_string(key));
            bool pressed = false;
            QTimer::singleShot(0, [&] {
                if (QWidget* box = QApplication::activeModalWidget()) {
                    QTest::keyClick(box->focusWidget() ? box->focusWidget() : box, key);
                    pressed = true;
                }
            });
            EXPECT_EQ(dialogs.message(platform::MsgKind::Warning, "changed", buttons),
                      MsgResult::Cancel);
            EXPECT_TRUE(pressed);
        }
    }
}

} // namespace
} // namespace morvane::testing
