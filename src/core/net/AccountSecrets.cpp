#include "core/net/AccountSecrets.h"

namespace morvane::net {

using platform::Hive;
using platform::SecretAttributes;
using platform::SecretResult;

namespace {

std::string keyOf(const std::string& name) {
    return std::string(kAccountsRoot) + "\\" + name;
}

SecretAttributes nameAttributes(const std::string& name) {
    return {{"program", kSecretProgram}, {"account", name}};
}

std::string quoted(const std::string& s) {
    return "\"" + s + "\"";
}

std::string attribute(const SecretAttributes& a, const char* name) {
    auto it = a.find(name);
    return it == a.end() ? std::string() : it->second;
}

} // namespace

SecretAttributes SecretAttributesOf(const TAccount& account) {
    return {{"program", kSecretProgram},
            {"account", account.Name},
            {"host", account.Hostname},
            {"user", account.Username}};
}

// The sentences of one batch of keyring work, shown as one message when its last request ends.
struct TAccountSecrets::Batch {
    TAccountSecrets* owner;
    std::weak_ptr<int> life;
    std::vector<std::string> problems;
    ~Batch() {
        if (problems.empty() || life.expired() || !owner->onProblem) return;
        std::string text;
        for (const std::string& p : problems)
            text += (text.empty() ? "" : "\n") + p;
        owner->onProblem(text);
    }
};

TAccountSecrets::TAccountSecrets(platform::Registry& registry, platform::EventLoop& loop,
                                 platform::SecretStore* store, std::chrono::milliseconds waitLimit)
    : registry_(registry), loop_(loop), store_(store), waitLimit_(waitLimit) {}

TAccountSecrets::~TAccountSecrets() = default;

std::function<void()> TAccountSecrets::begin() {
    ++busy_;
    std::weak_ptr<int> life = life_;
    return [this, life] {
        if (!life.expired()) --busy_;
    };
}

void TAccountSecrets::waitUntil(const std::function<bool()>& done) {
    // The store answers within its own limit; this bound only guards against one that never does.
    auto deadline = std::chrono::steady_clock::now() + waitLimit_;
    while (!done() && std::chrono::steady_clock::now() < deadline)
        loop_.processEvents(std::chrono::milliseconds(50));
}

void TAccountSecrets::start() {
    if (!store_ || place_ == TPasswordPlace::Checking) return;
    place_ = TPasswordPlace::Checking;
    std::weak_ptr<int> life = life_;
    store_->probe([this, life](SecretResult r) {
        if (life.expired()) return;
        place_ = r.ok() ? TPasswordPlace::Keyring : TPasswordPlace::SettingsFile;
        if (place_ == TPasswordPlace::Keyring) migrate();
    });
}

std::string TAccountSecrets::placeText() const {
    switch (place_) {
    case TPasswordPlace::Checking:
        return "Looking for the desktop keyring...";
    case TPasswordPlace::Keyring:
        if (!loadError_.empty())
            return "Passwords are kept in the desktop keyring, which could not be read (" +
                   loadError_ +
                   "): a password kept there is not shown and stays as it is "
                   "unless you type a new one.";
        return "Passwords are kept in the desktop keyring.";
    case TPasswordPlace::SettingsFile:
        break;
    }
    return "No desktop keyring answers: passwords are kept in the settings file, which only you "
           "can read (" +
           registry_.dir().string() + ").";
}

std::string TAccountSecrets::load() {
    waitUntil([this] { return place_ != TPasswordPlace::Checking; });
    if (place_ != TPasswordPlace::Keyring) return {};
    if (loaded_) return {};
    if (!loading_) {
        loading_ = true;
        std::weak_ptr<int> life = life_;
        auto end = begin();
        store_->search({{"program", kSecretProgram}}, [this, life, end](SecretResult r) {
            if (life.expired()) return;
            end();
            loading_ = false;
            loadError_ = r.error;
            if (!r.ok()) return;
            loaded_ = true;
            for (const auto& item : r.items) {
                std::string name = attribute(item.attributes, "account");
                if (name.empty()) continue;
                keyring_[name] = Entry{attribute(item.attributes, "host"),
                                       attribute(item.attributes, "user"), item.secret};
            }
        });
    }
    waitUntil([this] { return !loading_; });
    std::string error = loading_ ? "The desktop keyring did not answer." : loadError_;
    // Said once until the keyring is read again; the windows then ask for those passwords.
    if (!error.empty() && !loadErrorShown_ && onProblem) {
        loadErrorShown_ = true;
        onProblem("The desktop keyring could not be read (" + error +
                  "). Passwords kept there are asked for instead.");
    }
    if (error.empty()) loadErrorShown_ = false;
    return error;
}

std::optional<std::string> TAccountSecrets::kept(const TAccount& account) {
    if (auto it = remembered_.find(account.Name); it != remembered_.end()) return it->second;
    if (account.PromptForPassword) return std::nullopt;
    if (!account.Password.empty()) return account.Password;
    if (!store_) return std::string();
    load();
    if (place_ != TPasswordPlace::Keyring) return std::string();
    if (auto it = keyring_.find(account.Name); it != keyring_.end()) return it->second.password;
    // Read and holding nothing: the account has no password. Not read: only the user knows it.
    if (loaded_) return std::string();
    return std::nullopt;
}

namespace {

SecretAttributes passphraseAttributes(const std::string& keyFile) {
    return {{"program", std::string(kSecretProgram) + " ssh key"}, {"key", keyFile}};
}

} // namespace

std::optional<std::string> TAccountSecrets::keptPassphrase(const std::string& keyFile) {
    if (auto it = passphrases_.find(keyFile); it != passphrases_.end()) return it->second;
    if (!store_) return std::nullopt;
    waitUntil([this] { return place_ != TPasswordPlace::Checking; });
    if (place_ != TPasswordPlace::Keyring) return std::nullopt;
    bool done = false;
    std::optional<std::string> found;
    auto life = std::make_shared<bool>(true);
    std::weak_ptr<bool> alive = life;
    store_->search(passphraseAttributes(keyFile), [&, alive](SecretResult r) {
        if (alive.expired()) return;
        done = true;
        if (r.ok() && !r.items.empty()) found = r.items.front().secret;
    });
    waitUntil([&] { return done; });
    if (found) passphrases_[keyFile] = *found;
    return found;
}

void TAccountSecrets::rememberPassphrase(const std::string& keyFile, const std::string& phrase,
                                         bool save) {
    passphrases_[keyFile] = phrase;
    if (!save || !store_ || place_ != TPasswordPlace::Keyring) return;
    store_->store(passphraseAttributes(keyFile), "Morvane: passphrase of " + keyFile, phrase,
                  [](SecretResult) {});
}

void TAccountSecrets::forgetPassphrase(const std::string& keyFile) {
    passphrases_.erase(keyFile);
    if (store_ && place_ == TPasswordPlace::Keyring)
        store_->remove(passphraseAttributes(keyFile), [](SecretResult) {});
}

std::optional<std::string> TAccountSecrets::inKeyring(const std::string& name) const {
    auto it = keyring_.find(name);
    if (it == keyring_.end()) return std::nullopt;
    return it->second.password;
}

std::optional<std::string> TAccountSecrets::question(const TAccount& account,
                                                     const std::function<void()>& ask) {
    if (auto it = questions_.find(account.Name); it != questions_.end()) {
        std::shared_ptr<Question> open = it->second;
        // Ends when the user answers the dialog that is open; the loop keeps it responsive.
        while (!open->answered)
            loop_.processEvents(std::chrono::milliseconds(50));
        return open->password;
    }
    auto q = std::make_shared<Question>();
    questions_[account.Name] = q;
    if (ask) ask();
    if (!q->answered) answer(account, std::nullopt, false); // closed without an answer
    return q->password;
}

void TAccountSecrets::answer(const TAccount& account, const std::optional<std::string>& password,
                             bool save) {
    auto it = questions_.find(account.Name);
    if (it != questions_.end()) {
        it->second->answered = true;
        it->second->password = password;
        questions_.erase(it);
    }
    if (password) typed(account, *password, save);
}

void TAccountSecrets::typed(const TAccount& account, const std::string& password, bool save) {
    remembered_[account.Name] = password;
    if (!save) return;
    TAccount stored;
    if (!LoadAccount(registry_, account.Name, stored)) return; // quick connect, or deleted
    stored.PromptForPassword = false;
    stored.Password = password;
    std::string error;
    if (!SaveAccount(registry_, account.Name, stored, &error)) {
        if (onProblem) onProblem(error);
        return;
    }
    if (place_ != TPasswordPlace::Keyring) return;
    auto batch = std::make_shared<Batch>(Batch{this, life_, {}});
    moveToKeyring(stored, account.Name, [batch, name = account.Name](const std::string& e) {
        if (!e.empty())
            batch->problems.push_back("The password of the account " + quoted(name) +
                                      " stays in the settings file: the desktop keyring did not "
                                      "take it (" +
                                      e + ").");
    });
}

std::string TAccountSecrets::passwordToWrite(const TAccount& account) const {
    if (place_ == TPasswordPlace::Keyring) {
        auto it = keyring_.find(account.Name);
        if (it != keyring_.end() && it->second.password == account.Password &&
            it->second.host == account.Hostname && it->second.user == account.Username)
            return {};
    }
    return account.Password;
}

void TAccountSecrets::clearSettingsPassword(const std::string& name, const std::string& password) {
    // Only the value that went into the keyring; one changed meanwhile stays.
    if (!registry_.keyExists(Hive::CurrentUser, keyOf(name))) return;
    platform::RegKey key(registry_, Hive::CurrentUser, keyOf(name));
    if (DecodePassword(key.readString("Password")) != password) return;
    key.writeString("Password", "");
}

void TAccountSecrets::moveToKeyring(const TAccount& account, const std::string& formerName,
                                    Then then) {
    std::weak_ptr<int> life = life_;
    auto end = begin();
    std::string label = "Morvane password for " + account.Name + " (" + account.Username + "@" +
                        account.Hostname + ")";
    store_->store(
        SecretAttributesOf(account), label, account.Password,
        [this, life, end, account, formerName, then](SecretResult r) {
            if (life.expired()) return;
            end();
            if (!r.ok()) return then(r.error);
            // The keyring has it: the settings file may forget it, and the secrets the account
            // had under another name, host or user go.
            std::optional<Entry> before;
            if (auto it = keyring_.find(account.Name); it != keyring_.end()) before = it->second;
            keyring_[account.Name] = Entry{account.Hostname, account.Username, account.Password};
            clearSettingsPassword(account.Name, account.Password);
            if (before && (before->host != account.Hostname || before->user != account.Username)) {
                TAccount old = account;
                old.Hostname = before->host;
                old.Username = before->user;
                auto endOld = begin();
                store_->remove(SecretAttributesOf(old), [life, endOld](SecretResult) {
                    if (!life.expired()) endOld();
                });
            }
            if (!formerName.empty() && formerName != account.Name)
                return removeSecret(formerName, then);
            then({});
        });
}

void TAccountSecrets::carryOver(const std::string& formerName, const TAccount& account, Then then) {
    // The keyring was not read: its secret moves to the new name, host and user unseen.
    std::weak_ptr<int> life = life_;
    auto end = begin();
    store_->search(nameAttributes(formerName), [this, life, end, formerName, account,
                                                then](SecretResult r) {
        if (life.expired()) return;
        end();
        if (!r.ok()) return then(r.error);
        if (r.items.empty()) return then({});
        TAccount moved = account;
        moved.Password = r.items.front().secret;
        if (formerName == account.Name && SecretAttributesOf(moved) == r.items.front().attributes)
            return then({});
        keyring_.erase(formerName);
        moveToKeyring(moved, formerName, then);
    });
}

void TAccountSecrets::removeSecret(const std::string& name, Then then) {
    std::weak_ptr<int> life = life_;
    auto end = begin();
    store_->remove(nameAttributes(name), [this, life, end, name, then](SecretResult r) {
        if (life.expired()) return;
        end();
        if (r.ok()) keyring_.erase(name);
        then(r.error);
    });
}

void TAccountSecrets::migrate() {
    auto batch = std::make_shared<Batch>(Batch{this, life_, {}});
    for (const std::string& name : AccountNames(registry_)) {
        TAccount account;
        if (!LoadAccount(registry_, name, account)) continue;
        if (account.PromptForPassword || account.Password.empty()) continue;
        moveToKeyring(account, {}, [batch, name](const std::string& e) {
            if (!e.empty())
                batch->problems.push_back(
                    "The password of the account " + quoted(name) +
                    " stays in the settings file: the desktop keyring did not take it (" + e +
                    ").");
        });
    }
}

void TAccountSecrets::accountsSaved(const std::vector<std::pair<std::string, TAccount>>& records,
                                    const std::vector<std::string>& deleted) {
    // Passwords typed in this run follow their account's new name.
    std::map<std::string, std::string> remembered;
    for (const auto& [former, account] : records)
        if (auto it = remembered_.find(former); !former.empty() && it != remembered_.end())
            remembered[account.Name] = it->second;
    remembered_ = std::move(remembered);
    if (place_ != TPasswordPlace::Keyring) return;

    auto batch = std::make_shared<Batch>(Batch{this, life_, {}});
    auto notDeleted = [batch](const std::string& name) {
        return [batch, name](const std::string& e) {
            if (!e.empty())
                batch->problems.push_back("The desktop keyring still holds the password of " +
                                          quoted(name) + ": it did not delete it (" + e + ").");
        };
    };
    for (const std::string& name : deleted)
        removeSecret(name, notDeleted(name));
    for (const auto& [former, account] : records) {
        bool renamed = !former.empty() && former != account.Name;
        if (account.PromptForPassword) {
            // An account that prompts keeps no password anywhere.
            if (!former.empty()) removeSecret(former, notDeleted(former));
            if (renamed || former.empty()) removeSecret(account.Name, notDeleted(account.Name));
        } else if (!account.Password.empty()) {
            if (!renamed && passwordToWrite(account).empty()) continue; // already there
            moveToKeyring(account, renamed ? former : std::string(),
                          [batch, name = account.Name](const std::string& e) {
                              if (!e.empty())
                                  batch->problems.push_back(
                                      "The password of the account " + quoted(name) +
                                      " stays in the settings file: the desktop keyring did "
                                      "not take it (" +
                                      e + ").");
                          });
        } else if (loaded_) {
            // Shown empty after the keyring was read: the user cleared it.
            if (!former.empty() && keyring_.count(former)) removeSecret(former, notDeleted(former));
        } else if (renamed) {
            carryOver(former, account, [batch, former, name = account.Name](const std::string& e) {
                if (!e.empty())
                    batch->problems.push_back("The desktop keyring did not move the password of " +
                                              quoted(former) + " to " + quoted(name) + " (" + e +
                                              "); it is kept under the old name.");
            });
        }
    }
}

} // namespace morvane::net
