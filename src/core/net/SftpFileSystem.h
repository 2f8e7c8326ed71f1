#pragma once
// The remote file system over SFTP (SSH), through libssh.
//
// libssh runs in blocking mode on one worker thread per connection: the session, its socket
// and every libssh call live there, one operation at a time, and each outcome (pieces, entries,
// progress, the result) is posted back to the loop. The loop thread never calls libssh. Cancel,
// Disconnect and the reply timeout shut the socket down from the loop, which ends whatever
// libssh call is waiting at once. The questions of a login (host key, passphrase, password) are
// posted to the loop and the worker waits for the answer.

#include "core/net/RemoteFileSystem.h"
#include "core/platform/EventLoop.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace morvane::net {

// The line numbers (from 1) of known_hosts entries for this host and port whose key type is
// keyType ("" any type); hashed entries included. Empty when the file has none or is unreadable.
std::vector<int> KnownHostsLines(const std::string& file, const std::string& host, int port,
                                 const std::string& keyType = {});

// Whether the passphrase opens the private key (a local check; nothing is sent).
bool KeyPassphraseWorks(const std::string& keyFile, const std::string& phrase);

// The SSH folder a login uses: its own, else $HOME/.ssh.
std::string SshDirectory(const TRemoteLogin& login);

class TSftpFileSystem final : public TRemoteFileSystem {
public:
    explicit TSftpFileSystem(platform::EventLoop& loop);
    ~TSftpFileSystem() override;
    TSftpFileSystem(const TSftpFileSystem&) = delete;
    TSftpFileSystem& operator=(const TSftpFileSystem&) = delete;

    void SetLogin(const TRemoteLogin& login) override { login_ = login; }
    const TRemoteLogin& Login() const override { return login_; }
    void SetReplyTimeout(std::chrono::milliseconds timeout) override { timeout_ = timeout; }
    bool Connected() const override { return connected_; }
    bool Busy() const override { return busy_; }
    const std::string& Home() const override { return home_; }
    const std::string& CurrentDirectory() const override { return cwd_; }
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
    void Rename(const std::string& from, const std::string& to, Done done) override;
    void Remove(const std::string& name, Done done) override;
    void MakeFolder(const std::string& name, Done done) override;
    void RemoveFolder(const std::string& name, Done done) override;
    void Chmod(const std::string& name, int mode, Done done) override;

    // Runs a command line over an SSH exec channel of this connection: standard output and
    // error reach output as they arrive; done gets the command's exit status (-1 when the
    // server sent none). The reply timeout is the limit for silence.
    using ExitDone = std::function<void(const TRemoteResult& result, int exitStatus)>;
    void Execute(const std::string& command, Piece output, ExitDone done);

    struct Shared; // what the worker and the loop share
    struct Session;

private:
    using Job = std::function<TRemoteResult(Session&)>;
    bool Begin(Done& done, const char* status);
    void Run(Job job, bool connecting = false);
    void Finish(const TRemoteResult& result);
    void Watch();
    std::string PathOf(const std::string& name) const;

    platform::EventLoop& loop_;
    std::shared_ptr<Shared> shared_;
    std::shared_ptr<bool> alive_;
    TRemoteLogin login_;
    std::chrono::milliseconds timeout_{0};
    std::string home_, cwd_;
    bool connected_ = false;
    bool busy_ = false;
    std::uint64_t serial_ = 0;
    Done done_;
    platform::TimerId watchdog_ = 0;
};

} // namespace morvane::net
