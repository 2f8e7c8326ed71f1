#include "FtpServers.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace morvane::testing {

namespace {

const char* kPython = "/usr/bin/python3"; // the distribution's, which has pyftpdlib
const char* kVsftpd = "/usr/sbin/vsftpd";

// The loopback address of that family with a port.
sockaddr_storage Loopback(bool ipv6, int port, socklen_t& len) {
    sockaddr_storage s{};
    if (ipv6) {
        auto* a = reinterpret_cast<sockaddr_in6*>(&s);
        a->sin6_family = AF_INET6;
        a->sin6_port = htons(std::uint16_t(port));
        a->sin6_addr = in6addr_loopback;
        len = sizeof *a;
    } else {
        auto* a = reinterpret_cast<sockaddr_in*>(&s);
        a->sin_family = AF_INET;
        a->sin_port = htons(std::uint16_t(port));
        a->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        len = sizeof *a;
    }
    return s;
}

bool CanConnect(bool ipv6, int port) {
    socklen_t len = 0;
    sockaddr_storage a = Loopback(ipv6, port, len);
    int fd = ::socket(a.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), len) == 0;
    ::close(fd);
    return ok;
}

} // namespace

int FreeLoopbackPort(bool ipv6) {
    socklen_t len = 0;
    sockaddr_storage a = Loopback(ipv6, 0, len);
    int fd = ::socket(a.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), len);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ipv6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&a)->sin6_port)
                : ntohs(reinterpret_cast<sockaddr_in*>(&a)->sin_port);
}

FtpServerProcess::FtpServerProcess(ServerKind kind, const std::string& vsftpdLines,
                                   const std::string& host, const std::string& tlsPem)
    : kind_(kind), host_(host) {
    root_ = dir_ / "root";
    std::filesystem::create_directories(root_);
    bool v6 = host.find(':') != std::string::npos;
    port_ = FreeLoopbackPort(v6);
    if (kind == ServerKind::Pyftpdlib) {
        user_ = "alice";
        password_ = "wonderland";
        if (::access(kPython, X_OK) != 0) {
            error_ = std::string(kPython) + " is missing (scripts/deps.sh installs it)";
            return;
        }
        if (!tlsPem.empty())
            spawn({kPython, MORVANE_TLS_FTPD, std::to_string(port_), root_.string(), user_,
                   password_, tlsPem});
        else
            spawn({kPython, "-m", "pyftpdlib", "-i", host, "-p", std::to_string(port_), "-w", "-d",
                   root_.string(), "-u", user_, "-P", password_});
    } else {
        // Anonymous login, which this server grants straight on USER with 230.
        user_ = "anonymous";
        password_ = "test@";
        if (::access(kVsftpd, X_OK) != 0) {
            error_ = std::string(kVsftpd) + " is missing (scripts/deps.sh installs vsftpd)";
            return;
        }
        auto empty = dir_ / "empty";
        std::filesystem::create_directories(empty);
        std::filesystem::permissions(root_, std::filesystem::perms(0755));
        auto conf = dir_ / "vsftpd.conf";
        std::ofstream(conf) << (v6 ? "listen=NO\nlisten_ipv6=YES\nlisten_address6=::1\n"
                                   : "listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\n")
                            << "listen_port=" << port_ << "\n"
                            << "background=NO\nseccomp_sandbox=NO\nconnect_from_port_20=NO\n"
                            << "run_as_launching_user=YES\nanonymous_enable=YES\n"
                            << "local_enable=NO\nno_anon_password=YES\n"
                            << "anon_root=" << root_.string() << "\n"
                            << "write_enable=YES\nanon_upload_enable=YES\n"
                            << "anon_mkdir_write_enable=YES\nanon_other_write_enable=YES\n"
                            << "anon_world_readable_only=NO\nanon_umask=022\n"
                            << "secure_chroot_dir=" << empty.string()
                            << "\n"
                            // Passive ports from the whole unprivileged range: tests
                            // running at once do not fight over a small one.
                            << "pasv_enable=YES\npasv_min_port=1024\npasv_max_port=65535\n"
                            << "port_enable=YES\nxferlog_enable=NO\n"
                            << "vsftpd_log_file=" << (dir_ / "vsftpd.log").string() << "\n"
                            << vsftpdLines;
        if (!tlsPem.empty()) {
            // The distribution's default cipher list is one that OpenSSL no longer offers.
            std::ofstream(conf, std::ios::app)
                << "\nssl_enable=YES\nallow_anon_ssl=YES\nforce_anon_logins_ssl=YES\n"
                << "force_anon_data_ssl=YES\nssl_ciphers=HIGH\n"
                << "rsa_cert_file=" << tlsPem << "\nrsa_private_key_file=" << tlsPem << "\n";
        }
        spawn({kVsftpd, conf.string()});
    }
    if (error_.empty()) waitReady();
}

bool FtpServerProcess::spawn(const std::vector<std::string>& argv) {
    std::string log = (dir_ / "server.out").string();
    pid_ = ::fork();
    if (pid_ == 0) {
        int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(fd, 1);
        ::dup2(fd, 2);
        int nul = ::open("/dev/null", O_RDONLY);
        ::dup2(nul, 0);
        std::vector<char*> args;
        for (auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    if (pid_ < 0) error_ = "fork failed";
    return pid_ > 0;
}

std::string FtpServerProcess::output() const {
    std::ifstream in(dir_ / "server.out");
    return {std::istreambuf_iterator<char>(in), {}};
}

bool FtpServerProcess::waitReady() {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (std::chrono::steady_clock::now() < deadline) {
        int status;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            std::ifstream in(dir_ / "server.out");
            std::string out((std::istreambuf_iterator<char>(in)), {});
            error_ = "server exited at start: " + out;
            return false;
        }
        if (CanConnect(host_.find(':') != std::string::npos, port_)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    error_ = "server did not start listening within 15 s";
    return false;
}

FtpServerProcess::~FtpServerProcess() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    for (int i = 0; i < 100; ++i) {
        if (::waitpid(pid_, nullptr, WNOHANG) == pid_) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
}

} // namespace morvane::testing
