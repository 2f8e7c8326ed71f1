#pragma once
// The busy indicator that the modal socket waits run: it keeps the event loop turning until it
// is stopped or its time runs out, so the program stays responsive while a wait is running.

#include "core/platform/EventLoop.h"

#include <functional>
#include <string>

namespace morvane::net {

class TWaitCtrl {
public:
    explicit TWaitCtrl(platform::EventLoop& loop) : loop_(loop) {}
    virtual ~TWaitCtrl();

    // The caption is the timeout in seconds; Start() runs until Stop() or that time is over.
    const std::string& Caption() const { return caption_; }
    void SetCaption(const std::string& caption) { caption_ = caption; }
    bool Visible() const { return visible_; }
    virtual void SetVisible(bool visible) { visible_ = visible; }

    // Returns whether it was stopped (true) or timed out (false).
    virtual bool Start();
    virtual void Stop() { running_ = false; }
    bool Running() const { return running_; }

    // Called when the indicator goes away, so that sockets referring to it forget it.
    std::function<void(TWaitCtrl*)> OnDestroy;

protected:
    platform::EventLoop& loop_;

private:
    std::string caption_;
    bool visible_ = false;
    bool running_ = false;
};

} // namespace morvane::net
