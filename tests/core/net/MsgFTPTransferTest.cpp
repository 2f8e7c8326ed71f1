#include "NetTestUtil.h"
#include "ScriptedFtpServer.h"
#include "support/TempDir.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>

using namespace morvane::net;
using morvane::testing::FtpClientHarness;
using morvane::testing::RunFor;
using morvane::testing::RunUntil;
using morvane::testing::ScriptedFtpServer;
using Session = ScriptedFtpServer::Session;

namespace {

std::string AllBytes(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        s[i] = char((i * 131 + i / 256) & 255);
    return s;
}

std::string ListingOf(int n) {
    std::string s = "total 42\r\n";
    for (int i = 0; i < n; ++i)
        s += "-rw-r--r--   1 user  group " + std::to_string(i) + " Jan  1 12:00 file " +
             std::to_string(i) + ".txt\r\n";
    return s;
}

} // namespace

TEST(FtpTransfer, ListingReportsEveryEntry) {
    ScriptedFtpServer server;
    server.listing = "total 3\r\n"
                     "drwxr-xr-x 2 ftp ftp 4096 Jan  1 12:00 sub dir\r\n"
                     "lrwxrwxrwx 1 ftp ftp 11 Jan  1 12:00 www -> public_html\r\n"
                     "-rw-r--r-- 1 ftp ftp 3000000000 Jan  1  2020 big.iso\r\n";
    server.start();
    FtpClientHarness h;
    ASSERT_TRUE(h.connect(server.port()));
    h.ftp.ListDirectory();
    EXPECT_TRUE(h.ftp.Busy());
    ASSERT_TRUE(h.waitDone());
    EXPECT_EQ(h.lastDone().state, ftpListing);
    EXPECT_FALSE(h.lastDone().error) << h.ftp.ErrorMessage();
    ASSERT_EQ(h.ev.entries.size(), 3u);
    EXPECT_EQ(h.ev.entries[0].Name, "sub dir");
    EXPECT_EQ(h.ev.entries[1].Name, "www");
    EXPECT_EQ(h.ev.entries[2].Size, 3000000000LL);
    auto cmds = server.commands();
    EXPECT_THAT(cmds[4], ::testing::StartsWith("PORT 127,0,0,1,"));
    EXPECT_EQ(cmds[5], "LIST");

    // A receiver that aborts from inside a report hears nothing more.
    h.ev.entries.clear();
    h.ftp.OnDirectoryListing = [&](TMsgFTP* ftp, const std::string& name, auto&&...) {
        h.ev.entries.emplace_back().Name = name;
        ftp->Abort();
    };
    h.ftp.ListDirectory();
    ASSERT_TRUE(h.waitDone());
    EXPECT_TRUE(h.lastDone().error);
    RunFor(*h.loop, 100);
    EXPECT_EQ(h.ev.entries.size(), 1u);
    EXPECT_EQ(h.ev.done.size(), 2u);
}

TEST(FtpTransfer, LargeListingIsQuickAndComplete) {
    ScriptedFtpServer server;
    server.listing = ListingOf(100000);
    server.start();
    FtpClientHarness h;
    ASSERT_TRUE(h.connect(server.port()));
    auto t0 = std::chrono::steady_clock::now();
    h.ftp.ListDirectory();
    ASSERT_TRUE(h.waitDone(20000));
    EXPECT_FALSE(h.lastDone().error);
    EXPECT_EQ(h.ev.entries.size(), 100000u);
    EXPECT_EQ(h.ev.entries.back().Name, "file 99999.txt");
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(10));
}

TEST(FtpTransfer, RetrieveCompletesWhicheverComesLastCloseOr226) {
    for (bool replyFirst : {true, false}) {
        ScriptedFtpServer server;
        std::string content = AllBytes(300000);
        server.handlers["RETR"] = [&, replyFirst](Session& s, const std::string&) {
            s.send("150 Opening\r\n");
            s.dataConnect();
            s.dataSend(content);
            if (replyFirst) {
                s.send("226 Done\r\n");
                s.stall(100);
                s.dataClose();
            } else {
                s.dataClose();
                s.stall(100);
                s.send("226 Done\r\n");
            }
        };
        server.start();
        FtpClientHarness h;
        ASSERT_TRUE(h.connect(server.port()));
        std::string text = "old contents";
        h.ftp.RetrieveToString("f.bin", text);
        EXPECT_TRUE(text.empty());
        ASSERT_TRUE(h.waitDone());
        EXPECT_EQ(h.lastDone().state, ftpRetrieving);
        EXPECT_FALSE(h.lastDone().error) << h.ftp.ErrorMessage();
        EXPECT_TRUE(text == content) << "size " << text.size();
        EXPECT_EQ(h.ftp.ByteCount(), std::int64_t(content.size()));
        EXPECT_EQ(h.ev.progress.back(), std::int64_t(content.size()));
        RunFor(*h.loop, 150);
        EXPECT_EQ(h.ev.done.size(), 1u) << "done once";
    }
}

TEST(FtpTransfer, RetrieveToFileAndMissingFile) {
    morvane::testing::TempDir dir;
    ScriptedFtpServer server;
    server.files["a.bin"] = AllBytes(1 << 20);
    server.start();
    FtpClientHarness h;
    ASSERT_TRUE(h.connect(server.port()));
    std::string local = (dir / "a.bin").string();
    morvane::testing::writeFile(local, "previous longer contents that must go away");
    h.ftp.RetrieveToFile("a.bin", local);
    ASSERT_TRUE(h.waitDone());
    EXPECT_FALSE(h.lastDone().error) << h.ftp.ErrorMessage();
    EXPECT_TRUE(morvane::testing::readFile(local) == server.files["a.bin"]);

    h.ftp.RetrieveToFile("missing", (dir / "m").string());
    ASSERT_TRUE(h.waitDone());
    EXPECT_TRUE(h.lastDone().error);
    EXPECT_EQ(h.ftp.ErrorMessage(), "Host replied: 550 No such file");
    EXPECT_THROW(h.ftp.RetrieveToFile("a.bin", (dir / "no" / "such" / "dir").string()),
                 std::system_error);
    EXPECT_FALSE(h.ftp.Busy());
}

TEST(FtpTransfer, StoreSendsEveryByteIncludingNul) {
    ScriptedFtpServer server;
    server.start();
    FtpClientHarness h;
    ASSERT_TRUE(h.connect(server.port()));
    std::string content = AllBytes(3 << 20);
    h.ftp.StoreFromBuffer("up.bin", content);
    ASSERT_TRUE(h.waitDone(10000));
    EXPECT_EQ(h.lastDone().state, ftpStoring);
    EXPECT_FALSE(h.lastDone().error) << h.ftp.ErrorMessage();
    EXPECT_TRUE(server.stored("up.bin") == content) << server.stored("up.bin").size();
    EXPECT_EQ(h.ev.progress.back(), std::int64_t(content.size()) + 1);

    std::string empty;
    h.ftp.StoreFromBuffer("empty.txt", empty);
    ASSERT_TRUE(h.waitDone());
    EXPECT_FALSE(h.lastDone().error);
    EXPECT_EQ(server.commands().back(), "STOR empty.txt");
}

// A server that takes the bytes slowly fills the connection again and again: each partial
// write must resume exactly where the last one stopped, in both connection modes.
TEST(FtpTransfer, StoreThroughASlowReaderDeliversEveryByteInOrder) {
    std::string content = AllBytes(6 << 20);
    for (bool passive : {true, false}) {
        SCOPED_TRACE(passive ? "passive" : "active");
        ScriptedFtpServer server;
        std::string got;
        server.handlers["STOR"] = [&](Session& s, const std::string&) {
            s.send("150 Go\r\n");
            if (!s.dataConnect()) return;
            char buf[32768];
            for (int i = 0; i < 4000; ++i) { // bounded: 6 MB in 32 KB reads with pauses
                pollfd p{s.dataFd, POLLIN, 0};
                if (::poll(&p, 1, 5000) <= 0) break;
                ssize_t n = ::recv(s.dataFd, buf, sizeof buf, 0);
                if (n <= 0) break;
                got.append(buf, std::size_t(n));
                if (i % 8 == 0) s.stall(1);
            }
            s.dataClose();
            s.send("226 Done\r\n");
        };
        server.start();
        FtpClientHarness h;
        h.ftp.SetPassive(passive);
        ASSERT_TRUE(h.connect(server.port()));
        h.ftp.StoreFromBuffer("up.bin", content);
        ASSERT_TRUE(h.waitDone(30000));
        EXPECT_FALSE(h.lastDone().error) << h.ftp.ErrorMessage();
        EXPECT_TRUE(got == content) << got.size();
        // Progress only grows and ends one past the last byte (how many steps it takes depends on
        // how much the kernel buffers, so the count is not checked).
        ASSERT_FALSE(h.ev.progress.empty());
        EXPECT_TRUE(std::is_sorted(h.ev.progress.begin(), h.ev.progress.end()));
        EXPECT_EQ(h.ev.progress.back(), std::int64_t(content.size()) + 1);
    }
}

// A file goes out block by block as it is read: every byte, whatever its size; a file that
// cannot be opened fails before anything is sent.
TEST(FtpTransfer, StoreFromFileSendsEveryByteAndAMissingFileSendsNothing) {
    morvane::testing::TempDir dir;
    ScriptedFtpServer server;
    server.start();
    FtpClientHarness h;
    ASSERT_TRUE(h.connect(server.port()));
    for (std::size_t size : {std::size_t(0), std::size_t(1), std::size_t((3 << 20) + 12345)}) {
        std::string content = AllBytes(size);
        std::string local = (dir / ("f" + std::to_string(size))).string();
        morvane::testing::writeFile(local, content);
        h.ftp.StoreFromFile("up.bin", local);
        ASSERT_TRUE(h.waitDone(10000));
        EXPECT_FALSE(h.lastDone().error) << h.ftp.ErrorMessage();
        EXPECT_TRUE(server.stored("up.bin") == content) << size;
        if (size > 0) {
            EXPECT_EQ(h.ev.progress.back(), std::int64_t(size) + 1);
        }
    }
    std::size_t stores = server.commands().size();
    EXPECT_THROW(h.ftp.StoreFromFile("up.bin", (dir / "missing").string()), std::system_error);
    EXPECT_THROW(h.ftp.StoreFromFile("up.bin", dir.path().string()), std::system_error);
    EXPECT_FALSE(h.ftp.Busy());
    EXPECT_EQ(server.commands().size(), stores);
}

// A file cut short while it is sent is not passed off as complete.
TEST(FtpTransfer, AFileThatShrinksWhileStoredFailsTheTransfer) {
    morvane::testing::TempDir dir;
    std::string local = (dir / "big.bin").string();
    morvane::testing::writeFile(local, AllBytes(32 << 20));
    ScriptedFtpServer server;
    server.handlers["STOR"] = [&](Session& s, const std::string&) {
        s.send("150 Go\r\n");
        if (!s.dataConnect()) return;
        char buf[65536];
        pollfd p{s.dataFd, POLLIN, 0};
        if (::poll(&p, 1, 5000) > 0) ::recv(s.dataFd, buf, sizeof buf, 0);
        // Far less has been read than the file held: the rest is gone.
        std::filesystem::resize_file(local, 1 << 20);
        s.dataReadAll();
        s.dataClose();
        s.send("226 Done\r\n");
    };
    server.start();
    FtpClientHarness h;
    ASSERT_TRUE(h.connect(server.port()));
    h.ftp.StoreFromFile("up.bin", local);
    ASSERT_TRUE(h.waitDone(30000));
    EXPECT_TRUE(h.lastDone().error);
    EXPECT_NE(h.ftp.ErrorMessage().find("size changed"), std::string::npos) << h.ftp.ErrorMessage();
}

// The server stops reading part way and says so: the store fails, never reports success.
TEST(FtpTransfer, AStoreCutShortByTheServerFails) {
    ScriptedFtpServer server;
    std::size_t taken = 0;
    server.handlers["STOR"] = [&](Session& s, const std::string&) {
        s.send("150 Go\r\n");
        if (!s.dataConnect()) return;
        char buf[65536];
        while (taken < (1u << 20)) {
            pollfd p{s.dataFd, POLLIN, 0};
            if (::poll(&p, 1, 5000) <= 0) break;
            ssize_t n = ::recv(s.dataFd, buf, sizeof buf, 0);
            if (n <= 0) break;
            taken += std::size_t(n);
        }
        s.dataClose(); // with bytes unread: the client's next writes fail
        s.send("426 Connection closed; transfer aborted\r\n");
    };
    server.start();
    FtpClientHarness h;
    ASSERT_TRUE(h.connect(server.port()));
    std::string content = AllBytes(32 << 20);
    h.ftp.StoreFromBuffer("up.bin", content);
    ASSERT_TRUE(h.waitDone(30000));
    EXPECT_EQ(h.lastDone().state, ftpStoring);
    EXPECT_TRUE(h.lastDone().error);
    EXPECT_LT(taken, content.size());
    auto& log = h.ftp.CommandLog();
    for (auto& line : log)
        EXPECT_EQ(line.find("Transfer complete"), std::string::npos) << line;
    EXPECT_FALSE(h.ftp.Busy());
}

TEST(FtpTransfer, DataConnectionBeforeThePreliminaryReply) {
    ScriptedFtpServer server;
    std::string content = AllBytes(100000);
    // This server connects as soon as it has the PORT command.
    server.handlers["PORT"] = [](Session& s, const std::string&) {
        s.dataConnect();
        s.send("200 PORT ok\r\n");
    };
    server.handlers["RETR"] = [&](Session& s, const std::string&) {
        s.dataSend(content);
        s.dataClose();
        s.send("150 Here it comes\r\n226 Done\r\n");
    };
    server.handlers["STOR"] = [](Session& s, const std::string&) {
        s.send("150 Go\r\n");
        std::string got = s.dataReadAll();
        s.dataClose();
        s.send("226 Got " + std::to_string(got.size()) + "\r\n");
    };
    server.start();
    FtpClientHarness h;
    ASSERT_TRUE(h.connect(server.port()));
    std::string text;
    h.ftp.RetrieveToString("x", text);
    ASSERT_TRUE(h.waitDone());
    EXPECT_FALSE(h.lastDone().error) << h.ftp.ErrorMessage();
    EXPECT_TRUE(text == content);

    h.ftp.StoreFromBuffer("y", content);
    ASSERT_TRUE(h.waitDone());
    EXPECT_FALSE(h.lastDone().error) << h.ftp.ErrorMessage();
    EXPECT_TRUE(RunUntil(*h.loop, [&] {
        for (auto& l : h.ftp.CommandLog())
            if (l == "<- 226 Got 100000") return true;
        return false;
    }));
}

TEST(FtpTransfer, DataConnectionFromAnotherAddressIsRefused) {
    ScriptedFtpServer server;
    server.handlers["RETR"] = [](Session& s, const std::string&) {
        s.send("150 Opening\r\n");
        s.dataBindHost = "127.0.0.2"; // an intruder racing for the port
        s.dataConnect();
        s.dataSend("injected");
        s.dataClose();
        s.stall(100);
        s.dataBindHost.clear();
        s.dataConnect();
        s.dataSend("genuine");
        s.dataClose();
        s.send("226 Done\r\n");
    };
    server.start();
    FtpClientHarness h;
    ASSERT_TRUE(h.connect(server.port()));
    std::string text;
    h.ftp.RetrieveToString("x", text);
    ASSERT_TRUE(h.waitDone());
    EXPECT_FALSE(h.lastDone().error);
    EXPECT_EQ(text, "genuine");
    auto& log = h.ftp.CommandLog();
    EXPECT_NE(std::find(log.begin(), log.end(), "<- Refused data connection from 127.0.0.2"),
              log.end());
}

TEST(FtpTransfer, ErrorReplyInTheMiddleEndsTheTransfer) {
    ScriptedFtpServer server;
    server.handlers["RETR"] = [](Session& s, const std::string&) {
        s.send("150 Opening\r\n");
        s.dataConnect();
        s.dataSend(std::string(50000, 'a'));
        s.send("421 Timeout, closing control connection\r\n");
        s.stall(50);
        s.close();
    };
    server.start();
    FtpClientHarness h;
    ASSERT_TRUE(h.connect(server.port()));
    std::string text;
    h.ftp.RetrieveToString("x", text);
    ASSERT_TRUE(h.waitDone());
    EXPECT_EQ(h.lastDone().state, ftpRetrieving);
    EXPECT_TRUE(h.lastDone().error);
    EXPECT_EQ(h.ftp.ErrorMessage(), "Host replied: 421 Timeout, closing control connection");
    ASSERT_TRUE(RunUntil(*h.loop, [&] { return h.ftp.State() == ftpNotConnected; }));
    EXPECT_EQ(h.ftp.DataSocket().State(), wsClosed);
    EXPECT_EQ(h.ftp.ListenSocket().State(), wsClosed);
}

TEST(FtpTransfer, StalledTransfersWaitForAbort) {
    // One data connection never opens, the other closes early with no final reply.
    for (bool opens : {false, true}) {
        ScriptedFtpServer server;
        server.handlers["LIST"] = [opens](Session& s, const std::string&) {
            s.send("150 Opening\r\n");
            if (opens) {
                s.dataConnect();
                s.dataSend("-rw-r--r-- 1 u g 1 Jan 1 2020 a\r\n");
                s.dataClose();
            }
        };
        server.start();
        FtpClientHarness h;
        ASSERT_TRUE(h.connect(server.port()));
        h.ftp.ListDirectory();
        EXPECT_FALSE(h.waitDone(300));
        EXPECT_EQ(h.ftp.State(), ftpListing);
        h.ftp.Abort();
        ASSERT_EQ(h.ev.done.size(), 1u);
        EXPECT_EQ(h.ev.done[0].state, ftpListing);
        EXPECT_TRUE(h.ev.done[0].error);
        EXPECT_TRUE(h.ftp.Aborted());
        EXPECT_FALSE(h.ftp.Busy());
        EXPECT_EQ(h.ftp.State(), ftpNotConnected);
        RunFor(*h.loop, 100);
        EXPECT_EQ(h.ev.done.size(), 1u);
    }
}

TEST(FtpTransfer, CommandsWhileBusyAreIgnored) {
    ScriptedFtpServer server;
    server.handlers["LIST"] = [](Session& s, const std::string&) {
        s.send("150 Opening\r\n");
        s.stall(200);
        s.dataConnect();
        s.dataClose();
        s.send("226 Done\r\n");
    };
    server.start();
    FtpClientHarness h;
    ASSERT_TRUE(h.connect(server.port()));
    h.ftp.ListDirectory();
    h.ftp.Noop();
    h.ftp.ListDirectory();
    ASSERT_TRUE(h.waitDone());
    EXPECT_EQ(h.lastDone().state, ftpListing);
    RunFor(*h.loop, 100);
    EXPECT_EQ(h.ev.done.size(), 1u);
    auto cmds = server.commands();
    EXPECT_EQ(std::count(cmds.begin(), cmds.end(), "NOOP"), 0);
}

TEST(FtpTransfer, AFailedDownloadLeavesTheOldFileAsItWas) {
    namespace fs = std::filesystem;
    ScriptedFtpServer server;
    server.files["new.txt"] = "new contents";
    server.handlers["RETR"] = [](Session& s, const std::string& name) {
        if (name == "new.txt") {
            s.send("150 Opening\r\n");
            s.dataConnect();
            s.dataSend("new contents");
            s.dataClose();
            s.send("226 Done\r\n");
        } else if (name == "cut.txt") { // part of the bytes, then a failure
            s.send("150 Opening\r\n");
            s.dataConnect();
            s.dataSend("partial");
            s.dataClose();
            s.send("426 Connection closed; transfer aborted\r\n");
        } else if (name == "stall.txt") {
            s.send("150 Opening\r\n");
            s.dataConnect();
            s.dataSend("partial");
        } else {
            s.send("550 No such file\r\n");
        }
    };
    server.start();
    morvane::testing::TempDir dir;
    std::string local = (dir / "keep.txt").string();
    morvane::testing::writeFile(local, "the user's own text");
    ::chmod(local.c_str(), 0640);
    auto onlyTheFile = [&] {
        std::vector<std::string> names;
        for (auto& e : fs::directory_iterator(dir.path()))
            names.push_back(e.path().filename().string());
        return names == std::vector<std::string>{"keep.txt"};
    };

    FtpClientHarness h;
    ASSERT_TRUE(h.connect(server.port()));
    for (std::string name : {"missing.txt", "cut.txt"}) {
        h.ftp.RetrieveToFile(name, local);
        ASSERT_TRUE(h.waitDone()) << name;
        EXPECT_TRUE(h.lastDone().error) << name;
        EXPECT_EQ(morvane::testing::readFile(local), "the user's own text") << name;
        EXPECT_TRUE(onlyTheFile()) << name;
    }
    h.ftp.RetrieveToFile("stall.txt", local);
    RunFor(*h.loop, 100);
    h.ftp.Abort();
    EXPECT_EQ(morvane::testing::readFile(local), "the user's own text");
    EXPECT_TRUE(onlyTheFile());

    // A completed download replaces the file and keeps its permissions.
    FtpClientHarness g;
    ASSERT_TRUE(g.connect(server.port()));
    g.ftp.RetrieveToFile("new.txt", local);
    ASSERT_TRUE(g.waitDone());
    EXPECT_FALSE(g.lastDone().error) << g.ftp.ErrorMessage();
    EXPECT_EQ(morvane::testing::readFile(local), "new contents");
    EXPECT_EQ(fs::status(local).permissions(), fs::perms(0640));
    EXPECT_TRUE(onlyTheFile());

    // Through a symbolic link the file it names gets the download; the link stays.
    fs::create_directory(dir / "real");
    morvane::testing::writeFile(dir / "real" / "target.txt", "old");
    fs::create_symlink(dir / "real" / "target.txt", dir / "link.txt");
    g.ftp.RetrieveToFile("new.txt", (dir / "link.txt").string());
    ASSERT_TRUE(g.waitDone());
    EXPECT_FALSE(g.lastDone().error) << g.ftp.ErrorMessage();
    EXPECT_TRUE(fs::is_symlink(dir / "link.txt"));
    EXPECT_EQ(morvane::testing::readFile(dir / "real" / "target.txt"), "new contents");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "real"), fs::directory_iterator()), 1);

    // A folder is never taken for the file.
    EXPECT_THROW(g.ftp.RetrieveToFile("new.txt", (dir / "real").string()), std::system_error);
    EXPECT_FALSE(g.ftp.Busy());

    // A device or a pipe has no old contents to keep: the bytes go straight into it.
    g.ftp.RetrieveToFile("new.txt", "/dev/null");
    ASSERT_TRUE(g.waitDone());
    EXPECT_FALSE(g.lastDone().error) << g.ftp.ErrorMessage();
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
    int reader = ::open((dir / "pipe").c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    g.ftp.RetrieveToFile("new.txt", (dir / "pipe").string());
    ASSERT_TRUE(g.waitDone());
    EXPECT_FALSE(g.lastDone().error) << g.ftp.ErrorMessage();
    char got[64] = {};
    EXPECT_EQ(::read(reader, got, sizeof got), ssize_t(12));
    EXPECT_EQ(std::string(got), "new contents");
    ::close(reader);
    EXPECT_TRUE(fs::is_fifo(dir / "pipe"));
}
