#include "session/settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "base/ini_file.h"
#include "support/fake_pointer_devices.h"
#include "support/temp_folder.h"

namespace qvm {
namespace {

using test::FakePointerDesktop;
using test::ScopedEnv;
using test::TempFolder;
using Calls = std::vector<std::string>;

// A desktop whose only application entries are the ones a test writes.
class FakeDesktop {
  public:
    explicit FakeDesktop(const TempFolder& dir)
        : dir_(dir),
          dataHome_("XDG_DATA_HOME", dir.File("share")),
          dataDirs_("XDG_DATA_DIRS", dir.File("system")),
          lang_("LANG", "C"),
          lcAll_("LC_ALL", std::nullopt),
          lcMessages_("LC_MESSAGES", std::nullopt) {}

    void AddEntry(const std::string& id, const std::string& body) const {
        dir_.Write("share/applications/" + id, "[Desktop Entry]\nType=Application\n" + body);
    }

  private:
    const TempFolder& dir_;
    ScopedEnv dataHome_, dataDirs_, lang_, lcAll_, lcMessages_;
};

struct SlotCase {
    const char* label;
    std::string file;
    const char* desktopEntry;  // written as tool.desktop when set
    AppSlot expected;          // slot 2
};

class AppSlotTest : public testing::TestWithParam<SlotCase> {};

TEST_P(AppSlotTest, SlotTwoFollowsTheRules) {
    TempFolder dir;
    FakeDesktop desktop(dir);
    if (GetParam().desktopEntry) desktop.AddEntry("tool.desktop", GetParam().desktopEntry);
    const std::string path = dir.Write("set.ini", "[QZW]\ndisable_acc=0\n" + GetParam().file);
    FakePointerDesktop pointers;
    PointerAcceleration pointer(pointers.Connect());
    const LoadedSettings loaded = LoadSettings(path, pointer);
    EXPECT_EQ(loaded.settings.apps[2], GetParam().expected);
    for (std::size_t i = 0; i < kAppSlotCount; ++i) {
        if (i != 2) {
            EXPECT_EQ(loaded.settings.apps[i], AppSlot{}) << i;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, AppSlotTest,
    testing::Values(
        SlotCase{"absent", "", nullptr, {}},
        SlotCase{"present_but_empty_clears", "app2=\napp_name2=Old\n", nullptr, {}},
        SlotCase{"name_key_wins",
                 "app2=/opt/t/tool\napp_name2=Mine\n",
                 "Name=Entry\nExec=/opt/t/tool\n",
                 {"/opt/t/tool", "Mine"}},
        SlotCase{
            "empty_name_key_kept", "app2=/opt/t/tool\napp_name2=\n", nullptr, {"/opt/t/tool", ""}},
        SlotCase{"no_name_uses_desktop_entry",
                 "app2=/opt/t/tool\n",
                 "Name=Tool Deluxe\nExec=/opt/t/tool %U\n",
                 {"/opt/t/tool", "Tool Deluxe"}},
        SlotCase{"no_name_no_entry_uses_file_name",
                 "app2=/opt/t/tool\n",
                 nullptr,
                 {"/opt/t/tool", "tool"}},
        SlotCase{
            "slot_five_not_read", "app5=/opt/t/tool\napp2=/x/y.sh\n", nullptr, {"/x/y.sh", "y"}}),
    [](const auto& info) { return std::string(info.param.label); });

struct DisplayNameCase {
    const char* label;
    std::string executable;  // "@" is replaced by the temporary folder
    const char* desktopEntry;
    const char* lang;
    std::string expected;
};

class DisplayNameTest : public testing::TestWithParam<DisplayNameCase> {};

TEST_P(DisplayNameTest, FromDesktopEntryElseFileName) {
    TempFolder dir;
    FakeDesktop desktop(dir);
    dir.Write("bin/tool", std::string("#!/bin/sh\n"));
    ::chmod(dir.File("bin/tool").c_str(), 0755);
    std::filesystem::create_symlink(dir.File("bin/tool"), dir.File("bin/tool-link"));
    ScopedEnv path("PATH", dir.File("bin"));
    ScopedEnv lang("LANG", GetParam().lang ? GetParam().lang : "C");
    auto expand = [&](std::string s) {
        for (auto at = s.find('@'); at != std::string::npos; at = s.find('@')) {
            s.replace(at, 1, dir.path());
        }
        return s;
    };
    if (GetParam().desktopEntry)
        desktop.AddEntry("sub/tool.desktop", expand(GetParam().desktopEntry));
    EXPECT_EQ(GetAppDisplayName(expand(GetParam().executable)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DisplayNameTest,
    testing::Values(
        DisplayNameCase{"extension_stripped", "/opt/x/tool.bin", nullptr, nullptr, "tool"},
        DisplayNameCase{"dotted_folder", "/home/u/.local/bin/tool", nullptr, nullptr, "tool"},
        DisplayNameCase{"last_dot_only", "/opt/app.d/run.tar.sh", nullptr, nullptr, "run.tar"},
        DisplayNameCase{"hidden_file_kept", "/home/u/.profile", nullptr, nullptr, ".profile"},
        DisplayNameCase{"bare_name", "game", nullptr, nullptr, "game"},
        DisplayNameCase{"quoted_exec", "@/bin/tool", "Name=Quoted\nExec=\"@/bin/tool\" --x\n",
                        nullptr, "Quoted"},
        DisplayNameCase{"exec_resolved_on_path", "@/bin/tool", "Name=OnPath\nExec=tool %F\n",
                        nullptr, "OnPath"},
        DisplayNameCase{"symlink_same_file", "@/bin/tool", "Name=Linked\nExec=@/bin/tool-link\n",
                        nullptr, "Linked"},
        DisplayNameCase{"env_prefix", "@/bin/tool", "Name=Env\nExec=env A=1 B=2 tool\n", nullptr,
                        "Env"},
        DisplayNameCase{"localised", "@/bin/tool", "Name=Tool\nName[de]=Werkzeug\nExec=tool\n",
                        "de_DE.UTF-8", "Werkzeug"},
        DisplayNameCase{"other_program", "@/bin/tool", "Name=Other\nExec=/usr/bin/other\n", nullptr,
                        "tool"},
        DisplayNameCase{"hidden_entry_ignored", "@/bin/tool", "Name=Gone\nHidden=true\nExec=tool\n",
                        nullptr, "tool"}),
    [](const auto& info) { return std::string(info.param.label); });

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
    testing::Values(StartupAccelCase{"no_file_leaves_pointers_alone", "", 0, {}},
                    StartupAccelCase{"off", "[QZW]\ndisable_acc=0\n", 0, {}},
                    StartupAccelCase{"on", "[QZW]\ndisable_acc=1\n", 1, {"set 11 0,1"}},
                    // Not "held off": nothing to do.
                    StartupAccelCase{"other_value", "[QZW]\ndisable_acc=2\n", 2, {}}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(LoadAppliesAccelerationTest, ADesktopThatCannotBeReachedIsAWarning) {
    TempFolder dir;
    const std::string path = dir.Write("set.ini", std::string("[QZW]\ndisable_acc=1\nosd=0\n"));
    PointerAcceleration pointer(std::string("not on this desktop"));
    const LoadedSettings loaded = LoadSettings(path, pointer);
    EXPECT_EQ(loaded.warning, "not on this desktop");
    EXPECT_EQ(loaded.settings.disableAcc, 1);  // kept for a desktop where it works
    EXPECT_EQ(loaded.settings.osd, 0);
}

TEST(SettingsFileTest, SaveWritesEveryKeyAndKeepsTheRest) {
    TempFolder dir;
    const std::string path = SettingsFilePath();
    EXPECT_EQ(path, dir.File("set.ini"));
    dir.Write("set.ini", std::string("[QZW]\nlanguage=2052\npin=417\nremote=1\napp7=keep\n"));
    UserSettings settings;
    settings.osd = 0;
    settings.disableAcc = 0;
    settings.apps[1] = {"/opt/a b/x", "  X  "};
    settings.apps[5] = {"/never/stored", "no"};
    ASSERT_TRUE(SaveSettings(path, settings));

    const IniFile file = IniFile::Load(path);
    EXPECT_EQ(file.GetInt("QZW", "osd", -1), 0);
    EXPECT_EQ(file.GetInt("QZW", "disable_acc", -1), 0);
    for (int i = 0; i < 5; ++i) {
        EXPECT_NE(file.GetString("QZW", "app" + std::to_string(i), kNoString), kNoString);
        EXPECT_NE(file.GetString("QZW", "app_name" + std::to_string(i), kNoString), kNoString);
    }
    EXPECT_EQ(file.GetString("QZW", "app5", kNoString), kNoString);
    EXPECT_EQ(file.GetString("QZW", "app7", kNoString), "keep");
    EXPECT_EQ(file.GetInt("QZW", "remote", 0), 1);
    EXPECT_EQ(ReadStartupSettings(path).pin, 417);

    FakePointerDesktop desktop;
    PointerAcceleration pointer(desktop.Connect());
    const UserSettings back = LoadSettings(path, pointer).settings;
    EXPECT_EQ(back.apps[1], settings.apps[1]);
    EXPECT_EQ(back.apps[5], AppSlot{});
    EXPECT_EQ(back.osd, 0);
}

TEST(SettingsFileTest, UnreadableFileIsNotOverwritten) {
    TempFolder dir;
    std::filesystem::create_directory(dir.File("set.ini"));
    EXPECT_FALSE(SaveSettings(dir.File("set.ini"), UserSettings{}));
    EXPECT_FALSE(WritePinSetting(dir.File("set.ini"), 5));
    EXPECT_TRUE(std::filesystem::is_directory(dir.File("set.ini")));
}

struct StartupCase {
    const char* label;
    const char* languageText;  // nullptr: not written
    int pin;                   // negative: not written
    StartupSettings expected;
};

class StartupSettingsTest : public testing::TestWithParam<StartupCase> {};

TEST_P(StartupSettingsTest, ReadsWhatStartUpWrote) {
    TempFolder dir;
    const std::string path = dir.File("set.ini");
    if (GetParam().languageText) {
        ASSERT_TRUE(WriteLanguageSetting(path, GetParam().languageText));
    }
    if (GetParam().pin >= 0) {
        ASSERT_TRUE(WritePinSetting(path, GetParam().pin));
    }
    const StartupSettings s = ReadStartupSettings(path);
    EXPECT_EQ(s.languageId, GetParam().expected.languageId);
    EXPECT_EQ(s.pin, GetParam().expected.pin);
}

INSTANTIATE_TEST_SUITE_P(Table, StartupSettingsTest,
                         testing::Values(StartupCase{"missing_file", nullptr, -1, {1033, 0}},
                                         StartupCase{"language", "2052", -1, {2052, 0}},
                                         StartupCase{"empty_language", "", -1, {1033, 0}},
                                         StartupCase{"pin_and_language", "1041", 999, {1041, 999}}),
                         [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace qvm
