#include "FtpTool.h"

#include "core/net/MsgFTP.h"
#include "core/platform/EventLoop.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <sys/mman.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace morvane::tools {

using namespace morvane::net;

namespace {

const std::map<std::string, std::pair<std::size_t, std::size_t>> kArgCounts = {
    {"ls", {0, 1}}, {"get", {2, 2}}, {"put", {2, 2}},   {"mkdir", {1, 1}}, {"rmdir", {1, 1}},
    {"rm", {1, 1}}, {"mv", {2, 2}},  {"chmod", {2, 2}}, {"quote", {1, 1}},
};

// The file to upload, mapped rather than read: the bytes go from the page cache to the socket.
class MappedFile {
public:
    bool Open(const std::string& path) {
        int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return false;
        struct stat st {};
        bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
        if (ok && st.st_size > 0) {
            void* p = ::mmap(nullptr, std::size_t(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
            ok = p != MAP_FAILED;
            if (ok) {
                data_ = static_cast<const char*>(p);
                size_ = std::size_t(st.st_size);
                ::madvise(p, size_, MADV_SEQUENTIAL);
            }
        }
        ::close(fd);
        return ok;
    }
    ~MappedFile() {
        if (data_) ::munmap(const_cast<char*>(data_), size_);
    }
    std::string_view View() const { return {data_ ? data_ : "", size_}; }

private:
    const char* data_ = nullptr;
    std::size_t size_ = 0;
};

// Names and replies are shown as they are when written to a file or a pipe, escaped when a
// terminal would act on their control characters.
struct Output {
    bool outTerminal = ::isatty(STDOUT_FILENO) == 1;
    bool errTerminal = ::isatty(STDERR_FILENO) == 1;
    std::string Out(const std::string& s, bool lines = false) const {
        return outTerminal ? EscapeControls(s, lines) : s;
    }
    std::string Err(const std::string& s) const {
        return errTerminal ? EscapeControls(s, true) : s;
    }
};

// Drives one command through the client: connect, the command's steps, QUIT.
class Runner {
public:
    Runner(const FtpToolOptions& o) : o_(o), loop_(platform::makePollEventLoop()), ftp_(*loop_) {}

    int Run() {
        ftp_.SetHostname(o_.host);
        ftp_.SetPort(o_.port);
        ftp_.SetUsername(o_.user);
        ftp_.SetPassword(o_.password);
        ftp_.SetReplyTimeout(std::chrono::seconds(o_.replyTimeoutSeconds));
        ftp_.SetTlsMode(o_.tls);
        ftp_.SetTlsCaFile(o_.caFile);
        // Nobody to ask on a command line: the options answer.
        ftp_.OnClearTextQuestion = [this](TMsgFTP*) {
            std::fprintf(stderr,
                         "warning: %s offers no TLS; the password is sent in clear text "
                         "(--tls=require refuses that)\n",
                         out_.Err(o_.host).c_str());
            return true;
        };
        ftp_.OnCertificateQuestion = [this](TMsgFTP*, const TTlsCertificate& c) {
            std::string print = NormalizeFingerprint(c.Fingerprint);
            for (const auto& trusted : o_.trustedFingerprints)
                if (trusted == print) return true;
            std::string about = "  subject: " + c.Subject + "\n  issuer: " + c.Issuer +
                                "\n  valid: " + c.NotBefore + " to " + c.NotAfter +
                                "\n  SHA-256: " + c.Fingerprint + "\n";
            if (o_.insecure) {
                std::fprintf(stderr,
                             "warning: the server's certificate does not verify (%s); "
                             "connecting anyway because of --insecure\n%s",
                             c.Problem.c_str(), out_.Err(about).c_str());
                return true;
            }
            std::fprintf(stderr,
                         "The server's certificate does not verify (%s):\n%s"
                         "Trust it with --trust-fingerprint=%s\n",
                         c.Problem.c_str(), out_.Err(about).c_str(), print.c_str());
            return false;
        };
        ftp_.OnConnect = [this](TMsgFTP*, bool error) {
            if (error) return Fail(ftp_.ErrorMessage());
            Start();
        };
        ftp_.OnFTPCommandDone = [this](TMsgFTP*, TFTPState, bool error) {
            if (error) return Fail(ftp_.ErrorMessage());
            Next();
        };
        ftp_.OnCustomFTPCommandDone = [this](TMsgFTP*, int code, const std::string& reply) {
            if (quitting_) return Finish(exit_);
            bool ok = o_.command == "chmod" ? code >= 200 && code < 300 : code > 0 && code < 400;
            if (!ok) return Fail(reply);
            std::printf("%s\n", out_.Out(reply, true).c_str());
            Finish(0);
        };
        ftp_.OnDirectoryListing = [this](TMsgFTP*, const std::string& name, const std::string& date,
                                         std::int64_t size, std::int32_t kind,
                                         const std::string& owner, const std::string& group,
                                         const std::string& attrs) {
            std::string line = out_.Out(name) + '\t' + out_.Out(date) + '\t' +
                               std::to_string(size) + '\t' + std::to_string(kind) + '\t' +
                               out_.Out(owner) + '\t' + out_.Out(group) + '\t' + out_.Out(attrs) +
                               '\n';
            std::fwrite(line.data(), 1, line.size(), stdout);
        };
        if (o_.verbose) {
            ftp_.OnDebug = [this](TMsgFTP*, bool sent, const std::string& data) {
                std::string shown = data;
                if (sent && shown.rfind("PASS ", 0) == 0) shown = "PASS ****";
                std::fprintf(stderr, "%s %s\n", sent ? "->" : "<-", out_.Err(shown).c_str());
            };
        }
        if (o_.timeoutSeconds > 0) {
            loop_->addTimer(std::chrono::seconds(o_.timeoutSeconds), false, [this] {
                Fail("Timed out after " + std::to_string(o_.timeoutSeconds) + " seconds");
            });
        }
        ftp_.Connect();
        if (!finished_) loop_->run();
        return exit_;
    }

private:
    void Start() {
        const std::string& c = o_.command;
        const auto& a = o_.args;
        if (c == "ls") {
            step_ = 0;
            if (a.empty())
                Next();
            else
                ftp_.ChangeDir(a[0]);
        } else if (c == "get" || c == "put") {
            ftp_.SetTransferType("I"); // bytes travel unchanged
        } else if (c == "mkdir") {
            ftp_.MakeDir(a[0]);
        } else if (c == "rmdir") {
            ftp_.RemoveDir(a[0]);
        } else if (c == "rm") {
            ftp_.DeleteFile(a[0]);
        } else if (c == "mv") {
            ftp_.RenameFile(a[0], a[1]);
        } else if (c == "chmod") {
            ftp_.SendCommand("SITE CHMOD " + a[0] + " " + a[1]);
        } else if (c == "quote") {
            ftp_.SendCommand(a[0]);
        }
    }

    // Called after each successful step.
    void Next() {
        const std::string& c = o_.command;
        const auto& a = o_.args;
        ++step_;
        if (c == "ls" && step_ == 1) {
            ftp_.ListDirectory();
        } else if (c == "get" && step_ == 1) {
            try {
                ftp_.RetrieveToFile(a[0], a[1]);
            } catch (const std::system_error& e) {
                Fail(e.what());
            }
        } else if (c == "put" && step_ == 1) {
            if (!upload_.Open(a[0])) return Fail("Cannot read local file " + a[0]);
            ftp_.StoreFromBuffer(a[1], upload_.View());
        } else {
            Finish(0);
        }
    }

    void Fail(const std::string& message) {
        if (finished_ || quitting_) return;
        std::fprintf(stderr, "%s\n", out_.Err(message).c_str());
        Finish(1);
    }

    // Says goodbye when the connection is still usable, then leaves the loop.
    void Finish(int code) {
        if (finished_) return;
        std::fflush(stdout);
        if (!quitting_ && ftp_.Connected() && !ftp_.Busy() && ftp_.State() == ftpReady) {
            quitting_ = true;
            exit_ = code;
            ftp_.OnFTPCommandDone = [this](TMsgFTP*, TFTPState, bool) { Finish(exit_); };
            ftp_.SendCommand("QUIT");
            loop_->addTimer(std::chrono::seconds(2), false, [this] { Finish(exit_); });
            return;
        }
        finished_ = true;
        exit_ = quitting_ ? exit_ : code;
        ftp_.OnFTPCommandDone = nullptr;
        ftp_.OnConnect = nullptr;
        ftp_.OnCustomFTPCommandDone = nullptr;
        loop_->quit();
    }

    const FtpToolOptions& o_;
    Output out_;
    std::unique_ptr<platform::EventLoop> loop_;
    TMsgFTP ftp_;
    int step_ = 0;
    int exit_ = 1;
    bool finished_ = false;
    bool quitting_ = false;
    MappedFile upload_;
};

} // namespace

std::string EscapeControls(std::string_view text, bool keepLineFeeds) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        if (c == '\\') {
            out += "\\\\";
        } else if ((c < 0x20 && !(c == '\n' && keepLineFeeds)) || c == 0x7f) {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else if (c == 0xc2 && i + 1 < text.size() &&
                   static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(text[i + 1]) <= 0x9f) {
            // U+0080..U+009F: C1 controls, which some terminals obey (U+009B starts a sequence)
            auto c1 = static_cast<unsigned char>(text[++i]);
            out += "\\u00";
            out += kHex[c1 >> 4];
            out += kHex[c1 & 15];
        } else {
            out += char(c);
        }
    }
    return out;
}

bool ParseFtpToolArgs(int argc, char** argv, FtpToolOptions& o, std::string& error) {
    int i = 1;
    auto value = [&](const char* flag, std::string& out) {
        if (i + 1 >= argc) {
            error = std::string("missing value for ") + flag;
            return false;
        }
        out = argv[++i];
        return true;
    };
    for (; i < argc && argv[i][0] == '-' && argv[i][1] != '\0'; ++i) {
        std::string flag = argv[i], v;
        if (flag == "-v") {
            o.verbose = true;
        } else if (flag == "-u") {
            if (!value("-u", o.user)) return false;
        } else if (flag == "-p") {
            if (!value("-p", o.password)) return false;
        } else if (flag == "-P" || flag == "-t" || flag == "-T") {
            if (!value(flag.c_str(), v)) return false;
            char* end = nullptr;
            long n = std::strtol(v.c_str(), &end, 10);
            if (*end != '\0' || n < (flag == "-P" ? 1 : 0) || n > 65535) {
                error = "bad value for " + flag + ": " + v;
                return false;
            }
            (flag == "-P"   ? o.port
             : flag == "-t" ? o.timeoutSeconds
                            : o.replyTimeoutSeconds) = int(n);
        } else if (flag.rfind("--tls=", 0) == 0) {
            v = flag.substr(6);
            if (v == "no")
                o.tls = net::TTlsMode::Plain;
            else if (v == "try")
                o.tls = net::TTlsMode::Try;
            else if (v == "require")
                o.tls = net::TTlsMode::Require;
            else {
                error = "bad value for --tls: " + v + " (no, try or require)";
                return false;
            }
        } else if (flag.rfind("--trust-fingerprint=", 0) == 0) {
            v = net::NormalizeFingerprint(flag.substr(20));
            if (v.empty()) {
                error = "bad value for --trust-fingerprint: a SHA-256 fingerprint is 64 hex digits";
                return false;
            }
            o.trustedFingerprints.push_back(v);
        } else if (flag.rfind("--ca-file=", 0) == 0) {
            o.caFile = flag.substr(10);
        } else if (flag == "--insecure") {
            o.insecure = true;
        } else if (flag == "--") {
            ++i;
            break;
        } else {
            error = "unknown option " + flag;
            return false;
        }
    }
    if (argc - i < 2) {
        error = "missing HOST or COMMAND";
        return false;
    }
    o.host = argv[i++];
    o.command = argv[i++];
    for (; i < argc; ++i)
        o.args.emplace_back(argv[i]);
    auto it = kArgCounts.find(o.command);
    if (it == kArgCounts.end()) {
        error = "unknown command " + o.command;
        return false;
    }
    if (o.command == "quote" && o.args.size() > 1) {
        std::string text;
        for (auto& a : o.args)
            text += (text.empty() ? "" : " ") + a;
        o.args = {text};
    }
    if (o.args.size() < it->second.first || o.args.size() > it->second.second) {
        error = "wrong number of arguments for " + o.command;
        return false;
    }
    return true;
}

int RunFtpTool(const FtpToolOptions& options) {
    Runner runner(options);
    return runner.Run();
}

} // namespace morvane::tools
