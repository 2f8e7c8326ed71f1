#include "core/net/AsyncSocket.h"
#include "NetTestUtil.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace morvane::net;
using morvane::platform::makePollEventLoop;
using morvane::testing::RunFor;
using morvane::testing::RunUntil;

namespace {

// A plain listening socket on loopback, for the peer side of socket tests.
struct Peer {
    Peer() {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(fd, 4);
        socklen_t len = sizeof a;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
    }
    ~Peer() {
        if (conn >= 0) ::close(conn);
        ::close(fd);
    }
    int accept() { return conn = ::accept(fd, nullptr, nullptr); }
    int fd = -1, conn = -1, port = 0;
};

// A port on which nothing listens.
int ClosedPort() {
    Peer p;
    return p.port;
}

void Aim(TAsyncSocket& s, int port) {
    s.SetAddr("127.0.0.1");
    s.SetPort(std::to_string(port));
    s.SetProto("tcp");
}

// The socket connected to the peer, and the peer's side accepted.
void ConnectToPeer(morvane::platform::EventLoop& loop, TAsyncSocket& s, Peer& peer) {
    Aim(s, peer.port);
    s.Connect();
    ASSERT_TRUE(RunUntil(loop, [&] { return s.State() == wsConnected; }));
    ASSERT_GE(peer.accept(), 0);
}

} // namespace

TEST(SocketErrorTexts, DescriptionsAndErrnoMapping) {
    EXPECT_EQ(SocketErrorDesc(0), "No Error");
    EXPECT_EQ(SocketErrorDesc(10035), "Operation would block");
    EXPECT_EQ(SocketErrorDesc(10061), "Connection refused");
    EXPECT_EQ(SocketErrorDesc(11004), "No Data");
    EXPECT_EQ(SocketErrorDesc(10010), "Not a WinSock error");
    EXPECT_EQ(WinsockFromErrno(ECONNREFUSED), 10061);
    EXPECT_EQ(WinsockFromErrno(EINPROGRESS), 10035);
    EXPECT_EQ(WinsockFromErrno(EPIPE), 10054);
}

TEST(SendBuffer, WritePeekRemoveAndResize) {
    TBuffer b(0);
    EXPECT_EQ(b.Size(), 1514);
    std::string big(2000, 'x');
    EXPECT_EQ(b.Write(big.data(), int(big.size())), 1514);
    b.Remove(1000);
    EXPECT_EQ(b.Peek().size(), 514u);
    b.Remove(9999); // never past the unread part
    EXPECT_TRUE(b.Empty());
    EXPECT_EQ(b.Write("ab\0cd", 5), 5); // bytes, not C strings
    b.SetSize(3);
    EXPECT_EQ(b.Peek(), std::string_view("ab\0", 3));
}

TEST(SocketProperties, SettersCheckStateAndConvertNames) {
    auto loop = makePollEventLoop();
    TAsyncSocket s(*loop);
    EXPECT_EQ(s.Proto(), "tcp");
    s.SetPort(" ftp ");
    EXPECT_EQ(s.Port(), "ftp");
    try {
        s.SetPort("no-such-service-here");
        FAIL() << "no exception";
    } catch (const ESocketException& e) {
        EXPECT_NE(std::string(e.what()).find("SetPort: Cannot convert port 'no-such-service-here'"),
                  std::string::npos);
    }
    EXPECT_THROW(s.SetSendFlags(TSocketSendFlags(7)), ESocketException);

    Peer peer;
    Aim(s, peer.port);
    s.Connect();
    ASSERT_TRUE(RunUntil(*loop, [&] { return s.State() == wsConnected; }));
    try {
        s.SetPort("21");
        FAIL() << "no exception";
    } catch (const ESocketException& e) {
        EXPECT_STREQ(e.what(), "Cannot change Port if not closed");
    }
    EXPECT_THROW(s.SetAddr("10.0.0.1"), ESocketException);
    s.SetAddr("127.0.0.1");                      // same value: nothing to do
    EXPECT_THROW(s.Connect(), ESocketException); // already in use

    // After a close the port must be assigned again.
    s.Close();
    try {
        s.Connect();
        FAIL() << "no exception";
    } catch (const ESocketException& e) {
        EXPECT_STREQ(e.what(), "Connect: No Port Specified");
    }
}

TEST(SocketSend, OutsideConnectedFailsWith10057AndReportsThroughOnError) {
    auto loop = makePollEventLoop();
    TAsyncSocket s(*loop);
    try {
        s.SendStr("x");
        FAIL() << "no exception";
    } catch (const ESocketException& e) {
        EXPECT_STREQ(e.what(), "Error 10057 in function Send\r\nSocket is not connected");
    }
    int errors = 0;
    s.OnError = [&](TCustomAsyncSocket*) { ++errors; };
    EXPECT_EQ(s.SendStr("x"), -1);
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(s.LastError(), 10057);
    EXPECT_EQ(s.SendQueueLength(), 0u);
}

TEST(SocketSend, DataSentComesOnceFromTheLoopAfterTheLastByte) {
    auto loop = makePollEventLoop();
    Peer peer;
    TAsyncSocket s(*loop);
    ASSERT_NO_FATAL_FAILURE(ConnectToPeer(*loop, s, peer));
    int sent = 0;
    bool inSend = false;
    s.OnDataSent = [&](TCustomAsyncSocket*, std::uint16_t e) {
        EXPECT_FALSE(inSend);
        EXPECT_EQ(e, 0);
        ++sent;
    };
    RunFor(*loop, 50); // the write-ready of the connect
    sent = 0;
    // More than the socket buffer takes at once, so the queue must drain through the loop.
    std::string data(8 << 20, '\0');
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = char(i * 7);
    inSend = true;
    EXPECT_EQ(s.SendStr(data), int(data.size()));
    inSend = false;
    EXPECT_EQ(sent, 0);
    std::string got;
    char buf[65536];
    ASSERT_TRUE(RunUntil(*loop, [&] {
        ssize_t n;
        while ((n = ::recv(peer.conn, buf, sizeof buf, MSG_DONTWAIT)) > 0)
            got.append(buf, std::size_t(n));
        return got.size() == data.size() && sent > 0;
    }));
    EXPECT_EQ(got, data);
    RunFor(*loop, 50);
    EXPECT_EQ(sent, 1);

    // Small sends fill 1514-byte blocks while the peer does not read.
    for (int i = 0; i < 1000 && s.SendQueueLength() < (1u << 20); ++i)
        s.SendStr(std::string(65536, 'y'));
    std::size_t blocks = s.SendQueueBlocks();
    s.SendStr(std::string(4000, 'z'));
    // The rest of the last block, then two or three new ones.
    EXPECT_GE(s.SendQueueBlocks(), blocks + 2);
    EXPECT_LE(s.SendQueueBlocks(), blocks + 3);
}

// SendNow hands over only what the system takes, copies nothing, and says when more fits.
TEST(SocketSend, SendNowTakesWhatFitsAndDataSentSaysWhenMoreDoes) {
    auto loop = makePollEventLoop();
    Peer peer;
    TAsyncSocket s(*loop);
    ASSERT_NO_FATAL_FAILURE(ConnectToPeer(*loop, s, peer));
    RunFor(*loop, 50);
    int ready = 0;
    s.OnDataSent = [&](TCustomAsyncSocket*, std::uint16_t) { ++ready; };
    std::string data(64 << 20, '\0');
    for (std::size_t i = 0; i < data.size(); i += 4096)
        data[i] = char(i / 4096);
    // The peer reads nothing yet: far more than the buffers hold is offered.
    std::size_t pos = 0;
    int n = s.SendNow(data.data(), int(data.size()));
    ASSERT_GT(n, 0);
    ASSERT_LT(std::size_t(n), data.size());
    pos += std::size_t(n);
    EXPECT_EQ(s.SendNow(data.data() + pos, int(data.size() - pos)), 0); // full now
    EXPECT_EQ(s.SendQueueLength(), 0u);
    // The peer reads; every readiness lets the rest go on where it stopped.
    std::string got;
    char buf[1 << 16];
    ready = 0;
    ASSERT_TRUE(RunUntil(
        *loop,
        [&] {
            ssize_t r;
            while ((r = ::recv(peer.conn, buf, sizeof buf, MSG_DONTWAIT)) > 0)
                got.append(buf, std::size_t(r));
            if (ready > 0 && pos < data.size()) {
                ready = 0;
                int m = s.SendNow(data.data() + pos, int(data.size() - pos));
                EXPECT_GE(m, 0);
                pos += std::size_t(std::max(m, 0));
            }
            return got.size() == data.size();
        },
        30000));
    EXPECT_TRUE(got == data);
    EXPECT_EQ(s.SendQueueLength(), 0u);

    // Behind queued bytes (the peer reads no more) it keeps their order: all goes to the queue.
    for (int i = 0; i < 1000 && s.SendQueueLength() == 0; ++i)
        s.SendStr(std::string(1 << 16, 'q'));
    ASSERT_GT(s.SendQueueLength(), 0u);
    std::size_t queued = s.SendQueueLength();
    EXPECT_EQ(s.SendNow("tail", 4), 4);
    EXPECT_EQ(s.SendQueueLength(), queued + 4);
}

TEST(SocketLookup, NumericAtOnceNamesFromTheLoopEmptyIsInvalid) {
    auto loop = makePollEventLoop();
    TAsyncSocket s(*loop);
    std::vector<int> done;
    s.OnDnsLookupDone = [&](TCustomAsyncSocket*, std::uint16_t e) { done.push_back(e); };
    s.DnsLookup("127.0.0.1");
    ASSERT_EQ(done.size(), 1u); // before DnsLookup returned
    EXPECT_EQ(done[0], 0);
    EXPECT_EQ(s.DnsResult(), "127.0.0.1");

    s.DnsLookup("localhost");
    EXPECT_EQ(done.size(), 1u);
    ASSERT_TRUE(RunUntil(*loop, [&] { return done.size() == 2; }));
    EXPECT_EQ(done[1], 0);
    EXPECT_EQ(s.DnsResult(), "127.0.0.1"); // IPv4 first

    s.DnsLookup("[::1]"); // an IPv6 literal as typed in a host field
    ASSERT_EQ(done.size(), 3u);
    EXPECT_EQ(done[2], 0);
    EXPECT_EQ(s.DnsResult(), "::1");

    s.DnsLookup("localhost");
    s.CancelDnsLookup();
    EXPECT_EQ(done.back(), 10004);
    RunFor(*loop, 100);
    EXPECT_EQ(done.size(), 4u); // the cancelled lookup never reports

    s.OnError = [](TCustomAsyncSocket*) {};
    s.DnsLookup("  ");
    EXPECT_EQ(done.back(), 10022);
    EXPECT_EQ(s.LastErrorMessage(), "DNS lookup: invalid host name.");
}

// Lets a test deliver readiness bits as the system would.
struct ProbeSocket : TAsyncSocket {
    using TAsyncSocket::TAsyncSocket;
    void Deliver(unsigned events, std::uint16_t error) { HandleSocketEvent(events, error); }
};

TEST(SocketConnect, RefusedReportsConnectErrorThenClosesOnce) {
    auto loop = makePollEventLoop();
    ProbeSocket s(*loop);
    std::vector<int> connected, closed;
    s.OnSessionConnected = [&](TCustomAsyncSocket*, std::uint16_t e) { connected.push_back(e); };
    s.OnSessionClosed = [&](TCustomAsyncSocket*, std::uint16_t e) { closed.push_back(e); };
    Aim(s, ClosedPort());
    s.Connect();
    EXPECT_EQ(s.State(), wsConnecting);
    s.Deliver(FD_CLOSE, 10054); // a close while connecting is ignored
    EXPECT_TRUE(closed.empty());
    EXPECT_EQ(s.State(), wsConnecting);
    ASSERT_TRUE(RunUntil(*loop, [&] { return !closed.empty(); }));
    RunFor(*loop, 50);
    EXPECT_EQ(connected, std::vector<int>{10061});
    EXPECT_EQ(closed.size(), 1u);
    EXPECT_EQ(s.State(), wsClosed);
}

TEST(SocketSession, ListenAcceptDupReceiveAndPeerClose) {
    auto loop = makePollEventLoop();
    TAsyncSocket listener(*loop), server(*loop), client(*loop);
    listener.SetAddr("127.0.0.1");
    listener.SetPort("0");
    ASSERT_EQ(listener.Listen(), 0);
    EXPECT_EQ(listener.State(), wsListening);
    std::string port = listener.GetLocalPort();
    listener.OnSessionAvailable = [&](TCustomAsyncSocket*, std::uint16_t) {
        server.Dup(listener.Accept());
    };
    std::string received;
    int closed = 0;
    server.OnDataAvailable = [&](TCustomAsyncSocket* s, std::uint16_t) {
        received += s->ReceiveStr();
    };
    server.OnSessionClosed = [&](TCustomAsyncSocket*, std::uint16_t) { ++closed; };
    Aim(client, std::stoi(port));
    client.Connect();
    ASSERT_TRUE(RunUntil(*loop, [&] { return server.State() == wsConnected; }));
    ASSERT_TRUE(RunUntil(*loop, [&] { return client.State() == wsConnected; }));
    EXPECT_EQ(server.GetPeerAddr(), "127.0.0.1");
    client.SendStr(std::string("one\0two", 7));
    ASSERT_TRUE(RunUntil(*loop, [&] { return received.size() == 7; }));
    EXPECT_EQ(received, std::string("one\0two", 7));
    EXPECT_EQ(server.ReadCount(), 7u);
    client.Close();
    ASSERT_TRUE(RunUntil(*loop, [&] { return closed > 0; }));
    RunFor(*loop, 50);
    EXPECT_EQ(closed, 1);
    EXPECT_EQ(server.State(), wsClosed);
    EXPECT_EQ(server.GetPeerAddr(), "error");
}

TEST(SocketSession, UnreadBytesNeitherSpinNorLoseTheirData) {
    auto loop = makePollEventLoop();
    Peer peer;
    TAsyncSocket s(*loop);
    ASSERT_NO_FATAL_FAILURE(ConnectToPeer(*loop, s, peer));
    int calls = 0;
    s.OnDataAvailable = [&](TCustomAsyncSocket*, std::uint16_t) { ++calls; }; // reads nothing
    ::send(peer.conn, "hello", 5, 0);
    RunFor(*loop, 200);
    EXPECT_GE(calls, 1);
    EXPECT_LE(calls, 3);
    EXPECT_EQ(s.RcvdCount(), 5);
    EXPECT_EQ(s.ReceiveStr(), "hello");
}

TEST(SocketSession, PauseHoldsEventsUntilResume) {
    auto loop = makePollEventLoop();
    Peer peer;
    TAsyncSocket s(*loop);
    ASSERT_NO_FATAL_FAILURE(ConnectToPeer(*loop, s, peer));
    std::string got;
    s.OnDataAvailable = [&](TCustomAsyncSocket* x, std::uint16_t) { got += x->ReceiveStr(); };
    s.Pause();
    ::send(peer.conn, "abc", 3, 0);
    RunFor(*loop, 100);
    EXPECT_EQ(got, "");
    s.Resume();
    ASSERT_TRUE(RunUntil(*loop, [&] { return got == "abc"; }));
}

TEST(SocketReadLine, LongLineIsCutAfter254AndReported) {
    auto loop = makePollEventLoop();
    Peer peer;
    TAsyncSocket s(*loop);
    TWaitCtrl wait(*loop);
    s.SetWaitCtrl(&wait);
    ASSERT_NO_FATAL_FAILURE(ConnectToPeer(*loop, s, peer));
    int tooLong = 0;
    s.OnLineTooLong = [&](TCustomAsyncSocket*) { ++tooLong; };
    std::string line(300, 'a');
    line += "\r\nsecond\r\n";
    ::send(peer.conn, line.data(), line.size(), 0);
    RunFor(*loop, 50);
    EXPECT_EQ(s.ReadLine(2), std::string(254, 'a'));
    EXPECT_EQ(tooLong, 1);
    TAsyncSocket none(*loop);
    EXPECT_THROW(none.ReadLine(1), ESocketException); // no wait object
}

TEST(SocketReadLine, LaterReadsStillHearNewBytesAndThePeerClosing) {
    auto loop = makePollEventLoop();
    Peer peer;
    TAsyncSocket s(*loop);
    TWaitCtrl wait(*loop);
    s.SetWaitCtrl(&wait);
    ASSERT_NO_FATAL_FAILURE(ConnectToPeer(*loop, s, peer));
    int closed = 0;
    s.OnSessionClosed = [&](TCustomAsyncSocket*, std::uint16_t) { ++closed; };
    ::send(peer.conn, "first\r\n", 7, 0);
    RunFor(*loop, 50); // the socket hears the bytes before anyone reads them
    EXPECT_EQ(s.ReadLine(5), "first");

    // The next line comes while the second read waits.
    loop->addTimer(std::chrono::milliseconds(50), false,
                   [&] { ::send(peer.conn, "second\r\n", 8, 0); });
    EXPECT_EQ(s.ReadLine(5), "second");

    // A close during a wait ends it and is reported once.
    loop->addTimer(std::chrono::milliseconds(50), false, [&] {
        ::close(peer.conn);
        peer.conn = -1;
    });
    EXPECT_EQ(s.ReadLine(5), "");
    EXPECT_EQ(s.State(), wsClosed);
    EXPECT_EQ(closed, 1);
    EXPECT_FALSE(wait.Running());
}
