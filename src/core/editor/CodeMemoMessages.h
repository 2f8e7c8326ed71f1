#pragma once
// The message numbers the control answers through Perform: the standard edit-control set and
// the control's private ones from 3072. Offsets travel as full 64-bit values; pointers travel
// in the parameters as integers. Parameters that are not obvious:
//   WM_SETTEXT       lParam: const char* (NUL-terminated) or 0 for an empty text
//   WM_GETTEXT       wParam: buffer size with room for the NUL; lParam: char*
//   EM_GETSEL        wParam, lParam: TextOffset* for anchor and caret (either may be 0);
//                    returns caret << 32 | anchor
//   EM_SETSEL        wParam: anchor, lParam: caret; 0 and -1 select all
//   EM_GETLINE       wParam: record; lParam: char* whose first two bytes give its size
//   EM_POSFROMCHAR   returns MakePoint(x, y); EM_CHARFROMPOS takes one in lParam
//   SM_SAVESTREAM    wParam: TTextForm; lParam: TStream*
//   SM_GETSELTEXT    wParam: TTextForm; lParam: std::string* that receives the text
//   SM_SETATTRS      wParam: TRecRange* or 0 for all; lParam: one byte per character
//   SM_GETATTRS      wParam: TRecRange* or 0 for all; lParam: std::string* that receives them

#include "core/editor/TextTypes.h"

namespace morvane::editor {

enum : unsigned {
    WM_SETTEXT = 0x000C,
    WM_GETTEXT = 0x000D,
    WM_GETTEXTLENGTH = 0x000E,
    WM_CUT = 0x0300,
    WM_COPY = 0x0301,
    WM_PASTE = 0x0302,
    WM_UNDO = 0x0304,
    EM_GETSEL = 0x00B0,
    EM_SETSEL = 0x00B1,
    EM_LINESCROLL = 0x00B6,
    EM_SCROLLCARET = 0x00B7,
    EM_GETMODIFY = 0x00B8,
    EM_GETLINECOUNT = 0x00BA,
    EM_LINEINDEX = 0x00BB,
    EM_LINELENGTH = 0x00C1,
    EM_REPLACESEL = 0x00C2,
    EM_GETLINE = 0x00C4,
    EM_CANUNDO = 0x00C6,
    EM_UNDO = 0x00C7,
    EM_LINEFROMCHAR = 0x00C9,
    EM_EMPTYUNDOBUFFER = 0x00CD,
    EM_GETFIRSTVISIBLELINE = 0x00CE,
    EM_POSFROMCHAR = 0x00D6,
    EM_CHARFROMPOS = 0x00D7,
};

enum : unsigned {
    SM_SELECTION = 3072,
    SM_OPTIONS = 3073,
    SM_REPLACESEL = 3074,
    SM_UPDATELOCK = 3077,
    SM_LOADSTREAM = 3078,
    SM_SAVESTREAM = 3079,
    SM_MODIFIED = 3080,
    SM_TOPLINE = 3081,
    SM_LEFTCOLUMN = 3082,
    SM_FIND = 3083,
    SM_REPLACEDIALOG = 3084,
    SM_GETSELTEXT = 3085,
    SM_CANREDO = 3086,
    SM_REDO = 3087,
    SM_BLOCKINDENT = 3088,
    SM_BLOCKUNINDENT = 3089,
    SM_APPLYSETTINGS = 3090,
    SM_SETATTRS = 3091,
    SM_GETATTRS = 3092,
    SM_UNDOSTACK = 3093,
    SM_VERSION = 3136,
};

// First parameter bits of the private messages that both set and get.
inline constexpr unsigned kSmSet = 1;
inline constexpr unsigned kSmNoRepaint = 2;

// SM_SELECTION's pair.
struct TSelPair {
    TextOffset anchor;
    TextOffset caret;
};

// SM_SETATTRS' and SM_GETATTRS' record range, both ends included.
struct TRecRange {
    RecIndex first;
    RecIndex last;
};

// Packs a point as EM_POSFROMCHAR returns it and EM_CHARFROMPOS takes it: x in the low 16 bits,
// y in the next 16, both signed.
inline std::intptr_t MakePoint(int x, int y) {
    return static_cast<std::intptr_t>(
        (static_cast<std::uint32_t>(static_cast<std::uint16_t>(x))) |
        (static_cast<std::uint32_t>(static_cast<std::uint16_t>(y)) << 16));
}
inline int PointX(std::intptr_t p) {
    return static_cast<std::int16_t>(p & 0xFFFF);
}
inline int PointY(std::intptr_t p) {
    return static_cast<std::int16_t>((p >> 16) & 0xFFFF);
}

} // namespace morvane::editor
