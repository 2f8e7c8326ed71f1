// TLS under the socket: the owner reads and writes clear text through the same calls and
// events as on a plain connection. The layer reads whole records, so clear text can wait in
// the socket (tlsIn_) or in the layer while the descriptor is quiet: a posted wake-up stands
// in for the readiness the system would report.
#include "core/net/AsyncSocket.h"
#include "core/net/TlsLayer.h"

#include <algorithm>
#include <cerrno>
#include <sys/ioctl.h>
#include <sys/socket.h>

namespace morvane::net {

namespace {
// Clear text gathered ahead of the owner: one bound, as the kernel's buffer bounds it otherwise.
constexpr std::size_t kTlsInMax = 256 * 1024;
constexpr int kTlsReadChunk = 64 * 1024;
} // namespace

void TCustomAsyncSocket::StartTls(std::shared_ptr<TTlsContext> context, const std::string& hostName,
                                  bool resume, TTlsDone done) {
    std::weak_ptr<bool> alive = alive_;
    std::uint64_t session = session_;
    auto report = [this, alive, session](const std::string& error) {
        loop_.post([this, alive, session, error] {
            if (alive.expired() || session != session_) return;
            TTlsDone done = std::move(tlsDone_);
            tlsDone_ = nullptr;
            if (done) done(error);
        });
    };
    tlsDone_ = std::move(done);
    if (fd_ == InvalidSocket || state_ != wsConnected || !context) {
        report("TLS needs a connected socket");
        return;
    }
    tls_ = std::make_unique<TTlsLayer>(std::move(context), fd_, hostName, resume);
    tlsHandshaking_ = true;
    tlsWantWrite_ = true; // the first step sends the client's hello
    tlsWriteWantsRead_ = false;
    tlsEof_ = false;
    tlsIn_.clear();
    tlsInPos_ = 0;
    tlsError_.clear();
    UpdateWatch();
}

void TCustomAsyncSocket::DropTls() {
    tls_.reset();
    tlsDone_ = nullptr;
    tlsHandshaking_ = tlsWantWrite_ = tlsWriteWantsRead_ = tlsEof_ = false;
    tlsIn_.clear();
    tlsInPos_ = 0;
}

void TCustomAsyncSocket::TlsHandshakeStep() {
    TTlsLayer::Status s = tls_->Handshake();
    tlsWantWrite_ = s == TTlsLayer::Status::WantWrite;
    if (s == TTlsLayer::Status::WantRead || s == TTlsLayer::Status::WantWrite) {
        UpdateWatch();
        return;
    }
    tlsHandshaking_ = false;
    readArmed_ = true;
    UpdateWatch();
    if (s != TTlsLayer::Status::Done) tlsError_ = tls_->Error();
    std::weak_ptr<bool> alive = alive_;
    std::uint64_t session = session_;
    TTlsDone done = std::move(tlsDone_);
    tlsDone_ = nullptr;
    if (done) done(tlsError_);
    if (alive.expired() || session != session_ || !tls_ || s != TTlsLayer::Status::Done) return;
    // What the owner queued meanwhile goes now; bytes that came with the handshake are told.
    TryToSend();
    if (alive.expired() || session != session_ || fd_ == InvalidSocket) return;
    if (allSent_) PostEvent(FD_WRITE, 0);
    TlsWake();
}

// Moves what the layer has decrypted into tlsIn_, up to the bound.
void TCustomAsyncSocket::TlsFill() {
    if (!tls_ || tlsHandshaking_ || tlsEof_) return;
    if (tlsInPos_ > 0 && tlsInPos_ == tlsIn_.size()) {
        tlsIn_.clear();
        tlsInPos_ = 0;
    }
    while (tlsIn_.size() - tlsInPos_ < kTlsInMax) {
        if (tlsInPos_ > 0 && tlsInPos_ >= kTlsInMax) {
            tlsIn_.erase(0, tlsInPos_);
            tlsInPos_ = 0;
        }
        std::size_t old = tlsIn_.size();
        tlsIn_.resize(old + kTlsReadChunk);
        TTlsLayer::Status s;
        int n = tls_->Read(tlsIn_.data() + old, kTlsReadChunk, s);
        tlsIn_.resize(old + std::size_t(n));
        if (n > 0) continue;
        if (s == TTlsLayer::Status::WantWrite) {
            tlsWantWrite_ = true;
            UpdateWatch();
        } else if (s == TTlsLayer::Status::Closed || s == TTlsLayer::Status::Failed) {
            tlsEof_ = true;
            if (s == TTlsLayer::Status::Failed) tlsError_ = tls_->Error();
            // The peer may keep the connection open after its close alert: nothing on the
            // descriptor would tell of the end.
            TlsWake();
        }
        break;
    }
}

int TCustomAsyncSocket::PendingBytes() {
    if (fd_ == InvalidSocket) return 0;
    if (tls_) {
        TlsFill();
        return int(tlsIn_.size() - tlsInPos_);
    }
    int waiting = 0;
    if (::ioctl(fd_, FIONREAD, &waiting) != 0) {
        lastError_ = WinsockFromErrno(errno);
        return -1;
    }
    return waiting;
}

long TCustomAsyncSocket::RawRecv(void* buffer, std::size_t size) {
    if (!tls_) return long(::recv(fd_, buffer, size, 0));
    if (tlsInPos_ == tlsIn_.size()) TlsFill();
    std::size_t have = tlsIn_.size() - tlsInPos_;
    if (have == 0) {
        if (tlsEof_ && !tlsError_.empty()) {
            errno = ECONNRESET;
            return -1;
        }
        if (tlsEof_) return 0;
        errno = EWOULDBLOCK;
        return -1;
    }
    std::size_t n = std::min(size, have);
    std::copy_n(tlsIn_.data() + tlsInPos_, n, static_cast<char*>(buffer));
    tlsInPos_ += n;
    if (tlsInPos_ == tlsIn_.size()) {
        tlsIn_.clear();
        tlsInPos_ = 0;
    }
    // More may wait where the descriptor does not show it: say so from the loop.
    if (tlsInPos_ < tlsIn_.size() || tlsEof_) TlsWake();
    return long(n);
}

long TCustomAsyncSocket::RawSend(const void* data, std::size_t size, int flags) {
    if (!tls_) return long(::send(fd_, data, size, flags));
    if (tlsHandshaking_) {
        errno = EWOULDBLOCK;
        return -1;
    }
    TTlsLayer::Status s;
    int n =
        tls_->Write(static_cast<const char*>(data), int(std::min<std::size_t>(size, 1 << 30)), s);
    if (n > 0) return n;
    tlsWriteWantsRead_ = s == TTlsLayer::Status::WantRead;
    if (s == TTlsLayer::Status::WantRead || s == TTlsLayer::Status::WantWrite) {
        errno = EWOULDBLOCK;
        return -1;
    }
    tlsError_ = tls_->Error();
    errno = ECONNRESET;
    return -1;
}

void TCustomAsyncSocket::TlsWake() {
    if (tlsWakePosted_ || !tls_) return;
    tlsWakePosted_ = true;
    std::weak_ptr<bool> alive = alive_;
    std::uint64_t session = session_;
    loop_.post([this, alive, session] {
        if (alive.expired()) return;
        tlsWakePosted_ = false;
        if (session != session_ || fd_ == InvalidSocket || paused_ || !tls_) return;
        OnTlsReady(platform::ioRead);
    });
}

void TCustomAsyncSocket::OnTlsReady(unsigned io) {
    if (tlsHandshaking_) {
        TlsHandshakeStep();
        return;
    }
    unsigned bits = 0;
    std::uint16_t error = 0;
    if (tlsWantWrite_ && (io & platform::ioWrite)) {
        tlsWantWrite_ = false; // a read waited for this: try it again below
        io |= platform::ioRead;
    }
    if ((io & platform::ioWrite) && writeArmed_) {
        writeArmed_ = false;
        bits |= FD_WRITE;
    }
    if (tlsWriteWantsRead_ && (io & (platform::ioRead | platform::ioError))) {
        tlsWriteWantsRead_ = false;
        bits |= FD_WRITE;
    }
    if ((io & (platform::ioRead | platform::ioError)) && readArmed_) {
        TlsFill();
        if (tlsInPos_ < tlsIn_.size()) {
            bits |= FD_READ;
        } else if (tlsEof_) {
            bits |= FD_CLOSE;
            if (!tlsError_.empty()) error = wsa::ECONNRESET_;
        }
        if (bits & (FD_READ | FD_CLOSE)) readArmed_ = false; // re-armed by the next receive
    }
    UpdateWatch();
    if (bits) HandleSocketEvent(bits, error);
}

} // namespace morvane::net
