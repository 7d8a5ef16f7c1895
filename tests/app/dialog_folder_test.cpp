// Where the backup and restore dialogs start, and the folder they remember in set.ini.
#include "session/dialog_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "base/ini_file.h"
#include "support/temp_folder.h"

namespace qvm {
namespace {

TEST(DialogFolder, StartsInTheFirstFolderThatExists) {
    struct Case {
        const char* name;
        bool rememberedExists;
        bool documentsExists;
        const char* starts;  // "remembered", "documents" or "home"
    };
    const Case cases[] = {
        {"remembered folder", true, true, "remembered"},
        {"remembered folder gone", false, true, "documents"},
        {"no documents folder", false, false, "home"},
        {"remembered, no documents", true, false, "remembered"},
    };
    for (const Case& c : cases) {
        test::TempFolder home;
        test::ScopedEnv homeEnv("HOME", home.path());
        test::ScopedEnv configEnv("XDG_CONFIG_HOME", std::nullopt);
        const std::string remembered = home.File("saved/backups");
        if (c.rememberedExists) std::filesystem::create_directories(remembered);
        if (c.documentsExists) std::filesystem::create_directories(home.File("Documents"));
        const std::string expected = std::string(c.starts) == "remembered"  ? remembered
                                     : std::string(c.starts) == "documents" ? home.File("Documents")
                                                                            : home.path();
        EXPECT_EQ(DialogStartFolder(remembered), expected) << c.name;
    }
}

TEST(DialogFolder, RemembersTheChosenFilesFolderAndKeepsTheOptions) {
    test::TempFolder folder;
    const std::string settings = folder.Write("set.ini", std::string("[QZW]\r\nosd=0\r\n"));
    EXPECT_EQ(ReadLastFolder(settings), "");
    ASSERT_TRUE(RememberFolderOf(settings, "/srv/backups/mouse.bf").ok());
    EXPECT_EQ(ReadLastFolder(settings), "/srv/backups");
    ASSERT_TRUE(RememberFolderOf(settings, "/srv/other/x.bf").ok());
    EXPECT_EQ(ReadLastFolder(settings), "/srv/other");
    EXPECT_EQ(IniFile::Load(settings).GetInt("QZW", "osd", 1), 0);
    // No settings file yet: one is made.
    const std::string fresh = folder.File("fresh.ini");
    ASSERT_TRUE(RememberFolderOf(fresh, "/a/b.bf").ok());
    EXPECT_EQ(ReadLastFolder(fresh), "/a");
}

}  // namespace
}  // namespace qvm
