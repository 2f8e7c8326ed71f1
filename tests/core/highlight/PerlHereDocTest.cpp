// Perl here-documents through the built-in Perl highlighter and the program's custom routine.
#include "core/highlight/PerlHereDoc.h"
#include "EngineTestUtil.h"
#include "core/highlight/BuiltinHighlighters.h"

#include <gtest/gtest.h>

using namespace morvane::highlight;
using namespace morvane::highlight::testing;

namespace {

const TCodeMemoParser& perl() {
    static Highlighters list = compileBuiltinHighlighters(MORVANE_RESOURCES_DIR, "Software\\T");
    for (const auto& p : list)
        if (p->languageName() == "Perl") return *p;
    throw std::runtime_error("no Perl highlighter");
}

// The token value of each character of piece, looked up in text.
std::string valuesAt(const std::vector<std::uint8_t>& v, const std::string& text,
                     const std::string& piece) {
    std::size_t at = text.find(piece);
    EXPECT_NE(at, std::string::npos) << piece;
    std::string out;
    for (std::size_t i = at; i < at + piece.size() && i < v.size(); ++i)
        out += std::to_string(v[i]) + " ";
    return out;
}

std::string all(int value, std::size_t n) {
    std::string out;
    for (std::size_t i = 0; i < n; ++i)
        out += std::to_string(value) + " ";
    return out;
}

} // namespace

TEST(PerlHereDoc, QuotedTerminatorBodyAndTerminator) {
    TCodeMemoEngine e(perl().definition());
    e.OnCustomParse = hlPerlCustomParse;
    ASSERT_TRUE(e.CanHighlight());
    std::string text = "print <<\"END\";\rHere $x\rEND\rmy $y;";
    auto v = HighlightText(e, text);
    EXPECT_EQ(valuesAt(v, text, "<<\"END\";"), all(19, 8));
    EXPECT_EQ(valuesAt(v, text, "\rHere $x\r"), all(18, 9));
    EXPECT_EQ(valuesAt(v, text, "END\r"), all(20, 3) + "0 ");
    EXPECT_EQ(valuesAt(v, text, "my"), all(9, 2));
    EXPECT_EQ(e.customData(), "end");
}

TEST(PerlHereDoc, BodyLeavesTheTerminatorForTheNextToken) {
    TCodeMemoEngine e(perl().definition());
    e.OnCustomParse = hlPerlCustomParse;
    std::string text = "z <<EOT;\rbody\rEOT\r";
    e.SetContext(0);
    std::size_t pos = 0, len = 0;
    std::vector<Tok> toks;
    while (pos < text.size()) {
        std::size_t start = pos;
        int v = e.GetToken(text, pos, len);
        toks.push_back({start, len, v});
        if (v == 19 || v == 18) {
            EXPECT_TRUE(e.InBoundStates()) << v;
        }
    }
    // "<<EOT;" then the body "\rbody\r" (value 18), then "EOT" (value 20).
    std::vector<Tok> expected{{0, 1, 2},  {1, 1, 0},   {2, 6, 19},
                              {8, 6, 18}, {14, 3, 20}, {17, 1, 0}};
    EXPECT_EQ(toks, expected);
    EXPECT_FALSE(e.InBoundStates());
}

TEST(PerlHereDoc, UnclosedBodyRunsToTheEndAndStaysBound) {
    TCodeMemoEngine e(perl().definition());
    e.OnCustomParse = hlPerlCustomParse;
    std::string text = "print <<'STOP';\rline 1\rline 2";
    auto v = HighlightText(e, text);
    EXPECT_EQ(valuesAt(v, text, "\rline 1\rline 2"), all(18, 14));
    EXPECT_TRUE(e.InBoundStates());
}

TEST(PerlHereDoc, EmptyTerminatorLeavesTheRestOfTheTextInTheBody) {
    TCodeMemoEngine e(perl().definition());
    e.OnCustomParse = hlPerlCustomParse;
    std::string text = "print <<\"\rmy $x;\r\rEND";
    auto v = HighlightText(e, text);
    EXPECT_EQ(valuesAt(v, text, "\rmy $x;\r\rEND"), all(18, 12));
    EXPECT_TRUE(e.InBoundStates());
}

TEST(PerlHereDoc, TypeOneAtTheEndOfTextAndOtherTypes) {
    TCodeMemoEngine e(perl().definition());
    std::string text = "  ";
    TScanStream s(text);
    std::uint8_t token = 19;
    std::size_t length = 2;
    EXPECT_TRUE(hlPerlCustomParse(e, 1, token, length, s));
    EXPECT_TRUE(s.atEnd());
    EXPECT_EQ(length, 4u);
    EXPECT_FALSE(hlPerlCustomParse(e, 4, token, length, s));
    // A terminator longer than 255 characters is cut; its reading goes on to the line end.
    std::string longWord = std::string(300, 'A') + " x\ry";
    TScanStream s2(longWord);
    length = 0;
    EXPECT_TRUE(hlPerlCustomParse(e, 1, token, length, s2));
    EXPECT_EQ(e.customData(), std::string(255, 'a'));
    EXPECT_EQ(s2.position(), 302u);
}
