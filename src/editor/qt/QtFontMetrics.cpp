#include "editor/qt/QtFontMetrics.h"

#include <algorithm>

namespace morvane::editor {

// Measured in bold italic, the widest style, so that no style overflows its cell; a
// fixed-pitch font then takes its plain advance as the cell width.
TQtFontMetrics::TQtFontMetrics(const QFont& font) {
    QFont wide(font);
    wide.setBold(true);
    wide.setItalic(true);
    QFontMetrics fm(wide);
    lineHeight_ = fm.height() + std::max(0, fm.leading()) + 1;
    if (lineHeight_ <= 0) lineHeight_ = 17;
    ascent_ = fm.ascent();
    charWidth_ = fm.averageCharWidth();
    if (charWidth_ <= 0) charWidth_ = 7;
    fixedPitch_ = fm.horizontalAdvance(QLatin1Char('i')) == fm.horizontalAdvance(QLatin1Char('W'));
    if (fixedPitch_)
        charWidth_ = std::max(1, QFontMetrics(font).horizontalAdvance(QLatin1Char('W')));
}

} // namespace morvane::editor
