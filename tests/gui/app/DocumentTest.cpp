#include "MainFormFixture.h"
#include "core/app/AppRegistry.h"
#include "core/platform/FakeUi.h"
#include "gui/app/MainForm.h"
#include "gui/app/MorvaneEditor.h"
#include "gui/editor/CodeMemo.h"
#include "support/QtTestSupport.h"
#include "support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAction>
#include <QDropEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QTabWidget>
#include <QTest>
#include <QUrl>

#include <sys/stat.h>

using namespace morvane::app;
using namespace morvane::platform;
using morvane::testing::processUntil;
using morvane::testing::readFile;
using morvane::testing::settle;
using morvane::testing::TempDir;
using morvane::testing::writeFile;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

class DocumentTest : public morvane::testing::MainFormFixture {
protected:
    TMorvaneEditor* active() { return qobject_cast<TMorvaneEditor*>(form_->activeDocument()); }
    QString panel(int i) { return form_->statusPanel(i)->text(); }
};

TEST_F(DocumentTest, AFileFromTheCommandLineOpensInATabWithItsStatus) {
    std::string path = file("index.html", "<p>\r\nhello\r\n");
    TMainForm& f = form({path});
    ASSERT_EQ(f.documentCount(), 1);
    EXPECT_EQ(f.pageControl()->tabText(0), "index.html");
    EXPECT_EQ(panel(0), "   1:   1");
    EXPECT_EQ(panel(1), "");
    EXPECT_EQ(panel(2), "Local");
    EXPECT_EQ(active()->Directory(), dir.path().string() + "/");
    EXPECT_TRUE(f.action("FileSave")->isEnabled());
    EXPECT_TRUE(f.action("FileClose")->isEnabled());
    EXPECT_TRUE(f.action("FilePrint")->isEnabled());
    EXPECT_TRUE(f.action("FilePrintSetup")->isEnabled());
    EXPECT_EQ(f.action("FileSaveAsLocalFile")->text(), "Save As Remote &File...");
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(DocumentTest, AFileThatCannotBeReadShowsItsErrorAndLeavesNoTab) {
    TMainForm& f = form({(dir / "missing.txt").string()});
    processUntil([&] { return f.documentCount() == 0; });
    EXPECT_EQ(f.documentCount(), 0);
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, MsgKind::Error);
    EXPECT_THAT(dialogs.shown[0].text, HasSubstr("missing.txt"));
    EXPECT_FALSE(f.action("FileSave")->isEnabled());
}

TEST_F(DocumentTest, DoubleSpacedFilesAreOfferedARepair) {
    std::string spaced = file("spaced.txt", "a\n\nb\n\nc");
    dialogs.answers = {MsgResult::Yes};
    form({spaced});
    ASSERT_THAT(
        dialogs.texts(),
        ElementsAre(
            "This file appears to have double-spaced lines, would you like to remove them?"));
    EXPECT_EQ(active()->Editor().Text(), "a\rb\rc");
    EXPECT_TRUE(active()->Editor().Modified());
    EXPECT_EQ(panel(1), "Modified");
    active()->Editor().Undo();
    EXPECT_EQ(active()->Editor().Text(), "a\r\rb\r\rc"); // one undo step
}

TEST_F(DocumentTest, AnOrdinaryFileWithAFinalLineBreakIsNotDoubleSpaced) {
    // A line that fills a whole record is one line, whatever way it was stored.
    const std::string longLine(2047, 'x');
    form({file("one.txt", "just one line\n"), file("two.txt", "a\nb\n"), file("blank.txt", "\n\n"),
          file("long.txt", longLine + "\nb\n")});
    // Only the file of two empty lines is offered a repair.
    EXPECT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(active()->Editor().Lines().GetText(), longLine + "\r\nb\r\n");
}

TEST_F(DocumentTest, AnAmpersandInAFileNameShowsInItsTab) {
    TMainForm& f = form({file("R&D notes.txt", "x\n")});
    // A tab caption doubles "&" to show it rather than underline the next letter.
    EXPECT_EQ(f.pageControl()->tabText(0), "R&&D notes.txt");
    EXPECT_EQ(active()->FileName(), "R&D notes.txt");
}

// Asking the clipboard can wait on a program that hangs: keys never ask it, a change the
// clipboard announces and an opening menu do.
TEST_F(DocumentTest, PasteFollowsTheClipboardWithoutAskingItOnEveryKey) {
    TMainForm& f = form({file("a.txt", "one two\n")});
    auto& memo = active()->Editor();
    EXPECT_FALSE(f.action("EditPaste")->isEnabled());
    clipboard.queries = 0;
    for (auto key : {Qt::Key_Right, Qt::Key_End, Qt::Key_Home, Qt::Key_X, Qt::Key_Backspace})
        QTest::keyClick(&memo, key);
    QTest::keyClick(&memo, Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_EQ(clipboard.queries, 0);
    EXPECT_TRUE(f.action("EditCopy")->isEnabled());
    // Another program copies text.
    clipboard.contents = {{"text/plain", "pasted"}};
    clipboard.announceChange();
    EXPECT_TRUE(f.action("EditPaste")->isEnabled());
    // ... and goes without announcing it: the Edit menu asks again as it opens.
    clipboard.contents.clear();
    QMenu* edit = f.menu("Edit");
    edit->popup(QPoint(0, 0));
    processUntil([&] { return edit->isVisible(); });
    edit->hide();
    EXPECT_FALSE(f.action("EditPaste")->isEnabled());
    // Paste stays off in a read-only document whatever the clipboard holds.
    clipboard.contents = {{"text/html", "<b>x</b>"}};
    memo.SetReadOnly(true);
    clipboard.announceChange();
    EXPECT_FALSE(f.action("EditPaste")->isEnabled());
    memo.SetReadOnly(false);
    clipboard.announceChange();
    EXPECT_TRUE(f.action("EditPaste")->isEnabled());
}

TEST_F(DocumentTest, TheEditCommandsWorkOnTheActiveDocument) {
    TMainForm& f = form({file("a.txt", "one\ntwo\n")});
    auto& memo = active()->Editor();
    EXPECT_FALSE(f.action("EditCopy")->isEnabled());
    EXPECT_FALSE(f.action("EditUndo")->isEnabled());
    f.action("EditSelectAll")->trigger();
    EXPECT_TRUE(f.action("EditCopy")->isEnabled());
    f.action("EditCopy")->trigger();
    EXPECT_EQ(clipboard.text(), "one\ntwo\n");
    f.action("EditIndent")->trigger();
    EXPECT_EQ(memo.Lines().Get(1).substr(0, 1), "\t");
    EXPECT_TRUE(f.action("EditUndo")->isEnabled());
    EXPECT_EQ(panel(1), "Modified");
    f.action("EditUndo")->trigger();
    EXPECT_EQ(memo.Text(), "one\rtwo\r");
    EXPECT_EQ(panel(1), "");
    EXPECT_TRUE(f.action("EditRedo")->isEnabled());
    f.action("EditRedo")->trigger();
    f.action("EditUnindent")->trigger();
    EXPECT_EQ(memo.Text(), "one\rtwo\r");
    memo.SetSelection(0, 3);
    f.action("EditCut")->trigger();
    EXPECT_EQ(clipboard.text(), "one");
    f.action("EditPaste")->trigger();
    f.action("EditPaste")->trigger();
    EXPECT_EQ(memo.Lines().Get(0), "oneone");
}

TEST_F(DocumentTest, SaveKeepsTheLineEndsTheFileHad) {
    std::string dos = file("dos.txt", "one\r\ntwo\r\n");
    form({dos});
    active()->Editor().SetSelection(0, 0);
    active()->Editor().ReplaceSel("zero ");
    EXPECT_EQ(panel(1), "Modified");
    form_->action("FileSave")->trigger();
    EXPECT_EQ(readFile(dos), "zero one\r\ntwo\r\n");
    EXPECT_EQ(panel(1), "");
    EXPECT_TRUE(dialogs.shown.empty());
}

// Revert asks only when there are changes to lose; an unmodified document just reloads.
TEST_F(DocumentTest, RevertAsksOnlyWhenThereIsSomethingToDiscard) {
    std::string path = file("r.txt", "one\n");
    form({path});
    writeFile(dir / "r.txt", "two\n");
    form_->action("FileRevert")->trigger();
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_EQ(active()->Editor().Text(), "two\r");

    active()->Editor().ReplaceSel("typed ");
    dialogs.answers = {MsgResult::No};
    form_->action("FileRevert")->trigger();
    EXPECT_THAT(dialogs.texts(), ElementsAre("Discard changes and reload original file?"));
    EXPECT_EQ(active()->Editor().Text(), "typed two\r");
}

TEST_F(DocumentTest, SaveAsWritesTheNewFileAndRenamesTheTab) {
    std::string path = file("a.txt", "text\n");
    form({path});
    std::string target = (dir / "b.conf").string();
    dialogs.saveAnswers = {target};
    form_->action("FileSaveAs")->trigger();
    EXPECT_EQ(readFile(target), "text\n");
    EXPECT_EQ(form_->pageControl()->tabText(0), "b.conf");
    EXPECT_EQ(dialogs.fileDialogs.back().filter, "All Files (*.*)|*.*");
    EXPECT_EQ(dialogs.fileDialogs.back().fileName, "a.txt");
}

TEST_F(DocumentTest, ClosingAModifiedDocumentAsksAndSavesFirst) {
    std::string path = file("a.txt", "text\n");
    form({path});
    active()->Editor().ReplaceSel("new ");
    dialogs.answers = {MsgResult::Yes};
    form_->action("FileClose")->trigger();
    EXPECT_THAT(dialogs.texts(),
                ElementsAre("File 'a.txt' has been modified, save before closing?"));
    ASSERT_TRUE(processUntil([&] { return form_->documentCount() == 0; }));
    EXPECT_EQ(readFile(path), "new text\n");
}

TEST_F(DocumentTest, AFailedSaveKeepsTheDocumentOpenAndModified) {
    std::string path = file("locked.txt", "text\n");
    form({path});
    ::chmod(path.c_str(), 0444); // refused even for root
    active()->Editor().ReplaceSel("new ");
    dialogs.answers = {MsgResult::Yes};
    form_->action("FileClose")->trigger();
    settle();
    EXPECT_EQ(form_->documentCount(), 1);
    EXPECT_TRUE(active()->Editor().Modified());
    ASSERT_EQ(dialogs.shown.size(), 2u);
    EXPECT_EQ(dialogs.shown[1].kind, MsgKind::Error);
    EXPECT_EQ(readFile(path), "text\n");
}

TEST_F(DocumentTest, CancelKeepsTheDocumentAndNoLeavesTheFileAlone) {
    std::string path = file("a.txt", "text\n");
    form({path});
    active()->Editor().ReplaceSel("new ");
    dialogs.answers = {MsgResult::Cancel};
    form_->action("FileClose")->trigger();
    settle();
    EXPECT_EQ(form_->documentCount(), 1);
    dialogs.answers = {MsgResult::No};
    form_->action("FileClose")->trigger();
    ASSERT_TRUE(processUntil([&] { return form_->documentCount() == 0; }));
    EXPECT_EQ(readFile(path), "text\n");
    EXPECT_FALSE(form_->action("FileSave")->isEnabled());
    EXPECT_EQ(panel(0), "");
}

TEST_F(DocumentTest, OpenLocalFileTakesSeveralFiles) {
    TMainForm& f = form();
    dialogs.openAnswers = {{file("one.pl", "1\n"), file("two.sql", "2\n")}};
    f.action("FileOpenLocalFile")->trigger();
    ASSERT_EQ(f.documentCount(), 2);
    EXPECT_EQ(f.pageControl()->tabText(0), "one.pl");
    EXPECT_EQ(f.pageControl()->tabText(1), "two.sql");
    EXPECT_EQ(f.pageControl()->currentIndex(), 1);
    auto& o = dialogs.fileDialogs.back();
    EXPECT_EQ(o.title, "Open local file");
    EXPECT_EQ(o.filter, "Any file (*.*)|*.*");
    EXPECT_TRUE(o.multiple);
}

TEST_F(DocumentTest, FilesDroppedOnTheWindowOpen) {
    TMainForm& f = form();
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(file("dropped.txt", "x")))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&f, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&f, &drop);
    ASSERT_EQ(f.documentCount(), 1);
    EXPECT_EQ(f.pageControl()->tabText(0), "dropped.txt");
}

TEST_F(DocumentTest, FilesDroppedOnTheTextOpenAsDocumentsAndLeaveTheTextAlone) {
    std::string open = file("open.txt", "keep me\n");
    TMainForm& f = form({open});
    ASSERT_EQ(f.documentCount(), 1);
    auto& memo = active()->Editor();
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(file("one.txt", "1"))),
                  QUrl::fromLocalFile(QString::fromStdString(file("two.c", "2")))});
    data.setText("names as text"); // some file managers offer the names as text too
    QPoint at = QPoint(memo.TextLeft() + 5, 5);
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(memo.viewport(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(memo.viewport(), &drop);
    EXPECT_TRUE(processUntil([&] { return f.documentCount() == 3; }));
    EXPECT_EQ(f.pageControl()->tabText(1), "one.txt");
    EXPECT_EQ(f.pageControl()->tabText(2), "two.c");
    EXPECT_EQ(memo.Text(), "keep me\r");
    EXPECT_FALSE(memo.Modified());
}

TEST_F(DocumentTest, WindowKeysAndKeySequencesReachTheActiveDocument) {
    std::string a = file("a.txt", "one\ntwo\n"), b = file("b.txt", "b\n");
    TMainForm& f = form({a, b});
    f.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
    ASSERT_EQ(f.pageControl()->currentIndex(), 1);
    QTest::keyClick(&active()->Editor(), Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(f.pageControl()->currentIndex(), 0);
    QTest::keyClick(&active()->Editor(), Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(f.pageControl()->currentIndex(), 1);
    f.pageControl()->setCurrentIndex(0);
    settle();
    auto& memo = active()->Editor();
    ASSERT_EQ(memo.Text(), "one\rtwo\r");
    memo.SetSelection(0, 5);
    QTest::keyClick(&memo, Qt::Key_BracketRight, Qt::ControlModifier); // Indent
    EXPECT_EQ(memo.Text(), "\tone\r\ttwo\r");                          // a level of the tab width
    // Ctrl+I is a window key, but after Ctrl+K it completes the editor's sequence.
    int italic = 0;
    f.setCommandAvailable("HTMLItalic", true);
    f.enableCommand("HTMLItalic", true);
    QObject::connect(f.action("HTMLItalic"), &QAction::triggered, [&] { ++italic; });
    QTest::keyClick(&memo, Qt::Key_K, Qt::ControlModifier);
    QTest::keyClick(&memo, Qt::Key_I, Qt::ControlModifier);
    EXPECT_EQ(italic, 0);
    EXPECT_EQ(memo.Text(), "\t\tone\r\t\ttwo\r");
    QTest::keyClick(&memo, Qt::Key_I, Qt::ControlModifier);
    EXPECT_EQ(italic, 1);
    // A window key that finishes no sequence still reaches the window, and ends the sequence.
    int bold = 0;
    f.setCommandAvailable("HTMLBold", true);
    f.enableCommand("HTMLBold", true);
    QObject::connect(f.action("HTMLBold"), &QAction::triggered, [&] { ++bold; });
    QTest::keyClick(&memo, Qt::Key_K, Qt::ControlModifier);
    QTest::keyClick(&memo, Qt::Key_B, Qt::ControlModifier);
    EXPECT_EQ(bold, 1);
    settle();
    QTest::keyClick(&memo, Qt::Key_I, Qt::ControlModifier);
    EXPECT_EQ(italic, 2);
    // The three HTML commands edited the text, one undo step each.
    EXPECT_NE(memo.Text(), "\t\tone\r\t\ttwo\r");
    for (int i = 0; i < 3; ++i)
        QTest::keyClick(&memo, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(memo.Text(), "\t\tone\r\t\ttwo\r");
    QTest::keyClick(&memo, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(memo.Text(), "\tone\r\ttwo\r");
}

TEST_F(DocumentTest, ProgramCloseAsksEachModifiedDocumentLastFirst) {
    std::string a = file("a.txt", "a\n"), b = file("b.txt", "b\n");
    TMainForm& f = form({a, b});
    for (int i = 0; i < 2; ++i) {
        f.pageControl()->setCurrentIndex(i);
        active()->Editor().ReplaceSel("x");
    }
    dialogs.answers = {MsgResult::No, MsgResult::Cancel};
    EXPECT_FALSE(f.close());
    EXPECT_THAT(dialogs.texts(),
                ElementsAre("File 'b.txt' has been modified, save before closing?",
                            "File 'a.txt' has been modified, save before closing?"));
    ASSERT_TRUE(processUntil([&] { return f.documentCount() == 1; }));
    settle();
    EXPECT_TRUE(f.isVisible());
    EXPECT_EQ(f.pageControl()->tabText(0), "*a.txt"); // still modified
}

} // namespace

namespace {

class HighlighterChoiceTest : public DocumentTest {
protected:
    void SetUp() override {
        DocumentTest::SetUp();
        std::filesystem::create_directories(dir / "home");
        writeFile(dir / "home" / "filetypes.txt",
                  "# my types\n.html\tHTML\n.pl\tperl\n.x\tNo such language\n");
    }
    std::string languageOf(TMorvaneEditor* doc) {
        return form_->highlighters()[std::size_t(doc->Highlighter())]->languageName();
    }
};

TEST_F(HighlighterChoiceTest, TheListHoldsTheBuiltInsInOrderAndFeedsTheMenu) {
    TMainForm& f = form();
    std::vector<std::string> names;
    for (auto& h : f.highlighters())
        names.push_back(h->languageName());
    EXPECT_THAT(names,
                ElementsAre("HTML", "C++", "JavaScript", "Perl", "SQL", "Plain text", "CSS", "PHP",
                            "Python", "Shell", "JSON", "XML", "Markdown", "INI", "YAML"));
    QMenu* menu = f.findChild<QMenu*>("SyntaxHighlightingMenu");
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->actions().size(), 15);
    EXPECT_EQ(menu->actions()[3]->text(), "Perl");
}

TEST_F(HighlighterChoiceTest, TheExtensionTableChoosesWithoutRegardToCase) {
    form({file("index.HTML", "<p>"), file("run.pl", "1;"), file("a.x", ""), file("notes", "")});
    auto doc = [&](int i) {
        return qobject_cast<TMorvaneEditor*>(form_->pageControl()->widget(i));
    };
    EXPECT_EQ(languageOf(doc(0)), "HTML");
    EXPECT_EQ(languageOf(doc(1)), "Perl");
    EXPECT_EQ(languageOf(doc(2)), "Plain text");
    EXPECT_EQ(languageOf(doc(3)), "Plain text");
}

// A script without a known extension is chosen for by its "#!" line once its text is read.
TEST_F(HighlighterChoiceTest, AScriptWithoutAnExtensionGoesByItsFirstLine) {
    writeFile(dir / "home" / "filetypes.txt", ".\tPlain text\n#!sh\tShell\n#!python3\tPython\n");
    form({file("deploy", "#!/bin/sh\necho hi\n"), file("tool", "#!/usr/bin/env python3\n"),
          file("notes", "#!/usr/bin/ruby\n")});
    auto doc = [&](int i) {
        return qobject_cast<TMorvaneEditor*>(form_->pageControl()->widget(i));
    };
    EXPECT_EQ(languageOf(doc(0)), "Shell");
    EXPECT_EQ(languageOf(doc(1)), "Python");
    EXPECT_EQ(languageOf(doc(2)), "Plain text");
}

TEST_F(HighlighterChoiceTest, ManualAssociationAsksAndWritesTheTableBack) {
    form({file("query.SQL", "select 1;"), file("Makefile", "all:")});
    form_->pageControl()->setCurrentIndex(0);
    dialogs.answers = {MsgResult::Yes};
    active()->ManualAssociation(4); // SQL
    EXPECT_EQ(languageOf(active()), "SQL");
    EXPECT_EQ(
        dialogs.texts().back(),
        "Do you want to associate all files with extension \".SQL\" with sql syntax highlighting?");
    EXPECT_EQ(dialogs.beeps, 1);
    EXPECT_EQ(readFile(dir / "home" / "filetypes.txt"),
              "# my types\n\n.html\tHTML\n.pl\tperl\n.x\tNo such language\n.sql\tSQL\n");

    form_->pageControl()->setCurrentIndex(1);
    dialogs.answers = {MsgResult::No};
    active()->ManualAssociation(1); // C++, for this document only
    EXPECT_EQ(languageOf(active()), "C++");
    EXPECT_THAT(dialogs.texts().back(), HasSubstr("with no extension with c++ syntax"));
    EXPECT_EQ(form_->extensionTable().languageOf("."), std::nullopt);
}

TEST_F(HighlighterChoiceTest, AUserScriptThatFailsIsLeftOutAndExplained) {
    writeFile(dir / "home" / "broken.stx", "this is not a highlighter script {{{");
    TMainForm& f = form();
    EXPECT_EQ(f.highlighters().size(), 15u);
    ASSERT_GE(f.outputList()->count(), 1);
    EXPECT_THAT(f.outputList()->item(0)->text().toStdString(), HasSubstr("broken.stx"));
}

} // namespace

namespace {

// The working folder may change after a path arrives; the document's folder must not.
class RelativePathTest : public DocumentTest {
protected:
    void SetUp() override {
        DocumentTest::SetUp();
        before_ = std::filesystem::current_path();
        std::filesystem::create_directories(dir / "site");
        std::filesystem::current_path(dir / "site");
    }
    void TearDown() override { std::filesystem::current_path(before_); }
    std::filesystem::path before_;
};

TEST_F(RelativePathTest, ARelativePathIsSavedInTheFolderItWasOpenedFrom) {
    writeFile(dir / "site" / "notes.txt", "old\n");
    form({});
    form_->openLocalFiles({"notes.txt"}); // as the command line, a hand-over or a drop gives it
    ASSERT_NE(active(), nullptr);
    EXPECT_EQ(active()->Directory(), (dir / "site").string() + "/");
    std::filesystem::current_path(dir.path()); // the save must not depend on it
    active()->Editor().SetSelection(0, 0);
    active()->Editor().ReplaceSel("new ");
    form_->action("FileSave")->trigger();
    EXPECT_EQ(readFile(dir / "site" / "notes.txt"), "new old\n");
    EXPECT_EQ(panel(1), "");
    EXPECT_TRUE(dialogs.shown.empty());

    // A dialog answering with a relative name means the working folder at that moment.
    std::filesystem::current_path(dir / "site");
    dialogs.saveAnswers = {"copy.txt"};
    form_->action("FileSaveAs")->trigger();
    EXPECT_EQ(readFile(dir / "site" / "copy.txt"), "new old\n");
    EXPECT_EQ(active()->Directory(), (dir / "site").string() + "/");
}

} // namespace
