#pragma once
// Host-name lookup on a worker thread. The result is posted back to the event loop; nothing
// else runs off the loop's thread.

#include "core/platform/EventLoop.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace morvane::net {

struct HostLookupResult {
    int error = 0;                  // Winsock number, 0 on success
    std::vector<std::string> addrs; // dotted IPv4 addresses, in the resolver's order
};

class HostLookup {
public:
    using Done = std::function<void(const HostLookupResult&)>;

    // Starts a lookup; done runs on the loop's thread unless the lookup is cancelled first.
    static std::shared_ptr<HostLookup> Start(platform::EventLoop& loop, const std::string& host,
                                             Done done);
    // After this, done never runs. Safe to call more than once.
    void Cancel();

    // Blocking lookup (IPv4 addresses only). A name with nothing but IPv6 addresses gives
    // 11004 ("No Data"): active mode can only tell the server an IPv4 address.
    static HostLookupResult Resolve(const std::string& host);

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
};

} // namespace morvane::net
