#include "core/app/Weblinks.h"
#include "core/app/AppRegistry.h"
#include "core/highlight/BuiltinHighlighters.h"
#include "core/highlight/HighlightedMemo.h"
#include "core/platform/FakeUi.h"
#include "support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace morvane::app;
using morvane::platform::Hive;
using morvane::platform::Registry;
using morvane::platform::RegValue;
using morvane::testing::TempDir;
using ::testing::ElementsAre;

namespace {

TEST(WeblinkStore, RoundTripInMenuOrderAndAGapDropsTheRest) {
    TempDir dir;
    Registry reg(dir.path());
    ASSERT_TRUE(installDefaultWeblinks(reg, "/data/morvane"));
    auto links = loadWeblinks(reg);
    ASSERT_EQ(links.size(), 2u);
    EXPECT_EQ(links[0].caption, "HTML on-line help");
    EXPECT_EQ(links[0].kind, wkLookup);
    EXPECT_EQ(links[0].lookupFile, "/data/morvane/Weblinks/HTML weblinks.txt");
    EXPECT_THAT(links[0].languages, ElementsAre("HTML"));
    EXPECT_EQ(links[1].shortcut, 113);

    TWeblink search{-1, "Search",        wkStatic,     "https://s.example/?q=%WORD%",
                    "", {"Perl", "C++"}, 0x4000 | 'K', ""};
    std::vector<TWeblink> edited = {search, links[1]};
    ASSERT_TRUE(saveWeblinks(reg, edited));
    auto back = loadWeblinks(reg);
    ASSERT_EQ(back.size(), 2u); // Weblinks\2 and beyond are gone, not left behind
    edited[0].number = 0;
    edited[1].number = 1;
    EXPECT_EQ(back, edited);
    const std::string k0 = std::string(kWeblinksKey) + "\\0";
    EXPECT_EQ(reg.readValue(Hive::CurrentUser, k0, "Languages")->data, "Perl\r\nC++\r\n");

    // Subkeys 0 and 2: two subkeys, so numbers 0 and 1 are read and 2 is never reached.
    reg.deleteKey(Hive::CurrentUser, std::string(kWeblinksKey) + "\\1");
    reg.writeValue(Hive::CurrentUser, std::string(kWeblinksKey) + "\\2", "",
                   RegValue::string("late"));
    auto gap = loadWeblinks(reg);
    ASSERT_EQ(gap.size(), 1u);
    EXPECT_EQ(gap[0].caption, "Search");

    // Without a valid "Kind" the weblink is listed but says why it cannot run.
    reg.writeValue(Hive::CurrentUser, k0, "Kind", RegValue::dword(7));
    auto bad = loadWeblink(reg, 0);
    ASSERT_TRUE(bad);
    EXPECT_FALSE(bad->problem.empty());
    EXPECT_EQ(resolveWeblink(*bad, nullptr).error, bad->problem);
}

TEST(WeblinkLookupFile, SectionsByTokenClass) {
    const std::string file = "TABLE=http://outside/\r\n"
                             "[1-3]\r\n"
                             "table=http://one/table\r\n"
                             "no equals sign here\r\n"
                             "P = http://one/p \r\n"
                             "[4]\r\n"
                             "TABLE=http://four/table\r\n"
                             "B=http://four/b\r\n";
    EXPECT_EQ(lookupWord(file, "Table", 2).address, "http://one/table");
    EXPECT_EQ(lookupWord(file, "p", 1).address, "http://one/p");
    EXPECT_EQ(lookupWord(file, "table", 4).address, "http://four/table");
    EXPECT_FALSE(lookupWord(file, "B", 3).address); // only in section 4
    EXPECT_FALSE(lookupWord(file, "TABLE", 9).address);
    EXPECT_FALSE(lookupWord(file, "no equals sign here", 2).address);
    // No sections at all: nothing is in a section.
    EXPECT_FALSE(lookupWord("TABLE=http://x/\n", "TABLE", 0).address);
    // A reversed range holds nothing; a header that is no number says so, with its line.
    EXPECT_FALSE(lookupWord("[5-2]\nA=http://x/\n", "A", 3).address);
    auto letters = lookupWord("[1]\nA=http://a/\n[B-A]\nA=http://x/\n", "A", 2);
    EXPECT_FALSE(letters.address);
    EXPECT_EQ(letters.error,
              "Line 3: the section header \"[B-A]\" is not a number or a range of numbers.");
    // Found before the bad header: the answer stands.
    EXPECT_EQ(lookupWord("[1]\nA=http://a/\n[B-A]\n", "a", 1).address, "http://a/");
    EXPECT_EQ(lookupWord("[0]\nA=\n[-1]\nA=http://neg/\n", "a", -1).address, "http://neg/");
}

TEST(WeblinkAddress, WordIsPercentEncodedOnlySafeSchemesOpen) {
    EXPECT_EQ(substituteWord("http://x/?q=%word%&again=%WORD%", "TABLE"),
              "http://x/?q=TABLE&again=TABLE");
    EXPECT_EQ(substituteWord("http://x/%WORD%", "a&b#c%d e\r\nf/ü"),
              "http://x/a%26b%23c%25d%20e%0D%0Af%2F%C3%BC");
    std::string huge(10000, 'w');
    EXPECT_EQ(substituteWord("http://x/%WORD%", huge), "http://x/" + huge);

    for (const char* ok : {"http://a/", "HTTPS://a/", "ftp://a/", "file:///tmp/x", "mailto:a@b"})
        EXPECT_TRUE(openableAddress(ok)) << ok;
    for (const char* no : {"javascript:alert(1)", "/etc/passwd", "x-scheme:y", "", "http://a/\nb",
                           "sh -c 'rm -rf ~'", "smb://host/share"})
        EXPECT_FALSE(openableAddress(no)) << no;
}

TEST(WeblinkRun, ErrorsAndAddressesForStaticAndLookupLinks) {
    morvane::platform::FakeDialogs dialogs;
    morvane::platform::FakeShell shell;
    TCaretWord word{"table", 2};
    TWeblinkDocument html{"HTML", [&] { return word; }};

    TWeblink fixed{-1, "Home", wkStatic, "https://home.example/", "", {}, 0, ""};
    runWeblink(fixed, nullptr, dialogs, shell); // no word, no languages: no document needed
    TWeblink search{-1, "Find", wkStatic, "https://s.example/?q=%WORD%", "", {}, 0, ""};
    runWeblink(search, &html, dialogs, shell);
    EXPECT_THAT(shell.opened, ElementsAre("https://home.example/", "https://s.example/?q=table"));
    EXPECT_EQ(resolveWeblink(search, nullptr).error, "This weblink requires an open window");

    TWeblink perl{-1, "Perl", wkStatic, "https://perl.example/", "", {"perl"}, 0, ""};
    EXPECT_EQ(resolveWeblink(perl, &html).error,
              "The selected language is not supported by this lookup");
    TWeblinkDocument perlDoc{"Perl", {}};
    EXPECT_EQ(resolveWeblink(perl, &perlDoc).address, "https://perl.example/");

    TWeblink lookup{-1, "HTML", wkLookup, "", "/lookup.txt", {"HTML"}, 112, ""};
    auto files = [](const std::string& path) -> std::optional<std::string> {
        if (path != "/lookup.txt") return std::nullopt;
        return std::string("[1-3]\nTABLE=https://ref.example/table\nEVIL=javascript:alert(1)\n");
    };
    EXPECT_EQ(resolveWeblink(lookup, &html, files).address, "https://ref.example/table");
    word = {"tr", 2};
    EXPECT_EQ(resolveWeblink(lookup, &html, files).error,
              "The selected word (TR) does not have a link.");
    word = {std::string(5000, 'q'), 2};
    EXPECT_EQ(resolveWeblink(lookup, &html, files).error,
              "The selected word (" + std::string(77, 'Q') + "...) does not have a link.");
    lookup.lookupFile = "/missing.txt";
    EXPECT_EQ(resolveWeblink(lookup, &html, files).error, "Error loading file /missing.txt");

    // An address from a lookup file that is not a web address is refused, never run.
    TempDir dir;
    morvane::testing::writeFile(dir / "l.txt", "[2]\nEVIL=javascript:alert(1)\n");
    lookup.lookupFile = (dir / "l.txt").string();
    word = {"evil", 2};
    shell.opened.clear();
    runWeblink(lookup, &html, dialogs, shell);
    EXPECT_TRUE(shell.opened.empty());
    ASSERT_FALSE(dialogs.shown.empty());
    EXPECT_THAT(dialogs.texts().back(), ::testing::HasSubstr("is not opened"));
}

TEST(WeblinkWord, TokenUnderTheCaretOfAHighlightedDocument) {
    auto list =
        morvane::highlight::compileBuiltinHighlighters(MORVANE_SOURCE_RESOURCES, kPerUserRoot);
    morvane::highlight::THighlightedMemo memo;
    memo.SetParser(1, list[0].get());
    ASSERT_EQ(list[0]->languageName(), "HTML");
    memo.Lines().SetText("<html>\n<TABLE border=1>\ntext\n");
    memo.SetSelStart(10); // inside TABLE
    TCaretWord w = wordAtCaret(memo, &memo);
    EXPECT_EQ(w.word, "TABLE");
    EXPECT_GE(w.tokenClass, 0);
    memo.SetSelStart(13); // just after TABLE, on the blank: a blank's own class
    EXPECT_NE(wordAtCaret(memo, &memo).word, "TABLE");
    memo.SetSelStart(28); // the end of "text": the word before the caret
    EXPECT_EQ(wordAtCaret(memo, &memo).word, "text");

    // A run longer than the limit is cut to it around the caret.
    memo.Lines().SetText("<p>" + std::string(10000, 'a') + "</p>\n");
    memo.SetSelStart(5000);
    EXPECT_EQ(wordAtCaret(memo, &memo).word, std::string(kMaxWord, 'a'));

    // A document without token classes has no word.
    morvane::highlight::THighlightedMemo plain;
    plain.Lines().SetText("word");
    EXPECT_EQ(wordAtCaret(plain, &plain).tokenClass, -1);
}

} // namespace
