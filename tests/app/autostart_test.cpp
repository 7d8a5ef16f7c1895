#include "session/autostart.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "support/temp_folder.h"

namespace qvm {
namespace {

namespace fs = std::filesystem;
using test::ScopedEnv;
using test::TempFolder;

struct AutostartQuoteCase {
    const char* argument;
    const char* expected;  // as the bytes stand in the file
};

class QuoteExecArgumentTest : public testing::TestWithParam<AutostartQuoteCase> {};

TEST_P(QuoteExecArgumentTest, QuotesAndEscapesAsDesktopEntriesRead) {
    EXPECT_EQ(QuoteExecArgument(GetParam().argument), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, QuoteExecArgumentTest,
    testing::Values(AutostartQuoteCase{"/usr/bin/qvm-gaming", "/usr/bin/qvm-gaming"},
                    AutostartQuoteCase{"/hide", "/hide"},
                    AutostartQuoteCase{"/opt/My Apps/qvm-gaming", "\"/opt/My Apps/qvm-gaming\""},
                    AutostartQuoteCase{"/opt/a\"b", "\"/opt/a\\\\\"b\""},
                    AutostartQuoteCase{"/opt/a\\b", "\"/opt/a\\\\\\\\b\""},
                    AutostartQuoteCase{"/opt/$x/`y`", "\"/opt/\\\\$x/\\\\`y\\\\`\""},
                    AutostartQuoteCase{"/opt/it's", "\"/opt/it's\""},
                    AutostartQuoteCase{"/opt/100%", "/opt/100%%"},
                    AutostartQuoteCase{"/opt/50% off", "\"/opt/50%% off\""},
                    AutostartQuoteCase{"", "\"\""}));

class AutostartTest : public testing::Test {
  protected:
    TempFolder temp_;
    ScopedEnv config_{"XDG_CONFIG_HOME", temp_.File("config")};
    std::string entry_ = temp_.File("config/autostart/qvm-gaming.desktop");

    std::string EntryText() const {
        const auto bytes = temp_.Read("config/autostart/qvm-gaming.desktop");
        return std::string(bytes.begin(), bytes.end());
    }
};

TEST_F(AutostartTest, OnWritesAnEntryThatStartsTheProgramHidden) {
    EXPECT_FALSE(AutostartEnabled());
    ASSERT_TRUE(SetAutostart(true, "/opt/My Apps/qvm-gaming"));

    EXPECT_EQ(AutostartFilePath(), entry_);
    EXPECT_TRUE(AutostartEnabled());
    const std::string text = EntryText();
    EXPECT_EQ(text.rfind("[Desktop Entry]\n", 0), 0u) << text;
    EXPECT_NE(text.find("\nType=Application\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nExec=\"/opt/My Apps/qvm-gaming\" /hide\n"), std::string::npos) << text;
}

TEST_F(AutostartTest, OnTwiceLeavesOneEntryAndNoTemporaryFiles) {
    ASSERT_TRUE(SetAutostart(true, "/usr/bin/qvm-gaming"));
    const std::string first = EntryText();
    ASSERT_TRUE(SetAutostart(true, "/usr/bin/qvm-gaming"));

    EXPECT_EQ(EntryText(), first);
    int files = 0;
    for ([[maybe_unused]] const auto& f : fs::directory_iterator(temp_.File("config/autostart"))) {
        ++files;
    }
    EXPECT_EQ(files, 1);
}

TEST_F(AutostartTest, OffRemovesTheEntryAndAMissingEntryIsFine) {
    ASSERT_TRUE(SetAutostart(true, "/usr/bin/qvm-gaming"));
    ASSERT_TRUE(SetAutostart(false, ""));

    EXPECT_FALSE(fs::exists(entry_));
    EXPECT_FALSE(AutostartEnabled());
    EXPECT_TRUE(SetAutostart(false, ""));
}

TEST_F(AutostartTest, ARelativeProgramPathIsRefusedAndWritesNothing) {
    const Status s = SetAutostart(true, "qvm-gaming");
    EXPECT_FALSE(s);
    EXPECT_NE(s.message().find("absolute"), std::string::npos) << s.message();
    EXPECT_FALSE(fs::exists(entry_));
}

TEST_F(AutostartTest, AnUnwritableFolderGivesAClearErrorAndKeepsTheOldEntry) {
    if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser";
    ASSERT_TRUE(SetAutostart(true, "/usr/bin/qvm-gaming"));
    const std::string before = EntryText();
    fs::permissions(temp_.File("config/autostart"), fs::perms::owner_read | fs::perms::owner_exec);

    const Status on = SetAutostart(true, "/opt/other/qvm-gaming");
    const Status off = SetAutostart(false, "");
    fs::permissions(temp_.File("config/autostart"), fs::perms::owner_all);

    ASSERT_FALSE(on);
    EXPECT_NE(on.message().find("autostart"), std::string::npos) << on.message();
    ASSERT_FALSE(off);
    EXPECT_NE(off.message().find(entry_), std::string::npos) << off.message();
    EXPECT_EQ(EntryText(), before);
    EXPECT_TRUE(AutostartEnabled());
}

// Paths in the way fail for every user, the superuser too.
TEST_F(AutostartTest, AFileWhereTheFolderBelongsGivesAClearError) {
    temp_.Write("config/autostart", std::string("not a folder"));
    const Status on = SetAutostart(true, "/usr/bin/qvm-gaming");
    ASSERT_FALSE(on);
    EXPECT_NE(on.message().find(temp_.File("config/autostart")), std::string::npos) << on.message();
    EXPECT_FALSE(AutostartEnabled());
}

TEST_F(AutostartTest, AFolderWhereTheEntryBelongsIsNeitherReplacedNorRemoved) {
    temp_.Write("config/autostart/qvm-gaming.desktop/keep", std::string("x"));
    const Status on = SetAutostart(true, "/usr/bin/qvm-gaming");
    const Status off = SetAutostart(false, "");

    ASSERT_FALSE(on);
    EXPECT_NE(on.message().find("autostart entry"), std::string::npos) << on.message();
    ASSERT_FALSE(off);
    EXPECT_NE(off.message().find(entry_), std::string::npos) << off.message();
    EXPECT_EQ(temp_.Read("config/autostart/qvm-gaming.desktop/keep"), std::vector<uint8_t>{'x'});
}

struct AutostartHiddenCase {
    const char* text;
    bool enabled;
};

class AutostartHiddenTest : public AutostartTest,
                            public testing::WithParamInterface<AutostartHiddenCase> {};

TEST_P(AutostartHiddenTest, HiddenTrueInTheMainGroupSwitchesTheEntryOff) {
    temp_.Write("config/autostart/qvm-gaming.desktop", std::string(GetParam().text));
    EXPECT_EQ(AutostartEnabled(), GetParam().enabled) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Entries, AutostartHiddenTest,
    testing::Values(
        AutostartHiddenCase{"[Desktop Entry]\nExec=qvm-gaming /hide\n", true},
        AutostartHiddenCase{"[Desktop Entry]\nExec=qvm-gaming /hide\nHidden=true\n", false},
        AutostartHiddenCase{"[Desktop Entry]\r\nHidden = true\r\n", false},
        AutostartHiddenCase{"[Desktop Entry]\nHidden=false\n", true},
        AutostartHiddenCase{"[Desktop Entry]\n# Hidden=true\n", true},
        AutostartHiddenCase{"[Desktop Entry]\nName=x\n[Desktop Action x]\nHidden=true\n", true},
        AutostartHiddenCase{"", true}));

struct AutostartPathCase {
    const char* xdgConfigHome;  // nullptr: unset
    const char* expected;
};

class AutostartPathTest : public testing::TestWithParam<AutostartPathCase> {};

TEST_P(AutostartPathTest, FollowsTheXdgConfigFolder) {
    ScopedEnv home("HOME", "/home/u");
    ScopedEnv xdg("XDG_CONFIG_HOME", GetParam().xdgConfigHome
                                         ? std::optional<std::string>(GetParam().xdgConfigHome)
                                         : std::nullopt);
    EXPECT_EQ(AutostartFilePath(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Folders, AutostartPathTest,
    testing::Values(AutostartPathCase{nullptr, "/home/u/.config/autostart/qvm-gaming.desktop"},
                    AutostartPathCase{"/xdg/conf", "/xdg/conf/autostart/qvm-gaming.desktop"},
                    AutostartPathCase{"", "/home/u/.config/autostart/qvm-gaming.desktop"},
                    AutostartPathCase{"relative/conf",
                                      "/home/u/.config/autostart/qvm-gaming.desktop"}));

}  // namespace
}  // namespace qvm
