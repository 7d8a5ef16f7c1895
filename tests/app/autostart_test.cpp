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
                    AutostartQuoteCase{"/opt/a\"b", "\"/opt/a\\\\\"b\""},
                    AutostartQuoteCase{"/opt/$x/`y`", "\"/opt/\\\\$x/\\\\`y\\\\`\""},
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

}  // namespace
}  // namespace qvm
