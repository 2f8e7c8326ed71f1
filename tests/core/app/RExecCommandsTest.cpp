#include "core/app/RExecCommands.h"
#include "core/platform/Registry.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

using namespace morvane::app;
using morvane::platform::Hive;
using morvane::platform::Registry;
using morvane::platform::RegValue;
using morvane::testing::TempDir;

namespace {

TEST(RExecCommandStore, RoundTripKeepsTheLayoutAndTheAccountOnlyForTypeOne) {
    TempDir dir;
    Registry reg(dir.path());
    TRExecCommand build{"Build", "make -C %d", false, "Ctrl+Shift+B", "web", raAccount};
    TRExecCommand list{"List", "ls -l %d", true, "(None)", "stale", raSelectOne};
    ASSERT_TRUE(saveRExecCommands(reg, {build, list, TRExecCommand{}}));

    const std::string key0 = std::string(kRExecCommandsKey) + "\\0";
    EXPECT_EQ(reg.readValue(Hive::CurrentUser, key0, "")->data, "Build");
    EXPECT_EQ(reg.readValue(Hive::CurrentUser, key0, "Clear output")->asDword(), 0u);
    EXPECT_EQ(reg.readValue(Hive::CurrentUser, key0, "Account")->data, "web");
    // An account name is written for type 1 only.
    EXPECT_FALSE(
        reg.readValue(Hive::CurrentUser, std::string(kRExecCommandsKey) + "\\1", "Account"));

    auto back = loadRExecCommands(reg);
    ASSERT_EQ(back.size(), 3u);
    EXPECT_EQ(back[0], build);
    list.Account.clear();
    EXPECT_EQ(back[1], list);
    EXPECT_EQ(back[2], TRExecCommand{});

    // Fewer commands replace the key: no old entry stays behind.
    ASSERT_TRUE(saveRExecCommands(reg, {list}));
    EXPECT_EQ(loadRExecCommands(reg).size(), 1u);
}

TEST(RExecCommandStore, ValuesOfOtherShapesReadAsDefaults) {
    TempDir dir;
    Registry reg(dir.path());
    const std::string key = std::string(kRExecCommandsKey) + "\\0";
    ASSERT_TRUE(reg.writeValues(Hive::CurrentUser, key,
                                {{"", RegValue::string("Odd")},
                                 {"Clear output", RegValue::dword(2)}, // true only for 1
                                 {"AccountType", RegValue::dword(7)},
                                 {"Account", RegValue::string("ignored")}}));
    auto c = loadRExecCommand(reg, 0);
    ASSERT_TRUE(c);
    EXPECT_FALSE(c->ClearOutput);
    EXPECT_EQ(c->AccountType, raOpenFile);
    EXPECT_EQ(c->Account, "");
    EXPECT_EQ(c->Shortcut, "(None)");
    EXPECT_FALSE(loadRExecCommand(reg, 1));
}

TEST(RExecPlaceholders, AreFoundAndReplacedWithoutRegardToCase) {
    EXPECT_TRUE(usesFiles("wc -l %N"));
    EXPECT_TRUE(usesFiles("cat %f"));
    EXPECT_FALSE(usesFiles("ls %d"));
    EXPECT_TRUE(usesDirectory("ls %D"));
    EXPECT_FALSE(usesDirectory("uptime"));

    EXPECT_EQ(expandPlaceholders("ls -l %d", "/home/u/www/", ""), "ls -l /home/u/www/");
    EXPECT_EQ(expandPlaceholders("cp %F %N.bak; ls %D", "/w/", "page.old.html"),
              "cp /w/page.old.html /w/page.old.bak; ls /w/");
    // No extension: %n and %f give the same text; a leading dot is no extension.
    EXPECT_EQ(expandPlaceholders("%n|%f", "/w/", "Makefile"), "/w/Makefile|/w/Makefile");
    EXPECT_EQ(expandPlaceholders("%n", "/w/", ".profile"), "/w/.profile");
    // Unknown and trailing percent signs stay.
    EXPECT_EQ(expandPlaceholders("date +%s 100%", "/", ""), "date +%s 100%");
}

TEST(RExecPlaceholders, InsertedTextIsNotExpandedAgain) {
    EXPECT_EQ(expandPlaceholders("ls %d", "/tmp/%f/", "x"), "ls /tmp/%f/");
    EXPECT_EQ(expandPlaceholders("cat %f", "/d/", "%d%n"), "cat /d/%d%n");
}

TEST(RExecPlaceholders, NamesWithShellCharactersStayOneWordWhereverTheyStand) {
    const std::string dir = "/srv/my site/";
    const std::string name = "it's $HOME \"x\".txt";
    EXPECT_EQ(expandPlaceholders("cat %f", dir, name),
              "cat '/srv/my site/it'\\''s $HOME \"x\".txt'");
    EXPECT_EQ(expandPlaceholders("cat \"%f\"", dir, name),
              "cat \"/srv/my site/it's \\$HOME \\\"x\\\".txt\"");
    EXPECT_EQ(expandPlaceholders("cat '%f'", dir, name),
              "cat '/srv/my site/it'\\''s $HOME \"x\".txt'");
    // An escaped quote opens nothing.
    EXPECT_EQ(expandPlaceholders("echo \\' %d", dir, ""), "echo \\' '/srv/my site/'");
    EXPECT_EQ(expandPlaceholders("ls %d", "", ""), "ls ");
}

} // namespace
