#pragma once
// The event loop interface on Qt's own loop, so that sockets and timers of the core run inside
// the program's GUI thread.

#include "core/platform/EventLoop.h"

namespace morvane::platform {

// Needs a QCoreApplication; callbacks run on the thread that created the loop.
std::unique_ptr<EventLoop> makeQtEventLoop();

} // namespace morvane::platform
