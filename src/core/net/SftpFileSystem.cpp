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

namespace {

using Clock = std::chrono::steady_clock;

const char* kBusy = "Another operation is still running on this connection";
constexpr std::uint32_t kChunk = 64 * 1024;
constexpr int kReadsInFlight = 16;
// One write request waits for its status before the next goes: large ones keep the line busy
// (OpenSSH's server takes up to 256 KiB in one request).
constexpr std::size_t kWriteChunk = 240 * 1024;
constexpr std::size_t kSmallWrite = 32 * 1024;

std::int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
        .count();
}

std::string Base64(const unsigned char* data, std::size_t size) {
    std::string out(4 * ((size + 2) / 3) + 1, '\0');
    int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), data, int(size));
    out.resize(n > 0 ? std::size_t(n) : 0);
    return out;
}

std::string Unbase64(const std::string& text) {
    std::string out(3 * (text.size() / 4) + 3, '\0');
    int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                            reinterpret_cast<const unsigned char*>(text.data()), int(text.size()));
    if (n < 0) return {};
    std::size_t size = std::size_t(n);
    for (std::size_t i = text.size(); i > 0 && text[i - 1] == '='; --i)
        if (size > 0) --size;
    out.resize(size);
    return out;
}

// "a", "*.example.org", "!bad" patterns of a known_hosts host field against one name.
bool PatternMatches(const std::string& pattern, const std::string& name) {
    std::size_t p = 0, n = 0, star = std::string::npos, mark = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
            ++p, ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++, mark = n;
        } else if (star != std::string::npos) {
            p = star + 1, n = ++mark;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

bool HostFieldMatches(const std::string& field, const std::string& name) {
    if (field.rfind("|1|", 0) == 0) {
        std::size_t bar = field.find('|', 3);
        if (bar == std::string::npos) return false;
        std::string salt = Unbase64(field.substr(3, bar - 3));
        std::string hash = Unbase64(field.substr(bar + 1));
        unsigned char mac[EVP_MAX_MD_SIZE];
        unsigned int macSize = 0;
        HMAC(EVP_sha1(), salt.data(), int(salt.size()),
             reinterpret_cast<const unsigned char*>(name.data()), name.size(), mac, &macSize);
        return hash.size() == macSize && std::memcmp(hash.data(), mac, macSize) == 0;
    }
    bool matched = false;
    std::stringstream list(field);
    std::string pattern;
    while (std::getline(list, pattern, ',')) {
        bool negated = !pattern.empty() && pattern[0] == '!';
        if (PatternMatches(negated ? pattern.substr(1) : pattern, name)) {
            if (negated) return false;
            matched = true;
        }
    }
    return matched;
}

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

// "/a/b/../c/." -> "/a/c"; relative parts apply to base.
std::string Normalize(const std::string& base, const std::string& path) {
    std::string joined = !path.empty() && path[0] == '/' ? path : base + "/" + path;
    std::vector<std::string> parts;
    std::size_t i = 0;
    while (i <= joined.size()) {
        std::size_t end = joined.find('/', i);
        if (end == std::string::npos) end = joined.size();
        std::string part = joined.substr(i, end - i);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        i = end + 1;
    }
    std::string out;
    for (const std::string& p : parts)
        out += "/" + p;
    return out.empty() ? "/" : out;
}

} // namespace

bool KeyPassphraseWorks(const std::string& keyFile, const std::string& phrase) {
    ssh_key key = nullptr;
    bool ok = ssh_pki_import_privkey_file(keyFile.c_str(), phrase.c_str(), nullptr, nullptr,
                                          &key) == SSH_OK;
    if (key) ssh_key_free(key);
    return ok;
}

std::string SshDirectory(const TRemoteLogin& login) {
    if (!login.sshDir.empty()) return login.sshDir;
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : "") + "/.ssh";
}

std::vector<int> KnownHostsLines(const std::string& file, const std::string& host, int port,
                                 const std::string& keyType) {
    std::vector<int> lines;
    std::ifstream in(file);
    std::string name = port == 22 || port == 0 ? host : "[" + host + "]:" + std::to_string(port);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        std::stringstream words(line);
        std::string hosts, type;
        words >> hosts;
        if (hosts.empty() || hosts[0] == '#') continue;
        if (hosts[0] == '@') words >> hosts; // @cert-authority / @revoked
        words >> type;
        if (!keyType.empty() && type != keyType) continue;
        if (HostFieldMatches(hosts, name)) lines.push_back(number);
    }
    return lines;
}

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

TRemoteResult TSftpFileSystem::Session::OpenSocket(const TRemoteLogin& login,
                                                   std::chrono::milliseconds timeout) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    std::string port = std::to_string(login.port > 0 ? login.port : 22);
    int rc = ::getaddrinfo(login.host.c_str(), port.c_str(), &hints, &found);
    if (rc != 0)
        return TRemoteResult::Fail(TRemoteError::Failed,
                                   "Cannot find host " + login.host + ": " + gai_strerror(rc));
    std::int64_t deadline = timeout.count() > 0 ? NowMs() + timeout.count() : 0;
    int err = ECONNREFUSED;
    for (addrinfo* a = found; a; a = a->ai_next) {
        int fd =
            ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
        if (fd < 0) continue;
        {
            std::lock_guard lock(shared.fdMutex);
            shared.fd = fd;
        }
        bool connected = ::connect(fd, a->ai_addr, a->ai_addrlen) == 0;
        err = connected ? 0 : errno;
        // Waits in slices so a cancel (which shuts the socket down) is seen at once.
        while (err == EINPROGRESS) {
            pollfd p{fd, POLLOUT, 0};
            int n = ::poll(&p, 1, 100);
            if (shared.Killed())
                err = ECANCELED;
            else if (deadline && NowMs() > deadline)
                err = ETIMEDOUT;
            else if (n > 0) {
                socklen_t len = sizeof err;
                ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
            }
        }
        if (err == 0) {
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
            // Each write waits for its status: small packets must not wait for more data.
            int on = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            ::freeaddrinfo(found);
            ssh_options_set(ssh, SSH_OPTIONS_FD, &fd);
            return TRemoteResult::Ok();
        }
        {
            std::lock_guard lock(shared.fdMutex);
            shared.fd = -1;
        }
        ::close(fd);
        if (err == ECANCELED) break;
    }
    ::freeaddrinfo(found);
    if (err == ETIMEDOUT)
        return TRemoteResult::Fail(TRemoteError::Timeout, "No answer from " + login.host);
    return TRemoteResult::Fail(TRemoteError::Failed,
                               "Cannot connect to " + login.host + ": " + std::strerror(err));
}

TRemoteResult TSftpFileSystem::Session::CheckHostKey(const TRemoteLogin& login) {
    ssh_key key = nullptr;
    if (ssh_get_server_publickey(ssh, &key) != SSH_OK)
        return TRemoteResult::Fail(TRemoteError::Failed, "The server sent no host key");
    unsigned char* hash = nullptr;
    std::size_t hashSize = 0;
    THostKey shown;
    const char* type = ssh_key_type(key) == SSH_KEYTYPE_ECDSA_P256   ? "ecdsa-sha2-nistp256"
                       : ssh_key_type(key) == SSH_KEYTYPE_ECDSA_P384 ? "ecdsa-sha2-nistp384"
                       : ssh_key_type(key) == SSH_KEYTYPE_ECDSA_P521
                           ? "ecdsa-sha2-nistp521"
                           : ssh_key_type_to_char(ssh_key_type(key));
    shown.type = type ? type : "unknown";
    if (ssh_get_publickey_hash(key, SSH_PUBLICKEY_HASH_SHA256, &hash, &hashSize) == 0) {
        std::string b64 = Base64(hash, hashSize);
        while (!b64.empty() && b64.back() == '=')
            b64.pop_back();
        shown.fingerprint = "SHA256:" + b64;
        ssh_clean_pubkey_hash(&hash);
    }
    ssh_key_free(key);

    std::string file = SshDirectory(login) + "/known_hosts";
    int port = login.port > 0 ? login.port : 22;
    switch (ssh_session_is_known_server(ssh)) {
    case SSH_KNOWN_HOSTS_OK:
        return TRemoteResult::Ok();
    case SSH_KNOWN_HOSTS_CHANGED:
    case SSH_KNOWN_HOSTS_OTHER: {
        auto lines = KnownHostsLines(file, login.host, port);
        std::string where = lines.empty() ? "the known hosts"
                                          : "line " + std::to_string(lines.front()) + " of " + file;
        return TRemoteResult::Fail(
            TRemoteError::Refused,
            "WARNING: the host key of " + login.host + " has changed. The server now sends a " +
                shown.type + " key " + shown.fingerprint + " that does not match " + where +
                ". Someone may be intercepting the connection, or the server's key was "
                "replaced. Not connected: if you know the key was replaced, remove that line "
                "and connect again.");
    }
    case SSH_KNOWN_HOSTS_UNKNOWN:
    case SSH_KNOWN_HOSTS_NOT_FOUND:
        break;
    case SSH_KNOWN_HOSTS_ERROR:
    default:
        return TRemoteResult::Fail(TRemoteError::Failed,
                                   std::string("Cannot check the host key: ") + ssh_get_error(ssh));
    }
    THostKeyAnswer answer = THostKeyAnswer::Cancel;
    if (login.hostKey) {
        auto ask = login.hostKey;
        std::string host = login.host;
        answer =
            Ask<THostKeyAnswer>([ask, host, shown](TSftpFileSystem&) { return ask(host, shown); },
                                THostKeyAnswer::Cancel);
    }
    if (answer == THostKeyAnswer::Cancel)
        return TRemoteResult::Fail(TRemoteError::Refused, "The host key of " + login.host + " (" +
                                                              shown.type + " " + shown.fingerprint +
                                                              ") is not known; not connected");
    if (answer == THostKeyAnswer::Always) {
        ::mkdir(SshDirectory(login).c_str(), 0700);
        if (ssh_session_update_known_hosts(ssh) != SSH_OK)
            Post([message =
                      "Could not write " + file + ": " + ssh_get_error(ssh)](TSftpFileSystem& fs) {
                if (fs.onStatus) fs.onStatus(message);
            });
    }
    return TRemoteResult::Ok();
}

TRemoteResult TSftpFileSystem::Session::Authenticate(const TRemoteLogin& login) {
    int rc = ssh_userauth_none(ssh, nullptr);
    if (rc == SSH_AUTH_SUCCESS) return TRemoteResult::Ok();
    if (rc == SSH_AUTH_ERROR) return Failure({});
    int methods = ssh_userauth_list(ssh, nullptr);
    std::string why;
    if (methods & SSH_AUTH_METHOD_PUBLICKEY) {
        const char* agent = std::getenv("SSH_AUTH_SOCK");
        if (agent && *agent) {
            rc = ssh_userauth_agent(ssh, nullptr);
            if (rc == SSH_AUTH_SUCCESS) return TRemoteResult::Ok();
            if (rc == SSH_AUTH_ERROR && Dead()) return Failure({});
        }
        std::string dir = SshDirectory(login);
        for (const char* name : {"id_ed25519", "id_ecdsa", "id_rsa"}) {
            std::string path = dir + "/" + name;
            if (::access(path.c_str(), R_OK) != 0) continue;
            ssh_key pub = nullptr;
            if (ssh_pki_import_pubkey_file((path + ".pub").c_str(), &pub) == SSH_OK) {
                rc = ssh_userauth_try_publickey(ssh, nullptr, pub);
                ssh_key_free(pub);
                if (rc == SSH_AUTH_ERROR && Dead()) return Failure({});
                if (rc != SSH_AUTH_SUCCESS) continue; // the server does not take this key
            }
            ssh_key key = nullptr;
            bool loaded = ssh_pki_import_privkey_file(path.c_str(), nullptr, nullptr, nullptr,
                                                      &key) == SSH_OK;
            // An encrypted key: its passphrase, three tries.
            for (int attempt = 0; !loaded && attempt < 3 && login.passphrase; ++attempt) {
                auto ask = login.passphrase;
                auto phrase = Ask<std::optional<std::string>>(
                    [ask, path](TSftpFileSystem&) { return ask(path); }, std::nullopt);
                if (!phrase) break;
                loaded = ssh_pki_import_privkey_file(path.c_str(), phrase->c_str(), nullptr,
                                                     nullptr, &key) == SSH_OK;
                if (!loaded) why = "Wrong passphrase for " + path + ". ";
            }
            if (!loaded) continue;
            rc = ssh_userauth_publickey(ssh, nullptr, key);
            ssh_key_free(key);
            if (rc == SSH_AUTH_SUCCESS) return TRemoteResult::Ok();
            if (rc == SSH_AUTH_ERROR && Dead()) return Failure({});
        }
    }
    methods = ssh_userauth_list(ssh, nullptr);
    bool password = methods & SSH_AUTH_METHOD_PASSWORD;
    bool interactive = methods & SSH_AUTH_METHOD_INTERACTIVE;
    if (password || interactive) {
        std::string secret = login.password;
        if (secret.empty() && login.askPassword) {
            auto ask = login.askPassword;
            auto typed = Ask<std::optional<std::string>>([ask](TSftpFileSystem&) { return ask(); },
                                                         std::nullopt);
            if (!typed) return TRemoteResult::Fail(TRemoteError::Cancelled, "No password given");
            secret = *typed;
        }
        if (password) {
            rc = ssh_userauth_password(ssh, nullptr, secret.c_str());
        } else {
            rc = ssh_userauth_kbdint(ssh, nullptr, nullptr);
            for (int round = 0; rc == SSH_AUTH_INFO && round < 8; ++round) {
                int prompts = ssh_userauth_kbdint_getnprompts(ssh);
                for (int i = 0; i < prompts; ++i)
                    ssh_userauth_kbdint_setanswer(ssh, unsigned(i), secret.c_str());
                rc = ssh_userauth_kbdint(ssh, nullptr, nullptr);
            }
        }
        if (rc == SSH_AUTH_SUCCESS) return TRemoteResult::Ok();
        if (rc == SSH_AUTH_ERROR && Dead()) return Failure({});
        why += "The password was not accepted. ";
    }
    return TRemoteResult::Fail(TRemoteError::Permission,
                               why + "Login as " + login.user + " on " + login.host +
                                   " failed: no key or password was accepted");
}

TRemoteResult TSftpFileSystem::Session::Connect(const TRemoteLogin& login,
                                                std::chrono::milliseconds timeout) {
    Close();
    ssh = ssh_new();
    if (!ssh) return TRemoteResult::Fail(TRemoteError::Failed, "Out of memory");
    bool no = false;
    int port = login.port > 0 ? login.port : 22;
    std::string dir = SshDirectory(login);
    std::string known = dir + "/known_hosts";
    ssh_options_set(ssh, SSH_OPTIONS_PROCESS_CONFIG, &no);
    ssh_options_set(ssh, SSH_OPTIONS_HOST, login.host.c_str());
    ssh_options_set(ssh, SSH_OPTIONS_PORT, &port);
    ssh_options_set(ssh, SSH_OPTIONS_SSH_DIR, dir.c_str());
    ssh_options_set(ssh, SSH_OPTIONS_KNOWNHOSTS, known.c_str());
    if (!login.user.empty()) ssh_options_set(ssh, SSH_OPTIONS_USER, login.user.c_str());
    if (timeout.count() > 0) {
        long seconds = long((timeout.count() + 999) / 1000);
        ssh_options_set(ssh, SSH_OPTIONS_TIMEOUT, &seconds);
    }
    TRemoteResult result = OpenSocket(login, timeout);
    if (!result.ok()) return result;
    shared.Touch();
    if (ssh_connect(ssh) != SSH_OK)
        return TRemoteResult::Fail(TRemoteError::ConnectionLost,
                                   "SSH connection to " + login.host +
                                       " failed: " + ssh_get_error(ssh));
    shared.Touch();
    result = CheckHostKey(login);
    if (!result.ok()) return result;
    result = Authenticate(login);
    if (!result.ok()) return result;
    shared.Touch();
    writeChunk = kWriteChunk;
    sftp = sftp_new(ssh);
    if (!sftp || sftp_init(sftp) != SSH_OK)
        return TRemoteResult::Fail(Dead() ? TRemoteError::ConnectionLost : TRemoteError::Refused,
                                   std::string("The server offers no SFTP: ") + ssh_get_error(ssh));
    char* home = sftp_canonicalize_path(sftp, ".");
    std::string homeText = home ? home : "/";
    ssh_string_free_char(home);
    Post([homeText](TSftpFileSystem& fs) {
        fs.home_ = fs.cwd_ = homeText;
        fs.connected_ = true;
    });
    return TRemoteResult::Ok();
}

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
    return Normalize(cwd_.empty() ? "/" : cwd_, name);
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

} // namespace morvane::net
