#pragma once
// What the control decides about data offered by the clipboard or a drop: the source-type bits
// handed to OnDataDrop, which offered format is taken, how HTML is cut down, and where dropped
// text lands. Plain functions, so that they are tested without a window.

#include "core/editor/TextTypes.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace morvane::editor {

// The text exactly as stored, for this program's own paste and drops: text/plain goes through
// the desktop's Unicode text and cannot carry every byte.
constexpr const char* kRawTextMimeType = "application/x-morvane-text";

// Source-type bits of OnDataDrop.
enum TDataSourceBits : std::uint16_t {
    dsFileList = 1,
    dsUnicodeText = 2,
    dsPlainText = 4,
    dsHtml = 256,
    dsFromClipboard = 512,
    dsTakeAsIs = 1024, // drops: HTML unfiltered; files: also insert the names as text
    dsFromDragDrop = 2048,
    dsHandled = 4096,      // a handler took the data: nothing is inserted
    dsHtmlFragment = 8192, // keep only the part between the fragment markers
    dsHtmlFromTag = 16384, // cut everything before the first "<"
};

// The offered formats in the order a drop prefers them.
enum class TDataFormat { None, Html, PlainText, UnicodeText, FileList };

// HTML and file lists are preferred for drops; paste prefers plain text over HTML.
TDataFormat ChooseDropFormat(std::uint16_t sourceTypes);
TDataFormat ChoosePasteFormat(std::uint16_t sourceTypes);

// Applies the fragment filters a handler asked for (bits 8192 and 16384); with dsTakeAsIs, or
// neither bit, the HTML is returned unchanged. A missing start marker keeps the text from the
// start, a missing end marker keeps it to the end.
std::string FilterHtml(std::string_view html, std::uint16_t sourceTypes);

// Where a moved or copied text is inserted. Empty: the drop changes nothing (it lands inside
// the selection it came from). For a move within one control the point is shifted by the
// removed length when it lay after the selection.
struct TDropPlan {
    bool deleteSelection = false;
    TextOffset insertAt = 0;
};
std::optional<TDropPlan> PlanDrop(TextOffset dropPoint, TextOffset selStart, TextOffset selEnd,
                                  bool fromThisControl, bool move);

// A file list as text: one name per line.
std::string FileListText(const std::vector<std::string>& files);

} // namespace morvane::editor
