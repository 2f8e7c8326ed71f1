#pragma once
// Remote commands of an SFTP account: the command runs over an SSH exec channel of a connection
// of its own, logged in as the account's file system would be (host key, keys, password).

#include "core/net/RExecClient.h"

#include <memory>

namespace morvane::net {

class TSftpFileSystem;

class TSshExecRunner : public TRemoteCommandRunner {
public:
    // fs has its login set (ApplyAccount or SetLogin) and is not connected yet. Its reply
    // timeout bounds the connection and every silence of the command.
    TSshExecRunner(platform::EventLoop& loop, std::unique_ptr<TSftpFileSystem> fs);
    ~TSshExecRunner() override;

    void setOutputLimit(std::size_t bytes) { limit_ = bytes; }

    // Only the command of the request is used: host, user and password are the login's.
    void start(const TRemoteCommandRequest& request) override;
    void cancel() override;
    bool running() const override { return running_; }

private:
    void output(std::string_view bytes);
    void finish(bool error, const std::string& text);

    platform::EventLoop& loop_;
    std::unique_ptr<TSftpFileSystem> fs_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    std::size_t limit_ = kMaxRemoteOutput;
    std::size_t received_ = 0;
    bool running_ = false;
    bool finishing_ = false;
    bool atLineStart_ = true;
};

} // namespace morvane::net
