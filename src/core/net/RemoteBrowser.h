#pragma once
// The remote file browser without its window: the listing of one remote directory, the
// filtered and sorted list that is shown, the path combo's entries, and the command queue that
// drives the browser's own remote file system one command at a time.

#include "core/net/Account.h"
#include "core/net/ListingParser.h"
#include "core/net/RemoteFileSystem.h"
#include "core/platform/UiServices.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace morvane::net {

// One pair of the file-type table: extension (lower case, with its dot) and its description.
struct TFileType {
    std::string extension;
    std::string description;
};

struct TFilterEntry {
    std::string caption; // "HTML files (*.html, *.htm)"
    std::vector<std::string> patterns;
};

// Groups the extensions by description in order of first appearance; the last entry is "All".
std::vector<TFilterEntry> BuildFilterList(const std::vector<TFileType>& table);
// "*" any run, "?" one byte; letters compared without regard to case.
bool WildcardMatch(std::string_view pattern, std::string_view name);
bool HasWildcard(std::string_view text);
// The patterns typed into the file-name edit, separated by ";".
std::vector<std::string> SplitPatterns(std::string_view text);

bool IsDirectoryEntry(const TDirectoryEntry& e);
// A symbolic link: it may stand for a folder or a file, which only entering it tells.
bool IsLinkEntry(const TDirectoryEntry& e);

struct TEntryType {
    std::string text;
    int icon = 3; // 0 directory, 1 text type, 2 graphics, 3 other
};
TEntryType EntryType(const TDirectoryEntry& e, const std::vector<TFileType>& table);
// Size / 1024 with one decimal and "KB"; empty for directories.
std::string SizeColumn(const TDirectoryEntry& e);

enum TSortKey : int { skName = 0, skSize = 1, skType = 2, skDate = 3 };
// Sizes as numbers and dates by their calendar value (a listing's date text does not sort as
// text); ties fall back to the name.
void SortEntries(std::vector<TDirectoryEntry>& entries, TSortKey key,
                 const std::vector<TFileType>& table);
// A listing date ("Jan 5 2020" or "Jan 5 12:30") as yyyymmddhhmm; 0 when unreadable. Dates
// without a year are in the last twelve months before nowYear/nowMonth.
std::int64_t DateKey(const std::string& date, int nowYear, int nowMonth);

struct TComboEntry {
    std::string caption;
    int level = 1;    // 1 account, 2... path components under the current account
    std::string path; // for deeper entries: the directory they stand for
    bool account = true;
};

// Account names, then "Quick-connect"; under the current account the components of the
// current directory relative to base. selected is the current account's last entry (or -1).
std::vector<TComboEntry> BuildPathCombo(const std::vector<std::string>& accounts,
                                        const std::string& currentAccount, bool connected,
                                        bool unixPaths, const std::string& base,
                                        const std::string& current, int& selected);

// The edit text and total size for a selection: several files as quoted names, one file as
// its name, a lone directory as nothing.
struct TSelectionText {
    std::string text;
    std::int64_t bytes = 0;
};
TSelectionText SelectionText(const std::vector<TDirectoryEntry>& selected);

// Queue entries, numbered as the browser has always numbered them.
enum TBrowserCommand : int {
    bcClose = 1,
    bcUp = 2,
    bcChangeDir = 3,
    bcDeleteFile = 4,
    bcRemoveDir = 5,
    bcMakeDir = 6,
    bcRefresh = 7,
    bcRename = 8,
    bcEnterLink = 9, // enter a link; when it is no folder, it is picked as a file
    bcOpenPath = 10, // enter arg1, then pick arg2 there
};

struct TQueuedCommand {
    TBrowserCommand command;
    std::string arg1, arg2;
};

class TRemoteBrowser {
public:
    enum class Mode { Open = 0, Save = 1, Select = 2 };
    // What acting on a name (double-click, Enter, the open button) came to.
    enum class Act { Nothing, Filtered, Queued, Finish };

    // fs: the file system to browse; null gives an FTP one.
    TRemoteBrowser(platform::EventLoop& loop, platform::Dialogs& dialogs,
                   std::unique_ptr<TRemoteFileSystem> fs = nullptr);
    ~TRemoteBrowser();

    TRemoteFileSystem& fileSystem() { return *fs_; }
    TAccount& account() { return account_; }
    const std::string& baseDirectory() const { return base_; }
    Mode mode = Mode::Open;
    std::vector<TFileType> fileTypes;
    // A command that sees no reply, data or progress for this long is given up: a half-open
    // connection must not leave the browser busy for ever.
    std::chrono::milliseconds replyTimeout{60000};

    // Sets the account (already applied to fileSystem()) and connects.
    void connectAccount(const TAccount& account);
    // Stops what runs and forgets the queue.
    void abort();
    void disconnect();

    void enqueue(TBrowserCommand command, const std::string& arg1 = {},
                 const std::string& arg2 = {});
    // Sends a NOOP when connected (its completion runs the next entry), otherwise connects.
    void kick();
    const std::deque<TQueuedCommand>& queue() const { return queue_; }
    bool running() const { return running_; }

    // Filter patterns: from the edit when it holds "*" or "?", otherwise the file type's.
    void setPatterns(std::vector<std::string> patterns);
    const std::vector<std::string>& patterns() const { return patterns_; }
    void setSortKey(TSortKey key);
    TSortKey sortKey() const { return sortKey_; }
    const std::vector<TDirectoryEntry>& complete() const { return complete_; }
    // The complete list filtered and sorted, without "." and "..".
    const std::vector<TDirectoryEntry>& visible() const { return visible_; }
    const TDirectoryEntry* find(const std::string& name) const;

    // Acting on a name; isDirectory when it is a directory entry of the list. A typed path
    // ("css/style.css", "/srv/a.txt") enters its folder, then picks the name there.
    Act actOn(const std::string& name, bool isDirectory);
    // Acting on a name known to be a file (Save mode asks before overwriting one).
    Act actOnFile(const std::string& name);
    // Queues one removal per entry the user agrees to (Yes / No / Yes to all), then a refresh.
    void deleteEntries(const std::vector<TDirectoryEntry>& entries);

    // Events for the window.
    std::function<void()> onListing; // visible list rebuilt
    std::function<void(const std::string&)> onStatus;
    std::function<void(bool)> onBusy; // hourglass on / off
    std::function<void(const std::string&, const std::string&)> onRenamed;
    std::function<void(const std::string&)> onFolderCreated;
    std::function<void()> onClose;       // queue entry 1
    std::function<void()> onLoginFailed; // the connection or login did not succeed
    // A name to act on once its folder is listed (asFile: a link that is no folder).
    std::function<void(const std::string&, bool asFile)> onPick;

private:
    void setBusy(bool busy);
    void activity();
    void watchdog();
    void stopClient();
    void runNext();
    void startListing();
    void listed(const TRemoteResult& r);
    void rebuildVisible();
    void connected(const TRemoteResult& r);
    void changedDirectory(const TRemoteResult& r);
    void probed(const TRemoteResult& r);
    void removed(const TRemoteResult& r);
    void renamed(const TRemoteResult& r);
    void madeFolder(const TRemoteResult& r);
    // Wraps a handler so that it counts as activity first.
    TRemoteFileSystem::Done heard(void (TRemoteBrowser::*handler)(const TRemoteResult&));

    platform::EventLoop& loop_;
    platform::Dialogs& dialogs_;
    std::unique_ptr<TRemoteFileSystem> fs_;
    platform::TimerId watchdog_ = 0;
    std::chrono::steady_clock::time_point lastActivity_;
    TAccount account_;
    std::string base_;
    std::string requested_;
    std::string pick_;     // the name to pick once the folder entered is listed
    bool linkTry_ = false; // the running CWD enters a link
    std::string renameFrom_, renameTo_;
    std::deque<TQueuedCommand> queue_;
    bool running_ = false;
    bool reconnecting_ = false;
    std::vector<std::string> patterns_{"*"};
    TSortKey sortKey_ = skType;
    std::vector<TDirectoryEntry> complete_;
    std::vector<TDirectoryEntry> visible_;
};

} // namespace morvane::net
