#pragma once
// The look of a formatted export taken from a settings record: styles with their colours
// resolved, the token-to-style map and the font.

#include "core/editor/ExportWriter.h"
#include "core/highlight/SM_Settings.h"

#include <cstdint>
#include <functional>

namespace morvane::highlight {

// Turns a settings colour (0x00BBGGRR, or a system colour reference) into 0xRRGGBB.
using TColorResolver = std::function<std::uint32_t(std::int32_t)>;

// System colours as a light desktop shows them, for exports made without a window.
std::uint32_t DefaultColorOf(std::int32_t value);

// Fills look's styles, token map and font from the record; title, date and charset stay.
void ApplyExportSettings(editor::TExportLook& look, const TSM_Settings& settings,
                         const TColorResolver& resolve = DefaultColorOf);

} // namespace morvane::highlight
