#pragma once
// Host-name lookup on a worker thread. The result is posted back to the event loop; nothing
// else runs off the loop's thread.

#include "core/platform/EventLoop.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <sys/socket.h>
#include <vector>

namespace morvane::net {

struct HostLookupResult {
    int error = 0; // Winsock number, 0 on success
    // Numeric addresses: the IPv4 ones first, then the IPv6 ones, each in the resolver's order.
    std::vector<std::string> addrs;
};

// A host as typed: an IPv6 literal may come in brackets ("[::1]"), which are dropped.
std::string HostWithoutBrackets(const std::string& host);
// A numeric IPv4 (also the short forms such as "127.1") or IPv6 address, brackets allowed;
// false for a name.
bool ParseNumericAddress(const std::string& text, sockaddr_storage& out);
// "192.0.2.1" or "2001:db8::1" (no brackets); "" for another family.
std::string AddressText(const sockaddr_storage& address);
std::uint16_t AddressPort(const sockaddr_storage& address);
// Same family and address; the ports are not compared.
bool SameAddress(const sockaddr_storage& a, const sockaddr_storage& b);
// Addresses that cannot be reached from elsewhere on the internet: private, loopback,
// link-local, shared (carrier NAT), unspecified, IPv6 unique-local and IPv4-mapped forms of those.
bool IsUnroutableAddress(const sockaddr_storage& address);
// IPv4 addresses before IPv6 ones, each family in the order given, duplicates dropped.
std::vector<std::string> IPv4First(const std::vector<std::string>& addresses);

class HostLookup {
public:
    using Done = std::function<void(const HostLookupResult&)>;

    // Starts a lookup; done runs on the loop's thread unless the lookup is cancelled first.
    static std::shared_ptr<HostLookup> Start(platform::EventLoop& loop, const std::string& host,
                                             Done done);
    // After this, done never runs. Safe to call more than once.
    void Cancel();

    // Blocking lookup of both families; a name without any address gives 11004 ("No Data").
    static HostLookupResult Resolve(const std::string& host);
    // Tests replace the resolver (nullptr restores the system's); it runs on the worker.
    using Resolver = std::function<HostLookupResult(const std::string& host)>;
    static void SetResolverForTests(Resolver resolver);

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
};

} // namespace morvane::net
