// The remote document's session against a scripted server that misbehaves on purpose.
#include "core/app/RemoteSession.h"

#include "NetTestUtil.h"
#include "ScriptedFtpServer.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>

namespace morvane::app {
namespace {

using testing::RunUntil;
using testing::ScriptedFtpServer;

struct RecordingHost : TRemoteSessionHost {
    std::vector<std::string> statuses, failures, retryQuestions, changedQuestions, notes,
        inPlaceQuestions;
    std::vector<bool> closeFlags;
    std::string text;
    int downloads = 0, saves = 0, closes = 0, loginFailures = 0;
    std::deque<bool> retryAnswers;
    std::deque<TChangedAnswer> changedAnswers;
    std::deque<bool> inPlaceAnswers;
    bool createMirror = true;
    bool takesPieces = false;
    std::vector<std::string> pieces;
    int piecesDone = 0;

    bool TakesPieces() override { return takesPieces; }
    void DownloadPiece(std::string_view bytes) override { pieces.emplace_back(bytes); }
    void DownloadDone() override { ++piecesDone; }
    std::string joinedPieces() const {
        std::string all;
        for (const auto& p : pieces)
            all += p;
        return all;
    }

    void SessionStatus(const std::string& t) override { statuses.push_back(t); }
    void SessionProgress(bool, std::int64_t, std::int64_t) override {}
    void SessionBusyChanged() override {}
    void Downloaded(std::string& bytes) override {
        text = bytes;
        ++downloads;
    }
    void SessionLoginFailed() override { ++loginFailures; }
    void SessionFailed(const std::string& message, bool close) override {
        failures.push_back(message);
        closeFlags.push_back(close);
    }
    bool AskRetrySave(const std::string& message) override {
        retryQuestions.push_back(message);
        if (retryAnswers.empty()) return false;
        bool r = retryAnswers.front();
        retryAnswers.pop_front();
        return r;
    }
    TChangedAnswer AskChanged(const std::string& q) override {
        changedQuestions.push_back(q);
        if (changedAnswers.empty()) return TChangedAnswer::Cancel;
        auto r = changedAnswers.front();
        changedAnswers.pop_front();
        return r;
    }
    bool AskCreateMirrorFolder(const std::string&) override { return createMirror; }
    bool AskWriteInPlace(const std::string& q) override {
        inPlaceQuestions.push_back(q);
        if (inPlaceAnswers.empty()) return false;
        bool r = inPlaceAnswers.front();
        inPlaceAnswers.pop_front();
        return r;
    }
    void Saved() override { ++saves; }
    void Note(const std::string& t) override { notes.push_back(t); }
    void CloseRequested() override { ++closes; }
};

// A server whose SIZE, MDTM and LIST answer from its files map, and which keeps renames.
struct SessionFixture : ::testing::Test {
    ScriptedFtpServer server;
    std::unique_ptr<platform::EventLoop> loop = platform::makePollEventLoop();
    RecordingHost host;
    std::unique_ptr<TRemoteSession> session;
    std::map<std::string, std::string> mdtm; // name -> time; absent: 550
    std::mutex m;

    void SetUp() override {
        server.files["page.html"] = "line one\nline two\n";
        mdtm["page.html"] = "20240101120000";
        server.handlers["SIZE"] = [this](ScriptedFtpServer::Session& s, const std::string& a) {
            std::string content;
            bool have = lookup(a, content);
            s.send(have ? "213 " + std::to_string(content.size()) + "\r\n"
                        : "550 No such file\r\n");
        };
        server.handlers["MDTM"] = [this](ScriptedFtpServer::Session& s, const std::string& a) {
            std::lock_guard lock(m);
            auto it = mdtm.find(a);
            s.send(it == mdtm.end() ? "550 No such file\r\n" : "213 " + it->second + "\r\n");
        };
        server.handlers["LIST"] = [this](ScriptedFtpServer::Session& s, const std::string&) {
            std::string listing;
            {
                std::lock_guard lock(m);
                for (auto& [name, content] : server.files)
                    listing += "-rw-r--r--   1 user group " + std::to_string(content.size()) +
                               " Jan  1 12:00 " + name + "\r\n";
            }
            s.send("150 Here it comes\r\n");
            if (!s.dataConnect()) return s.send("425 No data connection\r\n");
            s.dataSend(listing);
            s.dataClose();
            s.send("226 Done\r\n");
        };
        server.handlers["RETR"] = [this](ScriptedFtpServer::Session& s, const std::string& a) {
            std::string content;
            if (!lookup(a, content)) return s.send("550 No such file\r\n");
            s.send("150 Opening\r\n");
            if (!s.dataConnect()) return s.send("425 No data connection\r\n");
            s.dataSend(content);
            s.dataClose();
            s.send("226 Done\r\n");
        };
        server.handlers["STOR"] = [this](ScriptedFtpServer::Session& s, const std::string& a) {
            s.send("150 Send it\r\n");
            if (!s.dataConnect()) return s.send("425 No data connection\r\n");
            std::string bytes = s.dataReadAll();
            s.dataClose();
            {
                std::lock_guard lock(m);
                server.files[a] = bytes;
            }
            s.send("226 Stored\r\n");
        };
        server.handlers["RNFR"] = [this](ScriptedFtpServer::Session& s, const std::string& a) {
            renameFrom = a;
            s.send("350 Go on\r\n");
        };
        server.handlers["RNTO"] = [this](ScriptedFtpServer::Session& s, const std::string& a) {
            std::lock_guard lock(m);
            server.files[a] = server.files[renameFrom];
            server.files.erase(renameFrom);
            // A rename keeps the file's time; a fresh upload has a new one.
            auto from = mdtm.find(renameFrom);
            std::string time = from != mdtm.end() ? from->second : "20240101130000";
            if (from != mdtm.end()) mdtm.erase(from);
            mdtm[a] = time;
            s.send("250 Renamed\r\n");
        };
        server.handlers["DELE"] = [this](ScriptedFtpServer::Session& s, const std::string& a) {
            std::lock_guard lock(m);
            bool had = server.files.erase(a) > 0;
            s.send(had ? "250 Deleted\r\n" : "550 No such file\r\n");
        };
    }

    bool lookup(const std::string& name, std::string& content) {
        std::lock_guard lock(m);
        auto it = server.files.find(name);
        if (it == server.files.end()) return false;
        content = it->second;
        return true;
    }
    std::string file(const std::string& name) {
        std::string c;
        lookup(name, c);
        return c;
    }
    bool has(const std::string& name) {
        std::string c;
        return lookup(name, c);
    }
    std::vector<std::string> commandsStartingWith(const std::string& verb) {
        std::vector<std::string> out;
        for (auto& c : server.commands())
            if (c.rfind(verb, 0) == 0) out.push_back(c);
        return out;
    }

    void start() {
        server.start();
        session = std::make_unique<TRemoteSession>(*loop, host);
        session->SetReplyTimeout(std::chrono::milliseconds(3000));
        net::TAccount account;
        account.Name = "site";
        session->SetAccount(account);
        net::TRemoteLogin login;
        login.host = "127.0.0.1";
        login.port = server.port();
        login.user = "user";
        login.password = "secret";
        session->FileSystem().SetLogin(login);
        session->SetLocation("/home/user", "page.html");
    }
    bool idle(int millis = 8000) {
        return RunUntil(
            *loop, [&] { return !session->Busy(); }, millis);
    }
    void openFile() {
        session->Open();
        ASSERT_TRUE(idle());
        ASSERT_EQ(host.downloads, 1);
    }

    // STAT NAME as a Unix server answers it: the file's listing line between two 213 lines,
    // with the attributes modes() gives for the how-manyth STAT this is.
    int stats = 0;
    void serveStat(std::function<std::string(int)> modes) {
        server.handlers["STAT"] = [this, modes](ScriptedFtpServer::Session& s,
                                                const std::string& a) {
            std::string content;
            if (!lookup(a, content)) return s.send("213-Status follows:\r\n213 End of status\r\n");
            s.send("213-Status follows:\r\n" + modes(++stats) + "    1 0        0      " +
                   std::to_string(content.size()) + " Jan 01 12:00 " + a +
                   "\r\n213 End of status\r\n");
        };
    }

    std::string renameFrom;
};

TEST_F(SessionFixture, OpenDownloadsInBinaryAndSaveReplacesThroughATemporaryName) {
    start();
    openFile();
    EXPECT_EQ(host.text, "line one\nline two\n");
    EXPECT_FALSE(commandsStartingWith("TYPE I").empty());
    // The status bar names the account it connects to.
    ASSERT_FALSE(host.statuses.empty());
    EXPECT_EQ(host.statuses.front(), "Connecting to site\u2026");

    const char raw[] = "new\r\ntext with \0 NUL\r\n\x80\xff";
    std::string bytes(raw, sizeof raw - 1);
    session->Save(bytes);
    EXPECT_TRUE(session->Busy()); // at once, before any reply
    ASSERT_TRUE(idle());
    EXPECT_EQ(host.saves, 1);
    EXPECT_TRUE(host.failures.empty());
    EXPECT_EQ(file("page.html"), bytes);
    EXPECT_FALSE(has(".page.html.morvane-tmp"));
    EXPECT_EQ(commandsStartingWith("STOR").front(), "STOR .page.html.morvane-tmp");
    EXPECT_EQ(commandsStartingWith("RNTO").front(), "RNTO page.html");
    // The mode did not change, so no CHMOD is sent.
    EXPECT_TRUE(commandsStartingWith("SITE CHMOD").empty());

    // A second save compares with what the first one left (its own new time): no question.
    session->Save("again\n");
    ASSERT_TRUE(idle());
    EXPECT_TRUE(host.changedQuestions.empty());
    EXPECT_EQ(file("page.html"), "again\n");
}

TEST_F(SessionFixture, RefusedTemporaryNameFallsBackToPlainStoreAndSaysSoOnce) {
    server.handlers["STOR"] = [this](ScriptedFtpServer::Session& s, const std::string& a) {
        if (a[0] == '.') return s.send("553 Hidden names not allowed\r\n");
        s.send("150 Send it\r\n");
        if (!s.dataConnect()) return s.send("425 No data connection\r\n");
        std::string bytes = s.dataReadAll();
        s.dataClose();
        {
            std::lock_guard lock(m);
            server.files[a] = bytes;
            mdtm[a] = "20240101130000";
        }
        s.send("226 Stored\r\n");
    };
    start();
    openFile();
    session->Save("one\n");
    ASSERT_TRUE(idle());
    session->Save("two\n");
    ASSERT_TRUE(idle());
    EXPECT_EQ(file("page.html"), "two\n");
    EXPECT_EQ(host.saves, 2);
    EXPECT_EQ(host.notes.size(), 1u);
    EXPECT_TRUE(host.failures.empty() && host.retryQuestions.empty());
}

// A full disk refuses the temporary file too, but writing in place would not fit either.
TEST_F(SessionFixture, AFullDiskOnTheTemporaryNameFailsTheSaveInsteadOfWritingInPlace) {
    server.handlers["STOR"] = [](ScriptedFtpServer::Session& s, const std::string&) {
        s.send("552 Quota exceeded\r\n");
    };
    start();
    openFile();
    session->Save("new\n");
    ASSERT_TRUE(idle());
    ASSERT_EQ(host.retryQuestions.size(), 1u);
    EXPECT_NE(host.retryQuestions[0].find("552 Quota exceeded"), std::string::npos);
    EXPECT_TRUE(commandsStartingWith("RNFR").empty());
    EXPECT_TRUE(commandsStartingWith("STOR page.html").empty());
    EXPECT_EQ(file("page.html"), "line one\nline two\n");
}

TEST_F(SessionFixture, WithNoRenameAtAllTheUserDecidesAboutWritingInPlace) {
    server.handlers["RNFR"] = [](ScriptedFtpServer::Session& s, const std::string&) {
        s.send("550 Rename not permitted\r\n");
    };
    start();
    openFile();
    // No: nothing is written, the temporary file is gone, the text stays unsaved.
    session->Save("direct\n");
    ASSERT_TRUE(idle());
    ASSERT_EQ(host.inPlaceQuestions.size(), 1u);
    EXPECT_NE(host.inPlaceQuestions[0].find("cut short"), std::string::npos);
    EXPECT_EQ(file("page.html"), "line one\nline two\n");
    EXPECT_TRUE(commandsStartingWith("STOR page.html").empty());
    EXPECT_FALSE(has(".page.html.morvane-tmp"));
    EXPECT_EQ(host.saves, 0);
    EXPECT_TRUE(host.retryQuestions.empty());

    host.inPlaceAnswers = {true};
    session->Save("direct\n");
    ASSERT_TRUE(idle());
    EXPECT_EQ(host.inPlaceQuestions.size(), 2u);
    EXPECT_EQ(file("page.html"), "direct\n");
    EXPECT_FALSE(has(".page.html.morvane-tmp"));
    EXPECT_EQ(host.saves, 1);
}

TEST_F(SessionFixture, ShortTemporaryFileFailsTheSaveAndLeavesTheOriginal) {
    // The server keeps only half of what it was sent.
    server.handlers["SIZE"] = [this](ScriptedFtpServer::Session& s, const std::string& a) {
        std::string content;
        if (!lookup(a, content)) return s.send("550 No such file\r\n");
        s.send("213 " + std::to_string(a[0] == '.' ? content.size() / 2 : content.size()) + "\r\n");
    };
    start();
    openFile();
    session->Save("a text of some length\n");
    ASSERT_TRUE(idle());
    EXPECT_EQ(host.saves, 0);
    ASSERT_EQ(host.retryQuestions.size(), 1u);
    EXPECT_NE(host.retryQuestions[0].find("Error saving file 'page.html':\r\n"), std::string::npos);
    EXPECT_EQ(file("page.html"), "line one\nline two\n");
    EXPECT_FALSE(has(".page.html.morvane-tmp"));
    EXPECT_TRUE(commandsStartingWith("RNFR").empty());
}

TEST_F(SessionFixture, ConnectionDroppedMidUploadKeepsOriginalAndRetryFinishesTheSave) {
    int stores = 0;
    server.handlers["STOR"] = [&](ScriptedFtpServer::Session& s, const std::string& a) {
        s.send("150 Send it\r\n");
        if (!s.dataConnect()) return s.send("425 No data connection\r\n");
        if (++stores == 1) { // read a little, then drop everything
            s.stall(50);
            s.dataClose();
            s.close();
            return;
        }
        std::string bytes = s.dataReadAll();
        s.dataClose();
        {
            std::lock_guard lock(m);
            server.files[a] = bytes;
        }
        s.send("226 Stored\r\n");
    };
    start();
    openFile();
    host.retryAnswers = {true};
    std::string big(3 * 1024 * 1024, 'x');
    session->Save(big);
    ASSERT_TRUE(idle(15000));
    ASSERT_EQ(host.retryQuestions.size(), 1u);
    EXPECT_EQ(host.saves, 1);
    EXPECT_EQ(file("page.html"), big);
    EXPECT_FALSE(has(".page.html.morvane-tmp"));
}

TEST_F(SessionFixture, DroppedConnectionFoundByNoopReconnectsAndSaves) {
    server.handlers["NOOP"] = [](ScriptedFtpServer::Session& s, const std::string&) {
        s.send("421 Timeout, closing\r\n");
        s.close();
    };
    start();
    openFile();
    RunUntil(
        *loop, [&] { return false; }, 1100); // idle long enough to be probed
    session->Save("after reconnect\n");
    ASSERT_TRUE(idle());
    EXPECT_EQ(file("page.html"), "after reconnect\n");
    EXPECT_EQ(host.saves, 1);
    EXPECT_TRUE(host.failures.empty());
    EXPECT_EQ(commandsStartingWith("USER").size(), 2u);
}

TEST_F(SessionFixture, FailedReloginDuringSaveOffersRetryAndKeepsTheDocument) {
    start();
    openFile();
    server.setReply("PASS", "530 Login incorrect\r\n");
    session->FileSystem().Disconnect();
    RunUntil(*loop, [&] { return !session->FileSystem().Connected(); });
    session->Save("unsaved\n");
    ASSERT_TRUE(idle());
    ASSERT_EQ(host.retryQuestions.size(), 1u);
    EXPECT_NE(host.retryQuestions[0].find("Error connecting to host \"127.0.0.1\""),
              std::string::npos);
    EXPECT_TRUE(host.failures.empty()); // nothing closes the document
    EXPECT_EQ(host.loginFailures, 1);   // a password kept for the run is asked for again
    EXPECT_EQ(file("page.html"), "line one\nline two\n");
}

TEST_F(SessionFixture, FirstDownloadFailureClosesButAFailedReloadDoesNot) {
    start();
    session->SetLocation("/home/user", "missing.txt");
    session->Open();
    ASSERT_TRUE(idle());
    ASSERT_EQ(host.failures.size(), 1u);
    EXPECT_EQ(host.failures[0].rfind("Error getting file missing.txt:\r\n", 0), 0u);
    EXPECT_TRUE(host.closeFlags[0]);

    session->SetLocation("/home/user", "page.html");
    openFile();
    {
        std::lock_guard lock(m);
        server.files.erase("page.html");
    }
    session->Open();
    ASSERT_TRUE(idle());
    ASSERT_EQ(host.failures.size(), 2u);
    EXPECT_FALSE(host.closeFlags[1]);
}

TEST_F(SessionFixture, DirectoryThatCannotBeEnteredClosesANewDocument) {
    server.replies["CWD"] = "550 No such directory\r\n";
    start();
    session->SetLocation("/elsewhere", "page.html");
    session->Open();
    ASSERT_TRUE(idle());
    ASSERT_EQ(host.failures.size(), 1u);
    EXPECT_EQ(host.failures[0].rfind("Error changing to directory /elsewhere:\r\n", 0), 0u);
    EXPECT_TRUE(host.closeFlags[0]);
    EXPECT_TRUE(commandsStartingWith("RETR").empty());
}

TEST_F(SessionFixture, ChangedOnServerAsksBeforeWritingAndFollowsTheAnswer) {
    start();
    openFile();
    {
        std::lock_guard lock(m);
        server.files["page.html"] = "someone else's edit\n";
        mdtm["page.html"] = "20240102000000";
    }
    // Cancel: nothing written.
    session->Save("mine\n");
    ASSERT_TRUE(idle());
    ASSERT_EQ(host.changedQuestions.size(), 1u);
    EXPECT_EQ(host.changedQuestions[0],
              "The file 'page.html' was changed on the server since you opened it.");
    EXPECT_EQ(file("page.html"), "someone else's edit\n");
    EXPECT_TRUE(commandsStartingWith("STOR").empty());
    EXPECT_EQ(host.saves, 0);

    // Reload: the server's text comes in, nothing is written.
    host.changedAnswers = {TChangedAnswer::Reload};
    session->Save("mine\n");
    ASSERT_TRUE(idle());
    EXPECT_EQ(host.text, "someone else's edit\n");
    EXPECT_TRUE(commandsStartingWith("STOR").empty());

    // Changed again, overwrite this time.
    {
        std::lock_guard lock(m);
        mdtm["page.html"] = "20240103000000";
    }
    host.changedAnswers = {TChangedAnswer::Overwrite};
    session->Save("mine\n");
    ASSERT_TRUE(idle());
    EXPECT_EQ(host.changedQuestions.size(), 3u);
    EXPECT_EQ(file("page.html"), "mine\n");
}

TEST_F(SessionFixture, WithoutMdtmTheListingDateDetectsAChangeAndADeletedFileIsAChangeToo) {
    server.handlers["MDTM"] = [](ScriptedFtpServer::Session& s, const std::string&) {
        s.send("502 Not implemented\r\n");
    };
    start();
    openFile();
    {
        std::lock_guard lock(m);
        server.files.erase("page.html");
    }
    session->Save("mine\n");
    ASSERT_TRUE(idle());
    EXPECT_EQ(host.changedQuestions.size(), 1u);
    EXPECT_FALSE(has("page.html"));
}

// A listing date that turns from "Jan  1 12:00" to "Jan  1  2024" (the file grew older than
// six months) is the same time at another precision, not a change.
TEST_F(SessionFixture, ListingDatesCompareOnlyAtTheSamePrecision) {
    server.handlers["MDTM"] = [](ScriptedFtpServer::Session& s, const std::string&) {
        s.send("502 Not implemented\r\n");
    };
    std::string date = "Jan  1 12:00";
    server.handlers["LIST"] = [&](ScriptedFtpServer::Session& s, const std::string&) {
        std::string line;
        {
            std::lock_guard lock(m);
            line = "-rw-r--r-- 1 user group " + std::to_string(server.files["page.html"].size()) +
                   " " + date + " page.html\r\n";
        }
        s.send("150 Here it comes\r\n");
        if (!s.dataConnect()) return s.send("425 No data connection\r\n");
        s.dataSend(line);
        s.dataClose();
        s.send("226 Done\r\n");
    };
    start();
    openFile();
    {
        std::lock_guard lock(m);
        date = "Jan  1  2024";
    }
    session->Save("mine\n");
    ASSERT_TRUE(idle());
    EXPECT_TRUE(host.changedQuestions.empty());
    EXPECT_EQ(file("page.html"), "mine\n");
}

TEST_F(SessionFixture, ASilentServerTimesOutInsteadOfStayingBusy) {
    server.handlers["RETR"] = [](ScriptedFtpServer::Session& s, const std::string&) {
        s.stall(1500);
    };
    start();
    session->SetReplyTimeout(std::chrono::milliseconds(300));
    session->Open();
    ASSERT_TRUE(idle(5000));
    ASSERT_EQ(host.failures.size(), 1u);
    EXPECT_NE(host.failures[0].find("No reply from the server"), std::string::npos);
}

TEST_F(SessionFixture, ADownloadThatKeepsMovingOutlastsTheReplyTimeout) {
    server.handlers["RETR"] = [](ScriptedFtpServer::Session& s, const std::string&) {
        s.send("150 Opening\r\n");
        if (!s.dataConnect()) return;
        for (int i = 0; i < 8; ++i) { // 800 ms in all, a piece every 100 ms
            s.dataSend("0123456789");
            s.stall(100);
        }
        s.dataClose();
        s.send("226 Done\r\n");
    };
    start();
    session->SetReplyTimeout(std::chrono::milliseconds(300));
    session->Open();
    ASSERT_TRUE(idle(5000));
    EXPECT_TRUE(host.failures.empty());
    std::string expected;
    for (int i = 0; i < 8; ++i)
        expected += "0123456789";
    EXPECT_EQ(host.text, expected);
}

TEST_F(SessionFixture, CancelledDownloadReportsAndClosesTheNewDocument) {
    server.handlers["RETR"] = [](ScriptedFtpServer::Session& s, const std::string&) {
        s.send("150 Opening\r\n");
        if (!s.dataConnect()) return;
        s.dataSend("partial");
        s.stall(1500);
    };
    start();
    session->Open();
    ASSERT_TRUE(RunUntil(*loop, [&] { return session->Transferring(); }));
    RunUntil(
        *loop, [&] { return false; }, 100);
    session->Cancel();
    ASSERT_TRUE(idle());
    ASSERT_EQ(host.failures.size(), 1u);
    EXPECT_TRUE(host.closeFlags[0]);
    EXPECT_EQ(host.downloads, 0);
}

TEST_F(SessionFixture, AFirstDownloadGoesToTheHostAsItArrivesAndAReloadComesWhole) {
    server.handlers["RETR"] = [this](ScriptedFtpServer::Session& s, const std::string& a) {
        std::string content;
        if (!lookup(a, content)) return s.send("550 No such file\r\n");
        s.send("150 Opening\r\n");
        if (!s.dataConnect()) return;
        for (std::size_t at = 0; at < content.size(); at += 7) {
            s.dataSend(content.substr(at, 7));
            s.stall(20);
        }
        s.dataClose();
        s.send("226 Done\r\n");
    };
    host.takesPieces = true;
    start();
    session->Open();
    ASSERT_TRUE(idle());
    EXPECT_GT(host.pieces.size(), 1u);
    EXPECT_EQ(host.joinedPieces(), "line one\nline two\n");
    EXPECT_EQ(host.piecesDone, 1);
    EXPECT_EQ(host.downloads, 0);
    EXPECT_TRUE(host.failures.empty());

    // The stamp counts what came in pieces: saving finds the file unchanged.
    session->Save("edited\n");
    ASSERT_TRUE(idle());
    EXPECT_TRUE(host.changedQuestions.empty());
    EXPECT_EQ(host.saves, 1);

    // Reloading a document that has its text keeps it until the whole file is here.
    host.pieces.clear();
    session->Open();
    ASSERT_TRUE(idle());
    EXPECT_TRUE(host.pieces.empty());
    EXPECT_EQ(host.downloads, 1);
    EXPECT_EQ(host.text, "edited\n");
}

TEST_F(SessionFixture, AFirstDownloadCutShortInPiecesFailsAndClosesWithoutAnEnd) {
    server.handlers["RETR"] = [](ScriptedFtpServer::Session& s, const std::string&) {
        s.send("150 Opening\r\n");
        if (!s.dataConnect()) return;
        s.dataSend("partial");
        s.stall(200);
        s.dataClose();
        s.send("426 Connection closed; transfer aborted\r\n");
    };
    host.takesPieces = true;
    start();
    session->Open();
    ASSERT_TRUE(idle());
    EXPECT_EQ(host.joinedPieces(), "partial");
    EXPECT_EQ(host.piecesDone, 0);
    ASSERT_EQ(host.failures.size(), 1u);
    EXPECT_TRUE(host.closeFlags[0]);
}

TEST_F(SessionFixture, ModeIsPutBackWhenTheNewFileDiffers) {
    int lists = 0;
    server.handlers["LIST"] = [&](ScriptedFtpServer::Session& s, const std::string&) {
        std::string size = std::to_string(file("page.html").size());
        // The original is executable; the renamed upload comes back without x.
        std::string attrs = ++lists <= 2 ? "-rwxr-x---" : "-rw-r--r--";
        s.send("150 Here it comes\r\n");
        if (!s.dataConnect()) return s.send("425 No data connection\r\n");
        s.dataSend(attrs + "   1 user group " + size + " Jan  1 12:00 page.html\r\n");
        s.dataClose();
        s.send("226 Done\r\n");
    };
    server.handlers["MDTM"] = [](ScriptedFtpServer::Session& s, const std::string&) {
        s.send("502 Not implemented\r\n");
    };
    start();
    openFile();
    session->Save("#!/bin/sh\n");
    ASSERT_TRUE(idle());
    auto chmods = commandsStartingWith("SITE CHMOD");
    ASSERT_EQ(chmods.size(), 1u);
    EXPECT_EQ(chmods[0], "SITE CHMOD 750 page.html");
}

TEST_F(SessionFixture, MirrorCopyIsWrittenAndItsFailureDoesNotStopTheUpload) {
    testing::TempDir local;
    start();
    net::TAccount account;
    account.Name = "site";
    account.EnableMirroring = true;
    account.MirrorDirectory = (local.path() / "mirror").string();
    session->SetAccount(account);
    openFile();
    session->Save("mirrored\n");
    ASSERT_TRUE(idle());
    std::ifstream in(local.path() / "mirror" / "page.html", std::ios::binary);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), {}), "mirrored\n");

    // A mirror folder that is a file cannot be created: reported, and the upload goes on.
    std::ofstream(local.path() / "blocker") << "x";
    account.MirrorDirectory = (local.path() / "blocker" / "sub").string();
    session->SetAccount(account);
    session->Save("still saved\n");
    ASSERT_TRUE(idle());
    EXPECT_EQ(file("page.html"), "still saved\n");
    EXPECT_EQ(host.notes.size(), 1u);
    EXPECT_EQ(host.saves, 2);
}

TEST_F(SessionFixture, StatReplacesTheListingsOfASaveAndPutsTheModeBack) {
    // The original is executable; the renamed upload comes back without x, the second time with.
    serveStat([](int n) { return n == 2 ? "-rw-r--r--" : "-rwxr-x---"; });
    start();
    openFile();
    // Saved right after the open: the fresh connection needs no NOOP first.
    session->Save("#!/bin/sh\n");
    ASSERT_TRUE(idle());
    EXPECT_EQ(host.saves, 1);
    EXPECT_TRUE(host.changedQuestions.empty());
    EXPECT_EQ(commandsStartingWith("SITE CHMOD"),
              std::vector<std::string>{"SITE CHMOD 750 page.html"});
    session->Save("#!/bin/sh\nexit 0\n");
    ASSERT_TRUE(idle());
    EXPECT_EQ(host.saves, 2);
    EXPECT_TRUE(host.changedQuestions.empty());
    EXPECT_EQ(commandsStartingWith("SITE CHMOD").size(), 1u); // the mode was right already
    EXPECT_EQ(stats, 4);
    EXPECT_TRUE(commandsStartingWith("LIST").empty());
    EXPECT_TRUE(commandsStartingWith("NOOP").empty());
}

TEST_F(SessionFixture, StatWithoutMdtmFindsTheChangedDateAndKeepsTheNewOne) {
    server.handlers["MDTM"] = [](ScriptedFtpServer::Session& s, const std::string&) {
        s.send("502 Not implemented\r\n");
    };
    std::string date = "Jan  1 12:00";
    server.handlers["STAT"] = [&](ScriptedFtpServer::Session& s, const std::string& a) {
        std::lock_guard lock(m);
        s.send("213-Status of \"/home/user/" + a + "\":\r\n -rw-r--r--   1 user group " +
               std::to_string(server.files[a].size()) + " " + date + " " + a + "\r\n213 End\r\n");
    };
    start();
    openFile();
    {
        std::lock_guard lock(m);
        date = "Jan  2 08:00"; // rewritten elsewhere, same length
    }
    session->Save("mine\n");
    ASSERT_TRUE(idle());
    EXPECT_EQ(host.changedQuestions.size(), 1u);
    EXPECT_EQ(file("page.html"), "line one\nline two\n");

    // Overwritten: the date after the rename is the one the next save compares with.
    host.changedAnswers = {TChangedAnswer::Overwrite};
    {
        std::lock_guard lock(m);
        date = "Jan  3 09:00";
    }
    session->Save("mine\n");
    ASSERT_TRUE(idle());
    session->Save("mine again\n");
    ASSERT_TRUE(idle());
    EXPECT_EQ(host.changedQuestions.size(), 2u);
    EXPECT_EQ(file("page.html"), "mine again\n");
    EXPECT_TRUE(commandsStartingWith("LIST").empty());
}

TEST_F(SessionFixture, RefusedStatFallsBackToTheListingAndIsNotAskedAgain) {
    server.handlers["STAT"] = [](ScriptedFtpServer::Session& s, const std::string&) {
        s.send("502 STAT not implemented\r\n");
    };
    server.handlers["MDTM"] = [](ScriptedFtpServer::Session& s, const std::string&) {
        s.send("502 Not implemented\r\n");
    };
    start();
    openFile();
    session->Save("one\n");
    ASSERT_TRUE(idle());
    session->Save("two\n");
    ASSERT_TRUE(idle());
    EXPECT_EQ(file("page.html"), "two\n");
    EXPECT_EQ(host.saves, 2);
    EXPECT_TRUE(host.changedQuestions.empty());
    EXPECT_EQ(commandsStartingWith("STAT").size(), 1u);
    EXPECT_FALSE(commandsStartingWith("LIST").empty());
}

TEST_F(SessionFixture, StatReplyWithoutTheFileLetsTheListingDecide) {
    // This server answers STAT, but never with the file's line.
    server.replies["STAT"] = "213-Status follows:\r\n213 End of status\r\n";
    server.handlers["MDTM"] = [](ScriptedFtpServer::Session& s, const std::string&) {
        s.send("502 Not implemented\r\n");
    };
    start();
    openFile();
    // The file is still there: the listing finds it, so no question.
    session->Save("mine\n");
    ASSERT_TRUE(idle());
    EXPECT_TRUE(host.changedQuestions.empty());
    EXPECT_EQ(file("page.html"), "mine\n");

    // A changed size in the listing still asks before writing.
    {
        std::lock_guard lock(m);
        server.files["page.html"] = "someone else's longer edit\n";
    }
    session->Save("again\n");
    ASSERT_TRUE(idle());
    EXPECT_EQ(host.changedQuestions.size(), 1u);
    EXPECT_EQ(file("page.html"), "someone else's longer edit\n");
}

TEST_F(SessionFixture, UnprobedConnectionThatIsGoneLogsInAgainAndSaves) {
    serveStat([](int) { return "-rw-r--r--"; });
    int sizes = 0;
    server.handlers["SIZE"] = [&](ScriptedFtpServer::Session& s, const std::string& a) {
        if (a == "page.html") ++sizes;
        if (sizes == 1) { // the server ends the idle session as the save begins
            s.send("421 Timeout, closing\r\n");
            return s.close();
        }
        if (sizes == 3 && a == "page.html") return s.close(); // gone without a word
        std::string content;
        s.send(lookup(a, content) ? "213 " + std::to_string(content.size()) + "\r\n"
                                  : "550 No such file\r\n");
    };
    start();
    openFile();
    session->Save("first\n");
    ASSERT_TRUE(idle());
    EXPECT_EQ(file("page.html"), "first\n");
    session->Save("second\n");
    ASSERT_TRUE(idle());
    EXPECT_EQ(file("page.html"), "second\n");
    EXPECT_EQ(host.saves, 2);
    EXPECT_TRUE(host.failures.empty() && host.retryQuestions.empty());
    EXPECT_TRUE(commandsStartingWith("NOOP").empty());
    EXPECT_EQ(commandsStartingWith("USER").size(), 3u);
}

// STOR of the temporary name is refused; the original is renamed aside, the file written in
// place, checked and only then the copy removed.
struct InPlaceFixture : SessionFixture {
    // How the plain STOR ends: "" stores everything; otherwise the server keeps half the bytes
    // and then sends this reply, or "drop" closes the connection.
    std::string plainEnd;
    void SetUp() override {
        SessionFixture::SetUp();
        server.handlers["STOR"] = [this](ScriptedFtpServer::Session& s, const std::string& a) {
            if (a[0] == '.') return s.send("553 Hidden names not allowed\r\n");
            s.send("150 Send it\r\n");
            if (!s.dataConnect()) return s.send("425 No data connection\r\n");
            std::string bytes = s.dataReadAll();
            s.dataClose();
            std::string end;
            {
                std::lock_guard lock(m);
                end = plainEnd;
                server.files[a] = end.empty() ? bytes : bytes.substr(0, bytes.size() / 2);
            }
            if (end == "drop") { // once
                {
                    std::lock_guard lock(m);
                    plainEnd.clear();
                }
                return s.close();
            }
            s.send(end.empty() ? "226 Stored\r\n" : end);
        };
    }
};

TEST_F(InPlaceFixture, TheOriginalIsKeptAsideUntilTheNewBytesAreComplete) {
    start();
    openFile();
    session->Save("the new text\n");
    ASSERT_TRUE(idle());
    EXPECT_EQ(host.saves, 1);
    EXPECT_TRUE(host.inPlaceQuestions.empty() && host.retryQuestions.empty());
    EXPECT_EQ(file("page.html"), "the new text\n");
    EXPECT_FALSE(has("page.html.morvane-backup"));
    // Aside first, then the upload, its size, and only then the copy goes.
    auto all = server.commands();
    auto at = [&](const std::string& c) {
        return std::find(all.begin(), all.end(), c) - all.begin();
    };
    EXPECT_LT(at("RNTO page.html.morvane-backup"), at("STOR page.html"));
    EXPECT_LT(at("STOR page.html"), at("DELE page.html.morvane-backup"));
    EXPECT_EQ(commandsStartingWith("SIZE page.html").size(), 2u); // before and after
    ASSERT_EQ(host.notes.size(), 1u);
    EXPECT_NE(host.notes[0].find("page.html.morvane-backup"), std::string::npos);
}

TEST_F(InPlaceFixture, AnUploadCutShortPutsTheOriginalBack) {
    // Refused part-way (a full disk): the original goes back at once.
    plainEnd = "452 Insufficient storage space\r\n";
    start();
    openFile();
    session->Save("a text that the disk cannot take whole\n");
    ASSERT_TRUE(idle());
    EXPECT_EQ(host.saves, 0);
    ASSERT_EQ(host.retryQuestions.size(), 1u);
    EXPECT_NE(host.retryQuestions[0].find("452"), std::string::npos);
    EXPECT_EQ(file("page.html"), "line one\nline two\n");
    EXPECT_FALSE(has("page.html.morvane-backup"));

    // The connection dropped mid-upload: the original goes back over a new login, before the
    // retry, which then finds the file as it was and saves.
    {
        std::lock_guard lock(m);
        plainEnd = "drop";
    }
    host.retryAnswers = {true};
    session->Save("second try\n");
    ASSERT_TRUE(idle(15000));
    EXPECT_EQ(host.retryQuestions.size(), 2u);
    EXPECT_TRUE(host.changedQuestions.empty());
    EXPECT_EQ(host.saves, 1);
    EXPECT_EQ(file("page.html"), "second try\n");
    EXPECT_FALSE(has("page.html.morvane-backup"));
}

TEST_F(InPlaceFixture, ANewFileNeedsNoCopyAndARefusedCopyAsksFirst) {
    start();
    session->SetLocation("/home/user", "fresh.txt");
    session->Save("brand new\n");
    ASSERT_TRUE(idle());
    EXPECT_EQ(file("fresh.txt"), "brand new\n");
    EXPECT_TRUE(host.inPlaceQuestions.empty());
    EXPECT_TRUE(commandsStartingWith("RNFR").empty());

    server.handlers["RNFR"] = [](ScriptedFtpServer::Session& s, const std::string&) {
        s.send("550 Rename not permitted\r\n");
    };
    session->SetLocation("/home/user", "page.html");
    openFile();
    session->Save("mine\n");
    ASSERT_TRUE(idle());
    ASSERT_EQ(host.inPlaceQuestions.size(), 1u);
    EXPECT_NE(host.inPlaceQuestions[0].find("'page.html'"), std::string::npos);
    EXPECT_EQ(file("page.html"), "line one\nline two\n");
    EXPECT_TRUE(commandsStartingWith("STOR page.html").empty());
}

// A cancel or a lost connection while the temporary file is renamed is no refusal: nothing may
// be written in place, and the retry goes through the temporary name again.
TEST_F(SessionFixture, CancelOrLostConnectionDuringTheRenameNeverWritesInPlace) {
    std::atomic<int> renames{0};
    server.handlers["RNTO"] = [&](ScriptedFtpServer::Session& s, const std::string& a) {
        int n = ++renames;
        if (n == 1) return s.stall(1500); // cancelled meanwhile
        if (n == 2) return s.close();     // the connection drops
        std::lock_guard lock(m);
        server.files[a] = server.files[renameFrom];
        server.files.erase(renameFrom);
        s.send("250 Renamed\r\n");
    };
    start();
    openFile();
    session->Save("cancelled\n");
    ASSERT_TRUE(RunUntil(
        *loop, [&] { return renames == 1; }, 8000));
    session->Cancel();
    ASSERT_TRUE(idle());
    ASSERT_EQ(host.retryQuestions.size(), 1u);
    EXPECT_NE(host.retryQuestions[0].find("Cancelled"), std::string::npos);

    host.retryAnswers = {true};
    session->Save("dropped\n");
    ASSERT_TRUE(idle(15000));
    ASSERT_EQ(host.retryQuestions.size(), 2u);
    EXPECT_EQ(host.retryQuestions[1].find("Not connected"), std::string::npos);

    EXPECT_TRUE(host.notes.empty()); // no word of writing in place
    EXPECT_TRUE(host.inPlaceQuestions.empty());
    EXPECT_TRUE(commandsStartingWith("STOR page.html").empty());
    EXPECT_TRUE(commandsStartingWith("RNTO page.html.morvane-backup").empty());
    EXPECT_EQ(host.saves, 1);
    EXPECT_EQ(file("page.html"), "dropped\n");
}

TEST_F(SessionFixture, WithoutMdtmTheUserIsToldWhatCannotBeSeen) {
    server.handlers["MDTM"] = [](ScriptedFtpServer::Session& s, const std::string&) {
        s.send("502 Not implemented\r\n");
    };
    start();
    openFile();
    session->Save("one\n");
    ASSERT_TRUE(idle());
    session->Save("two\n");
    ASSERT_TRUE(idle());
    ASSERT_EQ(host.notes.size(), 1u); // said once
    EXPECT_NE(host.notes[0].find("no modification times"), std::string::npos);
    {
        std::lock_guard lock(m);
        server.files["page.html"] = "someone else's edit\n";
    }
    session->Save("three\n");
    ASSERT_TRUE(idle());
    ASSERT_EQ(host.changedQuestions.size(), 1u);
    EXPECT_NE(host.changedQuestions[0].find("no modification times"), std::string::npos);
}

TEST(MirrorFolders, WholeComponentsOnlyAndNoDotSegments) {
    EXPECT_EQ(MirrorFolder("/home/u", "/home/u/www/css", '/', "/m"), "/m/www/css/");
    EXPECT_EQ(MirrorFolder("/home/u/", "/home/u", '/', "/m/"), "/m/");
    EXPECT_EQ(MirrorFolder("/home/u", "/home/user2/www", '/', "/m"), "");
    EXPECT_EQ(MirrorFolder("/", "/srv/www", '/', "/m"), "/m/srv/www/");
    std::string error;
    EXPECT_EQ(MirrorFolder("/home/u", "/home/u/../../etc", '/', "/m", &error), "");
    EXPECT_FALSE(error.empty());
}

} // namespace
} // namespace morvane::app
