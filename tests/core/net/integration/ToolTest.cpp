// morvane-ftp seen from outside: run as a process against a real server.
#include "FtpServers.h"
#include "ScriptedFtpServer.h"
#include "SshServer.h"
#include "TestCertificates.h"
#include "tools/ftp/FtpTool.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace morvane::testing;
using morvane::tools::FtpToolOptions;

namespace {

struct Result {
    int exitCode = -1;
    std::string out, err;
};

// Runs the tool with a hard time limit; its standard input gives input, then ends.
Result RunTool(std::vector<std::string> args, int seconds = 30, const std::string& input = {}) {
    args.insert(args.begin(), MORVANE_FTP_TOOL);
    int outPipe[2], errPipe[2], inPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0 ||
        ::pipe2(inPipe, O_CLOEXEC) != 0)
        return {};
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(inPipe[0], 0);
        ::dup2(outPipe[1], 1);
        ::dup2(errPipe[1], 2);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    ::close(inPipe[0]);
    (void)!::write(inPipe[1], input.data(), input.size()); // a line fits in the pipe
    ::close(inPipe[1]);
    Result r;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    int open = 2;
    char buf[65536];
    while (open > 0 && std::chrono::steady_clock::now() < deadline) {
        if (::poll(fds, 2, 100) <= 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
            ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
            if (n <= 0) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            } else {
                (i == 0 ? r.out : r.err).append(buf, std::size_t(n));
            }
        }
    }
    if (open > 0) ::kill(pid, SIGKILL);
    for (auto& f : fds)
        if (f.fd >= 0) ::close(f.fd);
    int status = 0;
    ::waitpid(pid, &status, 0);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

// Runs the tool with its standard output on a pseudo-terminal (raw: the bytes as written).
Result RunToolOnTerminal(std::vector<std::string> args, int seconds = 30) {
    args.insert(args.begin(), MORVANE_FTP_TOOL);
    int master = -1, slave = -1;
    termios raw{};
    ::cfmakeraw(&raw);
    if (::openpty(&master, &slave, nullptr, &raw, nullptr) != 0) return {};
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(slave, 1);
        int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 2);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(slave);
    Result r;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    char buf[4096];
    bool open = true;
    while (open && std::chrono::steady_clock::now() < deadline) {
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        ssize_t n = ::read(master, buf, sizeof buf);
        if (n <= 0)
            open = false; // EIO once the child has gone
        else
            r.out.append(buf, std::size_t(n));
    }
    if (open) ::kill(pid, SIGKILL);
    ::close(master);
    int status = 0;
    ::waitpid(pid, &status, 0);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

} // namespace

TEST(FtpTool, ControlCharactersAreEscaped) {
    using morvane::tools::EscapeControls;
    EXPECT_EQ(EscapeControls("plain name.txt"), "plain name.txt");
    EXPECT_EQ(EscapeControls(std::string("\x1b[2J\a\rx\0y\x7f", 10)),
              "\\x1b[2J\\x07\\x0dx\\x00y\\x7f");
    EXPECT_EQ(EscapeControls("tab\there\nline"), "tab\\x09here\\x0aline");
    EXPECT_EQ(EscapeControls("two\nlines", true), "two\nlines");
    // A backslash is doubled, so a name cannot pose as an escape.
    EXPECT_EQ(EscapeControls("a\\x1b"), "a\\\\x1b");
    // C1 controls written as UTF-8 (U+009B starts a sequence on some terminals); other UTF-8
    // and stray bytes are left alone.
    EXPECT_EQ(EscapeControls("\xc2\x9b"
                             "31m"),
              "\\u009b31m");
    EXPECT_EQ(EscapeControls("caf\xc3\xa9 \xc2\xa0 \xff"), "caf\xc3\xa9 \xc2\xa0 \xff");
    EXPECT_EQ(EscapeControls("\xc2"), "\xc2");
}

TEST(FtpTool, NamesAreEscapedOnATerminalAndLeftAsTheyAreInAPipe) {
    ScriptedFtpServer server;
    static const char kEvil[] = "\x1b]0;owned\a\x1b[2Jred\rname\0end";
    std::string evil(kEvil, sizeof kEvil - 1);
    server.listing = "-rw-r--r-- 1 u g 5 Jan  1 12:00 " + evil + "\r\n";
    server.start();
    std::vector<std::string> args = {"-t",        "20", "-P", std::to_string(server.port()),
                                     "127.0.0.1", "ls"};
    Result tty = RunToolOnTerminal(args);
    ASSERT_EQ(tty.exitCode, 0);
    EXPECT_THAT(tty.out, ::testing::StartsWith(
                             "\\x1b]0;owned\\x07\\x1b[2Jred\\x0dname\\x00end\tJan 1 12:00\t5\t"));
    for (char c : {'\x1b', '\a', '\r', '\0'})
        EXPECT_EQ(tty.out.find(c), std::string::npos) << int(c);

    Result pipe = RunTool(args);
    ASSERT_EQ(pipe.exitCode, 0) << pipe.err;
    EXPECT_THAT(pipe.out, ::testing::StartsWith(evil + "\t"));
}

TEST(FtpTool, ASilentServerEndsTheRunWithoutAnOverallLimit) {
    struct Case {
        const char* what;
        std::function<void(ScriptedFtpServer&)> script;
        std::vector<std::string> command;
    };
    std::vector<Case> cases = {
        {"no greeting", [](ScriptedFtpServer& s) { s.greeting = ""; }, {"ls"}},
        {"226 without closing the data connection",
         [](ScriptedFtpServer& s) {
             s.handlers["RETR"] = [](ScriptedFtpServer::Session& ss, const std::string&) {
                 ss.send("150 Opening\r\n");
                 ss.dataConnect();
                 ss.dataSend("all of it");
                 ss.send("226 Done\r\n");
             };
         },
         {"get", "f.txt", "/dev/null"}},
        {"stall mid-listing",
         [](ScriptedFtpServer& s) {
             s.handlers["LIST"] = [](ScriptedFtpServer::Session& ss, const std::string&) {
                 ss.send("150 Opening\r\n");
                 ss.dataConnect();
                 ss.dataSend("-rw-r--r-- 1 u g 5 Jan  1 12:00 first.txt\r\n-rw-r");
             };
         },
         {"ls"}},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedFtpServer server;
        c.script(server);
        server.start();
        std::vector<std::string> args = {"-T", "1", "-P", std::to_string(server.port()),
                                         "127.0.0.1"};
        args.insert(args.end(), c.command.begin(), c.command.end());
        Result r = RunTool(args, 20);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_THAT(r.err,
                    ::testing::HasSubstr(
                        "The server did not answer in 1 second; the connection was closed."));
    }
    FtpToolOptions defaults;
    EXPECT_EQ(defaults.replyTimeoutSeconds, 60);
}

TEST(FtpTool, ListGetPutAndErrorsAgainstARealServer) {
    FtpServerProcess server(ServerKind::Pyftpdlib);
    ASSERT_EQ(server.error(), "");
    writeFile(server.root() / "hello world.txt", std::string("hi\0there\r\n", 10));
    ::setenv("MORVANE_TEST_FTP_PASSWORD", server.password().c_str(), 1);
    auto common = std::vector<std::string>{"-t",
                                           "20",
                                           "-P",
                                           std::to_string(server.port()),
                                           "-u",
                                           server.user(),
                                           "--password-env",
                                           "MORVANE_TEST_FTP_PASSWORD",
                                           "127.0.0.1"};
    auto with = [&](std::vector<std::string> more) {
        auto a = common;
        a.insert(a.end(), more.begin(), more.end());
        return a;
    };
    Result ls = RunTool(with({"ls"}));
    ASSERT_EQ(ls.exitCode, 0) << ls.err;
    EXPECT_THAT(ls.out, ::testing::MatchesRegex(
                            "hello world\\.txt\t[^\t]+\t10\t0\t[^\t]+\t[^\t]+\t-rw-r--r--\n"));

    TempDir local;
    Result get = RunTool(with({"get", "hello world.txt", (local / "copy").string()}));
    ASSERT_EQ(get.exitCode, 0) << get.err;
    EXPECT_EQ(readFile(local / "copy"), std::string("hi\0there\r\n", 10));

    Result put = RunTool(with({"put", (local / "copy").string(), "up.txt"}));
    ASSERT_EQ(put.exitCode, 0) << put.err;
    EXPECT_EQ(readFile(server.root() / "up.txt"), std::string("hi\0there\r\n", 10));

    // Passive is the default; --active has the server connect back (PORT).
    auto active = common;
    active.insert(active.begin(), {"-v", "--active"});
    active.insert(active.end(), {"get", "up.txt", (local / "again").string()});
    Result got = RunTool(active);
    ASSERT_EQ(got.exitCode, 0) << got.err;
    EXPECT_EQ(readFile(local / "again"), std::string("hi\0there\r\n", 10));
    EXPECT_THAT(got.err, ::testing::HasSubstr("-> PORT 127,0,0,1,"));
    auto passive = common;
    passive.insert(passive.begin(), "-v");
    passive.push_back("ls");
    Result listed = RunTool(passive);
    ASSERT_EQ(listed.exitCode, 0) << listed.err;
    EXPECT_THAT(listed.err, ::testing::HasSubstr("-> EPSV"));
    EXPECT_THAT(listed.err, ::testing::Not(::testing::HasSubstr("-> PORT")));
    // chmod takes octal digits only: anything else never reaches the server as a command.
    Result chmod = RunTool(with({"chmod", "640", "up.txt"}));
    ASSERT_EQ(chmod.exitCode, 0) << chmod.err;
    EXPECT_THAT(chmod.out, ::testing::StartsWith("200"));
    struct stat st {};
    ASSERT_EQ(::stat((server.root() / "up.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    Result word = RunTool(with({"chmod", "u+x", "up.txt"}));
    EXPECT_EQ(word.exitCode, 1);
    EXPECT_THAT(word.err, ::testing::HasSubstr("bad mode u+x"));

    Result rm = RunTool(with({"rm", "missing.txt"}));
    EXPECT_EQ(rm.exitCode, 1);
    EXPECT_THAT(rm.err, ::testing::StartsWith("Host replied (expected 250): 550"));

    Result bad = RunTool({"-t", "5", "-P", std::to_string(server.port()), "-u", "alice",
                          "--password-stdin", "127.0.0.1", "ls"},
                         30, "wrong\n");
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_THAT(bad.err, ::testing::StartsWith("Host replied 530"));

    Result verbose = RunTool(with({"-v", "quote", "NOOP"}));
    EXPECT_EQ(verbose.exitCode, 2); // options come first
    auto v = common;
    v.insert(v.begin(), "-v");
    v.insert(v.end(), {"quote", "NOOP"});
    Result quote = RunTool(v);
    ASSERT_EQ(quote.exitCode, 0) << quote.err;
    EXPECT_THAT(quote.out, ::testing::StartsWith("200"));
    EXPECT_THAT(quote.err, ::testing::HasSubstr("-> PASS ****"));
    EXPECT_THAT(quote.err, ::testing::Not(::testing::HasSubstr(server.password())));
}

TEST(FtpTool, AFailedGetKeepsTheLocalFile) {
    FtpServerProcess server(ServerKind::Pyftpdlib);
    ASSERT_EQ(server.error(), "");
    TempDir local;
    writeFile(local / "mine.txt", "the user's own text");
    Result get = RunTool({"-t", "20", "-P", std::to_string(server.port()), "-u", server.user(),
                          "--password-stdin", "127.0.0.1", "get", "missing.txt",
                          (local / "mine.txt").string()},
                         30, server.password() + "\n");
    EXPECT_EQ(get.exitCode, 1);
    EXPECT_THAT(get.err, ::testing::StartsWith("Host replied: 550"));
    EXPECT_EQ(readFile(local / "mine.txt"), "the user's own text");
    int files = 0;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(local.path()))
        ++files;
    EXPECT_EQ(files, 1); // nothing left over beside it
}

TEST(FtpTool, AServerThatHangsUpIsReported) {
    // A server that greets, reads the user name and closes the connection.
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(fd, 1), 0);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    std::thread serve([fd] {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 20000) <= 0) return;
        int c = ::accept(fd, nullptr, nullptr);
        ::send(c, "220 hi\r\n", 8, MSG_NOSIGNAL);
        char buf[256];
        pollfd q{c, POLLIN, 0};
        if (::poll(&q, 1, 20000) > 0) (void)::recv(c, buf, sizeof buf, 0);
        ::close(c);
    });
    Result r = RunTool({"-t", "20", "-P", std::to_string(ntohs(a.sin_port)), "127.0.0.1", "ls"});
    serve.join();
    ::close(fd);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "Connection closed by server\n");
}

TEST(FtpTool, TlsChoicesAreOptions) {
    TempDir certDir;
    TestCertificates certs(certDir.path());
    FtpServerProcess server(ServerKind::Pyftpdlib, "", "127.0.0.1", certs.issue("server").string());
    ASSERT_EQ(server.error(), "");
    std::string bytes = std::string("secret\0bytes\r\n", 14) + std::string(300000, 'x');
    writeFile(server.root() / "f.bin", bytes);
    TempDir local;
    auto run = [&](std::vector<std::string> options, std::vector<std::string> command) {
        std::vector<std::string> a = {"-t",
                                      "20",
                                      "-P",
                                      std::to_string(server.port()),
                                      "-u",
                                      server.user(),
                                      "--password-stdin"};
        a.insert(a.end(), options.begin(), options.end());
        a.push_back("127.0.0.1");
        a.insert(a.end(), command.begin(), command.end());
        return RunTool(a, 30, server.password());
    };
    auto get = std::vector<std::string>{"get", "f.bin", (local / "copy").string()};

    // The system's store does not know the test's authority: refused, and told how to trust.
    Result refused = run({"--tls=require"}, get);
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_THAT(refused.err, ::testing::HasSubstr("does not verify"));
    EXPECT_THAT(refused.err, ::testing::HasSubstr("issuer: O = Morvane tests"));
    std::size_t at = refused.err.find("--trust-fingerprint=");
    ASSERT_NE(at, std::string::npos) << refused.err;
    std::string fingerprint = refused.err.substr(at + 20, 64);
    EXPECT_FALSE(std::filesystem::exists(local / "copy"));

    Result trusted = run({"--tls=require", "--trust-fingerprint=" + fingerprint}, get);
    ASSERT_EQ(trusted.exitCode, 0) << trusted.err;
    EXPECT_EQ(readFile(local / "copy"), bytes);
    EXPECT_EQ(trusted.err, "");

    Result insecure =
        run({"--tls=require", "--insecure"}, {"put", (local / "copy").string(), "back.bin"});
    ASSERT_EQ(insecure.exitCode, 0) << insecure.err;
    EXPECT_THAT(insecure.err, ::testing::HasSubstr("warning: --insecure"));
    EXPECT_EQ(readFile(server.root() / "back.bin"), bytes);

    Result withCa = run({"--tls=try", "--ca-file=" + certs.caFile().string()}, {"ls"});
    ASSERT_EQ(withCa.exitCode, 0) << withCa.err;
    EXPECT_EQ(withCa.err, "");

    EXPECT_EQ(run({"--tls=maybe"}, {"ls"}).exitCode, 2);
    EXPECT_EQ(run({"--trust-fingerprint=abc"}, {"ls"}).exitCode, 2);
}

TEST(FtpTool, TlsAgainstAServerWithoutIt) {
    FtpServerProcess server(ServerKind::Pyftpdlib);
    ASSERT_EQ(server.error(), "");
    auto run = [&](const std::string& tls) {
        return RunTool({"-t", "20", "-v", "-P", std::to_string(server.port()), "-u", server.user(),
                        "-p", server.password(), tls, "127.0.0.1", "ls"});
    };
    Result required = run("--tls=require");
    EXPECT_EQ(required.exitCode, 1);
    EXPECT_THAT(required.err, ::testing::HasSubstr("does not offer TLS"));
    EXPECT_THAT(required.err, ::testing::Not(::testing::HasSubstr("-> USER")));
    Result tried = run("--tls=try");
    EXPECT_EQ(tried.exitCode, 0) << tried.err;
    EXPECT_THAT(tried.err, ::testing::HasSubstr("clear text"));
}

// The password comes from a file, a variable or standard input; on the command line it still
// works but the tool says that everyone can read it there.
TEST(FtpTool, PasswordSourcesAndTheirFailures) {
    FtpServerProcess server(ServerKind::Pyftpdlib);
    ASSERT_EQ(server.error(), "");
    TempDir dir;
    auto run = [&](std::vector<std::string> source, const std::string& input = {}) {
        std::vector<std::string> args = {"-t", "20",         "-P", std::to_string(server.port()),
                                         "-u", server.user()};
        args.insert(args.end(), source.begin(), source.end());
        args.insert(args.end(), {"127.0.0.1", "quote", "NOOP"});
        return RunTool(args, 30, input);
    };
    auto file = dir / "pw";
    writeFile(file, server.password() + "\r\nsecond line\n");
    std::filesystem::permissions(file, std::filesystem::perms(0600));
    Result fromFile = run({"--password-file", file.string()});
    EXPECT_EQ(fromFile.exitCode, 0) << fromFile.err;
    EXPECT_EQ(fromFile.err, "");

    std::filesystem::permissions(file, std::filesystem::perms(0644));
    Result shared = run({"--password-file", file.string()});
    EXPECT_EQ(shared.exitCode, 0) << shared.err;
    EXPECT_THAT(shared.err, ::testing::HasSubstr("can be read by other users"));

    Result fromInput = run({"--password-stdin"}, server.password()); // no line break at the end
    EXPECT_EQ(fromInput.exitCode, 0) << fromInput.err;

    Result onCommandLine = run({"-p", server.password()});
    EXPECT_EQ(onCommandLine.exitCode, 0) << onCommandLine.err;
    EXPECT_THAT(onCommandLine.err, ::testing::HasSubstr("warning: a password given with -p"));

    ::unsetenv("MORVANE_TEST_FTP_UNSET");
    Result unset = run({"--password-env", "MORVANE_TEST_FTP_UNSET"});
    EXPECT_EQ(unset.exitCode, 2);
    EXPECT_THAT(unset.err, ::testing::HasSubstr("MORVANE_TEST_FTP_UNSET is not set"));
    Result missing = run({"--password-file", (dir / "none").string()});
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_THAT(missing.err, ::testing::HasSubstr("cannot read the password file"));
    Result noInput = run({"--password-stdin"});
    EXPECT_EQ(noInput.exitCode, 2);
    EXPECT_THAT(noInput.err, ::testing::HasSubstr("no password on standard input"));
}

TEST(FtpTool, HostUrlsChooseProtocolPortTlsAndUser) {
    auto parse = [](std::vector<std::string> args, FtpToolOptions& o) {
        args.insert(args.begin(), "morvane-ftp");
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        std::string error;
        bool ok = morvane::tools::ParseFtpToolArgs(int(argv.size()), argv.data(), o, error);
        return ok ? std::string() : error;
    };
    using morvane::net::TRemoteProtocol;
    using morvane::net::TTlsMode;
    FtpToolOptions o;
    ASSERT_EQ(parse({"sftp://me@example.org:2222", "ls"}, o), "");
    EXPECT_EQ(o.protocol, TRemoteProtocol::Sftp);
    EXPECT_EQ(o.host, "example.org");
    EXPECT_EQ(o.port, 2222);
    EXPECT_EQ(o.user, "me");
    o = {};
    ASSERT_EQ(parse({"-u", "given", "sftp://me@example.org", "ls"}, o), "");
    EXPECT_EQ(o.port, 22);
    EXPECT_EQ(o.user, "given"); // -u wins
    o = {};
    ASSERT_EQ(parse({"ftps://example.org", "ls"}, o), "");
    EXPECT_EQ(o.protocol, TRemoteProtocol::Ftp);
    EXPECT_EQ(o.tls, TTlsMode::Require);
    EXPECT_EQ(o.port, 21);
    o = {};
    ASSERT_EQ(parse({"-P", "2121", "ftp://example.org", "ls"}, o), "");
    EXPECT_EQ(o.port, 2121);
    EXPECT_EQ(o.tls, TTlsMode::Plain);
    o = {};
    ASSERT_EQ(parse({"example.org", "ls"}, o), "");
    EXPECT_EQ(o.protocol, TRemoteProtocol::Ftp);
    EXPECT_EQ(o.host, "example.org");
    EXPECT_EQ(o.port, 21);
    o = {};
    EXPECT_NE(parse({"http://example.org", "ls"}, o), "");
    o = {};
    EXPECT_NE(parse({"sftp://example.org:70000", "ls"}, o), "");
}

TEST(FtpTool, SftpRefusesAnUnknownHostUnlessTold) {
    SshServerProcess server;
    ASSERT_EQ(server.error(), "");
    TempDir home;
    std::filesystem::copy(server.clientDir(), home / ".ssh");
    const char* oldHome = std::getenv("HOME");
    std::string savedHome = oldHome ? oldHome : "";
    ::setenv("HOME", home.path().c_str(), 1);
    ::unsetenv("SSH_AUTH_SOCK");
    std::string url = "sftp://" + server.user() + "@127.0.0.1:" + std::to_string(server.port());
    writeFile(server.root() / "-odd\nname", std::string("\0\r\n\xff", 4));

    Result refused = RunTool({"-t", "20", url, "ls"});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("--accept-new-host-key"), std::string::npos) << refused.err;
    EXPECT_NE(refused.err.find("SHA256:"), std::string::npos) << refused.err;
    EXPECT_FALSE(std::filesystem::exists(home / ".ssh" / "known_hosts"));

    Result ls = RunTool({"-t", "20", "--accept-new-host-key", url, "ls"});
    ASSERT_EQ(ls.exitCode, 0) << ls.err;
    EXPECT_NE(ls.out.find("-odd\nname\t"), std::string::npos) << ls.out;
    EXPECT_TRUE(std::filesystem::exists(home / ".ssh" / "known_hosts"));

    // Known now: no option needed.
    TempDir local;
    Result get = RunTool({"-t", "20", url, "get", "-odd\nname", (local / "copy").string()});
    ASSERT_EQ(get.exitCode, 0) << get.err;
    EXPECT_EQ(readFile(local / "copy"), std::string("\0\r\n\xff", 4));
    writeFile(local / "up", "uploaded\r\n");
    Result put = RunTool({"-t", "20", url, "put", (local / "up").string(), "up.txt"});
    ASSERT_EQ(put.exitCode, 0) << put.err;
    EXPECT_EQ(readFile(server.root() / "up.txt"), "uploaded\r\n");
    Result chmod = RunTool({"-t", "20", url, "chmod", "600", "up.txt"});
    ASSERT_EQ(chmod.exitCode, 0) << chmod.err;
    EXPECT_EQ(std::filesystem::status(server.root() / "up.txt").permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    Result quote = RunTool({"-t", "20", url, "quote", "SITE", "HELP"});
    EXPECT_EQ(quote.exitCode, 1);
    Result missing = RunTool({"-t", "20", url, "rm", "missing"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("No such file"), std::string::npos) << missing.err;
    ::setenv("HOME", savedHome.c_str(), 1);
}

TEST(FtpTool, MirrorPrintsALinePerFileASummaryAndFailsWhenAStepFailed) {
    FtpServerProcess server(ServerKind::Vsftpd);
    ASSERT_EQ(server.error(), "");
    std::filesystem::create_directories(server.root() / "sub" / "deeper");
    writeFile(server.root() / "top.txt", "top");
    writeFile(server.root() / "sub" / "in sub.txt", std::string("a\0b", 3));
    writeFile(server.root() / "sub" / "deeper" / "d.txt", "d");
    writeFile(server.root() / "other.txt", "other");
    TempDir local;
    auto target = local / "made" / "by the tool"; // missing levels are made
    std::vector<std::string> args = {"-t",        "30",     "-P", std::to_string(server.port()),
                                     "127.0.0.1", "mirror", ".",  target.string()};
    Result r = RunTool(args);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_THAT(r.out,
                ::testing::HasSubstr("/sub/in sub.txt -> " +
                                     (target / "sub" / "in sub.txt").string() + " (3 bytes)\n"));
    EXPECT_THAT(r.out, ::testing::EndsWith("4 files, 12 bytes, 3 folders; 0 skipped, 0 failed\n"));
    EXPECT_EQ(readFile(target / "sub" / "deeper" / "d.txt"), "d");
    EXPECT_THAT(r.err, ::testing::HasSubstr("Finished mirroring to " + target.string()));

    // A file where a folder must go: that folder fails, the rest is copied, the exit code says so.
    std::filesystem::remove_all(target);
    std::filesystem::create_directories(target);
    writeFile(target / "sub", "in the way");
    r = RunTool(args);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_THAT(r.out, ::testing::EndsWith("2 files, 8 bytes, 2 folders; 0 skipped, 1 failed\n"));
    EXPECT_THAT(r.err,
                ::testing::HasSubstr("Cannot create local folder " + (target / "sub").string()));
    EXPECT_EQ(readFile(target / "other.txt"), "other");
}
