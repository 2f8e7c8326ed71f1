#pragma once
// The services the main window works with, passed in so that tests can give it doubles.

#include "core/platform/EventLoop.h"
#include "core/platform/Registry.h"
#include "core/platform/UiServices.h"

#include <filesystem>
#include <string>
#include <vector>

namespace morvane::net {
class TAccountSecrets;
}

namespace morvane::app {

class TRecoveryService;

struct AppContext {
    platform::Registry* registry = nullptr;
    platform::Dialogs* dialogs = nullptr;
    platform::Clipboard* clipboard = nullptr;
    platform::Shell* shell = nullptr;
    platform::EventLoop* loop = nullptr;
    // Where account passwords are kept (desktop keyring or settings file); null in tests that
    // keep them in the settings only.
    net::TAccountSecrets* secrets = nullptr;
    std::filesystem::path programFolder;
    std::filesystem::path resources;
    std::vector<std::string> arguments; // command-line arguments after the program path
    // "--browse ACCOUNT": the Open command runs with this account after the first activation.
    std::string browseAccount;
    // The daily update check runs after the first activation (the program, not its tests).
    bool updateCheck = false;
    // Recovery files of unsaved changes; null keeps none (tests).
    TRecoveryService* recovery = nullptr;
    // Where the open documents are recorded on a normal exit; empty records nothing (tests).
    std::filesystem::path sessionFile;
};

} // namespace morvane::app
