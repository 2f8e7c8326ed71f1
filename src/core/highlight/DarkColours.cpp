#include "core/highlight/DarkColours.h"

#include <algorithm>
#include <cmath>

namespace morvane::highlight {

namespace {
// The lightness band of the dark set: white maps to the bottom, black to the top.
constexpr double kDarkest = 0.13, kLightest = 0.84;

double HueToChannel(double p, double q, double t) {
    if (t < 0) t += 1;
    if (t > 1) t -= 1;
    if (t < 1.0 / 6) return p + (q - p) * 6 * t;
    if (t < 0.5) return q;
    if (t < 2.0 / 3) return p + (q - p) * (2.0 / 3 - t) * 6;
    return p;
}
} // namespace

std::int32_t DarkCounterpart(std::int32_t bgr) {
    if (bgr < 0) return bgr;
    const auto u = static_cast<std::uint32_t>(bgr);
    const double r = (u & 0xFF) / 255.0, g = ((u >> 8) & 0xFF) / 255.0,
                 b = ((u >> 16) & 0xFF) / 255.0;
    const double hi = std::max({r, g, b}), lo = std::min({r, g, b});
    const double l = (hi + lo) / 2;
    double h = 0, s = 0;
    if (hi > lo) {
        const double d = hi - lo;
        s = l > 0.5 ? d / (2 - hi - lo) : d / (hi + lo);
        if (hi == r)
            h = (g - b) / d + (g < b ? 6 : 0);
        else if (hi == g)
            h = (b - r) / d + 2;
        else
            h = (r - g) / d + 4;
        h /= 6;
    }
    const double l2 = kDarkest + (1 - l) * (kLightest - kDarkest);
    double r2 = l2, g2 = l2, b2 = l2;
    if (s > 0) {
        const double q = l2 < 0.5 ? l2 * (1 + s) : l2 + s - l2 * s;
        const double p = 2 * l2 - q;
        r2 = HueToChannel(p, q, h + 1.0 / 3);
        g2 = HueToChannel(p, q, h);
        b2 = HueToChannel(p, q, h - 1.0 / 3);
    }
    auto byte = [](double v) {
        return static_cast<std::uint32_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255));
    };
    return static_cast<std::int32_t>(byte(r2) | byte(g2) << 8 | byte(b2) << 16);
}

bool IsDarkRgb(std::uint32_t rgb) {
    const unsigned r = (rgb >> 16) & 0xFF, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
    return std::max({r, g, b}) + std::min({r, g, b}) < 255;
}

} // namespace morvane::highlight
