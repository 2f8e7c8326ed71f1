#pragma once
// morvane-ftp: one FTP or SFTP command from the command line, run by the editor's own remote
// file systems.

#include "core/net/RemoteFileSystem.h"
#include "core/net/TlsLayer.h"

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace morvane::tools {

struct FtpToolOptions {
    bool verbose = false;
    // HOST may be a URL: sftp://HOST[:PORT], ftp://HOST[:PORT], ftps://HOST[:PORT] (TLS
    // required); a bare HOST is FTP.
    net::TRemoteProtocol protocol = net::TRemoteProtocol::Ftp;
    bool acceptNewHostKey = false; // --accept-new-host-key: an unknown SSH host is added
    bool portGiven = false, userGiven = false;
    int port = 21;
    int timeoutSeconds = 0;            // the whole run; 0: no limit
    int replyTimeoutSeconds = 60;      // the longest silence of the server; 0: no limit
    bool passive = true;               // --active: the server connects back
    bool passiveServerAddress = false; // --pasv-server-address
    std::string user = "anonymous";
    std::string password = "morvane@";
    net::TTlsMode tls = net::TTlsMode::Plain;     // --tls=no|try|require
    std::vector<std::string> trustedFingerprints; // --trust-fingerprint, normalized
    bool insecure = false;                        // --insecure: any certificate
    std::string caFile;                           // --ca-file: trusted besides the system's
    // Where the password comes from: a file, a variable or standard input keep it out of the
    // process list; "-p" shows it to every user of the machine.
    enum class PasswordFrom {
        Default,
        Argument,
        File,
        Variable,
        Stdin
    } passwordFrom = PasswordFrom::Default;
    std::string passwordSource; // the file or the variable's name
    std::vector<std::string> warnings;
    std::string host;
    std::string command;
    std::vector<std::string> args;
};

// Text from the server made safe to show on a terminal: control characters (C0, DEL, and C1
// written as UTF-8) become visible escapes such as \x1b, and a backslash is doubled so that
// escapes cannot be forged. Line feeds stay when keepLineFeeds is set.
std::string EscapeControls(std::string_view text, bool keepLineFeeds = false);

// Parses argv; on failure returns false with a message in error. Nothing is read yet.
bool ParseFtpToolArgs(int argc, char** argv, FtpToolOptions& options, std::string& error);

// Reads the password from where the options say (the file's first line, the variable, or a
// line of input, not echoed on a terminal). False with a message in error when it cannot.
bool ReadFtpToolPassword(FtpToolOptions& options, std::FILE* input, std::string& error);

// Runs the command; returns the process exit code (0 success, 1 failure).
int RunFtpTool(const FtpToolOptions& options);

} // namespace morvane::tools
