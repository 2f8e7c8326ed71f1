#pragma once
// Where account passwords are kept. With a desktop keyring that answers, each account's password
// is one secret there (attributes: program, account name, host, user) and the settings' Password
// value stays empty; without one, the password stays in the settings file (readable only by the
// user). A password found in the settings file moves into the keyring as soon as one answers and
// leaves the file only after the keyring has confirmed it, so a keyring that is locked, refuses
// or disappears never loses one. Passwords typed at the prompt are kept for the program's run.

#include "core/net/Account.h"
#include "core/platform/EventLoop.h"
#include "core/platform/Registry.h"
#include "core/platform/SecretStore.h"

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace morvane::net {

enum class TPasswordPlace { Checking, Keyring, SettingsFile };

// The value of the "program" attribute of every secret the program keeps.
inline constexpr const char* kSecretProgram = "morvane";

// The keyring attributes of the account's secret.
platform::SecretAttributes SecretAttributesOf(const TAccount& account);

class TAccountSecrets {
public:
    // store may be null: passwords then stay in the settings file. waitLimit bounds every wait
    // for the keyring (the store's own time limit should be shorter).
    TAccountSecrets(platform::Registry& registry, platform::EventLoop& loop,
                    platform::SecretStore* store,
                    std::chrono::milliseconds waitLimit = std::chrono::seconds(30));
    ~TAccountSecrets();
    TAccountSecrets(const TAccountSecrets&) = delete;
    TAccountSecrets& operator=(const TAccountSecrets&) = delete;

    // Asks whether a keyring answers; when one does, moves the settings file's passwords into it.
    void start();
    TPasswordPlace place() const { return place_; }
    // Where passwords are kept, in a sentence for the account manager.
    std::string placeText() const;

    // Reads every password the keyring keeps for the program, waiting on the loop (bounded).
    // Returns the problem, or "" when the keyring was read (or there is none to read).
    std::string load();

    // The password to log in with for an account whose settings hold none (or that prompts):
    // one typed earlier in this run, else the keyring's, else "" when none is kept anywhere.
    // nullopt when the user must be asked: the account prompts, or the keyring cannot be read.
    std::optional<std::string> kept(const TAccount& account);
    // The keyring's password of the account of that name, when the keyring was read and has one.
    std::optional<std::string> inKeyring(const std::string& name) const;
    // A password typed at the prompt: kept for the run; save ("Save password") also stores it
    // with the account, which then no longer prompts.
    void typed(const TAccount& account, const std::string& password, bool save);

    // SSH key passphrases: kept for the run, and in the keyring (apart from the accounts' items)
    // when the user ticked "Remember". nullopt when none is kept.
    std::optional<std::string> keptPassphrase(const std::string& keyFile);
    void rememberPassphrase(const std::string& keyFile, const std::string& phrase, bool save);
    void forgetPassphrase(const std::string& keyFile);
    // The password question of an account, open once at a time. ask opens it (a modal dialog)
    // and its answer must reach answer() as soon as the user gives it, which may be before ask
    // returns. A request made while the account's question is open (from the dialog's own loop:
    // another document opening) waits for that answer instead of asking again. nullopt: the
    // user cancelled.
    std::optional<std::string> question(const TAccount& account, const std::function<void()>& ask);
    // The user's answer to the open question (nullopt: cancelled); a password is kept as typed().
    void answer(const TAccount& account, const std::optional<std::string>& password, bool save);

    // Forgets the password typed for the account in this run (its login failed).
    void forget(const std::string& name) { remembered_.erase(name); }

    // The Password value the account manager writes: empty when the keyring already holds this
    // very password for this account, host and user; the password otherwise (it then moves).
    std::string passwordToWrite(const TAccount& account) const;
    // After the account manager replaced the stored list. records: the name each account was
    // stored under ("" for a new one) and the account as stored, with its password; deleted:
    // the names no longer stored. Renames, deletions and changed passwords reach the keyring.
    void accountsSaved(const std::vector<std::pair<std::string, TAccount>>& records,
                       const std::vector<std::string>& deleted);

    // True when no keyring request is under way (tests wait for it).
    bool idle() const { return busy_ == 0 && place_ != TPasswordPlace::Checking; }

    // A message for the user: the keyring refused or did not answer (the password stays where it
    // was). Called from the loop.
    std::function<void(const std::string& message)> onProblem;

private:
    struct Entry {
        std::string host, user, password;
    };
    using Then = std::function<void(const std::string& error)>;

    void waitUntil(const std::function<bool()>& done);
    void moveToKeyring(const TAccount& account, const std::string& formerName, Then then);
    void carryOver(const std::string& formerName, const TAccount& account, Then then);
    void removeSecret(const std::string& name, Then then);
    void clearSettingsPassword(const std::string& name, const std::string& password);
    void migrate();
    // Counts a request chain; the returned function ends it.
    std::function<void()> begin();
    // Collects failures of one batch into one message.
    struct Batch;

    platform::Registry& registry_;
    platform::EventLoop& loop_;
    platform::SecretStore* store_;
    std::map<std::string, std::string> passphrases_; // by key file, for this run
    std::chrono::milliseconds waitLimit_;
    TPasswordPlace place_ = TPasswordPlace::SettingsFile;
    bool loaded_ = false;
    bool loading_ = false;
    std::string loadError_;
    bool loadErrorShown_ = false;
    std::map<std::string, Entry> keyring_;          // what the keyring is known to hold
    std::map<std::string, std::string> remembered_; // typed in this run
    struct Question {
        bool answered = false;
        std::optional<std::string> password;
    };
    std::map<std::string, std::shared_ptr<Question>> questions_; // open, by account name
    int busy_ = 0;
    std::shared_ptr<int> life_ = std::make_shared<int>(0); // callbacks check it
};

} // namespace morvane::net
