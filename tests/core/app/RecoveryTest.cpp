#include "core/app/Recovery.h"
#include "core/app/SessionList.h"
#include "core/app/TextDiff.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>

using namespace morvane::app;
namespace fs = std::filesystem;

namespace {

struct TempDir {
    fs::path path;
    TempDir() {
        char name[] = "/tmp/morvane-recovery-XXXXXX";
        path = ::mkdtemp(name);
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

RecoveryHeader remoteHeader() {
    RecoveryHeader h;
    h.kind = RecoveryHeader::Remote;
    h.account = "web \\ site";
    h.directory = "/var/www/odd\nname";
    h.fileName = "index.html";
    h.encoding = "Windows-1252";
    h.lineEnd = "CRLF";
    h.caretLine = 41;
    h.caretColumn = 7;
    h.time = 1765400000;
    h.instance = "123_456";
    h.highlighter = "HTML";
    h.serverSize = 1234;
    h.serverTime = "20240102030405";
    h.serverPrecision = 3;
    return h;
}

void putBytes(const fs::path& p, const std::string& bytes) {
    std::ofstream(p, std::ios::binary) << bytes;
}

} // namespace

TEST(RecoveryFormat, RoundTripKeepsEveryFieldAndTheBytes) {
    TempDir dir;
    const char bytes[] = "line one\r\n\0binary\xff\r\nlast";
    const std::string text(bytes, sizeof bytes - 1);
    std::string error;
    ASSERT_TRUE(writeRecoveryFile(dir.path / "a.recovery", remoteHeader(), text, error)) << error;
    struct stat st {};
    ASSERT_EQ(::stat((dir.path / "a.recovery").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    RecoveryRead r = readRecoveryFile(dir.path / "a.recovery");
    ASSERT_EQ(r.status, RecoveryRead::Ok) << r.problem;
    EXPECT_EQ(r.text, text);
    RecoveryHeader want = remoteHeader();
    EXPECT_EQ(r.header.kind, want.kind);
    EXPECT_EQ(r.header.account, want.account);
    EXPECT_EQ(r.header.directory, want.directory);
    EXPECT_EQ(r.header.fileName, want.fileName);
    EXPECT_EQ(r.header.encoding, want.encoding);
    EXPECT_EQ(r.header.lineEnd, want.lineEnd);
    EXPECT_EQ(r.header.caretLine, 41);
    EXPECT_EQ(r.header.caretColumn, 7);
    EXPECT_EQ(r.header.time, want.time);
    EXPECT_EQ(r.header.instance, want.instance);
    EXPECT_EQ(r.header.highlighter, want.highlighter);
    EXPECT_EQ(r.header.serverSize, 1234);
    EXPECT_EQ(r.header.serverTime, "20240102030405");
    EXPECT_EQ(r.header.serverPrecision, 3);
    EXPECT_EQ(recoveryPlace(r.header), "web \\ site: /var/www/odd\nname/index.html");
    // Nothing left beside it.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()), 1);
}

TEST(RecoveryFormat, DamagedTruncatedAndNewerFilesAreRecognised) {
    const std::string text = "int main() {\n    return 0;\n}\n";
    const std::string whole =
        recoveryHeaderText(remoteHeader(), text.size(), recoveryChecksum(text)) + text;
    ASSERT_EQ(parseRecovery(whole).status, RecoveryRead::Ok);

    // Cut in the text, cut in the header, cut to nothing.
    EXPECT_EQ(parseRecovery(whole.substr(0, whole.size() - 5)).status, RecoveryRead::Truncated);
    EXPECT_EQ(parseRecovery(whole.substr(0, 60)).status, RecoveryRead::Truncated);
    EXPECT_EQ(parseRecovery("").status, RecoveryRead::Damaged);

    std::string flipped = whole;
    flipped[flipped.size() - 4] ^= 0x20;
    RecoveryRead r = parseRecovery(flipped);
    EXPECT_EQ(r.status, RecoveryRead::Damaged);
    EXPECT_NE(r.problem.find("checksum"), std::string::npos);

    EXPECT_EQ(parseRecovery(whole + "x").status, RecoveryRead::Damaged);
    EXPECT_EQ(parseRecovery("PK\x03\x04 something else").status, RecoveryRead::Damaged);

    std::string newer = whole;
    newer.replace(newer.find(" 1\n"), 3, " 2\n");
    r = parseRecovery(newer);
    EXPECT_EQ(r.status, RecoveryRead::Newer);
    EXPECT_NE(r.problem.find("newer version"), std::string::npos);

    std::string badCaret = whole;
    badCaret.replace(badCaret.find("caret: 41 7"), 11, "caret: 41 x");
    EXPECT_EQ(parseRecovery(badCaret).status, RecoveryRead::Damaged);
}

// The writer converts line ends piece by piece: a text over several pieces reads back whole.
TEST(RecoveryFormat, AStoredTextWrittenInPiecesReadsBackWithItsLineEnds) {
    TempDir dir;
    std::string stored;
    for (int i = 0; stored.size() < 3'500'000; ++i)
        stored += "line " + std::to_string(i) + " of a text longer than one piece\r";
    for (const char* lineEnd : {"LF", "CRLF", "CR"}) {
        RecoveryHeader h;
        h.lineEnd = lineEnd;
        std::string error;
        ASSERT_TRUE(writeStoredRecoveryFile(dir.path / "big.recovery", h, stored, error)) << error;
        RecoveryRead r = readRecoveryFile(dir.path / "big.recovery");
        ASSERT_EQ(r.status, RecoveryRead::Ok) << lineEnd << ": " << r.problem;
        EXPECT_TRUE(r.text == withLineEnds(stored, lineEnd)) << lineEnd;
    }
}

TEST(RecoveryFormat, LineEndsOfTheStoredText) {
    EXPECT_EQ(withLineEnds("a\rb\r", "LF"), "a\nb\n");
    EXPECT_EQ(withLineEnds("a\rb\r", "CRLF"), "a\r\nb\r\n");
    EXPECT_EQ(withLineEnds("a\rb", "CR"), "a\rb");
    EXPECT_EQ(withLineEnds("", "CRLF"), "");
}

// A live instance's files are never offered to another; a gone instance's are, once, to the
// instance that claims them first.
TEST(RecoveryFolderTest, OnlyFilesOfInstancesNoLongerRunningAreLeftBehind) {
    TempDir dir;
    fs::path file;
    auto first = std::make_unique<RecoveryFolder>(dir.path / "recovery");
    ASSERT_TRUE(first->open()) << first->error();
    file = first->newFile();
    std::string error;
    ASSERT_TRUE(writeRecoveryFile(file, remoteHeader(), "text", error));

    RecoveryFolder second(dir.path / "recovery");
    ASSERT_TRUE(second.open());
    EXPECT_TRUE(second.leftBehind().empty()); // the first still runs
    EXPECT_TRUE(first->leftBehind().empty()); // its own files are not left behind

    first.reset(); // gone, as after a kill: the lock is released, the file stays
    ASSERT_TRUE(fs::exists(file));
    auto left = second.leftBehind();
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0], file);

    RecoveryFolder third(dir.path / "recovery");
    ASSERT_TRUE(third.open());
    auto claimed = second.claim(left[0]);
    ASSERT_TRUE(claimed);
    EXPECT_FALSE(third.claim(left[0])); // taken already
    EXPECT_TRUE(third.leftBehind().empty());
    EXPECT_EQ(readRecoveryFile(*claimed).text, "text");
    second.tidy();
    // The gone instance's lock file went with its last file; the living ones stay.
    int locks = 0;
    for (const auto& e : fs::directory_iterator(dir.path / "recovery"))
        locks += e.path().extension() == ".lock";
    EXPECT_EQ(locks, 2);
}

TEST(RecoveryFolderTest, AFolderThatCannotBeCreatedIsReported) {
    TempDir dir;
    putBytes(dir.path / "plain", "a file, not a folder");
    RecoveryFolder folder(dir.path / "plain" / "recovery");
    EXPECT_FALSE(folder.open());
    EXPECT_NE(folder.error().find("recovery folder"), std::string::npos);
    EXPECT_TRUE(folder.leftBehind().empty());
}

TEST(RecoveryWriterTest, WritesRemovesInOrderAndReportsFailures) {
    TempDir dir;
    std::vector<std::string> errors;
    std::mutex m;
    {
        RecoveryWriter writer([&](const std::string& e) {
            std::lock_guard lock(m);
            errors.push_back(e);
        });
        RecoveryHeader h;
        h.lineEnd = "CRLF";
        auto text = [](const char* t) { return std::make_shared<const std::string>(t); };
        writer.write(dir.path / "a.recovery", h, text("one\r"));
        writer.write(dir.path / "a.recovery", h, text("two\rlines\r"));
        writer.write(dir.path / "b.recovery", h, text("b"));
        writer.remove(dir.path / "b.recovery");
        writer.write(dir.path / "no-folder" / "c.recovery", h, text("c"));
        writer.flush();
        EXPECT_EQ(readRecoveryFile(dir.path / "a.recovery").text, "two\r\nlines\r\n");
        EXPECT_FALSE(fs::exists(dir.path / "b.recovery"));
        // A write asked after a removal happens after it.
        writer.remove(dir.path / "a.recovery");
        writer.write(dir.path / "a.recovery", h, text("three"));
    } // the destructor finishes the queue
    EXPECT_EQ(readRecoveryFile(dir.path / "a.recovery").text, "three");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("c.recovery"), std::string::npos);
}

TEST(TextDiffTest, UnifiedListingShowsChangesWithContext) {
    std::string before = "1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n11\n12\n";
    std::string after = "1\n2\n3\nfour\n5\n6\n7\n8\n9\n10\n11\n12\n13\n";
    EXPECT_EQ(unifiedDiff(before, after, "server", "yours", 2),
              "--- server\n+++ yours\n"
              "@@ -2,5 +2,5 @@\n 2\n 3\n-4\n+four\n 5\n 6\n"
              "@@ -11,2 +11,3 @@\n 11\n 12\n+13\n");
    EXPECT_EQ(unifiedDiff(before, before, "a", "b"), "");
    // Line ends do not count as a difference.
    EXPECT_EQ(unifiedDiff("a\r\nb\r\n", "a\nb", "a", "b"), "");
    EXPECT_EQ(unifiedDiff("", "new\n", "a", "b"), "--- a\n+++ b\n@@ -0,0 +1,1 @@\n+new\n");
}

TEST(TextDiffTest, HugeMiddlesFallBackToRemovedThenAdded) {
    std::string a, b;
    for (int i = 0; i < 3000; ++i) {
        a += "a" + std::to_string(i) + "\n";
        b += "b" + std::to_string(i) + "\n";
    }
    auto lines = diffLines("same\n" + a + "end\n", "same\n" + b + "end\n");
    ASSERT_EQ(lines.size(), 6002u);
    EXPECT_EQ(lines[1].kind, DiffLine::Removed);
    EXPECT_EQ(lines[3001].kind, DiffLine::Added);
    EXPECT_EQ(lines.back().kind, DiffLine::Same);
}

TEST(SessionListTest, RoundTripAndDamagedLinesCostOnlyThemselves) {
    std::vector<SessionDocument> docs(2);
    docs[0].path = "/home/u/odd\tname.txt";
    docs[0].caretLine = 12;
    docs[0].caretColumn = 3;
    docs[0].highlighter = "C/C++";
    docs[1].remote = true;
    docs[1].account = "Web";
    docs[1].directory = "/www";
    docs[1].fileName = "index.html";
    std::string text = serializeSession(docs);
    // A line cut short and one with a bad caret between the two good ones.
    std::size_t second = text.find("\nremote") + 1;
    text.insert(second, "local\t/x\t\t\t\t0\t1\t\nlocal\t/cut\n");
    auto back = parseSession(text);
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[0].path, docs[0].path);
    EXPECT_EQ(back[0].caretLine, 12);
    EXPECT_EQ(back[0].caretColumn, 3);
    EXPECT_EQ(back[0].highlighter, "C/C++");
    EXPECT_TRUE(back[1].remote);
    EXPECT_EQ(back[1].account, "Web");
    EXPECT_EQ(back[1].directory, "/www");
    EXPECT_EQ(back[1].fileName, "index.html");
    EXPECT_TRUE(parseSession("something else\nlocal\t/a\t\t\t\t1\t1\t\n").empty());
}
