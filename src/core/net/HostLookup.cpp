#include "core/net/HostLookup.h"

#include "core/net/SocketError.h"

#include <arpa/inet.h>
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

HostLookupResult HostLookup::Resolve(const std::string& host) {
    HostLookupResult r;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &list);
    if (rc != 0) {
        r.error = WinsockFromGai(rc);
        if (r.error == 0) r.error = wsa::HOST_NOT_FOUND_;
        return r;
    }
    for (addrinfo* ai = list; ai; ai = ai->ai_next) {
        if (ai->ai_family != AF_INET) continue;
        char text[INET_ADDRSTRLEN];
        auto* sin = reinterpret_cast<sockaddr_in*>(ai->ai_addr);
        ::inet_ntop(AF_INET, &sin->sin_addr, text, sizeof text);
        bool seen = false;
        for (auto& a : r.addrs)
            seen = seen || a == text;
        if (!seen) r.addrs.emplace_back(text);
    }
    ::freeaddrinfo(list);
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
