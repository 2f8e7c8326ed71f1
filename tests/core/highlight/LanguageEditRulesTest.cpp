// What a highlighter's language tells the editor: block openers for auto-indent, tags matched
// as brackets, and brackets in strings and comments told apart by the real token values.

#include "HighlightMemoUtil.h"

#include <gtest/gtest.h>

using namespace morvane::highlight;
using namespace morvane::highlight::testing;
using morvane::editor::TCustomCodeMemo;
using morvane::editor::TextOffset;

namespace {

TEST(LanguageEditRules, OpenersAndTagsFollowTheLanguage) {
    EXPECT_EQ(EditRulesForLanguage("C++").indentOpeners, "{");
    EXPECT_EQ(EditRulesForLanguage("JavaScript").indentOpeners, "{");
    EXPECT_EQ(EditRulesForLanguage("Python").indentOpeners, ":");
    EXPECT_EQ(EditRulesForLanguage("YAML").indentOpeners, ":");
    EXPECT_EQ(EditRulesForLanguage("Plain text").indentOpeners, "");
    EXPECT_EQ(EditRulesForLanguage("Markdown").indentOpeners, "");
    EXPECT_EQ(EditRulesForLanguage("HTML").tagMatch, TCustomCodeMemo::tmHtml);
    EXPECT_EQ(EditRulesForLanguage("XML").tagMatch, TCustomCodeMemo::tmXml);
    EXPECT_EQ(EditRulesForLanguage("C++").tagMatch, TCustomCodeMemo::tmNone);
}

TEST(LanguageEditRules, AControlTakesThemFromItsHighlighter) {
    Highlighters list = freshBuiltins();
    HighlightMemo m;
    m.SetClientSize(600, 400);
    m.SetOptions(m.Options() | morvane::editor::smoAutoIndent);
    m.SetParser(1, &byLanguage(list, "Python"));
    EXPECT_EQ(m.IndentOpeners(), ":");
    m.SetParser(1, &byLanguage(list, "HTML"));
    EXPECT_EQ(m.TagMatch(), TCustomCodeMemo::tmHtml);
    EXPECT_EQ(m.IndentOpeners(), "");
    m.SetParser(1, &byLanguage(list, "C++"));
    EXPECT_EQ(m.IndentOpeners(), "{");
    EXPECT_EQ(m.TagMatch(), TCustomCodeMemo::tmNone);
}

TEST(LanguageEditRules, BracketsInStringsAndCommentsArePassedOverInHighlightedCode) {
    Highlighters list = freshBuiltins();
    HighlightMemo m;
    m.SetClientSize(600, 400);
    //       0          1          2
    //       01 2345678901234567890123456
    m.Load("f(\")\", g('('), x); /* ) */ y;\n");
    m.SetParser(1, &byLanguage(list, "C++"));
    m.EnsureHighlightedThrough(m.LineCount());
    auto r = m.MatchBracket(2);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->at, 1);
    EXPECT_EQ(r->partner, 16) << "past the string's and the character's brackets";
    r = m.MatchBracket(17);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->partner, 1);
    r = m.MatchBracket(23); // the comment's ")"
    ASSERT_TRUE(r);
    EXPECT_EQ(r->partner, -1);
}

} // namespace
