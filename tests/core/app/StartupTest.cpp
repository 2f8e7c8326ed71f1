#include "core/app/AppRegistry.h"
#include "core/app/Commands.h"
#include "core/app/ExtensionTable.h"
#include "core/app/MainFormSettings.h"
#include "core/app/ProgramFolder.h"
#include "support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace morvane::app;
using morvane::platform::Hive;
using morvane::platform::Registry;
using morvane::platform::RegKey;
using morvane::platform::RegValue;
using morvane::testing::readFile;
using morvane::testing::TempDir;
using morvane::testing::writeFile;
using ::testing::ElementsAre;

namespace {

const Hive HKCU = Hive::CurrentUser;
const Hive HKLM = Hive::LocalMachine;

TEST(SingleInstanceSetting, OnUnlessExactlyFalse) {
    TempDir dir;
    Registry reg(dir.path());
    EXPECT_TRUE(singleInstanceEnabled(reg)); // no Settings key at all
    reg.writeValue(HKCU, kSettingsKey, "One instance only", RegValue::string("false"));
    EXPECT_TRUE(singleInstanceEnabled(reg));
    reg.writeValue(HKCU, kSettingsKey, "One instance only", RegValue::dword(0));
    EXPECT_TRUE(singleInstanceEnabled(reg));
    reg.writeValue(HKCU, kSettingsKey, "One instance only", RegValue::string("False"));
    EXPECT_FALSE(singleInstanceEnabled(reg));
}

TEST(FirstRun, WritesShowToolbarAndTheMarkerOnceOnly) {
    TempDir dir;
    Registry reg(dir.path());
    EXPECT_EQ(performFirstRun(reg), FirstRunResult::Done);
    EXPECT_TRUE(reg.keyExists(HKLM, kMachineRoot));
    EXPECT_EQ(RegKey(reg, HKCU, kSettingsKey).readString("Show toolbar"), "True");
    reg.writeValue(HKCU, kSettingsKey, "Show toolbar", RegValue::string("changed"));
    EXPECT_EQ(performFirstRun(reg), FirstRunResult::NotFirstRun);
    EXPECT_EQ(RegKey(reg, HKCU, kSettingsKey).readString("Show toolbar"), "changed");
}

TEST(FirstRun, MigratesVersion20KeysForUserAndMachine) {
    TempDir dir;
    Registry reg(dir.path());
    reg.writeValue(HKCU, std::string(kVersion20Root) + "\\Settings", "Wordwrap",
                   RegValue::string("True"));
    reg.writeValue(HKCU, std::string(kVersion20Root) + "\\Accounts\\site", "Host",
                   RegValue::string("h"));
    reg.writeValue(HKLM, std::string(kVersion20Root) + "\\Install", "x", RegValue::string("1"));
    reg.writeValue(HKCU, std::string(kVersion10Root) + "\\Settings", "Old", RegValue::string("1"));
    ASSERT_EQ(performFirstRun(reg), FirstRunResult::Done);
    RegKey settings(reg, HKCU, kSettingsKey);
    EXPECT_EQ(settings.readString("Wordwrap"), "True");
    EXPECT_EQ(settings.readString("Show toolbar"), "True");
    EXPECT_EQ(settings.readString("Old"), ""); // only the newest old version moves
    EXPECT_FALSE(reg.keyExists(HKCU, kVersion20Root));
    EXPECT_TRUE(reg.keyExists(HKCU, kVersion10Root));
    EXPECT_TRUE(reg.keyExists(HKCU, std::string(kAccountsKey) + "\\site"));
    EXPECT_EQ(reg.readValue(HKLM, std::string(kMachineRoot) + "\\Install", "x")->data, "1");
    EXPECT_FALSE(reg.keyExists(HKLM, kVersion20Root));
}

TEST(FirstRun, MigratesVersion10WhenThereIsNo20) {
    TempDir dir;
    Registry reg(dir.path());
    reg.writeValue(HKCU, std::string(kVersion10Root) + "\\Recent", "0", RegValue::string("a.txt"));
    ASSERT_EQ(performFirstRun(reg), FirstRunResult::Done);
    EXPECT_EQ(reg.readValue(HKCU, std::string(kPerUserRoot) + "\\Recent", "0")->data, "a.txt");
    EXPECT_FALSE(reg.keyExists(HKCU, kVersion10Root));
}

TEST(FirstRun, NeverMovesOverAnExistingCurrentKey) {
    TempDir dir;
    Registry reg(dir.path());
    reg.writeValue(HKCU, kSettingsKey, "Mine", RegValue::string("kept"));
    reg.writeValue(HKCU, std::string(kVersion20Root) + "\\Settings", "Mine",
                   RegValue::string("old"));
    ASSERT_EQ(performFirstRun(reg), FirstRunResult::Done);
    EXPECT_EQ(RegKey(reg, HKCU, kSettingsKey).readString("Mine"), "kept");
    EXPECT_TRUE(reg.keyExists(HKCU, kVersion20Root)); // left where it was
}

TEST(FirstRun, AStoreThatCannotBeWrittenIsReported) {
    TempDir dir;
    writeFile(dir / "blocker", "a file where the settings folder should be");
    Registry reg(dir / "blocker" / "cfg");
    EXPECT_EQ(performFirstRun(reg), FirstRunResult::CouldNotWrite);
}

TEST(DefaultWeblinks, AreTheHtmlAndPerlLookups) {
    TempDir dir;
    Registry reg(dir.path());
    ASSERT_TRUE(installDefaultWeblinks(reg, "/home/u/.local/share/morvane"));
    std::string k0 = std::string(kWeblinksKey) + "\\0", k1 = std::string(kWeblinksKey) + "\\1";
    EXPECT_EQ(reg.readValue(HKCU, k0, "")->data, "HTML on-line help");
    EXPECT_EQ(reg.readValue(HKCU, k0, "Data")->data,
              "/home/u/.local/share/morvane/Weblinks/HTML weblinks.txt");
    EXPECT_EQ(reg.readValue(HKCU, k0, "Kind")->asDword(), 1u);
    EXPECT_EQ(reg.readValue(HKCU, k0, "Languages")->data, "HTML\r\n");
    EXPECT_EQ(reg.readValue(HKCU, k0, "Shortcut")->asDword(), 112u);
    EXPECT_EQ(reg.readValue(HKCU, k1, "")->data, "Perl on-line help");
    EXPECT_EQ(reg.readValue(HKCU, k1, "Languages")->data, "Perl\r\n");
    EXPECT_EQ(reg.readValue(HKCU, k1, "Shortcut")->asDword(), 113u);
}

TEST(ProgramFolder, IsSeededWithWhatItLacksAndKeepsTheUsersFiles) {
    TempDir dir;
    writeFile(dir / "res-marker", "");
    std::filesystem::create_directories(dir / "res" / "data" / "Weblinks");
    writeFile(dir / "res" / "data" / "filetypes.txt", ".html\tHTML\n");
    writeFile(dir / "res" / "data" / "Weblinks" / "HTML weblinks.txt", "[1]\n");
    std::filesystem::create_directories(dir / "home");
    writeFile(dir / "home" / "filetypes.txt", "# mine\n.x\tPerl\n");
    EXPECT_EQ(seedProgramFolder(dir / "home", dir / "res"), "");
    EXPECT_EQ(readFile(dir / "home" / "filetypes.txt"), "# mine\n.x\tPerl\n");
    EXPECT_EQ(readFile(dir / "home" / "Weblinks" / "HTML weblinks.txt"), "[1]\n");
    EXPECT_THAT(seedProgramFolder(dir / "home", dir / "nowhere"), ::testing::HasSubstr("missing"));
}

TEST(ProgramFolder, TheShippedFileTypesUseTheBuiltInLanguageNames) {
    std::string text =
        readFile(std::filesystem::path(MORVANE_SOURCE_RESOURCES) / "data" / "filetypes.txt");
    for (const char* line :
         {"\n.html\tHTML\n", "\n.js\tJavaScript\n", "\n.cpp\tC++\n", "\n.pl\tPerl\n",
          "\n.sql\tSQL\n", "\n.txt\tPlain text\n", "\n.\tPlain text\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line;
}

TEST(WindowSettings, GeometryIsSavedOnlyForANormalWindow) {
    TempDir dir;
    Registry reg(dir.path());
    MainFormSettings s(RegKey(reg, HKCU, kSettingsKey));
    s.saveGeometry({WindowPlacement::Normal, 10, 20, 300, 200});
    EXPECT_EQ(s.read("Window state"), "Normal");
    EXPECT_EQ(s.read("Left"), "10");
    EXPECT_EQ(s.read("Height"), "200");
    s.saveGeometry({WindowPlacement::Maximized, 1, 2, 3, 4});
    EXPECT_EQ(s.read("Window state"), "Maximized");
    EXPECT_EQ(s.read("Left"), "10");
    s.saveGeometry({WindowPlacement::Minimized, 1, 2, 3, 4});
    EXPECT_EQ(s.read("Window state"), "Normal");
    EXPECT_EQ(s.read("Width"), "300");
}

TEST(WindowSettings, RestoreAppliesEachPresentValueAndStopsAtTheFirstBadOne) {
    TempDir dir;
    Registry reg(dir.path());
    MainFormSettings s(RegKey(reg, HKCU, kSettingsKey));
    s.write("Left", "15");
    s.write("Top", "");
    s.write("Height", "12x");
    s.write("Width", "400");
    auto g = s.geometryToRestore();
    EXPECT_EQ(g.left, 15);
    EXPECT_FALSE(g.top);
    EXPECT_FALSE(g.height);
    EXPECT_FALSE(g.width);
    EXPECT_EQ(g.error, "'12x' is not a valid integer value");
    s.write("Window state", "Maximized");
    EXPECT_TRUE(s.geometryToRestore().maximize);
}

TEST(WindowSettings, ARestoredWindowIsKeptWithinReachOfAScreen) {
    const ScreenRect left{0, 0, 1920, 1080}, right{1920, 0, 1280, 1024};
    // On either screen, or half off one with its top edge showing: where it was.
    for (ScreenRect w : {ScreenRect{100, 50, 600, 400}, ScreenRect{2500, 300, 600, 400},
                         ScreenRect{1700, 900, 600, 400}, ScreenRect{-500, 10, 600, 400}})
        EXPECT_EQ(keepOnScreen(w, {left, right}), w);
    // The right-hand screen has gone: back onto the remaining one, at its nearest edge.
    EXPECT_EQ(keepOnScreen({2500, 300, 600, 400}, {left}), (ScreenRect{1320, 300, 600, 400}));
    // Its title bar above every screen, or only a sliver of it showing.
    EXPECT_EQ(keepOnScreen({100, -200, 600, 400}, {left}), (ScreenRect{100, 0, 600, 400}));
    EXPECT_EQ(keepOnScreen({-590, 100, 600, 400}, {left}), (ScreenRect{0, 100, 600, 400}));
    EXPECT_EQ(keepOnScreen({100, 1070, 600, 400}, {left}), (ScreenRect{100, 680, 600, 400}));
    // Larger than the screen left: shrunk to it.
    EXPECT_EQ(keepOnScreen({5000, 5000, 4000, 3000}, {left}), left);
    EXPECT_EQ(keepOnScreen({5000, 5000, 600, 400}, {}), (ScreenRect{5000, 5000, 600, 400}));
}

// Without a stored size the window takes a good share of the screen, and the toolbar row
// fits when the screen allows.
TEST(WindowSettings, TheFirstWindowTakesAShareOfTheScreenAndFitsItsToolbars) {
    EXPECT_EQ(firstWindowPlace({0, 0, 1400, 950}, 700), (ScreenRect{175, 119, 1050, 712}));
    // A wide toolbar row on a narrow screen: as wide as the row.
    EXPECT_EQ(firstWindowPlace({0, 0, 1024, 768}, 900), (ScreenRect{62, 96, 900, 576}));
    // The row is wider than the screen, and the screen is smaller than the least size.
    EXPECT_EQ(firstWindowPlace({0, 0, 800, 400}, 1200), (ScreenRect{0, 0, 800, 400}));
    // A second screen's origin, and an empty screen never yields an empty window.
    EXPECT_EQ(firstWindowPlace({1920, 40, 1920, 1040}, 0), (ScreenRect{2160, 170, 1440, 780}));
    EXPECT_EQ(firstWindowPlace({0, 0, 0, 0}, 500), (ScreenRect{0, 0, 1, 1}));
}

TEST(WindowSettings, ToolbarValuesUseTheirOwnNames) {
    TempDir dir;
    Registry reg(dir.path());
    MainFormSettings s(RegKey(reg, HKCU, kSettingsKey));
    EXPECT_TRUE(s.toolbar("HTML").visible); // absent means shown
    s.saveToolbar("HTML", {false, true, 40, 50});
    EXPECT_EQ(s.read("Show HTML toolbar"), "False");
    EXPECT_EQ(s.read("HTML Toolbar float"), "True");
    EXPECT_EQ(s.read("HTML Toolbar left"), "40");
    s.saveToolbar("Main", {true, false, 0, 0});
    EXPECT_EQ(s.read("Show main toolbar"), "True");
    auto t = s.toolbar("HTML");
    EXPECT_FALSE(t.visible);
    EXPECT_TRUE(t.floating);
    EXPECT_EQ(t.top, 50);
}

TEST(Conversions, IntegersAndTheAboutVersion) {
    EXPECT_EQ(parseInteger("  -42"), -42);
    EXPECT_EQ(parseInteger("2147483647"), 2147483647);
    EXPECT_FALSE(parseInteger("2147483648"));
    EXPECT_FALSE(parseInteger(""));
    EXPECT_FALSE(parseInteger("-"));
    EXPECT_FALSE(parseInteger("1 "));
    EXPECT_EQ(aboutVersionLabel("2.2.1.155"), "Version 2.21 build 155");
    EXPECT_EQ(aboutVersionLabel(""), "Cannot determine version");
}

TEST(Commands, KeysAndCaptionsOfTheCommandSet) {
    EXPECT_EQ(findCommand("EditRedo")->key, "Ctrl+Shift+Z");
    EXPECT_EQ(findCommand("EditIndent")->key, "Ctrl+]");
    EXPECT_EQ(findCommand("FileOpenLocalFile")->caption, "Open &Local File...");
    EXPECT_EQ(findCommand("SearchFindNext")->hint, "Find next occurence of search string");
    for (auto name : documentCommands())
        EXPECT_NE(findCommand(name), nullptr) << name;
}

} // namespace

namespace {

TEST(ProgramFolder, EachFileIsSeededOnceSoADeletedOneStaysDeleted) {
    using morvane::testing::readFile;
    using morvane::testing::TempDir;
    using morvane::testing::writeFile;
    TempDir dir;
    std::filesystem::create_directories(dir / "res" / "data" / "Weblinks");
    writeFile(dir / "res" / "data" / "filetypes.txt", ".html\tHTML\n");
    writeFile(dir / "res" / "data" / "Weblinks" / "HTML weblinks.txt", "[1]\n");
    ASSERT_EQ(morvane::app::seedProgramFolder(dir / "home", dir / "res"), "");
    std::filesystem::remove(dir / "home" / "Weblinks" / "HTML weblinks.txt");
    ASSERT_EQ(morvane::app::seedProgramFolder(dir / "home", dir / "res"), "");
    EXPECT_FALSE(std::filesystem::exists(dir / "home" / "Weblinks" / "HTML weblinks.txt"));
    // A file new in a later version still arrives, once.
    writeFile(dir / "res" / "data" / "Perl.stx", "script\n");
    ASSERT_EQ(morvane::app::seedProgramFolder(dir / "home", dir / "res"), "");
    EXPECT_EQ(readFile(dir / "home" / "Perl.stx"), "script\n");
}

// A later version's file types reach a user who never changed the first ones; a changed copy
// or a link stays the user's.
TEST(ProgramFolder, AnUntouchedEarlierDefaultIsBroughtUpToDate) {
    using morvane::app::fnv1a64;
    using morvane::app::seedProgramFolder;
    using morvane::app::SupersededFile;
    using morvane::testing::readFile;
    using morvane::testing::TempDir;
    using morvane::testing::writeFile;
    EXPECT_EQ(fnv1a64(""), 0xcbf29ce484222325ULL);
    EXPECT_EQ(fnv1a64("a"), 0xaf63dc4c8601ec8cULL);
    TempDir dir;
    std::filesystem::create_directories(dir / "res" / "data");
    const std::string first = ".css\tPlain text\n";
    writeFile(dir / "res" / "data" / "filetypes.txt", first);
    const SupersededFile table[] = {{"filetypes.txt", fnv1a64(first)}};
    for (const char* home : {"untouched", "edited", "linked"})
        ASSERT_EQ(seedProgramFolder(dir / home, dir / "res", table), "");
    writeFile(dir / "edited" / "filetypes.txt", first + ".x\tPerl\n");
    writeFile(dir / "mine.txt", first);
    std::filesystem::remove(dir / "linked" / "filetypes.txt");
    std::filesystem::create_symlink(dir / "mine.txt", dir / "linked" / "filetypes.txt");

    writeFile(dir / "res" / "data" / "filetypes.txt", ".css\tCSS\n");
    for (const char* home : {"untouched", "edited", "linked"})
        ASSERT_EQ(seedProgramFolder(dir / home, dir / "res", table), "");
    EXPECT_EQ(readFile(dir / "untouched" / "filetypes.txt"), ".css\tCSS\n");
    EXPECT_EQ(readFile(dir / "edited" / "filetypes.txt"), first + ".x\tPerl\n");
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "linked" / "filetypes.txt"));
    EXPECT_EQ(readFile(dir / "mine.txt"), first);
    // The shipped file is not itself listed as superseded.
    std::string shipped =
        readFile(std::filesystem::path(MORVANE_SOURCE_RESOURCES) / "data" / "filetypes.txt");
    for (const SupersededFile& old : morvane::app::supersededFiles())
        EXPECT_NE(fnv1a64(shipped), old.fnv1a);
}

TEST(ExtensionTableFile, IsWrittenThroughASymbolicLink) {
    using morvane::testing::readFile;
    using morvane::testing::TempDir;
    using morvane::testing::writeFile;
    TempDir dir;
    writeFile(dir / "real.txt", ".html\tHTML\n");
    std::filesystem::create_symlink("real.txt", dir / "filetypes.txt");
    morvane::app::ExtensionTable table;
    table.load(dir / "filetypes.txt");
    table.associate(".pl", "Perl");
    EXPECT_EQ(table.save(dir / "filetypes.txt"), "");
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "filetypes.txt"));
    EXPECT_THAT(readFile(dir / "real.txt"), ::testing::HasSubstr(".pl\tPerl"));
}

} // namespace
