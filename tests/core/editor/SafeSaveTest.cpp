// Saving a file changes its bytes and nothing else: its other names, owner and group stay, and
// a folder the user cannot write or a very long name does not stop the save.

#include "EditorTestUtil.h"
#include "support/AsUser.h"
#include "support/TempDir.h"

#include <gmock/gmock.h>

#include <sys/resource.h>
#include <sys/stat.h>

namespace morvane::editor {
namespace {
using namespace test;
using morvane::testing::giveToNobody;
using morvane::testing::kNobody;
using morvane::testing::readFile;
using morvane::testing::runAsNobody;
using morvane::testing::runningAsRoot;
using morvane::testing::TempDir;
using morvane::testing::writeFile;
namespace fs = std::filesystem;

class SafeSave : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(state());
        ::setenv("MORVANE_STATE_DIR", state().c_str(), 1);
    }
    void TearDown() override { ::unsetenv("MORVANE_STATE_DIR"); }
    fs::path state() const { return dir / "state"; }
    // The state folder holds no copy once a save has finished.
    bool noCopiesLeft() const {
        std::error_code ec;
        return !fs::exists(state() / "saving") || fs::is_empty(state() / "saving", ec);
    }
    static struct stat statOf(const fs::path& p) {
        struct stat st {};
        ::stat(p.c_str(), &st);
        return st;
    }
    // Loads path, puts text in front and saves it; the error text, empty on success.
    static std::string edit(const fs::path& path, const std::string& text) {
        TCustomCodeMemo m;
        m.LoadFromFile(path.string());
        m.SetSelection(0, 0);
        m.ReplaceSel(text);
        try {
            m.SaveToFile(path.string());
        } catch (const std::exception& e) {
            return e.what();
        }
        return m.Modified() ? "still modified" : "";
    }
    TempDir dir;
};

TEST_F(SafeSave, HardLinksKeepSharingTheFileAndLongNamesSave) {
    fs::path a = dir / "a.txt", b = dir / "b.txt";
    writeFile(a, "old\n");
    fs::create_hard_link(a, b);
    ino_t inode = statOf(a).st_ino;
    EXPECT_EQ(edit(a, "new "), "");
    EXPECT_EQ(readFile(b), "new old\n");
    EXPECT_EQ(statOf(a).st_ino, inode);
    EXPECT_TRUE(noCopiesLeft());

    // A name so long that a temporary name beside it would not fit.
    fs::path longName = dir / (std::string(250, 'n') + ".txt");
    writeFile(longName, "x\n");
    EXPECT_EQ(edit(longName, "y"), "");
    EXPECT_EQ(readFile(longName), "yx\n");
    EXPECT_TRUE(noCopiesLeft());
    // A new file with such a name is written directly.
    TCustomCodeMemo m;
    Load(m, "fresh");
    fs::path fresh = dir / (std::string(251, 'f') + ".txt");
    m.SaveToFile(fresh.string());
    EXPECT_EQ(readFile(fresh), "fresh");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 5); // no temporary left
}

TEST_F(SafeSave, AWriteThatFailsHalfwayPutsTheOldBytesBack) {
    fs::path a = dir / "a.txt", b = dir / "b.txt";
    writeFile(a, "old text\n");
    fs::create_hard_link(a, b); // written in place
    int code = morvane::testing::runInChild([&] {
        // Beyond 4 KB every write fails, as on a full disk.
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        std::string error = edit(a, std::string(10000, 'z'));
        return error.find("cannot be saved") != std::string::npos ? 0 : 1;
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(readFile(a), "old text\n");
    EXPECT_TRUE(noCopiesLeft());
}

// Owner, group and folder permissions only mean something to a user other than root.
class SafeSaveAsUser : public SafeSave {
protected:
    void SetUp() override {
        MORVANE_NEEDS_ROOT("needs root to act as another user");
        SafeSave::SetUp();
        giveToNobody(state());
    }
};

TEST_F(SafeSaveAsUser, AFileOfAnotherOwnerInAWritableFolderKeepsItsOwner) {
    fs::path folder = dir / "shared";
    fs::create_directories(folder);
    giveToNobody(folder);
    fs::path f = folder / "group.txt";
    writeFile(f, "old\n");
    ::chown(f.c_str(), 0, kNobody);
    ::chmod(f.c_str(), 0664);
    EXPECT_EQ(runAsNobody([&] { return edit(f, "new ").empty() ? 0 : 1; }), 0);
    EXPECT_EQ(readFile(f), "new old\n");
    EXPECT_EQ(statOf(f).st_uid, 0u);
    EXPECT_EQ(statOf(f).st_gid, kNobody);
    EXPECT_EQ(statOf(f).st_mode & 07777, 0664u);
    EXPECT_TRUE(noCopiesLeft());
}

TEST_F(SafeSaveAsUser, AWritableFileInAFolderTheUserCannotWriteIsSavedInPlace) {
    fs::path folder = dir / "locked";
    fs::create_directories(folder);
    ::chmod(folder.c_str(), 0755); // root's
    fs::path f = folder / "mine.txt";
    writeFile(f, "old\n");
    giveToNobody(f);
    EXPECT_EQ(runAsNobody([&] { return edit(f, "new ").empty() ? 0 : 1; }), 0);
    EXPECT_EQ(readFile(f), "new old\n");
    EXPECT_TRUE(noCopiesLeft());

    // Without a state folder to keep a copy in, both ways fail and the message says why.
    ::setenv("MORVANE_STATE_DIR", folder.c_str(), 1);
    std::string message;
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    EXPECT_EQ(runAsNobody([&] {
                  std::string e = edit(f, "lost ");
                  [[maybe_unused]] auto n = ::write(pipeFds[1], e.data(), e.size());
                  return 0;
              }),
              0);
    ::close(pipeFds[1]);
    char buf[1024];
    ssize_t n = ::read(pipeFds[0], buf, sizeof buf);
    ::close(pipeFds[0]);
    message.assign(buf, n > 0 ? std::size_t(n) : 0);
    EXPECT_THAT(message, ::testing::HasSubstr("its folder cannot be written"));
    EXPECT_THAT(message, ::testing::HasSubstr("no copy of the old text could be kept"));
    EXPECT_EQ(readFile(f), "new old\n");
}

} // namespace
} // namespace morvane::editor
