// The built-in highlighters compile and carry their documented styles.
#include "core/highlight/BuiltinHighlighters.h"
#include "core/highlight/CodeMemoEngine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>

using namespace morvane::highlight;

#ifndef MORVANE_RESOURCES_DIR
#error "MORVANE_RESOURCES_DIR must name the source tree's resources folder"
#endif

TEST(BuiltinScripts, CompileWithTheirLanguageNames) {
    auto list =
        compileBuiltinHighlighters(MORVANE_RESOURCES_DIR, "Software\\Orvandel\\Morvane\\2.1");
    ASSERT_EQ(list.size(), builtinHighlighters().size());
    ASSERT_EQ(list.size(), 15u);
    for (std::size_t i = 0; i < list.size(); ++i) {
        const auto& b = builtinHighlighters()[i];
        EXPECT_EQ(list[i]->languageName(), b.language);
        EXPECT_EQ(list[i]->settings().fontName, "Courier New");
        EXPECT_EQ(list[i]->settings().fontSize, 10);
        EXPECT_EQ(list[i]->registryKey.empty(), !b.persisted) << b.language;
    }
}

namespace {

struct Style {
    const char* name;
    int number;
    const char* font; // B, I, U
    std::int32_t rgb; // #RRGGBB
};

std::int32_t bgr(std::int32_t rgb) {
    return ((rgb & 0xFF) << 16) | (rgb & 0xFF00) | ((rgb >> 16) & 0xFF);
}

const std::map<std::string, std::vector<Style>>& expectedStyles() {
    static const std::map<std::string, std::vector<Style>> table{
        {"JavaScript",
         {{"Reserved word", 1, "B", 0},
          {"Comment", 2, "I", 0x0000FF},
          {"Identifier", 7, "", 0},
          {"Function", 10, "B", 0},
          {"String", 5, "I", 0},
          {"Number", 8, "", 0xFF0000},
          {"Symbols", 9, "", 0x008000},
          {"Default", 30, "", 0}}},
        {"C++",
         {{"Comment", 6, "I", 0x000080},
          {"String", 4, "I", 0x800000},
          {"Reserved word", 12, "B", 0},
          {"Operator", 11, "", 0},
          {"Identifier", 3, "", 0},
          {"Directive", 10, "", 0x800080},
          {"Number", 5, "", 0xFF0000},
          {"Embedded SQL", 14, "B", 0x800080},
          {"Default", 0, "", 0}}},
        {"Perl",
         {{"Comment", 5, "I", 0x000080},
          {"String", 3, "I", 0x800000},
          {"Reserved word", 9, "B", 0},
          {"Operator", 8, "", 0},
          {"Identifier", 2, "", 0},
          {"Variable", 11, "", 0},
          {"Number", 4, "", 0xFF0000},
          {"Default", 0, "", 0}}},
        {"Plain text", {{"Default", 0, "", 0}}},
        {"SQL",
         {{"Reserved word", 6, "B", 0},
          {"Comment", 1, "I", 0x0000FF},
          {"Identifier", 2, "", 0},
          {"String", 3, "I", 0},
          {"Number", 4, "", 0x008000},
          {"Symbols", 5, "B", 0},
          {"Default", 0, "", 0}}},
        {"HTML",
         {{"Comment", 11, "", 0x008000},
          {"String", 2, "", 0xFF0000},
          {"Tag name", 23, "B", 0x800000},
          {"Field name", 5, "B", 0},
          {"Special char", 18, "I", 0},
          {"JS Comment", 31, "I", 0x0000FF},
          {"JS Keyword", 30, "B", 0x008000},
          {"JS Method", 39, "B", 0},
          {"JS Symbol", 38, "", 0x008000},
          {"JS String", 34, "I", 0},
          {"JS Indentifier", 41, "U", 0},
          {"JS Number", 37, "", 0xFF00FF},
          {"VB Comment", 53, "I", 0x0000FF},
          {"VB Keyword", 52, "B", 0},
          {"VB Method", 51, "B", 0},
          {"VB Function", 50, "U", 0},
          {"VB Symbol", 54, "", 0x008000},
          {"VB String", 55, "I", 0},
          {"VB Indentifier", 56, "U", 0},
          {"VB Number", 57, "", 0},
          {"PHP Keyword", 60, "", 0x008000},
          {"PHP String", 61, "", 0xFF0000},
          {"PHP Identifier", 62, "", 0x000080},
          {"PHP Number", 63, "", 0x000080},
          {"Default", 0, "", 0}}},
    };
    return table;
}

Highlighters& builtins() {
    static Highlighters list =
        compileBuiltinHighlighters(MORVANE_RESOURCES_DIR, "Software\\Orvandel\\Morvane\\2.1");
    return list;
}

const TCodeMemoParser& builtin(const std::string& language) {
    for (const auto& p : builtins())
        if (p->languageName() == language) return *p;
    throw std::runtime_error("no highlighter " + language);
}

} // namespace

TEST(BuiltinScripts, EditableStylesAndDefaultEffects) {
    for (const auto& [language, styles] : expectedStyles()) {
        const auto& s = builtin(language).settings();
        ASSERT_EQ(s.editableStyles.size(), styles.size()) << language;
        for (std::size_t i = 0; i < styles.size(); ++i) {
            const auto& want = styles[i];
            SCOPED_TRACE(language + " / " + want.name);
            EXPECT_EQ(s.editableStyles[i].name, want.name);
            EXPECT_EQ(s.editableStyles[i].style, want.number);
            const auto& e = s.effects[std::size_t(want.number)];
            std::uint8_t bits = 0;
            for (const char* f = want.font; *f; ++f)
                bits |= *f == 'B' ? fsBoldBit : *f == 'I' ? fsItalicBit : fsUnderlineBit;
            EXPECT_EQ(e.fontStyle, bits);
            EXPECT_EQ(e.foreground, bgr(want.rgb));
            EXPECT_EQ(e.background, 0xFFFFFF);
            EXPECT_EQ(e.foregroundDefault | e.backgroundDefault | e.hotSpot, 0);
            EXPECT_EQ(e.inUse, 1);
        }
        // Every token value shows with a style the user can edit.
        for (int t = 0; t < 256; ++t) {
            int style = s.tokenStyle[std::size_t(t)];
            bool editable = std::any_of(styles.begin(), styles.end(),
                                        [&](const Style& x) { return x.number == style; });
            EXPECT_TRUE(editable || style == 0) << language << " token " << t;
        }
    }
}

TEST(BuiltinScripts, StructuresTheEngineReliesOn) {
    const auto& html = builtin("HTML").definition();
    EXPECT_TRUE(html.anchors.has(6));
    ASSERT_TRUE(html.stateRules[6]);
    EXPECT_TRUE(html.stateRules[6]->add.has(3));
    ASSERT_TRUE(html.stateTable(3));
    EXPECT_EQ((*html.stateTable(3))['d']->value, 19);
    EXPECT_TRUE(html.keywords.find(">", StateSet{3}));
    EXPECT_FALSE(html.keywords.find(">", StateSet{0}));

    const auto& perl = builtin("Perl").definition();
    EXPECT_EQ(perl.boundStates, (StateSet{1, 2}));
    EXPECT_TRUE(perl.usesCustomParse);
    ASSERT_TRUE(perl.handlers[19]);
    EXPECT_TRUE(perl.handlers[19]->body.isCustom);
    EXPECT_EQ(perl.handlers[19]->body.routine, 1);
    EXPECT_EQ((*perl.stateTable(1))['x']->body.routine, 2);
    EXPECT_EQ((*perl.stateTable(1))['x']->value, 18);
    EXPECT_EQ((*perl.stateTable(2))['E']->body.routine, 3);
    EXPECT_EQ(perl.stateRules[19]->remove, (StateSet{0}));
    EXPECT_EQ(perl.stateRules[20]->add, (StateSet{0}));

    const auto& cpp = builtin("C++").definition();
    EXPECT_EQ(cpp.keywords.find("EXEC SQL", StateSet{0})->token, 14);
    ASSERT_TRUE(cpp.handlers[14] && cpp.handlers[1] && cpp.handlers[2]);
    EXPECT_TRUE(cpp.groups.get(cpp.handlers[14]->end.groups[0]).contains(';'));
    EXPECT_TRUE(cpp.handlers[2]->end.included);
    EXPECT_FALSE(cpp.handlers[1]->end.included);
    EXPECT_TRUE(cpp.keywords.caseSensitive());
    EXPECT_FALSE(builtin("SQL").definition().keywords.caseSensitive());
}

TEST(BuiltinScripts, UserScriptsFolder) {
    auto dir = std::filesystem::temp_directory_path() / "hl-user-scripts";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "b.stx") << "%%language name = 'Bee'";
    std::ofstream(dir / "a.STX") << "%%language name = 'Aye'";
    std::ofstream(dir / "bad.stx") << "%%language name = ";
    std::ofstream(dir / "notes.txt") << "not a script";
    std::vector<std::string> errors;
    auto list = compileUserScripts(dir, [&](const std::filesystem::path& f, const std::string& m) {
        errors.push_back(f.filename().string() + ": " + m);
    });
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0]->languageName(), "Aye");
    EXPECT_EQ(list[1]->languageName(), "Bee");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "bad.stx: ** ERROR near line 1, Column 19: String value expected");
    std::filesystem::remove_all(dir);
}

// A built-in script that is missing or damaged is named with its language and left out; every
// other highlighter still loads. Without a problem handler the error still propagates.
TEST(BuiltinScripts, OneBrokenScriptLeavesTheOthersWorking) {
    namespace fs = std::filesystem;
    auto dir = fs::temp_directory_path() / "hl-broken-builtin";
    fs::remove_all(dir);
    fs::create_directories(dir / "highlighters");
    for (const auto& b : builtinHighlighters())
        fs::copy_file(fs::path(MORVANE_RESOURCES_DIR) / "highlighters" / b.script,
                      dir / "highlighters" / b.script);
    fs::remove(dir / "highlighters" / "css.stx");
    std::ofstream(dir / "highlighters" / "yaml.stx", std::ios::trunc)
        << "%%language\nname = 'YAML'\n%%words\n'a' '' 3 [\n";

    std::vector<std::string> problems;
    auto list = compileBuiltinHighlighters(dir, "Software\\T",
                                           [&](const std::string& m) { problems.push_back(m); });
    ASSERT_EQ(problems.size(), 2u);
    EXPECT_NE(problems[0].find("The CSS highlighter cannot be loaded"), std::string::npos);
    EXPECT_NE(problems[0].find("css.stx is missing"), std::string::npos) << problems[0];
    EXPECT_NE(problems[1].find("The YAML highlighter cannot be loaded"), std::string::npos);
    EXPECT_NE(problems[1].find("near line 5"), std::string::npos) << problems[1];
    ASSERT_EQ(list.size(), builtinHighlighters().size() - 2);
    std::vector<std::string> names;
    for (const auto& p : list)
        names.push_back(p->languageName());
    EXPECT_EQ(std::count(names.begin(), names.end(), "Python"), 1);
    EXPECT_EQ(std::count(names.begin(), names.end(), "CSS"), 0);
    // The ones left still highlight.
    auto python = std::find_if(list.begin(), list.end(),
                               [](auto& p) { return p->languageName() == "Python"; });
    EXPECT_EQ(HighlightText((*python)->engine(), "def")[0], 2);

    EXPECT_ANY_THROW(compileBuiltinHighlighters(dir, "Software\\T"));
    fs::remove_all(dir);
}
