#pragma once
// The countdown indicator as a widget: 192 by 32 pixels, a bar that shrinks with the seconds
// left, and the seconds as its caption.

#include "core/editor/Wait.h"

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

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void TimerChanged(bool on) override;
    void Repaint() override { update(); }

private:
    QTimer timer_;
    bool filtering_ = false;
};

} // namespace morvane::editor
