#pragma once
// A real OpenSSH server from the distribution for one test: sshd on 127.0.0.1 as the test's own
// user, with its own host key, configuration and authorised keys (no PAM, no strict modes),
// SFTP starting in a temporary folder. A missing sshd fails the test; it is not skipped.

#include "support/TempDir.h"

#include <filesystem>
#include <string>
#include <sys/types.h>

namespace morvane::testing {

// Makes a key pair with ssh-keygen (type "ed25519", "ecdsa", "rsa"); false when it failed.
bool MakeSshKey(const std::filesystem::path& file, const std::string& type,
                const std::string& passphrase = {});

class SshServerProcess {
public:
    // port 0: a free one. The host key is made anew unless hostKey names one. extraConfig:
    // more sshd_config lines.
    explicit SshServerProcess(int port = 0, const std::filesystem::path& hostKey = {},
                              const std::string& extraConfig = {});
    ~SshServerProcess();
    SshServerProcess(const SshServerProcess&) = delete;
    SshServerProcess& operator=(const SshServerProcess&) = delete;

    const std::string& error() const { return error_; }
    int port() const { return port_; }
    const std::string& user() const { return user_; }
    // The folder SFTP starts in.
    const std::filesystem::path& root() const { return root_; }
    // A client SSH folder whose id_ed25519 the server accepts (known_hosts starts empty).
    const std::filesystem::path& clientDir() const { return client_; }
    // Lets this public key log in too.
    void authorize(const std::filesystem::path& publicKey);
    // Ends every open connection (the server goes on listening).
    void killConnections();
    std::string output() const;

private:
    TempDir dir_;
    std::filesystem::path root_, client_;
    std::string user_;
    int port_ = 0;
    pid_t pid_ = -1;
    std::string error_;
};

// An ssh-agent for one test holding the given private key; socket() is its SSH_AUTH_SOCK.
class SshAgentProcess {
public:
    explicit SshAgentProcess(const std::filesystem::path& privateKey);
    ~SshAgentProcess();
    const std::string& error() const { return error_; }
    std::string socket() const { return (dir_ / "agent.sock").string(); }

private:
    TempDir dir_;
    pid_t pid_ = -1;
    std::string error_;
};

} // namespace morvane::testing
