#pragma once
// The commands of the HTML menu, the Tools > Weblink menu with its keys, and the daily update
// check, wired to the main window.

namespace morvane::app {

class TMainForm;

// Bold, Italic, Underline, Comment, Link and Strip Tags on the active document.
void installHtmlCommands(TMainForm& form);
// Weblink > Settings and one item per weblink, built at the first activation and again after
// the settings dialog's OK. Each weblink's key works wherever the window has the focus, unless a
// command of the window or an earlier weblink has the same key.
void installWeblinks(TMainForm& form);
// RExec > Settings and one item per remote command, built like the weblinks' (TRExecTool).
void installRExec(TMainForm& form);
// The update check after the first activation, when the window's context asks for it.
void installUpdateCheck(TMainForm& form);

} // namespace morvane::app
