// Remote commands of an SFTP account over an SSH exec channel of the distribution's sshd:
// output as it arrives, the exit status, cancel and the limit for silence.
#include "SshServer.h"

#include "NetTestUtil.h"
#include "core/net/SftpFileSystem.h"
#include "core/net/SshExecRunner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace morvane::testing {
namespace {

using namespace morvane::net;

class SshExec : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(MakeSshKey(keys / "host", "ed25519"));
        server = std::make_unique<SshServerProcess>(0, keys / "host");
        ASSERT_EQ(server->error(), "");
        ::unsetenv("SSH_AUTH_SOCK");
    }

    struct Run {
        std::string output;
        int pieces = 0;
        bool done = false;
        bool error = false;
    };
    std::unique_ptr<TSshExecRunner> runner(Run& run, std::chrono::milliseconds silence) {
        auto fs = std::make_unique<TSftpFileSystem>(*loop);
        TRemoteLogin login;
        login.protocol = TRemoteProtocol::Sftp;
        login.host = "127.0.0.1";
        login.port = server->port();
        login.user = server->user();
        login.sshDir = server->clientDir().string();
        login.hostKey = [](const std::string&, const THostKey&) { return THostKeyAnswer::Once; };
        fs->SetLogin(login);
        fs->SetReplyTimeout(silence);
        auto r = std::make_unique<TSshExecRunner>(*loop, std::move(fs));
        r->onOutput = [&run](std::string_view bytes) {
            run.output.append(bytes);
            ++run.pieces;
        };
        r->onDone = [&run](bool e) {
            run.done = true;
            run.error = e;
        };
        return r;
    }

    TempDir keys;
    std::unique_ptr<SshServerProcess> server;
    std::unique_ptr<platform::EventLoop> loop = platform::makePollEventLoop();
};

TEST_F(SshExec, OutputAndErrorsArriveAndAFailingCommandSaysItsStatus) {
    Run run;
    auto r = runner(run, std::chrono::seconds(20));
    r->start(
        {"ignored", 0, "", "", "cd /tmp && pwd; echo oops >&2; seq 1 100000 | tail -n 1; exit 3"});
    ASSERT_TRUE(RunUntil(
        *loop, [&] { return run.done; }, 30000));
    EXPECT_FALSE(run.error);
    EXPECT_NE(run.output.find("/tmp\n"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("oops\n"), std::string::npos);
    EXPECT_NE(run.output.find("100000\n"), std::string::npos);
    EXPECT_EQ(run.output.substr(run.output.size() - 16), "-- Exit status 3");

    Run many;
    auto m = runner(many, std::chrono::seconds(20));
    m->start({"", 0, "", "", "seq 1 200000"});
    ASSERT_TRUE(RunUntil(
        *loop, [&] { return many.done; }, 30000));
    EXPECT_EQ(std::count(many.output.begin(), many.output.end(), '\n'), 200000);
    EXPECT_GT(many.pieces, 1);
}

TEST_F(SshExec, CancelAndSilenceEndTheCommand) {
    Run cancelled;
    auto c = runner(cancelled, std::chrono::seconds(20));
    c->start({"", 0, "", "", "echo started; sleep 60"});
    ASSERT_TRUE(RunUntil(
        *loop, [&] { return cancelled.output == "started\n"; }, 30000));
    c->cancel();
    ASSERT_TRUE(RunUntil(*loop, [&] { return cancelled.done; }));
    EXPECT_TRUE(cancelled.error);
    EXPECT_EQ(cancelled.output, "started\nCancelled.");

    Run silent;
    auto s = runner(silent, std::chrono::milliseconds(1500));
    s->start({"", 0, "", "", "sleep 60"});
    ASSERT_TRUE(RunUntil(
        *loop, [&] { return silent.done; }, 30000));
    EXPECT_TRUE(silent.error);
    EXPECT_NE(silent.output.find("did not answer in time"), std::string::npos) << silent.output;
}

} // namespace
} // namespace morvane::testing
