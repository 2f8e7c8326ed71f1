#include "core/net/RemoteBrowser.h"

#include "core/net/ProtocolFileSystem.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <utility>

namespace morvane::net {

namespace {

char Lower(char c) {
    return char(std::tolower(static_cast<unsigned char>(c)));
}

std::string LowerText(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        c = Lower(c);
    return r;
}

std::string Extension(const std::string& name) {
    std::size_t dot = name.rfind('.');
    if (dot == std::string::npos) return {};
    return LowerText(name.substr(dot));
}

bool IsDotEntry(const std::string& name) {
    return name == "." || name == "..";
}

std::vector<std::string> SplitPath(const std::string& path) {
    std::vector<std::string> parts;
    std::size_t i = 0;
    while (i < path.size()) {
        std::size_t j = path.find('/', i);
        if (j == std::string::npos) j = path.size();
        if (j > i) parts.push_back(path.substr(i, j - i));
        i = j + 1;
    }
    return parts;
}

std::string JoinPath(const std::string& base, const std::string& name) {
    if (base.empty() || base.back() == '/') return base + name;
    return base + "/" + name;
}

} // namespace

std::vector<TFilterEntry> BuildFilterList(const std::vector<TFileType>& table) {
    std::vector<TFilterEntry> list;
    std::vector<std::string> descriptions;
    for (const TFileType& t : table) {
        auto it = std::find(descriptions.begin(), descriptions.end(), t.description);
        std::size_t i = std::size_t(it - descriptions.begin());
        if (it == descriptions.end()) {
            descriptions.push_back(t.description);
            list.push_back({});
        }
        list[i].patterns.push_back("*" + t.extension);
    }
    descriptions.push_back("All");
    list.push_back({{}, {"*"}});
    for (std::size_t i = 0; i < list.size(); ++i) {
        std::string shown;
        const auto& p = list[i].patterns;
        for (std::size_t k = 0; k < p.size() && k < 5; ++k)
            shown += (k ? ", " : "") + p[k];
        if (p.size() > 5) shown += " ...";
        list[i].caption = descriptions[i] + " files (" + shown + ")";
    }
    return list;
}

bool WildcardMatch(std::string_view pattern, std::string_view name) {
    // Iterative match with one backtrack point: linear in practice, never recursive.
    std::size_t p = 0, n = 0, star = std::string_view::npos, mark = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || Lower(pattern[p]) == Lower(name[n]))) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            mark = n;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            n = ++mark;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

bool HasWildcard(std::string_view text) {
    return text.find_first_of("*?") != std::string_view::npos;
}

std::vector<std::string> SplitPatterns(std::string_view text) {
    std::vector<std::string> out;
    std::size_t i = 0;
    while (i <= text.size()) {
        std::size_t j = text.find(';', i);
        if (j == std::string_view::npos) j = text.size();
        std::string_view part = text.substr(i, j - i);
        while (!part.empty() && part.front() == ' ')
            part.remove_prefix(1);
        while (!part.empty() && part.back() == ' ')
            part.remove_suffix(1);
        if (!part.empty()) out.emplace_back(part);
        i = j + 1;
    }
    return out;
}

bool IsDirectoryEntry(const TDirectoryEntry& e) {
    return e.Kind == 1;
}

bool IsLinkEntry(const TDirectoryEntry& e) {
    return !e.Attributes.empty() && e.Attributes[0] == 'l';
}

TEntryType EntryType(const TDirectoryEntry& e, const std::vector<TFileType>& table) {
    if (IsDirectoryEntry(e)) return {"Directory", 0};
    std::string ext = Extension(e.Name);
    if (ext == ".html" || ext == ".htm") return {"HTML file", 1};
    for (const TFileType& t : table)
        if (t.extension == ext) return {t.description, 1};
    static const char* const kText[] = {".txt", ".shtml", ".asc", ".cgi", ".pl", ".pl5"};
    for (const char* t : kText)
        if (ext == t) return {ext.substr(1) + " file", 1};
    static const char* const kGraphics[] = {".bmp", ".jpg", ".jpeg", ".gif"};
    for (const char* g : kGraphics)
        if (ext == g) return {"Graphics file", 2};
    return {"file", 3};
}

std::string SizeColumn(const TDirectoryEntry& e) {
    if (IsDirectoryEntry(e)) return {};
    char buf[64];
    std::snprintf(buf, sizeof buf, "%2.1fKB", double(e.Size) / 1024.0);
    return buf;
}

std::int64_t DateKey(const std::string& date, int nowYear, int nowMonth) {
    static const char* const kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                          "jul", "aug", "sep", "oct", "nov", "dec"};
    char mon[8] = {};
    int day = 0, a = 0, b = 0;
    int month = 0, year = 0, hour = 0, minute = 0;
    if (std::sscanf(date.c_str(), "%3s %d %d:%d", mon, &day, &a, &b) == 4) {
        hour = a;
        minute = b;
    } else if (std::sscanf(date.c_str(), "%3s %d %d", mon, &day, &a) == 3) {
        year = a;
    } else {
        return 0;
    }
    for (int m = 0; m < 12; ++m)
        if (LowerText(mon) == kMonths[m]) month = m + 1;
    if (month == 0) return 0;
    if (year == 0) year = month > nowMonth ? nowYear - 1 : nowYear;
    return ((((std::int64_t(year) * 100 + month) * 100 + day) * 100 + hour) * 100) + minute;
}

void SortEntries(std::vector<TDirectoryEntry>& entries, TSortKey key,
                 const std::vector<TFileType>& table) {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    // Keys are computed once per entry: large folders sort without re-deriving them.
    struct Keyed {
        std::int64_t primary;
        std::string name;
        TDirectoryEntry* entry;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(entries.size());
    for (auto& e : entries) {
        std::int64_t primary = 0;
        switch (key) {
        case skSize: // directories have no size column and come first
            primary = IsDirectoryEntry(e) ? -1 : e.Size;
            break;
        case skType:
            primary = EntryType(e, table).icon;
            break;
        case skDate:
            primary = DateKey(e.Date, tm.tm_year + 1900, tm.tm_mon + 1);
            break;
        case skName:
            break;
        }
        keyed.push_back({primary, LowerText(e.Name), &e});
    }
    std::stable_sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
        if (a.primary != b.primary) return a.primary < b.primary;
        return a.name < b.name;
    });
    std::vector<TDirectoryEntry> sorted;
    sorted.reserve(entries.size());
    for (auto& k : keyed)
        sorted.push_back(std::move(*k.entry));
    entries = std::move(sorted);
}

std::vector<TComboEntry> BuildPathCombo(const std::vector<std::string>& accounts,
                                        const std::string& currentAccount, bool connected,
                                        bool unixPaths, const std::string& base,
                                        const std::string& current, int& selected) {
    std::vector<TComboEntry> out;
    selected = -1;
    std::vector<std::string> names = accounts;
    names.push_back(kQuickConnectName);
    for (const std::string& name : names) {
        out.push_back({name, 1, {}, true});
        if (name != currentAccount) continue;
        selected = int(out.size()) - 1;
        if (!connected || !unixPaths || current.empty()) continue;
        // Components relative to the base when the directory lies under it (whole components
        // only), otherwise relative to the root.
        std::string root = base;
        std::vector<std::string> baseParts = SplitPath(base);
        std::vector<std::string> parts = SplitPath(current);
        bool under = parts.size() >= baseParts.size() &&
                     std::equal(baseParts.begin(), baseParts.end(), parts.begin()) &&
                     !base.empty() && base.front() == current.front();
        if (under) {
            parts.erase(parts.begin(), parts.begin() + std::ptrdiff_t(baseParts.size()));
        } else {
            root = "/";
        }
        std::string path = root;
        int level = 2;
        for (const std::string& p : parts) {
            path = JoinPath(path, p);
            out.push_back({p, level++, path, false});
            selected = int(out.size()) - 1;
        }
    }
    return out;
}

TSelectionText SelectionText(const std::vector<TDirectoryEntry>& selected) {
    TSelectionText r;
    std::vector<const TDirectoryEntry*> files;
    for (const auto& e : selected) {
        r.bytes += e.Size;
        if (!IsDirectoryEntry(e)) files.push_back(&e);
    }
    if (selected.size() == 1) {
        if (!files.empty()) r.text = files[0]->Name;
        return r;
    }
    for (const auto* f : files)
        r.text += (r.text.empty() ? "\"" : " \"") + f->Name + "\"";
    return r;
}

// --- the browser -----------------------------------------------------------------------------

TRemoteBrowser::TRemoteBrowser(platform::EventLoop& loop, platform::Dialogs& dialogs,
                               std::unique_ptr<TRemoteFileSystem> fs)
    : loop_(loop), dialogs_(dialogs), fs_(std::move(fs)) {
    if (!fs_) fs_ = std::make_unique<TProtocolFileSystem>(loop_);
    fs_->onStatus = [this](const std::string& text) {
        activity();
        if (!text.empty() && onStatus) onStatus(text);
    };
}

TRemoteBrowser::~TRemoteBrowser() {
    if (watchdog_) loop_.cancelTimer(watchdog_);
    fs_->onStatus = nullptr;
    fs_->Disconnect();
}

TRemoteFileSystem::Done
TRemoteBrowser::heard(void (TRemoteBrowser::*handler)(const TRemoteResult&)) {
    return [this, handler](const TRemoteResult& r) {
        activity();
        (this->*handler)(r);
    };
}

void TRemoteBrowser::setBusy(bool busy) {
    if (busy && !running_) activity();
    // The browser's own watchdog speaks first, with its own message; the file system's timeout
    // stays behind it for the commands that others run on it (chmod).
    if (busy) fs_->SetReplyTimeout(replyTimeout + replyTimeout / 4);
    running_ = busy;
    if (busy && !watchdog_) {
        auto tick = std::max(std::chrono::milliseconds(10),
                             std::min(std::chrono::milliseconds(1000), replyTimeout / 4));
        watchdog_ = loop_.addTimer(tick, true, [this] { watchdog(); });
    } else if (!busy && watchdog_) {
        loop_.cancelTimer(watchdog_);
        watchdog_ = 0;
    }
    if (onBusy) onBusy(busy);
}

void TRemoteBrowser::activity() {
    lastActivity_ = std::chrono::steady_clock::now();
}

void TRemoteBrowser::watchdog() {
    if (!running_ || std::chrono::steady_clock::now() - lastActivity_ < replyTimeout) return;
    queue_.clear();
    reconnecting_ = false;
    fs_->Disconnect();
    setBusy(false);
    dialogs_.error("The server did not answer in time; the connection was closed.");
}

void TRemoteBrowser::connectAccount(const TAccount& account) {
    account_ = account;
    abort();
    setBusy(true);
    fs_->Connect(heard(&TRemoteBrowser::connected));
}

void TRemoteBrowser::abort() {
    queue_.clear();
    pick_.clear();
    linkTry_ = false;
    stopClient();
    reconnecting_ = false;
    setBusy(false);
}

void TRemoteBrowser::disconnect() {
    queue_.clear();
    fs_->Disconnect();
    setBusy(false);
}

// What runs is stopped without a report; an idle connection stays open.
void TRemoteBrowser::stopClient() {
    if (fs_->Busy()) fs_->Disconnect();
}

void TRemoteBrowser::enqueue(TBrowserCommand command, const std::string& arg1,
                             const std::string& arg2) {
    // A refresh right behind another one would list the same directory twice.
    if (command == bcRefresh && !queue_.empty() && queue_.back().command == bcRefresh) return;
    queue_.push_back({command, arg1, arg2});
}

void TRemoteBrowser::kick() {
    if (running_ || queue_.empty()) return;
    setBusy(true);
    if (fs_->Connected()) {
        fs_->KeepAlive(heard(&TRemoteBrowser::probed));
    } else {
        fs_->Connect(heard(&TRemoteBrowser::connected));
    }
}

void TRemoteBrowser::runNext() {
    if (queue_.empty()) {
        setBusy(false);
        return;
    }
    TQueuedCommand c = queue_.front();
    queue_.pop_front();
    setBusy(true);
    switch (c.command) {
    case bcClose:
        setBusy(false);
        if (onClose) onClose();
        return;
    case bcUp:
        requested_ = "..";
        fs_->ChangeDirectory("..", heard(&TRemoteBrowser::changedDirectory));
        return;
    case bcChangeDir:
    case bcEnterLink:
    case bcOpenPath:
        requested_ = c.arg1;
        linkTry_ = c.command == bcEnterLink;
        pick_ = c.command == bcOpenPath ? c.arg2 : std::string();
        fs_->ChangeDirectory(c.arg1, heard(&TRemoteBrowser::changedDirectory));
        return;
    case bcDeleteFile:
    case bcRemoveDir:
        if (onStatus) onStatus("Deleting " + c.arg1 + "...");
        if (c.command == bcDeleteFile) {
            fs_->Remove(c.arg1, heard(&TRemoteBrowser::removed));
        } else {
            fs_->RemoveFolder(c.arg1, heard(&TRemoteBrowser::removed));
        }
        return;
    case bcMakeDir:
        requested_ = c.arg1;
        fs_->MakeFolder(c.arg1, heard(&TRemoteBrowser::madeFolder));
        return;
    case bcRefresh:
        while (!queue_.empty() && queue_.front().command == bcRefresh)
            queue_.pop_front();
        startListing();
        return;
    case bcRename:
        renameFrom_ = c.arg1;
        renameTo_ = c.arg2;
        fs_->Rename(c.arg1, c.arg2, heard(&TRemoteBrowser::renamed));
        return;
    }
    setBusy(false);
    dialogs_.error("Oops");
}

void TRemoteBrowser::startListing() {
    complete_.clear();
    fs_->List(
        [this](const TDirectoryEntry& e) {
            activity();
            complete_.push_back(e);
        },
        heard(&TRemoteBrowser::listed));
}

void TRemoteBrowser::rebuildVisible() {
    visible_.clear();
    for (const auto& e : complete_) {
        if (IsDotEntry(e.Name)) continue;
        bool shown = IsDirectoryEntry(e);
        for (std::size_t i = 0; !shown && i < patterns_.size(); ++i)
            shown = WildcardMatch(patterns_[i], e.Name);
        if (shown) visible_.push_back(e);
    }
    SortEntries(visible_, sortKey_, fileTypes);
    if (onListing) onListing();
}

void TRemoteBrowser::setPatterns(std::vector<std::string> patterns) {
    patterns_ = std::move(patterns);
    if (patterns_.empty()) patterns_ = {"*"};
    rebuildVisible();
}

void TRemoteBrowser::setSortKey(TSortKey key) {
    sortKey_ = key;
    rebuildVisible();
}

const TDirectoryEntry* TRemoteBrowser::find(const std::string& name) const {
    for (const auto& e : complete_)
        if (e.Name == name) return &e;
    return nullptr;
}

void TRemoteBrowser::connected(const TRemoteResult& r) {
    reconnecting_ = false;
    if (!r.ok()) {
        if (onLoginFailed) onLoginFailed();
        // The session is left closed so that the next action starts a fresh login.
        queue_.clear();
        fs_->Disconnect();
        setBusy(false);
        dialogs_.error("Error connecting to host \"" + fs_->Login().host + "\"\r\n" + r.message);
        return;
    }
    if (account_.Directory.empty()) account_.Directory = fs_->Login().directory;
    if (!account_.Directory.empty()) {
        requested_ = account_.Directory;
        fs_->ChangeDirectory(account_.Directory, heard(&TRemoteBrowser::changedDirectory));
        return;
    }
    account_.Directory = fs_->CurrentDirectory();
    base_ = fs_->CurrentDirectory();
    startListing();
}

void TRemoteBrowser::listed(const TRemoteResult& r) {
    rebuildVisible();
    if (!r.ok())
        dialogs_.error("Unable to list directory " + fs_->CurrentDirectory() + ":\r\n" + r.message);
    if (onStatus) onStatus("");
    if (!pick_.empty()) {
        std::string name = std::exchange(pick_, {});
        runNext();
        if (onPick) onPick(name, false);
        return;
    }
    runNext();
}

void TRemoteBrowser::changedDirectory(const TRemoteResult& r) {
    if (r.ok()) {
        linkTry_ = false;
        account_.Directory = fs_->CurrentDirectory();
        if (base_.empty()) base_ = fs_->CurrentDirectory();
        startListing();
        return; // the next entry runs once the listing is complete
    }
    bool link = std::exchange(linkTry_, false);
    pick_.clear();
    if (!fs_->Connected()) queue_.clear();
    setBusy(false);
    if (onStatus) onStatus("");
    if (link && fs_->Connected()) {
        // A link that cannot be entered stands for a file.
        runNext();
        if (onPick) onPick(requested_, true);
        return;
    }
    dialogs_.error("Error changing to directory " + requested_ + ":\r\n" + r.message);
    if (fs_->Connected()) runNext();
}

void TRemoteBrowser::probed(const TRemoteResult& r) {
    if (r.ok()) return runNext();
    if (reconnecting_) return;
    // The connection was lost: log in again; the queue runs after the listing.
    reconnecting_ = true;
    fs_->Connect(heard(&TRemoteBrowser::connected));
}

void TRemoteBrowser::removed(const TRemoteResult& r) {
    if (!r.ok()) dialogs_.error("Unable to delete: " + r.message);
    enqueue(bcRefresh);
    runNext();
}

void TRemoteBrowser::renamed(const TRemoteResult& r) {
    if (r.ok()) {
        for (auto* list : {&complete_, &visible_})
            for (auto& e : *list)
                if (e.Name == renameFrom_) e.Name = renameTo_;
        if (onRenamed) onRenamed(renameFrom_, renameTo_);
    } else {
        dialogs_.error("Error renaming file: " + r.message);
    }
    runNext();
}

void TRemoteBrowser::madeFolder(const TRemoteResult& r) {
    if (r.ok()) {
        TDirectoryEntry e;
        e.Name = requested_;
        e.Kind = 1;
        e.Attributes = "drwxr-xr-x";
        complete_.push_back(e);
        visible_.push_back(e);
        if (onFolderCreated) onFolderCreated(requested_);
    } else {
        dialogs_.error("Unable to create directory: " + r.message);
    }
    runNext();
}

TRemoteBrowser::Act TRemoteBrowser::actOn(const std::string& name, bool isDirectory) {
    if (HasWildcard(name)) {
        setPatterns(SplitPatterns(name));
        return Act::Filtered;
    }
    if (const TDirectoryEntry* e = find(name); e && IsLinkEntry(*e)) {
        enqueue(bcEnterLink, name);
        kick();
        return Act::Queued;
    }
    if (isDirectory) {
        enqueue(bcChangeDir, name);
        kick();
        return Act::Queued;
    }
    if (name.empty()) {
        dialogs_.error("Must enter a filename.");
        return Act::Nothing;
    }
    const TRemoteCapabilities caps = fs_->Capabilities();
    const char separator = caps.separator;
    if (caps.unixPaths && name.find(separator) != std::string::npos) {
        // The folder first; the last part may be a file or a folder, which its listing shows.
        std::size_t last = name.rfind(separator);
        std::string folder = name.substr(0, last);
        if (folder.empty()) folder = std::string(1, separator);
        std::string rest = name.substr(last + 1);
        if (rest.empty() || rest == "." || rest == "..")
            enqueue(bcChangeDir, name);
        else
            enqueue(bcOpenPath, folder, rest);
        kick();
        return Act::Queued;
    }
    if (const TDirectoryEntry* e = find(name); e && IsDirectoryEntry(*e)) {
        enqueue(bcChangeDir, name);
        kick();
        return Act::Queued;
    }
    return actOnFile(name);
}

TRemoteBrowser::Act TRemoteBrowser::actOnFile(const std::string& name) {
    if (name.empty()) {
        dialogs_.error("Must enter a filename.");
        return Act::Nothing;
    }
    // Every name of the folder counts, not only those the filter shows.
    if (mode == Mode::Save && find(name) &&
        dialogs_.message(platform::MsgKind::Confirmation, "Overwrite existing file " + name,
                         platform::mbYesNo) != platform::MsgResult::Yes)
        return Act::Nothing;
    return Act::Finish;
}

void TRemoteBrowser::deleteEntries(const std::vector<TDirectoryEntry>& entries) {
    bool all = false;
    for (const auto& e : entries) {
        bool dir = IsDirectoryEntry(e);
        if (!all) {
            auto r = dialogs_.message(platform::MsgKind::Confirmation,
                                      std::string("Delete ") + (dir ? "directory" : "file") + " " +
                                          e.Name + "?",
                                      platform::mbYes | platform::mbNo | platform::mbYesToAll);
            if (r == platform::MsgResult::YesToAll) all = true;
            if (r != platform::MsgResult::Yes && r != platform::MsgResult::YesToAll) continue;
        }
        enqueue(dir ? bcRemoveDir : bcDeleteFile, e.Name);
    }
    enqueue(bcRefresh);
    kick();
}

} // namespace morvane::net
