#pragma once
// Font measurements of a Qt font for the editor core.

#include "editor/FontMetrics.h"

#include <QFont>
#include <QFontMetrics>

namespace morvane::editor {

class TQtFontMetrics final : public TFontMetrics {
public:
    explicit TQtFontMetrics(const QFont& font);
    int CharWidth() const override { return charWidth_; }
    int LineHeight() const override { return lineHeight_; }
    bool FixedPitch() const override { return fixedPitch_; }
    int Ascent() const { return ascent_; }

private:
    int charWidth_ = 7;
    int lineHeight_ = 17;
    int ascent_ = 13;
    bool fixedPitch_ = false;
};

} // namespace morvane::editor
