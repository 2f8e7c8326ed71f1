#pragma once
// The SFTP file system's worker and its libssh session: shared by the operations
// (SftpFileSystem.cpp) and the login (SftpLogin.cpp). Internal to the net library.

#include "core/net/SftpFileSystem.h"

#include <libssh/libssh.h>
#include <libssh/sftp.h>

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <fcntl.h>
#include <fstream>
#include <future>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace morvane::net {

namespace sftp_internal {

using Clock = std::chrono::steady_clock;

inline constexpr const char* kBusy = "Another operation is still running on this connection";
inline constexpr std::uint32_t kChunk = 64 * 1024;
inline constexpr int kReadsInFlight = 16;
// One write request waits for its status before the next goes: large ones keep the line busy
// (OpenSSH's server takes up to 256 KiB in one request).
inline constexpr std::size_t kWriteChunk = 240 * 1024;
inline constexpr std::size_t kSmallWrite = 32 * 1024;

inline std::int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
        .count();
}

} // namespace sftp_internal

using namespace sftp_internal;

// ---------------------------------------------------------------------------------------------

struct TSftpFileSystem::Shared {
    explicit Shared(platform::EventLoop& l) : loop(l) {}
    platform::EventLoop& loop;
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> jobs;
    bool stop = false;
    bool exited = false;
    // The socket, for the loop to shut down; guarded so a closed number is never shut down.
    std::mutex fdMutex;
    int fd = -1;
    bool killed = false;
    std::atomic<std::int64_t> lastActivity{0};
    std::atomic<bool> asking{false};
    std::thread thread;
    std::unique_ptr<Session> session; // the worker's alone

    void Touch() { lastActivity = NowMs(); }
    // Ends the connection under whatever libssh call waits on it.
    void Kill() {
        std::lock_guard lock(fdMutex);
        killed = true;
        if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
    }
    bool Killed() {
        std::lock_guard lock(fdMutex);
        return killed;
    }
    bool Stopping() {
        std::lock_guard lock(mutex);
        return stop;
    }
};

struct TSftpFileSystem::Session {
    Shared& shared;
    ssh_session ssh = nullptr;
    sftp_session sftp = nullptr;
    // The running job's owner and serial: what it posts is dropped once they changed.
    TSftpFileSystem* owner = nullptr;
    std::weak_ptr<bool> alive;
    std::uint64_t serial = 0;
    std::size_t writeChunk = kWriteChunk; // smaller once the server refused a large write

    explicit Session(Shared& s) : shared(s) {}
    ~Session() { Close(); }

    void Close() {
        {
            std::lock_guard lock(shared.fdMutex);
            shared.fd = -1;
        }
        if (sftp) sftp_free(sftp);
        sftp = nullptr;
        if (ssh) {
            ssh_disconnect(ssh);
            ssh_free(ssh);
        }
        ssh = nullptr;
    }

    // Runs fn on the loop while this job's operation is still the running one.
    // Under the mutex and never after stop: a worker left running by the destructor must not
    // touch a loop that may be gone by then.
    void Post(std::function<void(TSftpFileSystem&)> fn) {
        std::lock_guard lock(shared.mutex);
        if (shared.stop) return;
        shared.loop.post([alive = alive, owner = owner, serial = serial, fn = std::move(fn)] {
            if (!alive.expired() && owner->serial_ == serial) fn(*owner);
        });
    }

    // Asks on the loop and waits for the answer; fallback when the owner is gone.
    template <class T> T Ask(std::function<T(TSftpFileSystem&)> fn, T fallback) {
        auto promise = std::make_shared<std::promise<T>>();
        auto answer = promise->get_future();
        shared.asking = true;
        {
            std::lock_guard lock(shared.mutex);
            if (shared.stop) {
                shared.asking = false;
                return fallback;
            }
            shared.loop.post([alive = alive, owner = owner, serial = serial, fn = std::move(fn),
                              promise, fallback] {
                if (alive.expired() || owner->serial_ != serial)
                    return promise->set_value(fallback);
                promise->set_value(fn(*owner));
            });
        }
        T result = fallback;
        try {
            while (answer.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready)
                if (shared.Stopping()) break;
            if (answer.wait_for(std::chrono::seconds(0)) == std::future_status::ready)
                result = answer.get();
        } catch (const std::future_error&) {
        }
        shared.Touch();
        shared.asking = false;
        return result;
    }

    // The connection, or the SFTP channel in it, has ended (a server whose SFTP process died
    // may close the channel before the connection).
    bool Dead() const {
        return !ssh || !ssh_is_connected(ssh) || shared.Killed() ||
               (sftp && sftp->channel &&
                (ssh_channel_is_closed(sftp->channel) || ssh_channel_is_eof(sftp->channel)));
    }

    // The failure of the last SFTP request on path.
    TRemoteResult Failure(const std::string& path, const char* action = nullptr) {
        if (Dead() || (ssh && ssh_get_error_code(ssh) == SSH_FATAL))
            return TRemoteResult::Fail(TRemoteError::ConnectionLost,
                                       std::string("The connection was closed") +
                                           (ssh && *ssh_get_error(ssh)
                                                ? std::string(": ") + ssh_get_error(ssh)
                                                : std::string()));
        int code = sftp ? sftp_get_error(sftp) : SSH_FX_FAILURE;
        TRemoteError error = TRemoteError::Failed;
        const char* text = "Failure";
        switch (code) {
        case SSH_FX_NO_SUCH_FILE:
        case SSH_FX_NO_SUCH_PATH:
            error = TRemoteError::NotFound, text = "No such file or folder";
            break;
        case SSH_FX_PERMISSION_DENIED:
        case SSH_FX_WRITE_PROTECT:
            error = TRemoteError::Permission, text = "Permission denied";
            break;
        case SSH_FX_OP_UNSUPPORTED:
            error = TRemoteError::Refused, text = "Not supported by the server";
            break;
        case SSH_FX_FILE_ALREADY_EXISTS:
            error = TRemoteError::Refused, text = "The name exists already";
            break;
        case SSH_FX_NO_CONNECTION:
        case SSH_FX_CONNECTION_LOST:
            error = TRemoteError::ConnectionLost, text = "The connection was closed";
            break;
        case SSH_FX_NO_MEDIA:
            text = "No medium";
            break;
        case SSH_FX_EOF:
            text = "Unexpected end of file";
            break;
        default:
            break;
        }
        std::string message = path.empty() ? std::string(text) : path + ": " + text;
        if (action) message = std::string(action) + " " + message;
        return TRemoteResult::Fail(error, message);
    }

    TRemoteResult Connect(const TRemoteLogin& login, std::chrono::milliseconds timeout);
    TRemoteResult OpenSocket(const TRemoteLogin& login, std::chrono::milliseconds timeout);
    TRemoteResult CheckHostKey(const TRemoteLogin& login);
    TRemoteResult Authenticate(const TRemoteLogin& login);
    TRemoteResult ReadFile(const std::string& path,
                           const std::function<bool(const char*, int)>& put, std::int64_t* total);
};

} // namespace morvane::net
