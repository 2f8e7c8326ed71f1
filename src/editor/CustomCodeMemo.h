#pragma once
// The editor control without a window: text, selection, loading and saving, change
// notifications and the layout a view paints. The Qt widget (editor/qt) hosts it.

#include "editor/CodeMemoStrings.h"
#include "editor/EdStream.h"
#include "editor/FontMetrics.h"
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
    smoUseTAB = 1u << 23,
    smoShowGutter = 1u << 16,
    smoTitleAsFilename = 1u << 18,
};
inline constexpr std::uint32_t kInitialOptions = 0x3FFDBF0;

using TNotifyEvent = std::function<void(TCustomCodeMemo* Sender)>;
using TTextEvent =
    std::function<void(TCustomCodeMemo* Sender, TextOffset Start, TextOffset Extent)>;
using TMarkEvent = std::function<void(TCustomCodeMemo* Sender, std::uint32_t Value)>;
using TCharTest = std::function<bool(char)>;

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
    friend class TCodeMemoStrings;
    friend std::intptr_t PerformMessage(TCustomCodeMemo&, unsigned, std::uintptr_t, std::intptr_t);

    std::shared_ptr<TTextStore> store_;
    TLineTrackManager tracks_;
    std::unique_ptr<TCodeMemoStrings> lines_;
    TEdStream edStream_;
    TUndoStack undo_;
    std::unique_ptr<TMarkList> marks_; // created on first use
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

} // namespace morvane::editor
