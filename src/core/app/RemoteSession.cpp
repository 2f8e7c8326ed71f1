#include "core/app/RemoteSession.h"
#include "core/app/RemoteSessionText.h"

#include <algorithm>
#include <string>
#include <utility>

namespace morvane::app {

using net::TFTPState;
using session_text::Format;
using session_text::ParseSize;
using session_text::ReplyText;

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
    case net::ftpSecuring:
    case net::ftpTlsHandshake:
    case net::ftpSettingProtection:
        return net::FTPStatusText(state, host);
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
        entryName_ = fileName_;
        Custom(Step::OpenMdtm, "MDTM " + fileName_);
        return;
    case OpKind::Save:
        SetBusy(true, false);
        StartSave();
        return;
    case OpKind::Cleanup:
        Custom(Step::Cleanup, "DELE " + TempName());
        return;
    case OpKind::Restore:
        SetBusy(true, false);
        PutBack(Step::Restore);
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
    case Step::TargetStat:
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
        ftp_.RenameFile(TempName(), SaveName());
        return;
    case Step::DeleteTemp:
        tempMayExist_ = code >= 400 && code != 550;
        step_ = Step::Idle;
        return WriteInPlace("The server refused to rename " + TempName() + " to '" + SaveName() +
                            "' (" + renameError_ + ")");
    case Step::SizePlain: {
        std::int64_t size = code == 213 ? ParseSize(ReplyText(reply)).value_or(-1) : -1;
        if (code == 213 && size != uploadSize_) {
            step_ = Step::Idle;
            return SaveFailed("The server holds " + std::to_string(size) + " of the " +
                              std::to_string(uploadSize_) + " bytes sent");
        }
        if (backupMade_ && code == 213) return Custom(Step::DeleteBackup, "DELE " + BackupName());
        if (backupMade_)
            host_.Note("The size of '" + SaveName() +
                       "' could not be checked: its original stays on the server as '" +
                       BackupName() + "'.");
        backupMade_ = false;
        host_.Saved();
        return AfterReplace();
    }
    case Step::DeleteBackup:
        if (code >= 400 && code != 550)
            host_.Note("Could not remove '" + BackupName() + "': " + reply);
        backupMade_ = false;
        host_.Saved();
        return AfterReplace();
    case Step::Chmod:
        if (code >= 400)
            host_.Note("Could not give '" + SaveName() + "' its permissions back: " + reply);
        if (!stamp_.mdtm.empty()) return Custom(Step::MdtmAfter, "MDTM " + SaveName());
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
    if (name != entryName_) return;
    if (step_ != Step::OpenList && step_ != Step::CheckList && step_ != Step::TargetList &&
        step_ != Step::ListAfter)
        return;
    entry_ = {true, size, date, attributes, attributes.rfind('l', 0) == 0, ftp_.ListedLinkTarget()};
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
        return CheckedEntry(); // a folder we may not list still takes the file
    case Step::TargetStat:
        if (aborted || !ftp_.Connected()) return SaveFailed(FailureText());
        return StartList(Step::TargetList);
    case Step::TargetList:
        if (aborted) return SaveFailed(FailureText());
        return CheckedEntry();
    case Step::StoreTemp:
        if (!error) return UploadStored();
        if (Refused()) {
            tempMayExist_ = false;
            return WriteInPlace("The server refused the temporary file " + TempName() + " (" +
                                ftp_.ErrorMessage() + ")");
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
        // Cancelled, timed out or cut off is no refusal: nothing may be written in place then.
        if (aborted || !ftp_.Connected()) return SaveFailed(FailureText());
        renameError_ = ftp_.ErrorMessage();
        return Custom(Step::DeleteTemp, "DELE " + TempName());
    case Step::DeleteTemp:
        return SaveFailed(FailureText());
    case Step::BackupAside:
        if (!error) {
            backupMade_ = true;
            return StorePlain();
        }
        if (aborted || !ftp_.Connected()) return SaveFailed(FailureText());
        return AskInPlace("The server refused a temporary file, and renaming '" + SaveName() +
                          "' to '" + BackupName() + "' for a backup (" + ftp_.ErrorMessage() + ")");
    case Step::StorePlain:
        if (error) return SaveFailed(FailureText());
        SetBusy(true, false);
        return Custom(Step::SizePlain, "SIZE " + SaveName());
    case Step::SizePlain:
        return SaveFailed(FailureText());
    case Step::DeleteBackup:
        // The new file is complete; only the copy is left behind.
        host_.Note("'" + BackupName() + "' is left on the server: " + FailureText());
        backupMade_ = false;
        host_.Saved();
        return FinishSave();
    case Step::FailRestore:
        PutBackDone(!error);
        if (tempMayExist_ && ftp_.Connected() && loggedIn_)
            return Custom(Step::FailDelete, "DELE " + TempName());
        return AskRetry();
    case Step::Restore:
        PutBackDone(!error);
        if (backupMade_) { // the connection failed again: say where the original is
            backupMade_ = false;
            host_.Note("The original of '" + SaveName() + "' is kept on the server as '" +
                       BackupName() + "'.");
        }
        queue_.pop_front();
        return NextOp();
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

// --- failures ----------------------------------------------------------------------------------

void TRemoteSession::LoginFailed() {
    std::string detail = FailureText();
    ResetConnection();
    step_ = Step::Idle;
    Disarm();
    bool saving = !queue_.empty() && queue_.front().kind == OpKind::Save;
    if (!queue_.empty() && queue_.front().kind != OpKind::Save &&
        queue_.front().kind != OpKind::Get && queue_.front().kind != OpKind::Close)
        return Quiet();
    std::string message = Format("Error connecting to host \"%s\"", {ftp_.Hostname()});
    if (!detail.empty()) message += ":\r\n" + detail;
    if (saving) return SaveFailed(message);
    queue_.clear();
    SetBusy(false, false);
    host_.SessionStatus("");
    host_.SessionFailed(message, !downloaded_);
}

void TRemoteSession::CwdFailed() {
    std::string detail = FailureText();
    step_ = Step::Idle;
    bool saving = !queue_.empty() && queue_.front().kind == OpKind::Save;
    if (!queue_.empty() && queue_.front().kind != OpKind::Save &&
        queue_.front().kind != OpKind::Get && queue_.front().kind != OpKind::Close)
        return Quiet();
    std::string message = Format("Error changing to directory %s:\r\n%s", {directory_, detail});
    if (saving) return SaveFailed(message);
    queue_.clear();
    SetBusy(false, false);
    host_.SessionStatus("");
    host_.SessionFailed(message, !downloaded_);
}

// A cleanup that cannot reach the server gives up without troubling the user.
void TRemoteSession::Quiet() {
    if (backupMade_) {
        backupMade_ = false;
        host_.Note("The original of '" + SaveName() + "' is kept on the server as '" +
                   BackupName() + "'.");
    }
    step_ = Step::Idle;
    Disarm();
    queue_.clear();
    SetBusy(false, false);
    host_.SessionStatus("");
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
