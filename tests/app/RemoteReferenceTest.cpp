#include "app/RemoteReference.h"

#include "net/Account.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace morvane::app {
namespace {

class References : public ::testing::Test {
protected:
    void SetUp() override {
        net::TAccount site;
        site.Name = "site";
        site.Directory = "/var/www";
        ASSERT_TRUE(net::SaveAccount(registry, "site", site));
        net::TAccount bare;
        bare.Name = "bare";
        ASSERT_TRUE(net::SaveAccount(registry, "bare", bare));
    }
    TRemoteReference parse(const std::string& text) { return ParseRemoteReference(text, registry); }

    testing::TempDir dir;
    platform::Registry registry{dir.path() / "cfg"};
};

TEST_F(References, AbsoluteRelativeAndBareNames) {
    auto r = parse("MORVANE://site:/index.html");
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.account, "site");
    EXPECT_EQ(r.directory, ""); // the home directory after login
    EXPECT_EQ(r.fileName, "index.html");

    r = parse("morvane://site:a/b/c.txt");
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.directory, "/var/www/a/b");
    EXPECT_EQ(r.fileName, "c.txt");

    r = parse("MORVANE://site:/srv/x/y.pl");
    EXPECT_EQ(r.directory, "/srv/x");
    EXPECT_EQ(r.fileName, "y.pl");

    r = parse("MORVANE://site:index.html");
    EXPECT_EQ(r.directory, "/var/www");
    EXPECT_EQ(r.fileName, "index.html");

    // No account directory: the path stays relative instead of becoming "/a".
    r = parse("MORVANE://bare:a/b.txt");
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.directory, "a");
    EXPECT_EQ(r.fileName, "b.txt");
}

TEST_F(References, MalformedReferencesAndUnknownAccounts) {
    EXPECT_EQ(parse("MORVANE://:x.txt").error, "Incorrect format for file: :x.txt.");
    EXPECT_EQ(parse("MORVANE://x.txt").error, "Incorrect format for file: x.txt.");
    EXPECT_EQ(parse("FTP://site:x").error, "Incorrect format for file: FTP://site:x.");
    EXPECT_FALSE(parse("MORVANE://site:/dir/").ok); // a folder is not a file
    auto r = parse("MORVANE://nobody:/x.txt");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, "Cannot find the specified account.");
    EXPECT_FALSE(IsRemoteReference("MORVANE:/"));
}

} // namespace
} // namespace morvane::app
