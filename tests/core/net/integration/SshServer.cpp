#include "SshServer.h"

#include "FtpServers.h"

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace morvane::testing {

namespace {

constexpr const char* kSshd = "/usr/sbin/sshd";

// Runs a program to its end with its output in log; its exit status.
int RunProgram(const std::vector<std::string>& argv, const fs::path& log,
               const std::string& env = {}) {
    pid_t pid = ::fork();
    if (pid == 0) {
        int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        ::dup2(fd, 1);
        ::dup2(fd, 2);
        int nul = ::open("/dev/null", O_RDONLY);
        ::dup2(nul, 0);
        if (!env.empty()) ::putenv(const_cast<char*>(env.c_str()));
        std::vector<char*> args;
        for (auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

pid_t Spawn(const std::vector<std::string>& argv, const fs::path& log) {
    pid_t pid = ::fork();
    if (pid == 0) {
        int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
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
    return pid;
}

bool Listening(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(std::uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

void Stop(pid_t pid) {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    for (int i = 0; i < 100; ++i) {
        if (::waitpid(pid, nullptr, WNOHANG) == pid) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

// The processes whose parent is pid.
std::vector<pid_t> Children(pid_t pid) {
    std::vector<pid_t> out;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        std::getline(stat, line);
        std::size_t close = line.rfind(')');
        if (close == std::string::npos) continue;
        char state = 0;
        int ppid = 0;
        if (std::sscanf(line.c_str() + close + 1, " %c %d", &state, &ppid) == 2 && ppid == pid)
            out.push_back(pid_t(std::stoi(name)));
    }
    return out;
}

} // namespace

bool MakeSshKey(const fs::path& file, const std::string& type, const std::string& passphrase) {
    std::error_code ec;
    fs::remove(file, ec);
    fs::remove(fs::path(file.string() + ".pub"), ec);
    return RunProgram({"ssh-keygen", "-q", "-t", type, "-N", passphrase, "-C", "morvane-test", "-f",
                       file.string()},
                      file.parent_path() / "keygen.log") == 0;
}

SshServerProcess::SshServerProcess(int port, const fs::path& hostKey,
                                   const std::string& extraConfig) {
    if (::access(kSshd, X_OK) != 0) {
        error_ = std::string(kSshd) + " is missing (Debian openssh-server)";
        return;
    }
    if (passwd* pw = ::getpwuid(::geteuid())) user_ = pw->pw_name;
    root_ = dir_ / "root";
    client_ = dir_ / "client";
    fs::create_directories(root_);
    fs::create_directories(client_);
    ::chmod(client_.c_str(), 0700);
    fs::path key = hostKey.empty() ? dir_ / "host_key" : hostKey;
    if ((hostKey.empty() && !MakeSshKey(key, "ed25519")) ||
        !MakeSshKey(client_ / "id_ed25519", "ed25519")) {
        error_ = "ssh-keygen failed";
        return;
    }
    fs::copy_file(client_ / "id_ed25519.pub", dir_ / "authorized_keys");
    // Run as root, sshd wants its privilege separation folder.
    if (::geteuid() == 0) fs::create_directories("/run/sshd");
    port_ = port ? port : FreeLoopbackPort();
    fs::path config = dir_ / "sshd_config";
    std::ofstream(config) << "Port " << port_ << "\nListenAddress 127.0.0.1\n"
                          << "HostKey " << key.string() << "\nPidFile none\nUsePAM no\n"
                          << "StrictModes no\nAuthorizedKeysFile "
                          << (dir_ / "authorized_keys").string() << "\nPermitRootLogin yes\n"
                          << "PasswordAuthentication no\nKbdInteractiveAuthentication no\n"
                          << "Subsystem sftp internal-sftp -d " << root_.string() << "\n"
                          << "LogLevel ERROR\nMaxStartups 50\n"
                          << extraConfig;
    pid_ = Spawn({kSshd, "-D", "-e", "-f", config.string()}, dir_ / "server.out");
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (std::chrono::steady_clock::now() < deadline) {
        int status;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            error_ = "sshd exited at start: " + output();
            return;
        }
        if (Listening(port_)) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    error_ = "sshd did not start listening within 15 s";
}

SshServerProcess::~SshServerProcess() {
    killConnections();
    Stop(pid_);
}

void SshServerProcess::authorize(const fs::path& publicKey) {
    std::ifstream in(publicKey);
    std::string line;
    std::getline(in, line);
    std::ofstream(dir_ / "authorized_keys", std::ios::app) << line << "\n";
}

void SshServerProcess::killConnections() {
    if (pid_ <= 0) return;
    for (pid_t child : Children(pid_)) {
        for (pid_t grandchild : Children(child))
            ::kill(grandchild, SIGKILL);
        ::kill(child, SIGKILL);
    }
}

std::string SshServerProcess::output() const {
    std::ifstream in(dir_ / "server.out");
    return {std::istreambuf_iterator<char>(in), {}};
}

SshAgentProcess::SshAgentProcess(const fs::path& privateKey) {
    std::string sock = socket();
    pid_ = Spawn({"/usr/bin/ssh-agent", "-D", "-a", sock}, dir_ / "agent.out");
    for (int i = 0; i < 300 && !fs::exists(sock); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!fs::exists(sock) || RunProgram({"ssh-add", privateKey.string()}, dir_ / "add.out",
                                        "SSH_AUTH_SOCK=" + sock) != 0)
        error_ = "ssh-agent or ssh-add failed";
}

SshAgentProcess::~SshAgentProcess() {
    Stop(pid_);
}

} // namespace morvane::testing
