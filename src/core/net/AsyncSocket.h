#pragma once
// Non-blocking TCP/UDP socket that reports everything through events delivered on the event
// loop's thread. Operations only start work; outcomes arrive later as events.

#include "core/net/Buffer.h"
#include "core/net/SocketError.h"
#include "core/net/WaitCtrl.h"
#include "core/platform/EventLoop.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <netinet/in.h>
#include <string>
#include <vector>

namespace morvane::net {

class HostLookup;
class TTlsContext;
class TTlsLayer;

enum TSocketState : std::uint8_t {
    wsInvalidState,
    wsOpened,
    wsBound,
    wsConnecting,
    wsConnected,
    wsAccepting,
    wsListening,
    wsClosed
};
enum TSocketSendFlags : std::uint8_t { wsSendNormal, wsSendUrgent };
enum TSocketLingerOnOff : std::uint8_t { wsLingerOff, wsLingerOn, wsLingerNoSet };

// Readiness bits, as the socket's message handler receives them.
enum : unsigned {
    FD_READ = 1,
    FD_WRITE = 2,
    FD_OOB = 4,
    FD_ACCEPT = 8,
    FD_CONNECT = 16,
    FD_CLOSE = 32,
};

class TCustomAsyncSocket;
using TSocketEvent = std::function<void(TCustomAsyncSocket* Sender, std::uint16_t Error)>;
using TDataAvailable = TSocketEvent;
using TDataSent = TSocketEvent;
using TSessionClosed = TSocketEvent;
using TSessionAvailable = TSocketEvent;
using TSessionConnected = TSocketEvent;
using TDnsLookupDone = TSocketEvent;
using TChangeState =
    std::function<void(TCustomAsyncSocket* Sender, TSocketState OldState, TSocketState NewState)>;
using TSocketNotify = std::function<void(TCustomAsyncSocket* Sender)>;
// The end of a TLS handshake: "" when it succeeded, otherwise why it failed.
using TTlsDone = std::function<void(const std::string& error)>;

class TCustomAsyncSocket {
public:
    static constexpr int InvalidSocket = -1;

    explicit TCustomAsyncSocket(platform::EventLoop& loop);
    virtual ~TCustomAsyncSocket();
    TCustomAsyncSocket(const TCustomAsyncSocket&) = delete;
    TCustomAsyncSocket& operator=(const TCustomAsyncSocket&) = delete;

    // Properties.
    const std::string& Addr() const { return addrStr_; }
    void SetAddr(const std::string& value);
    const std::string& Port() const { return portStr_; }
    void SetPort(const std::string& value);
    const std::string& Proto() const { return protoStr_; }
    void SetProto(const std::string& value);
    const std::string& DnsResult() const { return dnsResult_; }
    const std::vector<std::string>& DnsResultList() const { return dnsResultList_; }
    TSocketState State() const { return state_; }
    std::uint32_t ReadCount() const { return readCount_; }
    void SetReadCount(std::uint32_t v) { readCount_ = v; }
    int RcvdCount();
    int LastError() const { return lastError_; }
    void SetLastError(int v) { lastError_ = v; }
    bool MultiThreaded() const { return multiThreaded_; }
    void SetMultiThreaded(bool v) { multiThreaded_ = v; }
    TWaitCtrl* WaitCtrl() const { return waitCtrl_; }
    void SetWaitCtrl(TWaitCtrl* w);
    std::uint32_t FlushTimeout() const { return flushTimeout_; }
    void SetFlushTimeout(std::uint32_t v) { flushTimeout_ = v; }
    TSocketSendFlags SendFlags() const;
    void SetSendFlags(TSocketSendFlags v);
    TSocketLingerOnOff LingerOnOff() const { return lingerOnOff_; }
    void SetLingerOnOff(TSocketLingerOnOff v) { lingerOnOff_ = v; }
    std::uint16_t LingerTimeout() const { return lingerTimeout_; }
    void SetLingerTimeout(std::uint16_t v) { lingerTimeout_ = v; }
    int Handle() const { return fd_; }

    // Events.
    TDataAvailable OnDataAvailable;
    TDataSent OnDataSent;
    TSessionClosed OnSessionClosed;
    TSessionAvailable OnSessionAvailable;
    TSessionConnected OnSessionConnected;
    TChangeState OnChangeState;
    TSocketNotify OnLineTooLong;
    TDnsLookupDone OnDnsLookupDone;
    TSocketNotify OnError;

    // Operations.
    virtual void Connect();
    virtual void Close();
    virtual void Abort();
    virtual void Flush();
    virtual void WaitForClose();
    virtual int Listen();
    virtual int Accept();
    virtual int Receive(void* buffer, int size);
    virtual int ReceiveFrom(void* buffer, int size, sockaddr_in& from);
    std::string ReceiveStr();
    virtual int Send(const void* data, int len);
    // Hands the system what it takes now, straight from the caller's bytes (nothing is copied
    // or queued), and returns that count: 0 when the socket is full. OnDataSent follows when it
    // can take more. Over TLS, or behind queued bytes, it sends all as Send does; after a
    // failure the socket closes as with Send.
    int SendNow(const void* data, int len);
    virtual int SendStr(const std::string& text);
    virtual void DnsLookup(const std::string& host);
    virtual void CancelDnsLookup();
    virtual std::string GetPeerAddr();
    virtual int GetPeerName(sockaddr_in& name);
    // Either family: the caller looks at ss_family.
    int GetPeerName(sockaddr_storage& name);
    int GetSockName(sockaddr_storage& name);
    virtual std::string GetLocalPort();
    virtual bool Wait(int timeoutSeconds, TSocketState awaited);
    virtual std::string ReadLine(int timeoutSeconds);
    virtual int GetSockName(sockaddr_in& name);
    virtual void Dup(int handle);
    virtual void Shutdown(int how);
    virtual void Pause();
    virtual void Resume();
    // Queue length in bytes not yet handed to the system.
    std::size_t SendQueueLength() const;
    std::size_t SendQueueBlocks() const { return sendQueue_.size(); }
    bool AllSent() const { return allSent_; }
    // Text of the last failure reported through SocketError/RaiseException.
    const std::string& LastErrorMessage() const { return lastErrorMessage_; }

    // Secures the connected session as a TLS client. The handshake runs on the loop and done
    // reports its end, never from inside this call; until then the owner hears of no bytes and
    // what it sends waits in the queue. The layer goes with the session.
    void StartTls(std::shared_ptr<TTlsContext> context, const std::string& hostName, bool resume,
                  TTlsDone done);
    TTlsLayer* Tls() const { return tls_.get(); }
    bool TlsHandshaking() const { return tls_ && tlsHandshaking_; }
    // Why the TLS session failed or ended badly ("" when it did not).
    const std::string& TlsError() const { return tlsError_; }

protected:
    // The hidden window's message handler: readiness bits with the error they carry.
    virtual void HandleSocketEvent(unsigned events, std::uint16_t error);
    virtual void AssignDefaultValue();
    virtual void BindSocket();
    virtual void RaiseExceptionFmt(const char* fmt, ...);
    virtual void RaiseException(const std::string& msg);
    virtual bool TriggerDataAvailable(std::uint16_t error);
    virtual void TriggerSessionAvailable(std::uint16_t error);
    virtual void TriggerSessionConnected(std::uint16_t error);
    virtual void TriggerSessionClosed(std::uint16_t error);
    virtual void TriggerDataSent(std::uint16_t error);
    virtual void TriggerChangeState(TSocketState oldState, TSocketState newState);
    virtual void TriggerDNSLookupDone(std::uint16_t error);
    virtual void TriggerError();

    void SocketError(const std::string& function);
    void ChangeState(TSocketState newState);
    void TryToSend();
    void ApplyLinger();
    void InternalClose(bool graceful);

private:
    void ResolveAddr();
    socklen_t SinLength() const;
    void AdoptHandle(int fd, unsigned wanted);
    void ReleaseHandle();
    void UpdateWatch();
    void OnReady(unsigned ioEvents);
    void PostEvent(unsigned events, std::uint16_t error);
    void ReceiveLoop(std::uint16_t error);
    void ReaderStep();
    void RearmRead();
    bool PumpOnce(int millis);
    // The byte stream as the owner sees it: plain, or the TLS layer's clear text.
    int PendingBytes();
    long RawRecv(void* buffer, std::size_t size);
    long RawSend(const void* data, std::size_t size, int flags);
    void OnTlsReady(unsigned ioEvents);
    void TlsHandshakeStep();
    void TlsFill();
    void TlsWake();
    void DropTls();

    platform::EventLoop& loop_;
    std::shared_ptr<bool> alive_;
    int fd_ = InvalidSocket;
    std::uint64_t session_ = 0; // changes with every handle, so stale posted events are dropped
    platform::WatchId watch_ = 0;
    unsigned wanted_ = 0; // FD_* the owner asked for
    bool readArmed_ = true;
    bool writeArmed_ = false;
    bool connectPending_ = false;

    int sockType_ = 1; // 1 stream, 2 datagram
    int protoNum_ = 6;
    sockaddr_storage sin_{};    // IPv4 or IPv6, as the address says
    std::uint16_t sinPort_ = 0; // network byte order
    bool portAssigned_ = false;
    bool addrAssigned_ = false;
    bool protoAssigned_ = true;
    bool addrResolved_ = false;
    std::string addrStr_;
    std::string portStr_;
    std::string protoStr_ = "tcp";
    std::string dnsResult_;
    std::vector<std::string> dnsResultList_;
    std::shared_ptr<HostLookup> lookup_;
    std::uint64_t lookupSerial_ = 0;

    TSocketState state_ = wsClosed;
    std::uint32_t readCount_ = 0;
    int lastError_ = 0;
    bool multiThreaded_ = false;
    TWaitCtrl* waitCtrl_ = nullptr;
    std::uint32_t flushTimeout_ = 60;
    int sendFlags_ = 0;
    TSocketLingerOnOff lingerOnOff_ = wsLingerOn;
    std::uint16_t lingerTimeout_ = 0;

    std::deque<TBuffer> sendQueue_;
    bool allSent_ = true;
    std::string lineBuffer_;
    bool lineReading_ = false;
    bool paused_ = false;
    bool closeReported_ = false;
    TSocketState awaited_ = wsInvalidState;
    bool waiting_ = false;
    bool destroying_ = false;
    int localPort_ = 0;
    std::string lastErrorMessage_;

    std::unique_ptr<TTlsLayer> tls_;
    TTlsDone tlsDone_;
    bool tlsHandshaking_ = false;
    bool tlsWantWrite_ = false;      // the handshake or a read waits for the socket to be writable
    bool tlsWriteWantsRead_ = false; // a send waits for the socket to be readable
    bool tlsEof_ = false;            // the peer ended the TLS session (or the connection)
    bool tlsWakePosted_ = false;
    std::string tlsIn_; // clear text read from the layer and not yet taken by the owner
    std::size_t tlsInPos_ = 0;
    std::string tlsError_;
};

// The published form; it only publishes the properties.
class TAsyncSocket : public TCustomAsyncSocket {
public:
    using TCustomAsyncSocket::TCustomAsyncSocket;
};

} // namespace morvane::net
