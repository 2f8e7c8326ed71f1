#pragma once
// The program entry: settings import, single instance and hand-over, "/InstWeblinks", first-run
// set-up, then the main window and the event loop.

namespace morvane::app {

int runMorvane(int argc, char** argv);

} // namespace morvane::app
