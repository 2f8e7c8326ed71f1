#pragma once
// The editor control without a window: text, selection, loading and saving, change
// notifications and the layout a view paints. The Qt widget (gui/editor) hosts it.

#include "core/editor/CodeMemoEvents.h"
#include "core/editor/CodeMemoOptions.h"
#include "core/editor/CodeMemoStrings.h"
#include "core/editor/CodeMemoTypes.h"
#include "core/editor/CodeMemoView.h"
#include "core/editor/CustomBookmarks.h"
#include "core/editor/DataTransfer.h"
#include "core/editor/EdStream.h"
#include "core/editor/ExportWriter.h"
#include "core/editor/FontMetrics.h"
#include "core/editor/KeyboardActionContoller.h"
#include "core/editor/LineBreaks.h"
#include "core/editor/PositionMarks.h"
#include "core/editor/Streams.h"
#include "core/editor/TextEncoding.h"
#include "core/editor/TextStore.h"
#include "core/editor/UndoStack.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace morvane::platform {
class Clipboard;
class Dialogs;
} // namespace morvane::platform

namespace morvane::editor {

class TCustomCodeMemo;
class TCodeTemplates;
class TAutoReplace;
class TMacroKeywords;

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

// The handlers (OnChange and the rest) are members through TCodeMemoEvents.
class TCustomCodeMemo : public TCodeMemoEvents {
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
    // Lines the gutter numbers: the records that start a line (not the pieces of a wrapped or
    // split one), counted from the line breaks.
    RecIndex NumberedLines() const {
        if (store_->Empty()) return 0;
        return store_->LineBreaks() + (store_->EndsWithCR(LineCount() - 1) ? 0 : 1);
    }
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
    // The same with text already in the stored form (line breaks CR only), taken over without
    // another copy: for replacements of a large part of the text.
    void ReplaceSelStored(std::string stored, bool repaint = true);
    // Replaces the selection with a stream's content (SM_LOADSTREAM).
    void ReplaceSelFromStream(TStream& stream);
    // Writes the selection to a stream in the given form (SM_SAVESTREAM).
    // The HTML and RTF forms highlight the whole text first.
    std::size_t WriteSelection(TStream& stream, TTextForm form);
    // Writes the whole text, or the selection when there is one, as HTML or RTF to a file
    // (replaced safely, as saving does). The document's modified state is left alone.
    void ExportToFile(const std::string& fileName, TTextForm form);

    // --- commands and typing (CodeMemoCommands.cpp, CodeMemoTyping.cpp) ---
    // Runs an editor command; extend keeps the anchor where it is (Shift held).
    virtual void ExecuteCommand(int command, std::intptr_t param, bool extend);
    // One key down as a shortcut value (key code plus kShortcut* bits). True when the key map
    // took it; the character the key would type must then be dropped.
    bool KeyDown(std::uint16_t shortcut);
    // A typed byte, after KeyDown has had its chance.
    void KeyPress(char c);
    // A character typed through the desktop's input (keys, dead keys, compose sequences, input
    // methods): its bytes in the document's encoding are typed. One the encoding cannot hold
    // is refused with a beep and OnCharRefused; false when nothing was typed.
    bool TypeCharacter(char32_t code);
    // Nullptr: the built-in defaults.
    void SetKeyMap(TKeyboardActionContoller* map) { keyMap_ = map; }
    // The comment tokens Toggle comment writes (the highlighter's language gives them).
    void SetCommentTokens(TCommentTokens tokens) { commentTokens_ = std::move(tokens); }
    const TCommentTokens& CommentTokens() const { return commentTokens_; }
    // The whole-line commands (CodeMemoLines.cpp); each is one undo step.
    void DuplicateLines();
    void MoveLines(bool down);
    void ToggleComment();
    void DeleteLines();
    TKeyboardActionContoller& KeyMap();
    bool InsertMode() const { return insertMode_; }
    void SetInsertMode(bool value);
    bool WantTab() const { return wantTab_; }
    void SetWantTab(bool value) { wantTab_ = value; }
    bool WantReturns() const { return wantReturns_; }
    void SetWantReturns(bool value) { wantReturns_ = value; }
    // Whether the control, placed in a dialog, handles this key itself: the arrow keys and
    // characters always, TAB with WantTab and Return with WantReturns.
    bool WantsDialogKey(std::uint16_t shortcut) const;
    // TemplateKeyHook and AutoReplaceKeyHook (TCodeMemoEvents) run before the key map.
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
    // The one place that knows how long a character is: in UTF-8 one valid sequence is one
    // character and any other byte is a character of its own. Each returns a character start
    // (or the text's end); a position inside a character counts as that character's start.
    // Search and every caret movement go through these.
    TextOffset NextCharBoundary(TextOffset pos) const;
    TextOffset PrevCharBoundary(TextOffset pos) const;
    // The start of the character holding pos.
    TextOffset CharStartAt(TextOffset pos) const;
    // How the document's bytes read as characters (shared by every control showing the chain).
    // Changing it re-reads the same bytes: nothing in the text changes.
    TTextEncoding Encoding() const { return store_->Encoding(); }
    void SetEncoding(TTextEncoding e);
    // Whether the text starts with the UTF-8 byte order mark (kept as the text's first
    // character; the line and document start keys stop after it).
    bool HasBom() const;
    // The run of equal token values around an offset, and where it starts.
    struct TokenRun {
        std::string text;
        TextOffset start;
    };
    TokenRun TokenAt(TextOffset off) const;
    // Like TokenAt, but the run goes on across records up to a line break (a wrapped line),
    // at most 4096 characters each way; token is -1 where the text has no token values.
    TokenRun TokenRunAt(TextOffset off, int& token) const;
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

    // Caret by line and column, both 1-based, for a status bar and "go to line". Lines are the
    // text's own (wrapped rows and a long line's records are one line); the column is the
    // display column from the line's start.
    struct LineColumn {
        RecIndex line;
        DisplayColumn column;
    };
    LineColumn CaretPosition() const;
    // To the column-th character (1-based) of the text's line; values below 1 count as 1; a line
    // past the last goes to the last, or to the end of the text when it ends with a line break.
    void GoToPosition(DisplayColumn column, RecIndex line);
    // The first record of a text line (1-based); -1 past the last line.
    RecIndex RecordOfLine(RecIndex line) const;

    // --- state ---
    // True while the log stands anywhere but where the text was last loaded or saved.
    bool Modified() const { return !undo_.AtClean(); }
    // false: the text as it is now is the file's, and the log is forgotten.
    void SetModified(bool value);
    // Names the text as it is now (TUndoStack::State), to hand to MarkSaved once it is written.
    // Naming the text ends the typing run, so that the named text stays one undo step away.
    std::uint64_t TextState() const {
        typingRun_.active = false;
        return undo_.State();
    }
    // The text named state is now the file's. Edits made since (typing while a save was on its
    // way) leave the text modified, and undoing them back to state makes it unmodified.
    void MarkSaved(std::uint64_t state);
    TUndoStack& UndoStack() { return undo_; }
    bool ReadOnly() const { return readOnly_; }
    void SetReadOnly(bool value) { readOnly_ = value; }
    std::uint32_t Options() const { return options_; }
    void SetOptions(std::uint32_t options);
    int TabDefault() const { return tabDefault_; }
    void SetTabDefault(int value);
    const std::string& FileName() const { return fileName_; }
    bool Loading() const { return loading_; }

    // --- bookmarks (CodeMemoAids.cpp) ---
    // Toggles numbered bookmark index (0-9) on the caret's line; ECodeMemo "Bookmark index
    // range error" above 9. A line carries one numbered bookmark at most.
    void SetBookmark(int index);
    // The same at a 1-based record and character index (values below 1 count as 1).
    void SetBookmarkAt(int index, RecIndex line, int column);
    // Caret to the bookmark's line at its column, or the line's end when the line is shorter;
    // the line comes to the middle of the window. Nothing happens when it is not set.
    void GotoBookmark(int index);
    // The record carrying a numbered bookmark; -1 when it is not set.
    RecIndex BookmarkRecord(int index) const;
    // Named bookmarks; they follow edits and are cleared when the text becomes empty.
    TCustomBookmarks& CustomBookmarks() { return customBookmarks_; }

    // --- code templates and auto-replace (CodeMemoAids.cpp) ---
    // The stores of the settings record in use; nullptr: none. The key hooks call
    // TemplateKey and AutoReplaceKey.
    void SetCodeTemplates(TCodeTemplates* templates) { templates_ = templates; }
    void SetAutoReplace(TAutoReplace* autoReplace) { autoReplace_ = autoReplace; }
    TCodeTemplates* CodeTemplates() const { return templates_; }
    TAutoReplace* AutoReplace() const { return autoReplace_; }
    TKeyHookResult TemplateKey(std::uint16_t key, unsigned shift);
    TKeyHookResult AutoReplaceKey(std::uint16_t key, unsigned shift);
    // A template chosen from the list that TemplateKey opened: replaces the selected partial
    // word when the name contains it, else goes after it.
    void ExpandChosenTemplate(const std::string& name, const std::string& partial);
    // Replaces the selection with an expansion of store, in one undo group: continuation lines
    // indented to the selection's start column and the caret at the marker, as the store's
    // flags ask.
    void InsertExpansion(std::string expansion, const TMacroKeywords& store);
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
    // A text loaded as it arrives (a download): BeginLoad empties the text, LoadPiece takes its
    // bytes in order, EndLoad finishes as LoadFromStream does. AbandonLoad stops where the text
    // got to, without deciding its encoding or line ends. Nothing may edit the text in between.
    void BeginLoad();
    void LoadPiece(std::string_view bytes);
    void EndLoad();
    void AbandonLoad();
    bool LoadingPieces() const { return pieceLoad_ != nullptr; }
    void SaveToStream(TStream* stream);
    void LoadFromFile(const std::string& fileName);
    // The file read again, as a whole, in place of the text; the new text is the file's. The
    // stream is read to its end before the text changes, so a failed read changes nothing.
    // undoable: the replaced text stays one undo step back (edits that were not saved).
    void ReloadFromStream(TStream& stream, bool undoable);
    void ReloadFromFile(const std::string& fileName, bool undoable);
    void SaveToFile(const std::string& fileName);
    TSaveFormat SaveFormat() const { return saveFormat_; }
    void SetSaveFormat(TSaveFormat f) { saveFormat_ = f; }
    // The line ends of the last file or stream loaded (LF for a text without any break).
    TLineEnd LineEnd() const { return lineEnd_; }

    // --- block indent ---
    // 0 (the default): one level is the default tab width.
    int IndentStep() const { return indentStep_; }
    void SetIndentStep(int value) { indentStep_ = std::clamp(value, 0, 255); }
    // Puts steps characters (0: IndentStep) before every line the selection touches: TABs when
    // useTabs is asked for and smoUseTAB is on, else blanks. A level of the tab width is one
    // TAB with smoUseTAB, else that many blanks. One undo step.
    void BlockIndent(int steps, bool useTabs);
    // Removes up to steps (0: IndentStep) leading blanks, TABs and no-break spaces from every
    // line the selection touches; a level of the tab width takes a TAB or up to that many
    // blanks. One undo step.
    void BlockUnindent(int steps);
    // Characters that open a block in the language: Enter after one of them (the last
    // non-blank character before the caret) indents the new line one level more, with
    // smoAutoIndent. Empty: none.
    const std::string& IndentOpeners() const { return indentOpeners_; }
    void SetIndentOpeners(std::string chars) { indentOpeners_ = std::move(chars); }

    // --- brackets (CodeMemoBrackets.cpp) ---
    // A bracket next to a position and its partner. Tags are the "<name" and "</name" of
    // markup, so length may be more than one.
    struct BracketMatch {
        TextOffset at = -1, length = 0;
        TextOffset partner = -1, partnerLength = 0; // partner -1: none within the bound
    };
    enum TTagMatch { tmNone, tmHtml, tmXml };
    TTagMatch TagMatch() const { return tagMatch_; }
    void SetTagMatch(TTagMatch mode) { tagMatch_ = mode; }
    // Bytes a search for a partner reads at most, so that an unbalanced bracket in a large
    // text costs a bounded time.
    static constexpr TextOffset kBracketScanLimit = 64 << 10;
    // The bracket just before pos (else the one at pos) and its partner. Where the text has
    // token values, only brackets of the first one's token count, so those in strings and
    // comments are passed over from code and the other way round.
    std::optional<BracketMatch> MatchBracket(TextOffset pos,
                                             TextOffset limit = kBracketScanLimit) const;
    // The caret goes to the same side of the partner as it stood of the bracket; false when
    // there is no partner.
    bool JumpToMatchingBracket();
    // Typed characters join one undo step while they continue a word (or a run of other
    // characters), the caret did not move, and no pause longer than this came between.
    static constexpr std::int64_t kTypingPauseMs = 2000;
    // Milliseconds for that pause (tests give their own).
    void SetTypingClock(std::function<std::int64_t()> clock) { typingClock_ = std::move(clock); }

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
    // The gutter as shown: at least Gutter(), and with line numbers on wide enough for the
    // digits of the largest number (NumberedLines) when the view has said how wide a digit is. It
    // changes only in FitGutter, so that the wrap width holds still while a load or a re-wrap adds
    // records.
    int GutterWidth() const { return fittedGutter_; }
    // The widest digit of the gutter's font in pixels; 0 keeps the gutter at Gutter().
    void SetGutterDigitWidth(int pixels);
    // Takes up the width the line count and digit width call for: re-wraps and repaints.
    void FitGutter();
    static constexpr int kGutterPadding = 8; // left of the number and before the separator
    // 0, or from 34 to 20 % of the client width; other values (and any while the width is 0)
    // are ignored.
    void SetGutter(int value);
    int Margin() const { return margin_; }
    // Not above the average character width.
    void SetMargin(int value);
    int RightMargin() const { return rightMargin_; }
    void SetRightMargin(int value);
    bool WordWrap() const { return options_ & smoWordWrap; }
    void SetWordWrap(bool on) { SetOptions(on ? options_ | smoWordWrap : options_ & ~smoWordWrap); }
    int WrapAtColumn() const { return wrapAtColumn_; }
    void SetWrapAtColumn(int value);
    const std::string& WrapOverride() const { return wrapOverride_; }
    void SetWrapOverride(std::string_view value);
    bool ShowFocusLine() const { return showFocusLine_; }
    void SetShowFocusLine(bool value);
    // Columns a wrapped piece may take.
    int WrapWidth() const;
    // Re-cuts every line of the text. With a view that defers wrapping only the rows in view
    // are cut at once; the other lines keep their old cuts until ContinueWrap reaches them.
    void RewrapAll();
    // Lines still holding cuts from before the last change of wrap width or options.
    bool WrapPending() const { return !wrapPending_.empty(); }
    // Re-cuts pending lines from the top of the text, about maxRecords records; true while
    // some are left.
    bool ContinueWrap(RecIndex maxRecords);
    // Re-cuts the pending lines that hold the given number of rows from offset from on.
    void EnsureRowsWrapped(TextOffset from, int rows);
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
    // The same, counted on from column start (a record that continues a line).
    DisplayColumn ColumnFrom(RecIndex rec, std::size_t index, DisplayColumn start) const;
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
    // Number of the physical line that a record belongs to, 1-based. The answer is remembered
    // (one record) to make the next question near it cheap, unless remember is false.
    RecIndex PhysicalLineNumber(RecIndex rec, bool remember = true) const;
    TScrollInfo ScrollInfo() const;
    TScrollStyle ScrollBars() const { return scrollBars_; }
    void SetScrollBars(TScrollStyle value);
    // A thumb moved to a vertical scroll bar position.
    void VScrollTo(int position);
    // One wheel notch; false when a handler took it.
    bool WheelNotch(bool up);
    bool Printing() const { return printing_; }

    // --- the message interface ---
    std::intptr_t Perform(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam);

    // --- services of the desktop ---
    void SetClipboard(platform::Clipboard* clipboard) { clipboard_ = clipboard; }
    void SetDialogs(platform::Dialogs* dialogs) { dialogs_ = dialogs; }
    platform::Dialogs* DialogsService() const { return dialogs_; }
    void Beep();
    void CutToClipboard();
    // False when nothing was stored (nothing selected, or no format chosen has data).
    bool CopyToClipboard();
    void PasteFromClipboard();
    TSM_ClipFormats ClipCopyFormats() const { return clipCopyFormats_; }
    void SetClipCopyFormats(TSM_ClipFormats formats) { clipCopyFormats_ = formats; }
    // Text for other programs (text/plain, drags): the document's bytes as UTF-8, a byte
    // that is no character as U+FFFD. Exact bytes travel in kRawTextMimeType beside it.
    std::string UnicodeText(std::string_view bytes) const { return ToUtf8(Encoding(), bytes); }
    // UTF-8 from other programs into the document's encoding; false (with a beep and
    // OnCharRefused) when it holds a character the encoding cannot.
    bool TextFromUnicode(std::string_view utf8, std::string& out);
    // Larger selections are copied as text only.
    static constexpr TextOffset kMaxFormattedCopy = 16 << 20;
    // The selection as rich text and as an HTML page, for the clipboard.
    virtual std::string SelectionAsRtf();
    std::string SelectionAsHtml();
    // The colours, fonts and names an export writes. Without a highlighter: the default look
    // with the remembered file name and the current date.
    virtual TExportLook ExportLook() const;
    // Highlights the whole text before an export; nothing to do without a highlighter.
    virtual void PrepareExport() {}

    // --- mouse and drops (CodeMemoMouse.cpp) ---
    // The text offset under a point, clamped into the text: above the text the first row,
    // below it the last, left of the text the line's start.
    TextOffset OffsetAtPoint(int x, int y) const;
    // The record under a pixel row, -1 below the text; with continuation records, the first
    // record of its line.
    RecIndex LineAtY(int y, bool physical) const;
    // Display column under x, rounded to the nearest column boundary.
    DisplayColumn ColumnAtX(int x) const;
    // Moves the caret to a point; the anchor stays with extend. Where a virtual caret is
    // allowed the caret may stand beyond the line's end.
    void PlaceCaretAtPoint(int x, int y, bool extend);
    // The word (or run of other characters) around an offset, for a double click.
    std::pair<TextOffset, TextOffset> WordRangeAt(TextOffset off) const;
    // From the start of the record holding off to the start of the next one.
    std::pair<TextOffset, TextOffset> LineRangeAt(TextOffset off) const;
    // Shift-click: the nearer end moves: the start when off lies before it, else the end.
    void ExtendSelectionTo(TextOffset off);
    // Moves or copies text to a drop point as one undo step. False when nothing changed (a
    // drop onto its own selection, ReadOnly).
    bool DropText(std::string_view text, TextOffset dropPoint, bool move, bool fromThisControl);
    // Text put in at an offset as one undo step, the caret after it and nothing selected (a
    // middle click pasting the primary selection). False when nothing changed.
    bool PasteAt(std::string_view text, TextOffset at);
    // A whole drop: OnDataDrop first, then the preferred offered format. The offer carries the
    // bytes of each format offered and the file names; move tells a move from a copy.
    struct TDropOffer {
        std::uint16_t sourceTypes = 0;
        std::string html, text; // UTF-8, as other programs give them
        std::vector<std::string> files;
        bool textIsRaw = false; // text holds exact bytes from this program (no conversion)
    };
    // Returns whether text was inserted; the file list goes to OnFilesDropped.
    bool AcceptDrop(TDropOffer offer, TextOffset dropPoint, TPixelPoint atPoint, bool move,
                    bool fromThisControl);

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
    bool printing_ = false;

    // For the highlighting side. The change notification hands the dirty record over before
    // OnChange (it is forgotten afterwards); every edit of the chain, this control's or another's
    // sharing it, is reported; SM_APPLYSETTINGS re-applies the settings record.
    virtual void DirtyRecordHandedOver(RecIndex rec) { (void)rec; }
    virtual void TextEdited(TextOffset start, TextOffset extent) {
        (void)start;
        (void)extent;
    }
    virtual void ApplySettings() { Invalidate(); }
    // The selection changed (told with the change notification).
    virtual void SelectionChanged() {}
    // SM_FIND (wParam: flags, lParam: the search text, NUL-terminated) and SM_REPLACEDIALOG
    // (wParam: flags), answered by a control that can search.
    virtual std::intptr_t SearchMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam) {
        (void)msg;
        (void)wParam;
        (void)lParam;
        return -1;
    }
    // Shows the template choice list; false when this control has none (the core alone).
    virtual bool ShowTemplatePopup(const TTemplatePopup& popup) {
        (void)popup;
        return false;
    }

private:
    // edited: first..last were just edited, the rest of their lines keeps its earlier cuts.
    void RewrapLines(RecIndex first, RecIndex last, bool edited = false);
    bool WrapPhysicalLine(RecIndex& first, RecIndex& last, RecIndex edited);
    bool WrapWholeLine(RecIndex p, RecIndex& first, RecIndex& last);
    std::size_t CutPiece(std::string_view buf, std::size_t start, bool complete, bool wrap) const;
    bool WrapOverrideActive() const;
    void ForgetLineNumbers(RecIndex from);
    // Pending re-wrapping, as text ranges (sorted, disjoint) that offsets of edits move.
    struct LineSpan {
        RecIndex first, last;
        TextOffset start, end;
    };
    LineSpan LineSpanOf(RecIndex rec) const;
    int WantedGutterWidth() const;
    bool WrapPendingIn(TextOffset from, TextOffset to) const;
    void WrapDone(TextOffset from, TextOffset to);
    void MoveWrapPending(TextOffset start, TextOffset extent);
    void AfterWrapStep(RecIndex count0);
    void InsertPiece(TextOffset at, std::string_view piece, RecIndex& first, RecIndex& last);
    void AppendStored(std::string_view stored);
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
    // Inserts a stream at the caret, its line breaks normalised.
    void LoadBlocks(TStream& stream);
    // Inserts bytes at the caret with their line breaks normalised (empty bytes: the end).
    void InsertNormalised(LineBreakNormaliser& normaliser, std::string_view bytes,
                          std::string& stored);
    void FinishLoad(bool wrapLater, TTextEncoding before);
    [[noreturn]] void AbandonLoadAndRethrow();
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
    void TypeChar(std::string_view bytes); // one character's bytes
    bool JoinsTypingRun(char c) const;
    // Columns of one indent level: IndentStep, or the default tab width when that is 0.
    int IndentWidth() const { return indentStep_ > 0 ? indentStep_ : tabDefault_; }
    // The longest name of store that ends at the caret, and where it starts.
    struct MacroMatch {
        std::string name;
        TextOffset start;
    };
    std::optional<MacroMatch> MacroBefore(const TMacroKeywords& store) const;
    bool ExpandMatch(const MacroMatch& match, bool autoReplace);
    void TabToColumn(bool searchAbove);
    void EncodingChanged();
    DisplayColumn LineEndColumn(RecIndex rec) const;
    TTextStore::Pos CaretPos() const { return store_->Locate(caret_); }
    friend class TCodeMemoStrings;
    friend std::intptr_t PerformMessage(TCustomCodeMemo&, unsigned, std::uintptr_t, std::intptr_t);

    std::shared_ptr<TTextStore> store_;
    TLineTrackManager tracks_;
    std::unique_ptr<TCodeMemoStrings> lines_;
    TEdStream edStream_;
    TUndoStack& undo_; // the chain's log, shared with every control showing it
    TSM_CaretControl caretControl_{*this};
    TKeyboardActionContoller* keyMap_ = nullptr;
    TCommentTokens commentTokens_;
    // The physical lines the selection touches: from the start of the first to the end of the
    // last (after its line break, when it has one).
    std::pair<TextOffset, TextOffset> SelectedLines() const;
    TextOffset PhysicalLineStart(TextOffset off) const;
    TextOffset PhysicalLineEnd(TextOffset off) const;
    // Replaces [from, to) as one undo step and selects anchor..caret afterwards.
    void ReplaceLines(TextOffset from, TextOffset to, const std::string& text, TextOffset anchor,
                      TextOffset caret);
    std::unique_ptr<TKeyboardActionContoller> ownKeyMap_;
    std::vector<DisplayColumn> tabColumns_;           // 0-based, ascending
    std::unique_ptr<TMarkList> marks_;                // created on first use
    std::array<std::uint16_t, 10> bookmarkColumns_{}; // 1-based; 0: never set
    TCustomBookmarks customBookmarks_;
    TCodeTemplates* templates_ = nullptr;
    TAutoReplace* autoReplace_ = nullptr;

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
    int indentStep_ = 0;
    std::string indentOpeners_;
    TTagMatch tagMatch_ = tmNone;
    // The typing run that the next typed character may join.
    struct TypingRun {
        bool active = false;
        TextOffset end = 0;
        std::uint64_t state = 0;
        std::int64_t time = 0;
    };
    mutable TypingRun typingRun_;
    bool typing_ = false;
    std::function<std::int64_t()> typingClock_;
    TSaveFormat saveFormat_ = sfUNIX;
    TLineEnd lineEnd_ = TLineEnd::leLF;
    TSelLineStyle selLineStyle_ = lsLF;
    bool readOnly_ = false;
    bool insertMode_ = true;
    bool wantTab_ = true, wantReturns_ = true;
    TSM_ClipFormats clipCopyFormats_ = smTEXT | smRTF;
    bool pendingIndent_ = false;
    bool loading_ = false;
    struct PieceLoad {
        LineBreakNormaliser normaliser;
        TUtf8Validator utf8;
        std::string pending; // gathered up to a read's size: small pieces cost the chain more
        std::string stored;
        bool wrapLater = false;
        bool loadingBefore = false;
        TTextEncoding before = TTextEncoding::teWindows1252;
    };
    std::unique_ptr<PieceLoad> pieceLoad_;
    std::string fileName_;

    int updateCount_ = 0;
    bool updateLock_ = false;
    unsigned changeBits_ = 0;

    std::shared_ptr<const TFontMetrics> metrics_;
    int clientWidth_ = 0, clientHeight_ = 0;
    int gutter_ = 34, margin_ = 2;
    int gutterDigitWidth_ = 0, fittedGutter_ = 34;
    int rightMargin_ = 80;
    int wrapAtColumn_ = 0;
    std::string wrapOverride_ = ">|:";
    bool showFocusLine_ = false;
    TScrollStyle scrollBars_ = ssBoth;
    // The physical line number of one record, so that painting does not count from the start.
    mutable RecIndex lineNoRec_ = -1, lineNoValue_ = 0;
    // The display column at one record start inside a long line, so that the status bar's
    // column near the end of a line of gigabytes does not count from the line's start on every
    // key. Only the text before it decides it: the tab stops and the encoding forget it, and so
    // do edits before it, unless its line up to it is plain (a cell a byte, no TAB) and stays so.
    mutable TextOffset columnMarkAt_ = -1, columnMarkLine_ = 0;
    mutable DisplayColumn columnMarkValue_ = 0;
    mutable bool columnMarkPlain_ = false;
    void MoveColumnMark(TextOffset start, TextOffset extent);
    TCodeMemoView* view_ = nullptr;
    std::vector<std::pair<TextOffset, TextOffset>> wrapPending_;
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
