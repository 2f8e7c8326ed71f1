#include "gui/editor/QtFontMetrics.h"

#include <algorithm>

namespace morvane::editor {

bool MeasuresFixedPitch(const QFont& font, QPaintDevice* device) {
    QFontMetrics fm(font, device);
    const int w = fm.horizontalAdvance(QLatin1Char('W'));
    for (char c : {'i', 'l', 'm', '.', ' ', '0'})
        if (fm.horizontalAdvance(QLatin1Char(c)) != w) return false;
    return w > 0;
}

// Measured in bold italic, the widest style, so that no style overflows its cell; a
// fixed-pitch font then takes its plain advance as the cell width.
TQtFontMetrics::TQtFontMetrics(const QFont& font, QPaintDevice* device) {
    QFont wide(font);
    wide.setBold(true);
    wide.setItalic(true);
    QFontMetrics fm(wide, device);
    lineHeight_ = fm.height() + std::max(0, fm.leading()) + 1;
    if (lineHeight_ <= 0) lineHeight_ = 17;
    ascent_ = fm.ascent();
    charWidth_ = fm.averageCharWidth();
    if (charWidth_ <= 0) charWidth_ = 7;
    fixedPitch_ = MeasuresFixedPitch(wide, device);
    QFontMetrics plain(font, device);
    ascent_ = plain.ascent();
    height_ = plain.height();
    if (fixedPitch_) charWidth_ = std::max(1, plain.horizontalAdvance(QLatin1Char('W')));
    for (int c = 0; c < 256; ++c)
        advance_[static_cast<std::size_t>(c)] =
            c < 32 || c == 127
                ? charWidth_
                : std::max(1, plain.horizontalAdvance(QChar(static_cast<char16_t>(c))));
}

} // namespace morvane::editor
