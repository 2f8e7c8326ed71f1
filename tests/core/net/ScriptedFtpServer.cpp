#include "ScriptedFtpServer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace morvane::testing {

namespace {

bool sendAll(int fd, const std::string& bytes) {
    std::size_t off = 0;
    while (off < bytes.size()) {
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, 5000) <= 0) return false;
        ssize_t n = ::send(fd, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        off += std::size_t(n);
    }
    return true;
}

// An address of either family with a port.
struct Address {
    sockaddr_storage ss{};
    socklen_t len = 0;
};

Address MakeAddress(const std::string& host, int port) {
    Address a;
    if (host.find(':') != std::string::npos) {
        auto* v6 = reinterpret_cast<sockaddr_in6*>(&a.ss);
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(std::uint16_t(port));
        ::inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr);
        a.len = sizeof *v6;
    } else {
        auto* v4 = reinterpret_cast<sockaddr_in*>(&a.ss);
        v4->sin_family = AF_INET;
        v4->sin_port = htons(std::uint16_t(port));
        ::inet_pton(AF_INET, host.c_str(), &v4->sin_addr);
        a.len = sizeof *v4;
    }
    return a;
}

int BoundPort(int fd) {
    sockaddr_storage a{};
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    return a.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&a)->sin6_port)
                                   : ntohs(reinterpret_cast<sockaddr_in*>(&a)->sin_port);
}

// The session's own end of the control connection: where its passive ports listen.
std::string LocalHost(int fd) {
    sockaddr_storage a{};
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    char text[INET6_ADDRSTRLEN] = "";
    if (a.ss_family == AF_INET6)
        ::inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(&a)->sin6_addr, text, sizeof text);
    else
        ::inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(&a)->sin_addr, text, sizeof text);
    return text;
}

} // namespace

int ScriptedFtpServer::Session::openPassive() {
    if (passiveFd >= 0) ::close(passiveFd);
    Address a = MakeAddress(LocalHost(fd), 0);
    passiveFd = ::socket(a.ss.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (::bind(passiveFd, reinterpret_cast<sockaddr*>(&a.ss), a.len) != 0 ||
        ::listen(passiveFd, 1) != 0) {
        ::close(passiveFd);
        passiveFd = -1;
        return 0;
    }
    return BoundPort(passiveFd);
}

void ScriptedFtpServer::Session::send(const std::string& bytes) {
    if (!closed) sendAll(fd, bytes);
}

void ScriptedFtpServer::Session::close() {
    if (!closed) ::shutdown(fd, SHUT_RDWR);
    closed = true;
}

bool ScriptedFtpServer::Session::dataConnect() {
    dataClose();
    if (passiveFd >= 0) {
        pollfd p{passiveFd, POLLIN, 0};
        if (::poll(&p, 1, 5000) > 0) dataFd = ::accept4(passiveFd, nullptr, nullptr, SOCK_CLOEXEC);
        ::close(passiveFd);
        passiveFd = -1;
        return dataFd >= 0;
    }
    Address a = MakeAddress(portHost, portPort);
    dataFd = ::socket(a.ss.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (!dataBindHost.empty()) {
        Address b = MakeAddress(dataBindHost, 0);
        ::bind(dataFd, reinterpret_cast<sockaddr*>(&b.ss), b.len);
    }
    if (::connect(dataFd, reinterpret_cast<sockaddr*>(&a.ss), a.len) != 0) {
        dataClose();
        return false;
    }
    return true;
}

void ScriptedFtpServer::Session::dataSend(const std::string& bytes) {
    if (dataFd >= 0) sendAll(dataFd, bytes);
}

std::string ScriptedFtpServer::Session::dataReadAll() {
    std::string all;
    char buf[65536];
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (dataFd >= 0 && std::chrono::steady_clock::now() < deadline) {
        pollfd p{dataFd, POLLIN, 0};
        if (::poll(&p, 1, 200) <= 0) continue;
        ssize_t n = ::recv(dataFd, buf, sizeof buf, 0);
        if (n <= 0) break;
        all.append(buf, std::size_t(n));
    }
    return all;
}

void ScriptedFtpServer::Session::dataClose() {
    if (dataFd >= 0) ::close(dataFd);
    dataFd = -1;
}

void ScriptedFtpServer::Session::stall(int millis) {
    std::this_thread::sleep_for(std::chrono::milliseconds(millis));
}

ScriptedFtpServer::ScriptedFtpServer(const std::string& host) : host_(host) {
    Address a = MakeAddress(host, 0);
    listenFd_ = ::socket(a.ss.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    ::bind(listenFd_, reinterpret_cast<sockaddr*>(&a.ss), a.len);
    ::listen(listenFd_, 8);
    port_ = BoundPort(listenFd_);
    replies = {
        {"USER", "331 Password required\r\n"},
        {"PASS", "230 Logged in\r\n"},
        {"SYST", "215 UNIX Type: L8\r\n"},
        {"PWD", "257 \"/home/user\" is the current directory\r\n"},
        {"CWD", "250 Directory changed\r\n"},
        {"CDUP", "250 Directory changed\r\n"},
        {"TYPE", "200 Type set\r\n"},
        {"NOOP", "200 OK\r\n"},
        {"DELE", "250 Deleted\r\n"},
        {"RMD", "250 Removed\r\n"},
        {"MKD", "257 \"/home/user/new\" created\r\n"},
        {"RNFR", "350 Ready for RNTO\r\n"},
        {"RNTO", "250 Renamed\r\n"},
        {"SITE", "200 SITE command successful\r\n"},
        {"PORT", "200 PORT command successful\r\n"},
        {"EPRT", "200 EPRT command successful\r\n"},
        {"QUIT", "221 Goodbye\r\n"},
    };
}

ScriptedFtpServer::~ScriptedFtpServer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    ::close(listenFd_);
}

void ScriptedFtpServer::start() {
    thread_ = std::thread([this] { serve(); });
}

void ScriptedFtpServer::setReply(const std::string& verb, const std::string& text) {
    std::lock_guard lock(mutex_);
    if (text.empty())
        replies.erase(verb);
    else
        replies[verb] = text;
}

void ScriptedFtpServer::setReplies(const std::map<std::string, std::string>& all) {
    std::lock_guard lock(mutex_);
    replies = all;
}

std::vector<std::string> ScriptedFtpServer::commands() const {
    std::lock_guard lock(mutex_);
    return commands_;
}

std::string ScriptedFtpServer::stored(const std::string& name) const {
    std::lock_guard lock(mutex_);
    auto it = stored_.find(name);
    return it == stored_.end() ? std::string() : it->second;
}

void ScriptedFtpServer::serve() {
    while (!stop_) {
        pollfd p{listenFd_, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        int fd = ::accept(listenFd_, nullptr, nullptr);
        if (fd < 0) continue;
        Session s;
        s.fd = fd;
        if (!greeting.empty()) s.send(greeting);
        std::string pending;
        char buf[4096];
        while (!stop_ && !s.closed) {
            pollfd q{fd, POLLIN, 0};
            if (::poll(&q, 1, 50) <= 0) continue;
            ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0) break;
            pending.append(buf, std::size_t(n));
            std::size_t lf;
            while (!s.closed && (lf = pending.find("\r\n")) != std::string::npos) {
                std::string line = pending.substr(0, lf);
                pending.erase(0, lf + 2);
                {
                    std::lock_guard lock(mutex_);
                    commands_.push_back(line);
                }
                handle(s, line);
            }
        }
        s.dataClose();
        if (s.passiveFd >= 0) ::close(s.passiveFd);
        ::close(fd);
    }
}

void ScriptedFtpServer::handle(Session& s, const std::string& line) {
    std::string verb = line.substr(0, line.find(' '));
    std::string arg = line.size() > verb.size() ? line.substr(verb.size() + 1) : "";
    if (verb == "PORT") {
        unsigned a, b, c, d, h, l;
        if (std::sscanf(arg.c_str(), "%u,%u,%u,%u,%u,%u", &a, &b, &c, &d, &h, &l) == 6) {
            s.portHost = std::to_string(a) + "." + std::to_string(b) + "." + std::to_string(c) +
                         "." + std::to_string(d);
            s.portPort = int(h * 256 + l);
        }
    } else if (verb == "EPRT" && arg.size() > 2) {
        // |family|address|port|
        char d = arg[0];
        std::size_t a = arg.find(d, 1), b = arg.find(d, a + 1), c = arg.find(d, b + 1);
        if (c != std::string::npos) {
            s.portHost = arg.substr(a + 1, b - a - 1);
            s.portPort = std::atoi(arg.substr(b + 1, c - b - 1).c_str());
        }
    }
    Handler handler;
    std::string reply;
    {
        std::lock_guard lock(mutex_);
        if (auto h = handlers.find(verb); h != handlers.end()) handler = h->second;
        if (auto r = replies.find(verb); r != replies.end()) reply = r->second;
    }
    if (handler) return handler(s, arg);
    if (!reply.empty()) return s.send(reply);
    if (verb == "LIST" || verb == "RETR" || verb == "STOR") return defaultTransfer(s, verb, arg);
    if (verb == "EPSV" || verb == "PASV") {
        int port = s.openPassive();
        if (port == 0) return s.send("425 Cannot open a passive port\r\n");
        if (verb == "EPSV")
            return s.send("229 Entering Extended Passive Mode (|||" + std::to_string(port) +
                          "|)\r\n");
        std::string h = LocalHost(s.fd);
        for (char& c : h)
            if (c == '.') c = ',';
        if (h.find(':') != std::string::npos) h = "0,0,0,0"; // PASV cannot carry IPv6
        return s.send("227 Entering Passive Mode (" + h + "," + std::to_string(port / 256) + "," +
                      std::to_string(port % 256) + ")\r\n");
    }
    s.send("502 Command not implemented\r\n");
}

void ScriptedFtpServer::defaultTransfer(Session& s, const std::string& verb,
                                        const std::string& arg) {
    if (verb == "RETR" && !files.count(arg)) return s.send("550 No such file\r\n");
    s.send("150 Opening data connection\r\n");
    if (!s.dataConnect()) return s.send("425 Cannot open data connection\r\n");
    if (verb == "STOR") {
        std::string bytes = s.dataReadAll();
        std::lock_guard lock(mutex_);
        stored_[arg] = bytes;
    } else {
        s.dataSend(verb == "LIST" ? listing : files[arg]);
    }
    s.dataClose();
    s.send("226 Transfer complete\r\n");
}

} // namespace morvane::testing
