#include "gui/editor/Wait.h"

#include <QApplication>
#include <QEvent>
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

TWait::~TWait() {
    if (filtering_) qApp->removeEventFilter(this);
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
    switch (event->type()) {
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
