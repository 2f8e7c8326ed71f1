#pragma once
// Real FTP servers from the distribution, started on 127.0.0.1 (or ::1) with a temporary root
// for one test and stopped after it. Both take active and passive data connections. A missing
// server binary fails the test; it is not skipped.

#include "support/TempDir.h"

#include <filesystem>
#include <ostream>
#include <string>
#include <sys/types.h>
#include <vector>

namespace morvane::testing {

enum class ServerKind { Pyftpdlib, Vsftpd };

inline void PrintTo(ServerKind k, std::ostream* os) {
    *os << (k == ServerKind::Pyftpdlib ? "pyftpdlib" : "vsftpd");
}

class FtpServerProcess {
public:
    // vsftpdLines: more configuration lines for vsftpd ("deny_file=..."), ignored by the other.
    // host: "127.0.0.1" or "::1". tlsPem: a file with the server's certificate and key; when
    // given, the server requires TLS on the control and data connections (vsftpd keeps its own
    // defaults otherwise, so it insists that data connections resume the control connection's
    // TLS session).
    explicit FtpServerProcess(ServerKind kind, const std::string& vsftpdLines = {},
                              const std::string& host = "127.0.0.1",
                              const std::string& tlsPem = {});
    ~FtpServerProcess();
    FtpServerProcess(const FtpServerProcess&) = delete;
    FtpServerProcess& operator=(const FtpServerProcess&) = delete;

    // Empty when the server runs; otherwise why it does not.
    const std::string& error() const { return error_; }
    int port() const { return port_; }
    const std::string& host() const { return host_; }
    const std::string& user() const { return user_; }
    const std::string& password() const { return password_; }
    // The folder the login starts in.
    const std::filesystem::path& root() const { return root_; }
    ServerKind kind() const { return kind_; }
    // What the server wrote on its standard output and error so far (for failure messages).
    std::string output() const;

private:
    bool spawn(const std::vector<std::string>& argv);
    bool waitReady();

    ServerKind kind_;
    std::string host_;
    TempDir dir_;
    std::filesystem::path root_;
    std::string user_, password_;
    int port_ = 0;
    pid_t pid_ = -1;
    std::string error_;
};

// A port that was free a moment ago (on ::1 when ipv6).
int FreeLoopbackPort(bool ipv6 = false);

} // namespace morvane::testing
