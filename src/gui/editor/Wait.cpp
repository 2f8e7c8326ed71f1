#include "gui/editor/Wait.h"

#include <QApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QPainter>

namespace morvane::editor {

TWait::TWait(QWidget* parent) : QWidget(parent) {
    setFixedSize(192, 32);
    QFont f("Courier");
    f.setPointSize(8);
    f.setFixedPitch(true);
    f.setStyleHint(QFont::TypeWriter);
    setFont(f);
    connect(&timer_, &QTimer::timeout, this, [this] { Tick(); });
}

namespace {
// Between two looks at the event queue while busy: short enough for Escape to feel immediate.
constexpr qint64 kPollMs = 40;
} // namespace

TWait::~TWait() {
    if (busy_) EndBusy();
    if (filtering_) qApp->removeEventFilter(this);
}

void TWait::BeginBusy() {
    cancelled_ = false;
    busy_ = true;
    ShowProgress(0);
    if (QWidget* p = parentWidget()) move((p->width() - width()) / 2, (p->height() - height()) / 2);
    show();
    raise();
    qApp->installEventFilter(this);
    filtering_ = true;
    QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    // Shown at once, not at the first poll.
    QCoreApplication::processEvents();
    sincePoll_.start();
}

bool TWait::Poll(double done) {
    if (!busy_ || cancelled_ || sincePoll_.elapsed() < kPollMs) return cancelled_;
    ShowProgress(done);
    QCoreApplication::processEvents();
    sincePoll_.restart();
    return cancelled_;
}

void TWait::EndBusy() {
    if (!busy_) return;
    busy_ = false;
    qApp->removeEventFilter(this);
    filtering_ = false;
    QApplication::restoreOverrideCursor();
    hide();
}

void TWait::TimerChanged(bool on) {
    if (on)
        timer_.start(Interval());
    else
        timer_.stop();
}

int TWait::Waiting() {
    qApp->installEventFilter(this);
    filtering_ = true;
    int result = Wait([] { QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents); });
    qApp->removeEventFilter(this);
    filtering_ = false;
    return result;
}

bool TWait::eventFilter(QObject* watched, QEvent* event) {
    if (busy_) {
        switch (event->type()) {
        case QEvent::ShortcutOverride:
        case QEvent::KeyPress:
            if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
                cancelled_ = true;
                return true;
            }
            break;
        case QEvent::Shortcut:
        case QEvent::Close:
            // Nothing may close the window or run a command under the running work.
            event->ignore();
            return true;
        default:
            break;
        }
    }
    switch (event->type()) {
    case QEvent::ShortcutOverride:
        // While busy no shortcut may run.
        return busy_ || QWidget::eventFilter(watched, event);
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
        if (event->type() == QEvent::KeyPress || event->type() == QEvent::MouseButtonPress)
            QApplication::beep();
        return true;
    default:
        return QWidget::eventFilter(watched, event);
    }
}

void TWait::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    int length = static_cast<int>(Fraction() * (width() - 7));
    p.fillRect(QRect(3, 3, length, height() - 6), palette().color(QPalette::Highlight));
    p.setPen(palette().color(QPalette::Text));
    p.drawText(QRect(4, 0, width() - 4, height()), Qt::AlignLeft | Qt::AlignVCenter,
               QString::fromStdString(Caption()));
}

} // namespace morvane::editor
