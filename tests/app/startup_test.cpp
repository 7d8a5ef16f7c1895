#include "session/startup.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "base/ini_file.h"
#include "support/fake_named_event.h"
#include "support/temp_folder.h"

namespace qvm {
namespace {

using test::FakeEventRegistry;
using test::TempFolder;
using Args = std::vector<std::string>;

// A user data folder and a program folder of one test, and one session of events.
class StartupTest : public testing::Test {
  protected:
    StartupOutcome Start(const Args& args, std::function<std::uint32_t()> random = {}) {
        return RunStartup(ParseStartupArguments(args), StartupEnv{.events = events_,
                                                                  .random = std::move(random),
                                                                  .userDataFolder = UserDir(),
                                                                  .programFolder = ProgramDir()});
    }
    std::string UserDir() const { return dir_.File("user"); }
    std::string ProgramDir() const { return dir_.File("program"); }
    std::string SettingsPath() const { return dir_.File("user/set.ini"); }
    bool SettingsExist() const { return std::filesystem::exists(SettingsPath()); }
    std::string Stored(const char* key) const {
        return IniFile::Load(SettingsPath()).GetString("QZW", key, "@absent");
    }
    void WriteLanguageFile() const {
        dir_.Write("program/language.ini",
                   "[1033]\ntype_str1=No function\n[2052]\ntype_str1=Chinese none\n");
    }

    TempFolder dir_;
    FakeEventRegistry events_;
};

TEST_F(StartupTest, CloseEndsTheRunningInstanceAndCreatesNothing) {
    StartupOutcome first = Start({"p"});
    ASSERT_EQ(first.kind, StartupKind::kFirstInstance) << first.message;
    const StartupOutcome closer = Start({"p", "/close"});
    EXPECT_EQ(closer.kind, StartupKind::kCloseRun);
    EXPECT_EQ(closer.events.wait, nullptr);
    EXPECT_TRUE(*first.events.close->TryWait());
    EXPECT_FALSE(*first.events.wait->TryWait());
}

// Near misses of "/close" start a second instance; they must not end the running one.
TEST_F(StartupTest, OnlyTheExactSwitchCloses) {
    StartupOutcome first = Start({"p"});
    ASSERT_EQ(first.kind, StartupKind::kFirstInstance) << first.message;
    for (const char* near : {"/CLOSE", "/close2", "x/close"})
        EXPECT_NE(Start({"p", near}).kind, StartupKind::kCloseRun) << near;
    EXPECT_FALSE(*first.events.close->TryWait());
}

// The switches are stored before the settings are read, so this very start uses them.
TEST_F(StartupTest, LanguageSwitchIsStoredAndUsedByThisStart) {
    WriteLanguageFile();
    dir_.Write("user/set.ini", "[QZW]\nlanguage=1041\npin=7\n");
    const StartupOutcome out = Start({"p", "/langid=2052"});
    ASSERT_EQ(out.kind, StartupKind::kFirstInstance) << out.message;
    EXPECT_EQ(Stored("language"), "2052");
    EXPECT_EQ(out.settings.languageId, 2052);
    EXPECT_EQ(out.settings.pin, 7);
    EXPECT_EQ(out.strings.type_str[1], "Chinese none");
}

struct SecondCase {
    const char* label;
    Args args;
    bool wakes;
};

class SecondInstanceTest : public StartupTest, public testing::WithParamInterface<SecondCase> {};

TEST_P(SecondInstanceTest, WakesTheFirstUnlessHidden) {
    StartupOutcome first = Start({"p"});
    ASSERT_EQ(first.kind, StartupKind::kFirstInstance);
    const StartupOutcome second = Start(GetParam().args);
    EXPECT_EQ(second.kind, StartupKind::kSecondInstance);
    EXPECT_EQ(second.events.close, nullptr);
    EXPECT_EQ(*first.events.wait->TryWait(), GetParam().wakes);
    EXPECT_EQ(events_.PulsesSent(std::string(kWaitEventName)), GetParam().wakes ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, SecondInstanceTest,
                         testing::Values(SecondCase{"plain", {"p"}, true},
                                         SecondCase{"hidden", {"p", "/hide"}, false}),
                         [](const auto& info) { return std::string(info.param.label); });

// Another program of the session holding one of the later names must not leave a
// half-started instance that keeps the wait event.
TEST_F(StartupTest, EventHeldByAnotherProgramIsAnErrorAndReleasesTheRest) {
    auto squatter = std::move(events_.Create(std::string(kDrawEventName))).value();
    const StartupOutcome out = Start({"p"});
    EXPECT_EQ(out.kind, StartupKind::kError);
    EXPECT_NE(out.message.find("already exists"), std::string::npos) << out.message;
    EXPECT_FALSE(events_.IsBound(std::string(kWaitEventName)));
}

TEST_F(StartupTest, RefusedCommandLineWritesNothing) {
    const StartupOutcome out = Start({"p", "/langid=2052", "--bogus"});
    EXPECT_EQ(out.kind, StartupKind::kError);
    EXPECT_NE(out.message.find("--bogus"), std::string::npos);
    EXPECT_FALSE(SettingsExist());
}

}  // namespace
}  // namespace qvm
