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

// Texts and patterns of nearly one letter make a skip search compare almost everywhere: the
// searcher hands over to Two-Way, which must find exactly what brute force finds, in both
// directions and across the store's blocks.
TEST_F(SearchFixture, PlainSearcherAgreesWithBruteForceOnRepetitiveTexts) {
    std::mt19937 rng(31);
    std::string text;
    for (int i = 0; i < 70000; ++i)
        text += rng() % 50 == 0 ? 'b' : rng() % 2 ? 'a' : 'A';
    Load(text);
    const std::string stored = memo.Text();
    TPlainSearcher s;
    for (int i = 0; i < 120; ++i) {
        std::string pat;
        if (i % 2) {
            // A piece of the text, perhaps with a byte changed: hits and near misses.
            const std::size_t len = 20 + rng() % 400, at = rng() % (stored.size() - len);
            pat = stored.substr(at, len);
            if (rng() % 3 == 0) pat[rng() % len] = 'b';
        } else {
            // Periodic patterns, whose Two-Way shifts keep a memory.
            const std::string unit = std::string(1 + rng() % 3, 'a') + (rng() % 2 ? "b" : "");
            while (pat.size() < 30 + rng() % 200)
                pat += unit;
        }
        const bool matchCase = rng() % 4 == 0, forward = rng() % 2;
        const TextOffset from = TextOffset(rng() % stored.size());
        s.Prepare(pat, matchCase);
        ASSERT_EQ(s.Find(memo.Store(), from, forward), Naive(stored, pat, from, forward, matchCase))
            << "case " << i << " pattern of " << pat.size() << " from " << from
            << (forward ? " forward" : " backward") << (matchCase ? " match case" : "");
    }
}

// A long pattern whose last byte matches everywhere and whose first difference is in its middle:
// the work stays linear in the text (it once was the text times half the pattern).
TEST_F(SearchFixture, PlainSearchWorkIsLinearWhateverThePattern) {
    const std::size_t n = 300000;
    const std::string pat = std::string(2500, 'a') + 'b' + std::string(2499, 'a');
    for (const bool utf8 : {false, true}) {
        // A UTF-8 letter at the start makes the text UTF-8; the rest is a's.
        Load((utf8 ? std::string("\xC3\xA9") : std::string("\xE9")) + std::string(n, 'a') + pat +
             std::string(100, 'a'));
        ASSERT_EQ(memo.Encoding() == morvane::editor::TTextEncoding::teUTF8, utf8);
        const auto hit = static_cast<TextOffset>((utf8 ? 2 : 1) + n);
        TPlainSearcher s;
        for (const bool matchCase : {false, true})
            for (const bool forward : {true, false}) {
                s.Prepare(pat, matchCase, utf8);
                const TextOffset from = forward ? 0 : memo.TextLength();
                EXPECT_EQ(s.Find(memo.Store(), from, forward), hit);
                if (!(matchCase && forward)) { // memmem's own work is not counted
                    EXPECT_LE(s.BytesCompared(), 6 * (n + pat.size()))
                        << (matchCase ? "match case " : "ignoring case ")
                        << (forward ? "forward" : "backward");
                }
                // And where it does not occur at all: the whole text, backward.
                EXPECT_EQ(s.Find(memo.Store(), forward ? hit + 1 : hit - 1, forward), -1);
                if (!(matchCase && forward)) {
                    EXPECT_LE(s.BytesCompared(), 6 * (n + pat.size()))
                        << (matchCase ? "match case " : "ignoring case ")
                        << (forward ? "forward" : "backward") << ", no hit";
                }
            }
        // Ignoring case, an upper-case copy is the same hit.
        std::string upper = pat;
        for (char& c : upper)
            c = c == 'a' ? 'A' : c;
        s.Prepare(upper, false, utf8);
        EXPECT_EQ(s.Find(memo.Store(), 0, true), hit);
    }
    // In UTF-8, ignoring case folds whole Latin-1 letters on the Two-Way path too.
    std::string e, E;
    for (int i = 0; i < 3000; ++i) {
        e += "\xC3\xA9";
        E += "\xC3\x89";
    }
    Load(e + e + "x");
    TPlainSearcher s;
    s.Prepare(E + "x", false, true);
    EXPECT_EQ(s.Find(memo.Store(), 0, true), TextOffset(e.size()));
    EXPECT_EQ(s.Find(memo.Store(), memo.TextLength(), false), TextOffset(e.size()));
    s.Prepare(E + "y", false, true);
    EXPECT_EQ(s.Find(memo.Store(), 0, true), -1);
}

// A search that ShouldStop stops reports nothing and leaves the text, the selection and the
// undo log as they were; one that is let go finds what it finds without a stop callback.
TEST_F(SearchFixture, AStoppedSearchChangesNothing) {
    // Far from both ends, so that a search either way has a long way to go; the pattern makes
    // the regular expression try every position.
    const std::string text = std::string(450000, 'x') + " needle " + std::string(450000, 'x');
    Load(text);
    memo.SetSelection(5, 7);
    std::vector<double> shares;
    bool stop = true;
    search.ShouldStop = [&](double done) {
        shares.push_back(done);
        return stop && shares.size() >= 3;
    };
    for (const bool regExpr : {false, true}) {
        for (const bool down : {true, false}) {
            shares.clear();
            TSearchRequest r = regExpr ? Regex("(.)(.)needle") : Plain("needle");
            r.down = down;
            if (!down) memo.SetSelection(memo.TextLength(), memo.TextLength());
            const TextOffset selStart = memo.SelStart(), selLength = memo.SelLength();
            EXPECT_EQ(search.Find(r), TSearchOutcome::Stopped);
            EXPECT_EQ(memo.SelStart(), selStart);
            EXPECT_EQ(memo.SelLength(), selLength);
            ASSERT_EQ(shares.size(), 3u);
            for (double d : shares) {
                EXPECT_GE(d, 0.0);
                EXPECT_LE(d, 1.0);
            }
        }
        shares.clear();
        memo.SetSelection(0, 0);
        search.ForgetLastFound();
        EXPECT_EQ(search.Replace(regExpr ? Regex("(.)(.)needle") : Plain("needle"), "pin", true),
                  0);
        EXPECT_EQ(memo.Text(), text);
        EXPECT_FALSE(memo.CanUndo());
    }
    EXPECT_TRUE(dialogs.shown.empty());

    stop = false;
    memo.SetSelection(0, 0);
    EXPECT_EQ(search.Find(Plain("needle")), TSearchOutcome::Found);
    EXPECT_EQ(memo.SelStart(), 450001);
    EXPECT_FALSE(shares.empty());
}

// A busy state must end before a message or a question needs the user: OnReport comes first.
TEST_F(SearchFixture, OnReportComesBeforeEveryMessageAndQuestion) {
    Load("one two one");
    std::vector<std::string> order;
    search.OnReport = [&] { order.push_back("report:" + std::to_string(dialogs.shown.size())); };
    search.OnConfirmReplace = [&](const std::string&) {
        order.push_back("ask");
        return TReplaceAnswer::No;
    };
    search.Find(Plain("zz"));
    search.Find(Regex("a(b"));
    search.Replace(Plain("one"), "1", false);
    EXPECT_EQ(order, (std::vector<std::string>{"report:0", "report:1", "report:2", "ask",
                                               "report:2", "ask", "report:2"}));
}

// The text changing while a search waits on ShouldStop (an event handled meanwhile) stops the
// search before it reads the changed store.
TEST_F(SearchFixture, TheTextChangingUnderASearchStopsIt) {
    Load(std::string(600000, 'x') + "needle");
    for (const bool regExpr : {false, true}) {
        memo.SetSelection(0, 0);
        search.ForgetLastFound();
        int calls = 0;
        search.ShouldStop = [&](double) {
            if (++calls == 2) {
                memo.SetSelection(0, 300000);
                memo.ReplaceSel("");
                memo.SetSelection(0, 0);
            }
            return false;
        };
        EXPECT_EQ(search.Find(regExpr ? Regex("needle") : Plain("needle")),
                  TSearchOutcome::Stopped);
        EXPECT_EQ(memo.SelLength(), 0);
        memo.Undo();
    }
    search.ShouldStop = nullptr;
    EXPECT_EQ(search.Find(Plain("needle")), TSearchOutcome::Found);
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
