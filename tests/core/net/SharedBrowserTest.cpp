// The browser over the shared logins against a scripted FTP server: an open browser's
// connection is kept alive by NOOP and not closed as idle, and a connection the server dropped
// between two commands is replaced without the user seeing anything.
#include "NetTestUtil.h"
#include "ScriptedFtpServer.h"
#include "core/net/ConnectionPool.h"
#include "core/net/FtpFileSystem.h"
#include "core/net/RemoteBrowser.h"
#include "core/platform/FakeUi.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

using namespace morvane::net;
using morvane::platform::FakeDialogs;
using morvane::testing::RunUntil;
using morvane::testing::ScriptedFtpServer;

namespace {

long Count(const std::vector<std::string>& commands, const std::string& prefix) {
    return std::count_if(commands.begin(), commands.end(),
                         [&](const std::string& c) { return c.rfind(prefix, 0) == 0; });
}

struct SharedBrowser {
    SharedBrowser(ScriptedFtpServer& server, TPoolSettings settings)
        : loop(morvane::platform::makePollEventLoop()),
          shared(std::make_shared<TConnectionPool>(*loop, nullptr, settings)), pool(*shared),
          browser(*loop, dialogs, std::make_unique<TPooledFileSystem>(shared)) {
        browser.onListing = [this] { ++listings; };
        server.listing = "-rw-r--r-- 1 u g 10 Jan 1 2020 a.txt\r\n";
        server.start();
        account.Name = "Test";
        account.Hostname = "127.0.0.1";
        account.Port = server.port();
        account.Username = "user";
        account.Password = "secret";
        EXPECT_TRUE(ApplyAccount(account, browser.fileSystem(), {}, {}));
    }
    bool idle() {
        return RunUntil(*loop, [&] { return !browser.running() && browser.queue().empty(); });
    }
    std::unique_ptr<morvane::platform::EventLoop> loop;
    std::shared_ptr<TConnectionPool> shared;
    TConnectionPool& pool;
    FakeDialogs dialogs;
    TRemoteBrowser browser;
    TAccount account;
    int listings = 0;
};

TEST(SharedBrowser, AnOpenBrowsersConnectionGetsNoopsAndStaysOpen) {
    ScriptedFtpServer server;
    SharedBrowser b(server, {2, std::chrono::milliseconds(30), std::chrono::milliseconds(20)});
    b.browser.connectAccount(b.account);
    ASSERT_TRUE(b.idle());
    ASSERT_EQ(b.listings, 1);
    // No user action: the pool's keep-alive speaks, several idle times pass.
    ASSERT_TRUE(RunUntil(*b.loop, [&] { return Count(server.commands(), "NOOP") >= 3; }));
    EXPECT_EQ(Count(server.commands(), "USER"), 1);
    EXPECT_EQ(Count(server.commands(), "QUIT"), 0);
    EXPECT_TRUE(b.dialogs.shown.empty());

    // Off: nothing more is sent.
    b.pool.SetSettings({2, std::chrono::milliseconds(30), std::chrono::milliseconds(0)});
    RunUntil(
        *b.loop, [] { return false; }, 50); // a NOOP on its way ends
    long sent = Count(server.commands(), "NOOP");
    RunUntil(
        *b.loop, [] { return false; }, 150);
    EXPECT_EQ(Count(server.commands(), "NOOP"), sent);
    EXPECT_EQ(Count(server.commands(), "USER"), 1);
}

TEST(SharedBrowser, ADroppedConnectionIsReplacedAndTheRefreshLists) {
    ScriptedFtpServer server;
    std::atomic<int> noops{0};
    // The connection the browser used is gone by its next command (killed while idle).
    server.handlers["NOOP"] = [&](ScriptedFtpServer::Session& s, const std::string&) {
        if (noops++ == 0) return s.close();
        s.send("200 OK\r\n");
    };
    SharedBrowser b(server, {2, std::chrono::seconds(60), std::chrono::milliseconds(0)});
    b.browser.connectAccount(b.account);
    ASSERT_TRUE(b.idle());
    ASSERT_EQ(b.listings, 1);

    b.browser.enqueue(bcRefresh);
    b.browser.kick();
    ASSERT_TRUE(b.idle());
    EXPECT_EQ(b.listings, 2);
    ASSERT_EQ(b.browser.visible().size(), 1u);
    EXPECT_EQ(b.browser.visible()[0].Name, "a.txt");
    EXPECT_TRUE(b.dialogs.shown.empty());
    // One new login, and one listing: the refresh itself.
    auto commands = server.commands();
    EXPECT_EQ(Count(commands, "USER"), 2) << ::testing::PrintToString(commands);
    EXPECT_EQ(Count(commands, "LIST"), 2) << ::testing::PrintToString(commands);
    EXPECT_TRUE(b.browser.fileSystem().Connected());
}

} // namespace
