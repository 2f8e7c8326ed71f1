// File > Export as HTML / RTF on a document: the whole text or the selection, highlighted.
#include "MainFormFixture.h"

#include "gui/editor/CodeMemo.h"

#include <QAction>
#include <QTabWidget>

namespace morvane::testing {
namespace {

class ExportMenuTest : public MainFormFixture {
protected:
    app::TMorvaneEditor* active() {
        return qobject_cast<app::TMorvaneEditor*>(form_->activeDocument());
    }
};

TEST_F(ExportMenuTest, ExportsTheWholeTextOrTheSelectionAndKeepsTheDocumentModified) {
    std::string path = file("prog.cpp", "int a;\nreturn b & c;\n");
    std::filesystem::create_directories(dir / "home");
    file("home/filetypes.txt", ".cpp\tC++\n");
    form({path});
    ASSERT_TRUE(active());
    active()->Editor().ReplaceSel("// x\n");
    std::string html = (dir / "prog.html").string();
    dialogs.saveAnswers = {html};
    form_->action("FileExportHtml")->trigger();
    EXPECT_EQ(dialogs.fileDialogs.back().fileName, "prog.html");
    std::string page = readFile(html);
    EXPECT_NE(page.find("<TITLE>"), std::string::npos);
    EXPECT_NE(page.find("int</B> a;\r\n<B>return</B> b &amp; c;\r\n</PRE>"), std::string::npos)
        << page;
    EXPECT_TRUE(active()->Editor().Modified());

    active()->Editor().SetSelection(5, 10); // "int a"
    std::string rtf = (dir / "part.rtf").string();
    dialogs.saveAnswers = {rtf};
    form_->action("FileExportRtf")->trigger();
    std::string doc = readFile(rtf);
    EXPECT_NE(doc.find("\\b1 int\\b0  a\r\n}}"), std::string::npos) << doc;
    EXPECT_EQ(doc.find("return"), std::string::npos);

    // Cancelled: nothing written. Onto the document's own file: refused, the file kept.
    form_->action("FileExportHtml")->trigger();
    dialogs.saveAnswers = {path};
    form_->action("FileExportHtml")->trigger();
    EXPECT_EQ(readFile(path), "int a;\nreturn b & c;\n");
    ASSERT_FALSE(dialogs.texts().empty());
    EXPECT_EQ(dialogs.texts().back(), "The export cannot replace the file being exported.");
}

// The proposed name is never the document's own: page.html would be overwritten by its export.
TEST_F(ExportMenuTest, ProposesANameThatIsNotTheSource) {
    form({file("page.html", "<p>x</p>\n"), file("notes.RTF", "x\n")});
    auto* tabs = form_->findChild<QTabWidget*>();
    ASSERT_TRUE(tabs);
    tabs->setCurrentIndex(0);
    ASSERT_TRUE(active());
    form_->action("FileExportHtml")->trigger();
    EXPECT_EQ(dialogs.fileDialogs.back().fileName, "page.html.html");
    form_->action("FileExportRtf")->trigger();
    EXPECT_EQ(dialogs.fileDialogs.back().fileName, "page.rtf");
    tabs->setCurrentIndex(1);
    form_->action("FileExportRtf")->trigger();
    EXPECT_EQ(dialogs.fileDialogs.back().fileName, "notes.RTF.rtf");
    EXPECT_EQ(readFile((dir / "page.html").string()), "<p>x</p>\n");
}

} // namespace
} // namespace morvane::testing
