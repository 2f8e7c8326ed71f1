#pragma once
// The editor control without a window: text, selection, loading and saving, change
// notifications and the layout a view paints. The Qt widget (editor/qt) hosts it.

#include "editor/CodeMemoStrings.h"
#include "editor/EdStream.h"
#include "editor/FontMetrics.h"
#include "editor/KeyboardActionContoller.h"
#include "editor/PositionMarks.h"
#include "editor/Streams.h"
#include "editor/TextStore.h"
#include "editor/UndoStack.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace morvane::platform {
class Clipboard;
class Dialogs;
} // namespace morvane::platform

namespace morvane::editor {

class TCustomCodeMemo;

// sfMAC writes CR line ends, so that a file that had them keeps them.
enum TSaveFormat { sfTEXT, sfRTF, sfHTML, sfUNIX, sfMAC };
enum TSelLineStyle { lsCRLF, lsLF };

// Forms of SM_SAVESTREAM and SM_GETSELTEXT.
enum TTextForm : unsigned { tfStored = 0, tfCRLF = 1, tfRTF = 2, tfHTML = 4, tfLF = 8, tfCR = 16 };

// Option bits of the option word.
enum TCodeMemoOption : std::uint32_t {
    smoLineNumbers = 1u << 0,
    smoSyntaxHighlight = 1u << 4,
    smoWordWrap = 1u << 10,
    smoAutoIndent = 1u << 11,
    smoTabToColumn = 1u << 12,
    smoShowGutter = 1u << 16,
    smoTitleAsFilename = 1u << 18,
    smoBlockOverwriteCursor = 1u << 20,
    smoColumnTrack = 1u << 22,
    smoUseTAB = 1u << 23,
    smoSmartFill = 1u << 24,
    smoCaretAfterEOL = 1u << 27,
};

// The editor commands that keys are bound to.
enum TEditCommand : int {
    ecCursorLeft = 0,
    ecCursorRight = 1,
    ecLineStart = 2,
    ecLineEnd = 3,
    ecLineUp = 4,
    ecLineDown = 5,
    ecPageUp = 6,
    ecPageDown = 7,
    ecWordLeft = 8,
    ecWordRight = 9,
    ecDocStart = 10,
    ecDocEnd = 11,
    ecCut = 12,
    ecCopy = 13,
    ecPaste = 14,
    ecDeleteChar = 15,
    ecDeleteLastChar = 16,
    ecBlockIndent = 17,
    ecBlockUnindent = 18,
    ecToggleMode = 19,
    ecSetBookmark0 = 20,
    ecGotoBookmark0 = 30,
    ecDeleteLine = 40,
    ecUndo = 41,
    ecRedo = 42,
    ecDeleteLastWord = 43,
    ecPrintSelection = 44,
};

// Undo group codes; callers outside the control use their own (20, 32, 33).
enum TUndoGroup : int {
    ugDrop = 11,
    ugTyping = 12,
    ugDelete = 13,
    ugPaste = 14,
    ugCut = 15,
    ugTemplate = 16,
    ugBlockIndent = 17,
    ugBlockUnindent = 18,
    ugDeleteWord = 19,
    ugReplace = 20,
    ugReplaceSel = 21,
    ugIndentedReturn = 22,
    ugDoubleSpaced = 32,
    ugHtmlTool = 33,
};

// Shortcut modifier bits over the virtual key code.
inline constexpr std::uint16_t kShortcutShift = 0x2000;
inline constexpr std::uint16_t kShortcutCtrl = 0x4000;
inline constexpr std::uint16_t kShortcutAlt = 0x8000;
inline constexpr std::uint32_t kInitialOptions = 0x3FFDBF0;

using TNotifyEvent = std::function<void(TCustomCodeMemo* Sender)>;
using TTextEvent =
    std::function<void(TCustomCodeMemo* Sender, TextOffset Start, TextOffset Extent)>;
using TMarkEvent = std::function<void(TCustomCodeMemo* Sender, std::uint32_t Value)>;
using TCharTest = std::function<bool(char)>;
// A command of a later feature (bookmarks, printing) the control hands on.
using TCommandEvent = std::function<void(TCustomCodeMemo* Sender, int Command)>;
// May change the command a key was recognised as.
using TKeyboardActionEvent = std::function<void(TCustomCodeMemo* Sender, int& Command)>;

// The caret in 1-based terms.
class TSM_CaretControl {
public:
    explicit TSM_CaretControl(TCustomCodeMemo& memo) : memo_(memo) {}
    // The virtual column + 1 while a virtual caret stands; after a line break, 1.
    DisplayColumn CaretColumn() const;
    RecIndex CaretLine() const;
    // Keeps the display column where the new line allows it.
    void SetCaretLine(RecIndex line);
    RecIndex TopLine() const;
    void SetTopLine(RecIndex line);

private:
    TCustomCodeMemo& memo_;
};

// What the core asks of whoever draws it.
class TCodeMemoView {
public:
    virtual ~TCodeMemoView() = default;
    virtual void RepaintView() = 0;      // flagged records need painting
    virtual void UpdateScrollBars() = 0; // ranges or positions changed
};

// One screen row as the view paints it.
struct TRowLayout {
    RecIndex rec = 0;
    TextOffset start = 0;      // text offset of the record
    std::string cells;         // one byte per display column from the left column, TABs expanded
    DisplayColumn selFrom = 0; // selected columns [selFrom, selTo) of cells
    DisplayColumn selTo = 0;
    bool continuation = false;
    std::uint32_t flags = 0;
};

class TCustomCodeMemo {
public:
    TCustomCodeMemo();
    // Shares a chain with other controls.
    explicit TCustomCodeMemo(std::shared_ptr<TTextStore> store);
    virtual ~TCustomCodeMemo();
    TCustomCodeMemo(const TCustomCodeMemo&) = delete;
    TCustomCodeMemo& operator=(const TCustomCodeMemo&) = delete;

    // --- text ---
    const TTextStore& Store() const { return *store_; }
    // For another control that is to show the same chain.
    std::shared_ptr<TTextStore> SharedStore() const { return store_; }
    TTextStore& Store() { return *store_; }
    TCodeMemoStrings& Lines() { return *lines_; }
    TEdStream& EdStream() { return edStream_; }
    TextOffset TextLength() const { return store_->Length(); }
    RecIndex LineCount() const { return store_->Count(); }
    int LongestLine() const { return longestLine_; }
    // The whole text in the given form (tfStored, tfCRLF, tfLF, tfCR).
    std::string Text(TTextForm form = tfStored) const;
    // The record holding an offset (the rule of TTextStore::Locate).
    RecIndex LineFromOffset(TextOffset off) const { return store_->Locate(off).rec; }
    TextOffset LineStart(RecIndex rec) const { return store_->Start(rec); }

    // --- selection ---
    TextOffset Anchor() const { return anchor_; }
    TextOffset Caret() const { return caret_; }
    // Clamps both to the text; an anchor of -1 selects everything.
    void SetSelection(TextOffset anchor, TextOffset caret, bool repaint = true);
    TextOffset SelStart() const { return std::min(anchor_, caret_); }
    void SetSelStart(TextOffset value) { SetSelection(value, value); }
    TextOffset SelLength() const;
    void SetSelLength(TextOffset value) { SetSelection(SelStart(), SelStart() + value); }
    TSelLineStyle SelLineStyle() const { return selLineStyle_; }
    void SetSelLineStyle(TSelLineStyle s) { selLineStyle_ = s; }
    std::string SelText() const;
    std::string RangeText(TextOffset from, TextOffset to, TTextForm form) const;
    // The basic edit: the selection is replaced and the caret stands after the new text.
    void ReplaceSel(std::string_view text, bool repaint = true);
    // Replaces the selection with a stream's content (SM_LOADSTREAM).
    void ReplaceSelFromStream(TStream& stream);
    // Writes the selection to a stream in the given form (SM_SAVESTREAM).
    std::size_t WriteSelection(TStream& stream, TTextForm form) const;

    // --- commands and typing (CodeMemoCommands.cpp, CodeMemoTyping.cpp) ---
    // Runs an editor command; extend keeps the anchor where it is (Shift held).
    virtual void ExecuteCommand(int command, std::intptr_t param, bool extend);
    // One key down as a shortcut value (key code plus kShortcut* bits). True when the key map
    // took it; the character the key would type must then be dropped.
    bool KeyDown(std::uint16_t shortcut);
    // A typed character, after KeyDown has had its chance.
    void KeyPress(char c);
    // Nullptr: the built-in defaults.
    void SetKeyMap(TKeyboardActionContoller* map) { keyMap_ = map; }
    TKeyboardActionContoller& KeyMap();
    bool InsertMode() const { return insertMode_; }
    void SetInsertMode(bool value);
    bool WantTab() const { return wantTab_; }
    void SetWantTab(bool value) { wantTab_ = value; }
    bool WantReturns() const { return wantReturns_; }
    void SetWantReturns(bool value) { wantReturns_ = value; }
    // A CR typed while this is set opens undo group 22 instead of 12.
    void SetPendingIndent(bool value) { pendingIndent_ = value; }
    bool PendingIndent() const { return pendingIndent_; }
    // 1-based columns separated by blanks or semicolons, ascending, at most 32.
    std::string TabColumns() const;
    void SetTabColumns(std::string_view text);
    // The text that fills from display column from to column to.
    std::string FillText(DisplayColumn from, DisplayColumn to) const;
    TextOffset WordBefore(TextOffset pos);
    TextOffset WordAfter(TextOffset pos);
    // The one place that knows how long a character is.
    TextOffset NextCharBoundary(TextOffset pos) const;
    TextOffset PrevCharBoundary(TextOffset pos) const;
    // The run of equal token values around an offset, and where it starts.
    struct TokenRun {
        std::string text;
        TextOffset start;
    };
    TokenRun TokenAt(TextOffset off) const;
    // Whether the caret stands beyond the end of its line, and at which column.
    bool VirtualCaret() const { return virtualColumn_ >= 0; }
    // Display column of the caret, the virtual one included.
    DisplayColumn CaretColumn() const;
    TSM_CaretControl& CaretControl() { return caretControl_; }
    bool CaretAfterEOLAllowed() const;
    // Whether the window's edit commands can do anything now.
    bool CanUndo() const { return undo_.CanUndo(); }
    bool CanRedo() const { return undo_.CanRedo(); }
    bool CanPaste() const;
    void SelectAll();
    // For callers that make several edits as one undo step; groups do not nest.
    bool BeginUndoGroup(int code) { return undo_.BeginGroup(code, anchor_, caret_); }
    bool EndUndoGroup(int code) { return undo_.EndGroup(code, anchor_, caret_); }

    // Caret by line and column, both 1-based, for a status bar and "go to line".
    struct LineColumn {
        RecIndex line;
        DisplayColumn column;
    };
    LineColumn CaretPosition() const;
    // Values below 1 count as 1; a line past the last record goes to that record, or to the end
    // of the text when the last record ends with a line break.
    void GoToPosition(DisplayColumn column, RecIndex line);

    // --- state ---
    bool Modified() const { return undo_.CanUndo(); }
    void SetModified(bool value);
    TUndoStack& UndoStack() { return undo_; }
    bool ReadOnly() const { return readOnly_; }
    void SetReadOnly(bool value) { readOnly_ = value; }
    std::uint32_t Options() const { return options_; }
    void SetOptions(std::uint32_t options);
    int TabDefault() const { return tabDefault_; }
    void SetTabDefault(int value);
    const std::string& FileName() const { return fileName_; }
    bool Loading() const { return loading_; }
    std::array<TextOffset, 10>& Bookmarks() { return bookmarks_; }
    TMarkList& Marks();
    // Adding or moving a mark repaints.
    std::size_t AddMark(TextOffset start, TextOffset end, std::uint8_t flag, std::uint32_t value);
    std::size_t SetMarkRange(std::size_t index, TextOffset start, TextOffset end);
    TLineTrackManager& Tracks() { return tracks_; }
    RecIndex DirtyRecord() const { return dirty_; }
    void ForgetDirtyRecord() { dirty_ = -1; }

    bool CharStartsWord(char c) const;
    bool CharIsInWord(char c) const;

    // --- loading and saving ---
    void LoadFromStream(TStream& stream);
    void SaveToStream(TStream* stream);
    void LoadFromFile(const std::string& fileName);
    void SaveToFile(const std::string& fileName);
    TSaveFormat SaveFormat() const { return saveFormat_; }
    void SetSaveFormat(TSaveFormat f) { saveFormat_ = f; }
    // The line ends of the last file or stream loaded (LF for a text without any break).
    TLineEnd LineEnd() const { return lineEnd_; }

    // --- block indent ---
    int IndentStep() const { return indentStep_; }
    void SetIndentStep(int value) { indentStep_ = std::clamp(value, 1, 255); }
    // Puts steps characters (0: IndentStep) before every line the selection touches: TABs when
    // useTabs is asked for and smoUseTAB is on, else blanks. One undo step.
    void BlockIndent(int steps, bool useTabs);
    // Removes up to steps (0: IndentStep) leading blanks, TABs and no-break spaces from every
    // line the selection touches. One undo step.
    void BlockUnindent(int steps);

    // --- undo ---
    bool Undo();
    bool Redo();

    // --- notifications ---
    void BeginUpdate();
    void EndUpdate();
    bool Updating() const { return updateCount_ > 0; }
    bool UpdateLocked() const { return updateLock_; }
    void SetUpdateLock(bool lock);
    // Raises OnChange when something changed and no update is running.
    void NotifyChange();

    // --- layout ---
    void SetView(TCodeMemoView* view) { view_ = view; }
    void SetFontMetrics(std::shared_ptr<const TFontMetrics> metrics);
    const TFontMetrics& FontMetrics() const { return *metrics_; }
    void SetClientSize(int width, int height);
    int ClientWidth() const { return clientWidth_; }
    int ClientHeight() const { return clientHeight_; }
    int Gutter() const { return gutter_; }
    int Margin() const { return margin_; }
    int TextLeft() const;
    int VisibleRows() const;
    int VisibleColumns() const;
    RecIndex TopLine() const { return topLine_; }
    void SetTopLine(RecIndex line);
    DisplayColumn LeftColumn() const { return leftColumn_; }
    void SetLeftColumn(DisplayColumn col);
    void ScrollToCaret();
    void LineScroll(DisplayColumn columns, RecIndex lines);
    // Display column of a character index within a record (TABs expanded).
    DisplayColumn ColumnOf(RecIndex rec, std::size_t index) const;
    // Character index within a record at a display column.
    std::size_t IndexAtColumn(RecIndex rec, DisplayColumn col) const;
    DisplayColumn NextTabStop(DisplayColumn col) const;
    struct Point {
        int x, y;
    };
    Point PosFromChar(TextOffset off) const;
    // -1 when the point lies outside the text area.
    TextOffset CharFromPos(int x, int y) const;
    std::vector<TRowLayout> LayoutRows() const;

    // --- the message interface ---
    std::intptr_t Perform(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam);

    // --- services of the desktop ---
    void SetClipboard(platform::Clipboard* clipboard) { clipboard_ = clipboard; }
    void SetDialogs(platform::Dialogs* dialogs) { dialogs_ = dialogs; }
    void Beep();
    void CutToClipboard();
    void CopyToClipboard();
    void PasteFromClipboard();

    // --- events ---
    TTextEvent OnTextChange;
    TNotifyEvent OnChange;
    TMarkEvent OnMarkChange;
    TMarkEvent OnMarkFree;
    TCommandEvent OnBookmarkCommand; // commands 20-39
    TCommandEvent OnPrintSelection;  // command 44
    TKeyboardActionEvent OnCommandRecognised;
    TCharTest fn_CharStartsWord;
    TCharTest fn_CharIsInWord;

protected:
    // The change word; OnChange follows when any bit is set.
    enum ChangeBits : unsigned {
        cbSelection = 1,
        cbText = 2,
        cbSize = 4,
        cbSettings = 8,
        cbScroll = 16,
        cbInsertMode = 32,
        cbOptions = 64,
        cbCommand = 128,
    };
    // Display column of a text offset within its record.
    DisplayColumn ColumnAt(TextOffset off) const;

    // Edits of the chain (CodeMemoEdit.cpp).
    void InsertText(TextOffset at, std::string_view raw);
    void InsertStored(TextOffset at, std::string_view stored);
    void DeleteRange(TextOffset from, TextOffset to);
    void Invalidate();

    // For the highlighting side. The change notification hands the dirty record over before
    // OnChange (it is forgotten afterwards); every edit of the chain, this control's or another's
    // sharing it, is reported; SM_APPLYSETTINGS re-applies the settings record.
    virtual void DirtyRecordHandedOver(RecIndex rec) { (void)rec; }
    virtual void TextEdited(TextOffset start, TextOffset extent) {
        (void)start;
        (void)extent;
    }
    virtual void ApplySettings() { Invalidate(); }

private:
    void InsertPiece(TextOffset at, std::string_view piece, RecIndex& first, RecIndex& last);
    void AfterInsert(TextOffset at, TextOffset length, RecIndex first, RecIndex last);
    void Rewrap(RecIndex first, RecIndex last);
    void ShiftTop(TextOffset at, TextOffset extent);
    void FlagRange(RecIndex first, RecIndex last, std::uint32_t flags);
    void TextChanged(TextOffset start, TextOffset extent);
    void SharedTextChanged(TextOffset start, TextOffset extent);
    std::vector<TextOffset> SelectedLineStarts() const;
    void ReselectAfterBlockEdit(TextOffset start, TextOffset end, bool caretAtEnd);
    void SaveWithRetries(TStream& stream, TTextForm form);
    void WriteAll(TStream& stream);
    void LoadBlocks(TStream& stream, bool detectLineEnd);
    void Replay(TextOffset from, TextOffset to, const std::string& text);
    void ReplayLogged(const std::function<void()>& walk);
    // Commands by concern.
    void RunCommand(int command, std::intptr_t param, bool extend);
    void MoveCaret(TextOffset to, bool extend);
    void MoveLeft(bool extend);
    void MoveRight(bool extend);
    void MoveVertically(RecIndex records, bool extend);
    void MoveLineEnd(bool extend);
    void DeleteChar(bool before);
    void DeleteLine();
    void DeleteLastWord();
    void TypeChar(char c);
    void TabToColumn(bool searchAbove);
    DisplayColumn LineEndColumn(RecIndex rec) const;
    TTextStore::Pos CaretPos() const { return store_->Locate(caret_); }
    friend class TCodeMemoStrings;
    friend std::intptr_t PerformMessage(TCustomCodeMemo&, unsigned, std::uintptr_t, std::intptr_t);

    std::shared_ptr<TTextStore> store_;
    TLineTrackManager tracks_;
    std::unique_ptr<TCodeMemoStrings> lines_;
    TEdStream edStream_;
    TUndoStack undo_;
    TSM_CaretControl caretControl_{*this};
    TKeyboardActionContoller* keyMap_ = nullptr;
    std::unique_ptr<TKeyboardActionContoller> ownKeyMap_;
    std::vector<DisplayColumn> tabColumns_; // 0-based, ascending
    std::unique_ptr<TMarkList> marks_;      // created on first use
    std::array<TextOffset, 10> bookmarks_;

    TextOffset anchor_ = 0, caret_ = 0;
    int longestLine_ = 0;
    RecIndex topLine_ = 0;
    TextOffset topOffset_ = 0;
    DisplayColumn leftColumn_ = 0;
    DisplayColumn desiredColumn_ = 0;
    DisplayColumn virtualColumn_ = -1; // -1: no virtual caret
    RecIndex dirty_ = -1;

    std::uint32_t options_ = kInitialOptions;
    int tabDefault_ = 4;
    int indentStep_ = 1;
    TSaveFormat saveFormat_ = sfUNIX;
    TLineEnd lineEnd_ = TLineEnd::leLF;
    TSelLineStyle selLineStyle_ = lsLF;
    bool readOnly_ = false;
    bool insertMode_ = true;
    bool wantTab_ = true, wantReturns_ = true;
    bool pendingIndent_ = false;
    bool loading_ = false;
    std::string fileName_;

    int updateCount_ = 0;
    bool updateLock_ = false;
    unsigned changeBits_ = 0;

    std::shared_ptr<const TFontMetrics> metrics_;
    int clientWidth_ = 0, clientHeight_ = 0;
    int gutter_ = 34, margin_ = 2;
    TCodeMemoView* view_ = nullptr;
    platform::Clipboard* clipboard_ = nullptr;
    platform::Dialogs* dialogs_ = nullptr;
};

// Keeps an undo group open for a scope, so that a failing edit cannot leave one open.
class TUndoGroupScope {
public:
    TUndoGroupScope(TCustomCodeMemo& memo, int code)
        : memo_(memo), code_(code), open_(memo.BeginUndoGroup(code)) {}
    ~TUndoGroupScope() {
        if (open_) memo_.EndUndoGroup(code_);
    }
    TUndoGroupScope(const TUndoGroupScope&) = delete;
    TUndoGroupScope& operator=(const TUndoGroupScope&) = delete;

private:
    TCustomCodeMemo& memo_;
    int code_;
    bool open_;
};

} // namespace morvane::editor
