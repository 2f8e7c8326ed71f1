// The engine and the plain reading of the token algorithm the script tests use must agree on
// every character, so that what those tests show of the built-in scripts' colours holds for the
// engine the editor runs.
#include "EngineTestUtil.h"
#include "ReferenceScanner.h"

#include <gtest/gtest.h>

#include <random>

using namespace morvane::highlight;
using namespace morvane::highlight::testing;

TEST(EngineAgreesWithReference, OnSamplesOfEveryBuiltinHighlighter) {
    const char* texts[] = {
        "int main() { /* c */ return 0x1F + 'x'; } // e\r#include <a.h>\rEXEC SQL x;\r/* open",
        "<p class=\"n\">a &amp; b</p><script>var s = 'x'; // c\r</script><?php echo $a; ?>",
        "print <<\"END\";\rbody\rEND\rmy $x = qw(a b); # c\r=pod\rx\r=cut\r",
        "SELECT 'O''Hara', \"q\" FROM t -- c\r/* b */ 42",
        "const a = `t\ru`; /* x */ if (a >= 1.5e3) return;",
        "plain 'text' 42"};
    std::mt19937 rng(7);
    for (const auto& language : builtinLanguages()) {
        auto engine = builtinEngine(language);
        reference::ReferenceScanner ref(builtinParser(language).definition());
        for (const char* t : texts) {
            std::string text = t;
            for (int i = 0; i < 50; ++i) {
                EXPECT_EQ(HighlightText(*engine, text), ref.tokens(text))
                    << language << ": " << ::testing::PrintToString(text);
                std::size_t at = rng() % (text.size() + 1);
                text.insert(at, 1, "\r\"'/*<>?-$#;"[rng() % 12]);
            }
        }
    }
}

// Past the end of the text the stream's current character is 0: a keyword at the very end is
// found only when its follow group holds character 0.
TEST(EngineAgreesWithReference, FollowGroupAtTheEndOfTheText) {
    struct Case {
        const char* script;
        std::uint8_t expected;
    } cases[] = {{"%%words '>' '\\n' 4", 0},
                 {"%%words 'x' '[0-9]' 4", 0},
                 {"%%words 'x' '[^x]' 4", 4},
                 {"%%words 'x' '' 4", 4}};
    for (const auto& c : cases) {
        Compiled compiled(c.script);
        reference::ReferenceScanner ref(compiled.parser.definition());
        std::string text = std::string(c.script).substr(9, 1);
        EXPECT_EQ(HighlightText(compiled.engine, text), std::vector<std::uint8_t>{c.expected})
            << c.script;
        EXPECT_EQ(ref.tokens(text), std::vector<std::uint8_t>{c.expected}) << c.script;
    }
}
