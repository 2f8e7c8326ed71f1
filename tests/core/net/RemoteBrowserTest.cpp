#include "core/net/RemoteBrowser.h"
#include "NetTestUtil.h"
#include "ScriptedFtpServer.h"
#include "core/net/ChmodRunner.h"
#include "core/net/FtpFileSystem.h"
#include "core/platform/FakeUi.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

using namespace morvane::net;
using morvane::platform::FakeDialogs;
using morvane::platform::MsgResult;
using morvane::testing::RunUntil;
using morvane::testing::ScriptedFtpServer;
using ::testing::ElementsAre;

namespace {

const char* kListing = "drwxr-xr-x 2 u g 4096 Jan 1 2020 docs\r\n"
                       "-rw-r--r-- 1 u g 10 Jan 1 2020 a.txt\r\n"
                       "-rw-r--r-- 1 u g 20 Jan 1 2020 b.txt\r\n"
                       "-rw-r--r-- 1 u g 30 Jan 1 2020 c.html\r\n";

std::vector<std::string> Names(const std::vector<TDirectoryEntry>& list) {
    std::vector<std::string> out;
    for (auto& e : list)
        out.push_back(e.Name);
    return out;
}

long Count(const std::vector<std::string>& commands, const std::string& prefix) {
    return std::count_if(commands.begin(), commands.end(),
                         [&](const std::string& c) { return c.rfind(prefix, 0) == 0; });
}

TDirectoryEntry File(const std::string& name, std::int64_t size = 0, const std::string& date = {}) {
    TDirectoryEntry e;
    e.Name = name;
    e.Size = size;
    e.Date = date;
    return e;
}

TDirectoryEntry Dir(const std::string& name) {
    TDirectoryEntry e = File(name);
    e.Kind = 1;
    return e;
}

struct BrowserHarness {
    explicit BrowserHarness(ScriptedFtpServer& server)
        : loop(morvane::platform::makePollEventLoop()), browser(*loop, dialogs) {
        browser.onListing = [this] { ++listings; };
        server.start();
        TRemoteLogin login;
        login.host = "127.0.0.1";
        login.port = server.port();
        login.user = "user";
        login.password = "secret";
        browser.fileSystem().SetLogin(login);
    }
    bool idle(int millis = 5000) {
        return RunUntil(
            *loop, [&] { return !browser.running() && browser.queue().empty(); }, millis);
    }
    bool open() {
        TAccount a;
        a.Name = "Test";
        browser.connectAccount(a);
        return idle() && listings == 1;
    }
    std::unique_ptr<morvane::platform::EventLoop> loop;
    FakeDialogs dialogs;
    TRemoteBrowser browser;
    int listings = 0;
};

} // namespace

TEST(BrowserQueue, OpensLoginDirectoryAsBaseAndListsIt) {
    ScriptedFtpServer server;
    server.listing = kListing;
    BrowserHarness h(server);
    ASSERT_TRUE(h.open());
    EXPECT_EQ(h.browser.baseDirectory(), "/home/user");
    EXPECT_EQ(h.browser.account().Directory, "/home/user");
    EXPECT_THAT(Names(h.browser.visible()), ElementsAre("docs", "a.txt", "b.txt", "c.html"));
}

TEST(BrowserQueue, FolderOfATypedUrlIsEnteredUnlessTheAccountNamesOne) {
    ScriptedFtpServer server;
    server.listing = kListing;
    BrowserHarness h(server);
    TRemoteLogin login = h.browser.fileSystem().Login();
    login.directory = "/srv/www";
    h.browser.fileSystem().SetLogin(login);
    ASSERT_TRUE(h.open());
    EXPECT_EQ(Count(server.commands(), "CWD /srv/www"), 1);

    TAccount named;
    named.Name = "Test";
    named.Directory = "/var/log";
    h.browser.connectAccount(named);
    ASSERT_TRUE(h.idle());
    EXPECT_EQ(Count(server.commands(), "CWD /var/log"), 1);
    EXPECT_EQ(Count(server.commands(), "CWD /srv/www"), 1);
}

TEST(BrowserQueue, ThreeDeletesWithYesToAllGiveThreeRemovalsAndOneListing) {
    ScriptedFtpServer server;
    server.listing = kListing;
    BrowserHarness h(server);
    ASSERT_TRUE(h.open());
    h.dialogs.answers = {MsgResult::YesToAll};
    h.browser.deleteEntries({File("a.txt"), File("b.txt"), Dir("docs")});
    ASSERT_TRUE(h.idle());
    auto c = server.commands();
    EXPECT_EQ(h.dialogs.shown.size(), 1u); // Yes to all asks no more
    EXPECT_EQ(h.dialogs.shown[0].text, "Delete file a.txt?");
    EXPECT_EQ(Count(c, "DELE"), 2);
    EXPECT_EQ(Count(c, "RMD docs"), 1);
    EXPECT_EQ(Count(c, "LIST"), 2); // the first listing and one after the removals
    EXPECT_EQ(h.listings, 2);
}

TEST(BrowserQueue, NoSkipsOneEntryAndMergedRefreshesListOnce) {
    ScriptedFtpServer server;
    server.listing = kListing;
    BrowserHarness h(server);
    ASSERT_TRUE(h.open());
    h.dialogs.answers = {MsgResult::No, MsgResult::Yes};
    h.browser.deleteEntries({File("a.txt"), File("b.txt")});
    h.browser.enqueue(bcRefresh);
    h.browser.enqueue(bcRefresh);
    ASSERT_TRUE(h.idle());
    auto c = server.commands();
    EXPECT_EQ(Count(c, "DELE a.txt"), 0);
    EXPECT_EQ(Count(c, "DELE b.txt"), 1);
    EXPECT_EQ(Count(c, "LIST"), 2);
}

TEST(BrowserQueue, CommandQueuedBehindDirectoryChangeRunsAfterItsListing) {
    ScriptedFtpServer server;
    server.listing = kListing;
    BrowserHarness h(server);
    ASSERT_TRUE(h.open());
    h.browser.enqueue(bcChangeDir, "docs");
    h.browser.enqueue(bcMakeDir, "New folder");
    h.browser.kick();
    ASSERT_TRUE(h.idle());
    auto c = server.commands();
    auto cwd = std::find(c.begin(), c.end(), "CWD docs");
    auto mkd = std::find(c.begin(), c.end(), "MKD New folder");
    ASSERT_NE(cwd, c.end());
    ASSERT_NE(mkd, c.end());
    EXPECT_NE(std::find(cwd, mkd, "LIST"), mkd) << "MKD was sent before the listing ended";
    EXPECT_NE(h.browser.find("New folder"), nullptr);
}

TEST(BrowserQueue, FailedDirectoryChangeKeepsListingAndQueueGoesOn) {
    ScriptedFtpServer server;
    server.listing = kListing;
    BrowserHarness h(server);
    ASSERT_TRUE(h.open());
    server.setReply("CWD", "550 No such directory\r\n");
    h.browser.enqueue(bcChangeDir, "gone");
    h.browser.enqueue(bcRefresh);
    h.browser.kick();
    ASSERT_TRUE(h.idle());
    ASSERT_EQ(h.dialogs.shown.size(), 1u);
    EXPECT_EQ(h.dialogs.shown[0].text,
              "Error changing to directory gone:\r\nHost replied (expected 250): 550 No such "
              "directory");
    EXPECT_EQ(h.browser.visible().size(), 4u);
    EXPECT_EQ(Count(server.commands(), "LIST"), 2);
}

TEST(BrowserQueue, RefusedLoginDisconnectsAndNextActionLogsInAgain) {
    ScriptedFtpServer server;
    server.listing = kListing;
    server.replies["PASS"] = "530 Login incorrect\r\n";
    BrowserHarness h(server);
    TAccount a;
    h.browser.connectAccount(a);
    ASSERT_TRUE(h.idle());
    ASSERT_EQ(h.dialogs.shown.size(), 1u);
    EXPECT_THAT(h.dialogs.shown[0].text,
                ::testing::StartsWith("Error connecting to host \"127.0.0.1\"\r\n"));
    EXPECT_FALSE(h.browser.fileSystem().Connected());
    server.setReply("PASS", "230 Logged in\r\n");
    h.browser.enqueue(bcRefresh);
    h.browser.kick();
    ASSERT_TRUE(h.idle());
    EXPECT_EQ(Count(server.commands(), "PASS"), 2);
    EXPECT_EQ(h.browser.visible().size(), 4u);
}

TEST(BrowserQueue, LostConnectionFoundByNoopLogsInAgainAndRunsTheQueue) {
    ScriptedFtpServer server;
    server.listing = kListing;
    int noops = 0;
    server.handlers["NOOP"] = [&](ScriptedFtpServer::Session& s, const std::string&) {
        if (noops++ == 0) return s.close();
        s.send("200 OK\r\n");
    };
    BrowserHarness h(server);
    ASSERT_TRUE(h.open());
    h.browser.enqueue(bcDeleteFile, "a.txt");
    h.browser.kick();
    ASSERT_TRUE(h.idle());
    EXPECT_EQ(Count(server.commands(), "DELE a.txt"), 1);
    EXPECT_EQ(Count(server.commands(), "USER"), 2);
}

TEST(BrowserActions, PatternsSaveModeAndNames) {
    ScriptedFtpServer server;
    server.listing = kListing;
    BrowserHarness h(server);
    ASSERT_TRUE(h.open());
    // A pattern filters; directories stay.
    EXPECT_EQ(h.browser.actOn("*.TXT", false), TRemoteBrowser::Act::Filtered);
    EXPECT_THAT(Names(h.browser.visible()), ElementsAre("docs", "a.txt", "b.txt"));
    // In save mode the question covers names the filter hides too.
    h.browser.mode = TRemoteBrowser::Mode::Save;
    h.dialogs.answers = {MsgResult::No};
    EXPECT_EQ(h.browser.actOn("c.html", false), TRemoteBrowser::Act::Nothing);
    EXPECT_EQ(h.dialogs.shown.back().text, "Overwrite existing file c.html");
    EXPECT_EQ(h.browser.actOn("new.html", false), TRemoteBrowser::Act::Finish);
    EXPECT_EQ(h.browser.actOn("", false), TRemoteBrowser::Act::Nothing);
    EXPECT_EQ(h.dialogs.shown.back().text, "Must enter a filename.");
    // A typed name of a directory enters it.
    EXPECT_EQ(h.browser.actOn("docs", false), TRemoteBrowser::Act::Queued);
    ASSERT_TRUE(h.idle());
    EXPECT_EQ(Count(server.commands(), "CWD docs"), 1);
}

TEST(BrowserActions, NameWithLineBreakNeverReachesTheServer) {
    ScriptedFtpServer server;
    server.listing = kListing;
    BrowserHarness h(server);
    ASSERT_TRUE(h.open());
    h.browser.enqueue(bcDeleteFile, "x\r\nDELE a.txt");
    h.browser.kick();
    ASSERT_TRUE(h.idle());
    EXPECT_EQ(Count(server.commands(), "DELE"), 0);
    EXPECT_EQ(h.dialogs.shown.size(), 1u);
}

TEST(BrowserLists, FilterListTypesSizesAndSorting) {
    std::vector<TFileType> table = {{".php", "HTML"}, {".html", "HTML"}, {".htm", "HTML"},
                                    {".a", "HTML"},   {".b", "HTML"},    {".c", "HTML"},
                                    {".pl", "Perl"}};
    auto list = BuildFilterList(table);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].caption, "HTML files (*.php, *.html, *.htm, *.a, *.b ...)");
    EXPECT_EQ(list[0].patterns.size(), 6u);
    EXPECT_EQ(list[1].caption, "Perl files (*.pl)");
    EXPECT_EQ(list[2].caption, "All files (*)");

    EXPECT_EQ(EntryType(File("x.HTM"), table).text, "HTML file");
    EXPECT_EQ(EntryType(File("x.php"), table).text, "HTML");
    EXPECT_EQ(EntryType(File("x.txt"), table).text, "txt file");
    EXPECT_EQ(EntryType(File("x.gif"), table).icon, 2);
    EXPECT_EQ(EntryType(File("Makefile"), table).text, "file");
    EXPECT_EQ(EntryType(Dir("d.txt"), table).text, "Directory");
    EXPECT_EQ(SizeColumn(File("x", 512)), "0.5KB");
    EXPECT_EQ(SizeColumn(File("x", 5LL * 1024 * 1024 * 1024)), "5242880.0KB");
    EXPECT_EQ(SizeColumn(Dir("d")), "");

    EXPECT_TRUE(WildcardMatch("*.TxT", "notes.txt"));
    EXPECT_TRUE(WildcardMatch("a?c*", "abcdef"));
    EXPECT_FALSE(WildcardMatch("*.txt", "notes.txt.bak"));
    EXPECT_TRUE(WildcardMatch("*a*a*a*", "banana split a"));
    EXPECT_FALSE(WildcardMatch(std::string(50, '*') + "b", std::string(10000, 'a')));

    // Sizes sort as numbers, not as their text.
    std::vector<TDirectoryEntry> e = {File("big", 100000), File("small", 900), Dir("z"),
                                      File("mid", 20000)};
    SortEntries(e, skSize, table);
    EXPECT_THAT(Names(e), ElementsAre("z", "small", "mid", "big"));
    e = {File("b", 0, "Feb 1 2019"), File("a", 0, "Jan 10 2021"), File("c", 0, "Dec 31 2018")};
    SortEntries(e, skDate, table);
    EXPECT_THAT(Names(e), ElementsAre("c", "b", "a"));
    EXPECT_EQ(DateKey("Mar 5 12:30", 2024, 2), 202303051230);
    EXPECT_EQ(DateKey("Jan 5 12:30", 2024, 2), 202401051230);
    EXPECT_EQ(DateKey("junk", 2024, 2), 0);
}

TEST(BrowserLists, PathComboAndSelectionText) {
    int sel = 0;
    auto c = BuildPathCombo({"One", "Two"}, "Two", true, true, "/home/u", "/home/u/www/img", sel);
    ASSERT_EQ(c.size(), 5u);
    EXPECT_EQ(c[2].caption, "www");
    EXPECT_EQ(c[2].path, "/home/u/www");
    EXPECT_EQ(c[3].path, "/home/u/www/img");
    EXPECT_EQ(c[3].level, 3);
    EXPECT_EQ(c[4].caption, "Quick-connect");
    EXPECT_EQ(sel, 3);
    // Outside the base ("/home/u" is not a prefix of "/home/user2"): from the root.
    c = BuildPathCombo({"One"}, "One", true, true, "/home/u", "/home/user2", sel);
    ASSERT_EQ(c.size(), 4u);
    EXPECT_EQ(c[2].path, "/home/user2");
    c = BuildPathCombo({"One"}, "Missing", true, true, "/", "/x", sel);
    EXPECT_EQ(sel, -1);

    auto t = SelectionText({File("a b", 5), Dir("d"), File("c", 7)});
    EXPECT_EQ(t.text, "\"a b\" \"c\"");
    EXPECT_EQ(t.bytes, 12);
    EXPECT_EQ(SelectionText({Dir("d")}).text, "");
    EXPECT_EQ(SelectionText({File("x")}).text, "x");
}

TEST(FileAttributes, StringsToModes) {
    auto mode = [](const std::string& s) {
        auto m = ParseAttributes(s);
        return m ? ModeText(*m) : std::string("none");
    };
    EXPECT_EQ(mode("-rw-r--r--"), "644");
    EXPECT_EQ(mode("-r--r-----"), "440");
    EXPECT_EQ(mode("----------"), "0");
    EXPECT_EQ(mode("-rw-------+"), "600");
    EXPECT_EQ(mode("drwxr-xr-x."), "755");
    EXPECT_EQ(mode("-rwxr-xr-x@"), "755");
    EXPECT_EQ(mode("lrwxrwxrwx"), "777");
    EXPECT_EQ(mode("-rwsr-xr-x"), "4755");
    EXPECT_EQ(mode("-rwSr--r--"), "4644");
    EXPECT_EQ(mode("drwxrwxrwt"), "1777");
    EXPECT_EQ(mode("-rwxr-s---"), "2750");
    EXPECT_EQ(mode("-rw-r--r"), "none");
    EXPECT_EQ(mode(""), "none");
    EXPECT_EQ(mode("total 12  "), "none");
}

namespace {

struct ChmodHarness {
    explicit ChmodHarness(ScriptedFtpServer& server) {
        server.start();
        TRemoteLogin login;
        login.host = "127.0.0.1";
        login.port = server.port();
        login.user = "user";
        login.password = "secret";
        fs.SetLogin(login);
        bool done = false, ok = false;
        fs.Connect([&](const TRemoteResult& r) {
            done = true;
            ok = r.ok();
        });
        EXPECT_TRUE(RunUntil(*loop, [&] { return done; }) && ok);
    }
    std::unique_ptr<morvane::platform::EventLoop> loop = morvane::platform::makePollEventLoop();
    TFtpFileSystem fs{*loop};
    std::vector<std::string> statuses;
    std::string outcome;
    std::unique_ptr<TChmodRunner> run(std::vector<TChmodRunner::Item> items,
                                      TChmodRunner::Answer answer = TChmodRunner::Answer::Stop) {
        auto r = std::make_unique<TChmodRunner>(fs, "/www", std::move(items));
        r->onStatus = [this](const std::string& s) { statuses.push_back(s); };
        r->onFailure = [answer](const std::string&, const std::string&) { return answer; };
        r->onDone = [this] { outcome = "done"; };
        r->onStopped = [this](const std::string& why) { outcome = why; };
        r->start();
        RunUntil(*loop, [&] { return !outcome.empty(); });
        return r;
    }
};

} // namespace

TEST(ChmodRun, EachFileInTurnAndTheFileSystemIsFreeAfterwards) {
    ScriptedFtpServer server;
    ChmodHarness c(server);
    auto r = c.run({{"a b.txt", 0644}, {"c", 04755}});
    EXPECT_EQ(c.outcome, "done");
    auto cmds = server.commands();
    EXPECT_EQ(Count(cmds, "SITE CHMOD 644 a b.txt"), 1);
    EXPECT_EQ(Count(cmds, "SITE CHMOD 4755 c"), 1);
    EXPECT_EQ(c.statuses.back(), "Done.");
    EXPECT_FALSE(c.fs.Busy());
    bool probed = false;
    c.fs.KeepAlive([&](const TRemoteResult& x) { probed = x.ok(); });
    RunUntil(*c.loop, [&] { return probed; });
    EXPECT_TRUE(probed);
}

TEST(ChmodRun, ARunnerGoneMidCommandLeavesNothingBehind) {
    ScriptedFtpServer server;
    server.handlers["SITE"] = [](ScriptedFtpServer::Session& s, const std::string&) {
        s.stall(100);
        s.send("200 OK\r\n");
    };
    ChmodHarness c(server);
    auto r = std::make_unique<TChmodRunner>(c.fs, "", std::vector<TChmodRunner::Item>{{"a", 0600}});
    bool reported = false;
    r->onDone = [&] { reported = true; };
    r->start();
    RunUntil(*c.loop, [&] { return Count(server.commands(), "SITE CHMOD 600 a") == 1; });
    r.reset(); // the window closed
    RunUntil(*c.loop, [&] { return !c.fs.Busy(); });
    EXPECT_FALSE(reported);
    EXPECT_FALSE(c.fs.Busy());
}

TEST(ChmodRun, RefusalAsksAndStopOrContinue) {
    ScriptedFtpServer server;
    server.replies["SITE"] = "500 Unknown command\r\n";
    ChmodHarness c(server);
    c.run({{"a", 0600}, {"b", 0600}});
    EXPECT_EQ(c.outcome, "Error: 500 Unknown command");
    EXPECT_EQ(Count(server.commands(), "SITE"), 1);

    ScriptedFtpServer server2;
    server2.replies["SITE"] = "500 Unknown command\r\n";
    ChmodHarness c2(server2);
    c2.run({{"a", 0600}, {"b", 0600}}, TChmodRunner::Answer::Continue);
    EXPECT_EQ(c2.outcome, "done");
    EXPECT_EQ(Count(server2.commands(), "SITE"), 2);
}

TEST(ChmodRun, ReconnectGoesToTheFolderAndStopsWhenItIsGone) {
    ScriptedFtpServer server;
    server.handlers["NOOP"] = [](ScriptedFtpServer::Session& s, const std::string&) { s.close(); };
    server.replies["CWD"] = "550 Gone\r\n";
    ChmodHarness c(server);
    c.run({{"a", 0600}});
    EXPECT_THAT(c.outcome, ::testing::StartsWith("Error: "));
    EXPECT_EQ(Count(server.commands(), "CWD /www"), 1);
    EXPECT_EQ(Count(server.commands(), "SITE"), 0);
}

TEST(ChmodRun, ASilentServerStopsTheRunWithAMessage) {
    ScriptedFtpServer server;
    server.handlers["SITE"] = [](ScriptedFtpServer::Session&, const std::string&) {};
    ChmodHarness c(server);
    c.fs.SetReplyTimeout(std::chrono::milliseconds(300));
    c.run({{"a", 0600}, {"b", 0600}});
    EXPECT_EQ(c.outcome,
              "Error: The server did not answer in 300 milliseconds; the connection was closed.");
    EXPECT_EQ(Count(server.commands(), "SITE"), 1);
}

TEST(BrowserQueue, RenameChangesTheEntryOnlyWhenTheServerAgrees) {
    ScriptedFtpServer server;
    server.listing = kListing;
    BrowserHarness h(server);
    std::vector<std::pair<std::string, std::string>> renamed;
    h.browser.onRenamed = [&](const std::string& a, const std::string& b) {
        renamed.emplace_back(a, b);
    };
    ASSERT_TRUE(h.open());
    h.browser.enqueue(bcRename, "a.txt", "a b.txt");
    h.browser.kick();
    ASSERT_TRUE(h.idle());
    EXPECT_NE(h.browser.find("a b.txt"), nullptr);
    EXPECT_EQ(h.browser.find("a.txt"), nullptr);
    ASSERT_EQ(renamed.size(), 1u);

    server.setReply("RNTO", "553 Not allowed\r\n");
    h.browser.enqueue(bcRename, "b.txt", "c.txt");
    h.browser.kick();
    ASSERT_TRUE(h.idle());
    EXPECT_NE(h.browser.find("b.txt"), nullptr);
    ASSERT_EQ(h.dialogs.shown.size(), 1u);
    EXPECT_EQ(h.dialogs.shown[0].text,
              "Error renaming file: Host replied (expected 250): 553 Not allowed");
    EXPECT_EQ(renamed.size(), 1u);
}

TEST(BrowserQueue, ListingRefusedShowsTheErrorAndTheBrowserGoesOn) {
    ScriptedFtpServer server;
    server.listing = kListing;
    BrowserHarness h(server);
    ASSERT_TRUE(h.open());
    server.setReply("LIST", "550 Permission denied\r\n");
    h.browser.enqueue(bcRefresh);
    h.browser.enqueue(bcMakeDir, "x");
    h.browser.kick();
    ASSERT_TRUE(h.idle());
    ASSERT_EQ(h.dialogs.shown.size(), 1u);
    EXPECT_THAT(h.dialogs.shown[0].text, ::testing::StartsWith("Unable to list directory"));
    EXPECT_EQ(Count(server.commands(), "MKD x"), 1);
}

TEST(BrowserQueue, ConnectionClosedDuringLoginEndsBusyWithAMessage) {
    ScriptedFtpServer server;
    server.handlers["USER"] = [](ScriptedFtpServer::Session& s, const std::string&) { s.close(); };
    BrowserHarness h(server);
    h.browser.connectAccount(TAccount{});
    ASSERT_TRUE(h.idle());
    ASSERT_EQ(h.dialogs.shown.size(), 1u);
    EXPECT_THAT(h.dialogs.shown[0].text, ::testing::StartsWith("Error connecting to host"));
}

TEST(BrowserQueue, SilentServerIsGivenUpAndTheNextActionLogsInAgain) {
    ScriptedFtpServer server;
    server.listing = kListing;
    int lists = 0;
    server.handlers["LIST"] = [&](ScriptedFtpServer::Session& s, const std::string&) {
        if (lists++ == 0) return; // never answers
        s.send("150 Here\r\n");
        if (s.dataConnect()) {
            s.dataSend(kListing);
            s.dataClose();
        }
        s.send("226 Done\r\n");
    };
    BrowserHarness h(server);
    h.browser.replyTimeout = std::chrono::milliseconds(300);
    h.browser.connectAccount(TAccount{});
    ASSERT_TRUE(h.idle());
    ASSERT_EQ(h.dialogs.shown.size(), 1u);
    EXPECT_THAT(h.dialogs.shown[0].text, ::testing::HasSubstr("did not answer in time"));
    EXPECT_FALSE(h.browser.fileSystem().Connected());
    h.browser.enqueue(bcRefresh);
    h.browser.kick();
    ASSERT_TRUE(h.idle());
    EXPECT_EQ(h.browser.visible().size(), 4u);
}

TEST(BrowserActions, LinksAreEnteredWhenTheyAreFoldersAndPickedWhenNot) {
    ScriptedFtpServer server;
    server.listing = "lrwxrwxrwx 1 u g 8 Jan 1 2020 page.lnk -> page.txt\r\n"
                     "lrwxrwxrwx 1 u g 7 Jan 1 2020 www -> srv/www\r\n"
                     "-rw-r--r-- 1 u g 10 Jan 1 2020 page.txt\r\n";
    server.handlers["CWD"] = [](ScriptedFtpServer::Session& s, const std::string& a) {
        s.send(a == "page.lnk" ? "550 Not a directory\r\n" : "250 Directory changed\r\n");
    };
    BrowserHarness h(server);
    std::vector<std::pair<std::string, bool>> picks;
    h.browser.onPick = [&](const std::string& name, bool asFile) {
        picks.push_back({name, asFile});
    };
    ASSERT_TRUE(h.open());
    ASSERT_NE(h.browser.find("page.lnk"), nullptr);
    EXPECT_TRUE(IsLinkEntry(*h.browser.find("page.lnk")));
    EXPECT_FALSE(IsLinkEntry(*h.browser.find("page.txt")));

    // The list shows every link as a folder; a link to a file is picked as one, without an error.
    EXPECT_EQ(h.browser.actOn("page.lnk", true), TRemoteBrowser::Act::Queued);
    ASSERT_TRUE(h.idle());
    EXPECT_TRUE(h.dialogs.shown.empty());
    ASSERT_EQ(picks.size(), 1u);
    EXPECT_EQ(picks[0], std::make_pair(std::string("page.lnk"), true));

    EXPECT_EQ(h.browser.actOn("www", true), TRemoteBrowser::Act::Queued);
    ASSERT_TRUE(h.idle());
    EXPECT_EQ(Count(server.commands(), "CWD www"), 1);
    EXPECT_EQ(h.listings, 2);
    EXPECT_EQ(picks.size(), 1u);
    EXPECT_TRUE(h.dialogs.shown.empty());
}

TEST(BrowserActions, TypedPathsEnterTheirFolderAndPickTheName) {
    ScriptedFtpServer server;
    server.listing = kListing;
    server.handlers["CWD"] = [](ScriptedFtpServer::Session& s, const std::string& a) {
        s.send(a == "nope" ? "550 No such directory\r\n" : "250 Directory changed\r\n");
    };
    BrowserHarness h(server);
    std::vector<std::string> picks, statuses;
    h.browser.onPick = [&](const std::string& name, bool) { picks.push_back(name); };
    h.browser.onStatus = [&](const std::string& s) { statuses.push_back(s); };
    ASSERT_TRUE(h.open());

    EXPECT_EQ(h.browser.actOn("css/style.css", false), TRemoteBrowser::Act::Queued);
    ASSERT_TRUE(h.idle());
    EXPECT_EQ(Count(server.commands(), "CWD css"), 1);
    EXPECT_EQ(Count(server.commands(), "CWD css/style.css"), 0);
    EXPECT_THAT(picks, ElementsAre("style.css"));

    EXPECT_EQ(h.browser.actOn("/srv/www/index.html", false), TRemoteBrowser::Act::Queued);
    ASSERT_TRUE(h.idle());
    EXPECT_EQ(Count(server.commands(), "CWD /srv/www"), 1);
    EXPECT_THAT(picks, ElementsAre("style.css", "index.html"));

    // A folder that is not there: one message naming it, no pick, and the status line cleared.
    EXPECT_EQ(h.browser.actOn("nope/x.txt", false), TRemoteBrowser::Act::Queued);
    ASSERT_TRUE(h.idle());
    ASSERT_EQ(h.dialogs.shown.size(), 1u);
    EXPECT_EQ(h.dialogs.shown[0].text.rfind("Error changing to directory nope:\r\n", 0), 0u);
    EXPECT_EQ(picks.size(), 2u);
    ASSERT_FALSE(statuses.empty());
    EXPECT_EQ(statuses.back(), "");
}
