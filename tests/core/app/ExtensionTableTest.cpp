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

TEST(ExtensionTable, ScriptsWithoutAKnownExtensionGoByTheirFirstLine) {
    EXPECT_EQ(interpreterKey("#!/bin/sh\r"), "#!sh");
    EXPECT_EQ(interpreterKey("#! /usr/bin/python3 -u\rimport x"), "#!python3");
    EXPECT_EQ(interpreterKey("#!/usr/bin/env -S PYTHONPATH=. python3.11 -u\n"), "#!python3.11");
    EXPECT_EQ(interpreterKey("#!/usr/bin/env"), "");
    EXPECT_EQ(interpreterKey("#!"), "");
    EXPECT_EQ(interpreterKey("# not one"), "");
    EXPECT_EQ(interpreterKey(""), "");

    ExtensionTable t;
    t.parse("# types\n#!not a comment\n.py\tPython\n.\tPlain text\n.sh\tShell\n#!bash\tShell\n"
            "#!python\tPython\n#!PERL\tPerl\n");
    EXPECT_EQ(t.languageOf("#!bash"), "Shell");
    EXPECT_EQ(t.languageFor("backup", "#!/bin/bash\recho"), "Shell");
    EXPECT_EQ(t.languageFor("tool", "#!/usr/bin/env python3.11\r"), "Python");
    EXPECT_EQ(t.languageFor("run", "#!/usr/bin/perl -w"), "Perl");
    // The extension goes first; a name without one and no known program falls to ".".
    EXPECT_EQ(t.languageFor("x.sh", "#!/usr/bin/python"), "Shell");
    EXPECT_EQ(t.languageFor("README", "#!/usr/bin/ruby"), "Plain text");
    EXPECT_EQ(t.languageFor("README", "Hello"), "Plain text");
    // An unknown extension with a "#!" line is a script; without one it stays unknown.
    EXPECT_EQ(t.languageFor("job.1", "#!/bin/bash"), "Shell");
    EXPECT_FALSE(t.languageFor("job.1", "echo"));
    // The entries survive writing back.
    EXPECT_NE(t.text().find("#!bash\tShell\n"), std::string::npos);
    EXPECT_NE(t.text().find("#!not\ta comment\n"), std::string::npos);
}

TEST(ExtensionTable, TheShippedTableNamesTheBuiltInLanguages) {
    ExtensionTable t;
    ASSERT_TRUE(t.load(std::filesystem::path(MORVANE_SOURCE_RESOURCES) / "data" / "filetypes.txt"));
    EXPECT_EQ(t.languageFor("css/style.css", ""), "CSS");
    EXPECT_EQ(t.languageFor("index.php", ""), "PHP");
    EXPECT_EQ(t.languageFor("a.py", ""), "Python");
    EXPECT_EQ(t.languageFor("a.sh", ""), "Shell");
    EXPECT_EQ(t.languageFor("package.json", ""), "JSON");
    EXPECT_EQ(t.languageFor("feed.xml", ""), "XML");
    EXPECT_EQ(t.languageFor("README.md", ""), "Markdown");
    EXPECT_EQ(t.languageFor("php.ini", ""), "INI");
    EXPECT_EQ(t.languageFor("site.conf", ""), "INI");
    EXPECT_EQ(t.languageFor("ci.yml", ""), "YAML");
    EXPECT_EQ(t.languageFor("deploy", "#!/bin/sh\n"), "Shell");
    EXPECT_EQ(t.languageFor("deploy", "#!/usr/bin/env python3\n"), "Python");
    EXPECT_EQ(t.languageFor("notes", "just text"), "Plain text");
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
