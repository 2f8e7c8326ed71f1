#include "core/platform/SingleInstance.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace morvane::platform {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr char ackByte = 'A';
constexpr char rejectByte = 'R';
// A client that neither finishes its block nor goes away is dropped after this.
constexpr auto clientTimeout = 5s;
// After accept() ran out of descriptors or memory, the listener rests this long: the socket
// stays readable meanwhile, and watching it would spin.
constexpr auto acceptRetry = 250ms;

bool socketAddress(const fs::path& file, sockaddr_un& addr) {
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    std::string s = file.string();
    if (s.size() >= sizeof addr.sun_path) return false;
    std::memcpy(addr.sun_path, s.c_str(), s.size() + 1);
    return true;
}

std::string sysError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

// Whatever another local user controls could receive this user's hand-overs (file paths,
// remote references), or hand this user files to open.
std::string unsafeReason(const struct stat& st) {
    if (st.st_uid != ::geteuid()) return "it belongs to another user";
    if (st.st_mode & (S_IWGRP | S_IWOTH)) return "other users may write to it";
    return {};
}

constexpr const char* separateInstanceNote =
    " Morvane runs as a separate instance: it neither hands its files to a running instance nor "
    "receives any.";

bool peerIsThisUser(int fd) {
    ucred cred{};
    socklen_t len = sizeof cred;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0 && cred.uid == ::geteuid();
}

} // namespace

HandOverBlock encodeHandOver(const std::vector<std::string>& argv) {
    HandOverBlock b;
    std::size_t size = 1;
    for (auto& a : argv)
        size += a.size() + 1;
    if (size > handOverBlockSize) {
        b.error = "The arguments are too long to hand to the running instance of Morvane (" +
                  std::to_string(size) + " bytes; at most " + std::to_string(handOverBlockSize) +
                  ").";
        return b;
    }
    b.bytes.reserve(size);
    for (auto& a : argv) {
        b.bytes.append(a);
        b.bytes.push_back('\0');
    }
    b.bytes.push_back('\0');
    return b;
}

std::optional<std::vector<std::string>> decodeHandOver(std::string_view block) {
    if (block.size() > handOverBlockSize || block.empty() || block.back() != '\0')
        return std::nullopt;
    std::vector<std::string> strings;
    std::size_t pos = 0;
    while (pos < block.size()) {
        std::size_t end = block.find('\0', pos);
        if (end == pos) break; // the empty string ends the list
        strings.emplace_back(block.substr(pos, end - pos));
        pos = end + 1;
    }
    if (!strings.empty()) strings.erase(strings.begin()); // the sender's program path
    return strings;
}

fs::path defaultRuntimeDir() {
    if (const char* d = std::getenv("MORVANE_RUNTIME_DIR"); d && *d) return d;
    if (const char* x = std::getenv("XDG_RUNTIME_DIR"); x && *x) return fs::path(x) / "morvane";
    return fs::path("/tmp") / ("morvane-" + std::to_string(::getuid()));
}

struct SingleInstance::Connection {
    int fd = -1;
    WatchId watch = 0;
    TimerId timer = 0;
    std::string block;
};

SingleInstance::SingleInstance(fs::path runtimeDir) : dir_(std::move(runtimeDir)) {
    lockFile_ = dir_ / "morvane.lock";
    socketFile_ = dir_ / "morvane.socket";
}

SingleInstance::~SingleInstance() {
    while (!connections_.empty())
        drop(connections_.back()->fd);
    if (loop_ && listenWatch_) loop_->unwatch(listenWatch_);
    if (loop_ && retryTimer_) loop_->cancelTimer(retryTimer_);
    if (loop_ && deliveryTimer_) loop_->cancelTimer(deliveryTimer_);
    if (listenFd_ >= 0) {
        ::close(listenFd_);
        ::unlink(socketFile_.c_str());
    }
    if (lockFd_ >= 0) ::close(lockFd_);
}

// The folder is created 0700; an existing one must be a folder (not a link) of this user that
// nobody else can write, since whoever can write it can put their own socket there.
bool SingleInstance::prepareFolder() {
    std::error_code ec;
    if (dir_.has_parent_path()) fs::create_directories(dir_.parent_path(), ec);
    if (::mkdir(dir_.c_str(), 0700) != 0 && errno != EEXIST) {
        error_ = sysError("Cannot create the folder \"" + dir_.string() + "\"");
        return false;
    }
    struct stat st {};
    if (::lstat(dir_.c_str(), &st) != 0) {
        error_ = sysError("Cannot use the folder \"" + dir_.string() + "\"");
        return false;
    }
    std::string why = !S_ISDIR(st.st_mode)       ? "it is not a folder"
                      : st.st_uid != ::geteuid() ? "it belongs to another user"
                                                 : "";
    // A folder of this user's that is open to others is closed again before anything is put
    // into it or taken from it.
    if (why.empty() && (st.st_mode & 077) && ::chmod(dir_.c_str(), 0700) != 0)
        why = std::string("other users may write to it and its permissions cannot be set to "
                          "0700 (") +
              std::strerror(errno) + ")";
    if (!why.empty()) {
        error_ = "The folder \"" + dir_.string() + "\" is not safe for connecting Morvane's " +
                 "instances: " + why + "." + separateInstanceNote;
        return false;
    }
    return true;
}

SingleInstance::Role SingleInstance::claim() {
    if (!prepareFolder()) return Role::Failed;
    lockFd_ = ::open(lockFile_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lockFd_ < 0) {
        error_ = sysError("Cannot open \"" + lockFile_.string() + "\"");
        return Role::Failed;
    }
    struct stat st {};
    std::string why = ::fstat(lockFd_, &st) != 0 ? std::strerror(errno)
                      : !S_ISREG(st.st_mode)     ? "it is not a regular file"
                                                 : unsafeReason(st);
    if (!why.empty()) {
        ::close(lockFd_);
        lockFd_ = -1;
        error_ = "The lock file \"" + lockFile_.string() + "\" is not safe: " + why + "." +
                 separateInstanceNote;
        return Role::Failed;
    }
    if (::flock(lockFd_, LOCK_EX | LOCK_NB) == 0) return Role::First;
    ::close(lockFd_);
    lockFd_ = -1;
    if (errno == EWOULDBLOCK) return Role::Second;
    error_ = sysError("Cannot lock \"" + lockFile_.string() + "\"");
    return Role::Failed;
}

bool SingleInstance::handOver(const std::string& block, std::chrono::milliseconds timeout) {
    sockaddr_un addr;
    if (!socketAddress(socketFile_, addr)) {
        error_ = "The runtime folder's path is too long: " + dir_.string();
        return false;
    }
    auto deadline = std::chrono::steady_clock::now() + timeout;
    auto left = [&] {
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      deadline - std::chrono::steady_clock::now())
                      .count();
        return static_cast<int>(std::max<long long>(0, ms));
    };
    int fd = -1;
    // The first instance may hold the lock but not listen yet: it is still starting.
    for (;;) {
        bool busy = false; // listening, but its backlog is full: it is working through a flood
        fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            error_ = sysError("Cannot create a socket");
            return false;
        }
        struct stat st {};
        if (::lstat(socketFile_.c_str(), &st) == 0) {
            std::string why = S_ISSOCK(st.st_mode) ? unsafeReason(st) : "it is not a socket";
            if (!why.empty()) {
                ::close(fd);
                error_ = "The socket \"" + socketFile_.string() + "\" is not safe: " + why +
                         ". The files were not handed over.";
                return false;
            }
            // Non-blocking: a first instance that has stopped accepting for a while (its backlog
            // is full) is retried until the deadline instead of waited for without end.
            int flags = ::fcntl(fd, F_GETFL);
            ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
            if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
                ::fcntl(fd, F_SETFL, flags);
                if (peerIsThisUser(fd)) break;
                ::close(fd);
                error_ = "The process listening on \"" + socketFile_.string() +
                         "\" belongs to another user. The files were not handed over.";
                return false;
            }
            busy = errno == EAGAIN;
        }
        ::close(fd);
        fd = -1;
        if (left() == 0) {
            error_ = "The running instance of Morvane does not answer.";
            return false;
        }
        ::usleep(busy ? 2000 : 20000);
    }
    std::size_t sent = 0;
    while (sent < block.size()) {
        ssize_t n = ::send(fd, block.data() + sent, block.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error_ = sysError("Cannot hand the arguments to the running instance");
            ::close(fd);
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    ::shutdown(fd, SHUT_WR);
    char reply = 0;
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        int r = ::poll(&p, 1, left());
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) {
            error_ = "The running instance of Morvane did not acknowledge the arguments.";
            ::close(fd);
            return false;
        }
        ssize_t n = ::recv(fd, &reply, 1, 0);
        if (n < 0 && errno == EINTR) continue;
        break;
    }
    ::close(fd);
    if (reply == ackByte) return true;
    error_ = reply == rejectByte ? "The running instance of Morvane refused the arguments."
                                 : "The running instance of Morvane closed the connection.";
    return false;
}

bool SingleInstance::listen(EventLoop& loop,
                            std::function<void(std::vector<std::string>)> onArguments) {
    sockaddr_un addr;
    if (!socketAddress(socketFile_, addr)) {
        error_ = "The runtime folder's path is too long: " + dir_.string();
        return false;
    }
    // Holding the lock proves that any socket file left here belongs to a dead instance.
    ::unlink(socketFile_.c_str());
    listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    // The socket file is born 0600, so a second start never sees it open to others.
    mode_t oldMask = ::umask(0177);
    bool bound =
        listenFd_ >= 0 && ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::umask(oldMask);
    if (!bound || ::listen(listenFd_, 16) != 0) {
        error_ = sysError("Cannot listen on \"" + socketFile_.string() + "\"");
        return false;
    }
    ::chmod(socketFile_.c_str(), 0600);
    loop_ = &loop;
    onArguments_ = std::move(onArguments);
    listenWatch_ = loop.watchFd(listenFd_, ioRead, [this](int, unsigned) { accept(); });
    accepting_ = true;
    return true;
}

void SingleInstance::pauseAccepting(bool retryLater) {
    if (accepting_) loop_->setWatchEvents(listenWatch_, ioNone);
    accepting_ = false;
    if (retryLater && !retryTimer_)
        retryTimer_ = loop_->addTimer(acceptRetry, false, [this] {
            retryTimer_ = 0;
            resumeAccepting();
        });
}

void SingleInstance::resumeAccepting() {
    if (accepting_ || retryTimer_ || listenWatch_ == 0) return;
    if (connections_.size() >= maxConnections || pending_.size() >= maxPending) return;
    accepting_ = true;
    loop_->setWatchEvents(listenWatch_, ioRead);
}

void SingleInstance::accept() {
    for (;;) {
        if (connections_.size() >= maxConnections || pending_.size() >= maxPending) {
            pauseAccepting(false); // resumed when a client or a hand-over is done
            return;
        }
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) pauseAccepting(true); // EMFILE and kin
            return;
        }
        if (!peerIsThisUser(fd)) {
            ::close(fd);
            continue;
        }
        auto c = std::make_unique<Connection>();
        c->fd = fd;
        Connection* raw = c.get();
        connections_.push_back(std::move(c));
        raw->watch = loop_->watchFd(fd, ioRead, [this, raw](int, unsigned) { readFrom(*raw); });
        raw->timer = loop_->addTimer(clientTimeout, false, [this, fd] { drop(fd); });
    }
}

void SingleInstance::readFrom(Connection& c) {
    char buf[8192];
    for (;;) {
        ssize_t n = ::recv(c.fd, buf, sizeof buf, 0);
        if (n > 0) {
            c.block.append(buf, static_cast<std::size_t>(n));
            if (c.block.size() > handOverBlockSize) break; // decoding rejects it
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return; // more to come
        break;                                                          // the sender has finished
    }
    int fd = c.fd;
    auto arguments = decodeHandOver(c.block);
    // Acknowledge before opening: opening may ask the user questions, and the sender must not
    // wait for those.
    char reply = arguments ? ackByte : rejectByte;
    [[maybe_unused]] auto sent = ::send(fd, &reply, 1, MSG_NOSIGNAL);
    drop(fd);
    if (arguments) {
        pending_.push_back(std::move(*arguments));
        scheduleDelivery();
    }
}

// From a timer, so that the handler runs from the loop itself with no socket callback (and no
// other hand-over) beneath it on the stack.
void SingleInstance::scheduleDelivery() {
    if (delivering_ || deliveryTimer_ || pending_.empty()) return;
    deliveryTimer_ = loop_->addTimer(0ms, false, [this] {
        deliveryTimer_ = 0;
        deliverNext();
    });
}

void SingleInstance::deliverNext() {
    if (delivering_ || pending_.empty()) return;
    std::vector<std::string> arguments = std::move(pending_.front());
    pending_.pop_front();
    resumeAccepting();
    delivering_ = true;
    struct Done {
        SingleInstance& self;
        ~Done() {
            self.delivering_ = false;
            self.scheduleDelivery();
        }
    } done{*this};
    if (onArguments_) onArguments_(std::move(arguments));
}

void SingleInstance::drop(int fd) {
    auto it = std::find_if(connections_.begin(), connections_.end(),
                           [fd](const auto& c) { return c->fd == fd; });
    if (it == connections_.end()) return;
    if ((*it)->watch) loop_->unwatch((*it)->watch);
    if ((*it)->timer) loop_->cancelTimer((*it)->timer);
    ::close(fd);
    connections_.erase(it);
    resumeAccepting();
}

} // namespace morvane::platform
