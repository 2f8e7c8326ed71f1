#include "FtpTool.h"

#include "core/net/Account.h"
#include "core/net/FtpFileSystem.h"
#include "core/net/MirrorWalk.h"
#include "core/net/SftpFileSystem.h"
#include "core/platform/EventLoop.h"
#include "core/platform/HugePages.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <optional>
#include <pwd.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <system_error>
#include <termios.h>
#include <unistd.h>

namespace morvane::tools {

using namespace morvane::net;

namespace {

const std::map<std::string, std::pair<std::size_t, std::size_t>> kArgCounts = {
    {"ls", {0, 1}}, {"get", {2, 2}}, {"put", {2, 2}},   {"mkdir", {1, 1}}, {"rmdir", {1, 1}},
    {"rm", {1, 1}}, {"mv", {2, 2}},  {"chmod", {2, 2}}, {"quote", {1, 1}}, {"mirror", {2, 2}},
};

// The file to upload over SFTP (FTP reads it as it sends). Up to a few hundred megabytes it is
// read into memory backed by huge pages: sending from there costs far less than from the page
// cache's 4 KB pages mapped into this process. A bigger file is mapped, so that it need not fit
// in memory.
class MappedFile {
public:
    static constexpr std::size_t kReadLimit = std::size_t(256) << 20;

    bool Open(const std::string& path) {
        int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return false;
        struct stat st {};
        bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
        if (ok && st.st_size > 0) {
            size_ = std::size_t(st.st_size);
            bool read = size_ <= kReadLimit;
            void* p = read ? ::mmap(nullptr, size_, PROT_READ | PROT_WRITE,
                                    MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)
                           : ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
            ok = p != MAP_FAILED;
            if (ok) {
                data_ = static_cast<const char*>(p);
                if (read) {
                    platform::AdviseHugePages(p, size_);
                    ok = ReadAll(fd, static_cast<char*>(p));
                } else {
                    ::madvise(p, size_, MADV_SEQUENTIAL);
                }
            } else {
                size_ = 0;
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
    // The whole file, or false: a file that shrinks meanwhile is not sent cut short.
    bool ReadAll(int fd, char* into) const {
        for (std::size_t got = 0; got < size_;) {
            ssize_t n = ::read(fd, into + got, size_ - got);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            got += std::size_t(n);
        }
        return true;
    }

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

// Drives one command through the file system of the protocol: connect, the command's steps,
// QUIT for FTP.
class Runner {
public:
    Runner(const FtpToolOptions& o) : o_(o), loop_(platform::makePollEventLoop()) {
        if (o_.protocol == TRemoteProtocol::Sftp) {
            owned_ = std::make_unique<TSftpFileSystem>(*loop_);
        } else {
            auto ftp = std::make_unique<TFtpFileSystem>(*loop_);
            ftp_ = ftp.get();
            owned_ = std::move(ftp);
        }
    }

    int Run() {
        TRemoteFileSystem& fs = *owned_;
        TRemoteLogin login;
        login.protocol = o_.protocol;
        login.host = o_.host;
        login.port = o_.port;
        login.user = o_.user;
        login.password = o_.password;
        login.passive = o_.passive;
        login.passiveUsesServerAddress = o_.passiveServerAddress;
        login.tls = o_.tls;
        login.tlsCaFile = o_.caFile;
        // Nobody to ask on a command line: the options answer.
        login.clearText = [this](const std::string&) {
            std::fprintf(stderr,
                         "warning: %s offers no TLS; the password is sent in clear text "
                         "(--tls=require refuses that)\n",
                         out_.Err(o_.host).c_str());
            return true;
        };
        login.certificate = [this](const std::string&, const TTlsCertificate& c) {
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
        login.hostKey = [this](const std::string& host, const THostKey& key) {
            if (o_.acceptNewHostKey) {
                std::fprintf(stderr, "warning: adding the %s host key %s of %s to known_hosts\n",
                             key.type.c_str(), key.fingerprint.c_str(), out_.Err(host).c_str());
                return THostKeyAnswer::Always;
            }
            std::fprintf(stderr,
                         "The host %s is not known (%s key %s). If that is its key, connect "
                         "once with --accept-new-host-key to add it to known_hosts.\n",
                         out_.Err(host).c_str(), key.type.c_str(), key.fingerprint.c_str());
            return THostKeyAnswer::Cancel;
        };
        if (o_.protocol == TRemoteProtocol::Sftp) {
            // Keys first (agent, then ~/.ssh); a password only when one was given.
            if (o_.passwordFrom == FtpToolOptions::PasswordFrom::Default) login.password.clear();
            if (!o_.userGiven)
                if (passwd* pw = ::getpwuid(::getuid())) login.user = pw->pw_name;
        }
        fs.SetLogin(login);
        fs.SetReplyTimeout(std::chrono::seconds(o_.replyTimeoutSeconds));
        if (o_.verbose && ftp_) {
            ftp_->onDebug = [this](bool sent, const std::string& data) {
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
        fs.Connect([this](const TRemoteResult& r) {
            if (!r.ok()) return Fail(r.message);
            Start();
        });
        if (!finished_) loop_->run();
        return exit_;
    }

private:
    // The end of a command that prints nothing: success, or its failure's message.
    TRemoteFileSystem::Done Ends() {
        return [this](const TRemoteResult& r) {
            if (!r.ok()) return Fail(r.message);
            Finish(0);
        };
    }

    void Start() {
        TRemoteFileSystem& fs = *owned_;
        const std::string& c = o_.command;
        const auto& a = o_.args;
        if (c == "ls") {
            if (a.empty()) return List();
            fs.ChangeDirectory(a[0], [this](const TRemoteResult& r) {
                if (!r.ok()) return Fail(r.message);
                List();
            });
        } else if (c == "get") {
            fs.ReadToFile(a[0], a[1], nullptr, Ends());
        } else if (c == "put") {
            if (ftp_) return ftp_->WriteFromFile(a[1], a[0], nullptr, Ends());
            if (!upload_.Open(a[0])) return Fail("Cannot read local file " + a[0]);
            fs.Write(a[1], upload_.View(), nullptr, Ends());
        } else if (c == "mkdir") {
            fs.MakeFolder(a[0], Ends());
        } else if (c == "rmdir") {
            fs.RemoveFolder(a[0], Ends());
        } else if (c == "rm") {
            fs.Remove(a[0], Ends());
        } else if (c == "mv") {
            fs.Rename(a[0], a[1], Ends());
        } else if (c == "chmod") {
            auto mode = ParseMode(a[0]);
            if (!mode) return Fail("bad mode " + a[0] + ": octal digits expected");
            fs.Chmod(a[1], *mode, [this](const TRemoteResult& r) {
                if (!r.ok()) return Fail(r.message);
                if (!r.message.empty()) std::printf("%s\n", out_.Out(r.message, true).c_str());
                Finish(0);
            });
        } else if (c == "mirror") {
            Mirror(a[0], a[1]);
        } else if (c == "quote") {
            if (!ftp_) return Fail("quote sends FTP commands: not available over SFTP");
            ftp_->Quote(a[0], [this](const TRemoteResult& r, int code, const std::string& reply) {
                if (code == 0) return Fail(r.message);
                if (!r.ok()) return Fail(reply);
                std::printf("%s\n", out_.Out(reply, true).c_str());
                Finish(0);
            });
        }
    }

    static std::optional<int> ParseMode(const std::string& text) {
        if (text.empty() || text.size() > 4) return std::nullopt;
        int mode = 0;
        for (char ch : text) {
            if (ch < '0' || ch > '7') return std::nullopt;
            mode = mode * 8 + (ch - '0');
        }
        return mode;
    }

    // Copies the remote tree; a step that fails is reported and the walk goes on. The missing
    // local root is made.
    void Mirror(const std::string& remote, const std::string& local) {
        std::string problem = CreateLocalFolders(local);
        if (!problem.empty()) return Fail(problem);
        mirror_ = std::make_unique<TMirrorWalk>(*loop_, *owned_);
        auto& e = mirror_->events;
        e.file = [this](const std::string& from, const std::string& to, std::int64_t bytes) {
            std::printf("%s -> %s (%lld bytes)\n", out_.Out(from).c_str(), out_.Out(to).c_str(),
                        static_cast<long long>(bytes));
        };
        e.note = [this](const std::string& line) {
            std::fprintf(stderr, "%s\n", out_.Err(line).c_str());
        };
        e.askContinue = [](const std::string&) { return true; };
        e.finished = [this](const TMirrorSummary& s, const std::string& message) {
            std::printf("%d files, %lld bytes, %d folders; %d skipped, %d failed\n", s.files,
                        static_cast<long long>(s.bytes), s.folders, s.skipped, s.failed);
            if (!s.completed) return Fail(message);
            std::fprintf(stderr, "%s\n", out_.Err(message).c_str());
            Finish(s.failed == 0 ? 0 : 1);
        };
        mirror_->Start(remote, local);
    }

    void List() {
        owned_->List(
            [this](const TDirectoryEntry& e) {
                std::string line = out_.Out(e.Name) + '\t' + out_.Out(e.Date) + '\t' +
                                   std::to_string(e.Size) + '\t' + std::to_string(e.Kind) + '\t' +
                                   out_.Out(e.Owner) + '\t' + out_.Out(e.Group) + '\t' +
                                   out_.Out(e.Attributes) + '\n';
                std::fwrite(line.data(), 1, line.size(), stdout);
            },
            Ends());
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
        if (!quitting_ && ftp_ && ftp_->Connected() && !ftp_->Busy()) {
            quitting_ = true;
            exit_ = code;
            ftp_->Quote("QUIT",
                        [this](const TRemoteResult&, int, const std::string&) { Finish(exit_); });
            loop_->addTimer(std::chrono::seconds(2), false, [this] { Finish(exit_); });
            return;
        }
        finished_ = true;
        exit_ = quitting_ ? exit_ : code;
        loop_->quit();
    }

    const FtpToolOptions& o_;
    Output out_;
    std::unique_ptr<platform::EventLoop> loop_;
    std::unique_ptr<TRemoteFileSystem> owned_;
    TFtpFileSystem* ftp_ = nullptr; // for FTP's own commands and its command log
    int exit_ = 1;
    bool finished_ = false;
    bool quitting_ = false;
    MappedFile upload_;
    std::unique_ptr<TMirrorWalk> mirror_;
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
            o.userGiven = true;
        } else if (flag == "--accept-new-host-key") {
            o.acceptNewHostKey = true;
        } else if (flag == "-p") {
            if (!value("-p", o.password)) return false;
            o.passwordFrom = FtpToolOptions::PasswordFrom::Argument;
            o.warnings.push_back("warning: a password given with -p can be read by every user "
                                 "of this machine (ps); use --password-file, --password-env or "
                                 "--password-stdin");
        } else if (flag == "--password-file" || flag == "--password-env") {
            if (!value(flag.c_str(), o.passwordSource)) return false;
            o.passwordFrom = flag == "--password-file" ? FtpToolOptions::PasswordFrom::File
                                                       : FtpToolOptions::PasswordFrom::Variable;
        } else if (flag == "--password-stdin") {
            o.passwordFrom = FtpToolOptions::PasswordFrom::Stdin;
        } else if (flag == "--active" || flag == "--passive") {
            o.passive = flag == "--passive";
        } else if (flag == "--pasv-server-address") {
            o.passiveServerAddress = true;
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
            if (flag == "-P") o.portGiven = true;
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
    auto url = net::ParseRemoteUrl(o.host);
    if (!url) {
        error = "bad HOST " + o.host + " (a host name, or sftp://, ftp:// or ftps://HOST[:PORT])";
        return false;
    }
    if (url->scheme) {
        o.protocol = url->protocol;
        if (url->tls == net::TTlsMode::Require) o.tls = net::TTlsMode::Require;
        if (!url->user.empty() && !o.userGiven) {
            o.user = url->user;
            o.userGiven = true;
        }
        if (url->port)
            o.port = url->port;
        else if (!o.portGiven)
            o.port = net::DefaultPort(url->protocol);
        o.host = url->host;
    }
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

namespace {
// One line without its line break; false at the end of the input before any character.
bool ReadLine(std::FILE* in, std::string& line) {
    line.clear();
    int c;
    bool any = false;
    while ((c = std::fgetc(in)) != EOF && c != '\n') {
        any = true;
        line += char(c);
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return any || c == '\n';
}
} // namespace

bool ReadFtpToolPassword(FtpToolOptions& o, std::FILE* input, std::string& error) {
    using From = FtpToolOptions::PasswordFrom;
    if (o.passwordFrom == From::Variable) {
        const char* v = std::getenv(o.passwordSource.c_str());
        if (!v) {
            error = "the variable " + o.passwordSource + " is not set";
            return false;
        }
        o.password = v;
    } else if (o.passwordFrom == From::File) {
        std::FILE* f = std::fopen(o.passwordSource.c_str(), "re");
        if (!f) {
            error =
                "cannot read the password file " + o.passwordSource + ": " + std::strerror(errno);
            return false;
        }
        struct stat st {};
        if (::fstat(::fileno(f), &st) == 0 && (st.st_mode & 077) != 0)
            o.warnings.push_back("warning: the password file " + o.passwordSource +
                                 " can be read by other users (chmod 600 it)");
        bool ok = ReadLine(f, o.password);
        std::fclose(f);
        if (!ok) {
            error = "the password file " + o.passwordSource + " is empty";
            return false;
        }
    } else if (o.passwordFrom == From::Stdin) {
        int fd = ::fileno(input);
        termios saved{};
        bool terminal = ::isatty(fd) == 1 && ::tcgetattr(fd, &saved) == 0;
        if (terminal) {
            std::fprintf(stderr, "Password: ");
            std::fflush(stderr);
            termios quiet = saved;
            quiet.c_lflag &= ~tcflag_t(ECHO);
            ::tcsetattr(fd, TCSAFLUSH, &quiet);
        }
        bool ok = ReadLine(input, o.password);
        if (terminal) {
            ::tcsetattr(fd, TCSAFLUSH, &saved);
            std::fprintf(stderr, "\n");
        }
        if (!ok) {
            error = "no password on standard input";
            return false;
        }
    }
    return true;
}

int RunFtpTool(const FtpToolOptions& options) {
    Runner runner(options);
    return runner.Run();
}

} // namespace morvane::tools
