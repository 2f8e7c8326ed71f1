#pragma once
// What the editor control hands to the view that draws it: painted rows, scroll bar ranges, the
// record a line-draw handler gets and the template choice list.

#include "core/editor/TextTypes.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace morvane::editor {

// What the core asks of whoever draws it.
class TCodeMemoView {
public:
    virtual ~TCodeMemoView() = default;
    virtual void RepaintView() = 0;      // flagged records need painting
    virtual void UpdateScrollBars() = 0; // ranges or positions changed
    // A view that finishes pending re-wrapping itself (ContinueWrap in idle steps, the rows it
    // shows before painting them) returns true; otherwise the core re-wraps all at once.
    virtual bool DefersWrap() const { return false; }
    virtual void ScheduleWrap() {}
};

inline constexpr char32_t kWideTail = 0x110000;
inline constexpr char32_t kByteMark = 0x110100;

// One screen row as the view paints it.
struct TRowLayout {
    RecIndex rec = 0;
    TextOffset start = 0;      // text offset of the record
    std::string cells;         // one byte per display column from the left column, TABs expanded
    DisplayColumn selFrom = 0; // selected columns [selFrom, selTo) of cells
    DisplayColumn selTo = 0;
    bool continuation = false;
    std::uint32_t flags = 0;
    std::string attrs;      // token value per cell; empty when the record has none
    std::string tabs;       // per cell: 1 where a TAB starts, 2 where it spreads; empty: none
    std::uint16_t mark = 0; // the record's mark word
    std::uint16_t gutterMarks = 0;
    std::int32_t background = -1; // line colours
    std::uint32_t textColor = 0;
    // Per cell when the record holds a byte above 127 (else empty, and every cell is its byte):
    // the character's code point in the document's encoding, kWideTail for the second cell of
    // a wide character, kByteMark + the byte for a byte that is no character.
    std::vector<char32_t> chars;
    RecIndex lineNumber = 0; // 1-based number shown in the gutter; 0: none
    bool endsWithCR = false;
    DisplayColumn endColumn = 0; // display column after the record's last visible character
};

// The ranges and positions of the two scroll bars.
struct TScrollInfo {
    int vMax = 0, vPage = 1, vPos = 0;
    int hMax = 0, hPage = 1, hPos = 0;
    bool hVisible = true;
    bool vVisible = true;
    int factor = 1; // records per vertical step
};

// What a line-draw handler is told before a row is painted.
enum TLineDrawKind { ldkScreen, ldkPrinter };
struct TLineDrawRecord {
    TLineDrawKind Kind = ldkScreen;
    const char* Text = nullptr; // the record's characters
    int Length = 0;
    void* Canvas = nullptr; // the QPainter painting the row
    int Left = 0, Top = 0, Right = 0, Bottom = 0;
    TextOffset Offset = 0; // text offset of the record
    DisplayColumn LeftColumn = 0;
    bool Handled = false; // set by the handler: the control leaves the row alone
};
struct TViewRect {
    int Left, Top, Right, Bottom;
};

// What the template choice list shows: every template in name order and the word before the
// caret (lower case), which the control has selected.
struct TTemplatePopup {
    struct Item {
        std::string name, description;
    };
    std::vector<Item> items;
    std::string partial;
    int preselected = -1; // the first whose name contains the partial word
};

// The choice list's typed search: each character extends a prefix and selects the first name
// that starts with it (ignoring case); when none does, the prefix starts again from the
// character alone.
class TTemplateSearch {
public:
    explicit TTemplateSearch(std::vector<std::string> names) : names_(std::move(names)) {}
    // The index to select, -1 when no name starts with the prefix.
    int Type(char c);
    void Reset() { prefix_.clear(); }

private:
    int Find() const;
    std::vector<std::string> names_;
    std::string prefix_;
};
} // namespace morvane::editor
