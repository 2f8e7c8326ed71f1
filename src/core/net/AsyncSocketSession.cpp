// Opening and ending sessions: connect, listen, accept, adopt, close.
#include "core/net/AsyncSocket.h"
#include "core/net/TlsLayer.h"

#include "core/net/HostLookup.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace morvane::net {

namespace {
constexpr unsigned kConnectEvents = FD_READ | FD_WRITE | FD_ACCEPT | FD_CONNECT | FD_CLOSE;
constexpr unsigned kListenEvents = FD_READ | FD_WRITE | FD_ACCEPT | FD_CLOSE;
constexpr unsigned kDupEvents = FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE;
} // namespace

void TCustomAsyncSocket::ApplyLinger() {
    if (lingerOnOff_ == wsLingerNoSet) return;
    if (fd_ == InvalidSocket) {
        RaiseException("Cannot set linger option at this time");
        return;
    }
    linger l{};
    l.l_onoff = lingerOnOff_ == wsLingerOn ? 1 : 0;
    l.l_linger = lingerTimeout_;
    if (::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l) != 0) {
        lastError_ = WinsockFromErrno(errno);
        SocketError("setsockopt(SO_LINGER)");
    }
}

void TCustomAsyncSocket::BindSocket() {
    sockaddr_storage any{};
    any.ss_family = sin_.ss_family;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&any), SinLength()) != 0) {
        RaiseExceptionFmt("winsock.bind failed, error #%d", WinsockFromErrno(errno));
        return;
    }
    socklen_t len = sizeof any;
    if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&any), &len) != 0) {
        RaiseExceptionFmt("winsock.getsockname failed, error #%d", WinsockFromErrno(errno));
        return;
    }
    localPort_ = ntohs(any.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&any)->sin6_port
                                                 : reinterpret_cast<sockaddr_in*>(&any)->sin_port);
}

void TCustomAsyncSocket::Connect() {
    if (fd_ != InvalidSocket && state_ != wsClosed) {
        RaiseException("Connect: Socket already in use");
        return;
    }
    if (!portAssigned_) return RaiseException("Connect: No Port Specified");
    if (!addrAssigned_) return RaiseException("Connect: No IP Address Specified");
    if (!protoAssigned_) return RaiseException("Connect: No Protocol Specified");
    ResolveAddr();

    int type = (sockType_ == 2 ? SOCK_DGRAM : SOCK_STREAM) | SOCK_NONBLOCK | SOCK_CLOEXEC;
    int fd = ::socket(sin_.ss_family, type, sockType_ == 2 ? 0 : protoNum_);
    if (fd < 0) {
        lastError_ = WinsockFromErrno(errno);
        SocketError("Connect (socket)");
        return;
    }
    AdoptHandle(fd, 0);
    ChangeState(wsOpened);
    if (sockType_ == 2) {
        BindSocket();
        if (sin_.ss_family == AF_INET &&
            reinterpret_cast<sockaddr_in*>(&sin_)->sin_addr.s_addr == INADDR_BROADCAST) {
            int on = 1;
            if (::setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
                lastError_ = WinsockFromErrno(errno);
                return SocketError("setsockopt(SO_BROADCAST)");
            }
        }
    } else {
        ApplyLinger();
        int on = 1;
        if (::setsockopt(fd_, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) != 0) {
            lastError_ = WinsockFromErrno(errno);
            return SocketError("setsockopt(SO_KEEPALIVE)");
        }
        if (::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
            lastError_ = WinsockFromErrno(errno);
            return SocketError("setsockopt(SO_REUSEADDR)");
        }
    }
    wanted_ = kConnectEvents;
    if (sockType_ == 2) {
        UpdateWatch();
        ChangeState(wsConnected);
        TriggerSessionConnected(0);
        return;
    }
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&sin_), SinLength()) != 0) {
        int code = WinsockFromErrno(errno);
        if (code != wsa::EWOULDBLOCK_) {
            lastError_ = code;
            SocketError("Connect");
            return;
        }
    }
    // Finished or not, completion is reported from the loop like every other event.
    connectPending_ = true;
    UpdateWatch();
    ChangeState(wsConnecting);
}

int TCustomAsyncSocket::Listen() {
    const char* missing = !portAssigned_    ? "listen: port not assigned"
                          : !protoAssigned_ ? "listen: protocol not assigned"
                          : !addrAssigned_  ? "listen: address not assigned"
                                            : nullptr;
    if (missing) {
        lastError_ = wsa::EINVAL_;
        SocketError(missing);
        return -1;
    }
    ResolveAddr();
    int type = (sockType_ == 2 ? SOCK_DGRAM : SOCK_STREAM) | SOCK_NONBLOCK | SOCK_CLOEXEC;
    int fd = ::socket(sin_.ss_family, type, sockType_ == 2 ? 0 : protoNum_);
    if (fd < 0) {
        lastError_ = WinsockFromErrno(errno);
        SocketError("socket");
        return -1;
    }
    AdoptHandle(fd, 0);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&sin_), SinLength()) != 0) {
        lastError_ = WinsockFromErrno(errno);
        int code = lastError_;
        Close();
        lastError_ = code;
        SocketError("Bind");
        return -1;
    }
    ChangeState(wsBound);
    if (sockType_ == 2) {
        ChangeState(wsListening);
        ChangeState(wsConnected);
        TriggerSessionConnected(0);
    } else {
        if (::listen(fd_, 5) != 0) {
            lastError_ = WinsockFromErrno(errno);
            SocketError("Listen");
            return -1;
        }
        ChangeState(wsListening);
    }
    wanted_ = kListenEvents;
    UpdateWatch();
    return 0;
}

int TCustomAsyncSocket::Accept() {
    if (state_ != wsListening) {
        lastError_ = wsa::EINVAL_;
        SocketError("not a listening socket");
        return -1;
    }
    if (!readArmed_) {
        readArmed_ = true;
        UpdateWatch();
    }
    sockaddr_storage from{};
    socklen_t len = sizeof from;
    int fd = ::accept4(fd_, reinterpret_cast<sockaddr*>(&from), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
        lastError_ = WinsockFromErrno(errno);
        SocketError("Accept");
        return -1;
    }
    return fd;
}

void TCustomAsyncSocket::Dup(int handle) {
    if (handle == 0 || handle == InvalidSocket) {
        lastError_ = wsa::EINVAL_;
        SocketError("Dup");
        return;
    }
    if (fd_ != InvalidSocket && state_ != wsClosed) {
        ReleaseHandle();
        if (::close(fd_) != 0) {
            lastError_ = WinsockFromErrno(errno);
            fd_ = InvalidSocket;
            SocketError("Dup (closesocket)");
            return;
        }
        fd_ = InvalidSocket;
        ChangeState(wsClosed);
    }
    AdoptHandle(handle, kDupEvents);
    sendQueue_.clear();
    allSent_ = true;
    ApplyLinger();
    ChangeState(wsConnected);
    // A writable socket reports write readiness as soon as it is watched.
    PostEvent(FD_WRITE, 0);
}

void TCustomAsyncSocket::Close() {
    InternalClose(true);
}
void TCustomAsyncSocket::Abort() {
    InternalClose(false);
}

void TCustomAsyncSocket::InternalClose(bool graceful) {
    if (tls_ && graceful && !tlsHandshaking_ && fd_ != InvalidSocket) tls_->Shutdown();
    DropTls();
    if (fd_ != InvalidSocket && state_ != wsClosed) {
        if (graceful) ::shutdown(fd_, SHUT_RDWR);
        ReleaseHandle();
        int rc = ::close(fd_);
        fd_ = InvalidSocket;
        if (rc != 0 && errno != EINTR) {
            lastError_ = WinsockFromErrno(errno);
            SocketError("Disconnect (closesocket)");
        }
    } else if (fd_ != InvalidSocket) {
        ReleaseHandle();
        ::close(fd_);
        fd_ = InvalidSocket;
        return;
    } else if (state_ == wsClosed) {
        return;
    }
    std::uint64_t session = session_;
    std::weak_ptr<bool> alive = alive_;
    ChangeState(wsClosed);
    if (!destroying_ && !closeReported_) {
        closeReported_ = true;
        TriggerSessionClosed(0);
    }
    // A handler may have opened a new session on this socket: leave that one alone.
    if (alive.expired() || session != session_ || fd_ != InvalidSocket) return;
    AssignDefaultValue();
}

void TCustomAsyncSocket::Shutdown(int how) {
    if (fd_ != InvalidSocket) ::shutdown(fd_, how);
}

void TCustomAsyncSocket::Pause() {
    paused_ = true;
    UpdateWatch();
}

void TCustomAsyncSocket::Resume() {
    paused_ = false;
    readArmed_ = true;
    writeArmed_ = true;
    UpdateWatch();
    TlsWake();
}

int TCustomAsyncSocket::GetPeerName(sockaddr_in& name) {
    socklen_t len = sizeof name;
    if (::getpeername(fd_, reinterpret_cast<sockaddr*>(&name), &len) != 0) {
        lastError_ = WinsockFromErrno(errno);
        return -1;
    }
    return 0;
}

int TCustomAsyncSocket::GetSockName(sockaddr_in& name) {
    socklen_t len = sizeof name;
    if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&name), &len) != 0) {
        lastError_ = WinsockFromErrno(errno);
        return -1;
    }
    return 0;
}

int TCustomAsyncSocket::GetPeerName(sockaddr_storage& name) {
    socklen_t len = sizeof name;
    if (::getpeername(fd_, reinterpret_cast<sockaddr*>(&name), &len) != 0) {
        lastError_ = WinsockFromErrno(errno);
        return -1;
    }
    return 0;
}

int TCustomAsyncSocket::GetSockName(sockaddr_storage& name) {
    socklen_t len = sizeof name;
    if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&name), &len) != 0) {
        lastError_ = WinsockFromErrno(errno);
        return -1;
    }
    return 0;
}

std::string TCustomAsyncSocket::GetPeerAddr() {
    if (state_ != wsConnected) return "error";
    sockaddr_storage peer{};
    if (GetPeerName(peer) != 0) {
        SocketError("GetPeerName");
        return "error";
    }
    return AddressText(peer);
}

std::string TCustomAsyncSocket::GetLocalPort() {
    if (state_ != wsBound && state_ != wsConnected && state_ != wsListening) return "error";
    if (sockType_ == 2 && localPort_ != 0 && state_ == wsConnected)
        return std::to_string(localPort_);
    sockaddr_storage local{};
    if (GetSockName(local) != 0) return "error";
    return std::to_string(AddressPort(local));
}

} // namespace morvane::net
