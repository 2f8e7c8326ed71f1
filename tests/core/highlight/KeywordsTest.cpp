// The keyword trie shared by keyword tables and template names.
#include "core/editor/Keywords.h"

#include <gtest/gtest.h>

#include <random>

using namespace morvane::editor;

TEST(Keywords, LongestMatchHonoursStatesAndFollowGroups) {
    TKeywords k;
    k.add("in", 1, StateSet{0}, 7);
    k.add("int", 2, StateSet{0}, 7);
    k.add("IF", 3, StateSet{2});
    // Follow group 7 accepts anything but letters.
    auto follow = [](std::int32_t group, int ch) {
        return group != 7 || !(ch >= 'a' && ch <= 'z');
    };
    auto m = k.matchForward("int x", 0, StateSet{0}, follow);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->length, 3u);
    EXPECT_EQ(m->entry.token, 2);
    // "index": neither "in" nor "int" is followed by a non-letter.
    EXPECT_FALSE(k.matchForward("index", 0, StateSet{0}, follow));
    EXPECT_EQ(k.matchForward("in(", 0, StateSet{0}, follow)->entry.token, 1);
    // Case-insensitive table: stored lower-cased, text lower-cased.
    EXPECT_EQ(k.matchForward("If", 0, StateSet{2})->entry.token, 3);
    EXPECT_FALSE(k.matchForward("if", 0, StateSet{0}));
    EXPECT_THROW(k.add("INT", 9, StateSet{0, 1}), EKeywords);
    k.add("INT", 9, StateSet{1});
    EXPECT_EQ(k.find("int", StateSet{1})->token, 9);
}

TEST(Keywords, ManyWordsWithSharedPrefixes) {
    TKeywords k;
    k.setCaseSensitive(true);
    for (int i = 0; i < 5000; ++i)
        k.add("w" + std::to_string(i * 7919 % 100000), 1, StateSet{0});
    EXPECT_EQ(k.wordCount(), 5000u);
    for (int i = 0; i < 5000; i += 97)
        EXPECT_TRUE(k.find("w" + std::to_string(i * 7919 % 100000), StateSet{0})) << i;
    EXPECT_FALSE(k.find("w", StateSet{0}));
}

TEST(Keywords, BackwardMatchFindsTheNameBeforeTheCaret) {
    TKeywords k;
    k.add("tnirp", 1, StateSet{0}); // "print" reversed
    k.add("f", 2, StateSet{0});
    auto m = k.matchBackward("x = printf", 10, StateSet{0});
    ASSERT_TRUE(m);
    EXPECT_EQ(m->length, 1u);
    EXPECT_EQ(k.matchBackward("x = print", 9, StateSet{0})->length, 5u);
    EXPECT_FALSE(k.matchBackward("", 0, StateSet{0}));
}

// Random tables against a plain reading: the longest word at pos, folded as the table folds,
// whose first entry (in insertion order) meets the states and accepts the next character (-1 at
// the end of the text). States beyond the first 64 are used too.
TEST(Keywords, MatchAtAgreesWithAPlainReadingOnRandomTables) {
    std::mt19937 rng(11);
    const int kStates[] = {0, 1, 63, 64, 130, 255};
    auto randomStates = [&] {
        StateSet s;
        for (int st : kStates)
            if (rng() % 3 == 0) s.add(st);
        if (s.empty()) s.add(kStates[rng() % 6]);
        return s;
    };
    auto randomWord = [&](std::size_t maxLength) {
        std::string w(1 + rng() % maxLength, ' ');
        for (auto& c : w)
            c = "aAbB_<"[rng() % 6];
        return w;
    };
    // Group g accepts characters whose code is a multiple of g + 2; the end of the text only
    // for even groups.
    auto follow = [](std::int32_t g, int ch) { return ch < 0 ? g % 2 == 0 : ch % (g + 2) == 0; };
    for (int round = 0; round < 200; ++round) {
        TKeywords k;
        k.setCaseSensitive(rng() % 2);
        struct Word {
            std::string folded;
            KeywordEntry entry;
        };
        std::vector<Word> words;
        for (int i = 0, n = 1 + int(rng() % 12); i < n; ++i) {
            std::string w = randomWord(4);
            StateSet s = randomStates();
            std::int32_t group = rng() % 3 ? -1 : std::int32_t(rng() % 4);
            try {
                k.add(w, std::uint8_t(i + 1), s, group);
            } catch (const EKeywords&) {
                continue;
            }
            words.push_back(
                {k.caseSensitive() ? w : TKeywords::lowered(w), {s, std::uint8_t(i + 1), group}});
        }
        for (int t = 0; t < 20; ++t) {
            std::string text = randomWord(8);
            std::string folded = k.caseSensitive() ? text : TKeywords::lowered(text);
            StateSet states = randomStates();
            for (std::size_t pos = 0; pos < text.size(); ++pos) {
                std::size_t wantLength = 0;
                int wantToken = 0;
                for (std::size_t len = text.size() - pos; len > 0 && !wantToken; --len) {
                    int next = pos + len < text.size() ? std::uint8_t(text[pos + len]) : -1;
                    for (const auto& w : words)
                        if (w.folded == folded.substr(pos, len) && w.entry.states.meets(states)) {
                            if (w.entry.followGroup >= 0 && !follow(w.entry.followGroup, next))
                                continue;
                            wantLength = len;
                            wantToken = w.entry.token;
                            break;
                        }
                }
                auto hit = k.matchAt(text, pos, states, follow);
                ASSERT_EQ(hit.entry ? hit.entry->token : 0, wantToken) << text << " at " << pos;
                EXPECT_EQ(hit.length, wantLength) << text << " at " << pos;
            }
        }
    }
}
