#pragma once
// The last session's documents: recorded when the window closes normally, reopened at a start
// that names no files (unless the setting "Restore session" is "False").

namespace morvane::app {

class TMainForm;

void recordSession(TMainForm& form);
void restoreSession(TMainForm& form);

} // namespace morvane::app
