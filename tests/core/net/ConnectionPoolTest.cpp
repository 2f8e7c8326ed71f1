// The pool of shared logins over in-memory file systems: reuse, the cap and its queue, idle
// closing, keep-alive, dead connections and cancelling.
#include "core/net/ConnectionPool.h"

#include "NetTestUtil.h"
#include "support/FakeRemoteFileSystem.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using namespace morvane;
using namespace morvane::net;
using morvane::testing::FakeRemoteFileSystem;
using morvane::testing::RunUntil;

namespace {

// Counts the connections alive; each starts with the same files.
class CountedFs : public FakeRemoteFileSystem {
public:
    CountedFs(platform::EventLoop& loop, int& alive) : FakeRemoteFileSystem(loop), alive_(alive) {
        ++alive_;
        files["a.txt"].bytes = "alpha";
        files["b.txt"].bytes = "beta";
    }
    ~CountedFs() override { --alive_; }

private:
    int& alive_;
};

struct PoolFixture : ::testing::Test {
    std::unique_ptr<platform::EventLoop> loop = platform::makePollEventLoop();
    int alive = 0;
    std::vector<CountedFs*> made; // in order of making; only the alive ones may be touched
    // Scripted into every connection made from now on.
    std::function<void(CountedFs&)> script;
    std::shared_ptr<TConnectionPool> shared = std::make_shared<TConnectionPool>(
        *loop,
        [this](const TAccount&) {
            auto fs = std::make_unique<CountedFs>(*loop, alive);
            if (script) script(*fs);
            made.push_back(fs.get());
            return fs;
        },
        TPoolSettings{2, std::chrono::hours(1), std::chrono::milliseconds(0)});
    TConnectionPool& pool = *shared;
    TAccount account;
    TRemoteLogin login;

    PoolFixture() {
        account.Name = "site";
        login.host = "example.org";
        login.user = "ann";
        login.password = "secret";
    }
    std::string key() const { return PoolKey(account, login); }

    std::unique_ptr<TPooledFileSystem> make() {
        auto fs = std::make_unique<TPooledFileSystem>(shared);
        fs->SetAccount(account);
        fs->SetLogin(login);
        return fs;
    }
    bool connect(TRemoteFileSystem& fs) {
        std::optional<TRemoteResult> r;
        fs.Connect([&](const TRemoteResult& res) { r = res; });
        EXPECT_TRUE(RunUntil(*loop, [&] { return r.has_value(); }));
        return r && r->ok();
    }
    std::string read(TRemoteFileSystem& fs, const std::string& name, TRemoteResult* out = nullptr) {
        std::string bytes;
        std::optional<TRemoteResult> r;
        fs.Read(
            name, [&](std::string_view b) { bytes += b; },
            [&](const TRemoteResult& res) { r = res; });
        EXPECT_TRUE(RunUntil(*loop, [&] { return r.has_value(); }));
        if (out && r) *out = *r;
        return bytes;
    }
    // Runs the loop for this many rounds of at most 5 ms each.
    void steps(int n) {
        for (int i = 0; i < n; ++i)
            loop->processEvents(std::chrono::milliseconds(5));
    }
};

TEST_F(PoolFixture, DocumentsOfOneLoginShareConnectionsUpToTheCap) {
    // One after the other: the second file system reuses the first one's login.
    auto first = make();
    ASSERT_TRUE(connect(*first));
    EXPECT_EQ(read(*first, "a.txt"), "alpha");
    auto second = make();
    ASSERT_TRUE(connect(*second));
    EXPECT_EQ(read(*second, "b.txt"), "beta");
    EXPECT_EQ(pool.Logins(), 1);

    // Five at once: two logins, the others wait for a free connection; everyone gets the file.
    std::vector<std::unique_ptr<TPooledFileSystem>> docs;
    std::vector<std::string> got(5);
    int finished = 0;
    for (int i = 0; i < 5; ++i) {
        docs.push_back(make());
        TPooledFileSystem* fs = docs.back().get();
        fs->Connect([&, fs, i](const TRemoteResult& r) {
            ASSERT_TRUE(r.ok()) << r.message;
            fs->Read(
                "a.txt", [&, i](std::string_view b) { got[std::size_t(i)] += b; },
                [&](const TRemoteResult& rr) {
                    EXPECT_TRUE(rr.ok()) << rr.message;
                    ++finished;
                });
        });
    }
    ASSERT_TRUE(RunUntil(*loop, [&] { return finished == 5; }));
    for (const std::string& g : got)
        EXPECT_EQ(g, "alpha");
    EXPECT_LE(pool.Logins(), 2);
    EXPECT_LE(pool.Open(key()), 2);
    EXPECT_EQ(pool.Waiting(key()), 0);

    // Another password is another login.
    login.password = "other";
    auto third = make();
    ASSERT_TRUE(connect(*third));
    EXPECT_EQ(pool.Open(key()), 1);
}

TEST_F(PoolFixture, IdleConnectionsCloseUnlessAnOpenDocumentHoldsTheLastOne) {
    pool.SetSettings({2, std::chrono::milliseconds(20), std::chrono::milliseconds(0)});
    auto a = make();
    auto b = make();
    ASSERT_TRUE(connect(*a));
    // Both busy at once: two connections.
    int finished = 0;
    auto count = [&](const TRemoteResult&) { ++finished; };
    b->Connect([&](const TRemoteResult&) {});
    a->Read("a.txt", nullptr, count);
    ASSERT_TRUE(RunUntil(*loop, [&] { return finished == 1 && !b->Busy(); }));
    b->Read("b.txt", nullptr, count);
    a->Read("a.txt", nullptr, count);
    ASSERT_TRUE(RunUntil(*loop, [&] { return finished == 3; }));
    ASSERT_EQ(pool.Open(key()), 2);

    // Held by a and b: the spare one goes after its idle time, the last one stays.
    ASSERT_TRUE(RunUntil(*loop, [&] { return pool.Open(key()) == 1; }));
    steps(40); // several idle times
    EXPECT_EQ(pool.Open(key()), 1);
    EXPECT_EQ(alive, 1);

    // Nobody holds it any more: it goes too.
    a->Disconnect();
    b.reset();
    ASSERT_TRUE(RunUntil(*loop, [&] { return alive == 0; }));
    EXPECT_EQ(pool.Open(key()), 0);
}

TEST_F(PoolFixture, KeepAliveSendsNoopOnTheHeldConnectionAndStopsWhenOff) {
    pool.SetSettings({2, std::chrono::hours(1), std::chrono::milliseconds(10)});
    auto doc = make();
    ASSERT_TRUE(connect(*doc));
    ASSERT_EQ(made.size(), 1u);
    CountedFs& conn = *made[0];
    ASSERT_TRUE(RunUntil(*loop, [&] { return conn.count("KeepAlive") >= 2; }));

    pool.SetSettings({2, std::chrono::hours(1), std::chrono::milliseconds(0)});
    steps(5); // a NOOP on its way ends
    int sent = conn.count("KeepAlive");
    steps(20);
    EXPECT_EQ(conn.count("KeepAlive"), sent);
    EXPECT_TRUE(doc->Connected());
}

TEST_F(PoolFixture, ADeadConnectionIsDroppedAndTheOperationRunsOnAnother) {
    auto doc = make();
    ASSERT_TRUE(connect(*doc));
    ASSERT_EQ(made.size(), 1u);

    // Closed while it rested, and the pool saw it: never lent again.
    made[0]->Disconnect();
    EXPECT_EQ(read(*doc, "a.txt"), "alpha");
    EXPECT_EQ(pool.Logins(), 2);
    EXPECT_EQ(alive, 1);

    // Closed without the pool knowing: the listing finds out, and runs again on a new login.
    made[1]->fail("List", TRemoteError::ConnectionLost, "Connection closed by server");
    std::vector<std::string> names;
    std::optional<TRemoteResult> listed;
    doc->List([&](const TDirectoryEntry& e) { names.push_back(e.Name); },
              [&](const TRemoteResult& r) { listed = r; });
    ASSERT_TRUE(RunUntil(*loop, [&] { return listed.has_value(); }));
    EXPECT_TRUE(listed->ok()) << listed->message;
    EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "b.txt"}));
    EXPECT_EQ(pool.Logins(), 3);
    EXPECT_TRUE(doc->Connected());

    // A write is never run twice: its caller hears of the lost connection.
    made[2]->fail("Write x.txt", TRemoteError::ConnectionLost, "Connection closed by server");
    std::optional<TRemoteResult> wrote;
    doc->Write("x.txt", "x", nullptr, [&](const TRemoteResult& r) { wrote = r; });
    ASSERT_TRUE(RunUntil(*loop, [&] { return wrote.has_value(); }));
    EXPECT_EQ(wrote->error, TRemoteError::ConnectionLost);
    EXPECT_FALSE(doc->Connected());
    EXPECT_EQ(pool.Logins(), 3);
}

TEST_F(PoolFixture, CancelAndDisconnectWhileQueuedLeaveTheOthersRunning) {
    pool.SetSettings({1, std::chrono::hours(1), std::chrono::milliseconds(0)});
    auto a = make();
    auto b = make();
    auto c = make();
    ASSERT_TRUE(connect(*a));
    ASSERT_TRUE(connect(*b));
    ASSERT_TRUE(connect(*c));

    std::optional<TRemoteResult> ra, rb, rc;
    a->Read("a.txt", nullptr, [&](const TRemoteResult& r) { ra = r; });
    b->Read("b.txt", nullptr, [&](const TRemoteResult& r) { rb = r; });
    c->Read("b.txt", nullptr, [&](const TRemoteResult& r) { rc = r; });
    // b and c wait behind a for the one connection.
    b->Cancel();
    c->Disconnect(); // no report at all
    ASSERT_TRUE(rb.has_value());
    EXPECT_EQ(rb->error, TRemoteError::Cancelled);
    EXPECT_FALSE(b->Connected());
    ASSERT_TRUE(RunUntil(*loop, [&] { return ra.has_value(); }));
    EXPECT_TRUE(ra->ok());
    steps(5);
    EXPECT_FALSE(rc.has_value());
    EXPECT_EQ(pool.Waiting(key()), 0);
    EXPECT_EQ(pool.Logins(), 1);

    // Cancel of what runs closes that connection; the next request logs in anew.
    a->Read("a.txt", nullptr, [&](const TRemoteResult& r) { ra = r; });
    ra.reset();
    ASSERT_TRUE(RunUntil(*loop, [&] { return !made.empty() && made[0]->Busy(); }));
    a->Cancel();
    ASSERT_TRUE(RunUntil(*loop, [&] { return ra.has_value(); }));
    EXPECT_EQ(ra->error, TRemoteError::Cancelled);
    ASSERT_TRUE(connect(*a));
    EXPECT_EQ(pool.Logins(), 2);
}

TEST_F(PoolFixture, AFailedLoginFailsEveryRequestWaitingForIt) {
    script = [](CountedFs& fs) {
        fs.fail("Connect", TRemoteError::Permission, "530 Login incorrect");
    };
    std::vector<std::unique_ptr<TPooledFileSystem>> docs;
    std::vector<TRemoteResult> results;
    for (int i = 0; i < 4; ++i) {
        docs.push_back(make());
        docs.back()->Connect([&](const TRemoteResult& r) { results.push_back(r); });
    }
    ASSERT_TRUE(RunUntil(*loop, [&] { return results.size() == 4; }));
    for (const TRemoteResult& r : results)
        EXPECT_EQ(r.error, TRemoteError::Permission);
    EXPECT_LE(pool.Logins(), 2);
    EXPECT_FALSE(docs[0]->Connected());

    // The user types the right password: a new login.
    script = nullptr;
    login.password = "right";
    auto again = make();
    EXPECT_TRUE(connect(*again));
}

} // namespace

TEST(KeepAliveSetting, SecondsZeroForNoneAndTheDefaultForAnythingElse) {
    using std::chrono::seconds;
    EXPECT_EQ(KeepAliveFromText("30"), seconds(30));
    EXPECT_EQ(KeepAliveFromText(" 0 "), seconds(0));
    for (const char* bad : {"", "abc", "-5", "12s", "99999999999"})
        EXPECT_EQ(KeepAliveFromText(bad), seconds(60)) << bad;
}
