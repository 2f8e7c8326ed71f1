#include "core/platform/FileIdentity.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace morvane::platform;
using morvane::testing::TempDir;

namespace {

namespace fs = std::filesystem;

TEST(FileIdentity, AWriteAndAReplacementUnderTheSameNameAndTimeAreSeen) {
    TempDir dir;
    std::string path = (dir.path() / "a.txt").string();
    EXPECT_FALSE(fileIdentity(path).exists);
    std::ofstream(path, std::ios::binary) << "one\n";
    FileIdentity first = fileIdentity(path);
    ASSERT_TRUE(first.exists);
    EXPECT_EQ(first.size, 4);
    EXPECT_EQ(fileIdentity(path), first);

    // The same bytes count in a new file given the old one's time: only the inode tells.
    std::string other = (dir.path() / "b.txt").string();
    std::ofstream(other, std::ios::binary) << "two\n";
    fs::last_write_time(other, fs::last_write_time(path));
    fs::rename(other, path);
    FileIdentity replaced = fileIdentity(path);
    EXPECT_EQ(replaced.size, first.size);
    EXPECT_EQ(replaced.modifiedNs, first.modifiedNs);
    EXPECT_NE(replaced, first);

    // Appending in place keeps the inode but not the size.
    std::ofstream(path, std::ios::binary | std::ios::app) << "more";
    FileIdentity appended = fileIdentity(path);
    EXPECT_EQ(appended.inode, replaced.inode);
    EXPECT_NE(appended, replaced);

    // A symbolic link stands for the file it names.
    fs::create_symlink(path, dir.path() / "link");
    EXPECT_EQ(fileIdentity((dir.path() / "link").string()), appended);
}

} // namespace
