#pragma once
// A diagnostic trace of start-up events (arguments opened, hand-overs, first paint), appended to
// the file named by MORVANE_TRACE_FILE. Costs nothing when the variable is unset.

#include <string_view>

namespace morvane::app {

void trace(std::string_view event);
// Whether a trace file is named: costly trace lines are built only then.
bool traceEnabled();

} // namespace morvane::app
