#include "core/app/ExtensionTable.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

using namespace morvane::app;
using morvane::testing::readFile;
using morvane::testing::TempDir;
using morvane::testing::writeFile;

namespace {

TEST(ExtensionTable, ReadsExtensionsCaseInsensitivelyAndSkipsComments) {
    ExtensionTable t;
    t.parse("# types\r\n#  more\r\n\r\n  .HTML\tHTML  \r\n.pl Perl\n.x\bC++\n# late "
            "comment\n.\tPlain text\n");
    EXPECT_EQ(t.languageOf(".html"), "HTML");
    EXPECT_EQ(t.languageOf(".Html"), "HTML");
    EXPECT_EQ(t.languageOf(".pl"), "Perl");
    EXPECT_EQ(t.languageOf(".x"), "C++");
    EXPECT_EQ(t.languageOf("."), "Plain text");
    EXPECT_FALSE(t.languageOf(".cpp"));
}

TEST(ExtensionTable, FileExtensionIsFromTheLastDot) {
    EXPECT_EQ(fileExtension("index.HTML"), ".html");
    EXPECT_EQ(fileExtension("archive.tar.GZ"), ".gz");
    EXPECT_EQ(fileExtension("Makefile"), ".");
    EXPECT_EQ(fileExtension(".htaccess"), ".htaccess");
}

TEST(ExtensionTable, WritingBackKeepsTheTopCommentsOnly) {
    ExtensionTable t;
    t.parse("# head 1\n# head 2\n.html\tHTML\n# inner\n.pl\tPerl\n");
    t.associate(".PL", "C++");
    t.associate(".sql", "SQL");
    EXPECT_EQ(t.text(), "# head 1\n# head 2\n\n.html\tHTML\n.pl\tC++\n.sql\tSQL\n");
}

TEST(ExtensionTable, SaveReplacesTheFileAndReportsFailure) {
    TempDir dir;
    writeFile(dir / "filetypes.txt", "# mine\n.a\tPerl\n");
    ExtensionTable t;
    ASSERT_TRUE(t.load(dir / "filetypes.txt"));
    t.associate(".b", "HTML");
    EXPECT_EQ(t.save(dir / "filetypes.txt"), "");
    EXPECT_EQ(readFile(dir / "filetypes.txt"), "# mine\n\n.a\tPerl\n.b\tHTML\n");
    EXPECT_NE(t.save(dir / "missing-folder" / "filetypes.txt"), "");
    EXPECT_FALSE(t.load(dir / "nothing.txt"));
    EXPECT_TRUE(t.entries().empty());
}

} // namespace
