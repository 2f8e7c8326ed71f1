#pragma once
// morvane-ftp: one FTP command from the command line, run by the editor's own FTP client.

#include <string>
#include <vector>

namespace morvane::tools {

struct FtpToolOptions {
    bool verbose = false;
    int port = 21;
    int timeoutSeconds = 0; // 0: no limit
    std::string user = "anonymous";
    std::string password = "morvane@";
    std::string host;
    std::string command;
    std::vector<std::string> args;
};

// Parses argv; on failure returns false with a message in error.
bool ParseFtpToolArgs(int argc, char** argv, FtpToolOptions& options, std::string& error);

// Runs the command; returns the process exit code (0 success, 1 failure).
int RunFtpTool(const FtpToolOptions& options);

} // namespace morvane::tools
