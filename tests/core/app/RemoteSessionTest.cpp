// The remote document's session against a scripted server that misbehaves on purpose.
#include "RemoteSessionFixture.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>

namespace morvane::app {

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

TEST_F(SessionFixture, ABigUploadTheServerCutsShortFailsAndLeavesTheOriginal) {
    // The server takes a megabyte, drops the data connection with the rest unread and says so.
    server.handlers["STOR"] = [](ScriptedFtpServer::Session& s, const std::string&) {
        s.send("150 Send it\r\n");
        if (!s.dataConnect()) return s.send("425 No data connection\r\n");
        char buf[65536];
        for (std::size_t taken = 0; taken < (1u << 20);) {
            pollfd p{s.dataFd, POLLIN, 0};
            ssize_t n = ::poll(&p, 1, 5000) > 0 ? ::recv(s.dataFd, buf, sizeof buf, 0) : -1;
            if (n <= 0) break;
            taken += std::size_t(n);
        }
        s.dataClose();
        s.send("426 Connection closed; transfer aborted\r\n");
    };
    start();
    openFile();
    session->Save(std::string(24 << 20, 'x'));
    ASSERT_TRUE(idle(15000));
    EXPECT_EQ(host.saves, 0);
    ASSERT_EQ(host.retryQuestions.size(), 1u);
    EXPECT_NE(host.retryQuestions[0].find("Error saving file 'page.html':"), std::string::npos);
    EXPECT_EQ(file("page.html"), "line one\nline two\n");
    EXPECT_TRUE(commandsStartingWith("RNFR").empty());
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

} // namespace morvane::app
