#pragma once
// A scripted FTP server on 127.0.0.1 (or ::1) for tests. It runs on its own thread with blocking
// sockets, so that the client under test keeps the test's event loop to itself. Each command
// verb has a canned reply or a handler that may send anything, stall, open the data connection
// to the client's PORT/EPRT address or take it on a passive port (EPSV/PASV, answered by
// default), or close. Every wait is bounded.

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace morvane::testing {

class ScriptedFtpServer {
public:
    class Session {
    public:
        void send(const std::string& bytes);
        void close(); // closes the control connection
        // To the address of the last PORT/EPRT command, or, after EPSV/PASV, the client's
        // connection to the passive port.
        bool dataConnect();
        // Opens a passive port on the server's address; its number (0 on failure).
        int openPassive();
        void dataSend(const std::string& bytes);
        std::string dataReadAll(); // until the client closes (bounded by a timeout)
        void dataClose();
        void stall(int millis);
        std::string dataBindHost; // source address of the data connection, if not the default
        std::string portHost;
        int portPort = 0;
        int passiveFd = -1; // listening after EPSV/PASV until the data connection comes
        int dataFd = -1;
        int fd = -1;
        bool closed = false;
    };
    using Handler = std::function<void(Session&, const std::string& arg)>;

    // host: "127.0.0.1" or "::1".
    explicit ScriptedFtpServer(const std::string& host = "127.0.0.1");
    ~ScriptedFtpServer();

    int port() const { return port_; }
    const std::string& host() const { return host_; }
    void start();

    // Changes a canned reply while the server runs ("" removes it).
    void setReply(const std::string& verb, const std::string& text);
    void setReplies(const std::map<std::string, std::string>& all);

    // Raw bytes sent on connection ("" says nothing at all). The public maps below may be
    // changed freely before start(); afterwards only through setReply/setReplies.
    std::string greeting = "220 scripted server ready\r\n";
    std::map<std::string, std::string> replies;
    std::map<std::string, Handler> handlers;
    // What LIST and RETR send by default, and what STOR received.
    std::string listing;
    std::map<std::string, std::string> files;

    std::vector<std::string> commands() const;
    std::string stored(const std::string& name) const;

private:
    void serve();
    void handle(Session& s, const std::string& line);
    void defaultTransfer(Session& s, const std::string& verb, const std::string& arg);

    std::string host_;
    int listenFd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    mutable std::mutex mutex_;
    std::vector<std::string> commands_;
    std::map<std::string, std::string> stored_;
};

} // namespace morvane::testing
