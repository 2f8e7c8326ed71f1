#include "core/net/SftpSession.h"

namespace morvane::net {

namespace {

std::string LsDate(std::uint32_t mtime) {
    std::time_t t = std::time_t(mtime);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[32];
    std::time_t now = std::time(nullptr);
    bool recent = t <= now + 3600 && now - t < 180L * 24 * 3600;
    std::strftime(buf, sizeof buf, recent ? "%b %d %H:%M" : "%b %d %Y", &tm);
    return buf;
}

std::string ExactTime(std::uint32_t mtime) {
    std::time_t t = std::time_t(mtime);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y%m%d%H%M%S", &tm);
    return buf;
}

std::string ModeText(std::uint32_t mode) {
    std::string s(10, '-');
    switch (mode & S_IFMT) {
    case S_IFDIR:
        s[0] = 'd';
        break;
    case S_IFLNK:
        s[0] = 'l';
        break;
    default:
        break;
    }
    const char* rwx = "rwxrwxrwx";
    for (int i = 0; i < 9; ++i)
        if (mode & (0400u >> i)) s[1 + i] = rwx[i];
    if (mode & 04000) s[3] = s[3] == 'x' ? 's' : 'S';
    if (mode & 02000) s[6] = s[6] == 'x' ? 's' : 'S';
    if (mode & 01000) s[9] = s[9] == 'x' ? 't' : 'T';
    return s;
}

} // namespace

// Reads the file with several requests in flight; put gets the bytes in order (false: stop).
TRemoteResult TSftpFileSystem::Session::ReadFile(const std::string& path,
                                                 const std::function<bool(const char*, int)>& put,
                                                 std::int64_t* total) {
    sftp_file file = sftp_open(sftp, path.c_str(), O_RDONLY, 0);
    if (!file) return Failure(path);
    struct Request {
        int id;
        std::uint64_t offset;
    };
    std::deque<Request> flight;
    std::uint64_t next = 0;
    bool eof = false;
    std::vector<char> buffer(kChunk);
    TRemoteResult result = TRemoteResult::Ok();
    auto drain = [&] {
        for (const Request& r : flight)
            sftp_async_read(file, buffer.data(), kChunk, std::uint32_t(r.id));
        flight.clear();
    };
    while (result.ok()) {
        while (!eof && int(flight.size()) < kReadsInFlight) {
            int id = sftp_async_read_begin(file, kChunk);
            if (id < 0) {
                result = Failure(path);
                break;
            }
            flight.push_back({id, next});
            next += kChunk;
        }
        if (!result.ok() || flight.empty()) break;
        Request r = flight.front();
        flight.pop_front();
        int n = sftp_async_read(file, buffer.data(), kChunk, std::uint32_t(r.id));
        shared.Touch();
        if (n < 0) {
            result = Failure(path);
            break;
        }
        if (n == 0) {
            eof = true;
            drain();
            break;
        }
        *total += n;
        if (!put(buffer.data(), n)) {
            drain();
            break;
        }
        if (std::uint32_t(n) < kChunk) {
            // A short piece: the requests after it asked for the wrong places. Ask again
            // from where this one ended.
            drain();
            next = r.offset + std::uint64_t(n);
            sftp_seek64(file, next);
        }
    }
    if (Dead() && result.ok()) result = Failure(path);
    sftp_close(file);
    return result;
}

// ---------------------------------------------------------------------------------------------

TSftpFileSystem::TSftpFileSystem(platform::EventLoop& loop)
    : loop_(loop), shared_(std::make_shared<Shared>(loop)), alive_(std::make_shared<bool>(true)) {
    shared_->session = std::make_unique<Session>(*shared_);
    shared_->thread = std::thread([shared = shared_] {
        for (;;) {
            std::function<void()> job;
            {
                std::unique_lock lock(shared->mutex);
                shared->wake.wait(lock, [&] { return shared->stop || !shared->jobs.empty(); });
                if (shared->stop) break;
                job = std::move(shared->jobs.front());
                shared->jobs.pop_front();
            }
            job();
        }
        shared->session.reset();
        std::lock_guard lock(shared->mutex);
        shared->exited = true;
        shared->wake.notify_all();
    });
}

TSftpFileSystem::~TSftpFileSystem() {
    alive_.reset();
    if (watchdog_) loop_.cancelTimer(watchdog_);
    shared_->Kill();
    std::unique_lock lock(shared_->mutex);
    shared_->stop = true;
    shared_->wake.notify_all();
    // The socket is shut: the worker ends at once unless the host name lookup still runs.
    bool done =
        shared_->wake.wait_for(lock, std::chrono::seconds(2), [&] { return shared_->exited; });
    lock.unlock();
    if (done)
        shared_->thread.join();
    else
        shared_->thread.detach();
}

TRemoteCapabilities TSftpFileSystem::Capabilities() const {
    TRemoteCapabilities caps;
    caps.atomicReplace = false; // a rename over a file moves the old one aside first
    caps.preciseTimes = true;
    caps.chmod = true;
    return caps;
}

std::string TSftpFileSystem::PathOf(const std::string& name) const {
    return NormalizeRemotePath(cwd_.empty() ? "/" : cwd_, name);
}

bool TSftpFileSystem::Begin(Done& done, const char* status) {
    if (busy_) {
        std::weak_ptr<bool> alive = alive_;
        loop_.post([alive, done = std::move(done)] {
            if (!alive.expired() && done) done(TRemoteResult::Fail(TRemoteError::Failed, kBusy));
        });
        return false;
    }
    busy_ = true;
    ++serial_;
    done_ = std::move(done);
    shared_->Touch();
    if (!watchdog_)
        watchdog_ = loop_.addTimer(std::chrono::milliseconds(200), true, [this] { Watch(); });
    if (status && onStatus) onStatus(status);
    return true;
}

// Outside Connect, an operation needs a connection.
void TSftpFileSystem::Run(Job job, bool connecting) {
    std::weak_ptr<bool> alive = alive_;
    std::uint64_t serial = serial_;
    std::lock_guard lock(shared_->mutex);
    shared_->jobs.push_back(
        [shared = shared_, alive, serial, connecting, job = std::move(job), this] {
            Session& s = *shared->session;
            bool killed = false;
            {
                std::lock_guard lock(shared->fdMutex);
                killed = shared->killed;
                shared->killed = false;
            }
            // What was killed since the last job is closed before anything else.
            if (killed) s.Close();
            s.owner = this;
            s.alive = alive;
            s.serial = serial;
            TRemoteResult result;
            if (!s.sftp && !connecting)
                result = TRemoteResult::Fail(TRemoteError::ConnectionLost, "Not connected");
            else
                result = job(s);
            if (result.connectionEnded() || s.Dead()) s.Close();
            s.Post([result](TSftpFileSystem& fs) { fs.Finish(result); });
        });
    shared_->wake.notify_all();
}

void TSftpFileSystem::Finish(const TRemoteResult& result) {
    busy_ = false;
    ++serial_;
    if (watchdog_) loop_.cancelTimer(watchdog_);
    watchdog_ = 0;
    if (result.connectionEnded()) {
        connected_ = false;
        shared_->Kill();
    }
    Done done = std::move(done_);
    done_ = nullptr;
    if (onStatus) onStatus("");
    if (done) done(result);
}

void TSftpFileSystem::Watch() {
    if (!busy_ || timeout_.count() <= 0 || shared_->asking) return;
    if (NowMs() - shared_->lastActivity < timeout_.count()) return;
    Finish(TRemoteResult::Fail(TRemoteError::Timeout,
                               "The server did not answer in time; the connection was closed"));
}

void TSftpFileSystem::Connect(Done done) {
    if (!Begin(done, ("Connecting to " + login_.host).c_str())) return;
    connected_ = false;
    shared_->Kill(); // the old connection, if any, goes
    Run([login = login_, timeout = timeout_](Session& s) { return s.Connect(login, timeout); },
        true);
}

void TSftpFileSystem::Disconnect() {
    busy_ = false;
    ++serial_;
    done_ = nullptr;
    connected_ = false;
    if (watchdog_) loop_.cancelTimer(watchdog_);
    watchdog_ = 0;
    shared_->Kill();
}

void TSftpFileSystem::Cancel() {
    if (!busy_) return;
    Finish(TRemoteResult::Fail(TRemoteError::Cancelled, "Cancelled"));
}

void TSftpFileSystem::KeepAlive(Done done) {
    if (!Begin(done, nullptr)) return;
    Run([path = PathOf(".")](Session& s) {
        sftp_attributes a = sftp_stat(s.sftp, path.c_str());
        if (!a) return s.Failure(path);
        sftp_attributes_free(a);
        return TRemoteResult::Ok();
    });
}

void TSftpFileSystem::ChangeDirectory(const std::string& path, Done done) {
    if (!Begin(done, nullptr)) return;
    Run([path = PathOf(path)](Session& s) {
        sftp_attributes a = sftp_stat(s.sftp, path.c_str());
        if (!a) return s.Failure(path);
        bool folder = a->type == SSH_FILEXFER_TYPE_DIRECTORY;
        sftp_attributes_free(a);
        if (!folder) return TRemoteResult::Fail(TRemoteError::Refused, path + ": not a folder");
        s.Post([path](TSftpFileSystem& fs) { fs.cwd_ = path; });
        return TRemoteResult::Ok();
    });
}

void TSftpFileSystem::List(EntryFound entry, Done done) {
    if (!Begin(done, "Receiving directory...")) return;
    Run([path = PathOf("."), entry = std::move(entry)](Session& s) {
        sftp_dir dir = sftp_opendir(s.sftp, path.c_str());
        if (!dir) return s.Failure(path);
        std::vector<TDirectoryEntry> batch;
        auto flush = [&] {
            if (batch.empty()) return;
            s.Post([batch = std::move(batch), entry](TSftpFileSystem&) {
                for (const TDirectoryEntry& e : batch)
                    if (entry) entry(e);
            });
            batch.clear();
        };
        TRemoteResult result = TRemoteResult::Ok();
        while (sftp_attributes a = sftp_readdir(s.sftp, dir)) {
            s.shared.Touch();
            std::string name = a->name ? a->name : "";
            if (name != "." && name != ".." && !name.empty()) {
                TDirectoryEntry e;
                e.Name = name;
                e.Size = std::int64_t(a->size);
                bool link = a->type == SSH_FILEXFER_TYPE_SYMLINK;
                e.Kind = a->type == SSH_FILEXFER_TYPE_DIRECTORY || link ? 1 : 0;
                e.Attributes = ModeText(a->permissions);
                if (link)
                    e.Attributes[0] = 'l';
                else if (e.Kind)
                    e.Attributes[0] = 'd';
                e.Date = LsDate(a->mtime);
                e.Owner = a->owner ? a->owner : std::to_string(a->uid);
                e.Group = a->group ? a->group : std::to_string(a->gid);
                if (link) {
                    std::string full = path == "/" ? "/" + name : path + "/" + name;
                    if (char* target = sftp_readlink(s.sftp, full.c_str())) {
                        e.LinkTarget = target;
                        ssh_string_free_char(target);
                    }
                }
                batch.push_back(std::move(e));
                if (batch.size() >= 64) flush();
            }
            sftp_attributes_free(a);
        }
        if (!sftp_dir_eof(dir)) result = s.Failure(path);
        sftp_closedir(dir);
        flush();
        return result;
    });
}

void TSftpFileSystem::Stat(const std::string& name, TStatNeeds, StatDone done) {
    auto stat = std::make_shared<TRemoteStat>();
    Done finish = [stat, done = std::move(done)](const TRemoteResult& r) {
        if (done) done(r, r.ok() ? *stat : TRemoteStat{});
    };
    if (!Begin(finish, nullptr)) return;
    // One lstat gives everything; a link is followed for its target's size and time.
    Run([path = PathOf(name), stat](Session& s) {
        sftp_attributes a = sftp_lstat(s.sftp, path.c_str());
        if (!a) return s.Failure(path);
        TRemoteStat st;
        st.mode = int(a->permissions & 07777);
        st.kind = a->type == SSH_FILEXFER_TYPE_DIRECTORY ? TRemoteKind::Folder
                  : a->type == SSH_FILEXFER_TYPE_SYMLINK ? TRemoteKind::Link
                                                         : TRemoteKind::File;
        st.size = std::int64_t(a->size);
        st.time = ExactTime(a->mtime);
        st.precision = TTimePrecision::Second;
        st.listingDate = LsDate(a->mtime);
        sftp_attributes_free(a);
        if (st.kind == TRemoteKind::Link) {
            if (sftp_attributes t = sftp_stat(s.sftp, path.c_str())) {
                st.size = std::int64_t(t->size);
                st.time = ExactTime(t->mtime);
                st.listingDate = LsDate(t->mtime);
                if (char* target = sftp_readlink(s.sftp, path.c_str())) {
                    st.linkTarget = target;
                    ssh_string_free_char(target);
                }
                sftp_attributes_free(t);
            } else if (s.Dead()) {
                return s.Failure(path);
            }
        }
        s.Post([stat, st](TSftpFileSystem&) { *stat = st; });
        return TRemoteResult::Ok();
    });
}

void TSftpFileSystem::Read(const std::string& name, Piece piece, Done done) {
    if (!Begin(done, "Receiving file...")) return;
    Run([path = PathOf(name), piece = std::move(piece)](Session& s) {
        std::int64_t total = 0;
        return s.ReadFile(
            path,
            [&](const char* data, int n) {
                s.Post([bytes = std::string(data, std::size_t(n)), piece](TSftpFileSystem&) {
                    if (piece) piece(bytes);
                });
                return true;
            },
            &total);
    });
}

void TSftpFileSystem::ReadToFile(const std::string& name, const std::string& localFile,
                                 Progress progress, Done done) {
    if (!Begin(done, "Receiving file...")) return;
    Run([path = PathOf(name), localFile, progress = std::move(progress)](Session& s) {
        auto localFailure = [&](int err) {
            return TRemoteResult::Fail(TRemoteError::Failed, "Could not write local file " +
                                                                 localFile + ": " +
                                                                 std::strerror(err));
        };
        if (localFile.empty()) return localFailure(ENOENT);
        std::string target = localFile;
        struct stat link {};
        if (::lstat(localFile.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
            if (char* real = ::realpath(localFile.c_str(), nullptr)) {
                target = real;
                std::free(real);
            }
        }
        struct stat old {};
        bool exists = ::stat(target.c_str(), &old) == 0;
        if (exists && S_ISDIR(old.st_mode)) return localFailure(EISDIR);
        // A device or a pipe holds no old contents to keep: written into as it is.
        bool direct = exists && !S_ISREG(old.st_mode);
        std::string temp;
        int fd = -1;
        if (direct) {
            fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC);
        } else {
            std::size_t slash = target.rfind('/');
            std::string dir = slash == std::string::npos ? "" : target.substr(0, slash + 1);
            std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
            static std::atomic<unsigned> serial{0};
            for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
                temp = dir + "." + base.substr(0, 180) + ".part-" + std::to_string(::getpid()) +
                       "-" + std::to_string(++serial);
                fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
                if (fd < 0 && errno != EEXIST) break;
            }
            if (fd >= 0 && exists) {
                [[maybe_unused]] int owned = ::fchown(fd, old.st_uid, old.st_gid);
                ::fchmod(fd, old.st_mode & 07777);
            }
        }
        if (fd < 0) return localFailure(errno);
        int err = 0;
        std::int64_t total = 0, reported = 0;
        TRemoteResult result = s.ReadFile(
            path,
            [&](const char* data, int n) {
                while (n > 0) {
                    ssize_t w = ::write(fd, data, std::size_t(n));
                    if (w < 0 && errno == EINTR) continue;
                    if (w < 0) {
                        err = errno;
                        return false;
                    }
                    data += w, n -= int(w);
                }
                if (total - reported >= 1 << 20) {
                    reported = total;
                    s.Post([progress, total](TSftpFileSystem&) {
                        if (progress) progress(total);
                    });
                }
                return true;
            },
            &total);
        bool completed = result.ok() && err == 0;
        if (completed && !direct && ::fsync(fd) != 0) err = errno;
        if (::close(fd) != 0 && err == 0 && errno != EINTR && !direct) err = errno;
        if (!direct) {
            if (completed && err == 0 && ::rename(temp.c_str(), target.c_str()) != 0) err = errno;
            if (!completed || err != 0) ::unlink(temp.c_str());
        }
        if (!result.ok()) return result;
        if (err != 0) return localFailure(err);
        s.Post([progress, total](TSftpFileSystem&) {
            if (progress) progress(total);
        });
        return TRemoteResult::Ok();
    });
}

void TSftpFileSystem::Write(const std::string& name, std::string_view text, Progress progress,
                            Done done) {
    if (!Begin(done, "Sending file...")) return;
    // The worker keeps its own copy: a Disconnect lets the caller free the text at once.
    auto bytes = std::make_shared<std::string>(text);
    int mode = 0666 & ~(login_.umask ? *login_.umask : 0);
    Run([path = PathOf(name), bytes, mode, progress = std::move(progress)](Session& s) {
        sftp_file file =
            sftp_open(s.sftp, path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, mode_t(mode));
        if (!file) return s.Failure(path);
        std::size_t sent = 0, reported = 0;
        TRemoteResult result = TRemoteResult::Ok();
        while (sent < bytes->size()) {
            std::size_t n = std::min<std::size_t>(s.writeChunk, bytes->size() - sent);
            ssize_t w = sftp_write(file, bytes->data() + sent, n);
            s.shared.Touch();
            if (w <= 0 && n > kSmallWrite && !s.Dead()) {
                // A server that takes smaller requests only: the rest go in the size every
                // server must take, from where this one failed.
                s.writeChunk = kSmallWrite;
                if (sftp_seek64(file, sent) == 0) continue;
            }
            if (w <= 0) {
                result = s.Failure(path);
                break;
            }
            sent += std::size_t(w);
            if (sent - reported >= (1u << 20) || sent == bytes->size()) {
                reported = sent;
                s.Post([progress, sent](TSftpFileSystem&) {
                    if (progress) progress(std::int64_t(sent));
                });
            }
        }
        // The server reports a failed flush (a full disk) on close.
        if (sftp_close(file) != SSH_OK && result.ok()) result = s.Failure(path);
        return result;
    });
}

void TSftpFileSystem::Rename(const std::string& from, const std::string& to, Done done) {
    if (!Begin(done, nullptr)) return;
    Run([from = PathOf(from), to = PathOf(to)](Session& s) {
        if (sftp_rename(s.sftp, from.c_str(), to.c_str()) == 0) return TRemoteResult::Ok();
        TRemoteResult failed = s.Failure(from);
        // SFTP's rename never replaces a file. The old one steps aside under a hidden name
        // until the new one has its name, and comes back if it does not get it.
        sftp_attributes a = s.Dead() ? nullptr : sftp_lstat(s.sftp, to.c_str());
        if (!a) return failed;
        bool folder = a->type == SSH_FILEXFER_TYPE_DIRECTORY;
        sftp_attributes_free(a);
        if (folder) return failed;
        std::size_t slash = to.rfind('/');
        static std::atomic<unsigned> serial{0};
        std::string aside = to.substr(0, slash + 1) + "." + to.substr(slash + 1, 120) +
                            ".replaced-" + std::to_string(::getpid()) + "-" +
                            std::to_string(++serial);
        if (sftp_rename(s.sftp, to.c_str(), aside.c_str()) != 0) return s.Failure(to);
        if (sftp_rename(s.sftp, from.c_str(), to.c_str()) != 0) {
            TRemoteResult result = s.Failure(from);
            sftp_rename(s.sftp, aside.c_str(), to.c_str());
            return result;
        }
        sftp_unlink(s.sftp, aside.c_str());
        return TRemoteResult::Ok();
    });
}

void TSftpFileSystem::Remove(const std::string& name, Done done) {
    if (!Begin(done, nullptr)) return;
    Run([path = PathOf(name)](Session& s) {
        if (sftp_unlink(s.sftp, path.c_str()) != 0) return s.Failure(path);
        return TRemoteResult::Ok();
    });
}

void TSftpFileSystem::MakeFolder(const std::string& name, Done done) {
    if (!Begin(done, nullptr)) return;
    Run([path = PathOf(name)](Session& s) {
        if (sftp_mkdir(s.sftp, path.c_str(), 0777) != 0) return s.Failure(path);
        return TRemoteResult::Ok();
    });
}

void TSftpFileSystem::RemoveFolder(const std::string& name, Done done) {
    if (!Begin(done, nullptr)) return;
    Run([path = PathOf(name)](Session& s) {
        if (sftp_rmdir(s.sftp, path.c_str()) != 0) return s.Failure(path);
        return TRemoteResult::Ok();
    });
}

void TSftpFileSystem::Chmod(const std::string& name, int mode, Done done) {
    if (!Begin(done, nullptr)) return;
    Run([path = PathOf(name), mode](Session& s) {
        if (sftp_chmod(s.sftp, path.c_str(), mode_t(mode & 07777)) != 0) return s.Failure(path);
        return TRemoteResult::Ok();
    });
}

void TSftpFileSystem::Execute(const std::string& command, Piece output, ExitDone done) {
    auto status = std::make_shared<int>(-1);
    Done finished = [status, done = std::move(done)](const TRemoteResult& r) {
        if (done) done(r, *status);
    };
    if (!Begin(finished, nullptr)) return;
    Run([command, output = std::move(output), status](Session& s) {
        ssh_channel channel = ssh_channel_new(s.ssh);
        if (!channel) return s.Failure(command);
        struct Closer {
            ssh_channel c;
            ~Closer() {
                if (ssh_channel_is_open(c)) ssh_channel_close(c);
                ssh_channel_free(c);
            }
        } closer{channel};
        if (ssh_channel_open_session(channel) != SSH_OK ||
            ssh_channel_request_exec(channel, command.c_str()) != SSH_OK)
            return TRemoteResult::Fail(TRemoteError::Refused,
                                       std::string("The server did not run the command: ") +
                                           ssh_get_error(s.ssh));
        char buffer[kChunk];
        // Standard output and error in the order they come; a short wait on each so that
        // a Kill from the loop (cancel, timeout) is seen soon.
        for (;;) {
            bool any = false;
            for (int err : {0, 1}) {
                int n =
                    ssh_channel_read_timeout(channel, buffer, sizeof buffer, err, err ? 0 : 200);
                if (n == SSH_ERROR || s.shared.Killed())
                    return TRemoteResult::Fail(TRemoteError::ConnectionLost,
                                               "The connection was closed");
                if (n > 0) {
                    any = true;
                    s.shared.Touch();
                    s.Post([bytes = std::string(buffer, std::size_t(n)), output](TSftpFileSystem&) {
                        if (output) output(bytes);
                    });
                }
            }
            if (!any && (ssh_channel_is_eof(channel) || ssh_channel_is_closed(channel))) break;
        }
        *status = ssh_channel_get_exit_status(channel);
        return TRemoteResult::Ok();
    });
}

} // namespace morvane::net
