#include "ScriptedFtpServer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
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

} // namespace

void ScriptedFtpServer::Session::send(const std::string& bytes) {
    if (!closed) sendAll(fd, bytes);
}

void ScriptedFtpServer::Session::close() {
    if (!closed) ::shutdown(fd, SHUT_RDWR);
    closed = true;
}

bool ScriptedFtpServer::Session::dataConnect() {
    dataClose();
    dataFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (!dataBindHost.empty()) {
        sockaddr_in b{};
        b.sin_family = AF_INET;
        ::inet_pton(AF_INET, dataBindHost.c_str(), &b.sin_addr);
        ::bind(dataFd, reinterpret_cast<sockaddr*>(&b), sizeof b);
    }
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(std::uint16_t(portPort));
    ::inet_pton(AF_INET, portHost.c_str(), &a.sin_addr);
    if (::connect(dataFd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
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

ScriptedFtpServer::ScriptedFtpServer() {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listenFd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listenFd_, 8);
    socklen_t len = sizeof a;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
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
