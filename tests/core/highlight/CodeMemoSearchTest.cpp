// Find and replace of an editor control: the plain searcher against a naive search over texts
// that span many blocks of the store, the find rules, replacing with and without prompts, the
// replacement escapes and the reports.

#include "core/highlight/CodeMemoSearch.h"
#include "core/editor/CustomCodeMemo.h"
#include "core/editor/Streams.h"
#include "core/platform/FakeUi.h"

#include <gtest/gtest.h>

#include <random>

using namespace morvane::highlight;
using morvane::editor::TCustomCodeMemo;
using morvane::editor::TextOffset;
using morvane::platform::FakeDialogs;
using morvane::platform::MsgResult;

namespace {

struct SearchFixture : ::testing::Test {
    TCustomCodeMemo memo;
    FakeDialogs dialogs;
    TCodeMemoSearch search{memo};

    SearchFixture() {
        memo.SetDialogs(&dialogs);
        search.dialogs = &dialogs;
    }
    void Load(std::string_view text) {
        morvane::editor::TFastMemoryStream s(text);
        memo.LoadFromStream(s);
        memo.SetSelection(0, 0);
    }
    TSearchRequest Plain(std::string text, bool down = true) {
        TSearchRequest r;
        r.text = std::move(text);
        r.down = down;
        return r;
    }
    TSearchRequest Regex(std::string text) {
        TSearchRequest r = Plain(std::move(text));
        r.regExpr = true;
        return r;
    }
    std::string Selected() const { return memo.SelText(); }
    std::string LastMessage() const {
        return dialogs.shown.empty() ? "" : dialogs.shown.back().text;
    }
};

// Every hit in the stored text by brute force, case folded as the searcher folds.
TextOffset Naive(const std::string& text, const std::string& pat, TextOffset from, bool forward,
                 bool matchCase) {
    auto eq = [&](std::size_t i) {
        for (std::size_t k = 0; k < pat.size(); ++k) {
            auto a = static_cast<unsigned char>(text[i + k]);
            auto b = static_cast<unsigned char>(pat[k]);
            if (matchCase ? a != b : FoldCase(a) != FoldCase(b)) return false;
        }
        return true;
    };
    const auto n = static_cast<TextOffset>(text.size()), m = static_cast<TextOffset>(pat.size());
    if (forward) {
        for (TextOffset i = std::max<TextOffset>(from, 0); i + m <= n; ++i)
            if (eq(std::size_t(i))) return i;
    } else {
        for (TextOffset i = std::min(from, n - m); i >= 0; --i)
            if (eq(std::size_t(i))) return i;
    }
    return -1;
}

TEST_F(SearchFixture, PlainSearcherAgreesWithBruteForceAcrossBlocks) {
    std::mt19937 rng(20261209);
    const std::string alphabet = "aAbB\r\xe9\xc9";
    std::string text;
    for (int i = 0; i < 180000; ++i)
        text += alphabet[rng() % alphabet.size()];
    Load(text);
    ASSERT_EQ(memo.Text(), text);
    // Edits leave blocks of uneven sizes behind.
    for (int i = 0; i < 40; ++i) {
        TextOffset at = rng() % memo.TextLength();
        memo.SetSelection(at, std::min<TextOffset>(at + rng() % 3000, memo.TextLength()));
        memo.ReplaceSel(std::string(rng() % 5, 'a'));
    }
    const std::string stored = memo.Text();
    TPlainSearcher s;
    for (int i = 0; i < 3000; ++i) {
        std::string pat;
        for (int k = 1 + int(rng() % 7); k > 0; --k)
            pat += alphabet[rng() % alphabet.size()];
        bool matchCase = rng() % 2, forward = rng() % 2;
        TextOffset from = TextOffset(rng() % (stored.size() + 20)) - 10;
        s.Prepare(pat, matchCase);
        ASSERT_EQ(s.Find(memo.Store(), from, forward), Naive(stored, pat, from, forward, matchCase))
            << "case " << i << " pattern of " << pat.size() << " from " << from
            << (forward ? " forward" : " backward") << (matchCase ? " match case" : "");
    }
}

// In a UTF-8 text, ignoring case folds a Latin-1 letter's two-byte form, and nothing else: the
// capital of "\u0160" is not "\u0140" although their second bytes differ by as much.
TEST_F(SearchFixture, IgnoringCaseInUtf8FoldsWholeCharacters) {
    const std::vector<std::string> tokens = {"a",        "A",        "\xC3\xA9", "\xC3\x89",
                                             "\xC5\xA0", "\xC5\x80", "\r"};
    auto fold = [](const std::string& t) {
        return t == "a" ? std::string("A") : t == "\xC3\xA9" ? std::string("\xC3\x89") : t;
    };
    std::mt19937 rng(9);
    std::vector<int> text;
    std::string bytes;
    std::vector<TextOffset> at;
    for (int i = 0; i < 40000; ++i) {
        text.push_back(int(rng() % tokens.size()));
        at.push_back(TextOffset(bytes.size()));
        bytes += tokens[std::size_t(text.back())];
    }
    Load(bytes);
    ASSERT_EQ(memo.Encoding(), morvane::editor::TTextEncoding::teUTF8);
    TPlainSearcher s;
    for (int i = 0; i < 400; ++i) {
        std::vector<int> pat;
        std::string p;
        for (int k = 1 + int(rng() % 4); k > 0; --k) {
            pat.push_back(int(rng() % tokens.size()));
            p += tokens[std::size_t(pat.back())];
        }
        const std::size_t from = rng() % text.size();
        TextOffset expected = -1;
        for (std::size_t j = from; expected < 0 && j + pat.size() <= text.size(); ++j) {
            bool same = true;
            for (std::size_t k = 0; same && k < pat.size(); ++k)
                same = fold(tokens[std::size_t(text[j + k])]) == fold(tokens[std::size_t(pat[k])]);
            if (same) expected = at[j];
        }
        s.Prepare(p, false, true);
        ASSERT_EQ(s.Find(memo.Store(), at[from], true), expected) << "case " << i;
    }
}

// A regular expression's `.` takes a byte; in UTF-8 text the match grows to whole characters,
// so neither the selection nor a replacement splits one.
TEST_F(SearchFixture, RegularExpressionMatchesCoverWholeUtf8Characters) {
    Load("caf\xC3\xA9 \xE6\x97\xA5x");
    ASSERT_EQ(memo.Encoding(), morvane::editor::TTextEncoding::teUTF8);
    EXPECT_EQ(search.Find(Regex("caf.")), TSearchOutcome::Found);
    EXPECT_EQ(Selected(), "caf\xC3\xA9");
    memo.SetSelection(0, 0);
    search.ForgetLastFound();
    EXPECT_EQ(search.Replace(Regex("[^ a-z]"), "#", true), 2);
    EXPECT_EQ(memo.Text(), "caf# #x");
}

TEST_F(SearchFixture, FindSelectsAndFindNextMovesOn) {
    Load("one two one two one");
    EXPECT_EQ(search.Find(Plain("one")), TSearchOutcome::Found);
    EXPECT_EQ(memo.SelStart(), 0);
    EXPECT_EQ(Selected(), "one");
    search.FindNext();
    EXPECT_EQ(memo.SelStart(), 8);
    search.FindNext();
    EXPECT_EQ(memo.SelStart(), 16);
    // The last one: nothing after it.
    search.FindNext();
    EXPECT_EQ(memo.SelStart(), 16);
    EXPECT_EQ(LastMessage(), "Search string \"one\" not found.");

    // Backward from the end finds them in reverse; at the start it reports without searching.
    memo.SetSelection(memo.TextLength(), memo.TextLength());
    EXPECT_EQ(search.Find(Plain("TWO", false)), TSearchOutcome::Found);
    EXPECT_EQ(memo.SelStart(), 12);
    search.FindNext();
    EXPECT_EQ(memo.SelStart(), 4);
    memo.SetSelection(0, 0);
    EXPECT_EQ(search.Find(Plain("one", false)), TSearchOutcome::NotFound);
}

TEST_F(SearchFixture, WholeWordAndMatchCase) {
    Load("int in Int IN");
    TSearchRequest r = Plain("in");
    r.wholeWord = true;
    EXPECT_EQ(search.Find(r), TSearchOutcome::Found);
    EXPECT_EQ(memo.SelStart(), 4);
    r.matchCase = true;
    r.text = "IN";
    memo.SetSelection(0, 0);
    EXPECT_EQ(search.Find(r), TSearchOutcome::Found);
    EXPECT_EQ(memo.SelStart(), 11);
}

TEST_F(SearchFixture, EmptyTextAndFailureHandler) {
    Load("abc");
    EXPECT_EQ(search.Find(Plain("")), TSearchOutcome::NotFound);
    std::string failed;
    search.OnSearchFail = [&](TCustomCodeMemo* sender, const std::string& text) {
        EXPECT_EQ(sender, &memo);
        failed = text;
    };
    std::size_t messages = dialogs.shown.size();
    EXPECT_EQ(search.Find(Plain("zz")), TSearchOutcome::NotFound);
    EXPECT_EQ(failed, "zz");
    EXPECT_EQ(dialogs.shown.size(), messages);
}

TEST_F(SearchFixture, RegularExpressionsSkipEmptyMatchesAndReportErrors) {
    Load("ab\rcd\r");
    EXPECT_EQ(search.Find(Regex("b*$")), TSearchOutcome::Found);
    EXPECT_EQ(memo.SelStart(), 1);
    EXPECT_EQ(Selected(), "b");
    // Only empty matches: not found, and no endless loop.
    memo.SetSelection(0, 0);
    EXPECT_EQ(search.Find(Regex("x*")), TSearchOutcome::NotFound);

    EXPECT_EQ(search.Find(Regex("ab(c")), TSearchOutcome::Error);
    const std::string shown = LastMessage();
    const auto caret = shown.substr(shown.rfind('\n') + 1);
    EXPECT_EQ(shown.substr(0, shown.find('\n') + 1 + 4 + 1),
              search.Parser().ErrorText() + "\nab(c\n");
    EXPECT_EQ(caret, std::string(search.Parser().ErrorPosition() - 1, ' ') + "^");
    // Compiling the same text again fails again.
    EXPECT_EQ(search.Find(Regex("ab(c")), TSearchOutcome::Error);

    Load(std::string(40, 'a') + "cb");
    search.Parser().SetLimits(200000, 5000);
    EXPECT_EQ(search.Find(Regex("(a+)+b")), TSearchOutcome::Error);
    EXPECT_NE(LastMessage().find("Expression too complex"), std::string::npos);
}

TEST_F(SearchFixture, FindAtOnceReturnsThePosition) {
    Load("xx yy xx");
    EXPECT_EQ(search.FindAtOnce(sfAtOnce, "xx"), 0);
    EXPECT_EQ(search.FindAtOnce(sfAtOnce, "xx"), 6);
    EXPECT_EQ(search.FindAtOnce(sfAtOnce, "xx"), -1);
    EXPECT_EQ(search.FindAtOnce(sfAtOnce | sfBackward, "yy"), 3);
    EXPECT_TRUE(dialogs.shown.empty()); // the caller reports
}

TEST(ReplacementText, Escapes) {
    auto pieces = [](int n) { return n == 1 ? std::string("P1") : n == 2 ? "P2" : ""; };
    auto x = [&](std::string_view p) { return ExpandReplacement(p, pieces); };
    EXPECT_EQ(x("%1-%2"), "P1-P2");
    EXPECT_EQ(x("%%"), "%");
    EXPECT_EQ(x("a%"), "a%");
    EXPECT_EQ(x("%q"), "q");
    EXPECT_EQ(x("%9"), "");     // beyond the recorded pieces
    EXPECT_EQ(x("%256"), "6");  // piece 25, then the digit
    EXPECT_EQ(x("a\\"), "a\\"); // a single backslash at the end stays
    EXPECT_EQ(x("\\\\"), "\\");
    EXPECT_EQ(x("\\101\\0"), std::string("A\0", 2));
    EXPECT_EQ(x("a\\777b"), "a"); // 511 ends the text there
    EXPECT_EQ(x("\\n\\r\\t\\s\\b\\f"), "\r\n\t \b\f");
    EXPECT_EQ(x("\\x41\\x7e7"), "A~7");
    EXPECT_EQ(x("a\\xg"), "a");
    EXPECT_EQ(x("\\q"), "q");
}

TEST_F(SearchFixture, ReplaceAllIsOneUndoStepAndStartsAtTheCaret) {
    Load("cat dog cat\rcat");
    memo.SetSelection(2, 2); // before any find: from the caret
    EXPECT_EQ(search.Replace(Plain("cat"), "mouse", true), 2);
    EXPECT_EQ(memo.Text(), "cat dog mouse\rmouse");
    EXPECT_EQ(memo.Caret(), memo.TextLength()); // at the last replacement
    EXPECT_TRUE(memo.Undo());
    EXPECT_EQ(memo.Text(), "cat dog cat\rcat");
    EXPECT_FALSE(memo.CanUndo());

    memo.SetSelection(0, 0);
    search.ForgetLastFound();
    TSearchRequest r = Regex("(a+)(b+)");
    Load("aab ab x");
    EXPECT_EQ(search.Replace(r, "%1-%2", true), 2);
    EXPECT_EQ(memo.Text(), "aa-b a-b x");

    // Empty matches: one semicolon at each line end, then it stops.
    Load("a\rb\rc");
    search.ForgetLastFound();
    EXPECT_EQ(search.Replace(Regex("$"), ";", true), 3);
    EXPECT_EQ(memo.Text(), "a;\rb;\rc;");

    // An invalid pattern: a beep and nothing replaced.
    int beeps = dialogs.beeps;
    EXPECT_EQ(search.Replace(Regex("(("), "x", true), 0);
    EXPECT_EQ(dialogs.beeps, beeps + 1);
    EXPECT_EQ(memo.Text(), "a;\rb;\rc;");

    search.ForgetLastFound();
    memo.SetSelection(0, 0);
    EXPECT_EQ(search.Replace(Plain("zz"), "x", true), 0);
    EXPECT_EQ(LastMessage(), "Search string \"zz\" not found.");
}

TEST_F(SearchFixture, ReplaceAsksForEachOccurrence) {
    Load("a a a a a");
    dialogs.answers = {MsgResult::Yes, MsgResult::No, MsgResult::All};
    std::string with = "bb";
    search.OnConfirmReplace = [&](const std::string& q) {
        EXPECT_EQ(q, "Replace this occurence of 'a' with '" + with + "' ?");
        switch (dialogs.message(morvane::platform::MsgKind::Confirmation, q)) {
        case MsgResult::Yes:
            return TReplaceAnswer::Yes;
        case MsgResult::No:
            return TReplaceAnswer::No;
        case MsgResult::All:
            return TReplaceAnswer::All;
        default:
            return TReplaceAnswer::Cancel;
        }
    };
    EXPECT_EQ(search.Replace(Plain("a"), "bb", false), 4);
    EXPECT_EQ(memo.Text(), "bb a bb bb bb");

    Load("a a a");
    search.ForgetLastFound();
    dialogs.answers = {MsgResult::Yes, MsgResult::Cancel};
    with.clear();
    EXPECT_EQ(search.Replace(Plain("a"), "", false), 1);
    EXPECT_EQ(memo.Text(), " a a");
}

TEST_F(SearchFixture, ReadOnlyTextIsNotReplaced) {
    Load("aaa");
    memo.SetReadOnly(true);
    EXPECT_EQ(search.Replace(Plain("a"), "", true), 0);
    EXPECT_EQ(search.Replace(Plain("a"), "", false), 0);
    EXPECT_EQ(memo.Text(), "aaa");
}

} // namespace
