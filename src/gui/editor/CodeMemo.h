#pragma once
// The editor control as a Qt widget. The core (TCustomCodeMemo) holds the text and computes
// the layout; this class measures the font, paints the rows the core lays out and turns scroll
// bars, wheel and mouse into core calls.

#include "core/editor/CustomCodeMemo.h"
#include "core/highlight/CodeMemoSearch.h"
#include "core/highlight/MatchMarks.h"
#include "core/highlight/ParserSlots.h"
#include "gui/editor/QtFontMetrics.h"

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QColor>
#include <QCursor>
#include <QKeySequence>
#include <QPointer>

#include <functional>
#include <memory>

class QDrag;
class QMimeData;
class QTimer;
#include <QFont>
#include <QPixmap>

#include <array>
#include <memory>
#include <unordered_map>

class QPainter;
class QPrinter;

namespace morvane::editor {

class TFindDialog;

class TCodeMemo : public QAbstractScrollArea,
                  public TCustomCodeMemo,
                  public highlight::TParserSlots,
                  private TCodeMemoView {
public:
    // Idle work ahead of the view (highlighting and wrapping rows nobody looks at yet) waits
    // while anybody holds it: a transfer in progress gets the event loop first. Holds count;
    // each HoldBackgroundWork(true) is ended by one HoldBackgroundWork(false).
    static void HoldBackgroundWork(bool hold);
    static bool BackgroundHeld();
    explicit TCodeMemo(QWidget* parent = nullptr);
    ~TCodeMemo() override;

    // A fixed-pitch font is expected; the default is the desktop's fixed font.
    void SetFont(const QFont& font);
    const QFont& Font() const { return font_; }

    // Colours live in the settings record in use; these read and write it.
    QColor GutterColor() const;
    void SetGutterColor(const QColor& c);
    QColor MarginColor() const;
    void SetMarginColor(const QColor& c);
    QColor DefaultText() const; // style 0
    QColor DefaultBack() const;
    QColor SelTextColor() const;
    QColor SelTextBack() const;
    void SetSelTextColor(const QColor& c);
    void SetSelTextBack(const QColor& c);
    // Style 0: the plain text.
    void SetDefTextColor(const QColor& c);
    void SetDefBackColor(const QColor& c);
    void SetDefFontStyle(std::uint8_t fontStyleBits);
    // A settings colour (0x00BBGGRR, or a system colour reference) as the desktop shows it.
    QColor ColorOf(std::int32_t value) const;
    // The same as the view paints it: under a dark palette, while the highlighter's colours are
    // as shipped, its counterpart in the dark set. Printing and exports keep the light set.
    QColor ViewColor(std::int32_t value) const;
    bool FollowsDarkPalette() const;
    QColor ControlCharColor = QColor(128, 128, 128);
    // Multiplied into a light background, or screened onto a dark one.
    QColor BracketMatchColor = QColor(150, 225, 150);
    QColor BracketMatchColorDark = QColor(40, 100, 40);
    QColor CurrentLineColor = QColor(235, 242, 255);
    QColor CurrentLineColorDark = QColor(28, 28, 36);
    bool HideSelection = true; // the selection shows only while the control has the focus
    QCursor HyperCursor{Qt::PointingHandCursor};
    // Runs a drag this control starts and returns the action the drop took. By default a
    // QDrag runs; tests replace it, since a real drag needs a window system's drag loop.
    std::function<Qt::DropAction(QDrag& drag, Qt::DropActions allowed)> RunDrag;
    // Images for bookmarks 0-9 and for the gutter mark bits; drawn ones until set.
    std::array<QPixmap, 10> BookmarkImages;
    std::array<QPixmap, 16> GutterImages;
    QPixmap WrapImage;

    // Prints every line, or the lines the selection touches, on the printer's pages.
    void Print(QPrinter& printer, bool selectionOnly);
    // The printer job title and the file name in the header; the remembered file name unless set.
    std::string PrintTitle() const;
    void SetPrintTitle(std::string title) { printTitle_ = std::move(title); }
    // Asks with the print dialog, then prints on the shared printer. False when cancelled.
    bool PrintWithDialog(bool selectionOnly);
    // The header and footer instead of the built-in ones: draws them with the painter and
    // narrows the rectangle to what is left for text.
    std::function<void(TCodeMemo* Sender, QPainter& Canvas, QRect& RenderRect,
                       bool& TransparentText)>
        OnPrintHeaderFooter;
    // Paints the rows as the view would, into any painter (an image, a printer).
    void PaintTo(QPainter& p, const QRect& area);

    // --- the primary selection and the context menu (CodeMemoPrimary.cpp) ---
    // Pastes the desktop's primary selection at a point of the viewport as one undo step; false
    // when there is none or nothing changed.
    bool PastePrimarySelection(QPoint at);
    // A context menu was asked for (right click or the menu key), at a global position; the
    // caret was moved to a right click outside the selection first.
    std::function<void(TCodeMemo* Sender, QPoint GlobalPos)> OnContextMenu;

    // --- find and replace (CodeMemoFind.cpp) ---
    highlight::TCodeMemoSearch& Searcher();
    // Opens the find (replace) dialog; flags as for SM_FIND (match case, regular expressions).
    void ShowFindDialog(unsigned flags);
    void ShowReplaceDialog(unsigned flags);
    // Repeats the last search; without one, the last text searched in this session, else the
    // find dialog.
    void FindNextCommand(unsigned flags);
    TFindDialog* FindDialog() const { return findDialog_; }
    TFindDialog* ReplaceDialog() const { return replaceDialog_; }
    // After a replace all, with the number of replacements.
    std::function<void(TCodeMemo* Sender, long long Count)> OnReplaceAllDone;
    // The dialog's regular-expressions box changed.
    std::function<void(TCodeMemo* Sender, bool On)> OnRegularExpressionsToggled;
    // The find and replace dialogs' own choices, shared by every editor; the program stores
    // them when the user changes a box (OnFindChoicesChanged).
    struct TFindChoices {
        bool wrapAround = true;
        bool wholeDocument = true;
        bool markAll = true;
        bool operator==(const TFindChoices&) const = default;
    };
    static TFindChoices& FindChoices();
    static std::function<void(const TFindChoices&)>& OnFindChoicesChanged();
    // While a dialog is open (and marking is chosen), every match of its text is marked in the
    // view, and counted in idle time: OnMatchCount hears the count once it is complete (atLeast:
    // the count stopped at its limit), and -1 when the marks go.
    const highlight::TMatchMarks* MatchMarks() const { return matchMarks_.get(); }
    bool Marking() const { return marking_; }
    std::function<void(TCodeMemo* Sender, long long Count, bool AtLeast)> OnMatchCount;
    QColor MatchMarkColor = QColor(255, 170, 0, 120);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    // Mouse, keys, drag and drop: CodeMemoInput.cpp.
    bool event(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    bool focusNextPrevChild(bool next) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    // Offers the selection as the desktop's primary selection.
    void SelectionChanged() override;
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;
    // Highlighting and settings (CodeMemoSettings.cpp).
    bool viewportEvent(QEvent* event) override;
    void DirtyRecordHandedOver(RecIndex rec) override;
    void TextEdited(TextOffset start, TextOffset extent) override;
    void ApplySettings() override;
    void SchedulePendingHighlight() override;
    std::intptr_t SearchMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam) override;
    bool ShowTemplatePopup(const TTemplatePopup& popup) override;
    // Exports use the palette for system colours and the font the control shows.
    TExportLook ExportLook() const override;
    void PrepareExport() override { HighlightAll(); }

private:
    highlight::TSearchRequest DialogRequest(const TFindDialog& dialog) const;
    void PrepareDialog(TFindDialog& dialog, unsigned flags);
    void WireDialog(TFindDialog& dialog);
    std::unique_ptr<highlight::TCodeMemoSearch> search_;
    TFindDialog* findDialog_ = nullptr;
    TFindDialog* replaceDialog_ = nullptr;
    // Marks and count follow the open dialog (CodeMemoMatches.cpp).
    bool SearchDialogShown() const;
    void FollowDialog(TFindDialog& dialog);
    void StopMarking();
    void ScheduleMatchCount(int delayMs);
    void PaintMatchMarks(QPainter& p, const std::vector<TRowLayout>& rows);
    // Moves the dialog off the selected match when it covers it.
    void KeepMatchInSight(TFindDialog& dialog);
    std::unique_ptr<highlight::TMatchMarks> matchMarks_;
    bool marking_ = false;
    QTimer* countTimer_ = nullptr;
    bool darkView_ = false; // this paint uses the dark colour set

    void RepaintView() override;
    void UpdateScrollBars() override;
    bool DefersWrap() const override { return true; }
    void ScheduleWrap() override;
    void RestartBlink();
    void PaintGutter(QPainter& p, const std::vector<TRowLayout>& rows, int height);
    void PaintRow(QPainter& p, const TRowLayout& row, int y, int width, bool showSelection);
    void PaintMarks(QPainter& p, const TRowLayout& row, int y);
    void PaintCaret(QPainter& p, int width, int height);
    // The caret's line and the bracket pair beside the caret, tinted over the painted text.
    void PaintEditAids(QPainter& p, const std::vector<TRowLayout>& rows, int width);
    const QFont& StyleFont(std::uint8_t bits);
    // Whether a style's font draws this glyph itself (remembered per font).
    bool StyleFontHas(std::uint8_t bits, unsigned char byte, QChar glyph);
    // The same for characters beyond Latin-1 (UTF-8 documents).
    bool StyleFontHasCode(std::uint8_t bits, char32_t code);
    // A byte that is no character: its two hex digits, one above the other, in its cell.
    void PaintByteMark(QPainter& p, int x, int y, unsigned byte, const QColor& color);
    void MakeImages();
    // The gutter's number font; making it tells the layout how wide a digit is.
    const QFont& GutterFont();
    bool Focused() const;

    std::string printTitle_;
    RecIndex exactTop_ = -1; // top line set by a scroll bar line or page step
    int wheelX_ = 0, wheelY_ = 0;
    highlight::GutterFont gutterFontKey_;
    QFont gutterFont_;
    bool gutterFontMade_ = false;
    std::array<QFont, 16> styleFonts_;
    std::array<bool, 16> styleFontMade_{};
    std::array<std::array<std::int8_t, 256>, 16> styleCovers_{};
    std::array<std::unordered_map<char32_t, bool>, 16> styleCoversWide_;

    // Mouse state (CodeMemoInput.cpp).
    void ButtonDown(QMouseEvent* event, bool doubleClick);
    void PlaceClickedCaret(QPoint p);
    void FollowPointer(QPoint p);
    void AutoScrollStep();
    void Hover(QPoint p);
    void StartDrag();
    // The hot-spot token run under a point; false when there is none.
    bool HyperlinkAt(QPoint p, TokenRun& run, int& token) const;
    int MarginColumnAt(int x) const;
    void ShowMarginLine(int column);
    void ShowDropCaret(TextOffset at);
    TDropOffer OfferOf(const QMimeData& data) const;
    void InitInput();

    int clickCount_ = 4;
    unsigned long long lastClickTime_ = 0;
    int doubleClickTime_ = 400;
    RecIndex lastClickedLine_ = -1;
    bool mouseSelecting_ = false;
    bool dragPending_ = false;
    bool dragging_ = false;
    bool dragSource_ = false;    // a drag started here is running
    bool droppedOnSelf_ = false; // ... and ended in this control
    std::string dragText_;       // the dragged bytes, exact, for drops onto this control
    TextOffset dropPoint_ = -1;
    TextOffset pressOffset_ = -1;
    QPoint pressPoint_;
    QPoint lastMouse_;
    bool marginDragPending_ = false;
    bool marginDragging_ = false;
    bool marginDragIsRight_ = false;
    TextOffset hoverLinkStart_ = -1;
    bool keyAwaited_ = false; // a key broke a sequence; its key press has not come yet
    QTimer* autoScroll_ = nullptr;
    QWidget* marginLine_ = nullptr;
    QWidget* dropCaret_ = nullptr;
    class TTemplateList* templateList_ = nullptr;
    std::string templatePartial_;
    bool hideSelectionBeforeList_ = true;

    // The primary selection this control offers (the clipboard owns it and deletes it when
    // another program takes the selection), and the selection it was last given.
    QPointer<class TPrimarySelectionData> primary_;
    TextOffset primaryFrom_ = 0, primaryTo_ = 0;
    std::uint64_t primaryGeneration_ = 0;

    QFont font_;
    std::shared_ptr<TQtFontMetrics> metrics_;
    bool syncingBars_ = false;
    QBasicTimer blink_;
    bool caretShown_ = true;
    bool highlightIdleQueued_ = false;
    bool wrapIdleQueued_ = false;
};

// The printer every editor prints on, so that Print Setup applies to all of them.
QPrinter& SharedPrinter();

// A key press as the control's shortcut value (virtual key code plus Shift, Ctrl and Alt
// bits); 0 for a key the control has no code for.
std::uint16_t ShortcutOf(int qtKey, Qt::KeyboardModifiers modifiers);
// A shortcut value as a Qt key sequence (for menus and key assignment); empty for 0.
QKeySequence KeySequenceOf(std::uint16_t shortcut);
// The ANSI byte a typed character stands for; 0 when there is none.
char AnsiOf(QChar c);

// The character a byte is drawn as: printable ANSI as itself, control bytes as visible marks.
QChar GlyphOf(unsigned char byte, bool* isControl);

} // namespace morvane::editor
