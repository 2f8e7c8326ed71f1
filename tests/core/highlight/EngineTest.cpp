// The highlighting engine on small scripts: keywords, handlers, token tables, state changes,
// containers and the guarantees of progress.
#include "EngineTestUtil.h"
#include "core/highlight/PerlHereDoc.h"

#include <gtest/gtest.h>

using namespace morvane::highlight;
using namespace morvane::highlight::testing;
using morvane::editor::StateSet;

namespace {

std::vector<Tok> scan(const std::string& script, std::string_view text) {
    Compiled c(script);
    return tokensOf(c.engine, text);
}

} // namespace

TEST(EngineKeywords, FollowGroupKeepsKeywordOutOfLongerIdentifier) {
    auto t = scan("%%words 'if' '[^a-zA-Z0-9_]' 1 %%tokens 2 __STD_IDENTIFIER", "iffy if");
    EXPECT_EQ(t, (std::vector<Tok>{{0, 4, 2}, {4, 1, 0}, {5, 2, 1}}));
}

TEST(EngineKeywords, LongestMatchWins) {
    const char* script = "%%words 'in' '' 1 'int' '' 2";
    EXPECT_EQ(scan(script, "int"), (std::vector<Tok>{{0, 3, 2}}));
    EXPECT_EQ(scan(script, "in"), (std::vector<Tok>{{0, 2, 1}}));
    // A longer word whose follow group refuses falls back to the shorter one.
    EXPECT_EQ(scan("%%words 'in' '' 1 'int' '[ ]' 2", "intx"),
              (std::vector<Tok>{{0, 2, 1}, {2, 1, 0}, {3, 1, 0}}));
}

TEST(EngineKeywords, CaseFlagDecidesHowWordsCompare) {
    EXPECT_EQ(scan("%%words 'Begin' '' 4", "BEGIN")[0], (Tok{0, 5, 4}));
    EXPECT_EQ(scan("%%language case = __sensitive %%words 'Begin' '' 4", "BEGIN")[0],
              (Tok{0, 1, 0}));
}

TEST(EngineKeywords, LastWordOfTheTextSatisfiesANegatedFollowGroup) {
    EXPECT_EQ(scan("%%words 'end' '[^a-z]' 3", "end"), (std::vector<Tok>{{0, 3, 3}}));
    // A follow group that asks for a character is not met where there is none.
    EXPECT_EQ(scan("%%words '<<' '[A-Z]' 3", "<<"), (std::vector<Tok>{{0, 1, 0}, {1, 1, 0}}));
}

TEST(EngineKeywords, ExtraTableAfterMainTableAndOnlyInItsStates) {
    const char* script = "%%words 'foo' '' 1\n"
                         "%%kwTables forstate [0] endswith '[^a-z]' ( 7 is 'bar', 'baz' )\n"
                         "forstate [2] endswith '' ( 8 is 'qux' )";
    EXPECT_EQ(scan(script, "foo bar baz barx qux"), (std::vector<Tok>{{0, 3, 1},
                                                                      {3, 1, 0},
                                                                      {4, 3, 7},
                                                                      {7, 1, 0},
                                                                      {8, 3, 7},
                                                                      {11, 1, 0},
                                                                      {12, 1, 0},
                                                                      {13, 1, 0},
                                                                      {14, 1, 0},
                                                                      {15, 1, 0},
                                                                      {16, 1, 0},
                                                                      {17, 1, 0},
                                                                      {18, 1, 0},
                                                                      {19, 1, 0}}));
}

TEST(EngineHandlers, BlockCommentCoversItsEndAndRunsToTheEndOfText) {
    const char* script = "%%words '/*' '' 2 '//' '' 1\n"
                         "%%handlers 2 '[\\x00-\\xff]' ? '*/' 1  1 '[^\\n]' ? '\\n' 0";
    EXPECT_EQ(scan(script, "/* a\r*/x"), (std::vector<Tok>{{0, 7, 2}, {7, 1, 0}}));
    EXPECT_EQ(scan(script, "/**/"), (std::vector<Tok>{{0, 4, 2}}));
    EXPECT_EQ(scan(script, "/* open"), (std::vector<Tok>{{0, 7, 2}}));
    EXPECT_EQ(scan(script, "/*"), (std::vector<Tok>{{0, 2, 2}}));
    // The line end is not part of a line comment.
    EXPECT_EQ(scan(script, "// c\rx"), (std::vector<Tok>{{0, 4, 1}, {4, 1, 0}, {5, 1, 0}}));
}

TEST(EngineHandlers, BodyThatDoesNotMatchDropsTheKeyword) {
    // Without '?', the body must match once before the end is looked for.
    const char* script = "%%words '&' '' 5 %%handlers 5 '[a-z]' ';' 1 %%tokens 6 '&'";
    EXPECT_EQ(scan(script, "&amp;"), (std::vector<Tok>{{0, 5, 5}}));
    // The failed keyword falls through to the token table rule of its first character.
    EXPECT_EQ(scan(script, "& "), (std::vector<Tok>{{0, 1, 6}, {1, 1, 0}}));
}

TEST(EngineHandlers, StandardRoutineBodyRunsOnce) {
    EXPECT_EQ(scan("%%words '#' '' 4 %%handlers 4 16", "#123x"),
              (std::vector<Tok>{{0, 4, 4}, {4, 1, 0}}));
    EXPECT_EQ(scan("%%words '#' '' 4 %%handlers 4 16", "#x"),
              (std::vector<Tok>{{0, 1, 0}, {1, 1, 0}}));
}

TEST(EngineTokenTable, RulesWithBodiesEndsAndStandardTypes) {
    const char* script = "%%tokens 3 __STD_IDENTIFIER  4 '[0-9]' '[0-9.]' ? '[^0-9.]' 0\n"
                         "5 '\"' '[^\"\\n]' ? '\"' 1  6 '('";
    EXPECT_EQ(scan(script, "ab1 2.5(\"s\" 7"),
              (std::vector<Tok>{
                  {0, 3, 3}, {3, 1, 0}, {4, 3, 4}, {7, 1, 6}, {8, 3, 5}, {11, 1, 0}, {12, 1, 0}}));
    // An unterminated string stops at the end of the text with its value; a rule whose body
    // never matched (the digit is the text's last character) is no token.
    EXPECT_EQ(scan(script, "\"ab"), (std::vector<Tok>{{0, 3, 5}}));
}

TEST(EngineTokenTable, LowestOwningStateSelectsTheTable) {
    const char* script = "%%language startstate = [2 3]\n"
                         "%%tokens 1 'a'  InState 3 ( 3 'a' )  InState 2 ( 2 'a' )";
    Compiled c(script);
    EXPECT_EQ(tokensOf(c.engine, "a")[0].value, 2);
    // A state without a table of its own uses the global one.
    Compiled plain("%%tokens 1 'a'  InState 3 ( 3 'a' )");
    EXPECT_EQ(tokensOf(plain.engine, "a")[0].value, 1);
}

TEST(EngineStates, TokenNotAllowedInCurrentStatesIsOneDefaultCharacter) {
    // Token 9 may only be produced in state 0; the custom routine produces it in state 4.
    Compiled c("%%language startstate = [4]\n"
               "%%words 'q' '' 3 [4]  %%handlers 3 match (1)  %%tokens 9 '#'");
    c.engine.OnCustomParse = [](TCodeMemoEngine&, int, std::uint8_t& token, std::size_t&,
                                TScanStream& s) {
        s.advance();
        token = 9;
        return true;
    };
    EXPECT_EQ(tokensOf(c.engine, "qxq"), (std::vector<Tok>{{0, 1, 0}, {1, 1, 0}, {2, 1, 0}}));
}

TEST(EngineStates, StateChangesSelectTablesAndKeywords) {
    // HTML-like: '<' enters state 3, a tag name moves to 4, '>' returns to 0.
    const char* script = "%%words '<' '' 6  '>' '' 8 [3 4]\n"
                         "%%tokens InState 3 ( 19 '[a-z]' '[a-z0-9]' ? '[^a-z0-9]' 0 )\n"
                         "%%states 6 ( -[0] +[3] ) 19 ( -[3] +[4] ) 8 ( -[3 4] +[0] )";
    EXPECT_EQ(scan(script, "a<b1 x>c"),
              (std::vector<Tok>{
                  {0, 1, 0}, {1, 1, 6}, {2, 2, 19}, {4, 1, 0}, {5, 1, 0}, {6, 1, 8}, {7, 1, 0}}));
    // '>' outside a tag is default text.
    EXPECT_EQ(scan(script, ">")[0].value, 0);
}

TEST(EngineStates, PushAndPopRestoreTheStatesBeforeTheFirstToken) {
    Compiled c("%%words '(' '' 1 [0 2]  ')' '' 2 [0 2]  'x' '' 5 [1]  'y' '' 6 [2]\n"
               "%%states 1 push ( -[0 1] +[2] )  2 pop ( )");
    c.engine.SetContext(0);
    StateSet start = c.engine.CurrentStates();
    std::string text = "((y))x";
    std::size_t pos = 0, len = 0;
    std::vector<int> values;
    while (pos < text.size()) {
        values.push_back(c.engine.GetToken(text, pos, len));
        if (pos == 5) {
            EXPECT_EQ(c.engine.CurrentStates(), start);
        }
    }
    EXPECT_EQ(values, (std::vector<int>{1, 1, 6, 2, 2, 0}));
}

TEST(EngineStates, PopWithNothingPushedFallsBackToStartStates) {
    TRTStack stack;
    try {
        stack.pop();
        FAIL() << "no exception";
    } catch (const EStackUnderflow& e) {
        EXPECT_STREQ(e.what(), "Stack underflow");
    }
    Compiled c("%%language startstate = [0 7]  %%words ')' '' 2  %%states 2 pop ( )");
    c.engine.SetContext(0);
    std::string text = "))";
    std::size_t pos = 0, len = 0;
    EXPECT_EQ(c.engine.GetToken(text, pos, len), 2);
    EXPECT_EQ(c.engine.CurrentStates(), (StateSet{0, 7}));
}

// Every line of a file of unclosed brackets starts in a state of its own; the stack's depth
// bounds what those states hold.
TEST(EngineStates, UnclosedBracketsKeepTheStackBounded) {
    Compiled c("%%language %%words '[' '' 1 [0 1]  ']' '' 2 [0 1]\n"
               "%%states 1 push ( -[0] +[1] )  2 pop ( )");
    std::string text;
    for (int i = 0; i < 1000; ++i)
        text += "[\r";
    HighlightText(c.engine, text);
    EXPECT_EQ(c.engine.SaveState().stack.size(), TRTStack::kMaxDepth);
    EXPECT_LE(TRTStack::kMaxDepth, 256u);
}

TEST(EngineStates, SetContextUsesTheContextTableOrTheStartStates) {
    Compiled c("%%language startstate = [4] contextstates = (1 2 [5]), (3)");
    c.engine.SetContext(2);
    EXPECT_EQ(c.engine.CurrentStates(), (StateSet{5}));
    c.engine.SetContext(3);
    EXPECT_EQ(c.engine.CurrentStates(), (StateSet{4}));
    c.engine.SetContext(200);
    EXPECT_EQ(c.engine.CurrentStates(), (StateSet{4}));
    // An entry left empty (a definition that was never completed) also gives the start states.
    TParserDefinition def;
    def.startStates = StateSet{9};
    TCodeMemoEngine raw(def);
    raw.SetContext(17);
    EXPECT_EQ(raw.CurrentStates(), (StateSet{9}));
}

TEST(EngineContainers, ContainerTextIsScannedAgainWithItsStates) {
    Compiled c("%%words 'A' '' 5  'b' '' 6 [1]\n"
               "%%handlers 5 '[^;]' ? ';' 1\n"
               "%%containers 5 ( -[0] +[1] )");
    // The inner scan writes over the container's characters: 'A' and ';' are no tokens in
    // state 1; after the container the states before it return, where 'b' is no keyword.
    auto values = HighlightText(c.engine, "Abb;b");
    EXPECT_EQ(runsOf(values), "0 1 0\n1 2 6\n3 2 0\n");
    EXPECT_FALSE(c.engine.InContainer());
    EXPECT_EQ(c.engine.CurrentStates(), (StateSet{0}));
}

TEST(EngineProgress, RoutinesThatAcceptNothingStillEndTheToken) {
    // A custom body that accepts without moving, with an end that never comes. Routine 9
    // accepts nothing at a line end once its token started a line. A custom end that steps
    // back and refuses would undo the body's character on every round.
    Compiled c("%%words '@' '' 4  'x' '' 8  'k' '' 9\n"
               "%%handlers 4 match (1)  8 9 'q' 1  9 '[a-z]' match (4) 0\n"
               "%%tokens 5 '#' match (2)  6 '$' '[a-z]' ? match (3) 0  7 '%' 9 ? '!' 1");
    c.engine.OnCustomParse = [](TCodeMemoEngine&, int type, std::uint8_t&, std::size_t&,
                                TScanStream& s) {
        if (type == 2) s.setPosition(0); // moving backwards is no progress either
        if (type == 4) {
            s.back();
            return false;
        }
        return true;
    };
    std::string text = "@x#y$ab kabc%\r%\rx\rx";
    auto t = tokensOf(c.engine, text);
    std::size_t covered = 0;
    for (const auto& tok : t) {
        EXPECT_EQ(tok.offset, covered);
        EXPECT_GE(tok.length, 1u);
        covered += tok.length;
    }
    EXPECT_EQ(covered, text.size());
}

TEST(EngineCustomParse, RefusesWithoutHandlerOrWhileDesigning) {
    Compiled c("%%words '@' '' 4  %%handlers 4 match (1)");
    EXPECT_FALSE(c.engine.CanHighlight());
    EXPECT_EQ(tokensOf(c.engine, "@")[0].value, 0);
    int calls = 0;
    c.engine.OnCustomParse = [&](TCodeMemoEngine&, int type, std::uint8_t&, std::size_t&,
                                 TScanStream&) { return ++calls, type == 1; };
    EXPECT_TRUE(c.engine.CanHighlight());
    EXPECT_EQ(tokensOf(c.engine, "@")[0].value, 4);
    c.engine.designing = true;
    EXPECT_FALSE(c.engine.CanHighlight());
    EXPECT_EQ(tokensOf(c.engine, "@")[0].value, 0);
    EXPECT_EQ(calls, 1);
}

TEST(EngineDefinition, RecompilingTheHighlighterRefreshesItsEngine) {
    Compiled c("%%words 'a' '' 1");
    EXPECT_EQ(tokensOf(c.engine, "b")[0].value, 0);
    // The same number of words, so only the compiler's notice can tell the engine.
    c.parser.compile("%%words 'b' '' 2");
    EXPECT_EQ(tokensOf(c.engine, "b")[0].value, 2);
    // A failed compilation keeps what was built before the error.
    EXPECT_THROW(c.parser.compile("%%words 'c' '' 3 'c' '' 4"), std::exception);
    EXPECT_EQ(tokensOf(c.engine, "c")[0].value, 3);
}

TEST(EngineStates, ExtraTableWordsSkipTheValidityTest) {
    // Token 7 has a state rule valid in state 0 only, but the extra table finds it in state 5.
    Compiled c("%%language startstate = [5]\n"
               "%%kwTables forstate [5] endswith '' ( 7 is 'foo' )\n"
               "%%states 7 ( +[6] )");
    auto t = tokensOf(c.engine, "foo");
    EXPECT_EQ(t, (std::vector<Tok>{{0, 3, 7}}));
    EXPECT_EQ(c.engine.CurrentStates(), (StateSet{5, 6}));
}

TEST(EngineProgress, LongFailingRunIsNotScannedAgainFromEveryCharacter) {
    // The attribute value rule of a tag: digits start it, a quote is neither body nor end.
    Compiled c("%%tokens 2 '[0-9]' '[^\\s>\"\\']' ? '[\\s>]' 0");
    std::string text = std::string(50000, '1') + "'";
    const std::uint64_t before = c.engine.CharactersScanned();
    auto t = tokensOf(c.engine, text);
    // Scanned once from the first character; again from every one would be over a billion.
    EXPECT_LE(c.engine.CharactersScanned() - before, 3 * text.size());
    ASSERT_EQ(t.size(), text.size());
    EXPECT_EQ(t.front(), (Tok{0, 1, 0}));
    // The same run ended properly is one token.
    EXPECT_EQ(tokensOf(c.engine, "111 ").front(), (Tok{0, 3, 2}));
    // A long word is no mail address, from whichever of its letters it is read.
    Compiled mail("%%tokens 4 __STD_MAIL_URL");
    EXPECT_EQ(tokensOf(mail.engine, std::string(200000, '1')).size(), 200000u);
    EXPECT_EQ(tokensOf(mail.engine, "ab me@x.org").back(), (Tok{3, 8, 4}));
}

TEST(EngineProgress, LongFailingHandlerIsNotScannedAgainFromEveryKeyword) {
    // Every 'a' starts the keyword again, and its handler fails only at the 'c'.
    Compiled c("%%words 'a' '' 3  %%handlers 3 '[a]' ? 'b' 1");
    std::string text = std::string(50000, 'a') + "c";
    const std::uint64_t before = c.engine.CharactersScanned();
    auto t = tokensOf(c.engine, text);
    EXPECT_LE(c.engine.CharactersScanned() - before, 3 * text.size());
    ASSERT_EQ(t.size(), text.size());
    EXPECT_EQ(t.front(), (Tok{0, 1, 0}));
    EXPECT_EQ(tokensOf(c.engine, "aab").front(), (Tok{0, 3, 3}));
}
