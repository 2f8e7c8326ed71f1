#pragma once
// The update notice: at most once a day the program asks its maker's web server for a small news
// file over HTTP/1.0 on the asynchronous socket and, when the file announces a version newer than
// its own that the user has not been told about, asks whether to open the home page.
//
// Settings values (Settings key): "Check for updates" ("False" turns the check off), "Update
// server", "Update server port", "Update server path" (where the news file is), "Last update
// check" (the day of the last completed check, YYYY-MM-DD) and "Acknowledged version".

#include "core/platform/EventLoop.h"
#include "core/platform/Registry.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace morvane::net {
class TAsyncSocket;
}

namespace morvane::app {

// The maker's server. The name is under a reserved domain until a real server exists, so that no
// stranger's server is ever asked; a packager sets the real one in the settings.
inline constexpr const char* kDefaultUpdateServer = "www.orvandel.example";
inline constexpr const char* kDefaultUpdatePath = "/morvane/news.txt";
inline constexpr const char* kUpdateHomePage = "https://www.orvandel.example/morvane/";
inline constexpr std::size_t kMaxUpdateReply = 64 * 1024;

// "2.21" for the file version "2.2.1.155": the build dropped, then the last dot of the rest.
std::string shortVersion(std::string_view fileVersion);

// Whether an announced version is newer. Versions of the form digits[.digits] compare as
// decimal numbers ("2.3" > "2.21", "10.0" > "2.21", "2.210" == "2.21"); any other text compares
// byte by byte.
bool versionNewer(std::string_view announced, std::string_view own);

struct TUpdateReply {
    int status = 0;                    // 0 when the reply does not start with an HTTP status line
    bool body = false;                 // the headers ended (an empty line came)
    std::vector<std::string> versions; // each "Version:" line's version, in order
};
// Line ends may be CR LF or LF. A "Version:" line announces the text after the colon up to the
// first space after it; a line with no space after the version announces nothing.
TUpdateReply parseUpdateReply(std::string_view reply);

std::string updateRequest(std::string_view host, int port, std::string_view path,
                          std::string_view ownVersion);

class TUpdateCheck {
public:
    struct Target {
        std::string host;
        int port = 80;
        std::string path;
    };

    // settings: the Settings key. ownVersion: "2.21".
    TUpdateCheck(platform::EventLoop& loop, platform::RegKey settings, std::string ownVersion);
    ~TUpdateCheck();
    TUpdateCheck(const TUpdateCheck&) = delete;
    TUpdateCheck& operator=(const TUpdateCheck&) = delete;

    // Asked with the announced version and the server's name; true opens the home page.
    std::function<bool(const std::string& version, const std::string& server)> onAsk;
    std::function<void(const std::string& address)> onOpenHomePage;
    // The check has ended (completed = the server answered and the day was recorded).
    std::function<void(bool completed)> onFinished;
    // Today as YYYY-MM-DD; tests set it.
    std::function<std::string()> today;

    void setTimeout(std::chrono::milliseconds timeout) { timeout_ = timeout; }
    // Where the news file is, from the settings; false (with the reason) when they are invalid.
    bool target(Target& out, std::string* error = nullptr) const;
    // The check is due when it is turned on and the day differs from the last completed check.
    bool due() const;
    // Starts the check when it is due; true when it started. Never blocks.
    bool start();
    bool running() const { return socket_ != nullptr; }

private:
    void lookupDone(std::uint16_t error);
    void connected(std::uint16_t error);
    void dataAvailable();
    void finish(bool answered);
    void evaluate();

    platform::EventLoop& loop_;
    platform::RegKey settings_;
    std::string ownVersion_;
    std::chrono::milliseconds timeout_{30000};
    Target target_;
    std::unique_ptr<net::TAsyncSocket> socket_;
    platform::TimerId timer_ = 0;
    std::string reply_;
    bool finishing_ = false;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace morvane::app
