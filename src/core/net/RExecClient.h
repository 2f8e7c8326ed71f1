#pragma once
// Remote commands: one command run on a server, its output streamed back as it arrives.
// TRemoteCommandRunner is what the window drives; TRExecClient runs it over rexec (TCP port 512
// by default). Another transport (an SSH exec channel) plugs in behind the same interface.

#include "core/platform/EventLoop.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace morvane::net {

class TAsyncSocket;

struct TRemoteCommandRequest {
    std::string host;
    int port = 512;
    std::string user;
    std::string password;
    std::string command;
};

class TRemoteCommandRunner {
public:
    virtual ~TRemoteCommandRunner() = default;
    // Output bytes as they arrive, and the runner's own failure texts (lookup, connection,
    // timeout, cancel, cap), which count as output too.
    std::function<void(std::string_view)> onOutput;
    // The exchange is over: error is true when it failed on this side (the server's own
    // failure status is output, not an error here). Never called from inside start().
    std::function<void(bool error)> onDone;

    virtual void start(const TRemoteCommandRequest& request) = 0;
    // Ends a running exchange: "Cancelled." is output, then onDone(true).
    virtual void cancel() = 0;
    virtual bool running() const = 0;
};

// Output past this many bytes is not read: the connection is closed with a note.
inline constexpr std::size_t kMaxRemoteOutput = std::size_t(16) << 20;

// Why a user name, password or command cannot go on the wire: rexec ends each field with a NUL,
// and a CR or LF would let a name start another line of the server's input. "" when it can.
std::string RExecFieldProblem(const TRemoteCommandRequest& request);

// The bytes one exchange sends: NUL (no separate error port), user, NUL, password, NUL,
// command, NUL.
std::string RExecMessage(const TRemoteCommandRequest& request);

class TRExecClient : public TRemoteCommandRunner {
public:
    explicit TRExecClient(platform::EventLoop& loop);
    ~TRExecClient() override;
    TRExecClient(const TRExecClient&) = delete;
    TRExecClient& operator=(const TRExecClient&) = delete;

    // Look-up and connection together must end within connectTimeout; once connected, the
    // server must send something at least every idleTimeout.
    void setTimeouts(std::chrono::milliseconds connectTimeout, std::chrono::milliseconds idle) {
        connectTimeout_ = connectTimeout;
        idleTimeout_ = idle;
    }
    void setOutputLimit(std::size_t bytes) { limit_ = bytes; }

    void start(const TRemoteCommandRequest& request) override;
    void cancel() override;
    bool running() const override { return running_; }

private:
    void lookupDone(std::uint16_t error);
    void connected(std::uint16_t error);
    void readAvailable();
    void fail(const std::string& text);
    void finish(bool error);
    void armTimer(std::chrono::milliseconds after, bool connecting);
    void deliver(std::string_view bytes);

    platform::EventLoop& loop_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    std::unique_ptr<TAsyncSocket> socket_;
    TRemoteCommandRequest request_;
    std::chrono::milliseconds connectTimeout_{std::chrono::seconds(30)};
    std::chrono::milliseconds idleTimeout_{std::chrono::minutes(10)};
    std::size_t limit_ = kMaxRemoteOutput;
    std::size_t received_ = 0;
    platform::TimerId timer_ = 0;
    bool running_ = false;
    bool finishing_ = false;
    bool connected_ = false;
    bool statusSeen_ = false;
    bool atLineStart_ = true;
};

} // namespace morvane::net
