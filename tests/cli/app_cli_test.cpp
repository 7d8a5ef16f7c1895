// qvmctl app list|bind|unbind: bindings reach set.ini and read back, every other line of
// the file stays, and bad profiles, paths and names are refused without a change.
#include <gtest/gtest.h>

#include <filesystem>

#include "base/ini_file.h"
#include "run_qvmctl.h"
#include "session/settings.h"
#include "support/temp_folder.h"

namespace qvm::cli {
namespace {

namespace fs = std::filesystem;

TEST(AppCliTest, BindingsRoundTripAndBadOnesChangeNothing) {
    test::TempFolder folder;
    // No desktop entry of this machine names the test's programs.
    test::ScopedEnv dataHome("XDG_DATA_HOME", folder.path());
    test::ScopedEnv dataDirs("XDG_DATA_DIRS", folder.path());
    const std::string game = folder.Write("bin/xgame", "#!/bin/sh\n");
    fs::permissions(game, fs::perms::owner_exec, fs::perm_options::add);
    const std::string link = folder.path() + "/bin/game-link";
    fs::create_symlink(game, link);
    IniFile file = IniFile::Load(SettingsFilePath());
    file.SetString(kSettingsSection, "osd", "0");
    file.SetString("Elsewhere", "kept", "yes");
    ASSERT_TRUE(file.Save(SettingsFilePath()).ok());

    const std::string bound = fs::canonical(game).string();
    const std::string first = "1  " + bound + "  \"game-link\"";
    const struct {
        std::vector<std::string> args;
        int status;
        std::string listed;  // app list afterwards
    } steps[] = {
        {{"bind", "3", game, "--name", "X Game"}, kExitOk, "3  " + bound + "  \"X Game\""},
        // A link is stored as the file it leads to, named after the link.
        {{"bind", "1", link}, kExitOk, first},
        {{"unbind", "3"}, kExitOk, "3  -"},
        {{"bind", "0", game}, kExitUsage, first},
        {{"bind", "6", game}, kExitUsage, first},
        {{"unbind", "6"}, kExitUsage, first},
        {{"bind", "1", folder.path() + "/bin/missing"}, kExitUsage, first},
        {{"bind", "1", SettingsFilePath()}, kExitUsage, first},  // not executable
        {{"bind", "1", game, "--name", "two\nlines"}, kExitUsage, first},
    };
    for (const auto& step : steps) {
        std::vector<std::string> args = step.args;
        args.insert(args.begin(), "app");
        SCOPED_TRACE(args[1] + " " + args[2]);
        const Outcome run = Qvmctl(args);
        EXPECT_EQ(run.status, step.status) << run.err;
        EXPECT_EQ(run.status != kExitOk, run.err.starts_with("qvmctl: ")) << run.err;
        EXPECT_TRUE(Has(Qvmctl({"app", "list"}).out, step.listed + "\n"));
    }
    file = IniFile::Load(SettingsFilePath());
    EXPECT_EQ(file.GetString(kSettingsSection, "osd", ""), "0");
    EXPECT_EQ(file.GetString("Elsewhere", "kept", ""), "yes");
    EXPECT_EQ(ReadSettings(SettingsFilePath()).settings.apps[0], (AppSlot{bound, "game-link"}));
}

}  // namespace
}  // namespace qvm::cli
