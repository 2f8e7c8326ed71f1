// Moving bytes: the send queue, receiving, the line reader and the modal waits.
#include "core/net/AsyncSocket.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <sys/ioctl.h>
#include <sys/socket.h>

namespace morvane::net {

namespace {
// A large send goes into blocks of up to this size, so that big transfers are not cut into
// thousands of small system calls.
constexpr int kLargeBlock = 1 << 20;
constexpr int kLargeSend = 64 * 1024;
using Clock = std::chrono::steady_clock;
} // namespace

std::size_t TCustomAsyncSocket::SendQueueLength() const {
    std::size_t n = 0;
    for (auto& b : sendQueue_)
        n += std::size_t(b.DataLength());
    return n;
}

int TCustomAsyncSocket::Send(const void* data, int len) {
    if (state_ != wsConnected) {
        lastError_ = wsa::ENOTCONN_;
        SocketError("Send");
        return -1;
    }
    if (len <= 0) return 0;
    allSent_ = false;
    const char* p = static_cast<const char*>(data);
    int left = len;
    // With nothing queued, what the system takes at once need not be copied into the queue
    // first; the rest is queued as usual. Errors are left to TryToSend below.
    if (sockType_ == 1 && fd_ != InvalidSocket && !tls_ && SendQueueLength() == 0 &&
        len >= kLargeSend) {
        int flags = MSG_NOSIGNAL | (sendFlags_ == wsSendUrgent ? MSG_OOB : 0);
        ssize_t n = ::send(fd_, p, std::size_t(left), flags);
        if (n > 0) {
            p += n;
            left -= int(n);
        }
        if (left == 0) {
            allSent_ = true;
            PostEvent(FD_WRITE, 0);
            return len;
        }
    }
    if (!sendQueue_.empty()) {
        int n = sendQueue_.back().Write(p, left);
        p += n;
        left -= n;
    }
    while (left > 0) {
        int size = left >= kLargeSend ? std::min(left, kLargeBlock) : TBuffer::DefaultSize;
        sendQueue_.emplace_back(size);
        int n = sendQueue_.back().Write(p, left);
        p += n;
        left -= n;
    }
    TryToSend();
    // The sent notification always comes from the loop, never from inside Send.
    if (allSent_ && fd_ != InvalidSocket) PostEvent(FD_WRITE, 0);
    return len;
}

int TCustomAsyncSocket::SendNow(const void* data, int len) {
    if (state_ != wsConnected || len <= 0 || tls_ || sockType_ != 1 || fd_ == InvalidSocket ||
        !sendQueue_.empty())
        return Send(data, len);
    int flags = MSG_NOSIGNAL | (sendFlags_ == wsSendUrgent ? MSG_OOB : 0);
    ssize_t n;
    do {
        n = ::send(fd_, data, std::size_t(len), flags);
    } while (n < 0 && errno == EINTR);
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
        return Send(data, len); // the queue's own error handling closes the socket
    writeArmed_ = true;
    UpdateWatch();
    return n < 0 ? 0 : int(n);
}

int TCustomAsyncSocket::SendStr(const std::string& text) {
    return Send(text.data(), int(text.size()));
}

void TCustomAsyncSocket::TryToSend() {
    if (fd_ == InvalidSocket || sendQueue_.empty()) return;
    int flags = MSG_NOSIGNAL | (sendFlags_ == wsSendUrgent ? MSG_OOB : 0);
    while (!sendQueue_.empty()) {
        TBuffer& block = sendQueue_.front();
        if (!block.Empty()) {
            std::string_view bytes = block.Peek();
            ssize_t n = sockType_ == 2 ? ::sendto(fd_, bytes.data(), bytes.size(), flags,
                                                  reinterpret_cast<sockaddr*>(&sin_), sizeof sin_)
                                       : RawSend(bytes.data(), bytes.size(), flags);
            if (n < 0) {
                int code = WinsockFromErrno(errno);
                if (code == wsa::EINVAL_ || code == wsa::ENOTSOCK_ || code == wsa::ECONNRESET_ ||
                    code == wsa::ENOTCONN_) {
                    lastError_ = code;
                    Close();
                    return;
                }
                if (code == wsa::EWOULDBLOCK_ || errno == EINTR) {
                    writeArmed_ = true;
                    UpdateWatch();
                    return;
                }
                lastError_ = code;
                SocketError("TryToSend failed");
                return;
            }
            block.Remove(int(n));
            if (!block.Empty()) {
                writeArmed_ = true;
                UpdateWatch();
                return;
            }
        }
        if (sendQueue_.size() > 1) {
            sendQueue_.pop_front();
            continue;
        }
        allSent_ = true;
        return;
    }
}

int TCustomAsyncSocket::RcvdCount() {
    if (fd_ == InvalidSocket) return 0;
    int waiting = PendingBytes();
    if (waiting < 0) SocketError("ioctlSocket");
    return waiting;
}

// Every read, raw or not, asks to hear of the next bytes and of the peer's close again.
void TCustomAsyncSocket::RearmRead() {
    if (!readArmed_) {
        readArmed_ = true;
        UpdateWatch();
    }
}

int TCustomAsyncSocket::Receive(void* buffer, int size) {
    RearmRead();
    if (fd_ == InvalidSocket) {
        lastError_ = wsa::ENOTSOCK_;
        return -1;
    }
    long n = RawRecv(buffer, std::size_t(std::max(size, 0)));
    if (n < 0) {
        lastError_ = WinsockFromErrno(errno);
        return -1;
    }
    readCount_ += std::uint32_t(n);
    return int(n);
}

int TCustomAsyncSocket::ReceiveFrom(void* buffer, int size, sockaddr_in& from) {
    RearmRead();
    socklen_t len = sizeof from;
    ssize_t n = ::recvfrom(fd_, buffer, std::size_t(std::max(size, 0)), 0,
                           reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 0) {
        lastError_ = WinsockFromErrno(errno);
        return -1;
    }
    readCount_ += std::uint32_t(n);
    return int(n);
}

std::string TCustomAsyncSocket::ReceiveStr() {
    int waiting = RcvdCount();
    if (waiting <= 0) return {};
    std::string s(std::size_t(waiting), '\0');
    int n = Receive(s.data(), waiting);
    s.resize(std::size_t(std::max(n, 0)));
    return s;
}

void TCustomAsyncSocket::ReceiveLoop(std::uint16_t error) {
    std::weak_ptr<bool> alive = alive_;
    std::uint64_t session = session_;
    int waitingBefore = -1;
    for (;;) {
        lastError_ = 0;
        std::uint32_t readBefore = readCount_;
        try {
            if (lineReading_) {
                ReaderStep();
            } else if (!TriggerDataAvailable(error)) {
                break;
            }
        } catch (...) {
            break; // a failing handler must not take the loop down
        }
        if (alive.expired() || session != session_ || fd_ == InvalidSocket) break;
        if (lastError_ != 0) break;
        int waiting = PendingBytes();
        if (waiting <= 0) break;
        // A handler that reads nothing would otherwise be called forever.
        if (readCount_ == readBefore && waiting == waitingBefore) break;
        waitingBefore = waiting;
    }
}

bool TCustomAsyncSocket::PumpOnce(int millis) {
    loop_.processEvents(std::chrono::milliseconds(millis));
    return true;
}

void TCustomAsyncSocket::ReaderStep() {
    RearmRead();
    while (state_ == wsConnected && lineReading_ && fd_ != InvalidSocket) {
        int waiting = PendingBytes();
        if (waiting < 0) {
            SocketError("ioctlSocket");
            return;
        }
        if (waiting == 0) {
            // A TLS session the peer ended has no bytes left to wait for.
            if (!tls_ || !tlsEof_) return;
        }
        char c;
        long n = RawRecv(&c, 1);
        int code = n < 0 ? WinsockFromErrno(errno) : 0;
        if (n == 0 || code == wsa::ECONNRESET_) {
            lineReading_ = false;
            if (waitCtrl_ && !multiThreaded_) waitCtrl_->Stop();
            Close();
            return;
        }
        if (n < 0) {
            if (code == wsa::EWOULDBLOCK_) continue;
            lastError_ = code;
            SocketError("ReadLine");
            return;
        }
        ++readCount_;
        bool endOfLine = c == '\n';
        if (!endOfLine && c != '\r') {
            if (lineBuffer_.size() > 253) {
                endOfLine = true;
                if (OnLineTooLong) OnLineTooLong(this);
            } else {
                lineBuffer_ += c;
            }
        }
        if (endOfLine) {
            lineReading_ = false;
            if (waitCtrl_ && !multiThreaded_) waitCtrl_->Stop();
        }
    }
}

std::string TCustomAsyncSocket::ReadLine(int timeoutSeconds) {
    if (!multiThreaded_ && !waitCtrl_) {
        RaiseException("No wait object assigned");
        return {};
    }
    lineBuffer_.clear();
    lineReading_ = true;
    ReaderStep();
    if (lineReading_) {
        if (multiThreaded_) {
            auto deadline = Clock::now() + std::chrono::seconds(timeoutSeconds);
            while (lineReading_ && Clock::now() < deadline)
                PumpOnce(20);
        } else {
            waitCtrl_->SetCaption(std::to_string(timeoutSeconds));
            waitCtrl_->Start();
        }
    }
    lineReading_ = false;
    return lineBuffer_;
}

bool TCustomAsyncSocket::Wait(int timeoutSeconds, TSocketState awaited) {
    if (state_ == awaited) return false;
    awaited_ = awaited;
    waiting_ = true;
    if (multiThreaded_) {
        auto deadline = Clock::now() + std::chrono::seconds(timeoutSeconds);
        while (state_ != awaited && Clock::now() < deadline &&
               !(awaited == wsConnected && state_ == wsClosed))
            PumpOnce(20);
    } else {
        if (!waitCtrl_) {
            waiting_ = false;
            lastError_ = wsa::NO_DATA_;
            SocketError("TAsyncSocket.Wait");
            return false;
        }
        waitCtrl_->SetCaption(std::to_string(timeoutSeconds));
        waitCtrl_->SetVisible(true);
        waitCtrl_->Start();
        if (waitCtrl_) waitCtrl_->SetVisible(false);
    }
    waiting_ = false;
    return state_ == awaited;
}

void TCustomAsyncSocket::Flush() {
    if (!multiThreaded_ && !waitCtrl_) {
        RaiseException("No wait object assigned");
        return;
    }
    // Bounded by FlushTimeout in both modes, so that a peer that stops reading cannot hang us.
    auto deadline = Clock::now() + std::chrono::seconds(flushTimeout_);
    if (waitCtrl_ && !multiThreaded_) {
        waitCtrl_->SetCaption(std::to_string(flushTimeout_));
        waitCtrl_->SetVisible(true);
    }
    try {
        while (fd_ != InvalidSocket && !allSent_ && Clock::now() < deadline) {
            TryToSend();
            if (fd_ == InvalidSocket || allSent_) break;
            PumpOnce(10);
        }
    } catch (...) {
        if (waitCtrl_ && !multiThreaded_) waitCtrl_->SetVisible(false);
        throw;
    }
    if (waitCtrl_ && !multiThreaded_) waitCtrl_->SetVisible(false);
}

void TCustomAsyncSocket::WaitForClose() {
    auto deadline = Clock::now() + std::chrono::seconds(flushTimeout_);
    while (fd_ != InvalidSocket && state_ != wsClosed && Clock::now() < deadline) {
        PumpOnce(0);
        if (fd_ == InvalidSocket) break;
        int waiting = PendingBytes();
        if (waiting < 0) break;
        if (waiting > 0) {
            if (lineReading_)
                ReaderStep();
            else
                TriggerDataAvailable(0);
            if (fd_ == InvalidSocket) break;
        }
        if (tls_) {
            if (tlsEof_) break;
        } else {
            char c;
            ssize_t n = ::recv(fd_, &c, 1, MSG_PEEK | MSG_DONTWAIT);
            lastError_ = n < 0 ? WinsockFromErrno(errno) : 0;
            if (n == 0 || (n < 0 && lastError_ != wsa::EWOULDBLOCK_)) break;
        }
        PumpOnce(10);
    }
}

} // namespace morvane::net
