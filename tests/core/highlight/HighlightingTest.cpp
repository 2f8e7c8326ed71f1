// The colours the built-in scripts give real code, as the engine's token algorithm reads them.
#include "ReferenceScanner.h"
#include "core/highlight/BuiltinHighlighters.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace morvane::highlight;

namespace {

const TCodeMemoParser& builtin(const std::string& language) {
    static Highlighters list = compileBuiltinHighlighters(MORVANE_RESOURCES_DIR, "Software\\T");
    for (const auto& p : list)
        if (p->languageName() == language) return *p;
    throw std::runtime_error("no highlighter " + language);
}

struct Expect {
    const char* text; // a piece of the sample (its first occurrence after the previous piece)
    int style;
};

// Every character of each piece must show in the expected style. Pieces are looked up in order.
void check(const std::string& language, const std::string& sample, std::vector<Expect> pieces) {
    reference::ReferenceScanner scanner(builtin(language).definition());
    auto styles = scanner.styles(sample);
    std::size_t from = 0;
    for (const auto& p : pieces) {
        std::size_t at = sample.find(p.text, from);
        ASSERT_NE(at, std::string::npos) << p.text;
        std::string got;
        bool ok = true;
        for (std::size_t i = at; i < at + std::strlen(p.text); ++i) {
            ok = ok && styles[i] == p.style;
            got += std::to_string(styles[i]) + " ";
        }
        EXPECT_TRUE(ok) << language << ": \"" << p.text << "\" expected style " << p.style
                        << ", got " << got;
        from = at + std::strlen(p.text);
    }
}

} // namespace

TEST(Highlighting, JavaScript) {
    check("JavaScript",
          "const total = 42.5; // note\r/* a\rb */ let s = \"a\\\"b\" + 'c' + `t\ru`;\r"
          "console.log(total);\rif (total >= 0x1F) return;",
          {{"const", 1},
           {" ", 30},
           {"total", 7},
           {"=", 9},
           {"42.5", 8},
           {";", 9},
           {"// note", 2},
           {"/* a\rb */", 2},
           {"let", 1},
           {"\"a\\\"b\"", 5},
           {"'c'", 5},
           {"`t\ru`", 5},
           {"console", 10},
           {".", 9},
           {"log", 7},
           {"if", 1},
           {">=", 9},
           {"0x1F", 8},
           {"return", 1}});
}

TEST(Highlighting, Cpp) {
    check("C++",
          "#include <stdio.h>\r#define N 10\rint main() { char c = 'x'; /* c */ // d\r"
          " EXEC SQL SELECT a FROM b;\r return N + 1'000 + 0x1Fu; }\r#include \"my.h\" // h\rx",
          {{"#include", 10}, {"<stdio.h>", 4}, {"#define", 10}, {"N", 3},
           {"10", 5},        {"int", 12},      {"main", 3},     {"(", 11},
           {"'x'", 4},       {"/* c */", 6},   {"// d", 6},     {"EXEC SQL SELECT a FROM b;", 14},
           {"return", 12},   {"+", 11},        {"1'000", 5},    {"0x1Fu", 5},
           {"#include", 10}, {"\"my.h\"", 4},  {"// h", 6},     {"x", 3}});
}

TEST(Highlighting, PerlWithHereDocument) {
    check("Perl",
          "my $x = 5; # c\rprint <<\"END\";\rhello $x\rEND\rprint 'a' . \"b\\n\";\r"
          "my @l = qw(a b);\r$y = 1 << 2 if $x eq 'z';\r=pod\rdocs\r=cut\rsub f { return %h; }",
          {{"my", 9},    {"$x", 11},        {"5", 4},        {"# c", 5},
           {"print", 9}, {"<<\"END\";", 3}, {"hello $x", 3}, {"END", 3},
           {"print", 9}, {"'a'", 3},        {".", 8},        {"\"b\\n\"", 3},
           {"@l", 11},   {"qw(a b)", 3},    {"$y", 11},      {"<<", 8},
           {"2", 4},     {"eq", 8},         {"'z'", 3},      {"=pod\rdocs\r=cut", 5},
           {"sub", 9},   {"f", 2},          {"return", 9},   {"%h", 11}});
}

TEST(Highlighting, Sql) {
    check("SQL",
          "SELECT name, COUNT(*) FROM t -- c\rwhere x = 'O''Hara' /* b */ AND y > 42 # m\r"
          "UPDATE \"Quoted\" SET `tick` = $$body$$ RETURNING @v;",
          {{"SELECT", 6},     {"name", 2},   {",", 5},        {"COUNT", 6},     {"FROM", 6},
           {"t", 2},          {"-- c", 1},   {"where", 6},    {"'O''Hara'", 3}, {"/* b */", 1},
           {"AND", 6},        {">", 5},      {"42", 4},       {"# m", 1},       {"UPDATE", 6},
           {"\"Quoted\"", 2}, {"`tick`", 2}, {"$$body$$", 3}, {"RETURNING", 6}, {"@v", 2}});
}

TEST(Highlighting, HtmlWithScriptsAndPhp) {
    check("HTML",
          "<!DOCTYPE html>\r<!-- c\r -->\r<p class=\"n\" id='i'>Caf&eacute; &amp; x</p>\r"
          "<script>\r var s = \"t\"; // jc\r if (a < b) alert(s);\r</script>\r"
          "<script language=\"vbscript\">\r Dim s ' vc\r MsgBox \"v\"\r</script>\r"
          "<div><?php echo \"h\" . $n; ?></div>",
          {{"<!", 23},
           {"DOCTYPE", 23},
           {"html", 5},
           {">", 23},
           {"<!-- c\r -->", 11},
           {"<p", 23},
           {"class", 5},
           {"\"n\"", 2},
           {"id", 5},
           {"'i'", 2},
           {">", 23},
           {"Caf", 0},
           {"&eacute;", 18},
           {"&amp;", 18},
           {"</p>", 23},
           {"<script>", 23},
           {"var", 30},
           {"s", 41},
           {"\"t\"", 34},
           {";", 38},
           {"// jc", 31},
           {"if", 30},
           {"<", 38},
           {"alert", 39},
           {"</script>", 23},
           {"<script", 23},
           {"language", 5},
           {"\"vbscript\"", 2},
           {">", 23},
           {"Dim", 52},
           {"' vc", 53},
           {"MsgBox", 50},
           {"\"v\"", 55},
           {"</script>", 23},
           {"<div>", 23},
           {"<?php", 60},
           {"echo", 60},
           {"\"h\"", 61},
           {"$n", 62},
           {"?>", 60},
           {"</div>", 23}});
}

TEST(Highlighting, PlainTextHasOneStyle) {
    reference::ReferenceScanner scanner(builtin("Plain text").definition());
    for (auto s : scanner.styles("int x = 'a'; // <b>\r"))
        EXPECT_EQ(s, 0);
}

TEST(Highlighting, KeywordsStayWholeWords) {
    check("JavaScript", "iffy = returns + new_value + newValue;",
          {{"iffy", 7}, {"returns", 7}, {"new_value", 7}, {"newValue", 7}});
    check("C++", "int interval = integer_count;",
          {{"int", 12}, {"interval", 3}, {"integer_count", 3}});
    check("SQL", "select selected, fromage from t",
          {{"select", 6}, {"selected", 2}, {"fromage", 2}, {"from", 6}});
    check("Perl", "my $format = $#items + formats();",
          {{"my", 9}, {"$format", 11}, {"$#items", 11}, {"formats", 2}});
}

TEST(Highlighting, HtmlRecoversAfterTagsAndEntities) {
    check("HTML", "a & b <br/> c <img src=x.png width=100> d &lt;",
          {{"a & b ", 0},
           {"<", 23},
           {"br", 23},
           {"/>", 23},
           {" c ", 0},
           {"img", 23},
           {"src", 5},
           {"100", 2},
           {">", 23},
           {" d ", 0},
           {"&lt;", 18}});
}
