// The SFTP login: the host key against known_hosts, then the agent, the user's keys and the
// password.
#include "core/net/SftpSession.h"

namespace morvane::net {

namespace {

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

} // namespace morvane::net
