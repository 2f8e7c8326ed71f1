#pragma once
// A keyring in memory for unit tests: answers on the loop like the desktop one, and can be made
// to refuse (locked, gone) or to stop answering.

#include "core/platform/SecretStore.h"

#include <algorithm>
#include <string>
#include <vector>

namespace morvane::testing {

class MemorySecretStore : public platform::SecretStore {
public:
    explicit MemorySecretStore(platform::EventLoop& loop) : loop_(loop) {}

    std::vector<platform::SecretItem> items;
    // Every request fails with this text while it is set.
    std::string failure;
    // Requests wait unanswered while set (a daemon that hangs); answered when cleared by flush().
    bool silent = false;
    int requests = 0;

    void probe(Done done) override {
        answer(std::move(done), [] { return platform::SecretResult{}; });
    }
    void search(platform::SecretAttributes match, Done done) override {
        answer(std::move(done), [this, match] {
            platform::SecretResult r;
            for (const auto& item : items)
                if (matches(item.attributes, match)) r.items.push_back(item);
            return r;
        });
    }
    void store(platform::SecretAttributes attributes, std::string, std::string secret,
               Done done) override {
        answer(std::move(done), [this, attributes, secret] {
            auto it = std::find_if(items.begin(), items.end(),
                                   [&](const auto& item) { return item.attributes == attributes; });
            if (it != items.end())
                it->secret = secret;
            else
                items.push_back({attributes, secret});
            return platform::SecretResult{};
        });
    }
    void remove(platform::SecretAttributes match, Done done) override {
        answer(std::move(done), [this, match] {
            std::erase_if(items, [&](const auto& item) { return matches(item.attributes, match); });
            return platform::SecretResult{};
        });
    }

    // The secret of the one item whose attributes include these; "<none>" or "<several>".
    std::string secretOf(const platform::SecretAttributes& match) const {
        std::vector<std::string> found;
        for (const auto& item : items)
            if (matches(item.attributes, match)) found.push_back(item.secret);
        if (found.empty()) return "<none>";
        return found.size() == 1 ? found.front() : "<several>";
    }

    // Answers the requests held while silent.
    void flush() {
        silent = false;
        auto held = std::move(held_);
        held_.clear();
        for (auto& h : held)
            loop_.post(std::move(h));
    }

private:
    static bool matches(const platform::SecretAttributes& attributes,
                        const platform::SecretAttributes& match) {
        for (const auto& [k, v] : match) {
            auto it = attributes.find(k);
            if (it == attributes.end() || it->second != v) return false;
        }
        return true;
    }

    template <class F> void answer(Done done, F work) {
        ++requests;
        // The work happens when the answer is due, as it would in the daemon.
        auto run = [this, done = std::move(done), work = std::move(work)] {
            if (!failure.empty()) return done(platform::SecretResult{failure, {}});
            done(work());
        };
        if (silent)
            held_.push_back(std::move(run));
        else
            loop_.post(std::move(run));
    }

    platform::EventLoop& loop_;
    std::vector<platform::EventLoop::Callback> held_;
};

} // namespace morvane::testing
