// The settings record: stream form, style string, tab stops and the settings store values.
#include "core/editor/CodeMemoError.h"
#include "core/highlight/CodeMemoParser.h"
#include "core/platform/Registry.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace morvane;
using namespace morvane::highlight;
using editor::ECodeMemo;
using platform::Hive;
using platform::RegValue;

namespace {

void fillSample(TSM_Settings& s) {
    s.exampleText = "int x;\r";
    s.languageName = "Sample";
    s.options = 1234;
    s.gutterColor = 77;
    s.tabColumns = TSM_Settings::parseTabColumns("5 9");
    s.effects[7] = StyleEffect{5, 255, 65280, 1, 0, 1, 1};
    s.effects[0].backgroundDefault = 1;
    s.tokenStyle[3] = 7;
    s.editableStyles.push_back({"Comment", 7});
    s.fontName = "Mono";
    s.selTextBackDefault = 1;
    KeywordTable t;
    t.states = StateSet{2};
    t.endsWith = "[^a-z]";
    t.words = {{"abc", 4}, {"de", 5}};
    s.addKeywordTable(t);
    s.autoReplace.addReplacement("teh", "the");
    s.templates.addTemplate("for", "loop", "for (|;;)");
    s.keys.addBinding(editor::vkF1, 0, 44);
    GutterFont f;
    f.name = "Gutter";
    f.style = 9;
    s.setGutterFont(f);
}

std::string streamOf(const TSM_Settings& s, int version) {
    std::string bytes;
    editor::BinaryWriter out(bytes);
    s.writeStream(out, version);
    return bytes;
}

struct TempRegistry {
    std::filesystem::path dir;
    std::unique_ptr<platform::Registry> reg;
    TempRegistry() {
        dir = std::filesystem::temp_directory_path() /
              ("hl-reg-" +
               std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        reg = std::make_unique<platform::Registry>(dir);
    }
    ~TempRegistry() { std::filesystem::remove_all(dir); }
};

constexpr const char* kKey = "Software\\Orvandel\\Morvane\\2.1\\Syntaxhighlight";

} // namespace

TEST(SettingsStream, RoundTripVersion51) {
    TSM_Settings a, b;
    fillSample(a);
    std::string bytes = streamOf(a, 51);
    editor::BinaryReader in(bytes);
    b.readStream(in, 51);
    EXPECT_TRUE(in.atEnd());
    // The same size: only the order of the key bindings may differ after a reload.
    EXPECT_EQ(streamOf(b, 51).size(), bytes.size());
    EXPECT_EQ(b.languageName, "Sample");
    EXPECT_EQ(b.tabColumns, a.tabColumns);
    EXPECT_EQ(b.tokenStyle, a.tokenStyle);
    EXPECT_EQ(b.editableStyles, a.editableStyles);
    EXPECT_EQ(b.effects, a.effects);
    EXPECT_EQ(b.keywordTables(), a.keywordTables());
    EXPECT_EQ(b.extraKeywords().find("abc", StateSet{2})->token, 4);
    EXPECT_EQ(b.gutterFont(), a.gutterFont());
    EXPECT_EQ(b.keys, a.keys);
    EXPECT_EQ(b.templates.entries(), a.templates.entries());
}

TEST(SettingsStream, Version50HasNoGutterFont) {
    TSM_Settings a, b;
    fillSample(a);
    std::string v50 = streamOf(a, 50);
    EXPECT_LT(v50.size(), streamOf(a, 51).size());
    editor::BinaryReader in(v50);
    b.readStream(in, 50);
    EXPECT_TRUE(in.atEnd());
    EXPECT_EQ(b.gutterFont(), GutterFont{});
}

TEST(SettingsStream, TruncatedStreamsFailCleanly) {
    TSM_Settings a, b;
    fillSample(a);
    std::string bytes = streamOf(a, 51);
    for (std::size_t n = 0; n < bytes.size(); n += 7) {
        editor::BinaryReader in(std::string_view(bytes).substr(0, n));
        EXPECT_ANY_THROW(b.readStream(in, 51)) << n;
    }
}

TEST(StyleString, RoundTrip) {
    TSM_Settings a, b;
    fillSample(a);
    std::string s = a.styleString();
    EXPECT_EQ(s.rfind("Corvix6:OPT#4#1234GWD#2#34", 0), 0u);
    EXPECT_EQ(s.substr(s.size() - 5), "#END#");
    EXPECT_NE(s.find("TBC#3#5 9"), std::string::npos);
    EXPECT_NE(s.find("LNE#2#BS"), std::string::npos);
    b.applyStyleString(s);
    EXPECT_EQ(b.options, 1234);
    EXPECT_EQ(b.gutterColor, 77);
    EXPECT_EQ(b.tabColumns, a.tabColumns);
    EXPECT_EQ(b.fontName, "Mono");
    EXPECT_EQ(b.selTextBackDefault, 1);
    EXPECT_EQ(b.gutterFont().name, "Gutter");
    EXPECT_EQ(b.gutterFont().style, 9);
    // The hot-spot flag is not part of the string: the reader keeps its own.
    auto expected = a.effects;
    expected[7].hotSpot = 0;
    EXPECT_EQ(b.effects, expected);
    EXPECT_EQ(b.styleString(), a.styleString().replace(a.styleString().find("LNE"), 0, ""));
}

TEST(StyleString, UnknownKeyStopsButKeepsWhatWasRead) {
    TSM_Settings s;
    s.applyStyleString("Corvix6:OPT#2#12GWD#2#50XYZ#1#1WRC#2#99");
    EXPECT_EQ(s.options, 12);
    EXPECT_EQ(s.gutterWidth, 50);
    EXPECT_EQ(s.wordWrapColumn, 0);
}

TEST(StyleString, AllStylesInUse) {
    TSM_Settings a, b;
    for (auto& e : a.effects)
        e.inUse = 1;
    a.effects[255].foreground = 99;
    std::string s = a.styleString();
    EXPECT_NE(s.find("#255,0,0,16777215,;"), std::string::npos);
    b.applyStyleString(s);
    // The count says 255, so the last entry is not read.
    EXPECT_EQ(b.effects[254].inUse, 1);
    EXPECT_EQ(b.effects[255].inUse, 0);
}

TEST(StyleString, BadDataIsRefusedOrContained) {
    TSM_Settings s;
    for (const char* bad : {"", "Corvix", "Corvix0:", "Corvax6:", "Corvixa:"})
        EXPECT_THROW(s.applyStyleString(bad), ECodeMemo) << bad;
    EXPECT_THROW(s.applyStyleString("Corvix6:OPT#3#abc"), ECodeMemo);
    // A style number of 256 resets the style data before the error leaves.
    s.effects[9].inUse = 1;
    EXPECT_THROW(s.applyStyleString("Corvix6:EFF#12#1,256,1,2,B;"), ECodeMemo);
    EXPECT_EQ(s.effects[9].inUse, 0);
    EXPECT_EQ(s.effects[0].inUse, 1);
    // Lengths beyond the text, huge counts and stray bytes end the read without harm.
    s.applyStyleString("Corvix6:OPT#999999999999#1");
    s.applyStyleString(std::string("Corvix6:EFF#12#99999999,1,2") + '\0' + "\xff");
    s.applyStyleString("Corvix6:EFF#3#1,,");
    s.applyStyleString("Corvix4");      // the positional form with nothing after the version
    EXPECT_EQ(s.effects[255].inUse, 1); // a missing style number is 255
}

TEST(StyleString, PositionalForms) {
    TSM_Settings s;
    s.fontName = "Other";
    s.applyStyleString("Corvix1:5,40,0,2,2,>|,1,7,8,B;");
    EXPECT_EQ(s.options, 5);
    EXPECT_EQ(s.gutterWidth, 40);
    EXPECT_EQ(s.indentStep, 2);
    EXPECT_EQ(s.wrapOverride, ">|");
    EXPECT_EQ(s.fontName, "Courier New");
    EXPECT_EQ(s.fontSize, 10);
    EXPECT_EQ(s.effects[7].foreground, 8);
    EXPECT_EQ(s.effects[7].fontStyle, fsBoldBit);
    s.applyStyleString("Corvix4:,,,,0,,5,Arial,12,1,2,6,5 9 13,8,0");
    EXPECT_EQ(s.options, kDefaultOptions); // nothing stored: the default, line numbers on
    EXPECT_EQ(s.fontName, "Arial");
    EXPECT_EQ(s.fontSize, 12);
    EXPECT_EQ(s.selTextBack, 2);
    EXPECT_EQ(s.tabColumns[2], 12);
    EXPECT_EQ(s.defaultTab, 8);
}

TEST(TabColumns, Rule) {
    auto cols = TSM_Settings::parseTabColumns("5 9 13");
    EXPECT_EQ(cols[0], 4);
    EXPECT_EQ(cols[2], 12);
    EXPECT_EQ(cols[3], -1);
    auto message = [](const std::string& text) {
        try {
            TSM_Settings::parseTabColumns(text);
        } catch (const ECodeMemo& e) {
            return std::string(e.what());
        }
        return std::string("no error");
    };
    EXPECT_EQ(message("5 5"), "Tab columns must be in order and unique");
    EXPECT_EQ(message("9 5"), "Tab columns must be in order and unique");
    EXPECT_EQ(message("1"), "Tab column must be > 1");
    EXPECT_EQ(message("5 x"), "Tab stop column value expected");
    EXPECT_EQ(message("99999999999999999999"), "no error");
    std::string many;
    for (int i = 2; i < 35; ++i)
        many += std::to_string(i) + " ";
    EXPECT_EQ(message(many), "Too many tab stops - maximum of 32");
    TSM_Settings s;
    s.setTabColumnsText("5 9");
    EXPECT_EQ(s.tabColumnsText(), "5 9");
}

TEST(SettingsRecord, GutterFontNotifiesEveryEditorDespiteFailures) {
    TSM_Settings s;
    int a = 0, b = 0, heard = 0;
    s.attach(&a, [](TSM_Settings&) { throw std::runtime_error("editor failed"); });
    s.attach(&b, [&](TSM_Settings&) { ++heard; });
    s.attach(&b, [&](TSM_Settings&) { ++heard; });
    EXPECT_EQ(s.attachedCount(), 2u);
    s.setGutterFont(GutterFont{});
    EXPECT_EQ(heard, 1);
    s.detach(&a);
    EXPECT_EQ(s.attachedCount(), 1u);
}

TEST(SettingsStore, SaveAndLoad) {
    TempRegistry r;
    TCodeMemoParser a("HtmlParser");
    a.compile("%%language name = 'HTML' %%effects 4 [fsBold] clRed clWhite");
    a.registryKey = kKey;
    a.settings().keys.addBinding(editor::vkF1, 0, 41);
    a.saveToRegistry(*r.reg);
    auto keys = r.reg->readValue(Hive::CurrentUser, kKey, "Key Assignments - HTML");
    ASSERT_TRUE(keys);
    EXPECT_EQ(keys->type, platform::regBinary);
    EXPECT_EQ(keys->data.substr(0, 9), std::string("\x08") + "Corvix6:");

    TCodeMemoParser b("HtmlParser");
    b.compile("%%language name = 'HTML'");
    b.registryKey = kKey;
    int applied = 0;
    b.onSettingsChanged = [&](TCodeMemoParser&) { ++applied; };
    b.loadFromRegistry(*r.reg);
    EXPECT_EQ(applied, 1);
    EXPECT_EQ(b.settings().effects[4].foreground, 255);
    EXPECT_EQ(b.settings().keys, a.settings().keys);
}

TEST(SettingsStore, DisabledInterfaceAndBadValues) {
    TempRegistry r;
    TCodeMemoParser p("SqlParser");
    p.compile("%%language name = 'SQL'");
    try {
        p.saveToRegistry(*r.reg);
        FAIL();
    } catch (const ECodeMemo& e) {
        EXPECT_STREQ(e.what(), "Registry interface disabled in: SqlParser");
    }
    p.registryKey = kKey;
    p.useRegistry = false;
    EXPECT_THROW(p.loadFromRegistry(*r.reg), ECodeMemo);
    p.useRegistry = true;
    // Nothing stored: nothing changes.
    p.loadFromRegistry(*r.reg);

    r.reg->writeValue(Hive::CurrentUser, kKey, "Highlighting - SQL", RegValue::string("garbage"));
    try {
        p.loadFromRegistry(*r.reg);
        FAIL();
    } catch (const ECodeMemo& e) {
        EXPECT_EQ(std::string(e.what()), std::string("Invalid data in registry entry \"") + kKey +
                                             "\\Highlighting - SQL\"");
    }
    // A key value without the marker leaves the map alone; a damaged one leaves it whole.
    r.reg->writeValue(Hive::CurrentUser, kKey, "Highlighting - SQL",
                      RegValue::string("Corvix6:OPT#1#5"));
    r.reg->writeValue(Hive::CurrentUser, kKey, "Key Assignments - SQL", RegValue::binary("xyz"));
    p.loadFromRegistry(*r.reg);
    EXPECT_EQ(p.settings().options, 5);
    EXPECT_EQ(p.settings().keys, editor::TKeyboardActionContoller::globalDefault());
    r.reg->writeValue(Hive::CurrentUser, kKey, "Key Assignments - SQL",
                      RegValue::binary(std::string("\x08") + std::string("Corvix6:\x05\0\0", 11)));
    EXPECT_THROW(p.loadFromRegistry(*r.reg), ECodeMemo);
    EXPECT_EQ(p.settings().keys, editor::TKeyboardActionContoller::globalDefault());
}

TEST(SettingsStore, LineNumbersAreOnUnlessTheUsersStoredSettingsTurnedThemOff) {
    TempRegistry r;
    TCodeMemoParser p("SqlParser");
    p.compile("%%language name = 'SQL'");
    p.registryKey = kKey;
    p.loadFromRegistry(*r.reg); // nothing stored: the default stays
    EXPECT_TRUE(p.settings().options & editor::smoLineNumbers);

    // The user turned them off and saved: that choice is kept at the next start.
    p.settings().options &= ~std::int32_t(editor::smoLineNumbers);
    p.saveToRegistry(*r.reg);
    TCodeMemoParser q("SqlParser");
    q.compile("%%language name = 'SQL'");
    q.registryKey = kKey;
    q.loadFromRegistry(*r.reg);
    EXPECT_FALSE(q.settings().options & editor::smoLineNumbers);
    EXPECT_EQ(q.settings().options, p.settings().options);
}
