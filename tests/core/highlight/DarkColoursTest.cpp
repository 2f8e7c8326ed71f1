// The dark colour set and when a highlighter's colours count as shipped.
#include "core/highlight/DarkColours.h"
#include "core/highlight/CodeMemoParser.h"

#include <gtest/gtest.h>

using namespace morvane::highlight;

namespace {

int Channel(std::int32_t bgr, int shift) {
    return (static_cast<std::uint32_t>(bgr) >> shift) & 0xFF;
}
int Lightness(std::int32_t bgr) {
    const int r = Channel(bgr, 0), g = Channel(bgr, 8), b = Channel(bgr, 16);
    return (std::max({r, g, b}) + std::min({r, g, b})) / 2;
}

TEST(DarkColours, PaperTurnsDarkInkLightAndHuesStay) {
    EXPECT_LT(Lightness(DarkCounterpart(0xFFFFFF)), 40);
    EXPECT_GT(Lightness(DarkCounterpart(0x000000)), 200);
    // Dark blue keywords (0x00BBGGRR) become a lighter blue; dark red a lighter red.
    const std::int32_t blue = DarkCounterpart(0x800000), red = DarkCounterpart(0x000080);
    EXPECT_GT(Lightness(blue), Lightness(0x800000));
    EXPECT_GT(Channel(blue, 16), Channel(blue, 0) + 60);
    EXPECT_GT(Channel(red, 0), Channel(red, 16) + 60);
    // A pale background becomes a dark one.
    EXPECT_LT(Lightness(DarkCounterpart(0xC0FFFF)), 60);
    // System colour references follow the palette already.
    EXPECT_EQ(DarkCounterpart(kSysColorHighlight), kSysColorHighlight);
    EXPECT_TRUE(IsDarkRgb(0x202020));
    EXPECT_FALSE(IsDarkRgb(0xF0F0F0));
}

TEST(DarkColours, ColoursCountAsShippedUntilTheUserChangesOne) {
    TCodeMemoParser p("SqlParser");
    p.compile("%%language name = 'SQL' %%effects 4 [fsBold] clRed clWhite");
    EXPECT_TRUE(p.settings().coloursAsShipped());
    p.settings().options ^= 1; // not a colour
    EXPECT_TRUE(p.settings().coloursAsShipped());
    StyleEffect e = p.settings().effect(4);
    e.foreground = 0x123456;
    p.settings().setEffect(4, e);
    EXPECT_FALSE(p.settings().coloursAsShipped());
    // The same colours read back from a stored form count as shipped; so does a recompile.
    const std::string stored = p.SaveStored();
    TCodeMemoParser q("SqlParser");
    q.LoadStored(stored);
    EXPECT_TRUE(q.settings().coloursAsShipped());
    p.compile("%%language name = 'SQL'");
    EXPECT_TRUE(p.settings().coloursAsShipped());
}

} // namespace
