// The search engine's dialect, its compile errors with their positions, the recorded pieces,
// and its bounds on hostile patterns and texts.
#include "core/highlight/REParser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace morvane::highlight;

namespace {

struct Hit {
    bool found;
    std::size_t start, end;
};

Hit find(const std::string& pattern, std::string_view text, std::size_t from = 0,
         bool forward = true) {
    TREParser re;
    EXPECT_TRUE(re.SetExpression(pattern)) << pattern << ": " << re.ErrorText();
    TScanStream s(text, from);
    if (!re.Search(s, forward)) {
        EXPECT_EQ(re.ErrorNumber(), TREError::None) << pattern;
        return {false, 0, 0};
    }
    EXPECT_EQ(s.position(), re.MatchStart());
    return {true, re.MatchStart(), re.MatchEnd()};
}

std::string matched(const std::string& pattern, std::string_view text) {
    const Hit h = find(pattern, text);
    return h.found ? std::string(text.substr(h.start, h.end - h.start)) : "<none>";
}

std::vector<std::string> pieces(TREParser& re, std::string_view text) {
    std::vector<std::string> out;
    for (int n = 1; n <= re.PieceCount(); ++n)
        out.emplace_back(text.substr(re.PieceStart(n), re.PieceEnd(n) - re.PieceStart(n)));
    return out;
}

struct ErrorCase {
    std::string pattern;
    TREError error;
    std::size_t pos;
};

} // namespace

TEST(REParserCompile, ErrorsNameTheirTextAndPosition) {
    const std::vector<ErrorCase> cases = {
        {"", TREError::InvalidParameter, 1},
        {"(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)", TREError::TooManySubExpressions, 28},
        {"ab)", TREError::UnmatchedParenthesis, 3},
        {"x(ab", TREError::UnmatchedParenthesis, 2},
        {"*a", TREError::InvalidRepeat, 1},
        {"a|+", TREError::InvalidRepeat, 3},
        {"(*)", TREError::InvalidRepeat, 2},
        {"(a*)*", TREError::InvalidRepeat, 5},
        {"$+", TREError::InvalidRepeat, 2},
        {"(b?){2,}", TREError::InvalidRepeat, 5},
        {"a**", TREError::NestedRepeat, 3},
        {"a+?", TREError::NestedRepeat, 3},
        {"a{2}{3}", TREError::NestedRepeat, 5},
        {"a{3,1}", TREError::InvalidRange, 2},
        {"a{,}", TREError::InvalidRange, 2},
        {"a{}", TREError::InvalidRange, 2},
        {"a{2", TREError::InvalidRange, 2},
        {"a{x}", TREError::InvalidRange, 2},
        {"a{65536}", TREError::InvalidRange, 2},
        {"a{1,99999999999}", TREError::InvalidRange, 2},
        {"[z-a]", TREError::InvalidRange, 3},
        {"[a-]", TREError::InvalidRange, 3},
        {"[a-\\d]", TREError::InvalidRange, 3},
        {"x[abc", TREError::UnmatchedBracket, 2},
        {"[]", TREError::UnmatchedBracket, 1},
        {"[^]", TREError::UnmatchedBracket, 1},
        {"\\x", TREError::HexDigitExpected, 3},
        {"[\\xg]", TREError::HexDigitExpected, 4},
        {"ab\\", TREError::UnexpectedEnd, 4},
        {"[a\\", TREError::UnexpectedEnd, 4},
        {"x\"abc", TREError::QuoteExpected, 2},
        {"\"ab\\\"", TREError::QuoteExpected, 1},
    };
    for (const auto& c : cases) {
        TREParser re;
        EXPECT_FALSE(re.SetExpression(c.pattern)) << c.pattern;
        EXPECT_EQ(re.ErrorNumber(), c.error) << c.pattern << " gave " << re.ErrorText();
        EXPECT_EQ(re.ErrorPosition(), c.pos) << c.pattern;
    }
    EXPECT_STREQ(REErrorMessage(TREError::QuoteExpected), "' expected");
    EXPECT_STREQ(REErrorMessage(TREError::TooComplex), "Expression too complex");
    EXPECT_STREQ(REErrorMessage(TREError::InvalidRange), "Invalid range");
}

TEST(REParserCompile, CacheRepeatsTheLastAnswerFailuresIncluded) {
    TREParser re;
    EXPECT_FALSE(re.SetExpression("a{3,1}"));
    // The same text again fails again, with the same error.
    EXPECT_FALSE(re.SetExpression("a{3,1}"));
    EXPECT_EQ(re.ErrorNumber(), TREError::InvalidRange);
    EXPECT_EQ(re.ErrorPosition(), 2u);
    TScanStream s("aaa");
    EXPECT_FALSE(re.Search(s, true));
    EXPECT_EQ(re.ErrorNumber(), TREError::InvalidParameter);

    EXPECT_TRUE(re.SetExpression("b"));
    EXPECT_TRUE(re.SetExpression("b"));
    EXPECT_EQ(re.ErrorNumber(), TREError::None);
    EXPECT_FALSE(re.SetExpression(""));
    EXPECT_FALSE(re.Compiled());
}

TEST(REParserDialect, Elements) {
    EXPECT_EQ(matched("a.c", "xa\rc abc"), "abc"); // `.` never takes the line end
    EXPECT_EQ(matched("[b-d]+", "xxcdbe"), "cdb");
    EXPECT_EQ(matched("[^a-c\\r]+", "ab\nxy"), "xy"); // \r is LF inside a class too
    EXPECT_EQ(matched("\\d+", "abc123"), "123");
    EXPECT_EQ(matched("\\D+", "12ab3"), "ab");
    EXPECT_EQ(matched("\\s+", "a \t\n\r\b\fz"), " \t\n\r\b\f");
    EXPECT_EQ(matched("\\W", "ab_9-"), "-");
    EXPECT_EQ(matched("[\\d_]+", "ab_12x"), "_12");
    EXPECT_EQ(matched("\"a.b*\"", "aab a.b*"), "a.b*"); // quoted text is literal
    EXPECT_EQ(matched("\"\\x41\\n\"", "xA\r"), "A\r");  // escapes work inside quotes
    EXPECT_EQ(matched("\\n", "a\nb\rc"), "\r");         // \n is CR, \r is LF
    EXPECT_EQ(matched("\\R", "a\nb"), "\n");            // escape letters in either case
    EXPECT_EQ(matched("\\101\\x42", "xAB"), "AB");
    EXPECT_EQ(matched("\\777", "\x3f"
                               "7"),
              "\x3f"
              "7"); // octal stops before 256
    EXPECT_EQ(matched("a\\ b", "a b"), "a b");
    EXPECT_EQ(matched("\\q\\.", "q."), "q.");
    EXPECT_EQ(matched("cat|dog", "hotdog"), "dog");
    EXPECT_EQ(matched("a{,3}", "aaaaa"), "aaa");
    EXPECT_EQ(matched("a{2}", "abaab"), "aa");
    EXPECT_EQ(matched("(ab){2,}", "ababab"), "ababab");
    EXPECT_EQ(matched("(ab){0}c", "abc"), "c");
    EXPECT_EQ(matched("x(ab|a)*b", "xabab"), "xabab"); // backtracks into the loop
    EXPECT_EQ(matched("colou?r", "color"), "color");
}

TEST(REParserDialect, LineStartAndEnd) {
    // ^ steps over the CR before the line, or stands at the start of the text.
    EXPECT_EQ(matched("^b", "ab\rb"), "\rb");
    EXPECT_EQ(matched("^a", "ab\rb"), "a");
    EXPECT_EQ(matched("^\\n", "\r\rx"), "\r");
    EXPECT_EQ(matched("b$", "ab\rcb"), "b");
    EXPECT_EQ(find("b$", "ab\rcb", 2).start, 4u); // the end of the text ends a line
    EXPECT_EQ(matched("$^x", "a\rx"), "\rx");
    EXPECT_EQ(matched("$\\n^x", "a\rx"), "<none>"); // ^ wants a CR of its own
}

TEST(REParserDialect, EitherOrder) {
    for (const char* text : {"x", "y", "xy", "yx"})
        EXPECT_EQ(matched("x||y", text), text);
    EXPECT_EQ(matched("ab||cd", "zcdab"), "cdab");
    // Each operand is wrapped whole, even when it starts with a group.
    EXPECT_EQ(matched("a||(b)c", "bca"), "bca");
    EXPECT_EQ(matched("a||(b)c", "abc"), "abc");
    EXPECT_EQ(matched("a||(b)c", "cb"), "<none>");
    EXPECT_EQ(matched("q|a||b", "ba"), "ba");
    TREParser re;
    EXPECT_FALSE(re.SetExpression(std::string(2000, 'a') + std::string(4000, '|')));
}

TEST(REParserSearch, DirectionAndStart) {
    const std::string text = "ab ab ab";
    EXPECT_EQ(find("ab", text, 1).start, 3u);
    EXPECT_EQ(find("ab", text, 3).start, 3u);
    // Backward from the end starts at the last character; otherwise at the position itself.
    EXPECT_EQ(find("b", text, text.size(), false).start, 7u);
    EXPECT_EQ(find("ab", text, 5, false).start, 3u);
    EXPECT_EQ(find("ab", text, 2, false).start, 0u);
    EXPECT_FALSE(find("x", text, text.size(), false).found);
    EXPECT_FALSE(find("ab", text, 7).found);
    EXPECT_FALSE(find("a", "", 0).found);
    EXPECT_TRUE(find("a?", "", 0).found);

    TREParser re;
    ASSERT_TRUE(re.SetExpression("q"));
    TScanStream s("abc", 1);
    EXPECT_FALSE(re.Search(s, true));
    EXPECT_EQ(s.position(), 1u); // a miss leaves the stream where it was
}

TEST(REParserSearch, NothingMatchesPastTheEnd) {
    // The text is a view into a longer buffer: nothing after its end may be read as text.
    const std::string buffer = std::string("ab") + '\0' + "x";
    const std::string_view text(buffer.data(), 2);
    for (const char* p : {"b.", "b[^a]", "b\\D", "b\\S", "b\\W", "b\"\\0\"", "ab\\0"})
        EXPECT_FALSE(find(p, text).found) << p;
    // NUL and high bytes are ordinary characters in pattern and text.
    const std::string nul = std::string("a") + '\0' + "\xE9z";
    EXPECT_EQ(matched(std::string("\\0\xE9"), nul), std::string("\0\xE9", 2));
    EXPECT_EQ(matched("[\\x80-\\xff]z", nul), "\xE9z");
    EXPECT_EQ(matched(std::string("a\0", 2) + ".", nul), std::string("a\0\xE9", 3));
}

TEST(REParserPieces, PositionsAndPieces) {
    TREParser re;
    ASSERT_TRUE(re.SetExpression("\\d+"));
    ASSERT_TRUE(re.Search("abc123", 0, true));
    EXPECT_EQ(re.Position(0), 3u);
    EXPECT_EQ(re.Position(1), 6u);
    EXPECT_EQ(re.Position(200), 6u); // past the recorded ones: the end
    EXPECT_THROW(re.Position(256), ERegExprError);

    // A group is one piece, whatever it holds; plain elements are pieces of their own.
    const std::string text = "xx key-value;";
    ASSERT_TRUE(re.SetExpression("(\\w+)-(\\w+)"));
    ASSERT_TRUE(re.Search(text, 0, true));
    EXPECT_EQ(pieces(re, text), (std::vector<std::string>{"key", "-", "value"}));

    ASSERT_TRUE(re.SetExpression("(a+)(b+)"));
    ASSERT_TRUE(re.Search("zaabbb", 0, true));
    EXPECT_EQ(pieces(re, "zaabbb"), (std::vector<std::string>{"aa", "bbb"}));

    ASSERT_TRUE(re.SetExpression("((a)x(b))c"));
    ASSERT_TRUE(re.Search("axbc", 0, true));
    EXPECT_EQ(pieces(re, "axbc"), (std::vector<std::string>{"axb", "c"}));
}

TEST(REParserPieces, AbandonedPathsLeaveNothingBehind) {
    TREParser re;
    // The first alternative records pieces, then fails; only the second's may remain.
    ASSERT_TRUE(re.SetExpression("(a)(b)x|(a)y"));
    ASSERT_TRUE(re.Search("aby ay", 0, true));
    EXPECT_EQ(re.MatchStart(), 4u);
    EXPECT_EQ(pieces(re, "aby ay"), (std::vector<std::string>{"a", "y"}));

    // A repeat that gives back characters inside a group.
    ASSERT_TRUE(re.SetExpression("(a+b*)bc"));
    ASSERT_TRUE(re.Search("aabbc", 0, true));
    EXPECT_EQ(pieces(re, "aabbc"), (std::vector<std::string>{"aab", "bc"}));

    // Loop repetitions that were undone.
    ASSERT_TRUE(re.SetExpression("(ab|a)*(b)c"));
    ASSERT_TRUE(re.Search("ababc", 0, true));
    EXPECT_EQ(re.MatchEnd(), 5u);
    const auto p = pieces(re, "ababc");
    ASSERT_GE(p.size(), 2u);
    EXPECT_EQ(p[p.size() - 2], "b");
    EXPECT_EQ(p.back(), "c");
}

TEST(REParserSearch, ZeroLengthMatchesLetTheCallerMoveOn) {
    TREParser re;
    for (const char* p : {"$", "a*", "b?", "^"}) {
        ASSERT_TRUE(re.SetExpression(p));
        std::vector<std::size_t> starts;
        const long long n = re.ForEachMatch("ab\rab", 0, [&](std::size_t s, std::size_t) {
            starts.push_back(s);
            return starts.size() < 100;
        });
        EXPECT_GT(n, 0) << p;
        EXPECT_LE(n, 6) << p;
    }
    ASSERT_TRUE(re.SetExpression("a*"));
    std::vector<std::pair<std::size_t, std::size_t>> all;
    re.ForEachMatch("baab", 0, [&](std::size_t s, std::size_t e) {
        all.emplace_back(s, e);
        return true;
    });
    EXPECT_EQ(all,
              (std::vector<std::pair<std::size_t, std::size_t>>{{0, 0}, {1, 3}, {3, 3}, {4, 4}}));
}

TEST(REParserBounds, ExplodingPatternsStopWithAnError) {
    // The b at the end is there so that the search cannot tell at once that nothing matches.
    const std::string run = std::string(5000, 'a') + "!b";
    for (const char* p : {"(a+)+b", "(a|a)*b", "(a|aa)+b", "((a+)+)+b", "(\\w|a)+b"}) {
        TREParser re;
        ASSERT_TRUE(re.SetExpression(p)) << p;
        EXPECT_FALSE(re.Search(run, 0, true)) << p;
        EXPECT_EQ(re.ErrorNumber(), TREError::TooComplex) << p;
        EXPECT_EQ(re.ErrorText(), "Expression too complex");
        // The default budget and the allowance of each position tried, no more.
        EXPECT_LE(re.StepsUsed(), 20'000'000u + 64u * (run.size() + 1)) << p;
        // The error belongs to that search; a good one afterwards clears it.
        EXPECT_TRUE(re.Search("aab", 0, true) || re.ErrorNumber() == TREError::None);
    }
    // Deep repetition hits the recursion bound, not the stack's end.
    TREParser re;
    ASSERT_TRUE(re.SetExpression("(ab)*c"));
    std::string deep;
    for (int i = 0; i < 100000; ++i)
        deep += "ab";
    EXPECT_FALSE(re.Search(deep, 0, true));
    EXPECT_EQ(re.ErrorNumber(), TREError::TooComplex);
}

// The budget belongs to the search, not to each position it tries: work that stays under the
// budget at every single position still ends in "too complex" once the positions together
// exceed it.
TEST(REParserBounds, OneBudgetCoversEveryPositionOfASearch) {
    // Each run of a's costs (a+)+b thousands of steps; the b at the end keeps the search going.
    const std::string block = std::string(14, 'a') + "!";
    TREParser re;
    ASSERT_TRUE(re.SetExpression("(a+)+b"));
    EXPECT_FALSE(re.Search(block + "b", 0, true));
    ASSERT_EQ(re.ErrorNumber(), TREError::None);
    const std::uint64_t oneBlock = re.StepsUsed();
    ASSERT_GT(oneBlock, 5000u);

    std::string text;
    for (int i = 0; i < 40; ++i)
        text += block;
    text += "b";
    // Twice one block's work: enough for any single position, not for forty blocks.
    const std::uint64_t budget = 2 * oneBlock;
    re.SetLimits(budget, 5000);
    EXPECT_FALSE(re.Search(block + "b", 0, true));
    EXPECT_EQ(re.ErrorNumber(), TREError::None);
    EXPECT_FALSE(re.Search(text, 0, true));
    EXPECT_EQ(re.ErrorNumber(), TREError::TooComplex);
    EXPECT_LE(re.StepsUsed(), budget + 64 * (text.size() + 1));
    // Backward searches share the rule.
    EXPECT_FALSE(re.Search(text, text.size(), false));
    EXPECT_EQ(re.ErrorNumber(), TREError::TooComplex);
}

// A literal is paid by the bytes it compares: thirty 1,000-byte alternatives that each compare
// in full at every position of a text of a's are too complex, not minutes of work within the
// budget.
TEST(REParserBounds, LongLiteralsCostTheBytesTheyCompare) {
    std::string pattern;
    for (int i = 0; i < 30; ++i)
        pattern +=
            std::string(i ? "|" : "") + "\"" + std::string(999, 'a') + char('A' + i % 26) + "\"";
    const std::string text(20000, 'a');
    TREParser re;
    ASSERT_TRUE(re.SetExpression(pattern));
    re.SetLimits(100000, 5000);
    EXPECT_FALSE(re.Search(text, 0, true));
    EXPECT_EQ(re.ErrorNumber(), TREError::TooComplex);
    EXPECT_LE(re.StepsUsed(), 100000u + 64u * (text.size() + 1));
    // The same literals where they occur are found, their cost within the allowance.
    EXPECT_TRUE(re.Search(text + std::string(999, 'a') + "Q", text.size(), true));
    EXPECT_EQ(re.MatchStart(), text.size());
}

// A search can be stopped from outside: the callback sees the position reached, and a stopped
// search reports Stopped, not a miss.
TEST(REParserBounds, ShouldStopEndsALongSearch) {
    TREParser re;
    ASSERT_TRUE(re.SetExpression("(.)(.)c")); // tried at every position
    const std::string text(1000000, 'a');
    std::vector<std::size_t> seen;
    re.ShouldStop = [&](std::size_t at) {
        seen.push_back(at);
        return seen.size() == 3;
    };
    EXPECT_FALSE(re.Search(text + "c", 0, true));
    EXPECT_EQ(re.ErrorNumber(), TREError::Stopped);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    re.ShouldStop = nullptr;
    EXPECT_TRUE(re.Search(text + "c", 0, true));
    EXPECT_EQ(re.ErrorNumber(), TREError::None);
}

TEST(REParserBounds, LargePatternsAndTexts) {
    TREParser re;
    // A 10,000-character pattern.
    std::string big;
    for (int i = 0; i < 2000; ++i)
        big += "ab|c";
    big += "zz";
    ASSERT_TRUE(re.SetExpression(big));
    EXPECT_TRUE(re.Search("xczz", 0, true));
    std::string groups;
    for (int i = 0; i < 300; ++i)
        groups += "(a)";
    EXPECT_FALSE(re.SetExpression(groups));
    EXPECT_EQ(re.ErrorNumber(), TREError::TooManySubExpressions);
    std::string nested(300, '(');
    EXPECT_FALSE(re.SetExpression(nested));
    EXPECT_EQ(re.ErrorNumber(), TREError::TooManySubExpressions);
    ASSERT_TRUE(re.SetExpression("a{65535}"));

    // Without the character every match needs, the search ends at once.
    ASSERT_TRUE(re.SetExpression("a.*z"));
    EXPECT_FALSE(re.Search(std::string(1u << 20, 'a'), 0, true));
    EXPECT_EQ(re.ErrorNumber(), TREError::None);

    // One 50 MB line: a leading repeat over it does not try every start again.
    std::string line(50u << 20, 'x');
    line += "y";
    ASSERT_TRUE(re.SetExpression("x*z"));
    EXPECT_FALSE(re.Search(line, 0, true));
    EXPECT_EQ(re.ErrorNumber(), TREError::None);
    ASSERT_TRUE(re.SetExpression(".*y"));
    ASSERT_TRUE(re.Search(line, 0, true));
    EXPECT_EQ(re.MatchEnd(), line.size());
    ASSERT_TRUE(re.SetExpression("xy"));
    ASSERT_TRUE(re.Search(line, line.size(), false));
    EXPECT_EQ(re.MatchStart(), line.size() - 2);
}

// UTF-8 text: `.`, `[^...]` and their repeats take whole characters, matches start only where
// a character starts, stray bytes are characters of their own; off, every byte is one.
TEST(REParserUtf8, SetsAndRepeatsTakeWholeCharacters) {
    auto run = [](const std::string& pattern, std::string_view text, bool utf8,
                  std::size_t from = 0, bool forward = true) -> std::string {
        TREParser re;
        re.SetUtf8(utf8);
        EXPECT_TRUE(re.SetExpression(pattern)) << pattern;
        if (!re.Search(text, from, forward)) return "<none>";
        return std::string(text.substr(re.MatchStart(), re.MatchLength()));
    };
    const std::string e = "\xC3\xA9", sun = "\xE6\x97\xA5", smile = "\xF0\x9F\x98\x80";
    EXPECT_EQ(run("a.b", "a" + e + "b", true), "a" + e + "b");
    EXPECT_EQ(run("a.b", "a" + e + "b", false), "<none>");
    EXPECT_EQ(run("a..b", "a" + e + "b", false), "a" + e + "b");
    EXPECT_EQ(run("[^x]", e + "x", true), e);
    EXPECT_EQ(run(".{2}x", sun + smile + "x", true), sun + smile + "x");
    EXPECT_EQ(run("^.*$", "ab" + sun + "c\rz", true), "ab" + sun + "c");
    // Repeats give characters back one at a time.
    EXPECT_EQ(run(".*" + e, "a" + e + sun + e + "b", true), "a" + e + sun + e);
    EXPECT_EQ(run("(.+)(.)$", "a" + sun, true), "a" + sun);
    // No match starts inside a character; backward searches step over them.
    EXPECT_EQ(run(".", e, true, 1), "<none>");
    EXPECT_EQ(run(".", "x" + e, true, 3, false), e);
    // Stray and cut-short bytes stay single characters.
    EXPECT_EQ(run("a.b",
                  "a\xA9"
                  "b",
                  true),
              "a\xA9"
              "b");
    EXPECT_EQ(run("a.b",
                  "a\xC3"
                  "b",
                  true),
              "a\xC3"
              "b");
    EXPECT_EQ(run("a..", "a\xE6\x97", true), "a\xE6\x97");
    EXPECT_EQ(run("a.\xA9", "a\xC3\xA9", true), "<none>"); // the whole character is taken
}

// A code point below U+10000 written in four bytes (F0 80-8F ...) is no character: `.` takes
// its bytes one at a time, and a match may start at any of them.
TEST(REParserUtf8, FourByteOverlongFormsAreBytesOfTheirOwn) {
    auto count = [](const std::string& pattern, const std::string& text) {
        TREParser re;
        re.SetUtf8(true);
        EXPECT_TRUE(re.SetExpression(pattern));
        return re.ForEachMatch(text, 0, [](std::size_t, std::size_t) { return true; });
    };
    for (const std::string t : {"\xF0\x80\x80\xAF", "\xF0\x8F\xBF\xBF"}) {
        EXPECT_EQ(count(".", t), 4);
        EXPECT_EQ(count("[^x]{4}", t), 1);
        EXPECT_EQ(count("[\x80-\xBF]", t), 3);
    }
    EXPECT_EQ(count(".", "\xF0\x90\x80\x80"), 1);
    EXPECT_EQ(count("[\x80-\xBF]", "\xF0\x90\x80\x80"), 0);
}
