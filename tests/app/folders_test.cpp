#include "platform/folders.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/temp_folder.h"

namespace qvm {
namespace {

using test::ScopedEnv;
using test::TempFolder;

struct FolderCase {
    const char* label;
    std::optional<std::string> userDir;
    std::optional<std::string> dataHome;
    std::string expected;  // "~" stands for the fake home folder
};

class UserDataFolderTest : public testing::TestWithParam<FolderCase> {};

TEST_P(UserDataFolderTest, OverrideThenXdgThenHome) {
    ScopedEnv home("HOME", "/home/tester/");
    ScopedEnv user("QVM_USER_DIR", GetParam().userDir);
    ScopedEnv data("XDG_DATA_HOME", GetParam().dataHome);
    std::string expected = GetParam().expected;
    if (expected.front() == '~') expected.replace(0, 1, "/home/tester");
    EXPECT_EQ(UserDataFolder(), expected);
}

INSTANTIATE_TEST_SUITE_P(Table, UserDataFolderTest,
                         testing::Values(FolderCase{"override", "/tmp/qvm-user/", "/xdg",
                                                    "/tmp/qvm-user"},
                                         FolderCase{"relative_xdg_ignored", std::nullopt,
                                                    "rel/data", "~/.local/share/qvm-gaming"},
                                         FolderCase{"empty_override_ignored", "", std::nullopt,
                                                    "~/.local/share/qvm-gaming"}),
                         [](const auto& info) { return std::string(info.param.label); });

struct DocumentsCase {
    const char* label;
    const char* userDirs;  // content of user-dirs.dirs, nullptr: no file
    std::string expected;  // relative to the fake home
};

class DocumentsFolderTest : public testing::TestWithParam<DocumentsCase> {};

TEST_P(DocumentsFolderTest, UserDirsElseDocuments) {
    TempFolder dir;
    ScopedEnv home("HOME", dir.path());
    ScopedEnv config("XDG_CONFIG_HOME", std::nullopt);
    if (GetParam().userDirs) dir.Write(".config/user-dirs.dirs", std::string(GetParam().userDirs));
    std::string expected = GetParam().expected;
    if (expected.front() != '/') expected = dir.File(expected);
    EXPECT_EQ(DocumentsFolder(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DocumentsFolderTest,
    testing::Values(DocumentsCase{"home_relative",
                                  "# comment\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
                                  "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n",
                                  "Dokumente"},
                    DocumentsCase{"absolute", "XDG_DOCUMENTS_DIR=\"/srv/docs/\"\n", "/srv/docs"},
                    DocumentsCase{"key_missing", "XDG_MUSIC_DIR=\"$HOME/Music\"\n", "Documents"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(EnsureFolderTest, CreatesNestedAndRejectsFiles) {
    TempFolder dir;
    EXPECT_TRUE(EnsureFolder(dir.File("a/b/Favorite")));
    EXPECT_TRUE(std::filesystem::is_directory(dir.File("a/b/Favorite")));
    EXPECT_TRUE(EnsureFolder(dir.File("a/b/Favorite")));  // exists already
    dir.Write("file", std::string("x"));
    const Status s = EnsureFolder(dir.File("file"));
    EXPECT_FALSE(s);
    EXPECT_NE(s.message().find("file"), std::string::npos);
}

}  // namespace
}  // namespace qvm
