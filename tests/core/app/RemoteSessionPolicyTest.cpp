// The remote session's save policy on an in-memory file system: the server's refusals and
// failures arrive as typed errors, with no server in between.
#include "core/app/RemoteSession.h"

#include "NetTestUtil.h"
#include "support/FakeRemoteFileSystem.h"

#include <gtest/gtest.h>

namespace morvane::app {
namespace {

using net::TRemoteError;
using testing::FakeRemoteFileSystem;
using testing::RunUntil;

struct Host : TRemoteSessionHost {
    std::vector<std::string> failures, retryQuestions, notes, inPlaceQuestions;
    std::deque<bool> retryAnswers;
    int saves = 0;
    std::string text;
    void SessionStatus(const std::string&) override {}
    void SessionProgress(bool, std::int64_t, std::int64_t) override {}
    void SessionBusyChanged() override {}
    void Downloaded(std::string& bytes) override { text = bytes; }
    void SessionFailed(const std::string& m, bool) override { failures.push_back(m); }
    bool AskRetrySave(const std::string& m) override {
        retryQuestions.push_back(m);
        if (retryAnswers.empty()) return false;
        bool r = retryAnswers.front();
        retryAnswers.pop_front();
        return r;
    }
    TChangedAnswer AskChanged(const std::string&) override { return TChangedAnswer::Cancel; }
    bool AskCreateMirrorFolder(const std::string&) override { return false; }
    bool AskWriteInPlace(const std::string& q) override {
        inPlaceQuestions.push_back(q);
        return false;
    }
    void Saved() override { ++saves; }
    void Note(const std::string& t) override { notes.push_back(t); }
    void CloseRequested() override {}
};

struct SavePolicy : ::testing::Test {
    std::unique_ptr<platform::EventLoop> loop = platform::makePollEventLoop();
    Host host;
    FakeRemoteFileSystem* fs = nullptr;
    std::unique_ptr<TRemoteSession> session;
    const std::string original = "the original text\n";

    void SetUp() override {
        auto owned = std::make_unique<FakeRemoteFileSystem>(*loop);
        fs = owned.get();
        fs->files["page.html"].bytes = original;
        session = std::make_unique<TRemoteSession>(*loop, host, std::move(owned));
        session->SetLocation("/home/user", "page.html");
        session->Open();
        ASSERT_TRUE(idle());
        ASSERT_EQ(host.text, original);
    }
    bool idle() {
        return RunUntil(*loop, [&] { return !session->Busy(); });
    }
    std::string file(const std::string& name) {
        auto it = fs->files.find(name);
        return it == fs->files.end() ? "<none>" : it->second.bytes;
    }
};

TEST_F(SavePolicy, ARefusedRenameWritesInPlaceBehindABackupThatGoesOnceTheTextIsWhole) {
    fs->fail("Rename .page.html.morvane-tmp", TRemoteError::Permission, "550 Rename not permitted");
    session->Save("new text\n");
    ASSERT_TRUE(idle());
    EXPECT_EQ(host.saves, 1);
    EXPECT_EQ(file("page.html"), "new text\n");
    EXPECT_EQ(file(".page.html.morvane-tmp"), "<none>");
    EXPECT_EQ(file("page.html.morvane-backup"), "<none>");
    EXPECT_EQ(fs->count("Rename page.html"), 1); // aside as the backup first
    ASSERT_EQ(host.notes.size(), 1u);
    EXPECT_NE(host.notes[0].find("Rename not permitted"), std::string::npos);
    EXPECT_TRUE(host.retryQuestions.empty() && host.inPlaceQuestions.empty());
}

TEST_F(SavePolicy, AFullQuotaFailsTheSaveWithTheServersWordsAndNeverWritesInPlace) {
    // On the temporary file: the original stays untouched, the partial temporary file goes.
    fs->fail("Write .page.html.morvane-tmp", TRemoteError::QuotaFull,
             "Host replied: 452 Insufficient storage space");
    session->Save("a longer new text\n");
    ASSERT_TRUE(idle());
    EXPECT_EQ(host.saves, 0);
    ASSERT_EQ(host.retryQuestions.size(), 1u);
    EXPECT_NE(host.retryQuestions[0].find("452 Insufficient storage space"), std::string::npos);
    EXPECT_EQ(file("page.html"), original);
    EXPECT_EQ(fs->count("Write page.html"), 0);
    EXPECT_EQ(fs->count("Remove .page.html.morvane-tmp"), 1);
    EXPECT_TRUE(host.notes.empty());

    // Writing in place (no rename here) and the quota runs out: the original comes back.
    fs->fail("Rename .page.html.morvane-tmp", TRemoteError::Refused, "502 No RNFR");
    fs->fail("Write page.html", TRemoteError::QuotaFull, "Host replied: 552 Quota exceeded");
    session->Save("a longer new text\n");
    ASSERT_TRUE(idle());
    EXPECT_EQ(host.saves, 0);
    ASSERT_EQ(host.retryQuestions.size(), 2u);
    EXPECT_NE(host.retryQuestions[1].find("552 Quota exceeded"), std::string::npos);
    EXPECT_EQ(file("page.html"), original);
    EXPECT_EQ(file("page.html.morvane-backup"), "<none>");
}

TEST_F(SavePolicy, AConnectionLostMidWriteKeepsTheOriginalAndTheRetryLogsInAgainAndSaves) {
    fs->dropWriteAfter = 4;
    host.retryAnswers = {true};
    session->Save("the whole new text\n");
    ASSERT_TRUE(idle());
    ASSERT_EQ(host.retryQuestions.size(), 1u);
    EXPECT_NE(host.retryQuestions[0].find("Connection closed by server"), std::string::npos);
    EXPECT_EQ(host.saves, 1);
    EXPECT_EQ(file("page.html"), "the whole new text\n");
    EXPECT_EQ(file(".page.html.morvane-tmp"), "<none>");
    EXPECT_EQ(fs->connects, 2);
    EXPECT_TRUE(host.notes.empty()); // no word of writing in place

    // Lost while writing in place: the original goes back over a new login, before the retry.
    fs->fail("Rename .page.html.morvane-tmp", TRemoteError::Refused, "502 No RNFR");
    fs->dropWriteAfter = 3;
    session->Save("third\n");
    ASSERT_TRUE(idle());
    EXPECT_EQ(host.retryQuestions.size(), 2u);
    EXPECT_EQ(file("page.html"), "the whole new text\n");
    EXPECT_EQ(file("page.html.morvane-backup"), "<none>");
}

TEST_F(SavePolicy, ARefusedRenameThatWasCancelledOrCutOffIsNoRefusal) {
    fs->fail("Rename .page.html.morvane-tmp", TRemoteError::Timeout, "no answer");
    session->Save("new\n");
    ASSERT_TRUE(idle());
    ASSERT_EQ(host.retryQuestions.size(), 1u);
    EXPECT_NE(host.retryQuestions[0].find("No reply from the server"), std::string::npos);
    EXPECT_EQ(fs->count("Rename page.html"), 0);
    EXPECT_EQ(fs->count("Write page.html"), 0);
    EXPECT_EQ(file("page.html"), original);
}

} // namespace
} // namespace morvane::app
