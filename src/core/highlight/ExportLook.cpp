#include "core/highlight/ExportLook.h"

namespace morvane::highlight {

std::uint32_t DefaultColorOf(std::int32_t value) {
    auto u = static_cast<std::uint32_t>(value);
    if (u & 0x80000000u) {
        switch (u & 0xFF) {
        case 0x05: // window
        case 0x0E: // highlighted text
            return 0xFFFFFF;
        case 0x08: // window text
            return 0x000000;
        case 0x0D: // highlight
            return 0x3399FF;
        default: // button faces and the rest
            return 0xF0F0F0;
        }
    }
    return ((u & 0xFF) << 16) | (u & 0xFF00) | ((u >> 16) & 0xFF);
}

void ApplyExportSettings(editor::TExportLook& look, const TSM_Settings& settings,
                         const TColorResolver& resolve) {
    const StyleEffect& base = settings.effect(0);
    const std::uint32_t text = resolve(base.foreground), back = resolve(base.background);
    for (int i = 0; i < 256; ++i) {
        const StyleEffect& e = settings.effect(i);
        editor::TExportStyle& s = look.styles[i];
        s.text = e.foregroundDefault && i != 0 ? text : resolve(e.foreground);
        s.back = e.backgroundDefault && i != 0 ? back : resolve(e.background);
        s.fontStyle = e.fontStyle;
        s.defined = i == 0 || e.inUse;
    }
    look.tokenStyle = settings.tokenStyle;
    if (!settings.fontName.empty()) look.fontName = settings.fontName;
    if (settings.fontSize > 0) look.fontSize = settings.fontSize;
}

} // namespace morvane::highlight
