#pragma once
// Shared logins. The documents and the browser of one account each hold a TPooledFileSystem;
// it lends a connection of the account's pool for one operation at a time and gives it back,
// so that five documents opened at once log in at most maxPerLogin times rather than five.
//
// The pool keeps, per login (account, host, port, user, password and options):
// - at most maxPerLogin connections; further requests wait in order for one to come free;
// - a connection no one uses, for idleClose; then it is closed. The last one stays open while
//   a pooled file system of that login is connected (an open document or browser), and gets a
//   NOOP every keepAlive (zero: never) so that the server does not drop it;
// - a connection found closed is dropped, never lent; a login that fails fails every request
//   waiting for that login (they would have sent the same password).
// Connections are made by a factory (MakeFileSystem), so the pool works for every protocol.

#include "core/net/Account.h"
#include "core/net/RemoteFileSystem.h"
#include "core/platform/EventLoop.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace morvane::net {

struct TPoolSettings {
    int maxPerLogin = 2;
    std::chrono::milliseconds idleClose{60000};
    std::chrono::milliseconds keepAlive{60000}; // zero: no NOOP
};

// The setting "Keep-alive interval": whole seconds, 0 for none; empty or unreadable gives the
// default of 60 seconds.
std::chrono::milliseconds KeepAliveFromText(const std::string& text);

// The pool's identity of a login: the connections of one key are interchangeable.
std::string PoolKey(const TAccount& account, const TRemoteLogin& login);

class TConnectionPool {
public:
    using Factory = std::function<std::unique_ptr<TRemoteFileSystem>(const TAccount& account)>;
    // granted: the connection lent (logged in), or null with the failure. fresh: just logged in.
    using Granted = std::function<void(const TRemoteResult& r, TRemoteFileSystem* fs, bool fresh)>;
    using RequestId = std::uint64_t;

    // make: null gives FTP file systems.
    TConnectionPool(platform::EventLoop& loop, Factory make = nullptr, TPoolSettings settings = {});
    ~TConnectionPool();
    TConnectionPool(const TConnectionPool&) = delete;
    TConnectionPool& operator=(const TConnectionPool&) = delete;

    platform::EventLoop& Loop() { return loop_; }
    void SetSettings(const TPoolSettings& settings);
    const TPoolSettings& Settings() const { return settings_; }

    // Lends a connection of this login as soon as one is free (never from inside this call).
    RequestId Acquire(const TAccount& account, const TRemoteLogin& login, Granted granted);
    // Forgets a waiting request (a login under way goes on for the next one); no report.
    void Withdraw(RequestId id);
    // Gives a lent connection back; one that is no longer connected is closed.
    void Release(TRemoteFileSystem* fs);
    // Holders keep the last idle connection of their login open (and kept alive).
    void Hold(const std::string& key);
    void Unhold(const std::string& key);

    // For tests and the status of the pool.
    int Open(const std::string& key) const;
    int Idle(const std::string& key) const;
    int Waiting(const std::string& key) const;
    int Logins() const { return logins_; } // connections made so far

private:
    struct Conn {
        std::unique_ptr<TRemoteFileSystem> fs;
        bool lent = false;
        bool loggingIn = false;
        bool probing = false; // a keep-alive NOOP runs
        platform::TimerId idleTimer = 0;
        platform::TimerId keepTimer = 0;
    };
    struct Request {
        RequestId id;
        TAccount account;
        TRemoteLogin login;
        Granted granted;
    };
    struct Group {
        std::list<Conn> conns;
        std::deque<Request> waiting;
        int holders = 0;
    };

    void Serve(const std::string& key);
    void Grant(const std::string& key, Conn& conn, bool fresh);
    void LoggedIn(const std::string& key, TRemoteFileSystem* fs, const TRemoteResult& r);
    void Rest(const std::string& key, Conn& conn);
    void ArmKeepAlive(const std::string& key, Conn& conn);
    void StopTimers(Conn& conn);
    void Drop(const std::string& key, TRemoteFileSystem* fs);
    void KeepAlive(const std::string& key, TRemoteFileSystem* fs);
    void IdleExpired(const std::string& key, TRemoteFileSystem* fs);
    Conn* Find(const std::string& key, TRemoteFileSystem* fs);
    std::string KeyOf(TRemoteFileSystem* fs) const;

    platform::EventLoop& loop_;
    Factory make_;
    TPoolSettings settings_;
    std::map<std::string, Group> groups_;
    std::vector<std::unique_ptr<TRemoteFileSystem>> graveyard_; // dropped, destroyed soon
    RequestId next_ = 0;
    int logins_ = 0;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// A remote file system over a pool: each operation borrows a connection of its login, moves it
// to this file system's current folder when it is elsewhere, and gives it back. A connection
// reused after it was idle that turns out closed is replaced by another for operations that can
// safely run twice (listing, reading, stat, changing folder, chmod, keep-alive).
class TPooledFileSystem final : public TRemoteFileSystem {
public:
    // The pool stays as long as one of its file systems does.
    explicit TPooledFileSystem(std::shared_ptr<TConnectionPool> pool);
    ~TPooledFileSystem() override;
    TPooledFileSystem(const TPooledFileSystem&) = delete;
    TPooledFileSystem& operator=(const TPooledFileSystem&) = delete;

    // The account whose connections are shared (ApplyAccount gives it); it picks the protocol.
    void SetAccount(const TAccount& account);
    TConnectionPool& Pool() { return *pool_; }

    void SetLogin(const TRemoteLogin& login) override;
    const TRemoteLogin& Login() const override { return login_; }
    void SetReplyTimeout(std::chrono::milliseconds timeout) override;
    bool Connected() const override { return loggedIn_; }
    bool Busy() const override { return busy_; }
    const std::string& Home() const override { return home_; }
    const std::string& CurrentDirectory() const override { return cwd_; }
    TRemoteCapabilities Capabilities() const override { return caps_; }

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

private:
    // One operation on a lent connection; it calls the Done it is given exactly once.
    using Op = std::function<void(TRemoteFileSystem& fs, Done done)>;

    void Run(bool repeatable, bool needsFolder, Op op, Done done);
    void Start(std::uint64_t serial, bool retried);
    void Lent(std::uint64_t serial, bool retried, const TRemoteResult& r, TRemoteFileSystem* fs,
              bool fresh);
    void Finish(std::uint64_t serial, const TRemoteResult& r);
    void FailLater(Done done, TRemoteResult r);
    void GiveBack();
    void SetHeld(bool held);

    std::shared_ptr<TConnectionPool> pool_;
    TAccount account_;
    TRemoteLogin login_;
    std::string key_;
    std::optional<std::chrono::milliseconds> timeout_; // unset: the connection's own
    bool loggedIn_ = false;
    bool held_ = false;
    bool busy_ = false;
    std::string home_, cwd_;
    TRemoteCapabilities caps_;

    // The running operation.
    std::uint64_t serial_ = 0;
    bool repeatable_ = false, needsFolder_ = true, connecting_ = false;
    bool delivered_ = false; // entries or bytes reached the caller: not run twice
    Op op_;
    Done done_;
    TConnectionPool::RequestId request_ = 0;
    TRemoteFileSystem* lease_ = nullptr;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace morvane::net
