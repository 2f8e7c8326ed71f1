#include "editor/qt/CodeMemo.h"

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
    GutterColor = palette().color(QPalette::Button);
    SetView(this);
    viewport()->setCursor(Qt::IBeamCursor);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled); // dead keys and compose sequences
    verticalScrollBar()->setSingleStep(1);
    horizontalScrollBar()->setSingleStep(1);
    SetFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    InitInput();
}

TCodeMemo::~TCodeMemo() {
    SetView(nullptr);
}

void TCodeMemo::SetFont(const QFont& font) {
    font_ = font;
    metrics_ = std::make_shared<TQtFontMetrics>(font_);
    SetFontMetrics(metrics_);
    viewport()->update();
}

void TCodeMemo::RepaintView() {
    viewport()->update();
}

// The vertical range stays below 32000 steps; one step is this many records.
int TCodeMemo::VerticalFactor() const {
    return static_cast<int>(LineCount() / 32000 + 1);
}

void TCodeMemo::UpdateScrollBars() {
    syncingBars_ = true;
    int factor = VerticalFactor();
    QScrollBar* v = verticalScrollBar();
    v->setRange(0, static_cast<int>(std::max<RecIndex>(0, LineCount() - 1) / factor));
    v->setPageStep(std::max(1, VisibleRows() / factor));
    v->setValue(static_cast<int>(TopLine() / factor));
    QScrollBar* h = horizontalScrollBar();
    bool wrap = Options() & smoWordWrap;
    setHorizontalScrollBarPolicy(wrap ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAsNeeded);
    h->setRange(0, std::max(0, LongestLine() - VisibleColumns() + 1));
    h->setPageStep(std::max(1, VisibleColumns()));
    h->setValue(LeftColumn());
    syncingBars_ = false;
}

void TCodeMemo::scrollContentsBy(int, int) {
    if (syncingBars_) return;
    SetTopLine(static_cast<RecIndex>(verticalScrollBar()->value()) * VerticalFactor());
    SetLeftColumn(horizontalScrollBar()->value());
    viewport()->update();
}

void TCodeMemo::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    SetClientSize(viewport()->width(), viewport()->height());
    UpdateScrollBars();
}

void TCodeMemo::wheelEvent(QWheelEvent* event) {
    // One line per notch.
    int notches = event->angleDelta().y() / 120;
    int columns = event->angleDelta().x() / 120;
    if (notches) SetTopLine(TopLine() - notches);
    if (columns) SetLeftColumn(LeftColumn() - columns);
    UpdateScrollBars();
    event->accept();
}

void TCodeMemo::paintEvent(QPaintEvent*) {
    if (UpdateLocked() || Updating()) return;
    QPainter p(viewport());
    const int cw = metrics_->CharWidth(), lh = metrics_->LineHeight();
    const int left = TextLeft(), w = viewport()->width(), h = viewport()->height();
    p.fillRect(QRect(left, 0, w - left, h), BackColor);
    if (Options() & smoShowGutter) p.fillRect(QRect(0, 0, Gutter(), h), GutterColor);
    int marginLeft = (Options() & smoShowGutter) ? Gutter() : 0;
    if (Margin() > 0) p.fillRect(QRect(marginLeft, 0, Margin(), h), MarginColor);
    p.setFont(font_);
    p.setClipRect(QRect(left, 0, w - left, h));
    const QColor selBack = palette().color(QPalette::Highlight);
    const QColor selText = palette().color(QPalette::HighlightedText);
    const bool showSelection = hasFocus() || !HideSelection;
    int y = 0;
    for (const TRowLayout& row : LayoutRows()) {
        auto selectedAt = [&](std::size_t col) {
            return showSelection && static_cast<DisplayColumn>(col) >= row.selFrom &&
                   static_cast<DisplayColumn>(col) < row.selTo;
        };
        if (showSelection && row.selTo > row.selFrom)
            p.fillRect(QRect(left + row.selFrom * cw, y, (row.selTo - row.selFrom) * cw, lh),
                       selBack);
        // Runs of ordinary characters in one colour are drawn as one string; control marks
        // one by one, so that a mark wider than a cell cannot push the columns after it.
        for (std::size_t i = 0; i < row.cells.size();) {
            std::size_t start = i;
            bool control = false;
            bool selected = selectedAt(i);
            QString run;
            for (; i < row.cells.size(); ++i) {
                bool c;
                QChar g = GlyphOf(static_cast<unsigned char>(row.cells[i]), &c);
                if (i > start && (c || control || selectedAt(i) != selected)) break;
                control = c;
                run.append(g);
            }
            int x = left + static_cast<int>(start) * cw;
            p.setPen(control ? ControlCharColor : selected ? selText : TextColor);
            p.drawText(QRect(x, y, static_cast<int>(run.size() + 1) * cw, lh),
                       Qt::AlignLeft | Qt::AlignVCenter, run);
        }
        y += lh;
        if (y >= h) break;
    }
    if (hasFocus() && caretShown_) {
        // The caret's column includes a virtual caret beyond the line's end.
        int x = left + (CaretColumn() - LeftColumn()) * cw;
        int y0 = static_cast<int>(LineFromOffset(Caret()) - TopLine()) * lh;
        bool block = !InsertMode() && (Options() & smoBlockOverwriteCursor);
        if (x >= left && x < w && y0 >= 0 && y0 < h) {
            if (block)
                p.fillRect(QRect(x, y0, cw, lh), QColor(0, 0, 0, 96));
            else
                p.fillRect(QRect(x, y0, 2, lh), TextColor);
        }
    }
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
