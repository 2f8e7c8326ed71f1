#pragma once
// TRemoteSession: the FTP side of a remote document. It owns the document's client, runs its
// queue of operations (get, save, close) one after the other and reports to the document
// through TRemoteSessionHost, so that the rules below can be tested without a window.
//
// Saving never replaces the server's file with a partial one: the text goes to a temporary name
// in the same folder, its size is checked, and only then is it renamed over the file. Where the
// server refuses the temporary name or the rename, the file is renamed aside as a backup first
// and written in place; the backup goes once the new file has its full size, and comes back when
// the upload fails. Only when that is refused too is the user asked before writing in place. A
// symbolic link is saved through: its target gets the bytes (and keeps its mode), the link stays.
// Before anything is written the file's size and time are compared with what was downloaded, and
// a file changed by someone else is only overwritten when the user says so.

#include "core/net/Account.h"
#include "core/net/MsgFTP.h"
#include "core/platform/EventLoop.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

namespace morvane::app {

enum class TChangedAnswer { Overwrite, Reload, Cancel };

class TRemoteSessionHost {
public:
    virtual ~TRemoteSessionHost() = default;
    // The status text for status panel 4 ("" clears it).
    virtual void SessionStatus(const std::string& text) = 0;
    // Bytes moved so far; total is the upload's size (0 for downloads).
    virtual void SessionProgress(bool storing, std::int64_t bytes, std::int64_t total) = 0;
    virtual void SessionBusyChanged() = 0;
    // The downloaded file: the host takes it as its whole text, unmodified. bytes may be moved.
    virtual void Downloaded(std::string& bytes) = 0;
    // Asked as a first download starts: true when the host loads the file as it arrives. Then
    // DownloadPiece gets its bytes in order and DownloadDone the end, instead of Downloaded; a
    // failed download ends in SessionFailed as ever.
    virtual bool TakesPieces() { return false; }
    virtual void DownloadPiece(std::string_view /*bytes*/) {}
    virtual void DownloadDone() {}
    // The login did not succeed (refused, or no connection): a password kept for the run may be
    // wrong and is asked for again next time.
    virtual void SessionLoginFailed() {}
    // An error to show. closeDocument: the document has nothing worth keeping and closes.
    virtual void SessionFailed(const std::string& message, bool closeDocument) = 0;
    // An upload failed; true to try again.
    virtual bool AskRetrySave(const std::string& message) = 0;
    virtual TChangedAnswer AskChanged(const std::string& question) = 0;
    // "Directory %s does not exist, create it and continue?"
    virtual bool AskCreateMirrorFolder(const std::string& question) = 0;
    // The server takes neither a temporary file nor a backup copy: true to write the file in
    // place all the same.
    virtual bool AskWriteInPlace(const std::string& question) = 0;
    // The text that was queued for saving is now the server's file.
    virtual void Saved() = 0;
    // A line for the output pane.
    virtual void Note(const std::string& text) = 0;
    // A queued close was reached.
    virtual void CloseRequested() = 0;
};

// The entry of a STAT reply about one file: its only listing line (between the reply's first and
// last line), when that line names the file; nullopt otherwise.
std::optional<net::TDirectoryEntry> EntryFromStatus(const std::string& reply,
                                                    const std::string& name);

// The mode bits an attribute string ("-rwxr-sr-x", with anything after the tenth character
// ignored) gives; nullopt when one of the nine permission characters cannot be read.
std::optional<int> ModeFromAttributes(const std::string& attributes);
// The SITE CHMOD argument: three octal digits, four when a special bit is set.
std::string ModeText(int mode);

// The local folder (ending in "/") that mirrors the remote current directory, or "" when the
// current directory is not the home directory or inside it. error gets why a folder is refused.
std::string MirrorFolder(const std::string& home, const std::string& current, char separator,
                         const std::string& mirrorRoot, std::string* error = nullptr);

// The status text of a remote document for a client state (nullopt: leave the text as it is).
std::optional<std::string> DocumentStatusText(net::TFTPState state, const std::string& host);

class TRemoteSession {
public:
    enum class OpKind { Get, Save, Close, Cleanup, Restore };

    TRemoteSession(platform::EventLoop& loop, TRemoteSessionHost& host);
    ~TRemoteSession();
    TRemoteSession(const TRemoteSession&) = delete;
    TRemoteSession& operator=(const TRemoteSession&) = delete;

    net::TMsgFTP& Ftp() { return ftp_; }
    // The account the session logs in with; its Directory is not used (see SetDirectory).
    void SetAccount(const net::TAccount& account) { account_ = account; }
    const net::TAccount& Account() const { return account_; }
    const std::string& FileName() const { return fileName_; }
    // The login's home folder; empty until logged in.
    const std::string& Home() const { return home_; }
    // The remote directory; empty means the home directory after login.
    const std::string& Directory() const { return directory_; }
    // A new place for the document: what was known about the old file no longer applies.
    void SetLocation(const std::string& directory, const std::string& fileName);

    // Every step waits at most this long for the server (reset by transfer progress).
    void SetReplyTimeout(std::chrono::milliseconds timeout) { timeout_ = timeout; }

    bool Busy() const { return busy_; }
    bool Transferring() const { return transferring_; }
    // Whether the file has been downloaded once (only a failed first download closes).
    bool HasDownloaded() const { return downloaded_; }
    // Whether the server's file has been seen whole: downloaded or saved.
    bool KnowsFile() const { return downloaded_ || stamp_.known; }
    std::int64_t UploadSize() const { return uploadSize_; }

    // Queues a download of the file and runs the queue.
    void Open();
    // Queues an upload of exactly these bytes; busy at once.
    void Save(std::string bytes);
    void EnqueueClose();
    // Aborts the running step (the Cancel button).
    void Cancel();
    void Disconnect();

private:
    enum class Step {
        Idle,
        Asking,
        Connecting,
        Umask,
        Type,
        Cwd,
        Noop,
        OpenMdtm,
        OpenStat,
        OpenList,
        Retrieve,
        CheckSize,
        CheckMdtm,
        CheckStat,
        CheckList,
        TargetStat,
        TargetList,
        StoreTemp,
        SizeTemp,
        Rename,
        DeleteTemp,
        BackupAside,
        StorePlain,
        SizePlain,
        DeleteBackup,
        FailRestore,
        Restore,
        StatAfter,
        ListAfter,
        Chmod,
        MdtmAfter,
        Cleanup,
        FailDelete,
    };
    struct Op {
        OpKind kind;
        std::string bytes;      // for Save
        bool confirmed = false; // the user already chose to overwrite a changed file
    };
    // What the server showed of the file when it was last downloaded or saved.
    struct Stamp {
        bool known = false;
        std::int64_t size = -1;
        std::string mdtm;     // MDTM reply text; empty when the server has no MDTM
        std::string listDate; // the listing's date when there is no MDTM
    };
    // What the listing showed of the file.
    struct Entry {
        bool found = false;
        std::int64_t size = -1;
        std::string date;
        std::string attributes;
        bool link = false;
        std::string linkTarget;
    };

    void RunQueue();
    void StartConnect();
    void ResetConnection();
    void AfterLogin();
    void NextOp();
    void StartSave();
    void CheckedEntry();
    void DecideChanged();
    void StartUpload();
    void UploadStored();
    void WriteInPlace(const std::string& why);
    void AskInPlace(const std::string& reason);
    void StorePlain();
    void PutBack(Step step);
    void PutBackDone(bool ok);
    void AfterReplace();
    void FinishSave();
    void StartList(Step step);
    void StartStatus(Step step);
    void StatusDone(int code, const std::string& reply);
    void OpenEntryKnown();
    void StartRetrieve(std::int64_t listedSize);
    void TakePiece();
    void AfterListing();
    void Custom(Step step, const std::string& command);

    void Connected(bool error);
    void CommandDone(net::TFTPState state, bool error);
    void CustomDone(int code, const std::string& reply);
    void Listed(const std::string& name, const std::string& date, std::int64_t size,
                const std::string& attributes);

    void LoginFailed();
    void OpenFailed(const std::string& message);
    void SaveFailed(const std::string& message);
    void CwdFailed();
    void AskRetry();
    void Quiet();
    std::string FailureText() const;
    bool Refused() const;
    void SetBusy(bool busy, bool transferring);
    void Arm();
    void ArmFor(std::chrono::milliseconds wait);
    void Disarm();
    void TimedOut();
    // Where the bytes go: the file, or the target of the link the file is.
    std::string SaveName() const { return target_.empty() ? fileName_ : target_; }
    std::string TempName() const;
    std::string BackupName() const { return SaveName() + ".morvane-backup"; }

    platform::EventLoop& loop_;
    TRemoteSessionHost& host_;
    net::TMsgFTP ftp_;
    net::TAccount account_;
    std::string fileName_, directory_, home_;
    std::chrono::milliseconds timeout_{30000};
    platform::TimerId timer_ = 0;
    std::chrono::steady_clock::time_point lastReply_{};
    // The queued operation started without a NOOP: its first command may find the connection gone.
    bool unprobed_ = false;
    bool statRefused_ = false; // the server does not know STAT with a name
    bool timerArmed_ = false;
    // Transfer progress counts as a reply: the timer, when it fires, waits again from here.
    std::chrono::steady_clock::time_point lastProgress_{};
    bool timedOut_ = false;
    bool cancelled_ = false;
    std::uint64_t events_ = 0; // client reports seen, so a timeout knows whether Abort reported

    Step step_ = Step::Idle;
    std::deque<Op> queue_;
    bool busy_ = false;
    bool transferring_ = false;
    bool downloaded_ = false;
    bool loggedIn_ = false;
    bool tempMayExist_ = false;
    bool fallbackSaid_ = false;
    bool noMdtmSaid_ = false;
    std::string entryName_; // the name the running STAT or listing looks for
    std::string target_;    // the file is a link to this path
    int linkHops_ = 0;
    bool throughLink_ = false; // a link whose target is out of reach: written through
    bool backupMade_ = false;  // the original waits on the server under BackupName()
    std::string renameError_;
    std::int64_t uploadSize_ = 0;
    std::string buffer_;
    bool pieces_ = false;       // the download goes to the host as it arrives
    std::int64_t received_ = 0; // its bytes so far
    std::string failMessage_, failBytes_;
    bool failHaveBytes_ = false;

    Stamp stamp_;
    Entry entry_;
    bool listOk_ = false;
    int sizeCode_ = 0;
    std::int64_t remoteSize_ = -1;
    int mdtmCode_ = 0;
    std::string remoteMdtm_;
    std::optional<int> originalMode_;
    std::int64_t tempSize_ = -1;
    int tempSizeCode_ = 0;
};

} // namespace morvane::app
