// A handler may delete the client from inside any event it raises (a document closed on a failed
// login does exactly that); nothing of the client may be touched afterwards. These tests are
// meant for the sanitizer build, where any such touch fails them.
#include "NetTestUtil.h"
#include "ScriptedFtpServer.h"
#include "support/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <set>

using namespace morvane::net;
using morvane::testing::RunFor;
using morvane::testing::RunUntil;
using morvane::testing::ScriptedFtpServer;
using Session = ScriptedFtpServer::Session;

namespace {

struct Outcome {
    int events = 0;      // events raised before the deletion (all of them without one)
    int afterDelete = 0; // events raised by a deleted client: must stay 0
    std::string deletedIn;
    bool finished = false;
    std::string lastError;
};

// One whole session (login, CWD, LIST, RETR to a string and to a file, STOR, a raw command, and
// the server hanging up) whose deleteAt-th event deletes the client; 0 deletes nothing.
Outcome RunSession(int port, int deleteAt, const std::filesystem::path& dir) {
    auto loop = morvane::platform::makePollEventLoop();
    Outcome out;
    auto* ftp = new TMsgFTP(*loop);
    std::string text, upload(3000, 'u');
    int step = 0;
    auto hit = [&](const char* kind) {
        if (!ftp) {
            ++out.afterDelete;
            return true;
        }
        if (++out.events != deleteAt) return false;
        delete ftp;
        ftp = nullptr;
        out.deletedIn = kind;
        return true;
    };
    auto next = [&] {
        switch (step++) {
        case 0:
            return ftp->ChangeDir("sub");
        case 1:
            return ftp->ListDirectory();
        case 2:
            return ftp->RetrieveToString("f.txt", text);
        case 3:
            return ftp->RetrieveToFile("f.txt", (dir / "f.txt").string());
        case 4:
            return ftp->StoreFromBuffer("up.txt", upload);
        case 5:
            return ftp->SendCommand("STAT");
        case 6:
            return ftp->SendCommand("BYE");
        default:
            out.lastError = ftp->ErrorMessage();
            out.finished = true;
        }
    };
    ftp->OnConnect = [&](TMsgFTP*, bool error) {
        if (hit("OnConnect")) return;
        if (error) {
            out.lastError = ftp->ErrorMessage();
            out.finished = true;
            return;
        }
        next();
    };
    ftp->OnFTPCommandDone = [&](TMsgFTP*, TFTPState, bool) {
        if (!hit("OnFTPCommandDone")) next();
    };
    ftp->OnCustomFTPCommandDone = [&](TMsgFTP*, int, const std::string&) {
        if (!hit("OnCustomFTPCommandDone")) next();
    };
    ftp->OnStatusChange = [&](TMsgFTP*, TFTPState) { hit("OnStatusChange"); };
    ftp->OnDebug = [&](TMsgFTP*, bool, const std::string&) { hit("OnDebug"); };
    ftp->OnTransferProgress = [&](TMsgFTP*, std::int64_t) { hit("OnTransferProgress"); };
    ftp->OnDirectoryListing = [&](TMsgFTP*, const std::string&, const std::string&, std::int64_t,
                                  std::int32_t, const std::string&, const std::string&,
                                  const std::string&) { hit("OnDirectoryListing"); };
    ftp->SetHostname("127.0.0.1");
    ftp->SetPort(port);
    ftp->SetUsername("user");
    ftp->SetPassword("secret");
    ftp->Connect();
    RunUntil(
        *loop, [&] { return out.finished || !ftp; }, 10000);
    RunFor(*loop, 20); // whatever is still posted for a deleted client runs now
    delete ftp;
    return out;
}

void ServeWholeSession(ScriptedFtpServer& server) {
    server.listing = "total 3\r\n-rw-r--r-- 1 u g 1 Jan 1 2020 a\r\n"
                     "-rw-r--r-- 1 u g 2 Jan 1 2020 b\r\ndrwxr-xr-x 2 u g 4096 Jan 1 2020 c\r\n";
    server.files["f.txt"] = std::string(3000, 'f');
    server.handlers["STAT"] = [](Session& s, const std::string&) {
        s.send("211-status\r\n 1 session\r\n211 end\r\n");
    };
    server.handlers["BYE"] = [](Session& s, const std::string&) { s.close(); };
}

} // namespace

TEST(FtpLifetime, AHandlerMayDeleteTheClientInAnyEvent) {
    ScriptedFtpServer whole;
    ServeWholeSession(whole);
    whole.start();
    ScriptedFtpServer refusing;
    refusing.replies["PASS"] = "530 Login incorrect.\r\n";
    refusing.start();
    morvane::testing::TempDir dir;

    std::set<std::string> kinds;
    for (ScriptedFtpServer* server : {&whole, &refusing}) {
        Outcome all = RunSession(server->port(), 0, dir.path());
        ASSERT_TRUE(all.finished);
        ASSERT_GT(all.events, 10);
        // Every event of the session in turn is the one whose handler deletes the client.
        for (int n = 1; n <= all.events + 3; ++n) {
            Outcome o = RunSession(server->port(), n, dir.path());
            EXPECT_EQ(o.afterDelete, 0) << "deleted in event " << n << ", " << o.deletedIn;
            if (!o.deletedIn.empty()) kinds.insert(o.deletedIn);
        }
    }
    EXPECT_EQ(kinds, (std::set<std::string>{"OnConnect", "OnFTPCommandDone",
                                            "OnCustomFTPCommandDone", "OnStatusChange", "OnDebug",
                                            "OnTransferProgress", "OnDirectoryListing"}));
    // A download cut short by the deletion leaves no partial file behind.
    for (auto& entry : std::filesystem::directory_iterator(dir.path()))
        EXPECT_EQ(entry.path().filename(), "f.txt");
}
