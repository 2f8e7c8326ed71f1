#pragma once
// Helpers shared by the network tests: bounded loop running and an FTP client with its events
// recorded.

#include "core/net/MsgFTP.h"
#include "core/platform/EventLoop.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace morvane::testing {

// Runs the loop until pred holds or the time is over; returns pred().
inline bool RunUntil(platform::EventLoop& loop, const std::function<bool()>& pred,
                     int millis = 5000) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(millis);
    while (!pred() && std::chrono::steady_clock::now() < deadline)
        loop.processEvents(std::chrono::milliseconds(10));
    return pred();
}

inline void RunFor(platform::EventLoop& loop, int millis) {
    RunUntil(
        loop, [] { return false; }, millis);
}

struct FtpEvents {
    struct Done {
        net::TFTPState state;
        bool error;
    };
    std::vector<int> connects; // 0 success, 1 error
    std::vector<Done> done;
    std::vector<std::pair<int, std::string>> custom;
    std::vector<net::TDirectoryEntry> entries;
    std::vector<net::TFTPState> states;
    std::vector<std::int64_t> progress;
};

class FtpClientHarness {
public:
    FtpClientHarness() : loop(platform::makePollEventLoop()), ftp(*loop) {
        ftp.OnConnect = [this](net::TMsgFTP*, bool e) { ev.connects.push_back(e ? 1 : 0); };
        ftp.OnFTPCommandDone = [this](net::TMsgFTP*, net::TFTPState s, bool e) {
            ev.done.push_back({s, e});
        };
        ftp.OnCustomFTPCommandDone = [this](net::TMsgFTP*, int code, const std::string& r) {
            ev.custom.emplace_back(code, r);
        };
        ftp.OnStatusChange = [this](net::TMsgFTP*, net::TFTPState s) { ev.states.push_back(s); };
        ftp.OnTransferProgress = [this](net::TMsgFTP*, std::int64_t p) {
            ev.progress.push_back(p);
        };
        ftp.OnDirectoryListing = [this](net::TMsgFTP*, const std::string& name,
                                        const std::string& date, std::int64_t size,
                                        std::int32_t kind, const std::string& owner,
                                        const std::string& group, const std::string& attrs) {
            ev.entries.push_back(
                {name, date, size, kind, owner, group, attrs, ftp.ListedLinkTarget()});
        };
    }

    bool connect(int port, int millis = 5000, const std::string& host = "127.0.0.1") {
        ftp.SetHostname(host);
        ftp.SetPort(port);
        ftp.SetUsername("user");
        ftp.SetPassword("secret");
        ftp.Connect();
        bool ok = RunUntil(
                      *loop, [&] { return !ev.connects.empty() || !ev.done.empty(); }, millis) &&
                  !ev.connects.empty() && ev.connects.back() == 0;
        doneSeen = ev.done.size();
        return ok;
    }
    // Waits for the next OnFTPCommandDone.
    bool waitDone(int millis = 5000) {
        std::size_t before = doneSeen;
        bool ok = RunUntil(
            *loop, [&] { return ev.done.size() > before; }, millis);
        doneSeen = ev.done.size();
        return ok;
    }
    const FtpEvents::Done& lastDone() const { return ev.done.back(); }

    std::unique_ptr<platform::EventLoop> loop;
    net::TMsgFTP ftp;
    FtpEvents ev;
    std::size_t doneSeen = 0;
};

} // namespace morvane::testing
