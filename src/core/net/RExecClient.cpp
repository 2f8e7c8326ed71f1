#include "core/net/RExecClient.h"

#include "core/net/AsyncSocket.h"

#include <algorithm>

namespace morvane::net {

std::string RExecFieldProblem(const TRemoteCommandRequest& request) {
    auto bad = [](const std::string& s) {
        return s.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
    };
    if (bad(request.user)) return "The user name holds a line break or a NUL character.";
    if (bad(request.password)) return "The password holds a line break or a NUL character.";
    if (bad(request.command)) return "The command holds a line break or a NUL character.";
    return {};
}

std::string RExecMessage(const TRemoteCommandRequest& request) {
    std::string message(1, '\0');
    for (const std::string* field : {&request.user, &request.password, &request.command}) {
        message += *field;
        message.push_back('\0');
    }
    return message;
}

TRExecClient::TRExecClient(platform::EventLoop& loop) : loop_(loop) {}

TRExecClient::~TRExecClient() {
    *alive_ = false;
    if (timer_) loop_.cancelTimer(timer_);
    if (socket_) {
        socket_->OnSessionClosed = nullptr;
        socket_->OnDataAvailable = nullptr;
        socket_->OnSessionConnected = nullptr;
        socket_->OnDnsLookupDone = nullptr;
        socket_->CancelDnsLookup();
        socket_->Abort();
    }
}

void TRExecClient::deliver(std::string_view bytes) {
    if (bytes.empty() || !onOutput) return;
    atLineStart_ = bytes.back() == '\n';
    onOutput(bytes);
}

void TRExecClient::start(const TRemoteCommandRequest& request) {
    if (running_) return;
    running_ = true;
    finishing_ = false;
    connected_ = false;
    statusSeen_ = false;
    atLineStart_ = true;
    received_ = 0;
    request_ = request;
    if (std::string problem = RExecFieldProblem(request); !problem.empty()) {
        // Nothing reaches the network; the caller hears of it after start() returns.
        std::weak_ptr<bool> alive = alive_;
        loop_.post([this, alive, problem] {
            if (!alive.expired()) fail(problem + " Nothing was sent.");
        });
        return;
    }
    socket_ = std::make_unique<TAsyncSocket>(loop_);
    socket_->OnError = [](TCustomAsyncSocket*) {}; // failures arrive as the events below
    socket_->OnDnsLookupDone = [this](TCustomAsyncSocket*, std::uint16_t e) { lookupDone(e); };
    socket_->OnSessionConnected = [this](TCustomAsyncSocket*, std::uint16_t e) { connected(e); };
    socket_->OnDataAvailable = [this](TCustomAsyncSocket*, std::uint16_t) { readAvailable(); };
    socket_->OnSessionClosed = [this](TCustomAsyncSocket*, std::uint16_t) {
        if (finishing_) return;
        if (!connected_) return fail("Error connecting to host \"" + request_.host + "\"");
        readAvailable(); // what came with the close
        if (finishing_) return;
        // A server that ran the command sent its status byte first; one that closes without a
        // byte refused the login (some daemons say nothing about a wrong password).
        if (!statusSeen_)
            return fail("Host \"" + request_.host +
                        "\" closed the connection without running the command (is the user "
                        "name or password wrong?)");
        finish(false);
    };
    armTimer(connectTimeout_, true);
    std::weak_ptr<bool> alive = alive_;
    try {
        socket_->DnsLookup(request_.host);
    } catch (const std::exception&) {
        if (!alive.expired() && !finishing_) fail("Could not look up hostname: " + request_.host);
    }
}

void TRExecClient::armTimer(std::chrono::milliseconds after, bool connecting) {
    if (timer_) loop_.cancelTimer(timer_);
    timer_ = loop_.addTimer(after, false, [this, connecting, after] {
        timer_ = 0;
        if (finishing_) return;
        if (connecting) return fail("Timed out connecting to host \"" + request_.host + "\"");
        fail("No output from host \"" + request_.host + "\" for " +
             std::to_string(after.count() / 1000) + " seconds: the command was stopped.");
    });
}

void TRExecClient::lookupDone(std::uint16_t error) {
    if (finishing_) return;
    if (error != 0 || socket_->DnsResult().empty())
        return fail("Could not look up hostname: " + request_.host);
    try {
        socket_->SetAddr(socket_->DnsResult());
        socket_->SetPort(std::to_string(request_.port));
        socket_->SetProto("tcp");
        socket_->Connect();
    } catch (const std::exception&) {
        fail("Error connecting to host \"" + request_.host + "\"");
    }
}

void TRExecClient::connected(std::uint16_t error) {
    if (finishing_) return;
    if (error != 0) return fail("Error connecting to host \"" + request_.host + "\"");
    connected_ = true;
    armTimer(idleTimeout_, false);
    socket_->SendStr(RExecMessage(request_));
}

void TRExecClient::readAvailable() {
    if (finishing_ || !socket_) return;
    char buffer[65536];
    int n = socket_->Receive(buffer, int(sizeof buffer));
    if (n <= 0) return;
    armTimer(idleTimeout_, false);
    std::string_view bytes(buffer, std::size_t(n));
    if (!statusSeen_) {
        statusSeen_ = true;
        // The server's success status; a failure status stays, in front of its message.
        if (bytes.front() == '\0') bytes.remove_prefix(1);
    }
    std::size_t room = limit_ - std::min(limit_, received_);
    std::weak_ptr<bool> alive = alive_;
    deliver(bytes.substr(0, room));
    if (alive.expired()) return;
    received_ += bytes.size();
    if (received_ > limit_) {
        std::string size = limit_ >= (1u << 20) ? std::to_string(limit_ >> 20) + " MB"
                                                : std::to_string(limit_) + " bytes";
        deliver("\n-- The output was cut after " + size + "; the rest was not read.\n");
        if (!alive.expired()) finish(false);
    }
}

void TRExecClient::cancel() {
    if (!running_ || finishing_) return;
    fail("Cancelled.");
}

void TRExecClient::fail(const std::string& text) {
    std::weak_ptr<bool> alive = alive_;
    deliver((atLineStart_ ? "" : "\n") + text); // on a line of its own
    if (!alive.expired()) finish(true);
}

void TRExecClient::finish(bool error) {
    if (finishing_) return;
    finishing_ = true;
    if (timer_) {
        loop_.cancelTimer(timer_);
        timer_ = 0;
    }
    // The socket goes after its own event has returned; then the owner hears of the end.
    std::weak_ptr<bool> alive = alive_;
    loop_.post([this, alive, error] {
        if (alive.expired()) return;
        if (std::unique_ptr<TAsyncSocket> socket = std::move(socket_)) {
            socket->OnSessionClosed = nullptr;
            socket->OnDataAvailable = nullptr;
            socket->OnSessionConnected = nullptr;
            socket->OnDnsLookupDone = nullptr;
            socket->CancelDnsLookup();
            socket->Abort();
        }
        running_ = false;
        if (onDone) onDone(error);
    });
}

} // namespace morvane::net
