#include "core/net/ConnectionPool.h"

#include "core/net/FtpFileSystem.h"

#include <charconv>
#include <utility>

namespace morvane::net {

std::chrono::milliseconds KeepAliveFromText(const std::string& text) {
    std::size_t first = text.find_first_not_of(" \t");
    std::size_t last = text.find_last_not_of(" \t");
    int seconds = 0;
    if (first != std::string::npos) {
        auto [p, ec] = std::from_chars(text.data() + first, text.data() + last + 1, seconds);
        if (ec == std::errc() && p == text.data() + last + 1 && seconds >= 0 && seconds <= 86400)
            return std::chrono::seconds(seconds);
    }
    return std::chrono::seconds(60);
}

std::string PoolKey(const TAccount& account, const TRemoteLogin& login) {
    // Every part that changes what the server sees at login or how data travels.
    std::string key = account.Name;
    for (const std::string* part :
         {&login.host, &login.user, &login.password, &login.tlsCaFile, &login.sshDir})
        key += '\n' + *part;
    key += '\n' + std::to_string(int(login.protocol)) + '/' + std::to_string(login.port) + '/' +
           std::to_string(int(login.tls)) + '/' + (login.passive ? "p" : "a") +
           (login.passiveUsesServerAddress ? "s" : "") + '/' +
           (login.umask ? std::to_string(*login.umask) : "-");
    return key;
}

// --- the pool ----------------------------------------------------------------------------------

TConnectionPool::TConnectionPool(platform::EventLoop& loop, Factory make, TPoolSettings settings)
    : loop_(loop), make_(std::move(make)), settings_(settings) {
    if (!make_) make_ = [this](const TAccount&) { return std::make_unique<TFtpFileSystem>(loop_); };
}

TConnectionPool::~TConnectionPool() {
    alive_.reset();
    for (auto& [key, group] : groups_)
        for (Conn& c : group.conns) {
            StopTimers(c);
            c.fs->onStatus = nullptr;
            c.fs->Disconnect();
        }
}

void TConnectionPool::SetSettings(const TPoolSettings& settings) {
    settings_ = settings;
    if (settings_.maxPerLogin < 1) settings_.maxPerLogin = 1;
    // Idle connections take the new times from now on.
    for (auto& [key, group] : groups_)
        for (Conn& c : group.conns)
            if (!c.lent && !c.loggingIn && !c.probing) Rest(key, c);
}

TConnectionPool::RequestId TConnectionPool::Acquire(const TAccount& account,
                                                    const TRemoteLogin& login, Granted granted) {
    std::string key = PoolKey(account, login);
    RequestId id = ++next_;
    groups_[key].waiting.push_back({id, account, login, std::move(granted)});
    std::weak_ptr<bool> alive = alive_;
    loop_.post([this, alive, key] {
        if (!alive.expired()) Serve(key);
    });
    return id;
}

void TConnectionPool::Withdraw(RequestId id) {
    for (auto& [key, group] : groups_)
        for (auto it = group.waiting.begin(); it != group.waiting.end(); ++it)
            if (it->id == id) {
                group.waiting.erase(it);
                return;
            }
}

void TConnectionPool::Serve(const std::string& key) {
    auto git = groups_.find(key);
    if (git == groups_.end()) return;
    Group& group = git->second;
    while (!group.waiting.empty()) {
        Conn* idle = nullptr;
        int loggingIn = 0;
        for (auto it = group.conns.begin(); it != group.conns.end();) {
            if (it->loggingIn) ++loggingIn;
            if (!it->lent && !it->loggingIn && !it->probing) {
                if (!it->fs->Connected()) {
                    // Closed while it rested: never lent again.
                    TRemoteFileSystem* dead = (it++)->fs.get();
                    Drop(key, dead);
                    continue;
                }
                if (!idle) idle = &*it;
            }
            ++it;
        }
        if (idle) {
            Grant(key, *idle, false);
            continue;
        }
        // Enough logins are under way for the requests waiting, or the cap is reached.
        if (loggingIn >= int(group.waiting.size()) ||
            int(group.conns.size()) >= settings_.maxPerLogin)
            return;
        const Request& first = group.waiting[std::size_t(loggingIn)];
        group.conns.push_back({});
        Conn& conn = group.conns.back();
        conn.fs = make_(first.account);
        conn.fs->SetLogin(first.login);
        conn.loggingIn = true;
        ++logins_;
        TRemoteFileSystem* fs = conn.fs.get();
        std::weak_ptr<bool> alive = alive_;
        fs->Connect([this, alive, key, fs](const TRemoteResult& r) {
            if (!alive.expired()) LoggedIn(key, fs, r);
        });
    }
}

void TConnectionPool::Grant(const std::string& key, Conn& conn, bool fresh) {
    Group& group = groups_[key];
    Request request = std::move(group.waiting.front());
    group.waiting.pop_front();
    StopTimers(conn);
    conn.lent = true;
    request.granted(TRemoteResult::Ok(), conn.fs.get(), fresh);
}

void TConnectionPool::LoggedIn(const std::string& key, TRemoteFileSystem* fs,
                               const TRemoteResult& r) {
    Conn* conn = Find(key, fs);
    if (!conn) return;
    conn->loggingIn = false;
    Group& group = groups_[key];
    if (!r.ok()) {
        Drop(key, fs);
        bool other = false;
        for (const Conn& c : group.conns)
            other = other || c.loggingIn || c.fs->Connected();
        if (other) return; // the others wait for that one
        // The same login would fail the same way for every request waiting for it.
        std::deque<Request> failed = std::exchange(group.waiting, {});
        for (Request& request : failed)
            request.granted(r, nullptr, false);
        return;
    }
    if (group.waiting.empty()) {
        Rest(key, *conn);
        return;
    }
    Grant(key, *conn, true);
}

void TConnectionPool::Release(TRemoteFileSystem* fs) {
    std::string key = KeyOf(fs);
    Conn* conn = Find(key, fs);
    if (!conn) return;
    conn->lent = false;
    fs->onStatus = nullptr;
    if (!fs->Connected() || fs->Busy()) {
        Drop(key, fs);
    } else {
        Rest(key, *conn);
    }
    std::weak_ptr<bool> alive = alive_;
    loop_.post([this, alive, key] {
        if (!alive.expired()) Serve(key);
    });
}

void TConnectionPool::Rest(const std::string& key, Conn& conn) {
    StopTimers(conn);
    TRemoteFileSystem* fs = conn.fs.get();
    std::weak_ptr<bool> alive = alive_;
    conn.idleTimer = loop_.addTimer(settings_.idleClose, false, [this, alive, key, fs] {
        if (!alive.expired()) IdleExpired(key, fs);
    });
    ArmKeepAlive(key, conn);
}

void TConnectionPool::ArmKeepAlive(const std::string& key, Conn& conn) {
    if (settings_.keepAlive.count() <= 0) return;
    TRemoteFileSystem* fs = conn.fs.get();
    std::weak_ptr<bool> alive = alive_;
    conn.keepTimer = loop_.addTimer(settings_.keepAlive, false, [this, alive, key, fs] {
        if (alive.expired()) return;
        if (Conn* c = Find(key, fs)) c->keepTimer = 0;
        KeepAlive(key, fs);
    });
}

void TConnectionPool::StopTimers(Conn& conn) {
    if (conn.idleTimer) loop_.cancelTimer(std::exchange(conn.idleTimer, 0));
    if (conn.keepTimer) loop_.cancelTimer(std::exchange(conn.keepTimer, 0));
}

void TConnectionPool::IdleExpired(const std::string& key, TRemoteFileSystem* fs) {
    Conn* conn = Find(key, fs);
    if (!conn) return;
    conn->idleTimer = 0;
    if (conn->lent || conn->loggingIn) return;
    Group& group = groups_[key];
    int others = 0;
    for (const Conn& c : group.conns)
        others += &c != conn && c.fs->Connected();
    if (group.holders > 0 && others == 0 && fs->Connected()) {
        // An open document or browser keeps its login: look again later.
        std::weak_ptr<bool> alive = alive_;
        conn->idleTimer = loop_.addTimer(settings_.idleClose, false, [this, alive, key, fs] {
            if (!alive.expired()) IdleExpired(key, fs);
        });
        return;
    }
    if (conn->probing) return; // the NOOP's end decides
    Drop(key, fs);
}

void TConnectionPool::KeepAlive(const std::string& key, TRemoteFileSystem* fs) {
    Conn* conn = Find(key, fs);
    if (!conn || conn->lent || conn->loggingIn || conn->probing) return;
    if (!fs->Connected()) return Drop(key, fs);
    conn->probing = true;
    std::weak_ptr<bool> alive = alive_;
    fs->KeepAlive([this, alive, key, fs](const TRemoteResult& r) {
        if (alive.expired()) return;
        Conn* c = Find(key, fs);
        if (!c) return;
        c->probing = false;
        if (!r.ok() || !fs->Connected() || !c->idleTimer) {
            // Dead, or its idle time ran out while the NOOP was on its way.
            Drop(key, fs);
        } else if (!c->lent) {
            ArmKeepAlive(key, *c); // with the interval set now
        }
        Serve(key);
    });
}

void TConnectionPool::Drop(const std::string& key, TRemoteFileSystem* fs) {
    Group& group = groups_[key];
    for (auto it = group.conns.begin(); it != group.conns.end(); ++it) {
        if (it->fs.get() != fs) continue;
        StopTimers(*it);
        // This may run inside the connection's own callback: it is destroyed from the loop.
        std::unique_ptr<TRemoteFileSystem> doomed = std::move(it->fs);
        group.conns.erase(it);
        doomed->onStatus = nullptr;
        doomed->Disconnect();
        graveyard_.push_back(std::move(doomed));
        std::weak_ptr<bool> alive = alive_;
        loop_.post([this, alive] {
            if (!alive.expired()) graveyard_.clear();
        });
        return;
    }
}

void TConnectionPool::Hold(const std::string& key) {
    ++groups_[key].holders;
}

void TConnectionPool::Unhold(const std::string& key) {
    Group& group = groups_[key];
    if (group.holders > 0) --group.holders;
}

TConnectionPool::Conn* TConnectionPool::Find(const std::string& key, TRemoteFileSystem* fs) {
    auto git = groups_.find(key);
    if (git == groups_.end()) return nullptr;
    for (Conn& c : git->second.conns)
        if (c.fs.get() == fs) return &c;
    return nullptr;
}

std::string TConnectionPool::KeyOf(TRemoteFileSystem* fs) const {
    for (const auto& [key, group] : groups_)
        for (const Conn& c : group.conns)
            if (c.fs.get() == fs) return key;
    return {};
}

int TConnectionPool::Open(const std::string& key) const {
    auto git = groups_.find(key);
    return git == groups_.end() ? 0 : int(git->second.conns.size());
}

int TConnectionPool::Idle(const std::string& key) const {
    auto git = groups_.find(key);
    if (git == groups_.end()) return 0;
    int n = 0;
    for (const Conn& c : git->second.conns)
        n += !c.lent && !c.loggingIn;
    return n;
}

int TConnectionPool::Waiting(const std::string& key) const {
    auto git = groups_.find(key);
    return git == groups_.end() ? 0 : int(git->second.waiting.size());
}

// --- the file system over the pool -------------------------------------------------------------

TPooledFileSystem::TPooledFileSystem(std::shared_ptr<TConnectionPool> pool)
    : pool_(std::move(pool)) {}

TPooledFileSystem::~TPooledFileSystem() {
    onStatus = nullptr;
    Disconnect();
}

void TPooledFileSystem::SetAccount(const TAccount& account) {
    account_ = account;
    SetLogin(login_);
}

void TPooledFileSystem::SetLogin(const TRemoteLogin& login) {
    login_ = login;
    std::string key = PoolKey(account_, login_);
    if (key == key_) return;
    // Another login: the connections of the former one are not this file system's any more.
    SetHeld(false);
    loggedIn_ = false;
    key_ = key;
}

void TPooledFileSystem::SetReplyTimeout(std::chrono::milliseconds timeout) {
    timeout_ = timeout;
    if (lease_) lease_->SetReplyTimeout(timeout);
}

void TPooledFileSystem::SetHeld(bool held) {
    if (held == held_) return;
    held_ = held;
    if (held)
        pool_->Hold(key_);
    else
        pool_->Unhold(key_);
}

void TPooledFileSystem::FailLater(Done done, TRemoteResult r) {
    std::weak_ptr<bool> alive = alive_;
    pool_->Loop().post([alive, done = std::move(done), r = std::move(r)] {
        if (!alive.expired() && done) done(r);
    });
}

void TPooledFileSystem::Run(bool repeatable, bool needsFolder, Op op, Done done) {
    if (busy_) {
        return FailLater(std::move(done),
                         TRemoteResult::Fail(TRemoteError::Failed, "Another operation is running"));
    }
    if (!loggedIn_ && !connecting_) {
        return FailLater(std::move(done),
                         TRemoteResult::Fail(TRemoteError::ConnectionLost, "Not connected"));
    }
    busy_ = true;
    delivered_ = false;
    repeatable_ = repeatable;
    needsFolder_ = needsFolder;
    op_ = std::move(op);
    done_ = std::move(done);
    Start(++serial_, false);
}

void TPooledFileSystem::Start(std::uint64_t serial, bool retried) {
    std::weak_ptr<bool> alive = alive_;
    request_ = pool_->Acquire(
        account_, login_,
        [this, alive, serial, retried](const TRemoteResult& r, TRemoteFileSystem* fs, bool fresh) {
            if (alive.expired()) {
                if (fs) pool_->Release(fs);
                return;
            }
            Lent(serial, retried, r, fs, fresh);
        });
}

void TPooledFileSystem::Lent(std::uint64_t serial, bool retried, const TRemoteResult& r,
                             TRemoteFileSystem* fs, bool fresh) {
    request_ = 0;
    if (serial != serial_) {
        if (fs) pool_->Release(fs);
        return;
    }
    if (!r.ok()) return Finish(serial, r);
    lease_ = fs;
    if (timeout_) fs->SetReplyTimeout(*timeout_);
    fs->onStatus = [this](const std::string& text) {
        if (onStatus) onStatus(text);
    };
    std::weak_ptr<bool> alive = alive_;
    // What ends the operation (or the step that moves to the folder before it).
    auto ended = [this, alive, serial, retried, fresh](const TRemoteResult& res) {
        if (alive.expired() || serial != serial_) return;
        if (lease_) caps_ = lease_->Capabilities();
        if (res.ok() && connecting_ && lease_) {
            home_ = lease_->Home();
            cwd_ = home_;
        }
        GiveBack();
        // A connection that closed while it rested in the pool: another one, when running the
        // operation twice does no harm.
        if (!res.ok() && res.error == TRemoteError::ConnectionLost && repeatable_ && !delivered_ &&
            !retried && !fresh)
            return Start(serial, true);
        Finish(serial, res);
    };
    if (connecting_ && fresh) return ended(TRemoteResult::Ok());
    auto run = [this, fs, ended] { op_(*fs, ended); };
    if (needsFolder_ && !cwd_.empty() && fs->CurrentDirectory() != cwd_) {
        fs->ChangeDirectory(cwd_, [alive, serial, this, ended, run](const TRemoteResult& res) {
            if (alive.expired() || serial != serial_) return;
            if (!res.ok()) return ended(res);
            run();
        });
        return;
    }
    run();
}

void TPooledFileSystem::GiveBack() {
    if (!lease_) return;
    TRemoteFileSystem* fs = std::exchange(lease_, nullptr);
    fs->onStatus = nullptr;
    pool_->Release(fs);
}

void TPooledFileSystem::Finish(std::uint64_t serial, const TRemoteResult& r) {
    if (serial != serial_) return;
    ++serial_;
    busy_ = false;
    bool connecting = std::exchange(connecting_, false);
    if (connecting) loggedIn_ = r.ok();
    if (r.connectionEnded() || (connecting && !r.ok())) loggedIn_ = false;
    SetHeld(loggedIn_);
    op_ = nullptr;
    Done done = std::move(done_);
    done_ = nullptr;
    if (done) done(r);
}

void TPooledFileSystem::Connect(Done done) {
    if (busy_) {
        return FailLater(std::move(done),
                         TRemoteResult::Fail(TRemoteError::Failed, "Another operation is running"));
    }
    connecting_ = true;
    // A connection from the pool is asked whether it still answers; a new login needs nothing.
    Run(
        true, false, [](TRemoteFileSystem& fs, Done d) { fs.KeepAlive(std::move(d)); },
        std::move(done));
}

void TPooledFileSystem::Disconnect() {
    ++serial_; // what runs ends without a report
    if (request_) pool_->Withdraw(std::exchange(request_, 0));
    if (lease_) {
        lease_->onStatus = nullptr;
        if (lease_->Busy()) lease_->Disconnect();
        GiveBack();
    }
    busy_ = false;
    connecting_ = false;
    loggedIn_ = false;
    SetHeld(false);
    op_ = nullptr;
    done_ = nullptr;
}

void TPooledFileSystem::Cancel() {
    if (!busy_) return;
    if (lease_) {
        // The connection's own report ends the operation (and the connection goes).
        lease_->Cancel();
        return;
    }
    if (request_) pool_->Withdraw(std::exchange(request_, 0));
    loggedIn_ = false;
    std::uint64_t serial = serial_;
    Finish(serial, TRemoteResult::Fail(TRemoteError::Cancelled, "Cancelled"));
}

void TPooledFileSystem::KeepAlive(Done done) {
    Run(
        true, false, [](TRemoteFileSystem& fs, Done d) { fs.KeepAlive(std::move(d)); },
        std::move(done));
}

void TPooledFileSystem::ChangeDirectory(const std::string& path, Done done) {
    Run(
        true, true,
        [this, path](TRemoteFileSystem& fs, Done d) {
            fs.ChangeDirectory(path, [this, &fs, d](const TRemoteResult& r) {
                if (r.ok()) cwd_ = fs.CurrentDirectory();
                d(r);
            });
        },
        std::move(done));
}

void TPooledFileSystem::List(EntryFound entry, Done done) {
    // Entries that arrived make a second run a duplicate: only an empty start is repeated.
    Run(
        true, true,
        [this, entry](TRemoteFileSystem& fs, Done d) {
            fs.List(
                [this, entry](const TDirectoryEntry& e) {
                    delivered_ = true;
                    if (entry) entry(e);
                },
                std::move(d));
        },
        std::move(done));
}

void TPooledFileSystem::Stat(const std::string& name, TStatNeeds needs, StatDone done) {
    auto stat = std::make_shared<TRemoteStat>();
    Run(
        true, true,
        [name, needs, stat](TRemoteFileSystem& fs, Done d) {
            fs.Stat(name, needs, [stat, d](const TRemoteResult& r, const TRemoteStat& st) {
                *stat = st;
                d(r);
            });
        },
        [done, stat](const TRemoteResult& r) {
            if (done) done(r, *stat);
        });
}

void TPooledFileSystem::Read(const std::string& name, Piece piece, Done done) {
    Run(
        true, true,
        [this, name, piece](TRemoteFileSystem& fs, Done d) {
            fs.Read(
                name,
                [this, piece](std::string_view bytes) {
                    delivered_ = true;
                    if (piece) piece(bytes);
                },
                std::move(d));
        },
        std::move(done));
}

void TPooledFileSystem::ReadToFile(const std::string& name, const std::string& localFile,
                                   Progress progress, Done done) {
    Run(
        true, true,
        [name, localFile, progress](TRemoteFileSystem& fs, Done d) {
            fs.ReadToFile(name, localFile, progress, std::move(d));
        },
        std::move(done));
}

void TPooledFileSystem::Write(const std::string& name, std::string_view text, Progress progress,
                              Done done) {
    Run(
        false, true,
        [name, text, progress](TRemoteFileSystem& fs, Done d) {
            fs.Write(name, text, progress, std::move(d));
        },
        std::move(done));
}

void TPooledFileSystem::Rename(const std::string& from, const std::string& to, Done done) {
    Run(
        false, true,
        [from, to](TRemoteFileSystem& fs, Done d) { fs.Rename(from, to, std::move(d)); },
        std::move(done));
}

void TPooledFileSystem::Remove(const std::string& name, Done done) {
    Run(
        false, true, [name](TRemoteFileSystem& fs, Done d) { fs.Remove(name, std::move(d)); },
        std::move(done));
}

void TPooledFileSystem::MakeFolder(const std::string& name, Done done) {
    Run(
        false, true, [name](TRemoteFileSystem& fs, Done d) { fs.MakeFolder(name, std::move(d)); },
        std::move(done));
}

void TPooledFileSystem::RemoveFolder(const std::string& name, Done done) {
    Run(
        false, true, [name](TRemoteFileSystem& fs, Done d) { fs.RemoveFolder(name, std::move(d)); },
        std::move(done));
}

void TPooledFileSystem::Chmod(const std::string& name, int mode, Done done) {
    Run(
        true, true,
        [name, mode](TRemoteFileSystem& fs, Done d) { fs.Chmod(name, mode, std::move(d)); },
        std::move(done));
}

} // namespace morvane::net
