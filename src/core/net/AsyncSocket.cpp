#include "core/net/AsyncSocket.h"

#include "core/net/HostLookup.h"
#include "core/net/TlsLayer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <netdb.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <system_error>
#include <unistd.h>

namespace morvane::net {

namespace {

std::string Trim(const std::string& s) {
    auto b = s.find_first_not_of(' ');
    if (b == std::string::npos) return {};
    auto e = s.find_last_not_of(' ');
    return s.substr(b, e - b + 1);
}

bool StartsWithDigit(const std::string& s) {
    return !s.empty() && s[0] >= '0' && s[0] <= '9';
}

int LeadingNumber(const std::string& s) {
    long v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') break;
        v = v * 10 + (c - '0');
        if (v > 0xFFFFFF) break;
    }
    return int(v);
}

} // namespace

TCustomAsyncSocket::TCustomAsyncSocket(platform::EventLoop& loop)
    : loop_(loop), alive_(std::make_shared<bool>(true)) {
    AssignDefaultValue();
}

TCustomAsyncSocket::~TCustomAsyncSocket() {
    destroying_ = true;
    if (lookup_) lookup_->Cancel();
    lookup_.reset();
    if (state_ != wsClosed || fd_ != InvalidSocket) {
        try {
            InternalClose(true);
        } catch (...) {
        }
    }
    ReleaseHandle();
    if (waitCtrl_) waitCtrl_->OnDestroy = nullptr;
}

void TCustomAsyncSocket::AssignDefaultValue() {
    sin_ = sockaddr_storage{};
    sin_.ss_family = AF_INET;
    sinPort_ = 0;
    portAssigned_ = addrAssigned_ = addrResolved_ = false;
    protoAssigned_ = true;
    protoNum_ = 6;
    protoStr_ = "tcp";
    sockType_ = 1;
    lingerOnOff_ = wsLingerOn;
    lingerTimeout_ = 0;
    fd_ = InvalidSocket;
    state_ = wsClosed;
    lineReading_ = false;
    lineBuffer_.clear();
    sendQueue_.clear();
    allSent_ = true;
    paused_ = false;
    closeReported_ = false;
    readCount_ = 0;
    flushTimeout_ = 60;
}

// --- properties ------------------------------------------------------------------------------

void TCustomAsyncSocket::SetPort(const std::string& value) {
    std::string text = Trim(value);
    if (portAssigned_ && text == portStr_) return;
    if (state_ != wsClosed) {
        RaiseException("Cannot change Port if not closed");
        return;
    }
    portStr_ = text;
    if (text.empty()) {
        portAssigned_ = false;
        return;
    }
    if (StartsWithDigit(text)) {
        sinPort_ = htons(std::uint16_t(LeadingNumber(text)));
        portAssigned_ = true;
        return;
    }
    servent* se = ::getservbyname(text.c_str(), protoStr_.empty() ? nullptr : protoStr_.c_str());
    if (!se) {
        portAssigned_ = false;
        lastError_ = wsa::NO_DATA_;
        SocketError("SetPort: Cannot convert port '" + text + "'");
        return;
    }
    sinPort_ = std::uint16_t(se->s_port);
    portAssigned_ = true;
}

void TCustomAsyncSocket::SetProto(const std::string& value) {
    std::string text = Trim(value);
    if (protoAssigned_ && text == protoStr_) return;
    if (state_ != wsClosed) {
        RaiseException("Cannot change Proto if not closed");
        return;
    }
    protoStr_ = text;
    if (text.empty()) {
        protoAssigned_ = false;
        return;
    }
    if (StartsWithDigit(text)) {
        protoNum_ = LeadingNumber(text);
    } else {
        protoent* pe = ::getprotobyname(text.c_str());
        if (!pe) {
            protoAssigned_ = false;
            lastError_ = wsa::NO_DATA_;
            SocketError("SetProto: Cannot convert protocol '" + text + "'");
            return;
        }
        protoNum_ = pe->p_proto;
    }
    sockType_ = protoNum_ == 17 ? 2 : 1;
    protoAssigned_ = true;
}

void TCustomAsyncSocket::SetAddr(const std::string& value) {
    std::string text = Trim(value);
    if (addrAssigned_ && text == addrStr_) return;
    if (!text.empty() && state_ != wsClosed) {
        RaiseException("Cannot change Addr if not closed");
        return;
    }
    addrStr_ = text;
    addrAssigned_ = !text.empty();
    addrResolved_ = false;
}

TSocketSendFlags TCustomAsyncSocket::SendFlags() const {
    if (sendFlags_ != 0 && sendFlags_ != 1) throw ESocketException("Invalid internal SendFlags");
    return TSocketSendFlags(sendFlags_);
}

void TCustomAsyncSocket::SetSendFlags(TSocketSendFlags v) {
    if (v != wsSendNormal && v != wsSendUrgent) {
        RaiseException("Invalid SendFlags");
        return;
    }
    sendFlags_ = v;
}

void TCustomAsyncSocket::SetWaitCtrl(TWaitCtrl* w) {
    if (waitCtrl_) waitCtrl_->OnDestroy = nullptr;
    waitCtrl_ = w;
    if (w) w->OnDestroy = [this](TWaitCtrl*) { waitCtrl_ = nullptr; };
}

// --- errors ----------------------------------------------------------------------------------

void TCustomAsyncSocket::SocketError(const std::string& function) {
    int code = lastError_;
    std::string msg = "Error " + std::to_string(code) + " in function " + function + "\r\n" +
                      SocketErrorDesc(code);
    if (code == wsa::ECONNRESET_ || code == wsa::ENOTCONN_) {
        if (fd_ != InvalidSocket) {
            ReleaseHandle();
            ::close(fd_);
            fd_ = InvalidSocket;
        }
        if (state_ != wsClosed) ChangeState(wsClosed);
    }
    RaiseException(msg);
}

void TCustomAsyncSocket::RaiseException(const std::string& msg) {
    lastErrorMessage_ = msg;
    if (OnError) {
        TriggerError();
        return;
    }
    throw ESocketException(msg);
}

void TCustomAsyncSocket::RaiseExceptionFmt(const char* fmt, ...) {
    char buf[1024];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    RaiseException(buf);
}

// --- triggers --------------------------------------------------------------------------------

bool TCustomAsyncSocket::TriggerDataAvailable(std::uint16_t error) {
    if (!OnDataAvailable) return false;
    OnDataAvailable(this, error);
    return true;
}
void TCustomAsyncSocket::TriggerSessionAvailable(std::uint16_t error) {
    if (OnSessionAvailable) OnSessionAvailable(this, error);
}
void TCustomAsyncSocket::TriggerSessionConnected(std::uint16_t error) {
    if (OnSessionConnected) OnSessionConnected(this, error);
}
void TCustomAsyncSocket::TriggerSessionClosed(std::uint16_t error) {
    if (OnSessionClosed) OnSessionClosed(this, error);
}
void TCustomAsyncSocket::TriggerDataSent(std::uint16_t error) {
    if (OnDataSent) OnDataSent(this, error);
}
void TCustomAsyncSocket::TriggerChangeState(TSocketState oldState, TSocketState newState) {
    if (OnChangeState) OnChangeState(this, oldState, newState);
}
void TCustomAsyncSocket::TriggerDNSLookupDone(std::uint16_t error) {
    if (OnDnsLookupDone) OnDnsLookupDone(this, error);
}
void TCustomAsyncSocket::TriggerError() {
    if (OnError) OnError(this);
}

void TCustomAsyncSocket::ChangeState(TSocketState newState) {
    TSocketState old = state_;
    state_ = newState;
    TriggerChangeState(old, newState);
    if (!multiThreaded_ && waiting_ && waitCtrl_ &&
        (newState == awaited_ || (awaited_ == wsConnected && newState == wsClosed)))
        waitCtrl_->Stop();
}

// --- host lookup -----------------------------------------------------------------------------

void TCustomAsyncSocket::DnsLookup(const std::string& hostName) {
    if (lookup_) lookup_->Cancel();
    lookup_.reset();
    dnsResult_.clear();
    dnsResultList_.clear();
    std::string host = Trim(hostName);
    if (host.empty()) {
        RaiseException("DNS lookup: invalid host name.");
        TriggerDNSLookupDone(wsa::EINVAL_);
        return;
    }
    sockaddr_storage literal{};
    if (ParseNumericAddress(host, literal)) {
        dnsResult_ = AddressText(literal);
        dnsResultList_.push_back(dnsResult_);
        TriggerDNSLookupDone(0);
        return;
    }
    std::uint64_t serial = ++lookupSerial_;
    std::weak_ptr<bool> alive = alive_;
    try {
        lookup_ = HostLookup::Start(loop_, host, [this, alive, serial](const HostLookupResult& r) {
            if (alive.expired() || serial != lookupSerial_ || !lookup_) return;
            lookup_.reset();
            if (r.error == 0) {
                dnsResultList_ = r.addrs;
                dnsResult_ = r.addrs.front();
            }
            TriggerDNSLookupDone(std::uint16_t(r.error));
        });
    } catch (const std::system_error& e) {
        RaiseExceptionFmt("%s: can't start DNS lookup, error #%d", host.c_str(), e.code().value());
    }
}

void TCustomAsyncSocket::CancelDnsLookup() {
    if (!lookup_) return;
    lookup_->Cancel();
    lookup_.reset();
    ++lookupSerial_;
    if (!destroying_) TriggerDNSLookupDone(wsa::EINTR_);
}

void TCustomAsyncSocket::ResolveAddr() {
    if (!addrResolved_) {
        sockaddr_storage a{};
        if (!ParseNumericAddress(addrStr_, a)) {
            HostLookupResult r = HostLookup::Resolve(addrStr_);
            if (r.error != 0 || !ParseNumericAddress(r.addrs.front(), a)) {
                char buf[600];
                std::snprintf(buf, sizeof buf, "SetAddr: Cannot convert host address '%s'",
                              addrStr_.c_str());
                throw ESocketException(buf);
            }
        }
        sin_ = a;
        addrResolved_ = true;
    }
    if (sin_.ss_family == AF_INET6)
        reinterpret_cast<sockaddr_in6*>(&sin_)->sin6_port = sinPort_;
    else
        reinterpret_cast<sockaddr_in*>(&sin_)->sin_port = sinPort_;
}

socklen_t TCustomAsyncSocket::SinLength() const {
    return sin_.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
}

// --- handles and readiness -------------------------------------------------------------------

void TCustomAsyncSocket::AdoptHandle(int fd, unsigned wanted) {
    fd_ = fd;
    ++session_;
    DropTls();
    wanted_ = wanted;
    readArmed_ = true;
    writeArmed_ = false;
    connectPending_ = false;
    closeReported_ = false;
    if (watch_) loop_.unwatch(watch_);
    std::weak_ptr<bool> alive = alive_;
    watch_ = loop_.watchFd(fd, 0, [this, alive](int, unsigned ev) {
        if (!alive.expired()) OnReady(ev);
    });
    UpdateWatch();
}

void TCustomAsyncSocket::ReleaseHandle() {
    if (watch_) loop_.unwatch(watch_);
    watch_ = 0;
    ++session_;
}

void TCustomAsyncSocket::UpdateWatch() {
    if (!watch_) return;
    unsigned ev = 0;
    if (!paused_) {
        if (readArmed_ && (wanted_ & (FD_READ | FD_ACCEPT | FD_CLOSE))) ev |= platform::ioRead;
        if ((writeArmed_ && (wanted_ & FD_WRITE)) || connectPending_) ev |= platform::ioWrite;
        if (tls_) {
            if ((tlsHandshaking_ && !tlsWantWrite_) || tlsWriteWantsRead_) ev |= platform::ioRead;
            if (tlsWantWrite_) ev |= platform::ioWrite;
        }
    }
    loop_.setWatchEvents(watch_, ev);
}

void TCustomAsyncSocket::PostEvent(unsigned events, std::uint16_t error) {
    std::weak_ptr<bool> alive = alive_;
    std::uint64_t session = session_;
    loop_.post([this, alive, session, events, error] {
        if (alive.expired() || session != session_ || fd_ == InvalidSocket || paused_) return;
        HandleSocketEvent(events, error);
    });
}

void TCustomAsyncSocket::OnReady(unsigned io) {
    if (paused_ || fd_ == InvalidSocket) return;
    if (connectPending_) {
        int err = 0;
        socklen_t len = sizeof err;
        ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &len);
        connectPending_ = false;
        writeArmed_ = false;
        UpdateWatch();
        int code = WinsockFromErrno(err);
        HandleSocketEvent(code == 0 ? (FD_CONNECT | FD_WRITE) : FD_CONNECT, std::uint16_t(code));
        return;
    }
    if (state_ == wsListening) {
        if (io & (platform::ioRead | platform::ioError)) {
            readArmed_ = false; // until Accept, as the system would do
            UpdateWatch();
            HandleSocketEvent(FD_ACCEPT, 0);
        }
        return;
    }
    if (tls_) return OnTlsReady(io);
    unsigned bits = 0;
    std::uint16_t error = 0;
    if ((io & platform::ioWrite) && writeArmed_) {
        writeArmed_ = false;
        bits |= FD_WRITE;
    }
    if (io & (platform::ioRead | platform::ioError)) {
        int waiting = 0;
        if (::ioctl(fd_, FIONREAD, &waiting) == 0 && waiting > 0) {
            bits |= FD_READ;
        } else {
            char c;
            ssize_t r = ::recv(fd_, &c, 1, MSG_PEEK | MSG_DONTWAIT);
            if (r > 0) {
                bits |= FD_READ;
            } else if (r == 0) {
                bits |= FD_CLOSE;
            } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                bits |= FD_CLOSE;
                error = std::uint16_t(WinsockFromErrno(errno));
            }
        }
        if (bits & (FD_READ | FD_CLOSE)) readArmed_ = false; // re-armed by the next receive
    }
    // Until the owner receives again the socket stays quiet about reads, as the system would;
    // otherwise unread bytes would wake the loop forever.
    UpdateWatch();
    if (bits) HandleSocketEvent(bits, error);
}

void TCustomAsyncSocket::HandleSocketEvent(unsigned events, std::uint16_t error) {
    std::weak_ptr<bool> alive = alive_;
    std::uint64_t session = session_;
    auto same = [&] { return !alive.expired() && session == session_; };
    if (events & FD_CONNECT) {
        ChangeState(wsConnected);
        TriggerSessionConnected(error);
        if (!same()) return;
        if (error != 0) {
            if (state_ != wsClosed) Close();
            return;
        }
    }
    if (events & FD_READ) {
        ReceiveLoop(error);
        if (!same()) return;
    }
    if (events & FD_WRITE) {
        TryToSend();
        if (!same()) return;
        if (allSent_ && OnDataSent) TriggerDataSent(error);
        if (!same()) return;
    }
    if (events & FD_ACCEPT) {
        TriggerSessionAvailable(error);
        if (!same()) return;
    }
    if ((events & FD_CLOSE) && state_ != wsConnecting) {
        ReceiveLoop(error);
        if (!same()) return;
        if (lineReading_) {
            lineReading_ = false;
            if (waitCtrl_ && !multiThreaded_) waitCtrl_->Stop();
        }
        if (!closeReported_) {
            closeReported_ = true;
            TriggerSessionClosed(error);
            if (!same()) return;
        }
        if (state_ != wsClosed) Close();
    }
}

} // namespace morvane::net
