// Numbered and named bookmarks, code templates and auto-replace in the editor core, and the
// stream forms of their stores.

#include "EditorTestUtil.h"

#include "core/editor/AutoReplace.h"
#include "core/editor/CodeMemoError.h"
#include "core/editor/CodeTemplates.h"
#include "core/editor/KeyStore.h"

#include <random>

using namespace morvane::editor;
using namespace morvane::editor::test;

namespace {

constexpr std::uint16_t kCtrlJ = kShortcutCtrl | 'J';

// A key as the Qt control hands it on: KeyDown first, then the character unless consumed.
void Press(TCustomCodeMemo& m, std::uint16_t shortcut, char typed) {
    if (!m.KeyDown(shortcut) && typed) m.KeyPress(typed);
}

void Type(TCustomCodeMemo& m, std::string_view text) {
    for (char c : text) {
        std::uint16_t key = keyOfChar(static_cast<unsigned char>(c));
        std::uint16_t shortcut = static_cast<std::uint16_t>(key & 0xFF);
        if (key & 256) shortcut |= kShortcutShift;
        Press(m, shortcut, c);
    }
}

std::uint16_t Marks(const TCustomCodeMemo& m, RecIndex rec) {
    return m.Store().Rec(rec).mark & kBookmarkBits;
}

} // namespace

// --- numbered bookmarks ---

TEST(NumberedBookmarks, SetTwiceClearsAndAnotherLineMovesOrReplaces) {
    TCustomCodeMemo m;
    Load(m, "alpha\nbeta\ngamma\n");
    std::vector<int> set;
    m.OnBookmarkSet = [&](TCustomCodeMemo*, int i) { set.push_back(i); };
    m.SetSelection(7, 7); // "beta"
    m.SetBookmark(3);
    EXPECT_EQ(m.BookmarkRecord(3), 1);
    m.SetBookmark(3); // same line: cleared
    EXPECT_EQ(m.BookmarkRecord(3), -1);
    EXPECT_EQ(Marks(m, 1), 0);
    m.SetBookmark(3);
    m.SetSelection(13, 13); // "gamma"
    m.SetBookmark(3);       // moves
    EXPECT_EQ(m.BookmarkRecord(3), 2);
    EXPECT_EQ(Marks(m, 1), 0);
    m.SetBookmark(2);
    m.SetBookmark(1); // a line holds one numbered bookmark
    EXPECT_EQ(m.BookmarkRecord(1), 2);
    EXPECT_EQ(m.BookmarkRecord(2), -1);
    EXPECT_EQ(m.BookmarkRecord(3), -1);
    EXPECT_EQ(set, (std::vector<int>{3, 3, 3, 2, 1}));
    EXPECT_THROW(m.SetBookmark(10), ECodeMemo);
    EXPECT_THROW(m.GotoBookmark(-1), ECodeMemo);
}

TEST(NumberedBookmarks, GotoKeepsTheColumnWithinTheLine) {
    TCustomCodeMemo m;
    Load(m, "first line\n\nsecond line here\nend");
    m.SetBookmarkAt(0, 3, 8); // "second |line"
    m.SetBookmarkAt(1, 2, 5); // the empty line
    m.SetSelection(0, 0);
    m.GotoBookmark(0);
    EXPECT_EQ(m.Caret(), 12 + 7);
    EXPECT_EQ(m.Anchor(), m.Caret());
    m.GotoBookmark(1);
    EXPECT_EQ(m.Caret(), 11) << "an empty line: its start, not one before it";
    // The line becomes shorter than the column: the caret goes to its end.
    m.SetSelection(12 + 3, 12 + 16);
    m.ReplaceSel("");
    m.SetSelection(0, 0);
    m.GotoBookmark(0);
    EXPECT_EQ(m.Caret(), 12 + 3);
    m.GotoBookmark(5); // never set: nothing happens
    EXPECT_EQ(m.Caret(), 12 + 3);
    // The empty line after the last line break has no record; an empty text has none at all.
    Load(m, "a\n");
    m.SetSelection(2, 2);
    m.SetBookmark(6);
    EXPECT_EQ(m.BookmarkRecord(6), -1);
    Load(m, "");
    m.SetBookmark(6);
    m.GotoBookmark(6);
    EXPECT_EQ(m.BookmarkRecord(6), -1);
    EXPECT_EQ(m.Caret(), 0);
}

TEST(NumberedBookmarks, FollowTheirLineAndLandOnTheFirstPieceOfAWrappedLine) {
    TCustomCodeMemo m;
    m.SetClientSize(800, 400);
    Load(m, "top\n" + std::string(300, 'x') + "\nbottom\n");
    m.SetWrapAtColumn(40);
    m.SetOptions(m.Options() | smoWordWrap);
    ASSERT_GT(m.LineCount(), 4);
    m.SetSelection(4 + 100, 4 + 100); // in a continuation piece
    m.SetBookmark(4);
    EXPECT_EQ(m.BookmarkRecord(4), 1);
    m.SetSelection(0, 0);
    m.ReplaceSel("new\nlines\n");
    EXPECT_EQ(m.BookmarkRecord(4), 3);
    m.GotoBookmark(4);
    EXPECT_EQ(m.Caret(), 10 + 4 + 100);
    // Joining the line to the one above takes the bookmark with it.
    m.SetSelection(10 + 3, 10 + 4 + 300);
    m.ReplaceSel("");
    EXPECT_EQ(m.BookmarkRecord(4), -1);
}

TEST(NumberedBookmarks, CommandsFromTheKeyMap) {
    TCustomCodeMemo m;
    Load(m, "a\nb\nc\nd\n");
    m.SetSelection(4, 4);
    Press(m, kShortcutCtrl | 'K', 0);
    Press(m, '3', '3');
    EXPECT_EQ(m.Text(), "a\rb\rc\rd\r") << "the digit finishes the sequence, it is not typed";
    EXPECT_EQ(m.BookmarkRecord(3), 2);
    m.SetSelection(0, 0);
    Press(m, kShortcutCtrl | 'Q', 0);
    Press(m, '3', '3');
    EXPECT_EQ(m.Caret(), 4);
}

// --- named bookmarks ---

TEST(CustomBookmarks, FollowInsertionsAndDeletionsAndAreFreedWithTheirText) {
    TCustomCodeMemo m;
    Load(m, "0123456789");
    std::vector<std::string> freed;
    m.OnCustomBookmarkFree = [&](TCustomCodeMemo*, const std::string& n) { freed.push_back(n); };
    TCustomBookmarks& b = m.CustomBookmarks();
    b.add("start", 2);
    b.add("inside", 5);
    b.add("end", 8);
    b.add("zero", 0);
    EXPECT_EQ(b.names(), (std::vector<std::string>{"end", "inside", "start", "zero"}));
    EXPECT_EQ(b.entries().front().name, "zero");
    m.SetSelection(2, 2);
    m.ReplaceSel("ab"); // at "start": it moves
    EXPECT_EQ(b.find("start"), 4);
    EXPECT_EQ(b.find("zero"), 0);
    m.SetSelection(4,
                   7); // from "start" over "inside" (7)? no: inside is at 7, the range ends there
    m.ReplaceSel("");
    EXPECT_EQ(b.find("start"), 4);
    EXPECT_EQ(b.find("inside"), 4);
    m.SetSelection(3, 6);
    m.ReplaceSel("");
    EXPECT_FALSE(b.find("start"));
    EXPECT_FALSE(b.find("inside"));
    EXPECT_EQ(b.find("end"), 4);
    EXPECT_EQ(freed, (std::vector<std::string>{"start", "inside"}));
    b.add("end", 1); // a name is unique: adding it again moves it
    EXPECT_EQ(b.entries().size(), 2u);
    m.SelectAll();
    m.ReplaceSel("");
    EXPECT_TRUE(b.entries().empty());
    EXPECT_EQ(freed.size(), 4u);
}

// --- code templates ---

struct TemplateMemo : ::testing::Test {
    TCustomCodeMemo m;
    TCodeTemplates t;
    void SetUp() override { m.SetCodeTemplates(&t); }
};

TEST_F(TemplateMemo, ExpansionIndentsContinuationLinesAndPlacesTheCaretAtTheMarker) {
    t.addTemplate("blk", "block", "begin\n  |\nend");
    Load(m, "    blk");
    m.SetSelection(7, 7);
    Press(m, kCtrlJ, 0);
    EXPECT_EQ(m.Text(), "    begin\r      \r    end");
    EXPECT_EQ(m.Caret(), 4 + 6 + 6);
    EXPECT_EQ(m.Anchor(), m.Caret());
    m.Undo(); // one step
    EXPECT_EQ(m.Text(), "    blk");
}

TEST_F(TemplateMemo, FlagsHandlerAndMatching) {
    t.addTemplate("If", "", "if (|) {}");
    t.addTemplate("elif", "", "else if");
    Load(m, "x = IF\nelif");
    m.SetSelection(6, 6);
    std::string seenName;
    m.OnTemplateEvent = [&](TCustomCodeMemo*, const std::string& name, std::string& text) {
        seenName = name;
        if (name == "elif") text = "else\nif";
    };
    Press(m, kCtrlJ, 0);
    EXPECT_EQ(seenName, "if") << "names match whatever their case";
    EXPECT_EQ(m.Text(), "x = if () {}\relif");
    EXPECT_EQ(m.Caret(), 8);
    // The longest name ending at the caret wins; the marker flag off leaves "|" alone and the
    // caret after the text; indenting off keeps the line start.
    t.caretMarker = false;
    t.indentExpansion = false;
    m.SetSelection(m.TextLength(), m.TextLength());
    Press(m, kCtrlJ, 0);
    EXPECT_EQ(m.Text(), "x = if () {}\relse\rif");
    EXPECT_EQ(m.Caret(), m.TextLength());
    // Not the hotkey, read-only, or no name and no list: the key goes on.
    EXPECT_EQ(m.TemplateKey('K', ssCtrl), TKeyHookResult::NotHandled);
    m.SetReadOnly(true);
    EXPECT_EQ(m.TemplateKey('J', ssCtrl), TKeyHookResult::NotHandled);
    m.SetReadOnly(false);
    t.swallowKey = false;
    t.addTemplate("zz", "", "Z");
    m.ReplaceSel(" zz");
    EXPECT_EQ(m.TemplateKey('J', ssCtrl), TKeyHookResult::Handled);
    EXPECT_EQ(m.Text(), "x = if () {}\relse\rif Z");
}

TEST_F(TemplateMemo, WithoutAMatchTheListGetsThePartialWordAndAChoiceExpandsIt) {
    struct Popup : TCustomCodeMemo {
        std::vector<TTemplatePopup> shown;
        bool ShowTemplatePopup(const TTemplatePopup& p) override {
            shown.push_back(p);
            return true;
        }
    } p;
    p.SetCodeTemplates(&t);
    t.addTemplate("while", "loop", "while (|)");
    t.addTemplate("forin", "for in", "for (x in |)");
    Load(p, "  Fo");
    p.SetSelection(4, 4);
    EXPECT_EQ(p.TemplateKey('J', ssCtrl), TKeyHookResult::Consumed);
    ASSERT_EQ(p.shown.size(), 1u);
    EXPECT_EQ(p.shown[0].partial, "fo");
    ASSERT_EQ(p.shown[0].items.size(), 2u);
    EXPECT_EQ(p.shown[0].items[0].name, "forin");
    EXPECT_EQ(p.shown[0].items[0].description, "for in");
    EXPECT_EQ(p.shown[0].preselected, 0);
    EXPECT_EQ(p.SelText(), "Fo");
    p.ExpandChosenTemplate("forin", "fo");
    EXPECT_EQ(p.Text(), "  for (x in )");
    EXPECT_EQ(p.Caret(), 12);
    // A name without the partial word goes after it.
    Load(p, "wh");
    p.SetSelection(2, 2);
    p.TemplateKey('J', ssCtrl);
    EXPECT_EQ(p.shown.back().preselected, 1);
    p.ExpandChosenTemplate("forin", "wh");
    EXPECT_EQ(p.Text(), "whfor (x in )");
    // The core alone shows no list: the key goes on and the selection is given back.
    Load(m, "abc");
    m.SetSelection(3, 3);
    EXPECT_EQ(m.TemplateKey('J', ssCtrl), TKeyHookResult::NotHandled);
    EXPECT_EQ(m.SelLength(), 0);
}

TEST(TemplateSearch, TypedPrefixSelectsAndRestartsWhenNothingMatches) {
    TTemplateSearch s({"alpha", "beta", "begin", "case"});
    EXPECT_EQ(s.Type('B'), 1);
    EXPECT_EQ(s.Type('e'), 1);
    EXPECT_EQ(s.Type('g'), 2);
    EXPECT_EQ(s.Type('c'), 3) << "no \"begc\": the prefix restarts with \"c\"";
    EXPECT_EQ(s.Type('x'), -1);
}

// --- auto-replace ---

struct AutoReplaceMemo : ::testing::Test {
    TCustomCodeMemo m;
    TAutoReplace a;
    void SetUp() override {
        a.addReplacement("teh", "the");
        a.addReplacement("xx", "ks");
        m.SetAutoReplace(&a);
    }
};

TEST_F(AutoReplaceMemo, AMisspellingAndAnEndKeyAreReplacedAndTheKeyTypedUnlessSwallowed) {
    Type(m, "see teh  Teh(");
    EXPECT_EQ(m.Text(), "see the  the(") << "Shift+9 is an end key too";
    a.swallowKey = true;
    Type(m, "teh;");
    EXPECT_EQ(m.Text(), "see the  the(the");
    a.swallowKey = false;
    m.Undo();
    EXPECT_EQ(m.Text(), "see the  the(teh") << "a replacement is one undo step";
}

TEST_F(AutoReplaceMemo, OnlyWholeWordsAndNotWhenVetoed) {
    a.swallowKey = false;
    Type(m, "foxx ");
    EXPECT_EQ(m.Text(), "foxx ") << "the end of a longer word is not replaced";
    Load(m, "tehx");
    m.SetSelection(3, 3);
    Type(m, " ");
    EXPECT_EQ(m.Text(), "teh x") << "a word character after the match";
    Load(m, "");
    bool vetoed = false;
    m.OnAutoReplace = [&](TCustomCodeMemo*, TEdStream& s, const std::string& item,
                          const std::string& with, bool& can) {
        EXPECT_EQ(s.GetPos(), 0);
        EXPECT_EQ(item, "teh");
        EXPECT_EQ(with, "the");
        can = false;
        vetoed = true;
    };
    a.swallowKey = true;
    Type(m, "teh ");
    EXPECT_TRUE(vetoed);
    EXPECT_EQ(m.Text(), "teh ") << "a refused replacement keeps the key it was typed with";
    // The second key of a sequence is the sequence's, even when it is an end key.
    m.OnAutoReplace = nullptr;
    a.setEndKeyText("3");
    Load(m, "teh\n");
    m.SetSelection(3, 3);
    Press(m, kShortcutCtrl | 'K', 0);
    Press(m, '3', '3');
    EXPECT_EQ(m.Text(), "teh\r");
    EXPECT_EQ(m.BookmarkRecord(3), 0);
    // Without an end-key text nothing triggers.
    m.OnAutoReplace = nullptr;
    a.setEndKeyText("");
    Load(m, "");
    Type(m, "teh ");
    EXPECT_EQ(m.Text(), "teh ");
}

// --- stream forms ---

TEST(AidStreams, NamesUpTo255BytesRoundTripAndLongerOnesAreRefused) {
    TCodeTemplates t;
    std::string name255(255, 'n'), desc255(255, 'd');
    t.addTemplate(name255, desc255, std::string(1 << 20, 'e'));
    t.addTemplate("nodesc", "", "x");
    TCodeTemplates u;
    u.loadFromString(t.saveToString());
    EXPECT_EQ(u.entries(), t.entries());
    EXPECT_FALSE(u.entry("nodesc")->description) << "length 0: no description";
    EXPECT_THROW(t.addTemplate(std::string(256, 'n'), "", "x"), ECodeMemo);
    EXPECT_THROW(t.addTemplate("ok", std::string(256, 'd'), "x"), ECodeMemo);
    EXPECT_EQ(t.entries().size(), 2u);
    TAutoReplace a;
    EXPECT_THROW(a.setEndKeyText(std::string(256, ';')), ECodeMemo);
    EXPECT_EQ(a.endKeyText(), TAutoReplace::kDefaultEndKeys);
}

TEST(AidStreams, DamagedStreamsRaiseAndLeaveTheStoreAsItWas) {
    TAutoReplace a;
    a.addReplacement("keep", "me");
    const auto before = a.entries();
    std::string good;
    {
        TAutoReplace src;
        src.addReplacement("one", "1");
        src.addReplacement("two", "2");
        good = src.saveToString();
    }
    std::vector<std::string> bad = {"", "\x01", std::string("\x00\x00\x00\x80", 4) + "abc"};
    for (std::size_t cut = 1; cut < good.size(); ++cut)
        bad.push_back(good.substr(0, cut));
    std::mt19937 rng(7);
    for (int i = 0; i < 200; ++i) {
        std::string noise(rng() % 64, '\0');
        for (char& c : noise)
            c = static_cast<char>(rng());
        bad.push_back(noise);
    }
    std::string badKeys = good.substr(0, good.size() - 1 - good.back());
    badKeys += std::string("\x03\\{x", 4);
    bad.push_back(badKeys);
    for (const std::string& bytes : bad) {
        try {
            a.loadFromString(bytes);
            // Some noise is a well-formed stream; then it was taken whole.
            a.reset();
            a.addReplacement("keep", "me");
        } catch (const EStreamError&) {
        } catch (const ECodeMemo&) {
        }
        ASSERT_EQ(a.entries(), before);
        ASSERT_EQ(a.endKeyText(), TAutoReplace::kDefaultEndKeys);
    }
    a.loadFromString(good);
    EXPECT_EQ(a.entries().size(), 2u);
}

TEST_F(TemplateMemo, AMegabyteExpansionGoesInWholeWithEveryLineIndented) {
    std::string big;
    for (int i = 0; i < 10000; ++i)
        big += std::string(99, char('a' + i % 26)) + "\n";
    t.addTemplate("big", "", big);
    Load(m, "  big");
    m.SetSelection(5, 5);
    Press(m, kCtrlJ, 0);
    EXPECT_EQ(m.TextLength(), 2 + 10000 * 100 + 10000 * 2);
    EXPECT_EQ(m.Store().Text(1).substr(0, 3), "  b");
    CheckChain(m);
    m.Undo();
    EXPECT_EQ(m.Text(), "  big");
}
