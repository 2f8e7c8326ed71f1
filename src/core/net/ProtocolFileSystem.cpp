#include "core/net/ProtocolFileSystem.h"

#include "core/net/FtpFileSystem.h"
#include "core/net/SftpFileSystem.h"

#include <string>
#include <vector>

namespace morvane::net {

std::string NormalizeRemotePath(const std::string& base, const std::string& path) {
    std::string joined = !path.empty() && path[0] == '/' ? path : base + "/" + path;
    std::vector<std::string> parts;
    std::size_t i = 0;
    while (i <= joined.size()) {
        std::size_t end = joined.find('/', i);
        if (end == std::string::npos) end = joined.size();
        std::string part = joined.substr(i, end - i);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        i = end + 1;
    }
    std::string out;
    for (const std::string& p : parts)
        out += "/" + p;
    return out.empty() ? "/" : out;
}

std::unique_ptr<TRemoteFileSystem> MakeProtocolFileSystem(platform::EventLoop& loop,
                                                          TRemoteProtocol protocol) {
    if (protocol == TRemoteProtocol::Sftp) return std::make_unique<TSftpFileSystem>(loop);
    return std::make_unique<TFtpFileSystem>(loop);
}

TProtocolFileSystem::TProtocolFileSystem(platform::EventLoop& loop, TRemoteProtocol protocol)
    : loop_(loop), protocol_(protocol) {
    Adopt(MakeProtocolFileSystem(loop_, protocol_));
}

void TProtocolFileSystem::Adopt(std::unique_ptr<TRemoteFileSystem> inner) {
    if (inner_) {
        inner_->onStatus = nullptr;
        inner_->Disconnect();
    }
    inner_ = std::move(inner);
    if (timeoutSet_) inner_->SetReplyTimeout(timeout_);
    inner_->onStatus = [this](const std::string& text) {
        if (onStatus) onStatus(text);
    };
}

void TProtocolFileSystem::SetLogin(const TRemoteLogin& login) {
    if (login.protocol != protocol_) {
        protocol_ = login.protocol;
        Adopt(MakeProtocolFileSystem(loop_, protocol_));
    }
    inner_->SetLogin(login);
}

void TProtocolFileSystem::SetReplyTimeout(std::chrono::milliseconds timeout) {
    timeout_ = timeout;
    timeoutSet_ = true;
    inner_->SetReplyTimeout(timeout);
}

} // namespace morvane::net
