#pragma once
// Remote file references: "MORVANE://" (any case), an account name, a colon and a path, as given
// on the command line and handed over by a second start.

#include "core/platform/Registry.h"

#include <string>

namespace morvane::app {

struct TRemoteReference {
    std::string account;
    std::string directory; // empty: the account's home directory after login
    std::string fileName;
};

struct TReferenceParse {
    bool ok = false;
    std::string error; // the text to show when !ok
    TRemoteReference reference;
};

// True when the text starts with "MORVANE://" in any case.
bool IsRemoteReference(const std::string& text);

// Splits a reference at the account's colon and the path's last "/". An absolute path gives its
// own directory; a relative one is appended to the account's stored directory (and stays
// relative when that is empty); a bare name takes the account's directory. Names that cannot
// be a file ("..", over 255 bytes) and references over 4096 bytes are refused.
TReferenceParse ParseRemoteReference(const std::string& text, platform::Registry& registry);

// One spelling for the place of a remote file, so that two ways of naming the same file compare
// equal: "." and ".." and doubled slashes resolved, a folder relative to home put under home
// (or under "~" while home is not known; an empty folder is home).
std::string RemoteFileKey(const std::string& home, const std::string& directory,
                          const std::string& fileName);

} // namespace morvane::app
