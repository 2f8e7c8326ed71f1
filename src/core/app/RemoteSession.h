#pragma once
// TRemoteSession: the server side of a remote document. It owns the document's remote file system
// (FTP unless it is given another), runs its queue of operations (get, save, close) one after the
// other and reports to the document through TRemoteSessionHost, so that the rules below can be
// tested without a window.
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
#include "core/net/RemoteFileSystem.h"
#include "core/platform/EventLoop.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
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

// The local folder (ending in "/") that mirrors the remote current directory, or "" when the
// current directory is not the home directory or inside it. error gets why a folder is refused.
std::string MirrorFolder(const std::string& home, const std::string& current, char separator,
                         const std::string& mirrorRoot, std::string* error = nullptr);

class TRemoteSession {
public:
    enum class OpKind { Get, Save, Close, Cleanup, Restore };

    // fs: the file system to work on; null gives an FTP one.
    TRemoteSession(platform::EventLoop& loop, TRemoteSessionHost& host,
                   std::unique_ptr<net::TRemoteFileSystem> fs = nullptr);
    ~TRemoteSession();
    TRemoteSession(const TRemoteSession&) = delete;
    TRemoteSession& operator=(const TRemoteSession&) = delete;

    net::TRemoteFileSystem& FileSystem() { return *fs_; }
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
    void SetReplyTimeout(std::chrono::milliseconds timeout);

    bool Busy() const { return busy_; }
    bool Transferring() const { return transferring_; }
    // Whether the file has been downloaded once (only a failed first download closes).
    bool HasDownloaded() const { return downloaded_; }
    // Whether the server's file has been seen whole: downloaded or saved.
    bool KnowsFile() const { return downloaded_ || stamp_.known; }
    std::int64_t UploadSize() const { return uploadSize_; }

    // What the server showed of the file when it was last downloaded or saved.
    struct Stamp {
        bool known = false;
        std::int64_t size = -1;
        std::string time; // the server's modification time, compared at equal precision only
        net::TTimePrecision precision = net::TTimePrecision::None;
    };
    const Stamp& ServerStamp() const { return stamp_; }
    // A text recovered after a crash goes on from the copy it was based on: its save still sees
    // a change made on the server since. Call after SetLocation, which forgets the stamp.
    void SetServerStamp(const Stamp& stamp) { stamp_ = stamp; }

    // Queues a download of the file and runs the queue.
    void Open();
    // Queues an upload of exactly these bytes; busy at once.
    void Save(std::string bytes);
    void EnqueueClose();
    // Aborts the running step (the Cancel button).
    void Cancel();
    void Disconnect();

private:
    // Idle: nothing runs. Asking: the user is asked; nothing the server does meanwhile is ours.
    enum class Step { Idle, Asking, Running };
    struct Op {
        OpKind kind;
        std::string bytes;      // for Save
        bool confirmed = false; // the user already chose to overwrite a changed file
    };
    // The file's entry (or, for a link, its target's).
    struct Entry {
        bool found = false;
        std::int64_t size = -1;
        std::string time;
        net::TTimePrecision precision = net::TTimePrecision::None;
        std::optional<int> mode;
        bool link = false;
        std::string linkTarget;
    };

    void RunQueue();
    void StartConnect();
    void ResetConnection();
    void Connected(const net::TRemoteResult& r);
    void NextOp();
    void StartSave();
    void Checked(const net::TRemoteResult& r, const net::TRemoteStat& st);
    void CheckedEntry();
    void DecideChanged();
    void StartUpload();
    void StoredTemp(const net::TRemoteResult& r);
    void Renamed(const net::TRemoteResult& r);
    void WriteInPlace(const std::string& why);
    void AskInPlace(const std::string& reason);
    void StorePlain();
    void PlainChecked(const net::TRemoteResult& r, const net::TRemoteStat& st);
    void PutBack(bool failing);
    void PutBackDone(const net::TRemoteResult& r);
    void AfterReplace();
    void AfterStat(const net::TRemoteResult& r, const net::TRemoteStat& st);
    void FinishSave();
    void StartRetrieve(std::int64_t listedSize);
    void Retrieved(const net::TRemoteResult& r);

    void LoginFailed(const net::TRemoteResult& r);
    void OpenFailed(const std::string& message);
    void SaveFailed(const std::string& message);
    void CwdFailed(const net::TRemoteResult& r);
    void AskRetry();
    void Quiet();
    std::string FailureText(const net::TRemoteResult& r) const;
    // The failure ended the connection (or found it gone): nothing more can be asked of it.
    bool Gone(const net::TRemoteResult& r) const;
    void Heard();
    void SetBusy(bool busy, bool transferring);
    static Entry EntryOf(const net::TRemoteResult& r, const net::TRemoteStat& st);
    // Where the bytes go: the file, or the target of the link the file is.
    std::string SaveName() const { return target_.empty() ? fileName_ : target_; }
    std::string TempName() const;
    std::string BackupName() const { return SaveName() + ".morvane-backup"; }

    platform::EventLoop& loop_;
    TRemoteSessionHost& host_;
    std::unique_ptr<net::TRemoteFileSystem> fs_;
    net::TAccount account_;
    std::string fileName_, directory_, home_;
    std::chrono::milliseconds timeout_{30000};
    std::chrono::steady_clock::time_point lastReply_{};
    // The queued operation started without a probe: its first step may find the connection gone.
    bool unprobed_ = false;

    Step step_ = Step::Idle;
    std::deque<Op> queue_;
    bool busy_ = false;
    bool transferring_ = false;
    bool downloaded_ = false;
    bool tempMayExist_ = false;
    bool fallbackSaid_ = false;
    bool noTimesSaid_ = false;
    std::string target_; // the file is a link to this path
    int linkHops_ = 0;
    bool throughLink_ = false; // a link whose target is out of reach: written through
    bool backupMade_ = false;  // the original waits on the server under BackupName()
    std::string renameError_;
    std::int64_t uploadSize_ = 0;
    std::int64_t sent_ = 0; // bytes of the running upload the server has taken
    std::string buffer_;
    bool pieces_ = false;         // the download goes to the host as it arrives
    std::int64_t received_ = 0;   // its bytes so far
    std::int64_t listedSize_ = 0; // the download's size in the listing; 0 when not known
    std::string failMessage_, failBytes_;
    bool failHaveBytes_ = false;

    Stamp stamp_;
    // What the check before an upload found of the file itself.
    bool exists_ = false, absent_ = false;
    std::int64_t remoteSize_ = -1;
    std::string remoteTime_;
    net::TTimePrecision remotePrecision_ = net::TTimePrecision::None;
    Entry entry_;
    std::optional<int> originalMode_;
};

} // namespace morvane::app
