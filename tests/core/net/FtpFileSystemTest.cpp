// The FTP file system against a scripted server: typed errors from reply codes, Stat's round
// trips and what each says of the file, transfers, cancel and timeout.
#include "core/net/FtpFileSystem.h"

#include "NetTestUtil.h"
#include "ScriptedFtpServer.h"

#include <gtest/gtest.h>

#include <optional>

namespace morvane::net {
namespace {

using testing::RunUntil;
using testing::ScriptedFtpServer;

TEST(FtpReplyErrors, EachCodeHasItsType) {
    EXPECT_EQ(ErrorForReply(550, "550 No such file or directory"), TRemoteError::NotFound);
    EXPECT_EQ(ErrorForReply(550, "550 Permission denied"), TRemoteError::Permission);
    EXPECT_EQ(ErrorForReply(550, "550 Rename not permitted"), TRemoteError::Permission);
    EXPECT_EQ(ErrorForReply(530, "530 Login incorrect"), TRemoteError::Permission);
    EXPECT_EQ(ErrorForReply(452, "452 Insufficient storage"), TRemoteError::QuotaFull);
    EXPECT_EQ(ErrorForReply(552, "552 Quota exceeded"), TRemoteError::QuotaFull);
    EXPECT_EQ(ErrorForReply(553, "553 Hidden names not allowed"), TRemoteError::Refused);
    EXPECT_EQ(ErrorForReply(502, "502 Not implemented"), TRemoteError::Refused);
    EXPECT_EQ(ErrorForReply(421, "421 Timeout"), TRemoteError::ConnectionLost);
    // Passing troubles and no reply at all are plain failures, never a refusal.
    EXPECT_EQ(ErrorForReply(450, "450 File busy"), TRemoteError::Failed);
    EXPECT_EQ(ErrorForReply(426, "426 Transfer aborted"), TRemoteError::Failed);
    EXPECT_EQ(ErrorForReply(0, "Could not open a data port"), TRemoteError::Failed);
}

TEST(FtpStatusEntries, TheOnlyListingLineNamingTheFile) {
    auto entry = EntryFromStatus("213-Status follows:\n-rw-r--r--    1 0        0     6 Dec 09 "
                                 "01:06 a b.txt\n213 End of status",
                                 "a b.txt");
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->Size, 6);
    EXPECT_EQ(entry->Attributes, "-rw-r--r--");
    // The code repeated on the middle line, and a leading space.
    EXPECT_TRUE(
        EntryFromStatus("211-Status:\n211- -rwxr-xr-x 1 u g 9 Jan  1 2024 x.sh\n211 End", "x.sh"));
    // No line, another name, a single-line reply, and a folder's content (more than one line).
    EXPECT_FALSE(EntryFromStatus("213-Status follows:\n213 End of status", "a"));
    EXPECT_FALSE(EntryFromStatus("213-S\n-rw-r--r-- 1 u g 6 Jan  1 12:00 ab\n213 E", "a"));
    EXPECT_FALSE(EntryFromStatus("213 -rw-r--r-- 1 u g 6 Jan  1 12:00 a", "a"));
    EXPECT_FALSE(EntryFromStatus("213-S\n-rw-r--r-- 1 u g 6 Jan  1 12:00 a\n"
                                 "-rw-r--r-- 1 u g 6 Jan  1 12:00 b\n213 E",
                                 "a"));
}

struct FtpFs : ::testing::Test {
    ScriptedFtpServer server;
    std::unique_ptr<platform::EventLoop> loop = platform::makePollEventLoop();
    std::unique_ptr<TFtpFileSystem> fs = std::make_unique<TFtpFileSystem>(*loop);

    void start() {
        server.start();
        TRemoteLogin login;
        login.host = "127.0.0.1";
        login.port = server.port();
        login.user = "user";
        login.password = "secret";
        fs->SetLogin(login);
    }
    // Runs one operation to its end; the result of an operation that never ends fails the test.
    TRemoteResult wait(const std::function<void(TRemoteFileSystem::Done)>& op, int millis = 5000) {
        std::optional<TRemoteResult> r;
        op([&](const TRemoteResult& result) { r = result; });
        EXPECT_TRUE(RunUntil(
            *loop, [&] { return r.has_value(); }, millis));
        return r.value_or(TRemoteResult::Fail(TRemoteError::Failed, "never ended"));
    }
    bool connect() {
        return wait([&](auto done) { fs->Connect(done); }).ok();
    }
    std::pair<TRemoteResult, TRemoteStat> stat(const std::string& name, TStatNeeds needs = {}) {
        TRemoteStat st;
        auto r = wait([&](auto done) {
            fs->Stat(name, needs, [&st, done](const TRemoteResult& r, const TRemoteStat& s) {
                st = s;
                done(r);
            });
        });
        return {r, st};
    }
    std::vector<std::string> commands(const std::string& verb) {
        std::vector<std::string> out;
        for (auto& c : server.commands())
            if (c.rfind(verb, 0) == 0) out.push_back(c);
        return out;
    }
};

TEST_F(FtpFs, LoginGivesHomeAndARefusedLoginIsAPermissionErrorThatLeavesNothingOpen) {
    server.replies["PASS"] = "530 Login incorrect\r\n";
    start();
    auto r = wait([&](auto done) { fs->Connect(done); });
    EXPECT_EQ(r.error, TRemoteError::Permission);
    EXPECT_NE(r.message.find("530 Login incorrect"), std::string::npos);
    EXPECT_FALSE(fs->Connected());

    server.setReply("PASS", "230 Logged in\r\n");
    ASSERT_TRUE(connect());
    EXPECT_TRUE(fs->Connected());
    EXPECT_EQ(fs->Home(), "/home/user");
    EXPECT_EQ(commands("USER").size(), 2u);
}

TEST_F(FtpFs, StatAsksOnlyWhatIsNeededAndTellsAbsentFromUnknown) {
    server.replies["SIZE"] = "213 42\r\n";
    server.replies["MDTM"] = "213 20240101120000\r\n";
    server.replies["STAT"] = "213-Status follows:\r\n-rwxr-x---   1 u g 42 Jan  1 12:00 "
                             "a.txt\r\n213 End\r\n";
    start();
    ASSERT_TRUE(connect());
    auto [r, st] = stat("a.txt");
    ASSERT_TRUE(r.ok()) << r.message;
    EXPECT_EQ(st.size, 42);
    EXPECT_EQ(st.time, "20240101120000");
    EXPECT_EQ(st.precision, TTimePrecision::Second);
    EXPECT_EQ(st.kind, TRemoteKind::File);
    EXPECT_EQ(st.mode, 0750);
    EXPECT_TRUE(fs->Capabilities().preciseTimes);
    // Binary mode before the first size, once per login.
    EXPECT_EQ(commands("TYPE I").size(), 1u);

    // A precise time alone needs no entry.
    auto before = server.commands().size();
    auto [r2, st2] = stat("a.txt", {false, true, false});
    ASSERT_TRUE(r2.ok());
    auto all = server.commands();
    EXPECT_EQ(std::vector<std::string>(all.begin() + long(before), all.end()),
              std::vector<std::string>{"MDTM a.txt"});

    // 550 everywhere and a listing without the name: known to be absent.
    server.setReply("SIZE", "550 No such file\r\n");
    server.setReply("MDTM", "550 No such file\r\n");
    server.setReply("STAT", "213-Status follows:\r\n213 End\r\n");
    server.listing = "-rw-r--r-- 1 u g 1 Jan  1 12:00 other.txt\r\n";
    auto [r3, st3] = stat("gone.txt");
    EXPECT_EQ(r3.error, TRemoteError::NotFound);

    // Nothing answers and the folder may not be listed: nothing is known, which is no absence.
    server.setReply("SIZE", "502 No\r\n");
    server.setReply("STAT", "502 No\r\n");
    server.setReply("LIST", "550 Permission denied\r\n");
    auto [r4, st4] = stat("hidden.txt", {true, false, true});
    EXPECT_FALSE(r4.ok());
    EXPECT_NE(r4.error, TRemoteError::NotFound);
}

TEST_F(FtpFs, WithoutMdtmOrStatTheListingGivesTheEntryAndTheRefusalsAreRemembered) {
    server.replies["SIZE"] = "213 7\r\n";
    server.listing = "lrwxrwxrwx 1 u g 9 Jan  5  2023 link.txt -> real.txt\r\n"
                     "-rw-r--r-- 1 u g 7 Jan  1 12:00 a.txt\r\n";
    start();
    ASSERT_TRUE(connect());
    auto [r, st] = stat("a.txt");
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(st.precision, TTimePrecision::Minute);
    EXPECT_EQ(st.time, "Jan 1 12:00");
    EXPECT_EQ(st.mode, 0644);
    auto [rl, link] = stat("link.txt");
    ASSERT_TRUE(rl.ok());
    EXPECT_EQ(link.kind, TRemoteKind::Link);
    EXPECT_EQ(link.linkTarget, "real.txt");
    EXPECT_EQ(link.precision, TTimePrecision::Day);
    EXPECT_FALSE(fs->Capabilities().preciseTimes);
    // The server's 502 to MDTM and STAT is asked once only.
    EXPECT_EQ(commands("MDTM").size(), 1u);
    EXPECT_EQ(commands("STAT").size(), 1u);
    EXPECT_EQ(commands("LIST").size(), 2u);
}

TEST_F(FtpFs, ReadComesInPiecesAndWriteReportsWhatWasSent) {
    server.handlers["RETR"] = [](ScriptedFtpServer::Session& s, const std::string&) {
        s.send("150 Opening\r\n");
        if (!s.dataConnect()) return;
        for (int i = 0; i < 4; ++i) {
            s.dataSend("abcde");
            s.stall(20);
        }
        s.dataClose();
        s.send("226 Done\r\n");
    };
    start();
    ASSERT_TRUE(connect());
    std::string got;
    int pieces = 0;
    auto r = wait([&](auto done) {
        fs->Read(
            "f.txt",
            [&](std::string_view bytes) {
                got.append(bytes);
                ++pieces;
            },
            done);
    });
    ASSERT_TRUE(r.ok()) << r.message;
    EXPECT_EQ(got, "abcdeabcdeabcdeabcde");
    EXPECT_GT(pieces, 1);

    std::string text(3 * 1024 * 1024 + 5, 'x');
    std::int64_t last = -1;
    r = wait([&](auto done) {
        fs->Write(
            "big.bin", text, [&](std::int64_t sent) { last = sent; }, done);
    });
    ASSERT_TRUE(r.ok()) << r.message;
    EXPECT_EQ(last, std::int64_t(text.size()));
    EXPECT_EQ(server.stored("big.bin"), text);
}

TEST_F(FtpFs, FailuresCarryTheirTypeAndTheServersWords) {
    server.replies["RNFR"] = "550 Rename not permitted\r\n";
    server.replies["DELE"] = "550 No such file\r\n";
    server.replies["SITE"] = "500 SITE not understood\r\n";
    server.handlers["STOR"] = [](ScriptedFtpServer::Session& s, const std::string&) {
        s.send("150 Send it\r\n");
        if (!s.dataConnect()) return;
        s.dataReadAll();
        s.dataClose();
        s.send("452 Insufficient storage space\r\n");
    };
    start();
    ASSERT_TRUE(connect());
    auto r = wait([&](auto done) { fs->Rename("a", "b", done); });
    EXPECT_EQ(r.error, TRemoteError::Permission);
    EXPECT_NE(r.message.find("Rename not permitted"), std::string::npos);
    r = wait([&](auto done) { fs->Remove("a", done); });
    EXPECT_EQ(r.error, TRemoteError::NotFound);
    r = wait([&](auto done) { fs->Chmod("a", 0644, done); });
    EXPECT_EQ(r.error, TRemoteError::Refused);
    EXPECT_EQ(commands("SITE CHMOD"), std::vector<std::string>{"SITE CHMOD 644 a"});
    std::string text = "some bytes";
    r = wait([&](auto done) { fs->Write("a", text, nullptr, done); });
    EXPECT_EQ(r.error, TRemoteError::QuotaFull);
    EXPECT_NE(r.message.find("452 Insufficient storage space"), std::string::npos);
    EXPECT_TRUE(fs->Connected()); // none of these ends the session
    // A second operation while one runs is refused without disturbing the first.
    std::optional<TRemoteResult> first, second;
    fs->KeepAlive([&](const TRemoteResult& x) { first = x; });
    fs->KeepAlive([&](const TRemoteResult& x) { second = x; });
    ASSERT_TRUE(RunUntil(*loop, [&] { return first && second; }));
    EXPECT_TRUE(first->ok());
    EXPECT_EQ(second->error, TRemoteError::Failed);
}

TEST_F(FtpFs, DroppedCancelledAndSilentEndTheSessionEachWithItsOwnType) {
    int retrs = 0;
    server.handlers["RETR"] = [&](ScriptedFtpServer::Session& s, const std::string&) {
        if (++retrs == 1) return s.close(); // dropped
        s.send("150 Opening\r\n");
        s.stall(1500); // silent from now on
    };
    start();
    ASSERT_TRUE(connect());
    auto r = wait([&](auto done) { fs->Read("f", nullptr, done); });
    EXPECT_EQ(r.error, TRemoteError::ConnectionLost);
    EXPECT_FALSE(fs->Connected());

    // Operations on a closed connection fail the same way, from the loop.
    bool called = false;
    fs->Remove("f", [&](const TRemoteResult& x) {
        called = true;
        EXPECT_EQ(x.error, TRemoteError::ConnectionLost);
    });
    EXPECT_FALSE(called);
    ASSERT_TRUE(RunUntil(*loop, [&] { return called; }));

    ASSERT_TRUE(connect());
    std::optional<TRemoteResult> cancelled;
    fs->Read("f", nullptr, [&](const TRemoteResult& x) { cancelled = x; });
    ASSERT_TRUE(RunUntil(*loop, [&] { return retrs == 2; }));
    fs->Cancel();
    ASSERT_TRUE(cancelled.has_value()); // reported at once
    EXPECT_EQ(cancelled->error, TRemoteError::Cancelled);
    EXPECT_FALSE(fs->Connected());

    ASSERT_TRUE(connect());
    fs->SetReplyTimeout(std::chrono::milliseconds(200));
    r = wait([&](auto done) { fs->Read("f", nullptr, done); });
    EXPECT_EQ(r.error, TRemoteError::Timeout);
    EXPECT_TRUE(r.connectionEnded());
}

TEST_F(FtpFs, UmaskIsSentAfterLoginAndItsRefusalDoesNotFailTheLogin) {
    server.replies["SITE"] = "500 Unknown SITE command\r\n";
    start();
    TRemoteLogin login = fs->Login();
    login.umask = 22;
    fs->SetLogin(login);
    ASSERT_TRUE(connect());
    EXPECT_EQ(commands("SITE UMASK"), std::vector<std::string>{"SITE UMASK 022"});
}

} // namespace
} // namespace morvane::net
