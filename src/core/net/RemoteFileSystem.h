#pragma once
// The remote file system as remote editing sees it: one connection to one server, driven on the
// event loop. Each protocol (FTP, SFTP) implements it; documents, the browser, chmod and the
// folder chooser hold this interface and never a protocol's client.
//
// Rules every implementation keeps:
// - An operation only starts work; its outcome comes in exactly one call of its done callback,
//   never from inside the call that started it. One operation runs at a time: starting another
//   while one runs fails it with TRemoteError::Failed.
// - A failure carries a typed error for decisions and a message for the user (the server's own
//   words where it gave any), so no caller reads protocol replies.
// - Cancel ends the running operation as Cancelled and closes the connection; Disconnect ends it
//   without a report. A callback may start the next operation or destroy the file system.

#include "core/net/ListingParser.h"
#include "core/net/TlsLayer.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace morvane::net {

enum class TRemoteError : std::uint8_t {
    None,
    NotFound,       // no such file or folder
    Permission,     // not allowed for this login
    Refused,        // the server will not do this (unsupported, a name it does not take)
    QuotaFull,      // no space left for the login
    ConnectionLost, // the connection is gone (closed by the server or the network)
    Timeout,        // the server did not answer in time; the connection was closed
    Cancelled,      // Cancel was called; the connection was closed
    Failed,         // anything else: a passing server error, a local one
};

// "not found", "permission denied", ... for logs and tests.
const char* RemoteErrorName(TRemoteError error);

struct TRemoteResult {
    TRemoteError error = TRemoteError::None;
    std::string message; // for the user; on success the server's words where it gave any
    bool ok() const { return error == TRemoteError::None; }
    // The connection ended with this failure: the next operation needs a new Connect.
    bool connectionEnded() const {
        return error == TRemoteError::ConnectionLost || error == TRemoteError::Timeout ||
               error == TRemoteError::Cancelled;
    }
    static TRemoteResult Ok() { return {}; }
    static TRemoteResult Fail(TRemoteError e, std::string text) { return {e, std::move(text)}; }
};

enum class TRemoteKind : std::uint8_t { Unknown, File, Folder, Link };

// How exact a modification time is: two times compare only at the same precision.
enum class TTimePrecision : std::uint8_t { None, Day, Minute, Second };

struct TRemoteStat {
    TRemoteKind kind = TRemoteKind::Unknown; // Unknown: the file exists, its entry was not seen
    std::int64_t size = -1;                  // -1 unknown
    std::string time;                        // as the server gives it
    TTimePrecision precision = TTimePrecision::None;
    std::optional<int> mode; // permission bits with the special ones (04000 ...)
    std::string linkTarget;  // for a link: where it points, "" when it cannot be followed
    std::string listingDate; // the entry's date as a listing shows it, "" unknown
};

// What a caller of Stat needs; an implementation may give more. Asking less saves round trips
// on protocols that answer each part separately.
struct TStatNeeds {
    bool size = true;
    bool time = true;  // the best time the server gives
    bool entry = true; // kind, mode and link target
};

// What a caller must know of the server before relying on it.
struct TRemoteCapabilities {
    bool atomicReplace = false; // a rename over an existing file replaces it in one step
    bool preciseTimes = false;  // modification times to the second (known once asked)
    bool chmod = false;         // permission bits can be set
    bool unixPaths = true;      // paths are "/"-separated folders
    char separator = '/';
    bool versionedNames = false; // names end in ";" and a version the server adds (VMS)
};

enum class TRemoteProtocol : std::uint8_t { Ftp, Sftp };

// A server's SSH host key as the unknown-host question shows it.
struct THostKey {
    std::string type;        // "ssh-ed25519", "ecdsa-sha2-nistp256", ...
    std::string fingerprint; // "SHA256:" and the unpadded base64 digest
};

// The answer to an unknown host key: connect this time, connect and write it to known_hosts,
// or do not connect.
enum class THostKeyAnswer : std::uint8_t { Once, Always, Cancel };

struct TRemoteLogin {
    TRemoteProtocol protocol = TRemoteProtocol::Ftp;
    std::string host;
    std::int32_t port = 0; // 0: the protocol's usual port
    std::string user;
    std::string password;
    std::optional<int> umask; // the creation mask the server applies after login, where it can
    std::string directory;    // the folder a typed URL named; browsing starts there
    // FTP's data connections: passive (EPSV, then PASV) or active (PORT/EPRT)
    bool passive = false;
    bool passiveUsesServerAddress = false; // ignore the address a PASV reply names
    // FTP over TLS: the mode, and the questions the login asks (true: go on). clearText is asked
    // when a server under Try offers no TLS, before the user name is sent; certificate when the
    // server's certificate does not verify.
    TTlsMode tls = TTlsMode::Plain;
    std::string tlsCaFile; // certificates trusted besides the system's
    std::function<bool(const std::string& host)> clearText;
    std::function<bool(const std::string& host, const TTlsCertificate& certificate)> certificate;
    // SSH: the folder of known_hosts and the user's keys ("" for $HOME/.ssh); the question for
    // a host key known_hosts does not hold; the passphrase of a key (nullopt: skip the key); the
    // password when it is empty and the server wants one (nullopt: give up). All are asked on
    // the loop's thread, only when the login needs them.
    std::string sshDir;
    std::function<THostKeyAnswer(const std::string& host, const THostKey& key)> hostKey;
    std::function<std::optional<std::string>(const std::string& keyFile)> passphrase;
    std::function<std::optional<std::string>()> askPassword;
};

class TRemoteFileSystem {
public:
    using Done = std::function<void(const TRemoteResult&)>;
    using StatDone = std::function<void(const TRemoteResult&, const TRemoteStat&)>;
    using EntryFound = std::function<void(const TDirectoryEntry&)>;
    using Piece = std::function<void(std::string_view bytes)>;
    using Progress = std::function<void(std::int64_t bytes)>;

    virtual ~TRemoteFileSystem() = default;

    virtual void SetLogin(const TRemoteLogin& login) = 0;
    virtual const TRemoteLogin& Login() const = 0;
    // How long any step may go without a word from the server; zero waits for ever.
    virtual void SetReplyTimeout(std::chrono::milliseconds timeout) = 0;

    virtual bool Connected() const = 0;
    // An operation (the login included) is running.
    virtual bool Busy() const = 0;
    // The folder the login starts in; "" until logged in.
    virtual const std::string& Home() const = 0;
    // The folder that relative names and List refer to.
    virtual const std::string& CurrentDirectory() const = 0;
    virtual TRemoteCapabilities Capabilities() const = 0;

    // Status lines for a status bar ("Connecting to host", "" when idle).
    std::function<void(const std::string& text)> onStatus;

    virtual void Connect(Done done) = 0;
    virtual void Disconnect() = 0;
    virtual void Cancel() = 0;
    // Checks that the connection still answers (and keeps an idle one open).
    virtual void KeepAlive(Done done) = 0;

    // ".." goes one folder up.
    virtual void ChangeDirectory(const std::string& path, Done done) = 0;
    // The current folder's entries, each as it arrives.
    virtual void List(EntryFound entry, Done done) = 0;
    // A failure NotFound says the file is known to be absent; another failure that nothing is
    // known of it.
    virtual void Stat(const std::string& name, TStatNeeds needs, StatDone done) = 0;
    // The file's bytes, in pieces as they arrive.
    virtual void Read(const std::string& name, Piece piece, Done done) = 0;
    // Downloads into a local file that is replaced only once the whole file is here (a device
    // or a pipe is written into as it is); progress counts bytes received.
    virtual void ReadToFile(const std::string& name, const std::string& localFile,
                            Progress progress, Done done) = 0;
    // Writes every byte of text (kept alive by the caller until done); progress counts bytes sent.
    virtual void Write(const std::string& name, std::string_view text, Progress progress,
                       Done done) = 0;
    virtual void Rename(const std::string& from, const std::string& to, Done done) = 0;
    virtual void Remove(const std::string& name, Done done) = 0;
    virtual void MakeFolder(const std::string& name, Done done) = 0;
    virtual void RemoveFolder(const std::string& name, Done done) = 0;
    virtual void Chmod(const std::string& name, int mode, Done done) = 0;
};

// A slash path with "." and ".." taken out, as a server reads it ("/a/b/../c/." -> "/a/c");
// a relative path applies to base.
std::string NormalizeRemotePath(const std::string& base, const std::string& path);

} // namespace morvane::net
