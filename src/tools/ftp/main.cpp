#include "FtpTool.h"

#include <cstdio>

int main(int argc, char** argv) {
    morvane::tools::FtpToolOptions options;
    std::string error;
    bool parsed = morvane::tools::ParseFtpToolArgs(argc, argv, options, error);
    if (parsed && !morvane::tools::ReadFtpToolPassword(options, stdin, error)) {
        std::fprintf(stderr, "morvane-ftp: %s\n", error.c_str());
        return 2;
    }
    for (const std::string& w : options.warnings)
        std::fprintf(stderr, "morvane-ftp: %s\n", w.c_str());
    if (!parsed) {
        std::fprintf(stderr, "%s\n", error.c_str());
        std::fprintf(
            stderr,
            "usage: morvane-ftp [-v] [-P PORT] [-t SECONDS] [-T SECONDS] [--active]\n"
            "                   [--pasv-server-address] -u USER [PASSWORD OPTION] HOST COMMAND "
            "ARGS...\n"
            "HOST: a host name (FTP), or sftp://HOST[:PORT], ftp://HOST[:PORT], or\n"
            "      ftps://HOST[:PORT] (FTP with TLS required); a URL may start with USER@\n"
            "  --accept-new-host-key: SFTP to a host known_hosts does not hold adds its key\n"
            "      (without it such a host is refused; a changed key always is)\n"
            "  SFTP logs in with the agent, then the keys in ~/.ssh without a passphrase,\n"
            "      then the password if one is given\n"
            "  -t: the longest the whole run may take (default: no limit)\n"
            "  -T: the longest the server may stay silent (default 60; 0: no limit)\n"
            "  --tls=no|try|require: FTP over TLS (default no; try goes on in clear text\n"
            "      with a warning when the server offers none)\n"
            "  --trust-fingerprint=SHA256: accept this certificate although it does not verify\n"
            "  --ca-file=PEM: trust these certificates besides the system's\n"
            "  --insecure: accept any certificate (not safe)\n"
            "  --active: the server opens the data connections (default: passive)\n"
            "  --pasv-server-address: connect to the server's own address, whatever PASV says\n"
            "password (default: anonymous's): --password-file FILE (its first line),\n"
            "  --password-env VARIABLE, --password-stdin (one line), or -p PASSWORD (visible\n"
            "  to every user of the machine)\n"
            "commands: ls [DIR] | get REMOTE LOCAL | put LOCAL REMOTE | mkdir DIR |\n"
            "          rmdir DIR | rm NAME | mv OLD NEW | chmod MODE NAME | quote TEXT |\n"
            "          mirror REMOTE_DIR LOCAL_DIR (copies the tree; a line per file, then a\n"
            "          summary; exit 1 when anything failed)\n");
        return 2;
    }
    if (options.insecure)
        std::fprintf(stderr, "warning: --insecure accepts any certificate; anyone on the way can "
                             "read and change what is sent\n");
    return morvane::tools::RunFtpTool(options);
}
