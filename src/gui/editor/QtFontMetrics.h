#pragma once
// Font measurements of a Qt font for the editor core.

#include "core/editor/FontMetrics.h"

#include <QFont>
#include <QFontMetrics>

#include <array>

namespace morvane::editor {

// Whether the font's characters all take the same advance, by measuring them: QFontInfo's
// answer comes from the font's own flags, which some monospaced families do not set.
bool MeasuresFixedPitch(const QFont& font, QPaintDevice* device = nullptr);

class TQtFontMetrics final : public TFontMetrics {
public:
    // Measured for a device (a printer), or for the screen without one.
    explicit TQtFontMetrics(const QFont& font, QPaintDevice* device = nullptr);
    int CharWidth() const override { return charWidth_; }
    int LineHeight() const override { return lineHeight_; }
    bool FixedPitch() const override { return fixedPitch_; }
    int CharPixels(unsigned char c) const override { return advance_[c]; }
    int Ascent() const { return ascent_; }
    int Height() const { return height_; } // of the plain font

private:
    int charWidth_ = 7;
    int lineHeight_ = 17;
    int ascent_ = 13;
    int height_ = 16;
    bool fixedPitch_ = false;
    std::array<int, 256> advance_{};
};

} // namespace morvane::editor
