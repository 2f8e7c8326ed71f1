// Where account passwords live: the move from the settings file into a keyring (only after the
// keyring confirms), a keyring that refuses or never answers, passwords kept for the run, and
// the account manager's renames, deletions and cleared passwords reaching the keyring.

#include "core/net/AccountSecrets.h"
#include "core/net/FtpFileSystem.h"
#include "support/MemorySecretStore.h"
#include "support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace morvane::net;
using morvane::platform::Hive;
using morvane::platform::Registry;
using morvane::platform::RegKey;
using morvane::testing::MemorySecretStore;
using morvane::testing::TempDir;
using ::testing::HasSubstr;

namespace {

TAccount account(const std::string& name, const std::string& password) {
    TAccount a;
    a.Name = name;
    a.Hostname = name + ".example.org";
    a.Username = "user-" + name;
    a.Password = password;
    return a;
}

struct SecretsFixture : ::testing::Test {
    TempDir dir;
    Registry registry{dir.path()};
    std::unique_ptr<morvane::platform::EventLoop> loop = morvane::platform::makePollEventLoop();
    MemorySecretStore keyring{*loop};
    std::vector<std::string> problems;
    std::unique_ptr<TAccountSecrets> secrets;

    void make(morvane::platform::SecretStore* store) {
        secrets = std::make_unique<TAccountSecrets>(registry, *loop, store,
                                                    std::chrono::milliseconds(300));
        secrets->onProblem = [this](const std::string& m) { problems.push_back(m); };
    }
    void startWith(morvane::platform::SecretStore* store) {
        make(store);
        secrets->start();
        settle();
    }
    // Delivers what is ready, such as the probe's answer, without waiting for the rest.
    void pump() {
        for (int i = 0; i < 3; ++i)
            loop->processEvents(std::chrono::milliseconds(0));
    }
    void settle() {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!secrets->idle() && std::chrono::steady_clock::now() < deadline)
            loop->processEvents(std::chrono::milliseconds(10));
        for (int i = 0; i < 5; ++i) // the batch's message follows its last answer
            loop->processEvents(std::chrono::milliseconds(0));
    }
    void save(const TAccount& a) { ASSERT_TRUE(SaveAccount(registry, a.Name, a)); }
    std::string fileValue(const std::string& name) {
        return RegKey(registry, Hive::CurrentUser, std::string(kAccountsRoot) + "\\" + name)
            .readString("Password");
    }
    std::string inKeyring(const std::string& name) {
        return keyring.secretOf({{"program", kSecretProgram}, {"account", name}});
    }
    // What the account manager does on OK.
    void managerSaves(const std::vector<std::pair<std::string, TAccount>>& records,
                      const std::vector<std::string>& deleted) {
        std::vector<TAccount> list;
        for (auto [former, a] : records) {
            a.Password = secrets->passwordToWrite(a);
            list.push_back(a);
        }
        ASSERT_TRUE(SaveAccountList(registry, list));
        secrets->accountsSaved(records, deleted);
        settle();
    }
};

TEST_F(SecretsFixture, SettingsPasswordsMoveIntoTheKeyringAndLeaveTheFileAfterItConfirms) {
    save(account("site", "s3cret"));
    TAccount prompting = account("ask", "");
    prompting.PromptForPassword = true;
    save(prompting);
    save(account("anon", ""));
    keyring.silent = true; // the keyring has not answered yet: the file still has it
    make(&keyring);
    secrets->start();
    keyring.flush(); // the probe
    keyring.silent = true;
    pump();
    EXPECT_EQ(secrets->place(), TPasswordPlace::Keyring);
    EXPECT_EQ(fileValue("site"), "s3cret");
    keyring.flush();
    settle();
    EXPECT_EQ(fileValue("site"), "");
    EXPECT_EQ(inKeyring("site"), "s3cret");
    EXPECT_EQ(keyring.items.front().attributes,
              (morvane::platform::SecretAttributes{{"program", "morvane"},
                                                   {"account", "site"},
                                                   {"host", "site.example.org"},
                                                   {"user", "user-site"}}));
    EXPECT_EQ(inKeyring("ask"), "<none>");
    EXPECT_EQ(inKeyring("anon"), "<none>");
    EXPECT_TRUE(problems.empty());

    // Read back from the keyring; an account without password gets none, not a question.
    TAccount loaded;
    ASSERT_TRUE(LoadAccount(registry, "site", loaded));
    EXPECT_EQ(secrets->kept(loaded), "s3cret");
    ASSERT_TRUE(LoadAccount(registry, "anon", loaded));
    EXPECT_EQ(secrets->kept(loaded), "");
}

TEST_F(SecretsFixture, APasswordChangedWhileTheKeyringWorkedStaysInTheFile) {
    save(account("site", "old"));
    make(&keyring);
    secrets->start();
    keyring.flush();
    keyring.silent = true;
    pump();
    save(account("site", "new")); // written while the keyring holds "old" unconfirmed
    keyring.flush();
    settle();
    EXPECT_EQ(fileValue("site"), "new");
}

TEST_F(SecretsFixture, ARefusingKeyringKeepsThePasswordInTheFileAndSaysSoOnce) {
    save(account("a", "pa"));
    save(account("b", "pb"));
    make(&keyring);
    secrets->start();
    loop->processEvents(std::chrono::milliseconds(0)); // the probe succeeds
    keyring.failure = "Cannot create an item in a locked collection";
    settle();
    EXPECT_EQ(fileValue("a"), "pa");
    EXPECT_EQ(fileValue("b"), "pb");
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_THAT(problems[0], HasSubstr("\"a\" stays in the settings file"));
    EXPECT_THAT(problems[0], HasSubstr("\"b\" stays in the settings file"));
    EXPECT_THAT(problems[0], HasSubstr("locked collection"));
    TAccount a;
    ASSERT_TRUE(LoadAccount(registry, "a", a));
    EXPECT_EQ(secrets->kept(a), "pa");

    // The next run with a working keyring moves them.
    keyring.failure.clear();
    startWith(&keyring);
    EXPECT_EQ(fileValue("a"), "");
    EXPECT_EQ(inKeyring("a"), "pa");
}

TEST_F(SecretsFixture, WithoutAKeyringPasswordsStayInTheSettingsFile) {
    save(account("site", "s3cret"));
    startWith(nullptr);
    EXPECT_EQ(secrets->place(), TPasswordPlace::SettingsFile);
    EXPECT_THAT(secrets->placeText(), HasSubstr("settings file"));
    EXPECT_EQ(secrets->passwordToWrite(account("site", "s3cret")), "s3cret");

    keyring.failure = "There is no desktop session bus, so no keyring to ask.";
    startWith(&keyring);
    EXPECT_EQ(secrets->place(), TPasswordPlace::SettingsFile);
    EXPECT_EQ(fileValue("site"), "s3cret");
    EXPECT_TRUE(problems.empty()); // no keyring is no problem
    TAccount none = account("site", "");
    EXPECT_EQ(secrets->kept(none), "");
}

TEST_F(SecretsFixture, AKeyringThatCannotBeReadMeansAskingAndTheTypedPasswordIsKeptForTheRun) {
    startWith(&keyring);
    keyring.failure = "The desktop keyring is locked.";
    TAccount site = account("site", "");
    EXPECT_EQ(secrets->kept(site), std::nullopt);
    EXPECT_THAT(secrets->placeText(),
                HasSubstr("could not be read (The desktop keyring is locked.)"));

    EXPECT_EQ(secrets->kept(account("b", "")), std::nullopt);
    ASSERT_EQ(problems.size(), 1u); // said once, not at every question
    EXPECT_THAT(problems[0], HasSubstr("could not be read (The desktop keyring is locked.)"));

    secrets->typed(site, "typed", false);
    EXPECT_EQ(secrets->kept(site), "typed");
    EXPECT_EQ(inKeyring("site"), "<none>"); // not saved without the tick

    // A keyring that never answers: the wait ends, and the user is asked.
    keyring.failure.clear();
    keyring.silent = true;
    TAccount other = account("other", "");
    EXPECT_EQ(secrets->kept(other), std::nullopt);
}

TEST_F(SecretsFixture, PromptedPasswordsAreKeptForTheRunAndSavedOnlyWhenTicked) {
    TAccount a = account("site", "");
    a.PromptForPassword = true;
    save(a);
    startWith(&keyring);
    EXPECT_EQ(secrets->kept(a), std::nullopt);
    secrets->typed(a, "once", false);
    EXPECT_EQ(secrets->kept(a), "once");
    settle();
    EXPECT_EQ(keyring.items.size(), 0u);
    EXPECT_EQ(fileValue("site"), "");

    secrets->typed(a, "kept", true);
    settle();
    TAccount stored;
    ASSERT_TRUE(LoadAccount(registry, "site", stored));
    EXPECT_FALSE(stored.PromptForPassword);
    EXPECT_EQ(stored.Password, "");
    EXPECT_EQ(inKeyring("site"), "kept");

    // Without a keyring the ticked password goes to the settings file.
    TAccount b = account("b", "");
    b.PromptForPassword = true;
    save(b);
    startWith(nullptr);
    secrets->typed(b, "filed", true);
    ASSERT_TRUE(LoadAccount(registry, "b", stored));
    EXPECT_EQ(stored.Password, "filed");
}

TEST_F(SecretsFixture, RequestsWhileTheQuestionIsOpenWaitForItsAnswer) {
    TAccount a = account("site", "");
    a.PromptForPassword = true;
    save(a);
    startWith(nullptr);
    int asked = 0;
    std::optional<std::string> second, third;
    bool answered = false;
    // The dialog's own loop runs while it is open: two more documents of the account ask for
    // the password, then the user types it.
    auto dialog = [&] {
        ++asked;
        // Timers, as the clicks would, fire inside the waiting requests' own loops.
        loop->post([&] { second = secrets->question(a, [&] { ++asked; }); });
        loop->addTimer(std::chrono::milliseconds(1), false,
                       [&] { third = secrets->question(a, [&] { ++asked; }); });
        loop->addTimer(std::chrono::milliseconds(20), false, [&] {
            secrets->answer(a, std::string("typed"), false);
            answered = true;
        });
        for (int i = 0; i < 100 && !answered; ++i)
            loop->processEvents(std::chrono::milliseconds(5));
    };
    EXPECT_EQ(secrets->question(a, dialog), "typed");
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(second, "typed");
    EXPECT_EQ(third, "typed");
    EXPECT_EQ(secrets->kept(a), "typed"); // for the rest of the run, not saved
    TAccount stored;
    ASSERT_TRUE(LoadAccount(registry, "site", stored));
    EXPECT_TRUE(stored.PromptForPassword);
    EXPECT_EQ(stored.Password, "");

    // Cancelled: the waiting request is cancelled too, and the next one asks again.
    TAccount b = account("b", "");
    b.PromptForPassword = true;
    save(b);
    std::optional<std::string> waiting = "unset";
    bool closed = false;
    auto cancelled = [&] {
        ++asked;
        loop->post([&] { waiting = secrets->question(b, [&] { ++asked; }); });
        loop->addTimer(std::chrono::milliseconds(5), false, [&] {
            secrets->answer(b, std::nullopt, false);
            closed = true;
        });
        for (int i = 0; i < 100 && !closed; ++i)
            loop->processEvents(std::chrono::milliseconds(5));
    };
    EXPECT_EQ(secrets->question(b, cancelled), std::nullopt);
    EXPECT_EQ(waiting, std::nullopt);
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(secrets->question(b,
                                [&] {
                                    ++asked;
                                    secrets->answer(b, std::string("second try"), false);
                                }),
              "second try");
    EXPECT_EQ(asked, 3);
}

TEST_F(SecretsFixture, RenamesDeletionsAndClearedPasswordsReachTheKeyring) {
    save(account("a", "pa"));
    save(account("b", "pb"));
    save(account("c", "pc"));
    save(account("d", "pd"));
    startWith(&keyring);
    ASSERT_EQ(secrets->load(), "");
    ASSERT_EQ(keyring.items.size(), 4u);

    TAccount renamed = account("a", "pa");
    renamed.Name = "a2";
    TAccount newHost = account("b", "pb");
    newHost.Hostname = "moved.example.org";
    TAccount cleared = account("c", "");
    int before = keyring.requests;
    managerSaves({{"a", renamed}, {"b", newHost}, {"c", cleared}, {"", account("e", "pe")}}, {"d"});
    EXPECT_GT(keyring.requests, before);
    EXPECT_EQ(inKeyring("a"), "<none>");
    EXPECT_EQ(inKeyring("a2"), "pa");
    EXPECT_EQ(keyring.secretOf({{"account", "b"}, {"host", "moved.example.org"}}), "pb");
    EXPECT_EQ(inKeyring("b"), "pb"); // the old host's secret is gone
    EXPECT_EQ(inKeyring("c"), "<none>");
    EXPECT_EQ(inKeyring("d"), "<none>");
    EXPECT_EQ(inKeyring("e"), "pe");
    for (const char* name : {"a2", "b", "c", "e"})
        EXPECT_EQ(fileValue(name), "") << name;
    EXPECT_TRUE(problems.empty());

    // Saving again unchanged writes nothing to the keyring and no password to the file.
    before = keyring.requests;
    managerSaves({{"a2", renamed}, {"b", newHost}, {"c", cleared}, {"e", account("e", "pe")}}, {});
    EXPECT_EQ(keyring.requests, before);
}

TEST_F(SecretsFixture, ARenameWhileTheKeyringCouldNotBeReadCarriesItsSecretOver) {
    save(account("a", "pa"));
    TAccount prompting = account("p", "pp");
    save(account("p", "pp"));
    startWith(&keyring);
    ASSERT_EQ(inKeyring("a"), "pa");
    // A fresh run whose keyring read failed shows both passwords empty.
    make(&keyring);
    secrets->start();
    loop->processEvents(std::chrono::milliseconds(0));
    keyring.failure = "locked";
    settle();
    EXPECT_NE(secrets->load(), "");
    EXPECT_EQ(problems.size(), 1u);
    problems.clear();
    keyring.failure.clear();
    TAccount renamed = account("a", "");
    renamed.Name = "b";
    prompting.Password.clear();
    prompting.PromptForPassword = true;
    managerSaves({{"a", renamed}, {"p", prompting}}, {});
    EXPECT_EQ(inKeyring("a"), "<none>");
    EXPECT_EQ(inKeyring("b"), "pa");
    EXPECT_EQ(inKeyring("p"), "<none>"); // a prompting account keeps no password
    EXPECT_TRUE(problems.empty());

    // A keyring that refuses the move keeps the secret under the old name and says so.
    keyring.failure = "gone";
    renamed.Name = "c";
    managerSaves({{"b", renamed}}, {});
    keyring.failure.clear();
    EXPECT_EQ(inKeyring("b"), "pa");
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_THAT(problems[0], HasSubstr("kept under the old name"));
}

TEST(ApplyAccountPasswords, KeptPasswordsComeBeforeAskingAndAskingPrefersTheAccountPrompt) {
    auto loop = morvane::platform::makePollEventLoop();
    TFtpFileSystem ftp(*loop);
    TAccountPrompts prompts;
    std::vector<std::string> asked;
    prompts.password = [&](const std::string& caption) -> std::optional<std::string> {
        asked.push_back(caption);
        return "by caption";
    };
    std::optional<std::string> kept;
    prompts.keptPassword = [&](const TAccount&) { return kept; };
    TAccount a = account("site", "");
    kept = "from keyring";
    ASSERT_TRUE(ApplyAccount(a, ftp, {}, prompts));
    EXPECT_EQ(ftp.Login().password, "from keyring");
    EXPECT_TRUE(asked.empty());

    kept.reset(); // the keyring cannot be read: ask
    ASSERT_TRUE(ApplyAccount(a, ftp, {}, prompts));
    EXPECT_EQ(ftp.Login().password, "by caption");
    prompts.askPassword = [&](const TAccount& account) -> std::optional<std::string> {
        asked.push_back("account " + account.Name);
        return "by account";
    };
    ASSERT_TRUE(ApplyAccount(a, ftp, {}, prompts));
    EXPECT_EQ(ftp.Login().password, "by account");
    EXPECT_EQ(asked, (std::vector<std::string>{"Password for site", "account site"}));

    // A password in the settings wins; a prompting account uses one typed earlier.
    a.Password = "filed";
    kept = "unused";
    ASSERT_TRUE(ApplyAccount(a, ftp, {}, prompts));
    EXPECT_EQ(ftp.Login().password, "filed");
    a.PromptForPassword = true;
    kept = "typed before";
    ASSERT_TRUE(ApplyAccount(a, ftp, {}, prompts));
    EXPECT_EQ(ftp.Login().password, "typed before");
    EXPECT_EQ(asked.size(), 2u);
}

} // namespace

TEST_F(SecretsFixture, KeyPassphrasesAreKeptApartFromAccountPasswords) {
    startWith(&keyring);
    EXPECT_FALSE(secrets->keptPassphrase("/home/me/.ssh/id_ed25519"));
    secrets->rememberPassphrase("/home/me/.ssh/id_ed25519", "for this run", false);
    settle();
    EXPECT_TRUE(keyring.items.empty()); // not ticked: not stored
    EXPECT_EQ(secrets->keptPassphrase("/home/me/.ssh/id_ed25519"), "for this run");

    secrets->rememberPassphrase("/home/me/.ssh/id_rsa", "kept", true);
    settle();
    ASSERT_EQ(keyring.items.size(), 1u);
    // Another run finds it in the keyring; the accounts' passwords never see it.
    make(&keyring);
    secrets->start();
    settle();
    EXPECT_EQ(secrets->keptPassphrase("/home/me/.ssh/id_rsa"), "kept");
    EXPECT_EQ(secrets->inKeyring("/home/me/.ssh/id_rsa"), std::nullopt);
    secrets->forgetPassphrase("/home/me/.ssh/id_rsa");
    settle();
    EXPECT_TRUE(keyring.items.empty());
    EXPECT_FALSE(secrets->keptPassphrase("/home/me/.ssh/id_rsa"));
}
