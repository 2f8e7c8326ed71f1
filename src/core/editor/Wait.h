#pragma once
// The countdown indicator's logic: a start value taken from the caption, one tick per timer
// interval, and the result of the wait (1 stopped, 2 timed out). The Qt widget (editor/qt/Wait.h)
// runs the timer and paints.

#include <functional>
#include <string>

namespace morvane::editor {

class TCustomWait {
public:
    static constexpr int mrNone = 0;
    static constexpr int mrOk = 1;     // stopped
    static constexpr int mrCancel = 2; // timed out

    TCustomWait() = default;
    virtual ~TCustomWait() = default;
    TCustomWait(const TCustomWait&) = delete;
    TCustomWait& operator=(const TCustomWait&) = delete;

    const std::string& Caption() const { return caption_; }
    void SetCaption(std::string value);
    int Interval() const { return interval_; }
    void SetInterval(int ms);
    bool Running() const { return running_; }
    int ModalResult() const { return modalResult_; }
    void SetModalResult(int value) { modalResult_ = value; }
    int StartValue() const { return startValue_; }
    int Remaining() const { return remaining_; }
    // Share of the bar still shown, 0 to 1.
    double Fraction() const;

    void Start();
    void Tick();
    // Shows the progress of a piece of work instead of a countdown: the bar is the share left,
    // the caption the percent left. The countdown's timer is left alone.
    void ShowProgress(double done);
    void Stop();
    // Resets the result, starts the countdown and pumps messages until it stops; returns the
    // result. The platform's message pump is given as processMessages.
    int Wait(const std::function<void()>& processMessages);

    std::function<void(TCustomWait* Sender)> OnWaitStart;
    std::function<void(TCustomWait* Sender, int Count)> OnWait;
    std::function<void(TCustomWait* Sender)> OnTimeout;
    std::function<void(TCustomWait* Sender)> OnWaitStop;
    std::function<void(TCustomWait* Sender)> OnWaiting;

    // 0 or a text that is not a number gives 15.
    static int ParseStart(const std::string& caption);

protected:
    // The platform timer follows these.
    virtual void TimerChanged(bool /*on*/) {}
    virtual void Repaint() {}

private:
    std::string caption_ = "60";
    int interval_ = 1000;
    bool running_ = false;
    int modalResult_ = mrNone;
    int startValue_ = 60;
    int remaining_ = 60;
};

} // namespace morvane::editor
