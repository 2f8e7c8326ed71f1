// Bytes 128-255 are word characters to the built-in highlighters: a UTF-8 (or accented) letter
// never splits an identifier, and a keyword followed by one is no keyword.
#include "HighlightMemoUtil.h"

#include <gtest/gtest.h>

namespace morvane::highlight::testing {
namespace {

// The token values of the bytes of piece within text (its first occurrence).
std::vector<std::uint8_t> TokensOf(const std::string& language, const std::string& text,
                                   const std::string& piece) {
    auto all = fullScan(language, text);
    std::size_t at = text.find(piece);
    EXPECT_NE(at, std::string::npos) << piece;
    if (at == std::string::npos) return {};
    return {all.begin() + long(at), all.begin() + long(at + piece.size())};
}

bool AllEqual(const std::vector<std::uint8_t>& v) {
    return !v.empty() && std::all_of(v.begin(), v.end(), [&](auto t) { return t == v[0]; });
}

TEST(Utf8Words, ALetterAbove127NeverSplitsAnIdentifierOrEndsAKeyword) {
    // C++: "naïve_x" is one identifier; "ifé" is an identifier, not the keyword "if".
    const std::string cpp = "int na\xC3\xAFve_x = if\xC3\xA9 + caf\xE9;\n";
    auto ident = TokensOf("C++", cpp, "na\xC3\xAFve_x");
    EXPECT_TRUE(AllEqual(ident));
    EXPECT_EQ(ident[0], 3); // identifier
    auto notKeyword = TokensOf("C++", cpp, "if\xC3\xA9");
    EXPECT_TRUE(AllEqual(notKeyword));
    EXPECT_EQ(notKeyword[0], 3);
    EXPECT_TRUE(AllEqual(TokensOf("C++", cpp, "caf\xE9")));
    EXPECT_EQ(TokensOf("C++", cpp, "int")[0], 12); // keywords still are keywords
    // Perl and SQL identifiers likewise.
    const std::string perl = "print \xC3\xA9t\xC3\xA9;\n";
    EXPECT_TRUE(AllEqual(TokensOf("Perl", perl, "\xC3\xA9t\xC3\xA9")));
    const std::string sql = "SELECT pr\xC3\xA9nom FROM t;\n";
    EXPECT_TRUE(AllEqual(TokensOf("SQL", sql, "pr\xC3\xA9nom")));
}

} // namespace
} // namespace morvane::highlight::testing
