#pragma once
// The handlers the editor control calls, and the base that makes them its members.

#include "core/editor/CodeMemoTypes.h"
#include "core/editor/CodeMemoView.h"
#include "core/editor/EdStream.h"
#include "core/editor/PositionMarks.h"
#include "core/editor/TextTypes.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace morvane::editor {

class TCustomCodeMemo;

using TNotifyEvent = std::function<void(TCustomCodeMemo* Sender)>;
using TTextEvent =
    std::function<void(TCustomCodeMemo* Sender, TextOffset Start, TextOffset Extent)>;
using TMarkEvent = std::function<void(TCustomCodeMemo* Sender, std::uint32_t Value)>;
using TCharTest = std::function<bool(char)>;
// A command of a later feature (printing) the control hands on.
using TCommandEvent = std::function<void(TCustomCodeMemo* Sender, int Command)>;
// Bookmarks, templates and auto-replace (CodeMemoAids.cpp).
using TBookmarkEvent = std::function<void(TCustomCodeMemo* Sender, int Index)>;
using TCustomBookmarkFreeEvent =
    std::function<void(TCustomCodeMemo* Sender, const std::string& bmName)>;
// May change the text a template expands to.
using TMacroFireEvent = std::function<void(TCustomCodeMemo* Sender, const std::string& TemplateName,
                                           std::string& Replacement)>;
// IStream stands at the start of the matched text; clearing CanReplace vetoes the replacement.
using TAutoReplaceEvent =
    std::function<void(TCustomCodeMemo* Sender, TEdStream& IStream, const std::string& ReplaceItem,
                       const std::string& ReplaceWith, bool& CanReplace)>;
// May change the command a key was recognised as.
using TKeyboardActionEvent = std::function<void(TCustomCodeMemo* Sender, int& Command)>;

// Mouse, clipboard and drop events (CodeMemoMouse.cpp, CodeMemoClipboard.cpp).
using TGutterClick = std::function<void(TCustomCodeMemo* Sender, RecIndex LineNo)>;
using TMultiClickEvent =
    std::function<void(TCustomCodeMemo* Sender, TPixelPoint ClickPos, TextOffset CharOffset)>;
using THyperEvent =
    std::function<void(TCustomCodeMemo* Sender, const std::string& HyperData, int HyperType)>;
// SourceTypes holds TDataSourceBits; the handler may clear offers or set the request bits.
using TDataDropEvent = std::function<void(TCustomCodeMemo* Sender, std::uint16_t& SourceTypes)>;
using TFileDropEvent = std::function<void(
    TCustomCodeMemo* Sender, const std::vector<std::string>& FileList, TPixelPoint AtPoint)>;

// A key handler that runs before the key map (code templates, auto-replace).
enum class TKeyHookResult {
    NotHandled, // the key goes on to the key map
    Handled,    // the key map is skipped; the key still types its character
    Consumed,   // the key is used up
};
using TKeyHook =
    std::function<TKeyHookResult(TCustomCodeMemo* Sender, std::uint16_t Key, unsigned Shift)>;

// Where a piece of a wrapped line ends: given the whole line, where the piece starts and the
// proposed cut (an index into line), returns the cut to use. Values not after pieceStart are
// taken as the proposed cut.
using TWordBreakProc = std::function<std::size_t(TCustomCodeMemo* Sender, std::string_view line,
                                                 std::size_t pieceStart, std::size_t cut)>;
using TLineDrawEvent = std::function<void(TCustomCodeMemo* Sender, TLineDrawRecord* Line)>;
using TMarkDrawEvent = std::function<void(TCustomCodeMemo* Sender, void* Canvas,
                                          const TPositionMark& Mark, const TViewRect& Rect)>;
// A wheel notch; setting Handled keeps the control from scrolling.
using TMouseWheelEvent = std::function<void(TCustomCodeMemo* Sender, bool& Handled)>;

// The control's handlers, public members of every TCustomCodeMemo.
struct TCodeMemoEvents {
    // Run before the key map, templates first; the second only when the first did not act.
    TKeyHook TemplateKeyHook;
    TKeyHook AutoReplaceKeyHook;

    TTextEvent OnTextChange;
    TNotifyEvent OnChange;
    TMarkEvent OnMarkChange;
    TMarkEvent OnMarkFree;
    TCommandEvent OnPrintSelection; // command 44
    TBookmarkEvent OnBookmarkSet;
    TCustomBookmarkFreeEvent OnCustomBookmarkFree;
    TMacroFireEvent OnTemplateEvent;
    TAutoReplaceEvent OnAutoReplace;
    TWordBreakProc OnWordBreakProc;
    TLineDrawEvent OnDrawLine;
    TMarkDrawEvent OnDrawMark;
    TMouseWheelEvent OnMouseWheelUp;
    TMouseWheelEvent OnMouseWheelDown;
    TKeyboardActionEvent OnCommandRecognised;
    TGutterClick OnGutterClick;
    TMultiClickEvent OnTripleClick;
    THyperEvent OnHyperlinkClick;
    THyperEvent OnHyperlinkHover;
    TDataDropEvent OnDataDrop;
    TFileDropEvent OnFilesDropped;
    // A typed character the document's encoding cannot hold (the window offers UTF-8).
    std::function<void(TCustomCodeMemo* Sender, char32_t Code)> OnCharRefused;
    TCharTest fn_CharStartsWord;
    TCharTest fn_CharIsInWord;

protected:
    TCodeMemoEvents() = default;
    ~TCodeMemoEvents() = default;
};

} // namespace morvane::editor
