// qvmctl app list|bind|unbind: the bindings reach set.ini and read back, every other line
// of the file stays, and bad profiles, paths and names are refused without a change.
#include <gtest/gtest.h>

#include <filesystem>

#include "base/ini_file.h"
#include "run_qvmctl.h"
#include "session/settings.h"
#include "support/temp_folder.h"

namespace qvm::cli {
namespace {

namespace fs = std::filesystem;

// A user folder whose set.ini holds other settings, and programs to bind.
struct AppCliRig {
    test::TempFolder folder;
    // No desktop entry of this machine names the test's programs.
    test::ScopedEnv dataHome{"XDG_DATA_HOME", folder.path() + "/share"};
    test::ScopedEnv dataDirs{"XDG_DATA_DIRS", folder.path() + "/share"};
    std::string game, link, plain;

    AppCliRig() {
        game = folder.Write("bin/xgame", "#!/bin/sh\n");
        fs::permissions(game, fs::perms::owner_exec, fs::perm_options::add);
        link = folder.path() + "/bin/game-link";
        fs::create_symlink(game, link);
        plain = folder.Write("bin/notes.txt", "not a program\n");
        IniFile file = IniFile::Load(SettingsFilePath());
        file.SetString(kSettingsSection, "language", "1031");
        file.SetString(kSettingsSection, "osd", "0");
        file.SetString("Elsewhere", "kept", "yes");
        EXPECT_TRUE(file.Save(SettingsFilePath()).ok());
    }
    std::string List() { return Qvmctl({"app", "list"}).out; }
};

TEST(AppCliTest, BindListUnbindRoundTripKeepsEveryOtherSetting) {
    AppCliRig rig;
    const std::string game = fs::canonical(rig.game).string();
    const struct {
        std::vector<std::string> args;
        std::string listed;
    } steps[] = {
        {{"app", "bind", "3", rig.game, "--name", "X Game"},
         "1  -\n2  -\n3  " + game + "  \"X Game\"\n4  -\n5  -\n"},
        // A link is stored as the file it leads to; the name comes from the link.
        {{"app", "bind", "1", rig.link},
         "1  " + game + "  \"game-link\"\n2  -\n3  " + game + "  \"X Game\"\n4  -\n5  -\n"},
        {{"app", "bind", "5", rig.game, "--name=Last"},
         "1  " + game + "  \"game-link\"\n2  -\n3  " + game + "  \"X Game\"\n4  -\n5  " + game +
             "  \"Last\"\n"},
        {{"app", "unbind", "3"},
         "1  " + game + "  \"game-link\"\n2  -\n3  -\n4  -\n5  " + game + "  \"Last\"\n"},
        {{"app", "unbind", "3"},
         "1  " + game + "  \"game-link\"\n2  -\n3  -\n4  -\n5  " + game + "  \"Last\"\n"},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.args[1] + " " + step.args[2]);
        const Outcome run = Qvmctl(step.args);
        ASSERT_EQ(run.status, kExitOk) << run.err;
        EXPECT_EQ(rig.List(), step.listed);
    }
    const IniFile file = IniFile::Load(SettingsFilePath());
    EXPECT_EQ(file.GetString(kSettingsSection, "language", ""), "1031");
    EXPECT_EQ(file.GetString(kSettingsSection, "osd", ""), "0");
    EXPECT_EQ(file.GetString("Elsewhere", "kept", ""), "yes");
    // The desktop program reads the same slots.
    const LoadedSettings loaded = ReadSettings(SettingsFilePath());
    EXPECT_EQ(loaded.settings.apps[4], (AppSlot{game, "Last"}));
}

TEST(AppCliTest, BadProfilesPathsAndNamesAreRefusedWithoutAChange) {
    AppCliRig rig;
    ASSERT_EQ(Qvmctl({"app", "bind", "2", rig.game, "--name", "Kept"}).status, kExitOk);
    const std::string before = rig.List();
    const struct {
        std::vector<std::string> args;
        const char* why;
    } cases[] = {
        {{"app", "bind", "0", rig.game}, "profile 0 is out of range"},
        {{"app", "bind", "6", rig.game}, "profile 6 is out of range"},
        {{"app", "bind", "two", rig.game}, "profile"},
        {{"app", "bind", "2", rig.folder.path() + "/bin/missing"}, "No such file"},
        {{"app", "bind", "2", rig.plain}, "is not executable"},
        {{"app", "bind", "2", rig.folder.path() + "/bin"}, "is not a file"},
        {{"app", "bind", "2", rig.game, "--name", ""}, "the name is empty"},
        {{"app", "bind", "2", rig.game, "--name", "two\nlines"}, "line break"},
        {{"app", "bind", "2"}, "usage"},
        {{"app", "unbind", "0"}, "profile 0 is out of range"},
        {{"app", "unbind", "6"}, "profile 6 is out of range"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        const Outcome run = Qvmctl(c.args);
        EXPECT_EQ(run.status, kExitUsage);
        EXPECT_TRUE(Has(run.err, c.why)) << run.err;
        EXPECT_TRUE(run.err.starts_with("qvmctl: ")) << run.err;
        EXPECT_EQ(rig.List(), before);
    }
}

}  // namespace
}  // namespace qvm::cli
