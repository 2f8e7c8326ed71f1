#pragma once
// A remote document's session against a scripted FTP server, and a host that records what
// the session tells its document: shared by the session's test files.
#include "core/app/RemoteSession.h"

#include "NetTestUtil.h"
#include "ScriptedFtpServer.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>

namespace morvane::app {

using morvane::testing::RunUntil;
using morvane::testing::ScriptedFtpServer;

struct RecordingHost : TRemoteSessionHost {
    std::vector<std::string> statuses, failures, retryQuestions, changedQuestions, notes,
        inPlaceQuestions;
    std::vector<bool> closeFlags;
    std::string text;
    int downloads = 0, saves = 0, closes = 0, loginFailures = 0;
    std::deque<bool> retryAnswers;
    std::deque<TChangedAnswer> changedAnswers;
    std::deque<bool> inPlaceAnswers;
    bool createMirror = true;
    bool takesPieces = false;
    std::vector<std::string> pieces;
    int piecesDone = 0;

    bool TakesPieces() override { return takesPieces; }
    void DownloadPiece(std::string_view bytes) override { pieces.emplace_back(bytes); }
    void DownloadDone() override { ++piecesDone; }
    std::string joinedPieces() const {
        std::string all;
        for (const auto& p : pieces)
            all += p;
        return all;
    }

    void SessionStatus(const std::string& t) override { statuses.push_back(t); }
    void SessionProgress(bool, std::int64_t, std::int64_t) override {}
    void SessionBusyChanged() override {}
    void Downloaded(std::string& bytes) override {
        text = bytes;
        ++downloads;
    }
    void SessionLoginFailed() override { ++loginFailures; }
    void SessionFailed(const std::string& message, bool close) override {
        failures.push_back(message);
        closeFlags.push_back(close);
    }
    bool AskRetrySave(const std::string& message) override {
        retryQuestions.push_back(message);
        if (retryAnswers.empty()) return false;
        bool r = retryAnswers.front();
        retryAnswers.pop_front();
        return r;
    }
    TChangedAnswer AskChanged(const std::string& q) override {
        changedQuestions.push_back(q);
        if (changedAnswers.empty()) return TChangedAnswer::Cancel;
        auto r = changedAnswers.front();
        changedAnswers.pop_front();
        return r;
    }
    bool AskCreateMirrorFolder(const std::string&) override { return createMirror; }
    bool AskWriteInPlace(const std::string& q) override {
        inPlaceQuestions.push_back(q);
        if (inPlaceAnswers.empty()) return false;
        bool r = inPlaceAnswers.front();
        inPlaceAnswers.pop_front();
        return r;
    }
    void Saved() override { ++saves; }
    void Note(const std::string& t) override { notes.push_back(t); }
    void CloseRequested() override { ++closes; }
};

// A server whose SIZE, MDTM and LIST answer from its files map, and which keeps renames.
struct SessionFixture : ::testing::Test {
    ScriptedFtpServer server;
    std::unique_ptr<platform::EventLoop> loop = platform::makePollEventLoop();
    RecordingHost host;
    std::unique_ptr<TRemoteSession> session;
    std::map<std::string, std::string> mdtm; // name -> time; absent: 550
    std::mutex m;

    void SetUp() override {
        server.files["page.html"] = "line one\nline two\n";
        mdtm["page.html"] = "20240101120000";
        server.handlers["SIZE"] = [this](ScriptedFtpServer::Session& s, const std::string& a) {
            std::string content;
            bool have = lookup(a, content);
            s.send(have ? "213 " + std::to_string(content.size()) + "\r\n"
                        : "550 No such file\r\n");
        };
        server.handlers["MDTM"] = [this](ScriptedFtpServer::Session& s, const std::string& a) {
            std::lock_guard lock(m);
            auto it = mdtm.find(a);
            s.send(it == mdtm.end() ? "550 No such file\r\n" : "213 " + it->second + "\r\n");
        };
        server.handlers["LIST"] = [this](ScriptedFtpServer::Session& s, const std::string&) {
            std::string listing;
            {
                std::lock_guard lock(m);
                for (auto& [name, content] : server.files)
                    listing += "-rw-r--r--   1 user group " + std::to_string(content.size()) +
                               " Jan  1 12:00 " + name + "\r\n";
            }
            s.send("150 Here it comes\r\n");
            if (!s.dataConnect()) return s.send("425 No data connection\r\n");
            s.dataSend(listing);
            s.dataClose();
            s.send("226 Done\r\n");
        };
        server.handlers["RETR"] = [this](ScriptedFtpServer::Session& s, const std::string& a) {
            std::string content;
            if (!lookup(a, content)) return s.send("550 No such file\r\n");
            s.send("150 Opening\r\n");
            if (!s.dataConnect()) return s.send("425 No data connection\r\n");
            s.dataSend(content);
            s.dataClose();
            s.send("226 Done\r\n");
        };
        server.handlers["STOR"] = [this](ScriptedFtpServer::Session& s, const std::string& a) {
            s.send("150 Send it\r\n");
            if (!s.dataConnect()) return s.send("425 No data connection\r\n");
            std::string bytes = s.dataReadAll();
            s.dataClose();
            {
                std::lock_guard lock(m);
                server.files[a] = bytes;
            }
            s.send("226 Stored\r\n");
        };
        server.handlers["RNFR"] = [this](ScriptedFtpServer::Session& s, const std::string& a) {
            renameFrom = a;
            s.send("350 Go on\r\n");
        };
        server.handlers["RNTO"] = [this](ScriptedFtpServer::Session& s, const std::string& a) {
            std::lock_guard lock(m);
            server.files[a] = server.files[renameFrom];
            server.files.erase(renameFrom);
            // A rename keeps the file's time; a fresh upload has a new one.
            auto from = mdtm.find(renameFrom);
            std::string time = from != mdtm.end() ? from->second : "20240101130000";
            if (from != mdtm.end()) mdtm.erase(from);
            mdtm[a] = time;
            s.send("250 Renamed\r\n");
        };
        server.handlers["DELE"] = [this](ScriptedFtpServer::Session& s, const std::string& a) {
            std::lock_guard lock(m);
            bool had = server.files.erase(a) > 0;
            s.send(had ? "250 Deleted\r\n" : "550 No such file\r\n");
        };
    }

    bool lookup(const std::string& name, std::string& content) {
        std::lock_guard lock(m);
        auto it = server.files.find(name);
        if (it == server.files.end()) return false;
        content = it->second;
        return true;
    }
    std::string file(const std::string& name) {
        std::string c;
        lookup(name, c);
        return c;
    }
    bool has(const std::string& name) {
        std::string c;
        return lookup(name, c);
    }
    std::vector<std::string> commandsStartingWith(const std::string& verb) {
        std::vector<std::string> out;
        for (auto& c : server.commands())
            if (c.rfind(verb, 0) == 0) out.push_back(c);
        return out;
    }

    void start() {
        server.start();
        session = std::make_unique<TRemoteSession>(*loop, host);
        session->SetReplyTimeout(std::chrono::milliseconds(3000));
        net::TAccount account;
        account.Name = "site";
        session->SetAccount(account);
        net::TRemoteLogin login;
        login.host = "127.0.0.1";
        login.port = server.port();
        login.user = "user";
        login.password = "secret";
        session->FileSystem().SetLogin(login);
        session->SetLocation("/home/user", "page.html");
    }
    bool idle(int millis = 8000) {
        return RunUntil(
            *loop, [&] { return !session->Busy(); }, millis);
    }
    void openFile() {
        session->Open();
        ASSERT_TRUE(idle());
        ASSERT_EQ(host.downloads, 1);
    }

    // STAT NAME as a Unix server answers it: the file's listing line between two 213 lines,
    // with the attributes modes() gives for the how-manyth STAT this is.
    int stats = 0;
    void serveStat(std::function<std::string(int)> modes) {
        server.handlers["STAT"] = [this, modes](ScriptedFtpServer::Session& s,
                                                const std::string& a) {
            std::string content;
            if (!lookup(a, content)) return s.send("213-Status follows:\r\n213 End of status\r\n");
            s.send("213-Status follows:\r\n" + modes(++stats) + "    1 0        0      " +
                   std::to_string(content.size()) + " Jan 01 12:00 " + a +
                   "\r\n213 End of status\r\n");
        };
    }

    std::string renameFrom;
};

} // namespace morvane::app
