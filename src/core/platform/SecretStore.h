#pragma once
// A store of secrets outside the program's settings: the desktop keyring over the Secret Service
// (D-Bus), or a double in tests. Every request is answered later, once, on the event loop's
// thread and in the order of the requests, never inside the call that made it; the desktop
// keyring may wait for an unlock prompt or a daemon that does not answer, so its requests end
// with an error after a time limit instead of holding anything up.

#include "core/platform/EventLoop.h"

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace morvane::platform {

// What a secret is found by (all are plain strings).
using SecretAttributes = std::map<std::string, std::string>;

struct SecretItem {
    SecretAttributes attributes;
    std::string secret;
};

// One request's answer: error is empty on success; items holds what a search found.
struct SecretResult {
    std::string error;
    std::vector<SecretItem> items;
    bool ok() const { return error.empty(); }
};

class SecretStore {
public:
    using Done = std::function<void(SecretResult)>;
    virtual ~SecretStore() = default;

    // Succeeds when a keyring answers.
    virtual void probe(Done done) = 0;
    // Every item whose attributes include all of match, with its secret (a locked keyring is
    // asked to unlock; when it stays locked the search fails).
    virtual void search(SecretAttributes match, Done done) = 0;
    // Stores the secret under exactly these attributes, replacing an item that has them.
    virtual void store(SecretAttributes attributes, std::string label, std::string secret,
                       Done done) = 0;
    // Deletes every item whose attributes include all of match; finding none is no error.
    virtual void remove(SecretAttributes match, Done done) = 0;
};

// The desktop keyring through the Secret Service on the session bus. Requests run one at a time
// on a worker thread; one not answered within timeout fails with a message and is cancelled.
// Without a session bus every request fails at once. Destroy it before the loop; callbacks of
// requests still open then are dropped.
std::unique_ptr<SecretStore> makeDesktopSecretStore(EventLoop& loop,
                                                    std::chrono::milliseconds timeout);

} // namespace morvane::platform
