#pragma once
// Remote file references "MORVANE://ACCOUNT:PATH", as the command line and a second start give
// them.

#include "platform/Registry.h"

#include <string>

namespace morvane::app {

struct TRemoteReference {
    bool ok = false;
    std::string error; // the message to show when not ok
    std::string account;
    std::string directory; // empty: the home directory after login
    std::string fileName;
};

// Whether text starts with the reference prefix (in any case).
bool IsRemoteReference(const std::string& text);

// Splits a reference and checks that its account exists. A path that starts with "/" is
// absolute; any other is taken below the account's directory, and stays relative (to the home
// directory) when the account has none.
TRemoteReference ParseRemoteReference(const std::string& text, platform::Registry& registry);

} // namespace morvane::app
