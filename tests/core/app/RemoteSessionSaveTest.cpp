// The remote session's save in detail: mirror copies, STAT, modes put back, writing in place
// with the original kept aside, and the rules for changed files.
#include "RemoteSessionFixture.h"

#include <gtest/gtest.h>

namespace morvane::app {

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
        if (a == "page.html") ++sizes; // the first is the open's
        if (sizes == 2) {              // the server ends the idle session as the save begins
            s.send("421 Timeout, closing\r\n");
            return s.close();
        }
        if (sizes == 4 && a == "page.html") return s.close(); // gone without a word
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
    // One when it was opened (checked against the memory), then before and after.
    EXPECT_EQ(commandsStartingWith("SIZE page.html").size(), 3u);
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

// A text recovered after a crash is saved without a download first: the server's stamp kept in
// the recovery file still shows a change made on the server meanwhile.
TEST_F(SessionFixture, AGivenServerStampFindsAChangeWithoutADownload) {
    start();
    TRemoteSession::Stamp stamp;
    stamp.known = true;
    stamp.size = std::int64_t(std::string("line one\nline two\n").size());
    {
        std::lock_guard lock(m);
        server.files["page.html"] = "<p>changed meanwhile, longer</p>\n";
    }
    session->SetServerStamp(stamp);
    session->Save("recovered\n");
    ASSERT_TRUE(idle());
    ASSERT_EQ(host.changedQuestions.size(), 1u);
    EXPECT_EQ(file("page.html"), "<p>changed meanwhile, longer</p>\n");
    EXPECT_EQ(host.downloads, 0);
}

} // namespace morvane::app
