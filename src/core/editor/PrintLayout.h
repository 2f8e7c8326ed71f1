#pragma once
// Printed pages without a printer: which lines are printed, how they are numbered, wrapped or
// cut to the page width, and where header, footer and text stand on a page.

#include "core/editor/FontMetrics.h"
#include "core/editor/TextTypes.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace morvane::editor {

class TCustomCodeMemo;

struct TPrintRow {
    RecIndex lineNumber = 0; // physical line number; 0 on the rows that continue a line
    std::string text;        // TABs expanded, no line break
    std::string attrs;       // token value per character; empty when the line has none
};

// Vertical positions on a page, in the printer's pixels.
struct TPageFrame {
    bool header = false; // file name or date on the first row
    bool footer = false; // page number
    int titleTop = 0;
    int headerRule = 0;
    int textTop = 0;
    int textBottom = 0;
    int footerRule = 0;
    int pageNumberTop = 0; // top of the row the page number is centred in
    int RowsPerPage(int rowHeight) const;
};

TPageFrame PageFrame(std::uint32_t options, int top, int bottom, int rowHeight);

// First and last record of the whole lines to print; last < first when there are none. The
// selection's end line is left out when the selection ends at its start.
std::pair<RecIndex, RecIndex> PrintRange(const TCustomCodeMemo& memo, bool selectionOnly);

// The rows of those lines for a text width in pixels, measured with the printer's metrics; with
// line numbers a ten-character column is taken off the width first.
std::vector<TPrintRow> PrintRows(const TCustomCodeMemo& memo, bool selectionOnly,
                                 const TFontMetrics& metrics, int width);

// "%6d:" in a column of ten characters; blanks for a continuation row.
std::string LineNumberColumn(RecIndex number);
inline constexpr int kLineNumberColumns = 10;

// "- %d -".
std::string PageNumberText(int page);

} // namespace morvane::editor
