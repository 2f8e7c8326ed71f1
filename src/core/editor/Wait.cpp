#include "core/editor/Wait.h"

#include <algorithm>
#include <charconv>

namespace morvane::editor {

int TCustomWait::ParseStart(const std::string& caption) {
    int value = 0;
    const char* end = caption.data() + caption.size();
    auto [ptr, ec] = std::from_chars(caption.data(), end, value);
    if (ec != std::errc() || ptr != end || value <= 0) return 15;
    return value;
}

void TCustomWait::SetCaption(std::string value) {
    caption_ = std::move(value);
    Repaint();
}

void TCustomWait::SetInterval(int ms) {
    interval_ = std::max(1, ms);
    if (running_) TimerChanged(true);
}

double TCustomWait::Fraction() const {
    if (startValue_ <= 0) return 0;
    return std::clamp(static_cast<double>(remaining_) / startValue_, 0.0, 1.0);
}

void TCustomWait::Start() {
    if (!running_) {
        startValue_ = ParseStart(caption_);
        remaining_ = startValue_;
    }
    running_ = true;
    TimerChanged(true);
    if (OnWaitStart) OnWaitStart(this);
    Repaint();
}

void TCustomWait::Tick() {
    if (!running_) return;
    int count = remaining_ - 1;
    if (OnWait) OnWait(this, count);
    if (!running_) return; // the handler stopped it
    remaining_ = count;
    if (count > 0) {
        caption_ = std::to_string(count);
    } else {
        running_ = false;
        TimerChanged(false);
        modalResult_ = mrCancel;
        caption_ = std::to_string(startValue_);
        remaining_ = startValue_;
        if (OnTimeout) OnTimeout(this);
    }
    Repaint();
}

void TCustomWait::ShowProgress(double done) {
    startValue_ = 100;
    remaining_ = 100 - static_cast<int>(std::clamp(done, 0.0, 1.0) * 100);
    caption_ = std::to_string(remaining_);
    Repaint();
}

void TCustomWait::Stop() {
    modalResult_ = mrOk;
    bool was = running_;
    running_ = false;
    TimerChanged(false);
    if (was) {
        caption_ = std::to_string(startValue_);
        remaining_ = startValue_;
    }
    if (OnWaitStop) OnWaitStop(this);
    Repaint();
}

int TCustomWait::Wait(const std::function<void()>& processMessages) {
    modalResult_ = mrNone;
    Start();
    while (running_) {
        if (processMessages)
            processMessages();
        else
            Tick(); // nothing else could end the wait
        if (OnWaiting) OnWaiting(this);
    }
    return modalResult_;
}

} // namespace morvane::editor
