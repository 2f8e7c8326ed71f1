#include "core/app/AppOptions.h"
#include "core/app/AppRegistry.h"
#include "core/app/RecentFiles.h"
#include "core/app/UpdateCheck.h"
#include "core/net/ConnectionPool.h"
#include "core/platform/EventLoop.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

using namespace morvane::app;
using namespace morvane::platform;
using morvane::testing::TempDir;

namespace {

class AppOptionsTest : public ::testing::Test {
protected:
    RegKey settings() { return RegKey(registry, Hive::CurrentUser, kSettingsKey); }
    TempDir dir;
    Registry registry{dir.path()};
};

TEST_F(AppOptionsTest, AbsentValuesReadAsTheDefaultsAndStoredOnesAsTheyAre) {
    EXPECT_EQ(readAppOptions(registry), AppOptions{});
    settings().writeString("Restore window settings", "no"); // only "False" turns it off
    settings().writeString("One instance only", "False");
    settings().writeString("No default account", "1");
    settings().writeString("NumRecent", "12");
    settings().writeString("Firewall address", "fw.example.org");
    settings().writeString("Firewall port", "2121");
    settings().writeString(kCheckForUpdates, "False");
    AppOptions o = readAppOptions(registry);
    EXPECT_TRUE(o.restoreWindowSettings);
    EXPECT_FALSE(o.oneInstanceOnly);
    EXPECT_TRUE(o.noDefaultAccount);
    EXPECT_EQ(o.numRecent, "12");
    EXPECT_EQ(o.firewallAddress, "fw.example.org");
    EXPECT_EQ(o.firewallPort, "2121");
    EXPECT_FALSE(o.checkForUpdates);
    settings().writeDword("NumRecent", 7);
    EXPECT_EQ(readAppOptions(registry).numRecent, "7");
}

TEST_F(AppOptionsTest, EachInvalidFieldIsNamedWithItsMessage) {
    struct Case {
        std::string numRecent, address, port;
        std::optional<OptionsField> field;
        std::string message;
    };
    const std::string recentError = "The number of recent files must be a number from 0 to 36.";
    const std::string bothError = "Must enter both an address and a port for the firewall.";
    const std::string portError =
        "Please enter an integer value from 1 to 65535 for the firewall port.";
    const Case cases[] = {
        {"0", "", "", std::nullopt, ""},
        {"36", "", "", std::nullopt, ""},
        {" 4 ", "fw", "1", std::nullopt, ""},
        {"4", "fw", "65535", std::nullopt, ""},
        {"", "", "", OptionsField::NumRecent, recentError},
        {"37", "", "", OptionsField::NumRecent, recentError},
        {"99999999999", "", "", OptionsField::NumRecent, recentError},
        {"-1", "", "", OptionsField::NumRecent, recentError},
        {"4a", "", "", OptionsField::NumRecent, recentError},
        {"4", "fw", "", OptionsField::FirewallPort, bothError},
        {"4", "", "21", OptionsField::FirewallAddress, bothError},
        {"4", "fw", "0", OptionsField::FirewallPort, portError},
        {"4", "fw", "65536", OptionsField::FirewallPort, portError},
        {"4", "fw", "21x", OptionsField::FirewallPort, portError},
        {"4", "fw host", "21", OptionsField::FirewallAddress,
         "The firewall address must not contain blanks or control characters."},
        {"4", "fw\r\nUSER x", "21", OptionsField::FirewallAddress,
         "The firewall address must not contain blanks or control characters."},
    };
    for (const Case& c : cases) {
        AppOptions o;
        o.numRecent = c.numRecent;
        o.firewallAddress = c.address;
        o.firewallPort = c.port;
        auto error = validateAppOptions(o);
        SCOPED_TRACE(c.numRecent + "|" + c.address + "|" + c.port);
        ASSERT_EQ(error.has_value(), c.field.has_value());
        if (!error) continue;
        EXPECT_EQ(error->field, *c.field);
        EXPECT_EQ(error->message, c.message);
    }
}

// The old order wrote the flags and the number before it looked at the firewall: an invalid
// port left half the options changed.
TEST_F(AppOptionsTest, AnInvalidFieldWritesNothingAndAValidSetIsWrittenWhole) {
    settings().writeString("Firewall address", "old.example.org");
    AppOptions o;
    o.restoreWindowSettings = false;
    o.numRecent = "9";
    o.firewallAddress = "new.example.org";
    o.firewallPort = "not a port";
    ASSERT_TRUE(writeAppOptions(registry, o).has_value());
    EXPECT_FALSE(settings().valueExists("Restore window settings"));
    EXPECT_FALSE(settings().valueExists("NumRecent"));
    EXPECT_EQ(settings().readString("Firewall address"), "old.example.org");

    o.firewallPort = " 2121 ";
    o.noDefaultAccount = true;
    o.checkForUpdates = false;
    ASSERT_FALSE(writeAppOptions(registry, o).has_value());
    EXPECT_EQ(settings().readString("Restore window settings"), "False");
    EXPECT_EQ(settings().readString("One instance only"), "True");
    EXPECT_EQ(settings().readDword("NumRecent"), 9u);
    EXPECT_EQ(settings().readString("Firewall address"), "new.example.org");
    EXPECT_EQ(settings().readString("Firewall port"), "2121");
    EXPECT_EQ(settings().readString("No default account"), "1");
    EXPECT_EQ(settings().readString(kCheckForUpdates), "False");
    EXPECT_EQ(TRecentFiles(registry).Count(), 9);
    EXPECT_EQ(readAppOptions(registry),
              (AppOptions{false, "9", true, true, "new.example.org", "2121", false}));

    // Both firewall fields emptied: both stored empty.
    o.firewallAddress.clear();
    o.firewallPort.clear();
    ASSERT_FALSE(writeAppOptions(registry, o).has_value());
    EXPECT_TRUE(settings().valueExists("Firewall port"));
    EXPECT_EQ(settings().readString("Firewall port"), "");
}

// The pool reads the stored interval; a bad one keeps the dialog open and writes nothing.
TEST_F(AppOptionsTest, TheKeepAliveIntervalIsCheckedAndStoredAsThePoolReadsIt) {
    EXPECT_EQ(readAppOptions(registry).keepAlive, "60");
    AppOptions o;
    for (const char* bad : {"", "3601", "99999", "1a"}) {
        o.keepAlive = bad;
        auto error = writeAppOptions(registry, o);
        ASSERT_TRUE(error.has_value()) << bad;
        EXPECT_EQ(error->field, OptionsField::KeepAlive);
        EXPECT_FALSE(settings().valueExists(kKeepAliveInterval));
    }
    o.keepAlive = " 0 ";
    ASSERT_FALSE(writeAppOptions(registry, o).has_value());
    EXPECT_EQ(settings().readString(kKeepAliveInterval), "0");
    EXPECT_EQ(morvane::net::KeepAliveFromText(settings().readString(kKeepAliveInterval)),
              std::chrono::milliseconds(0));
    o.keepAlive = "0090";
    ASSERT_FALSE(writeAppOptions(registry, o).has_value());
    EXPECT_EQ(readAppOptions(registry).keepAlive, "90");
    EXPECT_EQ(morvane::net::KeepAliveFromText(settings().readString(kKeepAliveInterval)),
              std::chrono::seconds(90));
}

TEST_F(AppOptionsTest, TheUpdateBoxTurnsTheDailyCheckOffAndOn) {
    auto loop = makePollEventLoop();
    TUpdateCheck check(*loop, settings(), "2.21");
    check.today = [] { return std::string("2026-12-10"); };
    AppOptions o;
    o.checkForUpdates = false;
    ASSERT_FALSE(writeAppOptions(registry, o).has_value());
    EXPECT_FALSE(check.due());
    o.checkForUpdates = true;
    ASSERT_FALSE(writeAppOptions(registry, o).has_value());
    EXPECT_TRUE(check.due());
}

TEST(AppOptions, DigitsOnlyKeepsTheDigitsOfPastedText) {
    EXPECT_EQ(digitsOnly("2 1\t2a1\n"), "2121");
    EXPECT_EQ(digitsOnly("abc"), "");
    EXPECT_EQ(digitsOnly("\xef\xbc\x91"), ""); // a full-width digit is not a digit here
}

} // namespace
