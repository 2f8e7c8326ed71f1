// Documents highlight with the highlighter their file name chooses, and follow a change of it.

#include "MainFormFixture.h"
#include "support/QtTestSupport.h"
#include "core/app/AppRegistry.h"
#include "core/platform/FakeUi.h"
#include "gui/app/MainForm.h"
#include "gui/app/MorvaneEditor.h"
#include "gui/editor/CodeMemo.h"

#include <gtest/gtest.h>

#include <QPointer>
#include <QTabWidget>

using namespace morvane::app;
using namespace morvane::platform;
using morvane::testing::processUntil;
using morvane::testing::settle;

namespace {

class HighlightedDocumentTest : public morvane::testing::MainFormFixture {
protected:
    void SetUp() override {
        MainFormFixture::SetUp();
        std::filesystem::create_directories(dir / "home");
        std::filesystem::copy_file(std::filesystem::path(MORVANE_TEST_RESOURCES) / "data" /
                                       "filetypes.txt",
                                   dir / "home" / "filetypes.txt");
    }

    TMorvaneEditor* doc(int i) {
        return qobject_cast<TMorvaneEditor*>(form_->pageControl()->widget(i));
    }
    // The token value stored for the first character of the first occurrence of what.
    static int tokenAt(morvane::editor::TCodeMemo& m, const std::string& what) {
        std::string text = m.Text();
        std::size_t at = text.find(what);
        if (at == std::string::npos) return -1;
        auto rec = m.LineFromOffset(morvane::editor::TextOffset(at));
        const std::uint8_t* attrs = m.Store().Attrs(rec);
        return attrs ? attrs[at - std::size_t(m.LineStart(rec))] : -1;
    }
};

TEST_F(HighlightedDocumentTest, OpenedFilesHighlightWithTheHighlighterOfTheirExtension) {
    form({file("x.pl", "my $a = 1; # note\nprint <<EOT;\nbody\nEOT\n"),
          file("x.html", "<p class=\"a\">text</p>\n<!-- gone -->\n")});
    auto& perl = doc(0)->Editor();
    auto& html = doc(1)->Editor();
    ASSERT_NE(perl.Active(), nullptr);
    ASSERT_NE(html.Active(), nullptr);
    EXPECT_EQ(perl.ActiveParser(), 1);
    EXPECT_EQ(perl.Active()->languageName(), "Perl");
    EXPECT_EQ(html.Active()->languageName(), "HTML");
    EXPECT_EQ(&perl.Settings(), &perl.Active()->settings());

    // Tokens are stored: a comment, a here-document body and a tag differ from plain text.
    int plain = tokenAt(perl, "my");
    int comment = tokenAt(perl, "# note");
    int body = tokenAt(perl, "body");
    EXPECT_NE(comment, -1);
    EXPECT_NE(comment, plain);
    EXPECT_EQ(body, 18); // the program's here-document routine ran
    int tag = tokenAt(html, "p class");
    int text = tokenAt(html, "text");
    EXPECT_NE(tag, text);
    EXPECT_NE(tokenAt(html, "<!--"), text);
}

TEST_F(HighlightedDocumentTest, AnotherHighlighterFromTheMenuRehighlightsTheText) {
    form({file("notes.txt", "int main() { return 0; } /* c */\n")});
    auto& m = doc(0)->Editor();
    EXPECT_EQ(m.Active()->languageName(), "Plain text");
    int before = tokenAt(m, "/* c */");
    dialogs.answers = {MsgResult::No};
    doc(0)->ManualAssociation(1); // C++
    EXPECT_EQ(m.Active()->languageName(), "C++");
    EXPECT_NE(tokenAt(m, "/* c */"), before);
    EXPECT_NE(tokenAt(m, "int"), tokenAt(m, "main"));

    // Typing goes on being highlighted.
    m.SetSelection(0, 0);
    m.ReplaceSel("/* ");
    EXPECT_EQ(tokenAt(m, "int"), tokenAt(m, "/* c"));
}

TEST_F(HighlightedDocumentTest, ClosingTheWindowWithOpenDocumentsLeavesNoDanglingHighlighter) {
    form({file("a.cpp", "int x;\n"), file("b.cpp", "int y;\n"), file("c.cpp", "int z;\n")});
    const auto& cpp = *form_->highlighters()[1];
    ASSERT_EQ(cpp.Editors().size(), 3u);
    QPointer<TMorvaneEditor> closed = doc(2), a = doc(0), b = doc(1);
    QPointer<morvane::editor::TCodeMemo> aEditor = &a->Editor();

    // A closed document leaves the highlighter's list once it is gone.
    form_->pageControl()->setCurrentIndex(2);
    form_->action("FileClose")->trigger();
    EXPECT_TRUE(processUntil([&] { return closed.isNull(); }));
    EXPECT_EQ(cpp.Editors().size(), 2u);
    EXPECT_EQ(a->Editor().Active(), &cpp);
    EXPECT_EQ(b->Editor().Active(), &cpp);

    // The window takes the open documents, their editors and the highlighters with it, in
    // whatever order it has; the sanitizer run sees any use of one after it went.
    form_.reset();
    EXPECT_TRUE(a.isNull());
    EXPECT_TRUE(b.isNull());
    EXPECT_TRUE(aEditor.isNull());
}

} // namespace

namespace {

TEST_F(HighlightedDocumentTest, RowsBelowAnEditAreCaughtUpBeforeTheyPaintAndTheRestWhenIdle) {
    std::string text = "<p>top</p>\n";
    for (int i = 0; i < 3000; ++i)
        text += "var x = \"s\"; // c\n";
    form({file("long.html", text)});
    auto& m = doc(0)->Editor();
    EXPECT_TRUE(processUntil([&] { return !m.HighlightPending(); }));
    m.SetSelection(m.LineStart(1), m.LineStart(1));
    m.ReplaceSel("<script>\n");
    ASSERT_TRUE(m.HighlightPending()); // far more changed than a window shows

    auto full = HighlightText(m.Active()->engine(), m.Text());
    auto stored = [&](morvane::editor::RecIndex rec) {
        const std::uint8_t* a = m.Store().Attrs(rec);
        std::size_t n = m.Store().Rec(rec).length;
        std::size_t from = std::size_t(m.LineStart(rec));
        return a && std::equal(a, a + n, full.begin() + std::ptrdiff_t(from));
    };
    // Scrolled far down: the rows shown are right by the time they are painted.
    m.SetTopLine(2000);
    m.viewport()->repaint();
    EXPECT_TRUE(stored(2000));
    EXPECT_TRUE(stored(2000 + m.VisibleRows() - 1));
    // The rest is finished in idle steps.
    EXPECT_TRUE(processUntil([&] { return !m.HighlightPending(); }));
    for (morvane::editor::RecIndex r : {100, 1500, 2999})
        EXPECT_TRUE(stored(r)) << r;
}

TEST_F(HighlightedDocumentTest, IdleHighlightingWaitsWhileATransferHoldsIt) {
    std::string text = "<p>top</p>\n";
    for (int i = 0; i < 3000; ++i)
        text += "var x = \"s\"; // c\n";
    form({file("long.html", text)});
    auto& m = doc(0)->Editor();
    EXPECT_TRUE(processUntil([&] { return !m.HighlightPending(); }));
    morvane::editor::TCodeMemo::HoldBackgroundWork(true);
    m.SetSelection(m.LineStart(1), m.LineStart(1));
    m.ReplaceSel("<script>\n");
    ASSERT_TRUE(m.HighlightPending());
    processUntil([] { return false; }, 300);
    EXPECT_TRUE(m.HighlightPending());
    // What is shown is still highlighted when painted.
    auto full = HighlightText(m.Active()->engine(), m.Text());
    m.SetTopLine(2000);
    m.viewport()->repaint();
    const std::uint8_t* a = m.Store().Attrs(2000);
    ASSERT_TRUE(a);
    EXPECT_TRUE(std::equal(a, a + m.Store().Rec(2000).length,
                           full.begin() + std::ptrdiff_t(m.LineStart(2000))));
    morvane::editor::TCodeMemo::HoldBackgroundWork(false);
    EXPECT_TRUE(processUntil([&] { return !m.HighlightPending(); }));
}

} // namespace
