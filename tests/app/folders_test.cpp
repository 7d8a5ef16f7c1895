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

}  // namespace
}  // namespace qvm
