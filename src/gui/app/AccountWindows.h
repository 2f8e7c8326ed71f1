#pragma once
// Fills the main window's remote services that the account windows provide: the quick-connect
// and password prompts, the account manager and the recent-files list.

namespace morvane::app {

class TMainForm;

void installAccountWindows(TMainForm& form);

} // namespace morvane::app
