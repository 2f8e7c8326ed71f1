#pragma once
// The remote file system over FTP: wraps one TMsgFTP and turns its commands, states and reply
// codes into the operations and typed errors of TRemoteFileSystem. Reply codes become errors in
// ErrorForReply and nowhere else.

#include "core/net/MsgFTP.h"
#include "core/net/RemoteFileSystem.h"
#include "core/platform/EventLoop.h"

#include <memory>
#include <optional>
#include <string>

namespace morvane::net {

// The typed error of a failed FTP reply; text is the reply (its wording tells a 550 "no such
// file" from a 550 "permission denied").
TRemoteError ErrorForReply(int code, const std::string& text);

// The entry of a STAT reply about one file: its only listing line (between the reply's first and
// last line), when that line names the file; nullopt otherwise.
std::optional<TDirectoryEntry> EntryFromStatus(const std::string& reply, const std::string& name);

class TFtpFileSystem final : public TRemoteFileSystem {
public:
    explicit TFtpFileSystem(platform::EventLoop& loop);
    ~TFtpFileSystem() override;
    TFtpFileSystem(const TFtpFileSystem&) = delete;
    TFtpFileSystem& operator=(const TFtpFileSystem&) = delete;

    // The client underneath: for its command log and for FTP's own commands (Quote).
    TMsgFTP& Client() { return ftp_; }
    // Every line sent (sent true) and received, as the client logs it.
    std::function<void(bool sent, const std::string& line)> onDebug;

    void SetLogin(const TRemoteLogin& login) override;
    const TRemoteLogin& Login() const override { return login_; }
    void SetReplyTimeout(std::chrono::milliseconds timeout) override;
    bool Connected() const override { return loggedIn_ && ftp_.Connected(); }
    bool Busy() const override { return phase_ != Phase::None; }
    const std::string& Home() const override { return home_; }
    const std::string& CurrentDirectory() const override { return ftp_.CurrentDirectory(); }
    TRemoteCapabilities Capabilities() const override;

    void Connect(Done done) override;
    void Disconnect() override;
    void Cancel() override;
    void KeepAlive(Done done) override;
    void ChangeDirectory(const std::string& path, Done done) override;
    void List(EntryFound entry, Done done) override;
    void Stat(const std::string& name, TStatNeeds needs, StatDone done) override;
    void Read(const std::string& name, Piece piece, Done done) override;
    void ReadToFile(const std::string& name, const std::string& localFile, Progress progress,
                    Done done) override;
    void Write(const std::string& name, std::string_view text, Progress progress,
               Done done) override;
    // Uploads a local file read as it is sent (not held whole in memory); progress counts
    // bytes sent. A file that cannot be opened fails before anything is sent.
    void WriteFromFile(const std::string& name, const std::string& localFile, Progress progress,
                       Done done);
    void Rename(const std::string& from, const std::string& to, Done done) override;
    void Remove(const std::string& name, Done done) override;
    void MakeFolder(const std::string& name, Done done) override;
    void RemoveFolder(const std::string& name, Done done) override;
    void Chmod(const std::string& name, int mode, Done done) override;

    // Sends a command line as it is; done gets the final reply's code and text (code 0 when the
    // command failed before a reply: the result says why).
    using QuoteDone = std::function<void(const TRemoteResult&, int code, const std::string& reply)>;
    void Quote(const std::string& command, QuoteDone done);

private:
    enum class Phase {
        None,
        Connect,
        Umask,
        Binary,
        Simple, // one client command whose completion is the result
        List,
        Read,
        ReadToFile,
        Write,
        Custom, // one raw command whose reply is the result
        StatSize,
        StatTime,
        StatEntry,
        StatList,
    };

    bool Begin(Phase phase, Done done);
    void FailLater(Done done, TRemoteResult result);
    void Finish(const TRemoteResult& result);
    TRemoteResult Failure() const;
    void Binary(std::function<void()> then);
    void Connected(bool error);
    void ConnectFailed(bool refused);
    void ConnectDone();
    void CommandDone(TFTPState state, bool error);
    void Reply(int code, const std::string& reply);
    void TransferProgress(std::int64_t count);
    void Listed(const TDirectoryEntry& entry);
    void Status(TFTPState state);

    void StatTime();
    void StatEntry();
    void StatList();
    void StatFinish();
    void TakeEntry(const TDirectoryEntry& entry);
    void FlushPiece();

    platform::EventLoop& loop_;
    std::shared_ptr<bool> alive_;
    TMsgFTP ftp_;
    TRemoteLogin login_;
    std::string home_;
    bool loggedIn_ = false;
    bool binary_ = false;      // TYPE I is set for this login
    bool mdtmRefused_ = false; // the server knows no MDTM
    bool mdtmWorks_ = false;
    bool statRefused_ = false; // the server knows no STAT with a name
    bool cancelled_ = false;
    bool silent_ = false; // our own reset: nothing the client reports belongs to anyone
    int lastCode_ = 0;    // the last reply's code during this operation

    Phase phase_ = Phase::None;
    std::uint64_t serial_ = 0; // changes with every operation started or finished
    Done done_;
    StatDone statDone_;
    QuoteDone quoteDone_;
    EntryFound entry_;
    Piece piece_;
    TRemoteFileSystem::Progress progress_;
    std::function<void()> then_; // what waits for TYPE I
    std::string readBuffer_;

    // The running Stat.
    std::string statName_;
    TStatNeeds needs_;
    TRemoteStat stat_;
    bool exists_ = false, absent_ = false, entrySeen_ = false;
    TRemoteResult statFailure_;
};

} // namespace morvane::net
