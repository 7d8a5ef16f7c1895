#include "platform/folders.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

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

// Where the program data is found for a program file at a given place. Paths are below a
// temporary folder ("@"); "source" stands for the source tree's data/, "configured" for the
// prefix the build was set up with.
struct ProgramFolderCase {
    const char* label;
    std::vector<std::string> folders;  // made below the temporary folder
    std::vector<std::string> files;    // likewise
    std::string executable;
    std::string expected;
};

class ProgramFolderOfTest : public testing::TestWithParam<ProgramFolderCase> {};

TEST_P(ProgramFolderOfTest, InstalledTreeThenBuildTreeThenConfiguredPrefix) {
    TempFolder root;
    for (const std::string& folder : GetParam().folders) {
        std::filesystem::create_directories(root.File(folder));
    }
    for (const std::string& file : GetParam().files) root.Write(file, std::string());
    std::string expected = GetParam().expected;
    if (expected == "source") {
        expected = QVM_SOURCE_DATA_DIR;
    } else if (expected == "configured") {
        expected = QVM_INSTALL_DATA_DIR;
    } else {
        expected = root.File(expected);
    }
    EXPECT_EQ(ProgramFolderOf(root.File(GetParam().executable)), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ProgramFolderOfTest,
    testing::Values(ProgramFolderCase{"package_under_usr",
                                      {"usr/bin", "usr/share/qvm-gaming"},
                                      {},
                                      "usr/bin/qvmctl",
                                      "usr/share/qvm-gaming"},
                    ProgramFolderCase{"unpacked_anywhere",
                                      {"x/opt/bin", "x/opt/share/qvm-gaming"},
                                      {},
                                      "x/opt/bin/qvm-gaming",
                                      "x/opt/share/qvm-gaming"},
                    ProgramFolderCase{"build_tree",
                                      {"build/tests"},
                                      {"build/CMakeCache.txt"},
                                      "build/tests/app_tests",
                                      "source"},
                    ProgramFolderCase{"installed_inside_build_tree",
                                      {"build/stage/bin", "build/stage/share/qvm-gaming"},
                                      {"build/CMakeCache.txt"},
                                      "build/stage/bin/qvmctl",
                                      "build/stage/share/qvm-gaming"},
                    ProgramFolderCase{"share_is_a_file",
                                      {"usr/bin", "usr/share"},
                                      {"usr/share/qvm-gaming"},
                                      "usr/bin/qvmctl",
                                      "configured"},
                    ProgramFolderCase{
                        "nothing_beside", {"usr/bin"}, {}, "usr/bin/qvmctl", "configured"}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace qvm
