// The key map and the template and auto-replace stores.
#include "core/editor/AutoReplace.h"
#include "core/editor/CodeMemoError.h"
#include "core/editor/CodeTemplates.h"
#include "core/editor/KeyboardActionContoller.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace morvane::editor;

namespace {

struct Keys {
    TKeyboardActionContoller map;
    Keys() { map.assign(TKeyboardActionContoller::globalDefault()); }
    // The command run by a key, -1 for none, -2 while a prefix is pending.
    int press(std::uint16_t key, unsigned shift = 0, bool* extend = nullptr) {
        std::int32_t command = -1;
        bool ext = false;
        auto r = map.processKey(key, shift, command, ext);
        if (extend) *extend = ext;
        if (r == TKeyStore::Result::Prefix) return -2;
        return r == TKeyStore::Result::Command ? command : -1;
    }
};

} // namespace

TEST(KeyMap, TwoKeySequencesIgnoreSecondModifiers) {
    Keys k;
    EXPECT_EQ(k.press('K', ssCtrl), -2);
    EXPECT_EQ(k.press('I', ssCtrl), 17);
    EXPECT_EQ(k.press('K', ssCtrl), -2);
    EXPECT_EQ(k.press('I'), 17);
    EXPECT_EQ(k.press('Q', ssCtrl), -2);
    EXPECT_EQ(k.press('7'), 37);
}

TEST(KeyMap, UnboundSecondKeyDropsThePrefix) {
    Keys k;
    EXPECT_EQ(k.press('K', ssCtrl), -2);
    EXPECT_EQ(k.press('X'), -1);
    // Nothing is pending any more: Ctrl+X is cut again.
    EXPECT_EQ(k.press('X', ssCtrl), 12);
}

TEST(KeyMap, ShiftExtendsSelectionOnNavigationKeysOnly) {
    Keys k;
    bool extend = false;
    EXPECT_EQ(k.press(vkEnd, ssShift, &extend), 3);
    EXPECT_TRUE(extend);
    EXPECT_EQ(k.press(vkLeft, ssShift | ssCtrl, &extend), 8);
    EXPECT_TRUE(extend);
    // Shift is part of the shortcut elsewhere: Shift+Ctrl+Z is redo.
    EXPECT_EQ(k.press('Z', ssShift | ssCtrl, &extend), 42);
    EXPECT_EQ(k.press('Z', ssCtrl, &extend), 41);
    EXPECT_FALSE(extend);
}

TEST(KeyMap, ConflictingBindingsFail) {
    Keys k;
    try {
        k.map.addBinding(scCtrl | 'K', 0, 19);
        FAIL();
    } catch (const EAmbigiousKeyPair& e) {
        EXPECT_STREQ(e.what(), "Duplicate key sequence definition for\n\"Indent selected block\" "
                               "and \"Toggle insert/overwrite mode\"");
    }
    try {
        k.map.addBinding(scCtrl | 'K', scCtrl | 'I', 44);
        FAIL();
    } catch (const EAmbigiousKeyPair& e) {
        EXPECT_STREQ(e.what(),
                     "Duplicate key sequence definition for\n\"Indent selected block\" and "
                     "\"Print selection\"");
    }
    // A two-key binding under a one-key binding.
    EXPECT_THROW(k.map.addBinding(scCtrl | 'X', 'A', 1), EAmbigiousKeyPair);
}

TEST(KeyMap, FindKeysListsEveryBindingOfACommand) {
    Keys k;
    k.map.addBinding(vkF1, 0, 17);
    std::uint16_t first, second;
    ASSERT_TRUE(k.map.findKeys(17, first, second));
    std::vector<std::pair<int, int>> found{{first, second}};
    while (k.map.findNextKeys(17, first, second))
        found.emplace_back(first, second);
    EXPECT_EQ(found.size(), 2u);
    EXPECT_NE(std::find(found.begin(), found.end(), std::pair<int, int>(vkF1, 0)), found.end());
    EXPECT_NE(std::find(found.begin(), found.end(), std::pair<int, int>(scCtrl | 'K', 'I')),
              found.end());
    EXPECT_FALSE(k.map.findKeys(99, first, second));
    EXPECT_EQ(first, 0);
}

TEST(KeyMap, StreamRoundTripAndTruncation) {
    const auto& def = TKeyboardActionContoller::globalDefault();
    std::string bytes = def.saveToString();
    TKeyboardActionContoller loaded;
    BinaryReader in(bytes);
    loaded.loadFromStream(in);
    EXPECT_EQ(loaded, def);
    EXPECT_EQ(loaded.commandName(42), "Redo");
    // Cut short: the read error, with the bindings read so far kept.
    std::string cut = bytes.substr(0, bytes.size() - 10);
    BinaryReader short_(cut);
    EXPECT_THROW(loaded.loadFromStream(short_), EStreamError);
    EXPECT_EQ(loaded.bindings().size(), def.bindings().size() - 2);
    // A count far beyond the data fails without allocating for it.
    std::string huge("\xff\xff\xff\x7f", 4);
    BinaryReader h(huge);
    EXPECT_THROW(loaded.loadFromStream(h), EStreamError);
}

TEST(ShortCuts, TextRoundTrip) {
    for (std::uint16_t sc : {std::uint16_t(scCtrl | 'J'), std::uint16_t(scShift | scCtrl | 'Z'),
                             std::uint16_t(scAlt | (vkF1 + 11)), std::uint16_t(vkBack),
                             std::uint16_t(scCtrl | vkPrior)})
        EXPECT_EQ(textToShortCut(shortCutToText(sc)), sc) << shortCutToText(sc);
    EXPECT_EQ(shortCutToText(scCtrl | 'J'), "Ctrl+J");
    // Punctuation and keypad keys keep their codes through their texts.
    for (std::uint16_t code : {186, 187, 188, 189, 190, 191, 192, 219, 220, 221, 222, 96, 105, 107})
        EXPECT_EQ(textToShortCut(shortCutToText(std::uint16_t(scCtrl | code))), scCtrl | code)
            << shortCutToText(std::uint16_t(scCtrl | code));
    EXPECT_EQ(textToShortCut("Ctrl+]"), scCtrl | 221);
    EXPECT_EQ(textToShortCut("Shift+Ctrl+Num +"), scShift | scCtrl | 107);
    EXPECT_EQ(textToShortCut("Bogus+J"), 0);
    EXPECT_EQ(keyCodeOfName("PageDown"), 34);
    EXPECT_EQ(keyCodeOfName("f13"), 0);
}

TEST(AutoReplace, EndKeyTextParsing) {
    TAutoReplace a;
    EXPECT_EQ(a.endKeyText(), ";,:.=()[]\\{Return}\\{Tab}\\{Space}");
    // ';' and ':' are different keys (Shift); each key listed once.
    EXPECT_EQ(a.endKeys().size(), 12u);
    a.setEndKeyText("\\n\\r\\s\\t\\{page-up}\\{nokey}\\;");
    EXPECT_EQ(a.endKeys(), (std::vector<std::uint16_t>{13, 32, 9, 33, 0, 186}));
    EXPECT_THROW(a.setEndKeyText("\\{Return"), ECodeMemo);
    EXPECT_EQ(a.endKeys().size(), 6u);
    EXPECT_TRUE(a.isTrigger(13, 0));
    EXPECT_FALSE(a.isTrigger('A', 0));
    a.setEndKeyText("");
    EXPECT_FALSE(a.isTrigger(13, 0));
}

TEST(AutoReplace, StreamRoundTripAndLookupBackwards) {
    TAutoReplace a;
    a.addReplacement("Teh", "the");
    a.addReplacement("recieve", "receive");
    a.addReplacement("teh", "THE");
    a.setEndKeyText(" ;");
    TAutoReplace b;
    b.loadFromString(a.saveToString());
    EXPECT_EQ(b.entries(), a.entries());
    EXPECT_EQ(b.endKeyText(), " ;");
    EXPECT_EQ(b.findExpansion("TEH"), "THE");
    auto m = b.nameBefore("I recieve", 9);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->first, "recieve");
    EXPECT_EQ(m->second, 7u);
    EXPECT_FALSE(b.nameBefore("recieved", 8));
}

TEST(Templates, StreamFormAndDescriptions) {
    TCodeTemplates t;
    t.addTemplate("For", "loop", "for (|;;)\r\n{\n}");
    t.addTemplate("x", "", "");
    EXPECT_EQ(t.findExpansion("for"), "for (|;;)\r{\r}");
    std::string bytes = t.saveToString();
    // Entry count, then "for": name, description, expansion.
    EXPECT_EQ(bytes.substr(0, 8), std::string("\x02\0\0\0\x03"
                                              "for\x04",
                                              10)
                                      .substr(0, 8));
    TCodeTemplates u;
    u.loadFromString(bytes);
    EXPECT_EQ(u.entries(), t.entries());
    EXPECT_EQ(u.entry("x")->description, std::nullopt);
    EXPECT_EQ(u.hotkey, scCtrl | 'J');
    EXPECT_EQ(u.enabled, 1);
    TAutoReplace other;
    EXPECT_THROW(u.assign(other), ECodeMemo);
    try {
        u.assign(other);
    } catch (const ECodeMemo& e) {
        EXPECT_STREQ(e.what(), "Cannot assign TAutoReplace to TCodeTemplates");
    }
    EXPECT_THROW(u.loadFromString(bytes.substr(0, bytes.size() - 3)), EStreamError);
}

TEST(KeyMap, HugeStoredMapLoadsQuickly) {
    // A damaged or hostile value may hold very many bindings and names: loading stays linear.
    std::string bytes;
    BinaryWriter out(bytes);
    const std::uint32_t n = 60000;
    out.u32(n);
    for (std::uint32_t i = 0; i < n; ++i) {
        out.i32(std::int32_t(i));
        out.str8("c");
    }
    out.u32(n);
    for (std::uint32_t i = 0; i < n; ++i) {
        out.u16(std::uint16_t(i % 60000 + 1));
        out.u16(0);
        out.i32(std::int32_t(i));
    }
    TKeyboardActionContoller map;
    BinaryReader in(bytes);
    auto start = std::chrono::steady_clock::now();
    map.loadFromStream(in);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(map.bindings().size(), n);
    EXPECT_EQ(map.commandName(59999), "c");
}
