#include "core/net/SshExecRunner.h"

#include "core/net/SftpFileSystem.h"

#include <algorithm>

namespace morvane::net {

TSshExecRunner::TSshExecRunner(platform::EventLoop& loop, std::unique_ptr<TSftpFileSystem> fs)
    : loop_(loop), fs_(std::move(fs)) {}

TSshExecRunner::~TSshExecRunner() {
    *alive_ = false;
    fs_->Disconnect();
}

void TSshExecRunner::start(const TRemoteCommandRequest& request) {
    if (running_) return;
    running_ = true;
    finishing_ = false;
    received_ = 0;
    atLineStart_ = true;
    std::weak_ptr<bool> alive = alive_;
    std::string command = request.command;
    if (command.find('\0') != std::string::npos) {
        loop_.post([this, alive] {
            if (!alive.expired())
                finish(true, "The command holds a NUL character. Nothing was sent.");
        });
        return;
    }
    fs_->Connect([this, alive, command](const TRemoteResult& r) {
        if (alive.expired() || finishing_) return;
        if (!r.ok()) return finish(true, r.message);
        fs_->Execute(
            command,
            [this, alive](std::string_view bytes) {
                if (!alive.expired()) output(bytes);
            },
            [this, alive](const TRemoteResult& r, int status) {
                if (alive.expired() || finishing_) return;
                if (!r.ok()) return finish(true, r.message);
                finish(false, status > 0 ? "-- Exit status " + std::to_string(status) : "");
            });
    });
}

void TSshExecRunner::output(std::string_view bytes) {
    if (finishing_) return;
    std::size_t room = limit_ - std::min(limit_, received_);
    if (onOutput && room && !bytes.empty()) {
        atLineStart_ = bytes.substr(0, room).back() == '\n';
        onOutput(bytes.substr(0, room));
    }
    received_ += bytes.size();
    if (received_ > limit_) {
        std::string size = limit_ >= (1u << 20) ? std::to_string(limit_ >> 20) + " MB"
                                                : std::to_string(limit_) + " bytes";
        finish(false, "\n-- The output was cut after " + size + "; the rest was not read.\n");
    }
}

void TSshExecRunner::cancel() {
    if (running_ && !finishing_) finish(true, "Cancelled.");
}

void TSshExecRunner::finish(bool error, const std::string& text) {
    if (finishing_) return;
    finishing_ = true;
    fs_->Disconnect(); // ends the command's channel with its connection
    std::weak_ptr<bool> alive = alive_;
    // The runner's own words start a line of their own.
    if (!text.empty() && onOutput) onOutput((atLineStart_ || text[0] == '\n' ? "" : "\n") + text);
    if (alive.expired()) return;
    loop_.post([this, alive, error] {
        if (alive.expired()) return;
        running_ = false;
        if (onDone) onDone(error);
    });
}

} // namespace morvane::net
