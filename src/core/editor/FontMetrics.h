#pragma once
// Font measurements the layout needs. The Qt view measures its font; tests and controls without
// a window use the fixed 7 x 17 cell.

#include <string_view>

namespace morvane::editor {

class TFontMetrics {
public:
    virtual ~TFontMetrics() = default;
    virtual int CharWidth() const = 0; // average character width in pixels
    virtual int LineHeight() const = 0;
    virtual bool FixedPitch() const = 0;
    // Advance of one character in pixels, for proportional fonts.
    virtual int CharPixels(unsigned char) const { return CharWidth(); }
};

class TFixedMetrics : public TFontMetrics {
public:
    TFixedMetrics(int charWidth = 7, int lineHeight = 17, bool fixedPitch = false)
        : charWidth_(charWidth), lineHeight_(lineHeight), fixedPitch_(fixedPitch) {}
    int CharWidth() const override { return charWidth_; }
    int LineHeight() const override { return lineHeight_; }
    bool FixedPitch() const override { return fixedPitch_; }

private:
    int charWidth_, lineHeight_;
    bool fixedPitch_;
};

} // namespace morvane::editor
