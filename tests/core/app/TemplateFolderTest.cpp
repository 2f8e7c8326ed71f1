#include "core/app/TemplateFolder.h"
#include "core/app/ProgramFolder.h"
#include "support/AsUser.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace morvane::app;
using morvane::testing::TempDir;
using morvane::testing::writeFile;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> captions(const TTemplateGroup& g) {
    std::vector<std::string> out;
    for (const auto& item : g.items)
        out.push_back(item.caption);
    return out;
}

TEST(TemplateFolder, CaptionIsTheNameWithoutItsLastExtension) {
    EXPECT_EQ(templateCaption("page.html"), "page");
    EXPECT_EQ(templateCaption("archive.tar.gz"), "archive.tar");
    EXPECT_EQ(templateCaption("Makefile"), "Makefile");
    EXPECT_EQ(templateCaption("trailing."), "trailing");
    EXPECT_EQ(templateCaption(".profile"), ".profile"); // no caption may be empty
    EXPECT_EQ(templateCaption("HTML5 page.html"), "HTML5 page");
}

TEST(TemplateFolder, GroupsAreSubfoldersAndOnlyTheirDirectFilesAreOffered) {
    TempDir dir;
    const fs::path t = dir / "Templates";
    fs::create_directories(t / "Web" / "deeper");
    fs::create_directories(t / "Scripts");
    fs::create_directories(t / "Empty");
    fs::create_directories(t / ".hidden");
    writeFile(t / "loose.txt", "not in a group");
    writeFile(t / "Web" / "page.html", "<p>");
    writeFile(t / "Web" / "Makefile", "all:");
    writeFile(t / "Web" / ".page.html.swp", "editor litter");
    writeFile(t / "Web" / "deeper" / "inner.html", "too deep");
    writeFile(t / "Scripts" / "run.sh", "#!/bin/sh");

    TTemplateListing l = listTemplates(dir.path());
    ASSERT_EQ(l.groups.size(), 3u);
    EXPECT_EQ(l.groups[0].name, "Empty");
    EXPECT_TRUE(l.groups[0].items.empty());
    EXPECT_EQ(l.groups[1].name, "Scripts");
    EXPECT_EQ(l.groups[2].name, "Web");
    EXPECT_EQ(captions(l.groups[2]), (std::vector<std::string>{"Makefile", "page"}));
    EXPECT_EQ(l.groups[2].items[1].path, t / "Web" / "page.html");
    EXPECT_FALSE(l.cutShort);

    TempDir none;
    EXPECT_TRUE(listTemplates(none.path()).groups.empty());
}

// A link back to the Templates folder, a link to itself and a dangling link: listed as what they
// point at or left out, never walked into.
TEST(TemplateFolder, FolderLoopsAndBrokenLinksEndTheListing) {
    TempDir dir;
    const fs::path t = dir / "Templates";
    fs::create_directories(t / "Web");
    writeFile(t / "Web" / "page.html", "<p>");
    fs::create_directory_symlink("..", t / "Web" / "up");
    fs::create_directory_symlink(t, t / "Loop");
    fs::create_symlink("self", t / "Web" / "self");
    fs::create_symlink("missing.html", t / "Web" / "gone.html");
    fs::create_symlink(t / "Web" / "page.html", t / "Web" / "linked.html");

    TTemplateListing l = listTemplates(dir.path());
    ASSERT_EQ(l.groups.size(), 2u);
    EXPECT_EQ(l.groups[0].name, "Loop");
    EXPECT_TRUE(l.groups[0].items.empty()); // its entries are the group folders
    EXPECT_EQ(captions(l.groups[1]), (std::vector<std::string>{"linked", "page"}));
}

TEST(TemplateFolder, AThousandFilesAreListedInOrderAndMoreThanTheLimitAreCutShort) {
    TempDir dir;
    fs::create_directories(dir / "Templates" / "Many");
    for (int i = 0; i < 1000; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "t%04d.txt", i);
        writeFile(dir / "Templates" / "Many" / name, "");
    }
    TTemplateListing l = listTemplates(dir.path());
    ASSERT_EQ(l.groups.size(), 1u);
    ASSERT_EQ(l.groups[0].items.size(), 1000u);
    EXPECT_EQ(l.groups[0].items.front().caption, "t0000");
    EXPECT_EQ(l.groups[0].items.back().caption, "t0999");
    EXPECT_FALSE(l.cutShort);

    fs::create_directories(dir / "Templates" / "More");
    for (std::size_t i = 0; i < kMaxTemplates - 999; ++i)
        writeFile(dir / "Templates" / "More" / ("m" + std::to_string(i)), "");
    l = listTemplates(dir.path());
    EXPECT_TRUE(l.cutShort);
    std::size_t shown = 0;
    for (const auto& g : l.groups)
        shown += g.items.size();
    EXPECT_EQ(shown, kMaxTemplates);
}

// A file nobody may read is still offered (opening it reports why it failed); a group folder
// that cannot be listed is an empty group.
TEST(TemplateFolder, UnreadableFilesAreListedAndUnreadableGroupsAreEmpty) {
    MORVANE_NEEDS_ROOT("needs a second user to lose read permission");
    TempDir dir;
    const fs::path t = dir / "Templates";
    fs::create_directories(t / "Open");
    fs::create_directories(t / "Closed");
    writeFile(t / "Open" / "secret.html", "<p>");
    writeFile(t / "Closed" / "hidden.html", "<p>");
    ::chmod((t / "Open" / "secret.html").c_str(), 0);
    ::chmod((t / "Closed").c_str(), 0);
    ::chmod(t.c_str(), 0755);
    ::chmod((t / "Open").c_str(), 0755);
    morvane::testing::giveToNobody(dir.path());
    const fs::path folder = dir.path();
    int code = morvane::testing::runAsNobody([&] {
        TTemplateListing l = listTemplates(folder);
        if (l.groups.size() != 2) return 1;
        if (l.groups[0].name != "Closed" || !l.groups[0].items.empty()) return 2;
        if (l.groups[1].items.size() != 1 || l.groups[1].items[0].caption != "secret") return 3;
        return 0;
    });
    EXPECT_EQ(code, 0);
}

TEST(TemplateFolder, TheShippedTemplatesReachANewProgramFolder) {
    TempDir dir;
    ASSERT_EQ(seedProgramFolder(dir.path(), MORVANE_SOURCE_RESOURCES), "");
    TTemplateListing l = listTemplates(dir.path());
    std::vector<std::string> all;
    for (const auto& g : l.groups)
        for (const auto& item : g.items)
            all.push_back(g.name + "/" + item.caption);
    EXPECT_EQ(all, (std::vector<std::string>{"Scripts/Perl CGI script", "Scripts/Shell script",
                                             "Web/HTML5 page", "Web/PHP page", "Web/Style sheet"}));
}

} // namespace
