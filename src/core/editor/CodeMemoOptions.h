#pragma once
// The editor control's option word.

#include <cstdint>

namespace morvane::editor {

// Option bits of the option word.
enum TCodeMemoOption : std::uint32_t {
    smoLineNumbers = 1u << 0,
    smoSyntaxHighlight = 1u << 4,
    smoPrintWrap = 1u << 5,
    smoPrintLineNos = 1u << 6,
    smoPrintFilename = 1u << 7,
    smoPrintDate = 1u << 8,
    smoPrintPageNos = 1u << 9,
    smoWordWrap = 1u << 10,
    smoAutoIndent = 1u << 11,
    smoTabToColumn = 1u << 12,
    smoWrapOverride = 1u << 13,
    smoWordSelect = 1u << 14,
    smoShowRMargin = 1u << 15,
    smoShowGutter = 1u << 16,
    smoShowWrapColumn = 1u << 17,
    smoTitleAsFilename = 1u << 18,
    smoProcessDroppedFiles = 1u << 19,
    smoBlockOverwriteCursor = 1u << 20,
    smoShowWrapGlyph = 1u << 21,
    smoColumnTrack = 1u << 22,
    smoUseTAB = 1u << 23,
    smoSmartFill = 1u << 24,
    smoOLEDragSource = 1u << 25,
    smoShowAllChars = 1u << 26,
    smoCaretAfterEOL = 1u << 27,
    smoHighlightLine = 1u << 29, // the caret's line drawn on a tinted background
    smoUndoByChar = 1u << 30,    // each typed character its own undo step
};
inline constexpr std::uint32_t kInitialOptions = 0x3FFDBF0;

} // namespace morvane::editor
