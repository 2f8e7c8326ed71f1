// Five documents of one account opened at once against a real server: the password is asked
// for once, the server sees at most two logins, and every document gets its own file.
#include "FtpServers.h"
#include "NetTestUtil.h"

#include "core/app/RemoteSession.h"
#include "core/net/AccountSecrets.h"
#include "core/net/ConnectionPool.h"
#include "core/platform/Registry.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>

using namespace morvane;
using namespace morvane::net;
using namespace morvane::testing;

namespace {

struct Document : app::TRemoteSessionHost {
    std::string text;
    std::string failure;
    bool arrived = false;
    void SessionStatus(const std::string&) override {}
    void SessionProgress(bool, std::int64_t, std::int64_t) override {}
    void SessionBusyChanged() override {}
    void Downloaded(std::string& bytes) override {
        text = bytes;
        arrived = true;
    }
    void SessionFailed(const std::string& message, bool) override { failure = message; }
    bool AskRetrySave(const std::string&) override { return false; }
    app::TChangedAnswer AskChanged(const std::string&) override {
        return app::TChangedAnswer::Cancel;
    }
    bool AskCreateMirrorFolder(const std::string&) override { return false; }
    bool AskWriteInPlace(const std::string&) override { return false; }
    void Saved() override {}
    void Note(const std::string&) override {}
    void CloseRequested() override {}
};

int Logins(const std::string& log, const std::string& user) {
    // The server logs each successful login once: "USER 'alice' logged in."
    std::istringstream in(log);
    int n = 0;
    for (std::string line; std::getline(in, line);)
        n += line.find("USER '" + user + "' logged in") != std::string::npos;
    return n;
}

TEST(SharedLogin, FiveFilesOfOneAccountAskOnceAndLogInAtMostTwice) {
    FtpServerProcess server(ServerKind::Pyftpdlib);
    ASSERT_EQ(server.error(), "");
    for (int i = 1; i <= 5; ++i)
        std::ofstream(server.root() / ("f" + std::to_string(i) + ".txt")) << "file " << i << "\n";

    TempDir dir;
    platform::Registry registry{dir.path()};
    auto loop = platform::makePollEventLoop();
    TAccount account;
    account.Name = "site";
    account.Hostname = server.host();
    account.Port = server.port();
    account.Username = server.user();
    account.PromptForPassword = true;
    ASSERT_TRUE(SaveAccount(registry, account.Name, account));

    TAccountSecrets secrets(registry, *loop, nullptr);
    int asked = 0;
    TAccountPrompts prompts;
    prompts.keptPassword = [&](const TAccount& a) { return secrets.kept(a); };
    prompts.askPassword = [&](const TAccount& a) {
        return secrets.question(a, [&] {
            ++asked;
            secrets.answer(a, server.password(), false); // "Save password" not ticked
        });
    };
    auto pool = std::make_shared<TConnectionPool>(
        *loop, [&](const TAccount& a) { return MakeFileSystem(*loop, a); });

    std::vector<std::unique_ptr<Document>> docs;
    std::vector<std::unique_ptr<app::TRemoteSession>> sessions;
    for (int i = 1; i <= 5; ++i) {
        docs.push_back(std::make_unique<Document>());
        sessions.push_back(std::make_unique<app::TRemoteSession>(
            *loop, *docs.back(), std::make_unique<TPooledFileSystem>(pool)));
        app::TRemoteSession& s = *sessions.back();
        ASSERT_TRUE(ApplyAccount(account, s.FileSystem(), {}, prompts));
        s.SetAccount(account);
        s.SetLocation("", "f" + std::to_string(i) + ".txt");
        s.Open();
    }
    ASSERT_TRUE(RunUntil(
        *loop,
        [&] {
            for (auto& d : docs)
                if (!d->arrived && d->failure.empty()) return false;
            return true;
        },
        20000));
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(docs[std::size_t(i)]->failure, "");
        EXPECT_EQ(docs[std::size_t(i)]->text, "file " + std::to_string(i + 1) + "\n");
    }
    EXPECT_EQ(asked, 1);
    int logins = Logins(server.output(), server.user());
    EXPECT_GE(logins, 1) << server.output();
    EXPECT_LE(logins, 2) << server.output();

    // The password is the run's: not written to the account.
    TAccount stored;
    ASSERT_TRUE(LoadAccount(registry, "site", stored));
    EXPECT_TRUE(stored.PromptForPassword);
    EXPECT_EQ(stored.Password, "");

    // A sixth document later in the run neither asks nor logs in again.
    Document sixth;
    app::TRemoteSession s6(*loop, sixth, std::make_unique<TPooledFileSystem>(pool));
    ASSERT_TRUE(ApplyAccount(account, s6.FileSystem(), {}, prompts));
    s6.SetAccount(account);
    s6.SetLocation("", "f1.txt");
    s6.Open();
    ASSERT_TRUE(RunUntil(
        *loop, [&] { return sixth.arrived || !sixth.failure.empty(); }, 10000));
    EXPECT_EQ(sixth.text, "file 1\n");
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(Logins(server.output(), server.user()), logins);
}

} // namespace
