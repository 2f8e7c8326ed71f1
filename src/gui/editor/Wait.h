#pragma once
// The countdown indicator as a widget: 192 by 32 pixels, a bar that shrinks with the seconds
// left, and the seconds as its caption.

#include "core/editor/Wait.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

namespace morvane::editor {

class TWait : public QWidget, public TCustomWait {
public:
    explicit TWait(QWidget* parent = nullptr);
    ~TWait() override;
    // Swallows keys and mouse buttons (with a beep) until the countdown stops; returns the
    // result (mrOk stopped, mrCancel timed out).
    int Waiting();

    // The busy state of work that runs on the event loop in slices: the indicator shows over its
    // parent with the share left, input is swallowed but for Escape, which cancels. Poll() lets
    // waiting events in (painting, timers) at most every few tens of milliseconds and tells
    // whether Escape came.
    void BeginBusy();
    bool Poll(double done);
    void EndBusy();
    bool Cancelled() const { return cancelled_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void TimerChanged(bool on) override;
    void Repaint() override { update(); }

private:
    QTimer timer_;
    bool filtering_ = false;
    bool busy_ = false;
    bool cancelled_ = false;
    QElapsedTimer sincePoll_;
};

} // namespace morvane::editor
