// The SFTP file system against a real OpenSSH server on loopback: host keys, the ways of
// logging in, and the operations remote editing relies on, byte for byte.
#include "NetTestUtil.h"
#include "SshServer.h"

#include "core/net/SftpFileSystem.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace morvane::net;
using namespace morvane::testing;
namespace fs = std::filesystem;

namespace {

// "SHA256:..." of a public key, as ssh-keygen prints it.
std::string Fingerprint(const fs::path& publicKey) {
    std::string command = "ssh-keygen -l -E sha256 -f '" + publicKey.string() + "'";
    FILE* p = ::popen(command.c_str(), "r");
    char buf[512] = {};
    std::string out = p && std::fgets(buf, sizeof buf, p) ? buf : "";
    if (p) ::pclose(p);
    std::size_t start = out.find("SHA256:");
    return start == std::string::npos ? "" : out.substr(start, out.find(' ', start) - start);
}

class Sftp : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(MakeSshKey(keys / "host", "ed25519"));
        server = std::make_unique<SshServerProcess>(0, keys / "host");
        ASSERT_EQ(server->error(), "");
        login.protocol = TRemoteProtocol::Sftp;
        login.host = "127.0.0.1";
        login.port = server->port();
        login.user = server->user();
        login.sshDir = server->clientDir().string();
        login.hostKey = [this](const std::string&, const THostKey& key) {
            asked.push_back(key);
            return answer;
        };
        ::unsetenv("SSH_AUTH_SOCK");
        sftp->SetReplyTimeout(std::chrono::seconds(20));
    }
    void TearDown() override { sftp.reset(); }

    TRemoteResult wait(const std::function<void(TRemoteFileSystem::Done)>& op, int millis = 20000) {
        std::optional<TRemoteResult> r;
        op([&](const TRemoteResult& result) { r = result; });
        EXPECT_TRUE(RunUntil(
            *loop, [&] { return r.has_value(); }, millis));
        return r.value_or(TRemoteResult::Fail(TRemoteError::Failed, "never ended"));
    }
    TRemoteResult connect() {
        sftp->SetLogin(login);
        return wait([&](auto done) { sftp->Connect(done); });
    }
    std::pair<TRemoteResult, TRemoteStat> stat(const std::string& name) {
        TRemoteStat st;
        auto r = wait([&](auto done) {
            sftp->Stat(name, {}, [&st, done](const TRemoteResult& r, const TRemoteStat& s) {
                st = s;
                done(r);
            });
        });
        return {r, st};
    }
    std::string read(const std::string& name, TRemoteResult* result = nullptr) {
        std::string back;
        auto r = wait([&](auto done) {
            sftp->Read(
                name, [&](std::string_view b) { back.append(b); }, done);
        });
        if (result) *result = r;
        EXPECT_TRUE(result || r.ok()) << r.message;
        return back;
    }
    std::vector<TDirectoryEntry> list() {
        std::vector<TDirectoryEntry> entries;
        auto r = wait([&](auto done) {
            sftp->List([&](const TDirectoryEntry& e) { entries.push_back(e); }, done);
        });
        EXPECT_TRUE(r.ok()) << r.message;
        return entries;
    }

    TempDir keys;
    std::unique_ptr<SshServerProcess> server;
    std::unique_ptr<morvane::platform::EventLoop> loop = morvane::platform::makePollEventLoop();
    std::unique_ptr<TSftpFileSystem> sftp = std::make_unique<TSftpFileSystem>(*loop);
    TRemoteLogin login;
    std::vector<THostKey> asked;
    THostKeyAnswer answer = THostKeyAnswer::Always;
};

} // namespace

TEST_F(Sftp, UnknownHostIsAskedAndOnlyAlwaysIsRemembered) {
    fs::path knownHosts = server->clientDir() / "known_hosts";
    answer = THostKeyAnswer::Cancel;
    auto r = connect();
    EXPECT_EQ(r.error, TRemoteError::Refused) << r.message;
    EXPECT_FALSE(sftp->Connected());
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].type, "ssh-ed25519");
    EXPECT_EQ(asked[0].fingerprint, Fingerprint(keys / "host.pub"));
    EXPECT_FALSE(fs::exists(knownHosts));

    answer = THostKeyAnswer::Once;
    r = connect();
    ASSERT_TRUE(r.ok()) << r.message;
    EXPECT_TRUE(sftp->Connected());
    EXPECT_EQ(sftp->Home(), server->root().string());
    EXPECT_EQ(asked.size(), 2u);
    EXPECT_FALSE(fs::exists(knownHosts));

    answer = THostKeyAnswer::Always;
    ASSERT_TRUE(connect().ok());
    EXPECT_EQ(asked.size(), 3u);
    EXPECT_EQ(KnownHostsLines(knownHosts.string(), "127.0.0.1", server->port()).size(), 1u);
    answer = THostKeyAnswer::Cancel;
    ASSERT_TRUE(connect().ok());
    EXPECT_EQ(asked.size(), 3u); // not asked again
}

TEST_F(Sftp, ChangedHostKeyIsRefusedNamingTheKnownHostsLine) {
    fs::path knownHosts = server->clientDir() / "known_hosts";
    std::ofstream(knownHosts) << "# other hosts\nexample.org ssh-ed25519 AAAAC3NzaC1lZDI1NTE5AAAAIA"
                                 "2x8c8r4ZmsUeGgqfWxGjSOjyE/+ClxPYtB/JgYqB8w\n";
    ASSERT_TRUE(connect().ok());
    EXPECT_EQ(KnownHostsLines(knownHosts.string(), "127.0.0.1", server->port()),
              std::vector<int>{3});
    sftp->Disconnect();
    int port = server->port();
    fs::path clientDir = keys / "client";
    fs::copy(server->clientDir(), clientDir);
    knownHosts = clientDir / "known_hosts";
    // Another server with another key on the same port, trusting the same client key.
    auto first = std::move(server);
    ASSERT_TRUE(MakeSshKey(keys / "other", "ed25519"));
    first.reset();
    auto second = std::make_unique<SshServerProcess>(port, keys / "other");
    ASSERT_EQ(second->error(), "");
    second->authorize(clientDir / "id_ed25519.pub");
    login.sshDir = clientDir.string(); // the first server's client folder is gone with it
    asked.clear();
    answer = THostKeyAnswer::Always;
    auto r = connect();
    EXPECT_EQ(r.error, TRemoteError::Refused);
    EXPECT_NE(r.message.find("line 3 of " + knownHosts.string()), std::string::npos) << r.message;
    EXPECT_NE(r.message.find(Fingerprint(keys / "other.pub")), std::string::npos) << r.message;
    EXPECT_TRUE(asked.empty()); // never a one-click "connect anyway"
    EXPECT_FALSE(sftp->Connected());
}

TEST_F(Sftp, HashedKnownHostsEntriesAreFound) {
    fs::path file = keys / "known_hosts";
    std::ofstream(file) << "[127.0.0.1]:2222 ssh-rsa AAAA\n";
    ASSERT_EQ(std::system(("ssh-keygen -q -H -f '" + file.string() + "' >/dev/null 2>&1").c_str()),
              0);
    EXPECT_EQ(KnownHostsLines(file.string(), "127.0.0.1", 2222), std::vector<int>{1});
    EXPECT_TRUE(KnownHostsLines(file.string(), "127.0.0.1", 22).empty());
    EXPECT_TRUE(KnownHostsLines(file.string(), "127.0.0.1", 2222, "ssh-ed25519").empty());
}

TEST_F(Sftp, LogsInThroughTheAgentThenAnEncryptedKeyThenFailsClearly) {
    // A client folder with no usable key: the agent holds the accepted one.
    TempDir bare;
    login.sshDir = bare.path().string();
    {
        SshAgentProcess agent(server->clientDir() / "id_ed25519");
        ASSERT_EQ(agent.error(), "");
        ::setenv("SSH_AUTH_SOCK", agent.socket().c_str(), 1);
        auto r = connect();
        ::unsetenv("SSH_AUTH_SOCK");
        ASSERT_TRUE(r.ok()) << r.message;
        sftp->Disconnect();
    }
    // A key with a passphrase: asked for it, a wrong one asked again.
    ASSERT_TRUE(MakeSshKey(bare / "id_ecdsa", "ecdsa", "right phrase"));
    server->authorize(bare / "id_ecdsa.pub");
    std::vector<std::string> phrases = {"wrong", "right phrase"};
    int askedFor = 0;
    login.passphrase = [&](const std::string& keyFile) -> std::optional<std::string> {
        EXPECT_EQ(keyFile, (bare / "id_ecdsa").string());
        return askedFor < 2 ? std::optional(phrases[std::size_t(askedFor++)]) : std::nullopt;
    };
    auto r = connect();
    ASSERT_TRUE(r.ok()) << r.message;
    EXPECT_EQ(askedFor, 2);
    sftp->Disconnect();

    // Passphrase refused, no password: a permission failure that says why.
    login.passphrase = [](const std::string&) { return std::nullopt; };
    r = connect();
    EXPECT_EQ(r.error, TRemoteError::Permission) << r.message;
    EXPECT_FALSE(sftp->Connected());
}

TEST_F(Sftp, WritesAndReadsEveryByteAndKeepsNamesAsTheyAre) {
    ASSERT_TRUE(connect().ok());
    std::string all;
    for (int i = 0; i < 256; ++i)
        all.push_back(char(i));
    std::string big;
    for (int i = 0; big.size() < 3 * 1024 * 1024 + 17; ++i)
        big += std::to_string(i) + (i % 3 ? "\r\n" : "\n");
    const std::vector<std::pair<std::string, std::string>> files = {
        {"lf.txt", "one\ntwo\n"},
        {"crlf.txt", "one\r\ntwo\r\n"},
        {"bytes.bin", all + all},
        {"big.txt", big},
        {"empty", ""},
        {"-dash.txt", "leading dash"},
        {"new\nline.txt", "name with a line break"},
    };
    for (const auto& [name, text] : files) {
        SCOPED_TRACE(name);
        std::int64_t progress = 0;
        auto r = wait([&](auto done) {
            sftp->Write(
                name, text, [&](std::int64_t n) { progress = n; }, done);
        });
        ASSERT_TRUE(r.ok()) << r.message;
        EXPECT_EQ(progress, std::int64_t(text.size()));
        EXPECT_EQ(readFile(server->root() / name), text);
        EXPECT_EQ(read(name), text);
        auto [sr, st] = stat(name);
        ASSERT_TRUE(sr.ok()) << sr.message;
        EXPECT_EQ(st.size, std::int64_t(text.size()));
        EXPECT_EQ(st.kind, TRemoteKind::File);
        EXPECT_EQ(st.precision, TTimePrecision::Second);
        EXPECT_EQ(st.time.size(), 14u);
    }
    std::vector<std::string> names;
    for (const auto& e : list())
        names.push_back(e.Name);
    for (const auto& [name, text] : files)
        EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name;

    // The save's last steps: permissions on the new file, then a rename over the old one.
    ASSERT_TRUE(wait([&](auto done) { sftp->Write(".lf.txt.tmp", "new\n", nullptr, done); }).ok());
    ASSERT_TRUE(wait([&](auto done) { sftp->Chmod(".lf.txt.tmp", 0640, done); }).ok());
    auto r = wait([&](auto done) { sftp->Rename(".lf.txt.tmp", "lf.txt", done); });
    ASSERT_TRUE(r.ok()) << r.message;
    EXPECT_EQ(readFile(server->root() / "lf.txt"), "new\n");
    EXPECT_FALSE(fs::exists(server->root() / ".lf.txt.tmp"));
    EXPECT_EQ(list().size(), files.size()); // nothing left aside
    auto [sr, st] = stat("lf.txt");
    EXPECT_EQ(st.mode.value_or(0), 0640);

    // Local downloads replace the file once complete.
    TempDir local;
    writeFile(local / "copy", "old");
    std::int64_t got = 0;
    r = wait([&](auto done) {
        sftp->ReadToFile(
            "big.txt", (local / "copy").string(), [&](std::int64_t n) { got = n; }, done);
    });
    ASSERT_TRUE(r.ok()) << r.message;
    EXPECT_EQ(readFile(local / "copy"), big);
    EXPECT_EQ(got, std::int64_t(big.size()));
}

TEST_F(Sftp, FoldersLinksAndTypedErrors) {
    ASSERT_TRUE(connect().ok());
    ASSERT_TRUE(wait([&](auto done) { sftp->MakeFolder("sub", done); }).ok());
    ASSERT_TRUE(wait([&](auto done) { sftp->ChangeDirectory("sub", done); }).ok());
    EXPECT_EQ(sftp->CurrentDirectory(), (server->root() / "sub").string());
    ASSERT_TRUE(wait([&](auto done) { sftp->Write("in.txt", "x", nullptr, done); }).ok());
    EXPECT_TRUE(fs::exists(server->root() / "sub" / "in.txt"));
    ASSERT_TRUE(wait([&](auto done) { sftp->ChangeDirectory("..", done); }).ok());
    EXPECT_EQ(sftp->CurrentDirectory(), server->root().string());
    auto r = wait([&](auto done) { sftp->RemoveFolder("sub", done); });
    EXPECT_FALSE(r.ok()); // not empty
    ASSERT_TRUE(wait([&](auto done) { sftp->Remove("sub/in.txt", done); }).ok());
    ASSERT_TRUE(wait([&](auto done) { sftp->RemoveFolder("sub", done); }).ok());

    TRemoteResult rr;
    read("missing.txt", &rr);
    EXPECT_EQ(rr.error, TRemoteError::NotFound) << rr.message;
    EXPECT_EQ(stat("missing.txt").first.error, TRemoteError::NotFound);
    EXPECT_EQ(wait([&](auto done) { sftp->ChangeDirectory("missing", done); }).error,
              TRemoteError::NotFound);
    EXPECT_TRUE(sftp->Connected()); // a failed request keeps the connection

    // A loop of links: listed as links, a stat answers, entering fails; nothing hangs.
    fs::create_symlink("b", server->root() / "a");
    fs::create_symlink("a", server->root() / "b");
    fs::create_symlink("target.txt", server->root() / "good");
    writeFile(server->root() / "target.txt", "through the link");
    int links = 0;
    for (const auto& e : list()) {
        if (e.Name == "a" || e.Name == "b" || e.Name == "good") {
            ++links;
            EXPECT_EQ(e.Attributes[0], 'l') << e.Name;
            EXPECT_EQ(e.Kind, 1);
        }
    }
    EXPECT_EQ(links, 3);
    auto [sr, st] = stat("a");
    EXPECT_TRUE(sr.ok()) << sr.message;
    EXPECT_EQ(st.kind, TRemoteKind::Link);
    EXPECT_FALSE(wait([&](auto done) { sftp->ChangeDirectory("a", done); }).ok());
    EXPECT_EQ(read("good"), "through the link");
    auto [gr, good] = stat("good");
    EXPECT_EQ(good.linkTarget, "target.txt");
    EXPECT_EQ(good.size, 16);
    EXPECT_TRUE(sftp->Connected());
}

TEST_F(Sftp, AConnectionKilledMidUploadFailsItAndLeavesTheOriginal) {
    ASSERT_TRUE(connect().ok());
    writeFile(server->root() / "doc.txt", "original\n");
    std::string text(64 * 1024 * 1024, 'x');
    bool killed = false;
    auto r = wait([&](auto done) {
        sftp->Write(
            ".doc.txt.tmp", text,
            [&](std::int64_t n) {
                if (!killed && n >= (4 << 20)) {
                    killed = true;
                    server->killConnections();
                }
            },
            done);
    });
    EXPECT_TRUE(killed);
    EXPECT_EQ(r.error, TRemoteError::ConnectionLost) << r.message;
    EXPECT_FALSE(sftp->Connected());
    EXPECT_EQ(readFile(server->root() / "doc.txt"), "original\n");
    EXPECT_LT(fs::file_size(server->root() / ".doc.txt.tmp"), text.size());
    // The next connect works.
    ASSERT_TRUE(connect().ok());
    EXPECT_EQ(read("doc.txt"), "original\n");
}

TEST_F(Sftp, CancelAndTimeoutEndTheOperationAtOnce) {
    ASSERT_TRUE(connect().ok());
    writeFile(server->root() / "big", std::string(32 * 1024 * 1024, 'y'));
    std::optional<TRemoteResult> r;
    std::size_t got = 0;
    sftp->Read(
        "big", [&](std::string_view b) { got += b.size(); },
        [&](const TRemoteResult& result) { r = result; });
    ASSERT_TRUE(RunUntil(
        *loop, [&] { return got > 0 || r; }, 20000));
    sftp->Cancel();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->error, TRemoteError::Cancelled);
    EXPECT_FALSE(sftp->Connected());
    ASSERT_TRUE(connect().ok());
    EXPECT_EQ(read("big").size(), 32u * 1024 * 1024);

    // A server that accepts and never speaks.
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(fd, 4), 0);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    login.port = ntohs(a.sin_port);
    sftp->SetReplyTimeout(std::chrono::milliseconds(500));
    auto t = connect();
    EXPECT_EQ(t.error, TRemoteError::Timeout) << t.message;
    ::close(fd);
}

TEST_F(Sftp, HandshakeFailuresAreReportedClearly) {
    // Key exchange only by a method this libssh does not know.
    auto odd = std::make_unique<SshServerProcess>(
        0, keys / "host", "KexAlgorithms sntrup761x25519-sha512@openssh.com\n");
    ASSERT_EQ(odd->error(), "");
    login.port = odd->port();
    auto r = connect();
    EXPECT_FALSE(r.ok());
    EXPECT_NE(r.message.find("SSH connection to 127.0.0.1 failed"), std::string::npos) << r.message;
    EXPECT_TRUE(asked.empty());
    EXPECT_FALSE(sftp->Connected());

    // A server that hangs up at once.
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(fd, 4), 0);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    login.port = ntohs(a.sin_port);
    std::optional<TRemoteResult> hungUp;
    sftp->SetLogin(login);
    sftp->Connect([&](const TRemoteResult& result) { hungUp = result; });
    ASSERT_TRUE(RunUntil(
        *loop,
        [&] {
            int c = ::accept(fd, nullptr, nullptr);
            if (c >= 0) ::close(c);
            return hungUp.has_value();
        },
        20000));
    EXPECT_EQ(hungUp->error, TRemoteError::ConnectionLost) << hungUp->message;
    ::close(fd);
}
