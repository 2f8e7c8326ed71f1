#pragma once
// The dark colour set: every colour of a highlighter's light set has a dark counterpart, used
// when the desktop's palette is dark and the user has not changed the highlighter's colours.
// The counterpart keeps the hue and saturation and mirrors the lightness into a band that
// reads on a dark background: white paper becomes a dark grey, black ink a light grey, dark
// blue keywords light blue, a pale yellow background a dark olive.

#include <cstdint>

namespace morvane::highlight {

// A 0x00BBGGRR colour's dark counterpart; system colour references (top bit set) are returned
// as they are, since they follow the palette already.
std::int32_t DarkCounterpart(std::int32_t bgr);

// Whether a palette colour (0xRRGGBB) is dark: its lightness below the middle.
bool IsDarkRgb(std::uint32_t rgb);

} // namespace morvane::highlight
