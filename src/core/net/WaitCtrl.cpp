#include "core/net/WaitCtrl.h"

#include <chrono>
#include <cstdlib>

namespace morvane::net {

TWaitCtrl::~TWaitCtrl() {
    if (OnDestroy) OnDestroy(this);
}

bool TWaitCtrl::Start() {
    using Clock = std::chrono::steady_clock;
    long seconds = std::strtol(caption_.c_str(), nullptr, 10);
    if (seconds <= 0) seconds = 1;
    auto deadline = Clock::now() + std::chrono::seconds(seconds);
    running_ = true;
    while (running_) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            running_ = false;
            return false;
        }
        loop_.processEvents(std::min(left, std::chrono::milliseconds(100)));
    }
    return true;
}

} // namespace morvane::net
