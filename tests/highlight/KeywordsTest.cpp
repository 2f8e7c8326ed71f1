// The keyword trie shared by keyword tables and template names.
#include "editor/Keywords.h"

#include <gtest/gtest.h>

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
