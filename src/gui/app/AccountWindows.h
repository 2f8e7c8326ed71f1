#pragma once
// Fills the main window's remote services that the account windows provide: the quick-connect
// and password prompts, the security questions of a login, the account manager and the
// recent-files list.

#include "core/net/Account.h"

#include <string>

namespace morvane::app {

class TMainForm;

void installAccountWindows(TMainForm& form);

// The security questions of a login, through the main window's dialogs. The answers "Continue"
// and "Always trust this certificate" are written into the stored account (not for quick
// connect, which has none).
bool askClearText(TMainForm& form, const net::TAccount& account, const std::string& host);
bool askCertificate(TMainForm& form, const net::TAccount& account, const std::string& host,
                    const net::TTlsCertificate& certificate);

} // namespace morvane::app
