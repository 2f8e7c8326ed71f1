#include "core/app/RemoteSession.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <system_error>
#include <utility>

namespace morvane::app {

using net::TFTPState;

namespace {

// printf's "%s" filled in order; the arguments are bytes, never formats themselves.
std::string Format(const char* format, std::initializer_list<std::string> args) {
    std::string out;
    auto next = args.begin();
    for (const char* p = format; *p; ++p) {
        if (p[0] == '%' && p[1] == 's' && next != args.end()) {
            out += *next++;
            ++p;
        } else {
            out += *p;
        }
    }
    return out;
}

// The text after a reply's code ("213 20240101120000" gives "20240101120000").
std::string ReplyText(const std::string& reply) {
    std::size_t start = reply.size() > 4 ? 4 : reply.size();
    std::string text = reply.substr(start);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

std::optional<std::int64_t> ParseSize(const std::string& text) {
    if (text.empty() || text.size() > 18) return std::nullopt;
    std::int64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + (c - '0');
    }
    return v;
}

// The code of "Host replied: 553 ..." and the like; 0 when there is none.
int CodeInMessage(const std::string& message) {
    std::size_t colon = message.find(": ");
    std::size_t at = colon == std::string::npos ? 0 : colon + 2;
    if (message.size() < at + 3) return 0;
    int v = 0;
    for (std::size_t i = at; i < at + 3; ++i) {
        if (message[i] < '0' || message[i] > '9') return 0;
        v = v * 10 + (message[i] - '0');
    }
    return v;
}

} // namespace

std::optional<net::TDirectoryEntry> EntryFromStatus(const std::string& reply,
                                                    const std::string& name) {
    std::string code = reply.substr(0, 3);
    std::optional<net::TDirectoryEntry> found;
    std::size_t start = reply.find('\n');
    while (start != std::string::npos) {
        std::size_t end = reply.find('\n', start + 1);
        if (end == std::string::npos) break; // the last line closes the reply
        std::string_view line(reply.data() + start + 1, end - start - 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        // Some servers repeat the code on every line; a listing line never starts with digits.
        if (line.size() >= 4 && line.substr(0, 3) == code && line[3] == '-') line.remove_prefix(4);
        while (!line.empty() && line.front() == ' ')
            line.remove_prefix(1);
        net::TDirectoryEntry entry;
        if (net::ParseListLine(line, entry)) {
            // A file gives one line; more is a folder's content, whatever the names.
            if (found) return std::nullopt;
            found = std::move(entry);
        }
        start = end;
    }
    if (found && found->Name != name) return std::nullopt;
    return found;
}

std::optional<int> ModeFromAttributes(const std::string& attributes) {
    if (attributes.size() < 10) return std::nullopt;
    int mode = 0;
    static const int shift[3] = {6, 3, 0};
    static const int special[3] = {04000, 02000, 01000};
    for (int who = 0; who < 3; ++who) {
        char r = attributes[std::size_t(1 + who * 3)];
        char w = attributes[std::size_t(2 + who * 3)];
        char x = attributes[std::size_t(3 + who * 3)];
        if (r == 'r')
            mode |= 4 << shift[who];
        else if (r != '-')
            return std::nullopt;
        if (w == 'w')
            mode |= 2 << shift[who];
        else if (w != '-')
            return std::nullopt;
        char setChar = who == 2 ? 't' : 's';
        char setNoExec = who == 2 ? 'T' : 'S';
        if (x == 'x') {
            mode |= 1 << shift[who];
        } else if (x == setChar) {
            mode |= (1 << shift[who]) | special[who];
        } else if (x == setNoExec) {
            mode |= special[who];
        } else if (x != '-') {
            return std::nullopt;
        }
    }
    return mode;
}

std::string ModeText(int mode) {
    char text[8];
    if (mode & 07000)
        std::snprintf(text, sizeof text, "%04o", unsigned(mode & 07777));
    else
        std::snprintf(text, sizeof text, "%03o", unsigned(mode & 0777));
    return text;
}

std::string MirrorFolder(const std::string& home, const std::string& current, char separator,
                         const std::string& mirrorRoot, std::string* error) {
    std::string base = home;
    while (base.size() > 1 && base.back() == separator)
        base.pop_back();
    std::string rest;
    if (current == base) {
        rest.clear();
    } else if (base.size() == 1 && base[0] == separator && !current.empty() &&
               current[0] == separator) {
        rest = current.substr(1);
    } else if (current.size() > base.size() && current.compare(0, base.size(), base) == 0 &&
               current[base.size()] == separator) {
        rest = current.substr(base.size() + 1);
    } else {
        return "";
    }
    std::string folder = mirrorRoot;
    if (folder.empty() || folder.back() != '/') folder += '/';
    std::size_t start = 0;
    while (start <= rest.size()) {
        std::size_t end = rest.find(separator, start);
        if (end == std::string::npos) end = rest.size();
        std::string part = rest.substr(start, end - start);
        if (part == "." || part == ".." || part.find('/') != std::string::npos ||
            part.find('\0') != std::string::npos) {
            if (error) *error = "Mirroring refused for the remote directory " + current;
            return "";
        }
        if (!part.empty()) folder += part + "/";
        start = end + 1;
    }
    return folder;
}

std::optional<std::string> DocumentStatusText(TFTPState state, const std::string& host) {
    switch (state) {
    case net::ftpResolving:
        return "Resalving host name '" + host + "'";
    case net::ftpConnecting:
        return "Connecting to " + host;
    case net::ftpWaitGreeting:
        return "Connected to " + host + ", waiting for greeting";
    case net::ftpSendingUser:
        return "Sending username";
    case net::ftpSendingPassword:
        return "Sending password";
    case net::ftpSystemType:
        return "Determining system type";
    case net::ftpGettingDir:
        return "Getting current directory";
    case net::ftpSendingPort:
        return "Sending port command";
    case net::ftpRetrieving:
        return "Getting file";
    case net::ftpStoring:
        return "Saving file";
    case net::ftpChangingDir:
        return "Changing directory";
    case net::ftpReady:
        return "";
    default:
        return std::nullopt;
    }
}

TRemoteSession::TRemoteSession(platform::EventLoop& loop, TRemoteSessionHost& host)
    : loop_(loop), host_(host), ftp_(loop) {
    ftp_.OnConnect = [this](net::TMsgFTP*, bool error) { Connected(error); };
    ftp_.OnFTPCommandDone = [this](net::TMsgFTP*, TFTPState state, bool error) {
        CommandDone(state, error);
    };
    ftp_.OnCustomFTPCommandDone = [this](net::TMsgFTP*, int code, const std::string& reply) {
        CustomDone(code, reply);
    };
    ftp_.OnStatusChange = [this](net::TMsgFTP*, TFTPState state) {
        if (auto text = DocumentStatusText(state, ftp_.Hostname())) host_.SessionStatus(*text);
    };
    ftp_.OnTransferProgress = [this](net::TMsgFTP*, std::int64_t bytes) {
        if (step_ == Step::Idle || step_ == Step::Asking) return;
        lastProgress_ = std::chrono::steady_clock::now(); // a transfer that moves is not stalled
        bool storing = ftp_.State() == net::ftpStoring;
        if (pieces_ && step_ == Step::Retrieve) TakePiece();
        host_.SessionProgress(storing, storing ? std::min(bytes - 1, uploadSize_) : bytes,
                              storing ? uploadSize_ : 0);
    };
    ftp_.OnDirectoryListing =
        [this](net::TMsgFTP*, const std::string& name, const std::string& date, std::int64_t size,
               std::int32_t, const std::string&, const std::string&,
               const std::string& attributes) { Listed(name, date, size, attributes); };
}

TRemoteSession::~TRemoteSession() {
    Disarm();
    step_ = Step::Idle;
    ftp_.OnConnect = nullptr;
    ftp_.OnFTPCommandDone = nullptr;
    ftp_.OnCustomFTPCommandDone = nullptr;
    ftp_.OnStatusChange = nullptr;
    ftp_.OnTransferProgress = nullptr;
    ftp_.OnDirectoryListing = nullptr;
    ftp_.Disconnect();
}

void TRemoteSession::SetLocation(const std::string& directory, const std::string& fileName) {
    directory_ = directory;
    fileName_ = fileName;
    stamp_ = Stamp();
}

// --- the queue ---------------------------------------------------------------------------------

void TRemoteSession::Open() {
    queue_.push_back({OpKind::Get, {}});
    RunQueue();
}

void TRemoteSession::Save(std::string bytes) {
    queue_.push_back({OpKind::Save, std::move(bytes)});
    SetBusy(true, transferring_);
    RunQueue();
}

void TRemoteSession::EnqueueClose() {
    queue_.push_back({OpKind::Close, {}});
    RunQueue();
}

void TRemoteSession::Cancel() {
    if (step_ == Step::Idle || step_ == Step::Asking) return;
    cancelled_ = true;
    ftp_.Abort();
}

void TRemoteSession::Disconnect() {
    step_ = Step::Idle;
    Disarm();
    ResetConnection();
}

void TRemoteSession::RunQueue() {
    if (step_ != Step::Idle || queue_.empty()) return;
    if (queue_.front().kind == OpKind::Close) return NextOp(); // needs no connection
    SetBusy(true, transferring_);
    timedOut_ = cancelled_ = false;
    if (ftp_.Connected() && loggedIn_ && queue_.front().kind == OpKind::Save &&
        std::chrono::steady_clock::now() - lastReply_ < std::chrono::seconds(1)) {
        // The server answered a moment ago; should the connection have gone since, the save's
        // first command finds out and the session logs in again.
        unprobed_ = true;
        NextOp();
    } else if (ftp_.Connected() && loggedIn_) {
        step_ = Step::Noop;
        Arm();
        ftp_.Noop();
    } else {
        StartConnect();
    }
}

void TRemoteSession::ResetConnection() {
    Step keep = step_;
    step_ = Step::Idle; // what the client reports while it is reset belongs to nobody
    loggedIn_ = false;
    ftp_.Abort();
    ftp_.Disconnect();
    step_ = keep;
}

void TRemoteSession::StartConnect() {
    unprobed_ = false;
    ResetConnection();
    step_ = Step::Connecting;
    Arm();
    ftp_.Connect();
}

void TRemoteSession::Connected(bool error) {
    ++events_;
    lastReply_ = std::chrono::steady_clock::now();
    if (step_ != Step::Connecting) return;
    if (error) return LoginFailed();
    loggedIn_ = true;
    if (account_.UseUMask) {
        step_ = Step::Umask;
        Arm();
        ftp_.SetUmask(account_.UMask);
    } else {
        AfterLogin();
    }
}

void TRemoteSession::AfterLogin() {
    home_ = ftp_.CurrentDirectory();
    if (directory_.empty()) directory_ = home_;
    // Binary type: the server must not rewrite line ends or any other byte.
    step_ = Step::Type;
    Arm();
    ftp_.SetTransferType("I");
}

void TRemoteSession::NextOp() {
    Disarm();
    if (queue_.empty()) {
        step_ = Step::Idle;
        SetBusy(false, false);
        return;
    }
    timedOut_ = cancelled_ = false;
    Op& op = queue_.front();
    switch (op.kind) {
    case OpKind::Get:
        SetBusy(true, true);
        host_.SessionProgress(false, 0, 0);
        Custom(Step::OpenMdtm, "MDTM " + fileName_);
        return;
    case OpKind::Save:
        SetBusy(true, false);
        StartSave();
        return;
    case OpKind::Cleanup:
        Custom(Step::Cleanup, "DELE " + TempName());
        return;
    case OpKind::Close:
        queue_.pop_front();
        step_ = Step::Idle;
        SetBusy(false, false);
        host_.CloseRequested();
        NextOp();
        return;
    }
}

void TRemoteSession::Custom(Step step, const std::string& command) {
    step_ = step;
    Arm();
    ftp_.SendCommand(command);
}

// STAT with the file's name answers on the control connection what a listing would, without a
// data connection. Names the server could take for options or patterns go to LIST.
void TRemoteSession::StartStatus(Step step) {
    Step list = step == Step::OpenStat    ? Step::OpenList
                : step == Step::CheckStat ? Step::CheckList
                                          : Step::ListAfter;
    if (statRefused_ || ftp_.SystemType() > 1 || fileName_.empty() || fileName_[0] == '-' ||
        fileName_.find_first_of("*?[]{}~\\") != std::string::npos)
        return StartList(list);
    entry_ = Entry();
    Custom(step, "STAT " + fileName_);
}

void TRemoteSession::StatusDone(int code, const std::string& reply) {
    Step step = step_;
    Step list = step == Step::OpenStat    ? Step::OpenList
                : step == Step::CheckStat ? Step::CheckList
                                          : Step::ListAfter;
    if (code == 500 || code == 502 || code == 504) statRefused_ = true;
    std::optional<net::TDirectoryEntry> found;
    if (code >= 211 && code <= 213) found = EntryFromStatus(reply, fileName_);
    // No line for the file proves nothing (a server may answer STAT differently): the listing
    // decides.
    if (!found) return StartList(list);
    entry_ = {true, found->Size, found->Date, found->Attributes};
    step_ = Step::Idle;
    switch (step) {
    case Step::OpenStat:
        return OpenEntryKnown();
    case Step::CheckStat:
        listOk_ = true;
        return DecideChanged();
    default:
        return AfterListing();
    }
}

void TRemoteSession::OpenEntryKnown() {
    if (entry_.found) stamp_.listDate = entry_.date;
    StartRetrieve(entry_.found ? entry_.size : -1);
}

void TRemoteSession::StartRetrieve(std::int64_t listedSize) {
    buffer_.clear();
    received_ = 0;
    // A document's first text may load as it arrives: a failure closes the document anyway.
    // A reload keeps the text it has until the whole file is here.
    pieces_ = !downloaded_ && host_.TakesPieces();
    // The listed size spares the buffer its regrowing copies; a server's figure is only a hint.
    constexpr std::int64_t kMaxReserve = std::int64_t(1) << 30;
    if (!pieces_ && listedSize > 0)
        buffer_.reserve(std::size_t(std::min(listedSize + 1, kMaxReserve)));
    step_ = Step::Retrieve;
    Arm();
    ftp_.RetrieveToString(fileName_, buffer_);
}

void TRemoteSession::StartList(Step step) {
    entry_ = Entry();
    step_ = step;
    Arm();
    ftp_.ListDirectory();
}

// --- events ------------------------------------------------------------------------------------

void TRemoteSession::CustomDone(int code, const std::string& reply) {
    if (code < 200) return; // a preliminary reply; the real one follows
    ++events_;
    lastReply_ = std::chrono::steady_clock::now();
    Step step = step_;
    if (unprobed_ && step == Step::CheckSize && code == 421) {
        // The server is closing the connection it kept idle: log in again, then save.
        return StartConnect();
    }
    unprobed_ = false;
    switch (step) {
    case Step::OpenMdtm:
        stamp_ = Stamp();
        if (code == 213) {
            stamp_.mdtm = ReplyText(reply);
            step_ = Step::Retrieve;
        } else {
            return StartStatus(Step::OpenStat);
        }
        break;
    case Step::CheckSize:
        sizeCode_ = code;
        if (code == 213) remoteSize_ = ParseSize(ReplyText(reply)).value_or(-1);
        if (!stamp_.mdtm.empty()) return Custom(Step::CheckMdtm, "MDTM " + fileName_);
        return StartStatus(Step::CheckStat);
    case Step::CheckMdtm:
        mdtmCode_ = code;
        if (code == 213) remoteMdtm_ = ReplyText(reply);
        return StartStatus(Step::CheckStat);
    case Step::OpenStat:
    case Step::CheckStat:
    case Step::StatAfter:
        Disarm();
        return StatusDone(code, reply);
    case Step::SizeTemp:
        tempSizeCode_ = code;
        if (code == 213) tempSize_ = ParseSize(ReplyText(reply)).value_or(-1);
        if (code == 213 && tempSize_ != uploadSize_) {
            std::string message = "The server holds " + std::to_string(tempSize_) + " of the " +
                                  std::to_string(uploadSize_) + " bytes sent";
            step_ = Step::Idle;
            SaveFailed(message);
            return;
        }
        step_ = Step::Rename;
        Arm();
        ftp_.RenameFile(TempName(), fileName_);
        return;
    case Step::DeleteTemp:
        tempMayExist_ = code >= 400 && code != 550;
        step_ = Step::StorePlain;
        SetBusy(true, true);
        Arm();
        ftp_.StoreFromBuffer(fileName_, queue_.front().bytes);
        return;
    case Step::Chmod:
        if (code >= 400)
            host_.Note("Could not give '" + fileName_ + "' its permissions back: " + reply);
        if (!stamp_.mdtm.empty()) return Custom(Step::MdtmAfter, "MDTM " + fileName_);
        return FinishSave();
    case Step::MdtmAfter:
        if (code == 213) stamp_.mdtm = ReplyText(reply);
        return FinishSave();
    case Step::Cleanup:
        if (code < 400 || code == 550) tempMayExist_ = false;
        queue_.pop_front();
        return NextOp();
    case Step::FailDelete:
        if (code < 400 || code == 550) tempMayExist_ = false;
        return AskRetry();
    default:
        return;
    }
    // OpenMdtm with a time: download now.
    StartRetrieve(-1);
}

void TRemoteSession::Listed(const std::string& name, const std::string& date, std::int64_t size,
                            const std::string& attributes) {
    if (name != fileName_) return;
    if (step_ != Step::OpenList && step_ != Step::CheckList && step_ != Step::ListAfter) return;
    entry_ = {true, size, date, attributes};
}

void TRemoteSession::CommandDone(TFTPState state, bool error) {
    ++events_;
    lastReply_ = std::chrono::steady_clock::now();
    Step step = step_;
    if (step == Step::Idle || step == Step::Asking) return;
    Disarm();
    bool aborted = ftp_.Aborted();
    if (aborted) loggedIn_ = false;
    // A custom command whose connection went away, or that could not be sent.
    if (state == net::ftpCustomCommand && !error) return;
    if (std::exchange(unprobed_, false) && step == Step::CheckSize && !cancelled_) {
        // The connection went while idle and no NOOP found out: open it again and save.
        return StartConnect();
    }
    switch (step) {
    case Step::Connecting:
        return LoginFailed();
    case Step::Umask:
        if (aborted) return LoginFailed();
        return AfterLogin();
    case Step::Type:
        if (error) return LoginFailed();
        // Login leaves the session in the home directory; changing to it again is a no-op.
        if (directory_ == ftp_.CurrentDirectory()) return NextOp();
        step_ = Step::Cwd;
        Arm();
        ftp_.ChangeDir(directory_);
        return;
    case Step::Cwd:
        if (error) return CwdFailed();
        return NextOp();
    case Step::Noop:
        if (!error) return NextOp();
        // The connection went away while idle: open it again and go on with the queue.
        return StartConnect();
    case Step::OpenMdtm:
        return OpenFailed(FailureText());
    case Step::OpenStat:
        if (aborted || !ftp_.Connected()) return OpenFailed(FailureText());
        return StartList(Step::OpenList);
    case Step::OpenList:
        if (aborted) return OpenFailed(FailureText());
        return OpenEntryKnown();
    case Step::Retrieve: {
        if (error) return OpenFailed(FailureText());
        queue_.pop_front();
        if (pieces_) TakePiece();
        stamp_.known = true;
        stamp_.size = pieces_ ? received_ : std::int64_t(buffer_.size());
        downloaded_ = true;
        step_ = Step::Idle;
        SetBusy(busy_, false);
        if (std::exchange(pieces_, false)) {
            host_.DownloadDone();
        } else {
            host_.Downloaded(buffer_);
        }
        buffer_.clear();
        buffer_.shrink_to_fit();
        host_.SessionStatus("");
        return NextOp();
    }
    case Step::CheckSize:
    case Step::CheckMdtm:
        return SaveFailed(FailureText());
    case Step::CheckStat:
        if (aborted || !ftp_.Connected()) return SaveFailed(FailureText());
        return StartList(Step::CheckList);
    case Step::CheckList:
        if (aborted) return SaveFailed(FailureText());
        listOk_ = !error;
        return DecideChanged(); // a folder we may not list still takes the file
    case Step::StoreTemp:
        if (!error) return UploadStored();
        if (Refused()) {
            if (!fallbackSaid_)
                host_.Note("The server refused the temporary file " + TempName() + " (" +
                           ftp_.ErrorMessage() + "); '" + fileName_ + "' is written directly.");
            fallbackSaid_ = true;
            tempMayExist_ = false;
            step_ = Step::StorePlain;
            Arm();
            ftp_.StoreFromBuffer(fileName_, queue_.front().bytes);
            return;
        }
        tempMayExist_ = true;
        return SaveFailed(FailureText());
    case Step::SizeTemp:
        return SaveFailed(FailureText());
    case Step::Rename:
        if (!error) {
            tempMayExist_ = false;
            host_.Saved();
            return AfterReplace();
        }
        if (aborted || !ftp_.Connected()) return SaveFailed(FailureText());
        if (!fallbackSaid_)
            host_.Note("The server refused to rename " + TempName() + " to '" + fileName_ + "' (" +
                       ftp_.ErrorMessage() + "); the file is written directly.");
        fallbackSaid_ = true;
        return Custom(Step::DeleteTemp, "DELE " + TempName());
    case Step::DeleteTemp:
        return SaveFailed(FailureText());
    case Step::StorePlain:
        if (error) return SaveFailed(FailureText());
        host_.Saved();
        return AfterReplace();
    case Step::StatAfter:
        if (aborted || !ftp_.Connected()) return FinishSave();
        return StartList(Step::ListAfter);
    case Step::ListAfter:
        if (aborted) return FinishSave();
        return AfterListing();
    case Step::Chmod:
    case Step::MdtmAfter:
        return FinishSave(); // the file is saved; only its bookkeeping was cut short
    case Step::Cleanup:
        queue_.pop_front();
        return NextOp();
    case Step::FailDelete:
        return AskRetry();
    case Step::Idle:
    case Step::Asking:
        return;
    }
}

// --- saving ------------------------------------------------------------------------------------

void TRemoteSession::StartSave() {
    listOk_ = false;
    sizeCode_ = mdtmCode_ = tempSizeCode_ = 0;
    remoteSize_ = tempSize_ = -1;
    remoteMdtm_.clear();
    originalMode_.reset();
    Custom(Step::CheckSize, "SIZE " + fileName_);
}

void TRemoteSession::DecideChanged() {
    const Op& op = queue_.front();
    if (entry_.found) originalMode_ = ModeFromAttributes(entry_.attributes);
    std::int64_t size = sizeCode_ == 213 ? remoteSize_ : entry_.found ? entry_.size : -1;
    bool exists = sizeCode_ == 213 || mdtmCode_ == 213 || entry_.found;
    bool changed = false;
    if (stamp_.known && !op.confirmed) {
        if (!exists && (sizeCode_ == 550 || mdtmCode_ == 550 || listOk_)) changed = true;
        if (exists && size >= 0 && size != stamp_.size) changed = true;
        if (!stamp_.mdtm.empty() && mdtmCode_ == 213 && remoteMdtm_ != stamp_.mdtm) changed = true;
        if (stamp_.mdtm.empty() && entry_.found && !stamp_.listDate.empty() &&
            entry_.date != stamp_.listDate)
            changed = true;
    }
    if (!changed) return StartUpload();

    step_ = Step::Asking; // nothing the client reports meanwhile is ours
    std::string question =
        Format("The file '%s' was changed on the server since you opened it.", {fileName_});
    TChangedAnswer answer = host_.AskChanged(question);
    step_ = Step::Idle;
    if (answer == TChangedAnswer::Overwrite) {
        queue_.front().confirmed = true;
        if (ftp_.Connected()) return StartUpload();
        // The connection went while the user thought: open it again, then upload.
        return RunQueue();
    }
    queue_.clear();
    if (answer == TChangedAnswer::Reload) {
        queue_.push_back({OpKind::Get, {}});
        return RunQueue();
    }
    SetBusy(false, false);
    host_.SessionStatus("");
}

void TRemoteSession::StartUpload() {
    uploadSize_ = std::int64_t(queue_.front().bytes.size());
    if (account_.EnableMirroring) {
        std::string error;
        std::string folder = MirrorFolder(home_, ftp_.CurrentDirectory(), ftp_.PathSeparator(),
                                          account_.MirrorDirectory, &error);
        // Without a mirror folder the copy would land below the file system's root.
        if (account_.MirrorDirectory.empty() || fileName_ == "." || fileName_ == ".." ||
            fileName_.find('/') != std::string::npos) {
            error = "No mirror copy of '" + fileName_ + "': no usable mirror folder or name";
            folder.clear();
        }
        if (!error.empty()) host_.Note(error);
        if (!folder.empty()) {
            host_.SessionStatus("Mirroring...");
            namespace fs = std::filesystem;
            std::error_code ec;
            bool go = fs::is_directory(folder, ec);
            if (!go) {
                step_ = Step::Asking;
                go = host_.AskCreateMirrorFolder(
                    Format("Directory %s does not exist, create it and continue?", {folder}));
                step_ = Step::Idle;
                if (go) {
                    fs::create_directories(folder, ec);
                    if (ec) {
                        host_.Note("Could not create the mirror folder " + folder + ": " +
                                   ec.message());
                        go = false;
                    }
                }
            }
            if (go) {
                const std::string& bytes = queue_.front().bytes;
                std::ofstream out(folder + fileName_, std::ios::binary | std::ios::trunc);
                out.write(bytes.data(), std::streamsize(bytes.size()));
                out.close();
                if (!out) host_.Note("Could not write the mirror copy " + folder + fileName_);
            }
            host_.SessionStatus("");
        }
        if (!ftp_.Connected()) {
            // The connection went while a question was open.
            queue_.front().confirmed = true;
            return RunQueue();
        }
    }
    SetBusy(true, true);
    host_.SessionProgress(true, 0, uploadSize_);
    step_ = Step::StoreTemp;
    tempMayExist_ = true;
    Arm();
    ftp_.StoreFromBuffer(TempName(), queue_.front().bytes);
}

// The file is replaced. A listing shows its new mode and, without MDTM, its new date; when the
// original's mode is unknown and MDTM works, the listing has nothing to offer.
void TRemoteSession::AfterReplace() {
    if (!originalMode_ && !stamp_.mdtm.empty()) return Custom(Step::MdtmAfter, "MDTM " + fileName_);
    StartStatus(Step::StatAfter);
}

// What the listing after the rename showed: the mode goes back when it differs.
void TRemoteSession::AfterListing() {
    if (!entry_.found) {
        if (!stamp_.mdtm.empty()) return Custom(Step::MdtmAfter, "MDTM " + fileName_);
        return FinishSave();
    }
    if (stamp_.mdtm.empty()) stamp_.listDate = entry_.date;
    auto now = ModeFromAttributes(entry_.attributes);
    if (originalMode_ && now && *now != *originalMode_)
        return Custom(Step::Chmod, "SITE CHMOD " + ModeText(*originalMode_) + " " + fileName_);
    if (!stamp_.mdtm.empty()) return Custom(Step::MdtmAfter, "MDTM " + fileName_);
    FinishSave();
}

void TRemoteSession::UploadStored() {
    SetBusy(true, false);
    Custom(Step::SizeTemp, "SIZE " + TempName());
}

void TRemoteSession::FinishSave() {
    stamp_.known = true;
    stamp_.size = uploadSize_;
    if (!queue_.empty()) queue_.pop_front();
    host_.SessionStatus("");
    NextOp();
}

// --- failures ----------------------------------------------------------------------------------

std::string TRemoteSession::FailureText() const {
    if (timedOut_)
        return "No reply from the server within " +
               std::to_string(std::max<long long>(1, timeout_.count() / 1000)) + " seconds";
    if (cancelled_) return "Cancelled";
    if (!ftp_.ErrorMessage().empty()) return ftp_.ErrorMessage();
    return "The connection was closed";
}

// The server answered the upload of the temporary name with a refusal, before any byte moved.
bool TRemoteSession::Refused() const {
    if (timedOut_ || cancelled_ || ftp_.Aborted() || !ftp_.Connected()) return false;
    int code = CodeInMessage(ftp_.ErrorMessage());
    return code >= 500 && code < 600 && ftp_.ByteCount() == 0;
}

void TRemoteSession::LoginFailed() {
    std::string detail = FailureText();
    ResetConnection();
    step_ = Step::Idle;
    Disarm();
    bool saving = !queue_.empty() && queue_.front().kind == OpKind::Save;
    if (!queue_.empty() && queue_.front().kind == OpKind::Cleanup) return Quiet();
    std::string message = Format("Error connecting to host \"%s\"", {ftp_.Hostname()});
    if (!detail.empty()) message += ":\r\n" + detail;
    if (saving) return SaveFailed(message);
    queue_.clear();
    SetBusy(false, false);
    host_.SessionStatus("");
    host_.SessionFailed(message, !downloaded_);
}

// Passes what arrived since the last piece to the host.
void TRemoteSession::TakePiece() {
    if (buffer_.empty()) return;
    received_ += std::int64_t(buffer_.size());
    host_.DownloadPiece(buffer_);
    buffer_.clear(); // the client appends the next bytes from the start again
}

void TRemoteSession::OpenFailed(const std::string& detail) {
    if (ftp_.Aborted() || !ftp_.Connected()) ResetConnection();
    pieces_ = false;
    step_ = Step::Idle;
    Disarm();
    queue_.clear();
    buffer_.clear();
    buffer_.shrink_to_fit();
    SetBusy(false, false);
    host_.SessionStatus("");
    host_.SessionFailed(Format("Error getting file %s:\r\n%s", {fileName_, detail}), !downloaded_);
}

void TRemoteSession::CwdFailed() {
    std::string detail = FailureText();
    step_ = Step::Idle;
    bool saving = !queue_.empty() && queue_.front().kind == OpKind::Save;
    if (!queue_.empty() && queue_.front().kind == OpKind::Cleanup) return Quiet();
    std::string message = Format("Error changing to directory %s:\r\n%s", {directory_, detail});
    if (saving) return SaveFailed(message);
    queue_.clear();
    SetBusy(false, false);
    host_.SessionStatus("");
    host_.SessionFailed(message, !downloaded_);
}

// A cleanup that cannot reach the server gives up without troubling the user.
void TRemoteSession::Quiet() {
    step_ = Step::Idle;
    Disarm();
    queue_.clear();
    SetBusy(false, false);
    host_.SessionStatus("");
}

void TRemoteSession::SaveFailed(const std::string& detail) {
    Disarm();
    if (ftp_.Aborted() || !ftp_.Connected()) ResetConnection();
    failBytes_.clear();
    failHaveBytes_ = !queue_.empty() && queue_.front().kind == OpKind::Save;
    if (failHaveBytes_) failBytes_ = std::move(queue_.front().bytes);
    queue_.clear();
    failMessage_ = Format("Error saving file '%s':\r\n%s", {fileName_, detail});
    // A temporary file the server still holds goes first, when the connection allows it.
    if (tempMayExist_ && ftp_.Connected() && loggedIn_)
        return Custom(Step::FailDelete, "DELE " + TempName());
    AskRetry();
}

void TRemoteSession::AskRetry() {
    Disarm();
    step_ = Step::Idle;
    SetBusy(false, false);
    host_.SessionStatus("");
    if (failHaveBytes_ && host_.AskRetrySave(failMessage_)) {
        Save(std::move(failBytes_));
        return;
    }
    failBytes_.clear();
    if (tempMayExist_) {
        queue_.push_back({OpKind::Cleanup, {}});
        RunQueue();
    }
}

// --- state -------------------------------------------------------------------------------------

void TRemoteSession::SetBusy(bool busy, bool transferring) {
    if (busy == busy_ && transferring == transferring_) return;
    busy_ = busy;
    transferring_ = transferring;
    host_.SessionBusyChanged();
}

void TRemoteSession::Arm() {
    Disarm();
    timedOut_ = false;
    lastProgress_ = std::chrono::steady_clock::now();
    ArmFor(timeout_);
}

// Re-arming on every piece of a transfer would make and drop a timer each time; instead the
// timer, when it fires, waits again for what is left after the last progress.
void TRemoteSession::ArmFor(std::chrono::milliseconds wait) {
    timerArmed_ = true;
    timer_ = loop_.addTimer(wait, false, [this] {
        timerArmed_ = false;
        auto quiet = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - lastProgress_);
        if (quiet < timeout_) {
            ArmFor(timeout_ - quiet);
            return;
        }
        TimedOut();
    });
}

void TRemoteSession::Disarm() {
    if (timerArmed_) loop_.cancelTimer(timer_);
    timerArmed_ = false;
}

void TRemoteSession::TimedOut() {
    if (step_ == Step::Idle || step_ == Step::Asking) return;
    timedOut_ = true;
    std::uint64_t before = events_;
    ftp_.Abort(); // reports the step as failed through CommandDone
    // The client had nothing running to abort: the step fails here.
    if (events_ == before) CommandDone(net::ftpCustomCommand, true);
}

} // namespace morvane::app
