#include "core/app/UpdateCheck.h"

#include "core/app/MainFormSettings.h"
#include "core/net/AsyncSocket.h"

#include <algorithm>
#include <cctype>
#include <ctime>

namespace morvane::app {

namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front())))
        s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())))
        s.remove_suffix(1);
    return s;
}

bool allDigits(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c));
    });
}

// "12.340" -> {"12", "34"}: the integer part without leading zeros, the fraction without
// trailing ones; false for text that is not digits[.digits].
bool splitDecimal(std::string_view v, std::string& whole, std::string& fraction) {
    std::size_t dot = v.find('.');
    std::string_view w = v.substr(0, dot);
    std::string_view f = dot == std::string_view::npos ? std::string_view() : v.substr(dot + 1);
    if (!allDigits(w) || (dot != std::string_view::npos && !allDigits(f))) return false;
    while (w.size() > 1 && w.front() == '0')
        w.remove_prefix(1);
    while (!f.empty() && f.back() == '0')
        f.remove_suffix(1);
    whole = w;
    fraction = f;
    return true;
}

std::string localToday() {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char buf[16];
    std::strftime(buf, sizeof buf, "%Y-%m-%d", &tm);
    return buf;
}

bool plainToken(std::string_view s) {
    return !s.empty() && std::none_of(s.begin(), s.end(), [](char c) {
        return static_cast<unsigned char>(c) <= 32 || c == 127;
    });
}

} // namespace

std::string shortVersion(std::string_view fileVersion) {
    std::string_view rest = fileVersion.substr(0, fileVersion.rfind('.'));
    std::string out(rest);
    if (auto dot = out.rfind('.'); dot != std::string::npos) out.erase(dot, 1);
    return out;
}

bool versionNewer(std::string_view announced, std::string_view own) {
    std::string aw, af, ow, of;
    if (!splitDecimal(announced, aw, af) || !splitDecimal(own, ow, of)) return announced > own;
    if (aw.size() != ow.size()) return aw.size() > ow.size();
    if (aw != ow) return aw > ow;
    return af > of; // "3" > "21" as fractions: 0.3 > 0.21
}

TUpdateReply parseUpdateReply(std::string_view reply) {
    TUpdateReply result;
    std::string text;
    text.reserve(reply.size());
    for (char c : reply)
        if (c != '\r') text.push_back(c);
    std::string_view t = text;
    std::string_view statusLine = t.substr(0, t.find('\n'));
    if (statusLine.starts_with("HTTP/")) {
        std::size_t space = statusLine.find(' ');
        if (space != std::string_view::npos) {
            std::string_view code = statusLine.substr(space + 1, 3);
            if (code.size() == 3 && allDigits(code)) result.status = std::stoi(std::string(code));
        }
    }
    std::size_t blank = t.find("\n\n");
    if (blank == std::string_view::npos) return result;
    result.body = true;
    std::string_view body = t.substr(blank + 2);
    while (!body.empty()) {
        std::size_t lf = body.find('\n');
        std::string_view line = body.substr(0, lf);
        body = lf == std::string_view::npos ? std::string_view() : body.substr(lf + 1);
        if (!line.starts_with("Version:")) continue;
        std::string_view rest = trim(line.substr(8));
        std::size_t space = rest.find(' ');
        result.versions.emplace_back(space == std::string_view::npos ? std::string_view()
                                                                     : trim(rest.substr(0, space)));
    }
    return result;
}

std::string updateRequest(std::string_view host, int port, std::string_view path,
                          std::string_view ownVersion) {
    std::string hostHeader(host);
    if (hostHeader.find(':') != std::string::npos) hostHeader = "[" + hostHeader + "]";
    if (port != 80) hostHeader += ":" + std::to_string(port);
    // The referrer names the program only: the executable's path would tell the server where
    // the user's home folder is.
    return "GET " + std::string(path) + " HTTP/1.0\r\nHost: " + hostHeader +
           "\r\nReferer: Morvane\r\nUser-agent: Morvane " + std::string(ownVersion) + "\r\n\r\n";
}

TUpdateCheck::TUpdateCheck(platform::EventLoop& loop, platform::RegKey settings,
                           std::string ownVersion)
    : today(localToday), loop_(loop), settings_(std::move(settings)),
      ownVersion_(std::move(ownVersion)) {}

TUpdateCheck::~TUpdateCheck() {
    *alive_ = false;
    if (timer_) loop_.cancelTimer(timer_);
    if (socket_) {
        socket_->OnSessionClosed = nullptr;
        socket_->OnError = nullptr;
    }
}

bool TUpdateCheck::target(Target& out, std::string* error) const {
    Target t;
    t.host = settings_.readString("Update server");
    if (t.host.empty()) t.host = kDefaultUpdateServer;
    t.path = settings_.readString("Update server path");
    if (t.path.empty()) t.path = kDefaultUpdatePath;
    std::string port = settings_.readString("Update server port");
    if (!port.empty()) {
        auto p = parseInteger(port);
        if (!p || *p < 1 || *p > 65535) {
            if (error) *error = "The update server's port \"" + port + "\" is not 1 to 65535.";
            return false;
        }
        t.port = *p;
    }
    // Nothing from the settings may add a line to the request.
    if (!plainToken(t.host) || !plainToken(t.path) || t.path.front() != '/') {
        if (error) *error = "The update server's name or path is not valid.";
        return false;
    }
    out = t;
    return true;
}

bool TUpdateCheck::due() const {
    if (settings_.readString("Check for updates") == "False") return false;
    return settings_.readString("Last update check") != today();
}

bool TUpdateCheck::start() {
    if (socket_ || !due() || !target(target_)) return false;
    reply_.clear();
    finishing_ = false;
    socket_ = std::make_unique<net::TAsyncSocket>(loop_);
    socket_->OnError = [](net::TCustomAsyncSocket*) {}; // failures end the check silently
    socket_->OnDnsLookupDone = [this](net::TCustomAsyncSocket*, std::uint16_t e) { lookupDone(e); };
    socket_->OnSessionConnected = [this](net::TCustomAsyncSocket*, std::uint16_t e) {
        connected(e);
    };
    socket_->OnDataAvailable = [this](net::TCustomAsyncSocket*, std::uint16_t e) {
        if (e == 0) dataAvailable();
    };
    socket_->OnSessionClosed = [this](net::TCustomAsyncSocket*, std::uint16_t) { finish(true); };
    timer_ = loop_.addTimer(timeout_, false, [this] {
        timer_ = 0;
        finish(false);
    });
    std::weak_ptr<bool> alive = alive_;
    try {
        socket_->DnsLookup(target_.host);
    } catch (const std::exception&) {
        if (!alive.expired()) finish(false);
    }
    return true;
}

void TUpdateCheck::lookupDone(std::uint16_t error) {
    if (finishing_) return;
    if (error != 0) {
        finish(false);
        return;
    }
    try {
        socket_->SetAddr(socket_->DnsResult());
        socket_->SetPort(std::to_string(target_.port));
        socket_->SetProto("tcp");
        socket_->Connect();
    } catch (const std::exception&) {
        finish(false);
    }
}

void TUpdateCheck::connected(std::uint16_t error) {
    if (finishing_) return;
    if (error != 0) {
        finish(false);
        return;
    }
    socket_->SendStr(updateRequest(target_.host, target_.port, target_.path, ownVersion_));
}

void TUpdateCheck::dataAvailable() {
    if (finishing_) return;
    char buffer[4000];
    int n = socket_->Receive(buffer, int(sizeof buffer));
    if (n <= 0) return;
    std::size_t room = kMaxUpdateReply - reply_.size();
    reply_.append(buffer, std::min(std::size_t(n), room));
    // A reply past the cap is not read further: what came is enough for a news file.
    if (reply_.size() >= kMaxUpdateReply) finish(true);
}

void TUpdateCheck::finish(bool answered) {
    if (finishing_ || !socket_) return;
    finishing_ = true;
    if (timer_) {
        loop_.cancelTimer(timer_);
        timer_ = 0;
    }
    // The socket goes, and the user is asked, after the socket's own event has returned.
    std::weak_ptr<bool> alive = alive_;
    loop_.post([this, alive, answered] {
        if (alive.expired()) return;
        std::unique_ptr<net::TAsyncSocket> socket = std::move(socket_);
        socket->OnSessionClosed = nullptr;
        socket->OnDataAvailable = nullptr;
        socket->OnSessionConnected = nullptr;
        socket->OnDnsLookupDone = nullptr;
        socket->CancelDnsLookup();
        socket->Abort();
        socket.reset();
        if (answered) evaluate();
        if (alive.expired()) return;
        if (onFinished) onFinished(answered);
    });
}

void TUpdateCheck::evaluate() {
    std::weak_ptr<bool> alive = alive_;
    TUpdateReply reply = parseUpdateReply(reply_);
    reply_.clear();
    if (reply.status == 200) {
        // One question for the newest version announced, and only when the user has not been
        // told of it or of a newer one.
        std::string newest;
        for (const std::string& v : reply.versions)
            if (!v.empty() && versionNewer(v, ownVersion_) &&
                (newest.empty() || versionNewer(v, newest)))
                newest = v;
        const std::string acknowledged = settings_.readString("Acknowledged version");
        if (!newest.empty() && (acknowledged.empty() || versionNewer(newest, acknowledged))) {
            settings_.writeString("Acknowledged version", newest);
            bool visit = onAsk && onAsk(newest, target_.host);
            if (alive.expired()) return;
            if (visit && onOpenHomePage) onOpenHomePage(kUpdateHomePage);
        }
    }
    settings_.writeString("Last update check", today());
}

} // namespace morvane::app
