// Account passwords against a real desktop keyring: gnome-keyring-daemon on a private session
// bus (run_with_keyring.sh), checked from outside with secret-tool. The keyring that is locked,
// frozen or killed, and the run without any session bus, each run in a process of their own.

#include "core/net/AccountSecrets.h"
#include "core/platform/SecretStore.h"
#include "support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include <unistd.h>

using namespace morvane::net;
using morvane::platform::Hive;
using morvane::platform::Registry;
using morvane::platform::RegKey;
using morvane::platform::SecretAttributes;
using morvane::platform::SecretResult;
using morvane::platform::SecretStore;
using morvane::testing::TempDir;
using ::testing::HasSubstr;
using namespace std::chrono_literals;

namespace {

std::string sh(const std::string& command) {
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char buf[256];
        while (std::size_t n = std::fread(buf, 1, sizeof buf, p))
            out.append(buf, n);
        ::pclose(p);
    }
    return out;
}

// What the keyring holds for the account, read by another program.
std::string secretTool(const std::string& name) {
    return sh("secret-tool lookup program morvane account '" + name + "' 2>/dev/null");
}

int daemonPid() {
    const char* pid = std::getenv("MORVANE_TEST_KEYRING_PID");
    return pid ? std::atoi(pid) : 0;
}

TAccount account(const std::string& name, const std::string& password) {
    TAccount a;
    a.Name = name;
    a.Hostname = "ftp." + name + ".example";
    a.Username = "web";
    a.Password = password;
    return a;
}

struct KeyringFixture : ::testing::Test {
    TempDir dir;
    Registry registry{dir.path()};
    std::unique_ptr<morvane::platform::EventLoop> loop = morvane::platform::makePollEventLoop();
    std::unique_ptr<SecretStore> store;
    std::unique_ptr<TAccountSecrets> secrets;
    std::vector<std::string> problems;

    void SetUp() override {
        if (!std::getenv("DBUS_SESSION_BUS_ADDRESS") || !daemonPid())
            GTEST_SKIP() << "run through run_with_keyring.sh";
        sh("secret-tool clear program morvane 2>/dev/null");
        newRun();
    }
    // The program started again: a new store and keeper on the same settings.
    void newRun(std::chrono::milliseconds timeout = 10s) {
        secrets.reset();
        store = morvane::platform::makeDesktopSecretStore(*loop, timeout);
        secrets = std::make_unique<TAccountSecrets>(registry, *loop, store.get(), timeout + 2s);
        secrets->onProblem = [this](const std::string& m) { problems.push_back(m); };
    }
    // Bounded by time, not rounds: a timer due in under a millisecond makes rounds that wait
    // for nothing.
    void pumpUntil(const std::function<bool()>& done) {
        auto deadline = std::chrono::steady_clock::now() + 60s;
        while (!done() && std::chrono::steady_clock::now() < deadline)
            loop->processEvents(50ms);
    }
    void settle() {
        pumpUntil([this] { return secrets->idle(); });
        for (int i = 0; i < 5; ++i)
            loop->processEvents(0ms);
    }
    SecretResult call(const std::function<void(SecretStore::Done)>& request) {
        std::optional<SecretResult> result;
        request([&](SecretResult r) { result = std::move(r); });
        pumpUntil([&] { return result.has_value(); });
        return result.value_or(SecretResult{"no answer", {}});
    }
    void save(const TAccount& a) { ASSERT_TRUE(SaveAccount(registry, a.Name, a)); }
    std::string fileValue(const std::string& name) {
        return RegKey(registry, Hive::CurrentUser, std::string(kAccountsRoot) + "\\" + name)
            .readString("Password");
    }
};

TEST_F(KeyringFixture, StoreSearchAndRemoveAsAnotherProgramSeesThem) {
    SecretAttributes attributes{{"program", "morvane"}, {"account", "site"}, {"host", "h"}};
    std::string odd = "p\xC3\xA4ss w\"ord'\n";
    ASSERT_TRUE(call([&](auto done) { store->store(attributes, "label", "first", done); }).ok());
    ASSERT_TRUE(call([&](auto done) { store->store(attributes, "label", odd, done); }).ok());
    EXPECT_EQ(secretTool("site"), odd);

    auto found = call([&](auto done) { store->search({{"program", "morvane"}}, done); });
    ASSERT_TRUE(found.ok()) << found.error;
    ASSERT_EQ(found.items.size(), 1u); // stored twice under the same attributes: replaced
    EXPECT_EQ(found.items[0].secret, odd);
    EXPECT_EQ(found.items[0].attributes.at("host"), "h");

    ASSERT_TRUE(call([&](auto done) { store->remove({{"account", "site"}}, done); }).ok());
    EXPECT_EQ(secretTool("site"), "");
    EXPECT_TRUE(call([&](auto done) { store->remove({{"account", "site"}}, done); }).ok());
}

TEST_F(KeyringFixture, SettingsPasswordsMoveInAndRenamesAndDeletionsFollow) {
    save(account("alpha", "pa"));
    save(account("beta", "pb"));
    secrets->start();
    settle();
    ASSERT_EQ(secrets->place(), TPasswordPlace::Keyring);
    EXPECT_EQ(secretTool("alpha"), "pa");
    EXPECT_EQ(secretTool("beta"), "pb");
    EXPECT_EQ(fileValue("alpha"), "");
    EXPECT_EQ(fileValue("beta"), "");
    EXPECT_EQ(sh("secret-tool search --all program morvane 2>&1 | grep -c '^attribute.user = web'"),
              "2\n");
    EXPECT_TRUE(problems.empty());

    // The next run finds them there.
    newRun();
    secrets->start();
    TAccount alpha;
    ASSERT_TRUE(LoadAccount(registry, "alpha", alpha));
    EXPECT_EQ(secrets->kept(alpha), "pa");

    // The account manager renames alpha and deletes beta.
    TAccount renamed = account("gamma", "pa");
    renamed.Password = secrets->passwordToWrite(renamed);
    ASSERT_TRUE(SaveAccountList(registry, {renamed}));
    renamed.Password = "pa";
    secrets->accountsSaved({{"alpha", renamed}}, {"beta"});
    settle();
    EXPECT_EQ(secretTool("alpha"), "");
    EXPECT_EQ(secretTool("beta"), "");
    EXPECT_EQ(secretTool("gamma"), "pa");
    EXPECT_EQ(fileValue("gamma"), "");
    EXPECT_TRUE(problems.empty());
}

TEST_F(KeyringFixture, Locked_AKeyringThatStaysLockedKeepsPasswordsWhereTheyWere) {
    sh("printf kept | secret-tool store --label=x program morvane account inside");
    save(account("inside", ""));
    save(account("filed", "pf"));
    sh("gdbus call --session -d org.freedesktop.secrets -o /org/freedesktop/secrets -m "
       "org.freedesktop.Secret.Service.Lock \"['/org/freedesktop/secrets/collection/login']\"");
    secrets->start();
    settle();
    EXPECT_EQ(secrets->place(), TPasswordPlace::Keyring);
    EXPECT_EQ(fileValue("filed"), "pf");
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_THAT(problems[0], HasSubstr("\"filed\" stays in the settings file"));
    TAccount inside;
    ASSERT_TRUE(LoadAccount(registry, "inside", inside));
    EXPECT_EQ(secrets->kept(inside), std::nullopt); // the user is asked instead
    EXPECT_THAT(secrets->placeText(), HasSubstr("could not be read"));
}

TEST_F(KeyringFixture, Frozen_AKeyringThatDoesNotAnswerTimesOutAndLaterRequestsWork) {
    newRun(2s);
    save(account("site", "ps"));
    secrets->start();
    settle(); // probed and moved while the daemon answers
    ASSERT_EQ(secretTool("site"), "ps");
    ASSERT_EQ(::kill(daemonPid(), SIGSTOP), 0);
    auto r = call([&](auto done) {
        store->store({{"program", "morvane"}, {"account", "other"}}, "x", "y", done);
    });
    ::kill(daemonPid(), SIGCONT);
    EXPECT_THAT(r.error, HasSubstr("did not answer within 2 seconds"));
    // The stuck request was cancelled: the worker serves the next one.
    auto after = call([&](auto done) { store->search({{"account", "site"}}, done); });
    ASSERT_TRUE(after.ok()) << after.error;
    ASSERT_EQ(after.items.size(), 1u);
    EXPECT_EQ(after.items[0].secret, "ps");
}

TEST_F(KeyringFixture, Gone_AKilledDaemonLosesNoPassword) {
    ASSERT_TRUE(call([&](auto done) { store->probe(done); }).ok());
    ASSERT_EQ(::kill(daemonPid(), SIGKILL), 0);
    save(account("site", "ps"));
    secrets->start();
    settle();
    // The bus may start the daemon again, but its keyring is then locked: either way the
    // password stays in the settings file and the user is told.
    EXPECT_EQ(fileValue("site"), "ps");
    if (secrets->place() == TPasswordPlace::Keyring) {
        ASSERT_EQ(problems.size(), 1u);
        EXPECT_THAT(problems[0], HasSubstr("\"site\" stays in the settings file"));
    }
}

// The daemon dies and another takes its place: the connection to the old one is dropped and the
// request goes to the new one.
TEST_F(KeyringFixture, Back_ADaemonStartedAgainIsReachedOnAFreshConnection) {
    ASSERT_TRUE(call([&](auto done) { store->probe(done); }).ok());
    ASSERT_EQ(::kill(daemonPid(), SIGKILL), 0);
    sh("printf keyring-test-password | gnome-keyring-daemon --foreground --unlock "
       "--components=secrets >/dev/null 2>&1 &");
    for (int i = 0; i < 100; ++i) {
        if (sh("gdbus call --session -d org.freedesktop.DBus -o /org/freedesktop/DBus -m "
               "org.freedesktop.DBus.NameHasOwner org.freedesktop.secrets 2>/dev/null")
                .find("true") != std::string::npos)
            break;
        ::usleep(100 * 1000);
    }
    save(account("site", "ps"));
    secrets->start();
    settle();
    EXPECT_TRUE(problems.empty()) << problems.front();
    EXPECT_EQ(secretTool("site"), "ps");
    EXPECT_EQ(fileValue("site"), "");
}

TEST(NoSessionBus, PasswordsStayInTheSettingsFile) {
    if (std::getenv("DBUS_SESSION_BUS_ADDRESS"))
        GTEST_SKIP() << "run through run_with_keyring.sh --no-bus";
    TempDir dir;
    Registry registry{dir.path()};
    auto loop = morvane::platform::makePollEventLoop();
    auto store = morvane::platform::makeDesktopSecretStore(*loop, 10s);
    ASSERT_TRUE(SaveAccount(registry, "site", account("site", "ps")));
    TAccountSecrets secrets(registry, *loop, store.get());
    std::vector<std::string> problems;
    secrets.onProblem = [&](const std::string& m) { problems.push_back(m); };
    secrets.start();
    auto deadline = std::chrono::steady_clock::now() + 60s;
    while (!secrets.idle() && std::chrono::steady_clock::now() < deadline)
        loop->processEvents(50ms);
    EXPECT_EQ(secrets.place(), TPasswordPlace::SettingsFile);
    EXPECT_THAT(secrets.placeText(), HasSubstr("settings file"));
    TAccount site;
    ASSERT_TRUE(LoadAccount(registry, "site", site));
    EXPECT_EQ(site.Password, "ps");
    EXPECT_EQ(secrets.kept(account("other", "")), "");
    EXPECT_TRUE(problems.empty());
}

} // namespace
