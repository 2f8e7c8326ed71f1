#include "core/app/HtmlTools.h"
#include "core/editor/CustomCodeMemo.h"

#include <gtest/gtest.h>

using namespace morvane::app;
using morvane::editor::TCustomCodeMemo;

namespace {

struct Memo {
    TCustomCodeMemo m;
    explicit Memo(const std::string& text, int from = 0, int to = 0) {
        m.Lines().SetText(text);
        m.SetSelection(from, to);
    }
    std::string text() const { return m.Text(morvane::editor::tfLF); }
};

TEST(HtmlTags, EmptySelectionLeavesTheCaretBetweenTheTagsForTyping) {
    Memo a("x ", 2, 2);
    ASSERT_TRUE(htmlWrapTag(a.m, HtmlTag::Bold, false));
    EXPECT_EQ(a.text(), "x <B></B>");
    EXPECT_EQ(a.m.Caret(), 5);
    a.m.KeyPress('y');
    EXPECT_EQ(a.text(), "x <B>y</B>");

    Memo b("", 0, 0);
    htmlWrapTag(b.m, HtmlTag::Underline, lowercaseHtml("1"));
    EXPECT_EQ(b.text(), "<u></u>");
    EXPECT_EQ(b.m.Caret(), 3);
    Memo c("");
    htmlComment(c.m);
    EXPECT_EQ(c.text(), "<!--  -->");
    EXPECT_EQ(c.m.Caret(), 5);
}

TEST(HtmlTags, SelectionIsWrappedKeepsItsCaseAndUndoesInOneStep) {
    Memo a("say Hello\nWorld now", 4, 15);
    ASSERT_TRUE(htmlWrapTag(a.m, HtmlTag::Italic, lowercaseHtml("1")));
    EXPECT_EQ(a.text(), "say <i>Hello\nWorld</i> now");
    EXPECT_EQ(a.m.Caret(), 4 + 3 + 11 + 4); // after the inserted text
    EXPECT_EQ(a.m.SelLength(), 0);
    // "True" or "yes" is not "1": the tags keep their capitals.
    Memo b("w", 0, 1);
    htmlWrapTag(b.m, HtmlTag::Bold, lowercaseHtml("True"));
    EXPECT_EQ(b.text(), "<B>w</B>");
    b.m.Undo();
    EXPECT_EQ(b.text(), "w");
    EXPECT_FALSE(b.m.CanUndo());

    Memo ro("w", 0, 1);
    ro.m.SetReadOnly(true);
    EXPECT_FALSE(htmlComment(ro.m));
    EXPECT_EQ(ro.text(), "w");
}

TEST(HtmlLink, AddressFromTheSelectionEndsSelected) {
    Memo www("go www.example.org now", 3, 18);
    ASSERT_TRUE(htmlLink(www.m, false));
    EXPECT_EQ(www.text(), "go <A HREF=\"http://www.example.org\">www.example.org</A> now");
    EXPECT_EQ(www.m.SelText(), "http://www.example.org");

    Memo http("HTTP://A.B", 0, 10);
    htmlLink(http.m, true);
    EXPECT_EQ(http.text(), "<a href=\"HTTP://A.B\">HTTP://A.B</a>");
    EXPECT_EQ(http.m.SelText(), "HTTP://A.B");

    // Neither: an empty address with the caret between the quotation marks.
    Memo plain("home page", 0, 9);
    htmlLink(plain.m, false);
    EXPECT_EQ(plain.text(), "<A HREF=\"\">home page</A>");
    EXPECT_EQ(plain.m.SelLength(), 0);
    EXPECT_EQ(plain.m.Caret(), 9);
}

TEST(HtmlStripTags, TagsAndWellFormedEntitiesGoOtherAmpersandsStay) {
    EXPECT_EQ(stripHtmlMarkup("a <b>bold</b> &amp; text"), "a bold  text");
    EXPECT_EQ(stripHtmlMarkup("x < y"), "x < y");
    EXPECT_EQ(stripHtmlMarkup("a <b>c</b> < d"), "a c < d");
    EXPECT_EQ(stripHtmlMarkup("<<b>>"), ">"); // from the first "<" to the first ">"
    // Only "&name;", "&#digits;" and "&#xhex;" are entities.
    EXPECT_EQ(stripHtmlMarkup("AT&T; rocks &copy;&#169;&#xA9;"), "AT&T; rocks ");
    EXPECT_EQ(stripHtmlMarkup("& ; &#; &#x; &1a; &a b; &"), "& ; &#; &#x; &1a; &a b; &");
    EXPECT_EQ(stripHtmlMarkup("&lt;&a;&gt"), "&a;&gt");
    EXPECT_EQ(stripHtmlMarkup(std::string("a\0<b>\0b", 7)), std::string("a\0\0b", 4));
}

TEST(HtmlStripTags, WholeTextWithoutSelectionOneUndoStepCaretLineKept) {
    std::string page;
    for (int i = 0; i < 50; ++i)
        page += "<p>line " + std::to_string(i) + " &amp; more</p>\n";
    Memo a(page);
    a.m.CaretControl().SetCaretLine(30);
    ASSERT_TRUE(htmlStripTags(a.m));
    EXPECT_EQ(a.text().substr(0, 24), "line 0  more\nline 1  mor");
    EXPECT_EQ(a.m.CaretControl().CaretLine(), 30);
    a.m.Undo();
    EXPECT_EQ(a.text(), page);

    Memo part("<i>a</i> <i>b</i>", 9, 17);
    htmlStripTags(part.m);
    EXPECT_EQ(part.text(), "<i>a</i> b");
}

} // namespace
