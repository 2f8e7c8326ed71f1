#pragma once
// morvane-ftp: one FTP command from the command line, run by the editor's own FTP client.

#include "core/net/TlsLayer.h"

#include <string>
#include <string_view>
#include <vector>

namespace morvane::tools {

struct FtpToolOptions {
    bool verbose = false;
    int port = 21;
    int timeoutSeconds = 0;       // the whole run; 0: no limit
    int replyTimeoutSeconds = 60; // the longest silence of the server; 0: no limit
    std::string user = "anonymous";
    std::string password = "morvane@";
    net::TTlsMode tls = net::TTlsMode::Plain;     // --tls=no|try|require
    std::vector<std::string> trustedFingerprints; // --trust-fingerprint, normalized
    bool insecure = false;                        // --insecure: any certificate
    std::string caFile;                           // --ca-file: trusted besides the system's
    std::string host;
    std::string command;
    std::vector<std::string> args;
};

// Text from the server made safe to show on a terminal: control characters (C0, DEL, and C1
// written as UTF-8) become visible escapes such as \x1b, and a backslash is doubled so that
// escapes cannot be forged. Line feeds stay when keepLineFeeds is set.
std::string EscapeControls(std::string_view text, bool keepLineFeeds = false);

// Parses argv; on failure returns false with a message in error.
bool ParseFtpToolArgs(int argc, char** argv, FtpToolOptions& options, std::string& error);

// Runs the command; returns the process exit code (0 success, 1 failure).
int RunFtpTool(const FtpToolOptions& options);

} // namespace morvane::tools
