// How keys, the mouse and drag-and-drop reach the control. Keys become shortcut values for
// the core's KeyDown; clicks, drags and drops are turned into the core's selection and drop
// calls. What is decided about text (words, lines, drop points, offers) lives in the core.

#include "gui/editor/CodeMemo.h"
#include "gui/editor/TemplateList.h"

#include <QApplication>
#include <QClipboard>
#include <QDrag>
#include <QDropEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QScrollBar>
#include <QStyleHints>
#include <QTimer>
#include <QUrl>

#include <algorithm>

namespace morvane::editor {

namespace {

constexpr int kAutoScrollInterval = 50; // ms; one line or column per step
constexpr const char* kRawTextType = kRawTextMimeType;

struct NamedKey {
    int qt;
    std::uint16_t vk;
};

// Keys whose virtual key code differs from the Qt key value.
constexpr NamedKey kNamedKeys[] = {
    {Qt::Key_Backspace, 8}, {Qt::Key_Tab, 9},       {Qt::Key_Backtab, 9}, {Qt::Key_Return, 13},
    {Qt::Key_Enter, 13},    {Qt::Key_Pause, 19},    {Qt::Key_Escape, 27}, {Qt::Key_Space, 32},
    {Qt::Key_PageUp, 33},   {Qt::Key_PageDown, 34}, {Qt::Key_End, 35},    {Qt::Key_Home, 36},
    {Qt::Key_Left, 37},     {Qt::Key_Up, 38},       {Qt::Key_Right, 39},  {Qt::Key_Down, 40},
    {Qt::Key_Insert, 45},   {Qt::Key_Delete, 46},
};

// Keypad keys (with Qt::KeypadModifier) and their codes.
constexpr NamedKey kKeypadKeys[] = {
    {Qt::Key_Asterisk, 106}, {Qt::Key_Plus, 107},  {Qt::Key_Minus, 109},
    {Qt::Key_Period, 110},   {Qt::Key_Slash, 111},
};

bool IsModifierKey(int key) {
    return key == Qt::Key_Shift || key == Qt::Key_Control || key == Qt::Key_Alt ||
           key == Qt::Key_Meta || key == Qt::Key_AltGr || key == Qt::Key_Super_L ||
           key == Qt::Key_Super_R || key == Qt::Key_CapsLock || key == Qt::Key_NumLock;
}

// Text crosses to other programs as UTF-8, as the clipboard does.
std::string BytesOf(const QString& s) {
    QByteArray b = s.toUtf8();
    return std::string(b.constData(), static_cast<std::size_t>(b.size()));
}

QString StringOf(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

} // namespace

std::uint16_t ShortcutOf(int key, Qt::KeyboardModifiers modifiers) {
    int code = 0;
    if (modifiers & Qt::KeypadModifier) {
        if (key >= Qt::Key_0 && key <= Qt::Key_9) code = 96 + (key - Qt::Key_0);
        for (const auto& k : kKeypadKeys)
            if (k.qt == key) code = k.vk;
    }
    if (code == 0)
        for (const auto& k : kNamedKeys)
            if (k.qt == key) code = k.vk;
    if (code == 0) {
        if ((key >= Qt::Key_0 && key <= Qt::Key_9) || (key >= Qt::Key_A && key <= Qt::Key_Z))
            code = key; // the same codes as the virtual keys
        else if (key >= Qt::Key_F1 && key <= Qt::Key_F24)
            code = 112 + (key - Qt::Key_F1);
        else if (key > 32 && key < 127) {
            // Punctuation: the key of a US layout that types it (Shift comes with modifiers).
            std::uint16_t vk = keyOfChar(static_cast<unsigned char>(key));
            if (vk != 0xFFFF) code = vk & scKeyMask;
        }
    }
    if (code == 0) return 0;
    auto sc = static_cast<std::uint16_t>(code);
    if (modifiers & Qt::ShiftModifier || key == Qt::Key_Backtab) sc |= kShortcutShift;
    if (modifiers & Qt::ControlModifier) sc |= kShortcutCtrl;
    if (modifiers & Qt::AltModifier) sc |= kShortcutAlt;
    return sc;
}

QKeySequence KeySequenceOf(std::uint16_t shortcut) {
    const int vk = shortcut & scKeyMask;
    int key = 0;
    if ((vk >= '0' && vk <= '9') || (vk >= 'A' && vk <= 'Z'))
        key = vk;
    else if (vk >= 112 && vk <= 135)
        key = Qt::Key_F1 + (vk - 112);
    else if (vk >= 96 && vk <= 105)
        key = Qt::Key_0 + (vk - 96);
    else {
        for (const auto& k : kNamedKeys)
            if (k.vk == vk && k.qt != Qt::Key_Backtab && k.qt != Qt::Key_Enter) {
                key = k.qt;
                break;
            }
        if (key == 0)
            for (int c = 33; c < 127 && key == 0; ++c)
                if (keyOfChar(static_cast<unsigned char>(c)) == vk) key = c;
    }
    if (key == 0) return {};
    int mods = 0;
    if (shortcut & kShortcutShift) mods |= Qt::SHIFT;
    if (shortcut & kShortcutCtrl) mods |= Qt::CTRL;
    if (shortcut & kShortcutAlt) mods |= Qt::ALT;
    return QKeySequence(key | mods);
}

void TCodeMemo::InitInput() {
    doubleClickTime_ = QGuiApplication::styleHints()->mouseDoubleClickInterval();
    viewport()->setMouseTracking(true);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    autoScroll_ = new QTimer(this);
    autoScroll_->setInterval(kAutoScrollInterval);
    connect(autoScroll_, &QTimer::timeout, this, [this] { AutoScrollStep(); });
    auto line = [this](QColor color) {
        auto* w = new QWidget(viewport());
        w->setAttribute(Qt::WA_TransparentForMouseEvents);
        w->setAutoFillBackground(true);
        QPalette pal = w->palette();
        pal.setColor(QPalette::Window, color);
        w->setPalette(pal);
        w->hide();
        return w;
    };
    marginLine_ = line(QColor(64, 64, 64));
    dropCaret_ = line(DefaultText());
}

// --- keys ---

// The second key of a two-key sequence belongs to the control, not to the window's shortcuts.
// A key that finishes no sequence is left to the window; if the window takes it, no key press
// follows, and the sequence is dropped once this key's handling is over.
bool TCodeMemo::event(QEvent* event) {
    if (event->type() == QEvent::ShortcutOverride && KeyMap().prefixPending()) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (IsModifierKey(key->key())) return QAbstractScrollArea::event(event);
        std::uint16_t shortcut = ShortcutOf(key->key(), key->modifiers());
        if (shortcut && KeyMap().continuesSequence(shortcut)) {
            event->accept();
            return true;
        }
        keyAwaited_ = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (keyAwaited_) KeyMap().resetLookup();
                keyAwaited_ = false;
            },
            Qt::QueuedConnection);
    }
    return QAbstractScrollArea::event(event);
}

// TAB belongs to the text when the control wants it, not to the focus chain.
bool TCodeMemo::focusNextPrevChild(bool next) {
    if (WantsDialogKey(vkTab)) return false;
    return QAbstractScrollArea::focusNextPrevChild(next);
}

// Text composed by an input method arrives here instead of as key presses.
void TCodeMemo::inputMethodEvent(QInputMethodEvent* event) {
    for (char32_t c : event->commitString().toUcs4())
        if (c >= 32 && c != 127) TypeCharacter(c);
    event->accept();
}

QVariant TCodeMemo::inputMethodQuery(Qt::InputMethodQuery query) const {
    if (query == Qt::ImCursorRectangle) {
        int cw = metrics_->CharWidth(), lh = metrics_->LineHeight();
        int x = TextLeft() + (CaretColumn() - LeftColumn()) * cw;
        int y = static_cast<int>(LineFromOffset(Caret()) - TopLine()) * lh;
        return QRect(x, y, 2, lh);
    }
    return QAbstractScrollArea::inputMethodQuery(query);
}

void TCodeMemo::keyPressEvent(QKeyEvent* event) {
    RestartBlink();
    keyAwaited_ = false;
    if (IsModifierKey(event->key())) {
        event->ignore();
        return;
    }
    std::uint16_t shortcut = ShortcutOf(event->key(), event->modifiers());
    if (shortcut && KeyDown(shortcut)) {
        event->accept();
        return;
    }
    // A key without a code cannot finish a sequence either.
    if (!shortcut) KeyMap().resetLookup();
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (!WantReturns() && !ctrl) {
            event->ignore(); // the dialog's default button
            return;
        }
        KeyPress(ctrl ? kLF : kCR);
        event->accept();
        return;
    case Qt::Key_Tab:
        if (!WantTab() || ctrl) {
            event->ignore();
            return;
        }
        KeyPress(kTAB);
        event->accept();
        return;
    default:
        break;
    }
    const QString text = event->text();
    bool typed = false;
    if (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) {
        event->ignore(); // menus and the window's shortcuts
        return;
    }
    // Any character the keyboard gives goes in as the document's encoding writes it; one it
    // cannot hold is refused (still a key used up).
    for (char32_t c : text.toUcs4()) {
        if (c >= 32 && c != 127 && !(c >= 0x80 && c < 0xA0)) {
            TypeCharacter(c);
            typed = true;
        }
    }
    if (typed)
        event->accept();
    else
        event->ignore();
}

// --- mouse ---

void TCodeMemo::mousePressEvent(QMouseEvent* event) {
    ButtonDown(event, false);
}

void TCodeMemo::mouseDoubleClickEvent(QMouseEvent* event) {
    ButtonDown(event, true);
}

void TCodeMemo::ButtonDown(QMouseEvent* event, bool doubleClick) {
    if (event->button() == Qt::MiddleButton && !doubleClick &&
        QGuiApplication::clipboard()->supportsSelection()) {
        event->accept();
        setFocus(Qt::MouseFocusReason);
        if (event->position().x() >= TextLeft()) PastePrimarySelection(event->position().toPoint());
        return;
    }
    if (event->button() != Qt::LeftButton) {
        event->ignore(); // context menus and the like belong to the framework
        return;
    }
    if (!isEnabled() || !isVisible()) return;
    event->accept();
    setFocus(Qt::MouseFocusReason);
    const QPoint p = event->position().toPoint();
    lastMouse_ = p;

    const unsigned long long now = event->timestamp();
    const bool quick = now >= lastClickTime_ && now - lastClickTime_ <= unsigned(doubleClickTime_);
    switch (clickCount_) {
    case 1:
        clickCount_ = quick ? 2 : 1;
        break;
    case 2:
        clickCount_ = quick ? 3 : 1;
        break;
    case 3:
        clickCount_ = 4;
        break;
    default:
        clickCount_ = 1;
        break;
    }
    lastClickTime_ = now;

    if (p.x() < TextLeft() - Margin()) {
        RecIndex rec = LineAtY(p.y(), true);
        if (rec >= 0 && OnGutterClick) OnGutterClick(this, rec + 1);
        return;
    }
    if (p.x() < TextLeft()) {
        RecIndex rec = LineAtY(p.y(), false);
        if (rec >= 0) {
            auto [from, to] = LineRangeAt(LineStart(rec));
            SetSelection(from, to);
            NotifyChange();
        }
        return;
    }
    if (marginDragPending_) {
        marginDragging_ = true;
        ShowMarginLine(MarginColumnAt(p.x()));
        autoScroll_->start();
        return;
    }

    const TextOffset off = OffsetAtPoint(p.x(), p.y());
    pressOffset_ = off;
    pressPoint_ = p;
    if (event->modifiers() & Qt::ShiftModifier) {
        ExtendSelectionTo(off);
    } else {
        const TextOffset selEnd = std::max(Anchor(), Caret());
        const bool inSelection = SelLength() > 0 && off >= SelStart() && off < selEnd;
        if ((clickCount_ == 1 || clickCount_ == 4) && inSelection) {
            dragPending_ = true;
        } else if (clickCount_ == 2) {
            lastClickedLine_ = LineFromOffset(off);
            PlaceClickedCaret(p);
        } else if (clickCount_ == 3 && LineFromOffset(off) == lastClickedLine_) {
            if (OnTripleClick) {
                OnTripleClick(this, {p.x(), p.y()}, off);
            } else {
                auto [from, to] = LineRangeAt(off);
                SetSelection(from, to);
            }
        } else {
            dragPending_ = false;
            PlaceClickedCaret(p);
        }
    }
    // A pending drag must not turn into a selection before the pointer has moved.
    mouseSelecting_ = !dragPending_;
    if (mouseSelecting_) autoScroll_->start();

    if (doubleClick && clickCount_ == 2 && p.x() >= TextLeft() && (Options() & smoWordSelect)) {
        auto [from, to] = WordRangeAt(Caret());
        SetSelection(from, to); // it stays until the pointer moves to another character
        RecIndex rec = LineFromOffset(from);
        if (rec < LineCount()) Store().Rec(rec).flags |= lfRepaint | lfStale;
    }
    NotifyChange();
    viewport()->update();
}

void TCodeMemo::PlaceClickedCaret(QPoint p) {
    PlaceCaretAtPoint(p.x(), p.y(), false);
    TokenRun run;
    int token = -1;
    if (OnHyperlinkClick && HyperlinkAt(p, run, token)) OnHyperlinkClick(this, run.text, token);
}

bool TCodeMemo::HyperlinkAt(QPoint p, TokenRun& run, int& token) const {
    if (!Settings().hasHotSpot() || p.x() < TextLeft()) return false;
    RecIndex rec = LineAtY(p.y(), false);
    if (rec < 0) return false;
    const int cw = std::max(1, metrics_->CharWidth());
    DisplayColumn col = LeftColumn() + (p.x() - TextLeft()) / cw;
    std::size_t index = IndexAtColumn(rec, col);
    if (ColumnOf(rec, index + 1) <= col) return false; // beyond the line's end
    run = TokenRunAt(LineStart(rec) + static_cast<TextOffset>(index), token);
    if (token < 0) return false;
    const auto& effect = Settings().effect(Settings().styleOfToken(token));
    return effect.hotSpot != 0;
}

int TCodeMemo::MarginColumnAt(int x) const {
    const int cw = std::max(1, metrics_->CharWidth());
    return std::max(0, LeftColumn() + (x - TextLeft() + cw / 2) / cw);
}

void TCodeMemo::ShowMarginLine(int column) {
    const int x = TextLeft() + (column - LeftColumn()) * metrics_->CharWidth();
    if (x < TextLeft() || x >= viewport()->width()) {
        marginLine_->hide();
        return;
    }
    marginLine_->setGeometry(x, 0, 1, viewport()->height());
    marginLine_->show();
    marginLine_->raise();
}

void TCodeMemo::ShowDropCaret(TextOffset at) {
    if (at < 0) {
        dropCaret_->hide();
        return;
    }
    Point pt = PosFromChar(at);
    dropCaret_->setGeometry(pt.x, pt.y, 2, metrics_->LineHeight());
    dropCaret_->setVisible(pt.x >= TextLeft());
    dropCaret_->raise();
}

void TCodeMemo::mouseMoveEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    lastMouse_ = p;
    if ((event->buttons() & Qt::LeftButton) && dragPending_ &&
        (p - pressPoint_).manhattanLength() >= QApplication::startDragDistance()) {
        if (Options() & smoOLEDragSource) {
            StartDrag();
            return;
        }
        // Text cannot be dragged from here: the press selects as any other would.
        dragPending_ = false;
        PlaceCaretAtPoint(pressPoint_.x(), pressPoint_.y(), false);
        mouseSelecting_ = true;
        autoScroll_->start();
    }
    if (mouseSelecting_ || marginDragging_) {
        FollowPointer(p);
        return;
    }
    if (event->buttons() == Qt::NoButton) Hover(p);
}

void TCodeMemo::FollowPointer(QPoint p) {
    if (marginDragging_) {
        ShowMarginLine(MarginColumnAt(p.x()));
    } else if (mouseSelecting_) {
        TextOffset off = OffsetAtPoint(p.x(), p.y());
        if (off == pressOffset_ && p.y() >= 0 && p.y() < viewport()->height()) return;
        pressOffset_ = -1;
        PlaceCaretAtPoint(p.x(), p.y(), true);
        NotifyChange();
        viewport()->update();
    }
}

// While selecting, dragging a margin line or dragging over the control, a pointer beyond an
// edge (for drags: near it) scrolls one line or column per step.
void TCodeMemo::AutoScrollStep() {
    if (!mouseSelecting_ && !marginDragging_ && !dragging_) {
        autoScroll_->stop();
        return;
    }
    const QPoint p = lastMouse_;
    const int lh = metrics_->LineHeight(), cw = metrics_->CharWidth();
    const int top = dragging_ ? 2 * lh : 0, side = dragging_ ? 2 * cw : 0;
    const int h = viewport()->height(), w = viewport()->width();
    RecIndex lines = 0;
    DisplayColumn columns = 0;
    if (p.y() < top)
        lines = -1;
    else if (p.y() >= h - top)
        lines = 1;
    if (p.x() < TextLeft() + side)
        columns = -1;
    else if (p.x() >= w - side)
        columns = 1;
    if (!lines && !columns) return;
    LineScroll(columns, lines);
    if (dragging_) {
        dropPoint_ = OffsetAtPoint(p.x(), p.y());
        ShowDropCaret(dropPoint_);
    } else {
        FollowPointer(p);
    }
    viewport()->update();
}

void TCodeMemo::Hover(QPoint p) {
    marginDragPending_ = false;
    if (p.x() < TextLeft()) {
        viewport()->setCursor(Qt::ArrowCursor);
        hoverLinkStart_ = -1;
        return;
    }
    const int column = MarginColumnAt(p.x());
    const RecIndex rec = LineAtY(p.y(), false);
    auto shorter = [&](int c) { return rec < 0 || ColumnOf(rec, Store().Text(rec).size()) < c; };
    if ((Options() & smoShowRMargin) && column == RightMargin() && shorter(column)) {
        marginDragPending_ = true;
        marginDragIsRight_ = true;
    } else if ((Options() & smoWordWrap) && (Options() & smoShowWrapColumn) && WrapAtColumn() > 0 &&
               column == WrapAtColumn() && shorter(column)) {
        marginDragPending_ = true;
        marginDragIsRight_ = false;
    }
    if (marginDragPending_) {
        viewport()->setCursor(Qt::SplitHCursor);
        return;
    }
    TokenRun run;
    int token = -1;
    if (HyperlinkAt(p, run, token)) {
        viewport()->setCursor(HyperCursor);
        if (run.start != hoverLinkStart_) {
            hoverLinkStart_ = run.start;
            if (OnHyperlinkHover) OnHyperlinkHover(this, run.text, token);
        }
        return;
    }
    hoverLinkStart_ = -1;
    viewport()->setCursor(Qt::IBeamCursor);
}

void TCodeMemo::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    const QPoint p = event->position().toPoint();
    if (dragPending_) {
        dragPending_ = false;
        PlaceClickedCaret(p);
    }
    mouseSelecting_ = false;
    dragging_ = false;
    autoScroll_->stop();
    if (marginDragging_) {
        marginDragging_ = false;
        marginDragPending_ = false;
        marginLine_->hide();
        int column = std::max(1, MarginColumnAt(p.x()));
        if (marginDragIsRight_)
            SetRightMargin(column);
        else
            SetWrapAtColumn(column);
    }
    NotifyChange();
    viewport()->update();
}

// --- drag and drop ---

void TCodeMemo::StartDrag() {
    dragPending_ = false;
    mouseSelecting_ = false;
    autoScroll_->stop();
    dragText_ = SelText();
    auto* data = new QMimeData;
    data->setText(StringOf(UnicodeText(dragText_)));
    data->setData(kRawTextType, QByteArray(dragText_.data(), qsizetype(dragText_.size())));
    QDrag drag(this);
    drag.setMimeData(data);
    const Qt::DropActions allowed =
        ReadOnly() ? Qt::CopyAction : Qt::DropActions(Qt::CopyAction | Qt::MoveAction);
    dragSource_ = true;
    droppedOnSelf_ = false;
    Qt::DropAction result = Qt::IgnoreAction;
    try {
        result = RunDrag ? RunDrag(drag, allowed)
                         : drag.exec(allowed, ReadOnly() ? Qt::CopyAction : Qt::MoveAction);
    } catch (...) {
        dragSource_ = false;
        throw;
    }
    dragSource_ = false;
    // Moved into another control or program: the text leaves here. A move within this
    // control was done by the drop itself.
    if (result == Qt::MoveAction && !droppedOnSelf_ && !ReadOnly() && SelLength() > 0) {
        TUndoGroupScope group(*this, ugDrop);
        ReplaceSel({});
    }
    dragText_.clear();
    NotifyChange();
    viewport()->update();
}

TCustomCodeMemo::TDropOffer TCodeMemo::OfferOf(const QMimeData& data) const {
    TDropOffer offer;
    for (const QUrl& url : data.urls())
        if (url.isLocalFile()) offer.files.push_back(BytesOf(url.toLocalFile()));
    if (!offer.files.empty()) {
        // Text offered beside files is only their names: the files are what is dropped.
        if (Options() & smoProcessDroppedFiles) offer.sourceTypes |= dsFileList;
        return offer;
    }
    if (data.hasHtml()) {
        offer.sourceTypes |= dsHtml;
        offer.html = BytesOf(data.html());
    }
    if (data.hasFormat(kRawTextType)) {
        QByteArray raw = data.data(kRawTextType);
        offer.sourceTypes |= dsPlainText | dsUnicodeText;
        offer.text.assign(raw.constData(), static_cast<std::size_t>(raw.size()));
        offer.textIsRaw = true;
    } else if (data.hasText()) {
        offer.sourceTypes |= dsPlainText | dsUnicodeText;
        offer.text = BytesOf(data.text());
    }
    return offer;
}

void TCodeMemo::dragEnterEvent(QDragEnterEvent* event) {
    const TDropOffer offer = OfferOf(*event->mimeData());
    const bool text = offer.sourceTypes & (dsHtml | dsPlainText | dsUnicodeText);
    // Text cannot go into a read-only control; files can still be handed on.
    if (!(offer.sourceTypes & dsFileList) && (!text || ReadOnly())) {
        event->ignore();
        return;
    }
    dragging_ = true;
    event->acceptProposedAction();
    dragMoveEvent(event);
}

void TCodeMemo::dragMoveEvent(QDragMoveEvent* event) {
    if (!dragging_) {
        event->ignore();
        return;
    }
    const QPoint p = event->position().toPoint();
    lastMouse_ = p;
    dropPoint_ = OffsetAtPoint(p.x(), p.y());
    ShowDropCaret(dropPoint_);
    const bool copy =
        (event->modifiers() & Qt::ControlModifier) || !(event->possibleActions() & Qt::MoveAction);
    event->setDropAction(copy ? Qt::CopyAction : Qt::MoveAction);
    event->accept();
    if (!autoScroll_->isActive()) autoScroll_->start();
}

void TCodeMemo::dragLeaveEvent(QDragLeaveEvent* event) {
    dragging_ = false;
    dropPoint_ = -1;
    ShowDropCaret(-1);
    event->accept();
}

void TCodeMemo::dropEvent(QDropEvent* event) {
    const QPoint p = event->position().toPoint();
    const TextOffset at = OffsetAtPoint(p.x(), p.y());
    const bool fromSelf = dragSource_;
    const bool move = event->dropAction() == Qt::MoveAction;
    dragging_ = false;
    dropPoint_ = -1;
    ShowDropCaret(-1);
    autoScroll_->stop();
    const QMimeData* data = event->mimeData();
    if (!data) {
        event->ignore();
        return;
    }
    TDropOffer offer = OfferOf(*data);
    bool inserted = AcceptDrop(std::move(offer), at, {p.x(), p.y()}, move, fromSelf);
    if (fromSelf) droppedOnSelf_ = true;
    // A drop onto its own selection is a cancelled drag.
    if (fromSelf && !inserted) {
        event->setDropAction(Qt::IgnoreAction);
        event->ignore();
    } else {
        event->accept();
    }
    setFocus(Qt::MouseFocusReason);
    viewport()->update();
}

// --- the template choice list ---

bool TCodeMemo::ShowTemplatePopup(const TTemplatePopup& popup) {
    if (!templateList_) {
        templateList_ = new TTemplateList(
            this, [this](const std::string& name) { ExpandChosenTemplate(name, templatePartial_); },
            [this] {
                // Leaving the list: the partial word is no longer selected.
                HideSelection = hideSelectionBeforeList_;
                TextOffset end = std::max(Anchor(), Caret());
                SetSelection(end, end);
                viewport()->update();
            });
    }
    templatePartial_ = popup.partial;
    hideSelectionBeforeList_ = HideSelection;
    HideSelection = false;
    ScrollToCaret();
    Point p = PosFromChar(SelStart());
    QPoint at = viewport()->mapTo(this, QPoint(p.x, p.y));
    templateList_->Open(popup, at, metrics_->LineHeight());
    viewport()->update();
    return true;
}

} // namespace morvane::editor
