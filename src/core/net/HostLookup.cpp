#include "core/net/HostLookup.h"

#include "core/net/SocketError.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <thread>

namespace morvane::net {

struct HostLookup::Shared {
    std::mutex mutex;
    bool cancelled = false;
    platform::EventLoop* loop = nullptr;
    Done done;
};

namespace {
std::mutex resolverMutex;
HostLookup::Resolver testResolver;
} // namespace

std::string HostWithoutBrackets(const std::string& host) {
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        return host.substr(1, host.size() - 2);
    return host;
}

bool ParseNumericAddress(const std::string& text, sockaddr_storage& out) {
    std::string host = HostWithoutBrackets(text);
    out = sockaddr_storage{};
    auto* v4 = reinterpret_cast<sockaddr_in*>(&out);
    if (host == text && ::inet_aton(host.c_str(), &v4->sin_addr)) {
        v4->sin_family = AF_INET;
        return true;
    }
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&out);
    if (::inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        return true;
    }
    out = sockaddr_storage{};
    return false;
}

std::string AddressText(const sockaddr_storage& a) {
    char text[INET6_ADDRSTRLEN] = "";
    if (a.ss_family == AF_INET)
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(&a)->sin_addr, text,
                    sizeof text);
    else if (a.ss_family == AF_INET6)
        ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(&a)->sin6_addr, text,
                    sizeof text);
    return text;
}

std::uint16_t AddressPort(const sockaddr_storage& a) {
    if (a.ss_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in*>(&a)->sin_port);
    if (a.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6*>(&a)->sin6_port);
    return 0;
}

bool SameAddress(const sockaddr_storage& a, const sockaddr_storage& b) {
    if (a.ss_family != b.ss_family) return false;
    if (a.ss_family == AF_INET)
        return reinterpret_cast<const sockaddr_in*>(&a)->sin_addr.s_addr ==
               reinterpret_cast<const sockaddr_in*>(&b)->sin_addr.s_addr;
    if (a.ss_family == AF_INET6)
        return std::memcmp(&reinterpret_cast<const sockaddr_in6*>(&a)->sin6_addr,
                           &reinterpret_cast<const sockaddr_in6*>(&b)->sin6_addr, 16) == 0;
    return false;
}

namespace {
bool UnroutableV4(std::uint32_t a) {
    auto in = [a](std::uint32_t net, int bits) {
        return (a >> (32 - bits)) == (net >> (32 - bits));
    };
    return in(0x00000000, 8) ||  // "this network", 0.0.0.0
           in(0x0A000000, 8) ||  // 10/8
           in(0x64400000, 10) || // 100.64/10, carrier NAT
           in(0x7F000000, 8) ||  // loopback
           in(0xA9FE0000, 16) || // link-local
           in(0xAC100000, 12) || // 172.16/12
           in(0xC0A80000, 16) || // 192.168/16
           in(0xC0000000, 24) || // IETF protocol assignments
           in(0xC6120000, 15) || // benchmarking
           a >= 0xE0000000;      // multicast, reserved, broadcast
}
} // namespace

bool IsUnroutableAddress(const sockaddr_storage& address) {
    if (address.ss_family == AF_INET)
        return UnroutableV4(ntohl(reinterpret_cast<const sockaddr_in*>(&address)->sin_addr.s_addr));
    if (address.ss_family != AF_INET6) return true;
    const auto* b = reinterpret_cast<const sockaddr_in6*>(&address)->sin6_addr.s6_addr;
    static const unsigned char mapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    if (std::memcmp(b, mapped, 12) == 0)
        return UnroutableV4(std::uint32_t(b[12]) << 24 | std::uint32_t(b[13]) << 16 |
                            std::uint32_t(b[14]) << 8 | b[15]);
    static const unsigned char zero[15] = {};
    if (std::memcmp(b, zero, 15) == 0) return true;   // :: and ::1
    return (b[0] & 0xfe) == 0xfc ||                   // unique local fc00::/7
           (b[0] == 0xfe && (b[1] & 0xc0) == 0x80) || // link-local fe80::/10
           b[0] == 0xff;                              // multicast
}

std::vector<std::string> IPv4First(const std::vector<std::string>& addresses) {
    std::vector<std::string> out;
    for (int family : {AF_INET, AF_INET6})
        for (const std::string& a : addresses) {
            sockaddr_storage s{};
            if (!ParseNumericAddress(a, s) || s.ss_family != family) continue;
            std::string text = AddressText(s);
            if (std::find(out.begin(), out.end(), text) == out.end()) out.push_back(text);
        }
    return out;
}

void HostLookup::SetResolverForTests(Resolver resolver) {
    std::lock_guard lock(resolverMutex);
    testResolver = std::move(resolver);
}

HostLookupResult HostLookup::Resolve(const std::string& host) {
    {
        std::unique_lock lock(resolverMutex);
        if (Resolver r = testResolver) {
            lock.unlock();
            return r(host);
        }
    }
    HostLookupResult r;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    std::string name = HostWithoutBrackets(host);
    int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &list);
    if (rc != 0) {
        r.error = WinsockFromGai(rc);
        if (r.error == 0) r.error = wsa::HOST_NOT_FOUND_;
        return r;
    }
    std::vector<std::string> found;
    for (addrinfo* ai = list; ai; ai = ai->ai_next) {
        if (ai->ai_family != AF_INET && ai->ai_family != AF_INET6) continue;
        sockaddr_storage a{};
        std::memcpy(&a, ai->ai_addr, std::min<std::size_t>(ai->ai_addrlen, sizeof a));
        found.push_back(AddressText(a));
    }
    ::freeaddrinfo(list);
    r.addrs = IPv4First(found);
    if (r.addrs.empty()) r.error = wsa::NO_DATA_;
    return r;
}

std::shared_ptr<HostLookup> HostLookup::Start(platform::EventLoop& loop, const std::string& host,
                                              Done done) {
    auto lookup = std::make_shared<HostLookup>();
    lookup->shared_ = std::make_shared<Shared>();
    lookup->shared_->loop = &loop;
    lookup->shared_->done = std::move(done);
    std::thread([shared = lookup->shared_, host] {
        HostLookupResult r = Resolve(host);
        std::lock_guard lock(shared->mutex);
        if (shared->cancelled) return;
        shared->loop->post([shared, r] {
            Done done;
            {
                std::lock_guard lock(shared->mutex);
                if (shared->cancelled) return;
                shared->cancelled = true; // reported once
                done = std::move(shared->done);
            }
            done(r);
        });
    }).detach();
    return lookup;
}

void HostLookup::Cancel() {
    if (!shared_) return;
    std::lock_guard lock(shared_->mutex);
    shared_->cancelled = true;
    shared_->done = nullptr;
}

} // namespace morvane::net
