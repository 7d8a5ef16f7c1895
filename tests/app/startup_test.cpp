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

struct ParseCase {
    const char* label;
    Args args;
    StartupOptions expected;
};

StartupOptions With(void (*set)(StartupOptions&)) {
    StartupOptions o;
    set(o);
    return o;
}

class ParseTest : public testing::TestWithParam<ParseCase> {};

TEST_P(ParseTest, ArgumentsGiveOptions) {
    const ParseCase& c = GetParam();
    const StartupOptions got = ParseStartupArguments(c.args);
    const StartupOptions& want = c.expected;
    EXPECT_EQ(got.close, want.close);
    EXPECT_EQ(got.hide, want.hide);
    EXPECT_EQ(got.genPin, want.genPin);
    EXPECT_EQ(got.languageText, want.languageText);
    EXPECT_EQ(got.simulate, want.simulate);
    EXPECT_EQ(got.hidBackend, want.hidBackend);
    EXPECT_EQ(got.remote, want.remote);
    EXPECT_EQ(got.help, want.help);
    EXPECT_EQ(got.version, want.version);
    EXPECT_EQ(got.error.empty(), want.error.empty()) << got.error;
    if (!want.error.empty()) {
        EXPECT_NE(got.error.find(want.error), std::string::npos) << got.error;
    }
}

// The boundaries of the switches: exact, case-sensitive words anywhere after the program
// name; values that look like switches; options that need or refuse a value.
INSTANTIATE_TEST_SUITE_P(
    Cases, ParseTest,
    testing::Values(ParseCase{"close_not_last", {"p", "/close", "/hide"}, With([](auto& o) {
                                  o.close = o.hide = true;
                              })},
                    ParseCase{
                        "case_sensitive", {"p", "/CLOSE", "/Hide", "/GENPIN", "/LANGID=1"}, {}},
                    ParseCase{"exact_match", {"p", "/close2", "/hide ", "x/genpin"}, {}},
                    ParseCase{"hid_value_is_not_a_switch",
                              {"p", "--hid", "/close"},
                              With([](auto& o) { o.hidBackend = "/close"; })},
                    ParseCase{"flag_with_value", {"p", "--help=1"}, With([](auto& o) {
                                  o.error = "takes no value";
                              })}),
    [](const auto& info) { return std::string(info.param.label); });

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

// What a start that ends at once says on standard error: each expected piece must be in
// the report, in this order, one line each, and nothing more.
struct ReportCase {
    const char* label;
    bool firstRuns;  // another instance runs while this one starts
    Args args;
    std::vector<std::string> lines;  // a piece of each line, in order
};

class StartupReportTest : public StartupTest, public testing::WithParamInterface<ReportCase> {};

TEST_P(StartupReportTest, SaysWhatWasDone) {
    StartupOutcome first;
    if (GetParam().firstRuns) {
        first = Start({"p"});
        ASSERT_EQ(first.kind, StartupKind::kFirstInstance);
    }
    const Args& args = GetParam().args;
    const StartupOutcome out = Start(args);
    const std::vector<std::string> report = StartupReport(ParseStartupArguments(args), out);
    ASSERT_EQ(report.size(), GetParam().lines.size()) << testing::PrintToString(report);
    for (std::size_t i = 0; i < report.size(); ++i) {
        EXPECT_NE(report[i].find(GetParam().lines[i]), std::string::npos)
            << "line " << i << ": " << report[i];
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StartupReportTest,
    testing::Values(ReportCase{"devices_of_a_second_are_not_taken",
                               true,
                               {"p", "--simulate=g0,g12", "--remote"},
                               {"brought to the front",
                                "--simulate=g0,g12 --remote takes effect when"}},
                    ReportCase{"stored_settings_apply_next_time",
                               true,
                               {"p", "/hide", "/langid=1031", "/genpin"},
                               {"nothing was done", "\"1031\" was stored", "new PIN was stored"}},
                    ReportCase{"close_reaches_the_running_one",
                               true,
                               {"p", "/close"},
                               {"asked the running program to close"}}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace qvm
