// Each script section: the facts it puts into the definition and the errors it reports.
#include "core/editor/CodeMemoError.h"
#include "core/editor/Keywords.h"
#include "core/highlight/CodeMemoParser.h"
#include "core/highlight/SYM_Compiler.h"

#include <gtest/gtest.h>

using namespace morvane;
using namespace morvane::highlight;
using editor::StateSet;

namespace {

std::string errorOf(const std::string& script) {
    TCodeMemoParser p;
    try {
        p.compile(script);
    } catch (const std::exception& e) {
        return e.what();
    }
    return "no error";
}

struct ErrorCase {
    const char* script;
    const char* message;
};

} // namespace

class SectionErrors : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(SectionErrors, ReportTheExactMessage) {
    EXPECT_EQ(errorOf(GetParam().script), GetParam().message) << GetParam().script;
}

INSTANTIATE_TEST_SUITE_P(
    Script, SectionErrors,
    ::testing::Values(
        ErrorCase{"1", "** ERROR near line 1, Column 2: Script syntax error"},
        ErrorCase{"%%language name 'x'", "** ERROR near line 1, Column 20: '=' expected"},
        ErrorCase{"%%language name = 5", "** ERROR near line 1, Column 20: String value expected"},
        ErrorCase{"%%language options = )", "** ERROR near line 1, Column 23: Expression expected"},
        ErrorCase{"%%language options = (1 + 2",
                  "** ERROR near line 1, Column 28: Expression expected"},
        ErrorCase{"%%language editablestyles ('a' 1)",
                  "** ERROR near line 1, Column 33: ',' expected"},
        ErrorCase{"%%language editablestyles 'a'", "** ERROR near line 1, Column 30: '(' expected"},
        ErrorCase{"%%language editablestyles ('a', 256)",
                  "** ERROR near line 1, Column 37: Value must be 0..255"},
        ErrorCase{"%%language indentstep = 21", "Range error, value outwith 0 .. 20"},
        ErrorCase{"%%language startstate = [1 256]", "Range error, value outwith 0 .. 255"},
        ErrorCase{"%%language startstate = [1 2", "** ERROR near line 1, Column 29: ']' expected"},
        ErrorCase{"%%language contextstates = (1 [2]), (1 [3])",
                  "Token value 1 re-specified in ContextState"},
        ErrorCase{"%%language GutterFontStyle = 1",
                  "** ERROR near line 1, Column 31: '[' expected"},
        ErrorCase{"%%language GutterFontStyle = ['b']",
                  "** ERROR near line 1, Column 34: Bad font style specifier"},
        ErrorCase{"%%language tabcolumns = '5 5'", "Tab columns must be in order and unique"},
        ErrorCase{"%%words 'if' '' 1 'if' '' 2",
                  "** ERROR near line 1, Column 28: Duplicate entry in %%word table"},
        ErrorCase{"%%words 'if' 'ab' 1",
                  "** ERROR near line 1, Column 20: Single character specifier expected"},
        ErrorCase{"%%words 'x' '' 300", "Range error, value outwith 0 .. 255"},
        ErrorCase{"%%kwtables forstate 1", "** ERROR near line 1, Column 22: '[' expected"},
        ErrorCase{"%%kwtables forstate [1] endswith 2",
                  "** ERROR near line 1, Column 35: String value expected"},
        ErrorCase{"%%kwtables forstate [1] endswith '' 1",
                  "** ERROR near line 1, Column 38: '(' expected"},
        ErrorCase{"%%kwtables forstate [1] endswith '' (1 is 'a',)",
                  "** ERROR near line 1, Column 48: String value expected"},
        ErrorCase{"%%kwtables forstate [1] endswith '' (1 is 'a'",
                  "** ERROR near line 1, Column 46: ')' expected"},
        ErrorCase{
            "%%kwtables forstate [1 2] endswith '' (1 is 'a') forstate [2] endswith '' (2 is 'b')",
            "Ambigious key table state definition"},
        ErrorCase{"%%handlers 1 'a' 2 'b' 'c' 1 1 'x'",
                  "** ERROR near line 1, Column 35: Duplicate entry in %%handler table"},
        ErrorCase{"%%handlers 1 '/' 'abcde' 1",
                  "** ERROR near line 1, Column 27: Maximum of 4 character specifier allowed"},
        ErrorCase{"%%handlers 1 match 1", "** ERROR near line 1, Column 21: '(' expected"},
        ErrorCase{"%%tokens 1 'a' 2 'a'",
                  "** ERROR near line 1, Column 21: Ambigious start set in %%token table"},
        ErrorCase{"%%tokens 1 9", "** ERROR near line 1, Column 13: Script syntax error"},
        ErrorCase{"%%tokens 1 'ab'",
                  "** ERROR near line 1, Column 16: Single character specifier expected"},
        ErrorCase{"%%tokens InState 3 1 'a'", "** ERROR near line 1, Column 21: '(' expected"},
        ErrorCase{"%%tokens InState 3 (1 'a'", "** ERROR near line 1, Column 26: ')' expected"},
        ErrorCase{"%%tokens 1 'a' 'z-a' 'x' 1",
                  "Characters not in correct order for range specifier"},
        ErrorCase{"%%effects 1 [] 0 0 1 [] 0 0",
                  "** ERROR near line 1, Column 23: Duplicate %%effect entry"},
        ErrorCase{"%%effects 1 0 0 0", "** ERROR near line 1, Column 14: '[' expected"},
        ErrorCase{"%%effects 1 [0 0", "** ERROR near line 1, Column 17: ']' expected"},
        ErrorCase{"%%states 1 [1]", "** ERROR near line 1, Column 13: '(' expected"},
        ErrorCase{"%%states 1 (+[1] 'x'", "** ERROR near line 1, Column 21: ')' expected"},
        ErrorCase{"%%keys 1 ([ctrl] 'ab')",
                  "** ERROR near line 1, Column 22: Single character specifier expected"},
        ErrorCase{"%%keys 1 ([ctrl] =)",
                  "** ERROR near line 1, Column 19: Key specification required"},
        ErrorCase{"%%keys 1 (37) ''",
                  "** ERROR near line 1, Column 17: Key function name cannot be blank"},
        ErrorCase{"%%keys 1 (37) 2 (37)", "Duplicate key sequence definition for\n\"\" and \"\""},
        ErrorCase{"%%autoreplace 'teh' 'the'", "** ERROR near line 1, Column 26: '=' expected"},
        ErrorCase{"%%autoreplace actionkeys = '\\{Return'", "Bad key specifier"},
        ErrorCase{"%%templates hotkey = [ctrl] 'J'",
                  "** ERROR near line 1, Column 23: '(' expected"},
        ErrorCase{"%%templates 'for' ('loop' = 'x'",
                  "** ERROR near line 1, Column 28: ')' expected"},
        ErrorCase{"%%language name = 'a' 'stray'",
                  "** ERROR near line 1, Column 30: Script syntax error"}));

TEST(LanguageSection, StoresSettings) {
    TCodeMemoParser p;
    p.compile(
        "%%language name = '0123456789012345678901234567890123456789' case = __sensitive\n"
        "options = __OPT_WORDWRAP or __OPT_LINE_NUMBERS exampletext = 'a\\nb'\n"
        "wordwrapcolumn = 72 gutter = _default_gutter + 6 indentstep = 2 wrapoverride = '>'\n"
        "seltextcolor = [*] clRed seltextback = [] clBlue guttercolor = 5 margincolor = [*] 6\n"
        "rightmargin = 100 marginwidth = 3 fontname = 'Mono' fontsize = 12\n"
        "fontcharset = OEM_CHARSET tabcolumns = '5 9 13' tabdefault = 8\n"
        "GutterFontName = 'Gut' GutterFontSize = 9 GutterFontColor = clNavy\n"
        "GutterFontStyle = [fsBold, fsItalic 9]\n"
        "editablestyles ('Comment', 2), ('A very long style name indeed', 3)");
    const auto& s = p.settings();
    EXPECT_EQ(s.languageName, "01234567890123456789012345678901234");
    EXPECT_EQ(p.definition().caseFlag, 1);
    EXPECT_EQ(s.options, 1025);
    EXPECT_EQ(s.exampleText, "a\rb");
    EXPECT_EQ(s.wordWrapColumn, 72);
    EXPECT_EQ(s.gutterWidth, 40);
    EXPECT_EQ(s.indentStep, 2);
    EXPECT_EQ(s.selTextColor, 255);
    EXPECT_EQ(s.selTextColorDefault, 1);
    EXPECT_EQ(s.selTextBackDefault, 0);
    EXPECT_EQ(s.marginColorDefault, 1);
    EXPECT_EQ(s.fontCharset, 255);
    EXPECT_EQ(s.tabColumns[0], 4);
    EXPECT_EQ(s.tabColumns[2], 12);
    EXPECT_EQ(s.tabColumns[3], -1);
    EXPECT_EQ(s.gutterFont().name, "Gut");
    EXPECT_EQ(s.gutterFont().style, 3);
    ASSERT_EQ(s.editableStyles.size(), 2u);
    EXPECT_EQ(s.editableStyles[1].name, "A very long style name in");
    EXPECT_EQ(s.editableStyles[1].style, 3);
}

TEST(LanguageSection, StartStateAnchorAndBoundForms) {
    TCodeMemoParser p;
    p.compile("%%language startstate = 3");
    EXPECT_EQ(p.definition().startStates, (StateSet{0, 3}));
    p.compile("%%language startstate = [3]");
    EXPECT_EQ(p.definition().startStates, (StateSet{3}));
    p.compile("%%language anchor = []");
    EXPECT_EQ(p.definition().anchors, (StateSet{0}));
    p.compile("%%language anchor = [6 0] boundstates = [1, 2]");
    EXPECT_EQ(p.definition().anchors, (StateSet{0, 6}));
    EXPECT_EQ(p.definition().boundStates, (StateSet{1, 2}));
}

TEST(LanguageSection, ContextStatesAndCompletion) {
    TCodeMemoParser p;
    p.compile("%%language startstate = [4] contextstates = (1 2 [5]), (3)");
    const auto& d = p.definition();
    EXPECT_EQ(d.context[1], (StateSet{5}));
    EXPECT_EQ(d.context[2], (StateSet{5}));
    // No set: empty, and so the start states after completion, like every other entry.
    EXPECT_EQ(d.context[3], (StateSet{4}));
    EXPECT_EQ(d.context[200], (StateSet{4}));
}

TEST(LanguageSection, TwentySixthEditableStyleFailsAfterTwentyFive) {
    std::string script = "%%language editablestyles ";
    for (int i = 0; i < 26; ++i)
        script += (i ? ", " : "") + std::string("('s', ") + std::to_string(i) + ")";
    TCodeMemoParser p;
    EXPECT_THROW(p.compile(script), ESYM_COMP_ERROR);
    EXPECT_NE(errorOf(script).find("Too many editable styles"), std::string::npos);
    EXPECT_EQ(p.settings().editableStyles.size(), 25u);
}

TEST(LanguageSection, RedefinedColourMacroApplies) {
    TCodeMemoParser p;
    p.compile("#define clRed 12\n%%language seltextcolor = clRed");
    EXPECT_EQ(p.settings().selTextColor, 12);
}

TEST(Expressions, EvaluateLeftToRightWithoutPrecedence) {
    TCodeMemoParser p;
    p.compile("%%language options = 1 + 2 or 4 - 1");
    EXPECT_EQ(p.settings().options, 6); // ((1 + 2) or 4) - 1
    p.compile("%%language options = 10 - (2 + 3)");
    EXPECT_EQ(p.settings().options, 5);
    // Deep nesting is refused instead of exhausting the stack.
    EXPECT_NE(errorOf("%%language options = " + std::string(100000, '(') + "1"), "no error");
}

TEST(WordsSection, KeywordsStatesAndCase) {
    TCodeMemoParser p;
    p.compile(
        "%%words 'If' '[^a-z]' 5 'Then' '' 6 [2 3]\n%%language case = 1\n%%words 'Else' '' 7");
    const auto& d = p.definition();
    ASSERT_TRUE(d.keywords.find("if", StateSet{0}));
    EXPECT_EQ(d.keywords.find("if", StateSet{0})->token, 5);
    EXPECT_GE(d.keywords.find("if", StateSet{0})->followGroup, 0);
    EXPECT_EQ(d.keywords.find("then", StateSet{0}), std::nullopt);
    EXPECT_EQ(d.keywords.find("then", StateSet{3})->followGroup, -1);
    EXPECT_TRUE(d.keywords.caseSensitive());
    EXPECT_TRUE(d.keywords.find("Else", StateSet{0}));
    EXPECT_FALSE(d.keywords.find("else", StateSet{0}));
    ASSERT_TRUE(d.stateRules[6]);
    EXPECT_EQ(d.stateRules[6]->valid, (StateSet{0, 2, 3}));
    EXPECT_TRUE(d.stateRules[6]->noChange);
    // The same word may be defined again for other states.
    EXPECT_EQ(errorOf("%%words 'x' '' 1 [1] 'x' '' 2 [2]"), "no error");
}

TEST(KwTablesSection, TablesMergeAndReplace) {
    TCodeMemoParser p;
    p.compile("%%kwtables forstate [] endswith '[^a-z]' (1 is 'Abc', 'def' 2 is 'ghi')\n"
              "forstate [5] endswith '' (3 is 'x')\n"
              "forstate [5] endswith '' (4 is 'y')");
    const auto& s = p.settings();
    ASSERT_EQ(s.keywordTables().size(), 2u);
    EXPECT_EQ(s.keywordTables()[0].states, (StateSet{0}));
    EXPECT_EQ(s.keywordTables()[1].words.front().first, "y");
    EXPECT_TRUE(s.extraKeywords().find("abc", StateSet{0}));
    EXPECT_FALSE(s.extraKeywords().find("x", StateSet{5}));
    EXPECT_EQ(s.extraKeywords().find("y", StateSet{5})->token, 4);

    std::string many = "%%kwtables ";
    for (int i = 0; i < 22; ++i)
        many += "forstate [" + std::to_string(i) + "] endswith '' (1 is 'w')\n";
    EXPECT_EQ(errorOf(many), "Too many keyword tables declared");
}

TEST(HandlersSection, BodiesAndEnds) {
    TCodeMemoParser p;
    p.compile("%%handlers 2 '\\x01-\\xff' ? '*/' 1\n"
              "1 '[^\\n]' ? '\\n' 0\n"
              "19 match (1)\n"
              "14 '[^;]' ';' 1\n"
              "7 8");
    const auto& d = p.definition();
    ASSERT_TRUE(d.handlers[2]);
    EXPECT_TRUE(d.handlers[2]->body.optional);
    EXPECT_EQ(d.handlers[2]->end.count, 2);
    EXPECT_TRUE(d.handlers[2]->end.included);
    EXPECT_TRUE(d.groups.get(d.handlers[2]->end.groups[0]).contains('*'));
    EXPECT_FALSE(d.handlers[1]->end.included);
    EXPECT_TRUE(d.groups.get(d.handlers[1]->end.groups[0]).contains(13));
    EXPECT_FALSE(d.groups.get(d.handlers[1]->body.group).contains(13));
    EXPECT_TRUE(d.handlers[19]->body.isCustom);
    EXPECT_EQ(d.handlers[19]->body.routine, 1);
    EXPECT_TRUE(d.usesCustomParse);
    EXPECT_TRUE(d.handlers[7]->body.isRoutine);
    EXPECT_FALSE(d.handlers[7]->end.has());
}

TEST(TokensSection, RulesTablesAndStates) {
    TCodeMemoParser p;
    p.compile("%%tokens 3 __STD_IDENTIFIER\n"
              "4 '\"' '[^\"]' ? '\"' 1\n"
              "5 '+'\n"
              "6 '-' [2]\n"
              "7 '#' 9 ? '\\n' 0\n"
              "InState 3 ( 19 '[a-zA-Z]' '[a-zA-Z0-9\\-]' '[^a-zA-Z0-9\\-]' 0 )\n"
              "InState 1 ( 18 '\\x01-\\xfe' match (2) )");
    const auto& d = p.definition();
    const auto& g = *d.globalTable;
    ASSERT_TRUE(g['Q'] && g['_']);
    EXPECT_TRUE(g['Q']->stdStart);
    EXPECT_EQ(g['Q']->stdRoutine, 10);
    EXPECT_FALSE(g['1']);
    EXPECT_TRUE(g['"']->hasBody);
    EXPECT_TRUE(g['"']->body.optional);
    EXPECT_EQ(g['"']->end.count, 1);
    EXPECT_FALSE(g['+']->hasBody);
    EXPECT_EQ(g['-']->valid, (StateSet{0, 2}));
    EXPECT_EQ(d.stateRules[6]->valid, (StateSet{0, 2}));
    EXPECT_TRUE(g['#']->body.isRoutine);
    EXPECT_EQ(g['#']->body.routine, 9);
    EXPECT_TRUE(d.anyStateTables);
    EXPECT_EQ(d.statesWithTables, (StateSet{1, 3}));
    const TokenTable* t3 = d.stateTable(3);
    ASSERT_TRUE(t3 && (*t3)['h']);
    EXPECT_EQ((*t3)['h']->value, 19);
    EXPECT_EQ((*t3)['h']->valid, (StateSet{3}));
    EXPECT_EQ(d.stateRules[19]->valid, (StateSet{3}));
    EXPECT_TRUE((*d.stateTable(1))[200]->body.isCustom);
    EXPECT_FALSE((*d.stateTable(1))[255]);
}

TEST(MapAndEffects, StoreStylesAndFlags) {
    TCodeMemoParser p;
    EXPECT_EQ(errorOf("%%effects 6 [fsItalic] 1 2 * 'other'"),
              "** ERROR near line 1, Column 37: Script syntax error");
    p.compile("%%map 1 5 2 6\n%%effects 0 [] 1 2 0 [] 3 4\n"
              "5 [fsBold, fsUnderline, 12] clRed * clWhite 'HotSpot'\n6 [fsItalic] 1 2 *");
    const auto& s = p.settings();
    EXPECT_EQ(s.tokenStyle[1], 5);
    EXPECT_EQ(s.effects[0].foreground, 3);
    const auto& e = s.effects[5];
    EXPECT_EQ(e.fontStyle, 5);
    EXPECT_EQ(e.foreground, 255);
    EXPECT_EQ(e.foregroundDefault, 1);
    EXPECT_EQ(e.backgroundDefault, 0);
    EXPECT_EQ(e.hotSpot, 1);
    EXPECT_EQ(e.inUse, 1);
    EXPECT_EQ(s.effects[6].backgroundDefault, 1);
    EXPECT_TRUE(s.hasHotSpot());
}

TEST(StatesSection, PushPopFlagsAndSets) {
    TCodeMemoParser p;
    p.compile("%%states 1 push ( +[1] -0 ) 2 ( -[1] +[0] ) pop 3 push ( +[1] ) pop 4 ( )\n"
              "%%containers 9 ( +[7] )");
    const auto& d = p.definition();
    EXPECT_EQ(d.stateRules[1]->pushPop, ppPushBefore);
    EXPECT_EQ(d.stateRules[1]->add, (StateSet{1}));
    EXPECT_EQ(d.stateRules[1]->remove, (StateSet{0}));
    EXPECT_FALSE(d.stateRules[1]->noChange);
    EXPECT_EQ(d.stateRules[2]->pushPop, ppPopAfter);
    EXPECT_TRUE(d.stateRules[2]->add.empty());
    // "push ( +[1] ) pop" keeps only the pop-after flag and clears the add set.
    EXPECT_EQ(d.stateRules[3]->pushPop, ppPopAfter);
    EXPECT_TRUE(d.stateRules[3]->add.empty());
    EXPECT_TRUE(d.stateRules[3]->noChange);
    EXPECT_TRUE(d.stateRules[4]->noChange);
    EXPECT_TRUE(d.stateRules[9]->container);
    EXPECT_EQ(d.stateRules[9]->valid, (StateSet{0}));
}

TEST(KeysSection, ReplacesTheMapAndNamesCommands) {
    TCodeMemoParser p;
    p.compile("%%keys caLEFT (LEFT | [ctrl] 'b') 'Left'\n"
              "caBLOCKIND ([ctrl, shift] 'k', 'i') 'Indent'\n"
              "caUNDO ([alt] BACKSPACE)");
    auto& k = p.settings().keys;
    EXPECT_EQ(k.commandName(0), "Left");
    EXPECT_EQ(k.commandName(41), "");
    auto b = k.bindings();
    ASSERT_EQ(b.size(), 4u);
    std::uint16_t first, second;
    ASSERT_TRUE(k.findKeys(17, first, second));
    EXPECT_EQ(first, 0x4000 + 0x2000 + 'K');
    EXPECT_EQ(second, 'I');
    ASSERT_TRUE(k.findKeys(41, first, second));
    EXPECT_EQ(first, 0x8000 + 8);
}

TEST(AutoReplaceAndTemplates, SectionsFillTheStores) {
    TCodeMemoParser p;
    p.compile(
        "%%autoreplace actionkeys = ' \\{Tab}' 'teh' = 'the' 'Recieve' = 'receive'\n"
        "%%templates hotkey = ([ctrl, shift] 'T') 'for' ('loop') = 'for (|;;)' 'if' = 'if ()'");
    const auto& s = p.settings();
    EXPECT_EQ(s.autoReplace.endKeyText(), " \\{Tab}");
    EXPECT_EQ(s.autoReplace.endKeys(), (std::vector<std::uint16_t>{32, 9}));
    EXPECT_EQ(s.autoReplace.findExpansion("recieve"), "receive");
    EXPECT_EQ(s.templates.hotkey, 0x4000 + 0x2000 + 'T');
    EXPECT_EQ(s.templates.entry("for")->description, "loop");
    EXPECT_EQ(s.templates.entry("if")->description, std::nullopt);
    // A repeated keyword inside the section is skipped; a second section starts afresh.
    p.compile("%%templates 'a' = 'b' %%templates 'c' = 'd'");
    EXPECT_EQ(p.settings().templates.entries().size(), 2u);
    p.compile("%%templates 'a' = 'b' %%map %%templates 'c' = 'd'");
    EXPECT_EQ(p.settings().templates.entries().size(), 1u);
}

TEST(Compile, PositionIsKeptAfterSuccessAndFailure) {
    TCodeMemoParser p;
    p.compile("%%language\n  name = 'x'");
    EXPECT_EQ(p.lastLine(), 2);
    EXPECT_EQ(p.lastColumn(), 13);
    EXPECT_THROW(p.compile("\n\n %%language name = "), ESYM_COMP_ERROR);
    EXPECT_EQ(p.lastLine(), 3);
}

TEST(Compile, ResetsThePreviousDefinition) {
    TCodeMemoParser p;
    p.compile("%%language name = 'A' %%words 'x' '' 1 %%map 1 2");
    p.compile("");
    EXPECT_EQ(p.languageName(), "<Custom language>");
    EXPECT_TRUE(p.definition().keywords.empty());
    EXPECT_EQ(p.settings().tokenStyle[1], 0);
    EXPECT_EQ(p.settings().keys, editor::TKeyboardActionContoller::globalDefault());
}
