#pragma once
// The server's copy of a file, fetched over a connection of its own while a question waits (the
// document's own session is in the middle of its save and is left alone).

#include "core/net/Account.h"

#include <optional>
#include <string>

namespace morvane::app {

class TMainForm;

// The file's bytes, or nullopt with error set. Waits (with the window's events running) at most
// about a minute.
std::optional<std::string> fetchServerCopy(TMainForm& form, const net::TAccount& account,
                                           const std::string& directory,
                                           const std::string& fileName, std::string& error);

} // namespace morvane::app
