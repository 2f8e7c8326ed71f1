// Remote file references and the recent-files list.

#include "core/app/RemoteReference.h"
#include "core/app/AppRegistry.h"
#include "core/app/RecentFiles.h"
#include "core/net/Account.h"
#include "support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace morvane::app;
using morvane::platform::Hive;
using morvane::platform::Registry;
using morvane::platform::RegKey;
using morvane::testing::TempDir;
using ::testing::ElementsAre;

namespace {

struct References : ::testing::Test {
    TempDir dir;
    Registry reg{dir.path()};
    void account(const std::string& name, const std::string& directory) {
        morvane::net::TAccount a;
        a.Directory = directory;
        ASSERT_TRUE(morvane::net::SaveAccount(reg, name, a));
    }
    TRemoteReference parse(const std::string& text) {
        TReferenceParse p = ParseRemoteReference(text, reg);
        EXPECT_TRUE(p.ok) << text << ": " << p.error;
        return p.reference;
    }
    std::string error(const std::string& text) {
        TReferenceParse p = ParseRemoteReference(text, reg);
        EXPECT_FALSE(p.ok) << text;
        return p.error;
    }
};

TEST_F(References, AbsoluteRelativeAndBareNames) {
    account("site", "/home/web");
    auto r = parse("MORVANE://site:/www/docs/index.html");
    EXPECT_EQ(r.account, "site");
    EXPECT_EQ(r.directory, "/www/docs");
    EXPECT_EQ(r.fileName, "index.html");

    r = parse("morvane://site:a/b/c.txt"); // any case
    EXPECT_EQ(r.directory, "/home/web/a/b");
    EXPECT_EQ(r.fileName, "c.txt");

    r = parse("MORVANE://site:index.html");
    EXPECT_EQ(r.directory, "/home/web");
    EXPECT_EQ(r.fileName, "index.html");

    r = parse("MORVANE://site:/index.html"); // the root, not the home folder
    EXPECT_EQ(r.directory, "/");
    EXPECT_EQ(r.fileName, "index.html");

    r = parse("MORVANE://site:name:with:colons.txt"); // the account ends at the first colon
    EXPECT_EQ(r.fileName, "name:with:colons.txt");
}

TEST_F(References, RelativePathsStayRelativeWithoutAnAccountDirectory) {
    account("bare", "");
    account("slash", "/srv/");
    EXPECT_EQ(parse("MORVANE://bare:docs/a.txt").directory, "docs");
    EXPECT_EQ(parse("MORVANE://bare:a.txt").directory, "");
    EXPECT_EQ(parse("MORVANE://slash:docs/a.txt").directory, "/srv/docs");
}

TEST_F(References, MalformedReferencesAndUnknownAccounts) {
    account("site", "/d");
    EXPECT_EQ(error("MORVANE://:x.txt"), "Incorrect format for file: :x.txt.");
    EXPECT_EQ(error("MORVANE://x.txt"), "Incorrect format for file: x.txt.");
    EXPECT_EQ(error("FTP://site:x.txt"), "Incorrect format for file: FTP://site:x.txt.");
    EXPECT_EQ(error("MORVANE:/"), "Incorrect format for file: MORVANE:/.");
    EXPECT_EQ(error("MORVANE://nobody:x.txt"), "Cannot find the specified account.");
    EXPECT_EQ(error("MORVANE://site:/www/"), "Incorrect format for file: MORVANE://site:/www/.");
    EXPECT_EQ(error("MORVANE://site:/www/.."),
              "Incorrect format for file: MORVANE://site:/www/...");
    EXPECT_EQ(error("MORVANE://site:."), "Incorrect format for file: MORVANE://site:..");
    // Huge names are refused with a short message, not echoed back.
    EXPECT_EQ(error("MORVANE://site:" + std::string(300, 'n')),
              "The file name in the reference is too long.");
    EXPECT_EQ(error("MORVANE://site:" + std::string(100 * 1024, 'n')),
              "The file reference is too long.");
    EXPECT_EQ(error("MORVANE://site:a\r\nDELE b"),
              "Incorrect format for file: MORVANE://site:a\r\nDELE b.");
    EXPECT_TRUE(IsRemoteReference("Morvane://x"));
    EXPECT_FALSE(IsRemoteReference("/tmp/morvane://x"));
}

TEST(RemoteFileKeys, OneSpellingForEveryWayOfNamingAFile) {
    const std::string home = "/home/u";
    const std::string key = RemoteFileKey(home, "/home/u/www", "a.html");
    EXPECT_EQ(key, "/home/u/www/a.html");
    EXPECT_EQ(RemoteFileKey(home, "www", "a.html"), key);
    EXPECT_EQ(RemoteFileKey(home, "/home/u//www/./css/..", "a.html"), key);
    EXPECT_EQ(RemoteFileKey(home, "", "www/a.html"), key);
    EXPECT_NE(RemoteFileKey(home, "/www", "a.html"), key);
    EXPECT_EQ(RemoteFileKey(home, "/../..", "a"), "/a");
    // Before login the home folder is unknown: relative names still compare with each other.
    EXPECT_EQ(RemoteFileKey("", "", "a.html"), "~/a.html");
    EXPECT_EQ(RemoteFileKey("", "www/../", "a.html"), "~/a.html");
    EXPECT_EQ(RemoteFileKey("", "..", "a.html"), "~/../a.html");
}

struct Recent : ::testing::Test {
    TempDir dir;
    Registry reg{dir.path()};
    TRecentFiles recent{reg};
    std::vector<std::string> files() {
        std::vector<std::string> out;
        for (auto& e : recent.MenuEntries())
            out.push_back(std::to_string(e.number) + e.account + ":" + e.fileName);
        return out;
    }
};

TEST_F(Recent, AddMovesAListedEntryToTheTopAndPushesTheOldestOut) {
    for (const char* f : {"d", "c", "b", "a"})
        ASSERT_TRUE(recent.Add("s", "/x", f));
    EXPECT_THAT(files(), ElementsAre("1s:a", "2s:b", "3s:c", "4s:d"));
    ASSERT_TRUE(recent.Add("s", "/x", "c")); // reopening entry 3
    EXPECT_THAT(files(), ElementsAre("1s:c", "2s:a", "3s:b", "4s:d"));
    ASSERT_TRUE(recent.Add("s", "/x", "new"));
    EXPECT_THAT(files(), ElementsAre("1s:new", "2s:c", "3s:a", "4s:b"));
    // Comparisons are exact: another directory or case is another entry.
    ASSERT_TRUE(recent.Add("s", "/X", "new"));
    EXPECT_THAT(files(), ElementsAre("1s:new", "2s:new", "3s:c", "4s:a"));
    EXPECT_EQ(recent.Entry(1).directory, "/X");
    // Quick-connect documents are never entered.
    ASSERT_TRUE(recent.Add("Quick-connect", "/", "q"));
    EXPECT_EQ(recent.Entry(1).directory, "/X");
}

TEST_F(Recent, NumRecentDefaultsClampsAndReadsTextOrDword) {
    RegKey settings(reg, Hive::CurrentUser, kSettingsKey);
    EXPECT_EQ(recent.Count(), 4);
    settings.writeDword("NumRecent", 1000);
    EXPECT_EQ(recent.Count(), 36);
    settings.writeDword("NumRecent", 0xFFFFFFFF);
    EXPECT_EQ(recent.Count(), 36);
    settings.writeString("NumRecent", "-3");
    EXPECT_EQ(recent.Count(), 0);
    settings.writeString("NumRecent", "junk");
    EXPECT_EQ(recent.Count(), 4);
    settings.writeDword("NumRecent", 2);
    for (const char* f : {"c", "b", "a"})
        ASSERT_TRUE(recent.Add("", "/l/", f));
    EXPECT_THAT(files(), ElementsAre("1:a", "2:b"));
    settings.writeDword("NumRecent", 0); // a list of none enters nothing
    ASSERT_TRUE(recent.Add("", "/l/", "z"));
    EXPECT_EQ(recent.Entry(1).fileName, "a");
}

TEST_F(Recent, CaptionsCarryAcceleratorsAndEscapeAmpersands) {
    EXPECT_EQ(TRecentFiles::Caption({1, "site", "/www", "index.html"}), "&0 site:/www:index.html");
    EXPECT_EQ(TRecentFiles::Caption({10, "", "/home/me/", "a.txt"}), "&9 (local):/home/me/:a.txt");
    EXPECT_EQ(TRecentFiles::Caption({11, "s", "d", "f"}), "&A s:d:f");
    EXPECT_EQ(TRecentFiles::Caption({36, "s", "d", "f"}), "&Z s:d:f");
    EXPECT_EQ(TRecentFiles::Caption({37, "s", "d", "f"}), "  s:d:f");
    EXPECT_EQ(TRecentFiles::Caption({2, "R&D", "/a&b", "x&y"}), "&1 R&&D:/a&&b:x&&y");
}

} // namespace
