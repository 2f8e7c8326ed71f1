#pragma once
// The windows of the remote road as the main window and the documents call them. Each is a
// function the window that provides it fills in when the main window is built; tests replace
// them with scripted answers. An empty function counts as a cancel.

#include "core/net/Account.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace morvane::app {

enum class TBrowserMode { Open = 0, Save = 1, Select = 2 };

// What the remote file browser returns on OK.
struct TBrowserResult {
    net::TAccount account;              // its Directory is the directory shown last
    std::vector<std::string> fileNames; // the chosen names (the edit's text when none selected)
    std::string fileNameText;           // the file-name edit's text
};

struct TRemoteServices {
    // Quick connect and the password prompt for ApplyAccount.
    net::TAccountPrompts prompts;
    // The account manager; true when closed with OK (accounts were rewritten).
    std::function<bool()> showAccounts;
    // The remote file browser, modal; nullopt when cancelled.
    std::function<std::optional<TBrowserResult>(TBrowserMode mode, const net::TAccount& account,
                                                const std::string& fileName)>
        browse;
    // The remote folder chooser for an account's start directory: the chosen path, or nullopt.
    std::function<std::optional<std::string>(const net::TAccount& account)> chooseDirectory;
    // Creates a document and opens the remote file directory/fileName of the account in it
    // (an empty directory means the account's home directory after login).
    std::function<void(const net::TAccount& account, const std::string& directory,
                       const std::string& fileName)>
        openRemoteDocument;
    // Enters a document that closes into the recent-files list (an empty account name for a
    // local file, whose directory ends in "/").
    std::function<void(const std::string& account, const std::string& directory,
                       const std::string& fileName)>
        addRecent;
};

} // namespace morvane::app
