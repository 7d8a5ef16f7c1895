#include "session/settings.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "base/ini_file.h"
#include "support/fake_pointer_devices.h"
#include "support/temp_folder.h"

namespace qvm {
namespace {

using test::FakePointerDesktop;
using test::TempFolder;
using Calls = std::vector<std::string>;

struct StartupAccelCase {
    const char* label;
    const char* file;
    int disableAcc;
    Calls expected;
};

class LoadAppliesAccelerationTest : public testing::TestWithParam<StartupAccelCase> {};

TEST_P(LoadAppliesAccelerationTest, OnlyAnOptionSetToOneFlattensTheQvmMouse) {
    TempFolder dir;
    const std::string path = dir.Write("set.ini", std::string(GetParam().file));
    FakePointerDesktop desktop;
    desktop.devices = {test::LibinputPointer(11, "QVM mouse", 0x0C45),
                       test::LibinputPointer(12, "Other mouse", 0x046D)};
    {
        PointerAcceleration pointer(desktop.Connect());
        const LoadedSettings loaded = LoadSettings(path, pointer);
        EXPECT_EQ(loaded.settings.disableAcc, GetParam().disableAcc);
        EXPECT_EQ(loaded.warning, "");
        EXPECT_EQ(desktop.calls, GetParam().expected);
    }
    // Gone with the program: the mouse has its own profile back.
    EXPECT_EQ(desktop.Device(11).profile, (std::vector<std::uint8_t>{1, 0}));
}

INSTANTIATE_TEST_SUITE_P(
    Table, LoadAppliesAccelerationTest,
    testing::Values(StartupAccelCase{"off", "[QZW]\ndisable_acc=0\n", 0, {}},
                    StartupAccelCase{"on", "[QZW]\ndisable_acc=1\n", 1, {"set 11 0,1"}},
                    // Not "held off": nothing to do.
                    StartupAccelCase{"other_value", "[QZW]\ndisable_acc=2\n", 2, {}}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(SettingsFileTest, UnreadableFileIsNotOverwritten) {
    TempFolder dir;
    std::filesystem::create_directory(dir.File("set.ini"));
    EXPECT_FALSE(SaveSettings(dir.File("set.ini"), UserSettings{}));
    EXPECT_FALSE(WriteLanguageSetting(dir.File("set.ini"), "1031"));
    EXPECT_TRUE(std::filesystem::is_directory(dir.File("set.ini")));
}

TEST(SettingsFileTest, AUserFolderNotMadeYetIsMadeForTheFirstSetting) {
    TempFolder dir;
    const std::string path = dir.File("new/folder/set.ini");
    const std::vector<AppSlot> slots = {{"/usr/bin/game", "Game"}};
    ASSERT_TRUE(SaveAppSlots(path, slots));
    EXPECT_EQ(ReadSettings(path).settings.apps[0], slots[0]);
}

// The service must never listen by surprise: only a stored 1 or the switch turns it on,
// and saving the other options keeps the user's choice.
TEST(SettingsFileTest, TheNetworkServiceRunsOnlyWhenStoredAsOneOrAskedForOnTheCommandLine) {
    const struct {
        const char* file;
        bool remoteSwitch;
        int stored;
        bool wanted;
    } cases[] = {
        {"", false, 0, false},                   // no file: off
        {"[QZW]\nosd=0\n", false, 0, false},     // key absent: off
        {"[QZW]\nremote=1\n", false, 1, true},   // turned on in the options
        {"[QZW]\nremote=0\n", true, 0, true},    // "--remote" alone
        {"[QZW]\nremote=2\n", false, 2, false},  // out of range: not taken as on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        TempFolder dir;
        const std::string path = dir.Write("set.ini", c.file);
        const UserSettings read = ReadSettings(path).settings;
        EXPECT_EQ(read.remote, c.stored);
        EXPECT_EQ(RemoteServiceWanted(read, c.remoteSwitch), c.wanted);
    }
    TempFolder dir;
    const std::string path = dir.Write("set.ini", "[QZW]\nremote=1\npin=417\n");
    UserSettings changed = ReadSettings(path).settings;
    changed.osd = 0;
    ASSERT_TRUE(SaveSettings(path, changed));
    EXPECT_EQ(ReadSettings(path).settings.remote, 1);
    EXPECT_EQ(ReadStartupSettings(path).pin, 417);
    changed.remote = 0;
    ASSERT_TRUE(SaveSettings(path, changed));
    EXPECT_FALSE(RemoteServiceWanted(ReadSettings(path).settings, false));
}

}  // namespace
}  // namespace qvm
