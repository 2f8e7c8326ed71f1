#include "gui/editor/CodeMemo.h"
#include "gui/editor/FindDialog.h"

#include <QApplication>
#include <QFontDatabase>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>

namespace morvane::editor {

namespace {
// Bytes 128-159 as the ANSI code page has them; the five it leaves out are 0.
constexpr char16_t kHigh[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
} // namespace

char AnsiOf(QChar c) {
    char16_t u = c.unicode();
    if (u < 128 || (u >= 160 && u < 256)) return static_cast<char>(u);
    for (int i = 0; i < 32; ++i)
        if (kHigh[i] && kHigh[i] == u) return static_cast<char>(128 + i);
    return 0;
}

QChar GlyphOf(unsigned char b, bool* isControl) {
    *isControl = false;
    if (b < 32) {
        *isControl = true;
        return QChar(0x2400 + b); // the Unicode control pictures
    }
    if (b == 127) {
        *isControl = true;
        return QChar(0x2421);
    }
    if (b >= 128 && b < 160) {
        char16_t c = kHigh[b - 128];
        if (!c) {
            *isControl = true;
            return QChar(0x00B7);
        }
        return QChar(c);
    }
    return QChar(b); // ASCII and Latin-1
}

TCodeMemo::TCodeMemo(QWidget* parent) : QAbstractScrollArea(parent) {
    SetView(this);
    OnPrintSelection = [this](TCustomCodeMemo*, int) { PrintWithDialog(true); };
    viewport()->setCursor(Qt::IBeamCursor);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled); // dead keys and compose sequences
    verticalScrollBar()->setSingleStep(1);
    horizontalScrollBar()->setSingleStep(1);
    // Arrows and page clicks move by lines even when one bar step stands for several records.
    connect(verticalScrollBar(), &QAbstractSlider::actionTriggered, this, [this](int action) {
        const RecIndex page = std::max(1, ClientHeight() / std::max(1, metrics_->LineHeight()));
        RecIndex top = TopLine();
        switch (action) {
        case QAbstractSlider::SliderSingleStepAdd:
            ++top;
            break;
        case QAbstractSlider::SliderSingleStepSub:
            --top;
            break;
        case QAbstractSlider::SliderPageStepAdd:
            top += page;
            break;
        case QAbstractSlider::SliderPageStepSub:
            top -= page;
            break;
        default:
            return;
        }
        SetTopLine(top);
        exactTop_ = TopLine();
        verticalScrollBar()->setSliderPosition(ScrollInfo().vPos);
        NotifyChange();
    });
    SetFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    InitInput();
}

TCodeMemo::~TCodeMemo() {
    // The dialogs belong to the main window's widget tree but serve only this control.
    delete findDialog_;
    delete replaceDialog_;
    SetView(nullptr);
}

void TCodeMemo::SetFont(const QFont& font) {
    font_ = font;
    // The settings record in use follows the control's font, so that it is saved with it.
    highlight::TSM_Settings& s = Settings();
    s.fontName = font_.family().toStdString();
    if (font_.pointSize() > 0) s.fontSize = font_.pointSize();
    styleFontMade_.fill(false);
    metrics_ = std::make_shared<TQtFontMetrics>(font_);
    SetFontMetrics(metrics_);
    viewport()->update();
}

void TCodeMemo::RepaintView() {
    viewport()->update();
}

void TCodeMemo::UpdateScrollBars() {
    syncingBars_ = true;
    const TScrollInfo info = ScrollInfo();
    QScrollBar* v = verticalScrollBar();
    v->setRange(0, info.vMax);
    v->setPageStep(info.vPage);
    v->setValue(info.vPos);
    QScrollBar* h = horizontalScrollBar();
    setHorizontalScrollBarPolicy(info.hVisible ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(info.vVisible ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    h->setRange(0, info.hMax);
    h->setPageStep(info.hPage);
    h->setValue(info.hPos);
    syncingBars_ = false;
}

void TCodeMemo::scrollContentsBy(int, int) {
    if (syncingBars_) return;
    // Thumb positions count steps of several records in a long text; a line step has set the
    // top line exactly already.
    if (exactTop_ < 0 || verticalScrollBar()->value() != ScrollInfo().vPos)
        VScrollTo(verticalScrollBar()->value());
    exactTop_ = -1;
    SetLeftColumn(horizontalScrollBar()->value());
    NotifyChange();
    viewport()->update();
}

void TCodeMemo::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    SetClientSize(viewport()->width(), viewport()->height());
    UpdateScrollBars();
}

void TCodeMemo::wheelEvent(QWheelEvent* event) {
    // One line per notch, unless a wheel handler takes it; fine-grained wheels and touchpads
    // add up to notches.
    wheelY_ += event->angleDelta().y();
    wheelX_ += event->angleDelta().x();
    int notches = wheelY_ / 120;
    int columns = wheelX_ / 120;
    wheelY_ -= notches * 120;
    wheelX_ -= columns * 120;
    for (int i = 0; i < std::abs(notches); ++i)
        WheelNotch(notches > 0);
    if (columns) SetLeftColumn(LeftColumn() - columns);
    UpdateScrollBars();
    event->accept();
}

void TCodeMemo::RestartBlink() {
    caretShown_ = true;
    int period = QApplication::cursorFlashTime();
    if (period > 0)
        blink_.start(period / 2, this);
    else
        blink_.stop();
    viewport()->update();
}

void TCodeMemo::timerEvent(QTimerEvent* event) {
    if (event->timerId() != blink_.timerId()) {
        QAbstractScrollArea::timerEvent(event);
        return;
    }
    caretShown_ = !caretShown_;
    viewport()->update();
}

void TCodeMemo::focusInEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusInEvent(event);
    RestartBlink();
}

void TCodeMemo::focusOutEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusOutEvent(event);
    blink_.stop();
    viewport()->update();
}

} // namespace morvane::editor
