// The rexec client against a scripted server on loopback: the bytes on the wire, the status
// byte, output as it arrives, and the faults a server can show (silence, endless output, early
// close, a refused connection).
#include "core/net/RExecClient.h"

#include "NetTestUtil.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace morvane::testing {
namespace {

using namespace std::string_literals;

// Accepts one connection, reads the request up to its fourth NUL, then plays its part.
class ScriptedRExecServer {
public:
    enum class Part { Reply, Silent, Endless, CloseAtOnce };

    ScriptedRExecServer(Part part, std::string reply = {}) : part_(part), reply_(std::move(reply)) {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(listener_, 1);
        socklen_t len = sizeof a;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~ScriptedRExecServer() {
        stop_ = true;
        ::shutdown(listener_, SHUT_RDWR);
        if (conn_ >= 0) ::shutdown(conn_, SHUT_RDWR);
        thread_.join();
        ::close(listener_);
        if (conn_ >= 0) ::close(conn_);
    }

    int port = 0;
    std::atomic<bool> connected{false};
    std::string received; // read on the server's thread; look only after the exchange ended

private:
    void serve() {
        conn_ = ::accept(listener_, nullptr, nullptr);
        if (conn_ < 0) return;
        connected = true;
        if (part_ == Part::CloseAtOnce) {
            ::shutdown(conn_, SHUT_RDWR);
            return;
        }
        int nuls = 0;
        char c;
        while (nuls < 4 && received.size() < 100000 && ::recv(conn_, &c, 1, 0) == 1) {
            received.push_back(c);
            if (c == '\0') ++nuls;
        }
        if (part_ == Part::Reply) {
            ::send(conn_, reply_.data(), reply_.size(), MSG_NOSIGNAL);
            ::shutdown(conn_, SHUT_RDWR);
        } else if (part_ == Part::Endless) {
            std::string block(65536, 'y');
            block[0] = '\0';
            while (!stop_ && ::send(conn_, block.data(), block.size(), MSG_NOSIGNAL) > 0)
                block[0] = 'y';
        } else {
            while (!stop_)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    Part part_;
    std::string reply_;
    int listener_ = -1;
    int conn_ = -1;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

struct RExecRun {
    RExecRun() : loop(platform::makePollEventLoop()), client(*loop) {
        client.onOutput = [this](std::string_view bytes) {
            output.append(bytes);
            ++pieces;
        };
        client.onDone = [this](bool e) {
            done = true;
            error = e;
        };
    }
    void start(int port, std::string command = "uptime", std::string user = "alice",
               std::string password = "pw") {
        client.start({"127.0.0.1", port, std::move(user), std::move(password), std::move(command)});
    }
    bool finish(int millis = 10000) {
        return RunUntil(
            *loop, [&] { return done; }, millis);
    }
    std::unique_ptr<platform::EventLoop> loop;
    net::TRExecClient client;
    std::string output;
    int pieces = 0;
    bool done = false;
    bool error = false;
};

TEST(RExecClient, SendsTheFourFieldsAndDropsTheSuccessStatusByte) {
    ScriptedRExecServer server(ScriptedRExecServer::Part::Reply, "\0line 1\nline 2\n"s);
    RExecRun run;
    run.start(server.port, "ls -l /home/u/www/");
    ASSERT_TRUE(run.finish());
    EXPECT_FALSE(run.error);
    EXPECT_EQ(run.output, "line 1\nline 2\n");
    EXPECT_EQ(server.received, "\0alice\0pw\0ls -l /home/u/www/\0"s);
    EXPECT_FALSE(run.client.running());
}

TEST(RExecClient, AFailureStatusIsShownAsReceived) {
    ScriptedRExecServer server(ScriptedRExecServer::Part::Reply, "\x01Login incorrect.\n");
    RExecRun run;
    run.start(server.port);
    ASSERT_TRUE(run.finish());
    EXPECT_FALSE(run.error); // the server answered: its failure is output
    EXPECT_EQ(run.output, "\x01Login incorrect.\n");
}

TEST(RExecClient, LineBreaksAndNulsInAFieldAreRefusedBeforeAnyConnection) {
    ScriptedRExecServer server(ScriptedRExecServer::Part::Reply, std::string("\0", 1));
    for (auto [user, password, command] :
         {std::tuple<std::string, std::string, std::string>{"al\nice", "pw", "id"},
          {"alice", std::string("p\0w", 3), "id"},
          {"alice", "pw", "id\rreboot"}}) {
        RExecRun run;
        run.start(server.port, command, user, password);
        ASSERT_TRUE(run.finish());
        EXPECT_TRUE(run.error);
        EXPECT_NE(run.output.find("Nothing was sent."), std::string::npos) << run.output;
    }
    RunFor(*platform::makePollEventLoop(), 50);
    EXPECT_FALSE(server.connected);
}

TEST(RExecClient, LookupAndConnectionFailuresBecomeTheOutput) {
    int port;
    {
        ScriptedRExecServer closed(ScriptedRExecServer::Part::CloseAtOnce);
        port = closed.port;
        // Reach it once so that its thread ends; the port is then no longer listened on.
        RExecRun warm;
        warm.start(port);
        ASSERT_TRUE(warm.finish());
    }
    RExecRun refused;
    refused.start(port);
    ASSERT_TRUE(refused.finish());
    EXPECT_TRUE(refused.error);
    EXPECT_EQ(refused.output, "Error connecting to host \"127.0.0.1\"");

    RExecRun unknown;
    unknown.client.start({"no-such-host.invalid", 512, "u", "p", "id"});
    ASSERT_TRUE(unknown.finish(40000));
    EXPECT_TRUE(unknown.error);
    EXPECT_EQ(unknown.output, "Could not look up hostname: no-such-host.invalid");
}

TEST(RExecClient, AServerThatClosesWithoutAStatusByteIsAFailure) {
    ScriptedRExecServer server(ScriptedRExecServer::Part::CloseAtOnce);
    RExecRun run;
    run.start(server.port);
    ASSERT_TRUE(run.finish());
    EXPECT_TRUE(run.error);
    EXPECT_EQ(run.output, "Host \"127.0.0.1\" closed the connection without running the command "
                          "(is the user name or password wrong?)");
    // A status byte alone is a command that printed nothing.
    ScriptedRExecServer quiet(ScriptedRExecServer::Part::Reply, "\0"s);
    RExecRun ok;
    ok.start(quiet.port);
    ASSERT_TRUE(ok.finish());
    EXPECT_FALSE(ok.error);
    EXPECT_EQ(ok.output, "");
}

TEST(RExecClient, ASilentServerMeetsTheIdleLimitAndCancelEndsARun) {
    {
        ScriptedRExecServer server(ScriptedRExecServer::Part::Silent);
        RExecRun run;
        run.client.setTimeouts(std::chrono::seconds(5), std::chrono::milliseconds(300));
        run.start(server.port);
        ASSERT_TRUE(run.finish());
        EXPECT_TRUE(run.error);
        EXPECT_NE(run.output.find("No output from host \"127.0.0.1\""), std::string::npos);
    }
    {
        ScriptedRExecServer server(ScriptedRExecServer::Part::Silent);
        RExecRun run;
        run.start(server.port);
        ASSERT_TRUE(RunUntil(*run.loop, [&] { return server.connected.load(); }));
        RunFor(*run.loop, 50);
        EXPECT_TRUE(run.client.running());
        run.client.cancel();
        ASSERT_TRUE(run.finish());
        EXPECT_TRUE(run.error);
        EXPECT_EQ(run.output, "Cancelled.");
    }
}

TEST(RExecClient, EndlessOutputArrivesInPiecesAndIsCutAtTheLimit) {
    ScriptedRExecServer server(ScriptedRExecServer::Part::Endless);
    RExecRun run;
    run.client.setOutputLimit(std::size_t(3) << 20);
    run.start(server.port);
    ASSERT_TRUE(run.finish(20000));
    EXPECT_GT(run.pieces, 10); // streamed, not handed over at the end
    const std::string note = "\n-- The output was cut after 3 MB; the rest was not read.\n";
    ASSERT_EQ(run.output.size(), (std::size_t(3) << 20) + note.size());
    EXPECT_EQ(run.output.substr(run.output.size() - note.size()), note);
    EXPECT_EQ(run.output.find_first_not_of('y'), std::size_t(3) << 20);
}

} // namespace
} // namespace morvane::testing
