#include "core/platform/Paths.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <unistd.h>

using namespace morvane::platform;
using morvane::testing::TempDir;

namespace {

TEST(Paths, RelativePathsAreTakenAgainstTheWorkingFolderOfThisProcess) {
    TempDir dir;
    std::string before = std::filesystem::current_path().string();
    ASSERT_EQ(::chdir(dir.path().c_str()), 0);
    std::string here = dir.path().string();
    EXPECT_EQ(absolutePath("notes.txt"), here + "/notes.txt");
    EXPECT_EQ(absolutePath("./sub//notes.txt"), here + "/sub/notes.txt");
    // ".." is left for the system: a symbolic link before it decides where it leads.
    EXPECT_EQ(absolutePath("../x"), here + "/../x");
    EXPECT_EQ(absolutePath("/etc/./hosts"), "/etc/hosts");
    EXPECT_EQ(absolutePath("dir/"), here + "/dir/");
    EXPECT_EQ(absolutePath(std::string("a\xff b", 4)), here + "/a\xff b");
    EXPECT_EQ(absolutePath(""), "");
    ASSERT_EQ(::chdir(before.c_str()), 0);
}

TEST(Paths, RemoteReferencesAreRecognisedInAnyCase) {
    EXPECT_TRUE(isRemoteReference("MORVANE://site:/www/index.html"));
    EXPECT_TRUE(isRemoteReference("morvane://site:/"));
    EXPECT_FALSE(isRemoteReference("MORVANE:/site"));
    EXPECT_FALSE(isRemoteReference("notes.txt"));
}

} // namespace
