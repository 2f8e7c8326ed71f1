// Transfers over an active-mode data connection: LIST, RETR and STOR.
#include "net/MsgFTP.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace morvane::net {

namespace {
// Bytes moved per step of a transfer: large enough that the loop is not what limits it.
constexpr int kFileReadChunk = 256 * 1024;
constexpr std::int64_t kStoreChunk = 1024 * 1024;
} // namespace

std::string PortCommand(std::uint32_t a, std::uint16_t p) {
    return "PORT " + std::to_string(a >> 24) + "," + std::to_string((a >> 16) & 255) + "," +
           std::to_string((a >> 8) & 255) + "," + std::to_string(a & 255) + "," +
           std::to_string(p / 256) + "," + std::to_string(p % 256);
}

void TMsgFTP::ListDirectory() {
    if (busy_) return;
    listingBuffer_.clear();
    listing_.Reset();
    StartTransfer(ftpListing, "", Mode::String);
}

void TMsgFTP::RetrieveToString(const std::string& name, std::string& text) {
    if (busy_) return;
    text.clear();
    target_ = &text;
    StartTransfer(ftpRetrieving, name, Mode::String);
}

void TMsgFTP::RetrieveToFile(const std::string& name, const std::string& localFile) {
    if (busy_) return;
    localFile_ = localFile;
    StartTransfer(ftpRetrieving, name, Mode::File);
}

void TMsgFTP::StoreFromBuffer(const std::string& name, std::string_view buffer) {
    if (busy_) return;
    source_ = buffer;
    storePos_ = 1;
    StartTransfer(ftpStoring, name, Mode::Store);
}

void TMsgFTP::StartTransfer(TFTPState pending, const std::string& name, Mode mode) {
    if (name.find_first_of("\r\n") != std::string::npos) {
        FailLater(pending, "Refused to send a command containing CR or LF: " +
                               name.substr(0, name.find_first_of("\r\n")));
        return;
    }
    if (!connected_) {
        FailLater(pending, "Not connected");
        return;
    }
    ++operation_;
    pendingState_ = pending;
    transferName_ = name;
    mode_ = mode;
    if (mode == Mode::String && pending == ftpListing) target_ = &listingBuffer_;
    dataClosed_ = false;
    finalReply_ = false;
    byteCount_ = 0;

    // Leftovers of an earlier transfer must not feed into this one.
    transferActive_ = false;
    if (listen_->State() != wsClosed) listen_->Close();
    if (data_->State() != wsClosed) data_->Abort();

    data_->OnDataAvailable = [this](TCustomAsyncSocket*, std::uint16_t) { DataAvailable(); };
    data_->OnSessionClosed = [this](TCustomAsyncSocket*, std::uint16_t) { DataClosed(); };
    data_->OnDataSent = [this](TCustomAsyncSocket*, std::uint16_t e) { DataSent(e); };
    listen_->OnSessionAvailable = [this](TCustomAsyncSocket*, std::uint16_t) {
        DataSessionAvailable();
    };

    // The listener takes the control connection's local address: that is what PORT announces,
    // and nothing needs to reach it from elsewhere.
    sockaddr_in local{};
    control_->GetSockName(local);
    listen_->SetPort("0");
    listen_->SetAddr(::inet_ntoa(local.sin_addr));

    if (mode == Mode::File) {
        int fd = ::open(localFile_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0)
            throw std::system_error(errno, std::generic_category(),
                                    "Cannot create local file " + localFile_);
        fileFd_ = fd;
    }
    if (listen_->Listen() != 0) {
        if (fileFd_ >= 0) ::close(fileFd_);
        fileFd_ = -1;
        FailLater(pending, "Could not open a data port: " + listen_->LastErrorMessage());
        return;
    }
    transferActive_ = true;
    sockaddr_in bound{};
    listen_->GetSockName(bound);
    busy_ = true;
    SetState(ftpSendingPort);
    SendLine(PortCommand(ntohl(local.sin_addr.s_addr), ntohs(bound.sin_port)));
}

void TMsgFTP::DataSessionAvailable() {
    if (!transferActive_) return;
    int fd = listen_->Accept();
    if (fd < 0) return;
    // Only the server we talk to may connect; from any port, before or after its 150.
    sockaddr_in peer{}, server{};
    socklen_t len = sizeof peer;
    ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &len);
    control_->GetPeerName(server);
    if (peer.sin_addr.s_addr != server.sin_addr.s_addr) {
        ::close(fd);
        Log(std::string("Refused data connection from ") + ::inet_ntoa(peer.sin_addr));
        return;
    }
    data_->SetLingerOnOff(wsLingerOff);
    data_->Dup(fd);
    listen_->Close();
}

void TMsgFTP::DataAvailable() {
    if (!transferActive_) {
        data_->ReceiveStr(); // nobody wants these bytes
        return;
    }
    std::int64_t n = 0;
    if (mode_ == Mode::File) {
        static thread_local std::vector<char> chunk(kFileReadChunk);
        char* buf = chunk.data();
        n = data_->Receive(buf, kFileReadChunk);
        if (n <= 0) return;
        for (std::int64_t off = 0; off < n;) {
            ssize_t w = ::write(fileFd_, buf + off, std::size_t(n - off));
            if (w < 0 && errno == EINTR) continue;
            if (w < 0) {
                errorMessage_ =
                    "Could not write local file " + localFile_ + ": " + std::strerror(errno);
                Log(errorMessage_);
                Abort();
                return;
            }
            off += w;
        }
    } else if (mode_ == Mode::String && target_) {
        int waiting = data_->RcvdCount();
        if (waiting <= 0) waiting = 4096; // let the receive report the end of the stream
        std::size_t old = target_->size();
        target_->resize(old + std::size_t(waiting));
        int got = data_->Receive(target_->data() + old, waiting);
        target_->resize(old + std::size_t(got > 0 ? got : 0));
        n = got > 0 ? got : 0;
    } else {
        data_->ReceiveStr(); // a server that sends while we store
        return;
    }
    byteCount_ += n;
    std::uint64_t op = operation_;
    if (OnTransferProgress) OnTransferProgress(this, byteCount_);
    if (op == operation_ && state_ == ftpListing) ParseListing();
}

void TMsgFTP::ParseListing() {
    if (state_ != ftpListing) return;
    listing_.Parse(listingBuffer_, systemType_,
                   [this](const TDirectoryEntry& e) { ReportEntry(e); });
}

void TMsgFTP::ReportEntry(const TDirectoryEntry& e) {
    if (OnDirectoryListing)
        OnDirectoryListing(this, e.Name, e.Date, e.Size, e.Kind, e.Owner, e.Group, e.Attributes);
}

void TMsgFTP::DataClosed() {
    if (!transferActive_) return;
    dataClosed_ = true;
    data_->Close();
    commandLog_.push_back("<- Transfer session closed");
    if (OnDebug) OnDebug(this, false, "Transfer session closed");
    if (finalReply_ && state_ >= ftpListing && state_ <= ftpStoring) TransferDone(false);
}

void TMsgFTP::DataSent(std::uint16_t error) {
    if (!transferActive_ || error != 0) return;
    if (state_ == ftpStoring) StoreStep();
}

void TMsgFTP::StoreStep() {
    if (mode_ != Mode::Store || data_->State() != wsConnected) return;
    auto length = std::int64_t(source_.size());
    if (storePos_ > length) {
        std::string msg = "Transfer complete, sent " + std::to_string(storePos_ - 1) + " of " +
                          std::to_string(length);
        commandLog_.push_back("<- " + msg);
        if (OnDebug) OnDebug(this, false, msg);
        data_->Close();
        return;
    }
    std::int64_t chunk = std::min(kStoreChunk, length - (storePos_ - 1));
    data_->Send(source_.data() + (storePos_ - 1), int(chunk));
    storePos_ += chunk;
    byteCount_ = storePos_ - 1;
    if (OnTransferProgress) OnTransferProgress(this, storePos_);
}

void TMsgFTP::TransferReply(int code, const std::string& reply) {
    if (code == 125 || code == 150) return;
    if (code == 226 || code == 250) {
        if (!finalReply_) finalReply_ = true;
        if (dataClosed_) TransferDone(false);
        return;
    }
    errorMessage_ = (state_ == ftpListing ? "Host replied (150, 226): " : "Host replied: ") + reply;
    CommandDone(true);
}

void TMsgFTP::TransferDone(bool error) {
    if (state_ == ftpListing && !error) {
        // A receiver may end the command from inside a report.
        std::uint64_t op = operation_;
        ParseListing();
        if (op != operation_) return;
        listing_.Finish([this](const TDirectoryEntry& e) { ReportEntry(e); });
        if (op != operation_) return;
    }
    CommandDone(error);
}

// Called by CommandDone: whatever ends a transfer closes its file and its connections.
void TMsgFTP::EndTransfer() {
    transferActive_ = false;
    listing_.Reset(); // a listing ended from inside its own report stops reporting
    listingBuffer_.clear();
    if (fileFd_ >= 0) ::close(fileFd_);
    fileFd_ = -1;
    if (listen_->State() != wsClosed) listen_->Close();
    if (data_->State() != wsClosed) data_->Close();
    target_ = nullptr;
    source_ = {};
}

} // namespace morvane::net
