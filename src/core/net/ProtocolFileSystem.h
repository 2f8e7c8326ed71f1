#pragma once
// A remote file system whose protocol follows its login: SetLogin picks the implementation
// (FTP or SFTP) and everything else passes through. For owners that hold one file system for
// whichever account they are given (a document, the browser).

#include "core/net/RemoteFileSystem.h"
#include "core/platform/EventLoop.h"

#include <memory>

namespace morvane::net {

// A new, unconnected file system of that protocol.
std::unique_ptr<TRemoteFileSystem> MakeProtocolFileSystem(platform::EventLoop& loop,
                                                          TRemoteProtocol protocol);

class TProtocolFileSystem final : public TRemoteFileSystem {
public:
    explicit TProtocolFileSystem(platform::EventLoop& loop,
                                 TRemoteProtocol protocol = TRemoteProtocol::Ftp);

    // The implementation in use (for tests and the command line).
    TRemoteFileSystem& Inner() { return *inner_; }

    // A login of another protocol drops the connection and changes the implementation.
    void SetLogin(const TRemoteLogin& login) override;
    const TRemoteLogin& Login() const override { return inner_->Login(); }
    void SetReplyTimeout(std::chrono::milliseconds timeout) override;
    bool Connected() const override { return inner_->Connected(); }
    bool Busy() const override { return inner_->Busy(); }
    const std::string& Home() const override { return inner_->Home(); }
    const std::string& CurrentDirectory() const override { return inner_->CurrentDirectory(); }
    TRemoteCapabilities Capabilities() const override { return inner_->Capabilities(); }

    void Connect(Done done) override { inner_->Connect(std::move(done)); }
    void Disconnect() override { inner_->Disconnect(); }
    void Cancel() override { inner_->Cancel(); }
    void KeepAlive(Done done) override { inner_->KeepAlive(std::move(done)); }
    void ChangeDirectory(const std::string& path, Done done) override {
        inner_->ChangeDirectory(path, std::move(done));
    }
    void List(EntryFound entry, Done done) override {
        inner_->List(std::move(entry), std::move(done));
    }
    void Stat(const std::string& name, TStatNeeds needs, StatDone done) override {
        inner_->Stat(name, needs, std::move(done));
    }
    void Read(const std::string& name, Piece piece, Done done) override {
        inner_->Read(name, std::move(piece), std::move(done));
    }
    void ReadToFile(const std::string& name, const std::string& localFile, Progress progress,
                    Done done) override {
        inner_->ReadToFile(name, localFile, std::move(progress), std::move(done));
    }
    void Write(const std::string& name, std::string_view text, Progress progress,
               Done done) override {
        inner_->Write(name, text, std::move(progress), std::move(done));
    }
    void Rename(const std::string& from, const std::string& to, Done done) override {
        inner_->Rename(from, to, std::move(done));
    }
    void Remove(const std::string& name, Done done) override {
        inner_->Remove(name, std::move(done));
    }
    void MakeFolder(const std::string& name, Done done) override {
        inner_->MakeFolder(name, std::move(done));
    }
    void RemoveFolder(const std::string& name, Done done) override {
        inner_->RemoveFolder(name, std::move(done));
    }
    void Chmod(const std::string& name, int mode, Done done) override {
        inner_->Chmod(name, mode, std::move(done));
    }

private:
    void Adopt(std::unique_ptr<TRemoteFileSystem> inner);

    platform::EventLoop& loop_;
    TRemoteProtocol protocol_;
    std::chrono::milliseconds timeout_{0};
    bool timeoutSet_ = false;
    std::unique_ptr<TRemoteFileSystem> inner_;
};

} // namespace morvane::net
