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

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseTest,
    testing::Values(
        ParseCase{"none", {"qvm-gaming"}, {}},
        ParseCase{"close", {"qvm-gaming", "/close"}, With([](auto& o) { o.close = true; })},
        ParseCase{"close_not_last", {"p", "/close", "/hide"}, With([](auto& o) {
                      o.close = o.hide = true;
                  })},
        ParseCase{"case_sensitive", {"p", "/CLOSE", "/Hide", "/GENPIN", "/LANGID=1"}, {}},
        ParseCase{"exact_match", {"p", "/close2", "/hide ", "x/genpin"}, {}},
        ParseCase{"program_name_walked", {"/hide"}, With([](auto& o) { o.hide = true; })},
        ParseCase{"langid", {"p", "/langid=2052"}, With([](auto& o) { o.languageText = "2052"; })},
        ParseCase{"langid_empty", {"p", "/langid="}, With([](auto& o) { o.languageText = ""; })},
        ParseCase{"langid_last_wins", {"p", "/langid=1041", "/langid=abc"}, With([](auto& o) {
                      o.languageText = "abc";
                  })},
        ParseCase{"genpin_hide", {"p", "/genpin", "/hide"}, With([](auto& o) {
                      o.genPin = o.hide = true;
                  })},
        ParseCase{"stray_words_ignored", {"p", "close", "-x", "/", "file.txt"}, {}},
        ParseCase{"simulate", {"p", "--simulate"}, With([](auto& o) { o.simulate = ""; })},
        ParseCase{
            "simulate_devices", {"p", "--simulate=2"}, With([](auto& o) { o.simulate = "2"; })},
        ParseCase{"hid_next_word", {"p", "--hid", "sim:3"}, With([](auto& o) {
                      o.hidBackend = "sim:3";
                  })},
        ParseCase{"hid_value_is_not_a_switch", {"p", "--hid", "/close"}, With([](auto& o) {
                      o.hidBackend = "/close";
                  })},
        ParseCase{"hid_equals", {"p", "--hid=exec:qvm-sim"}, With([](auto& o) {
                      o.hidBackend = "exec:qvm-sim";
                  })},
        ParseCase{"remote_help_version",
                  {"p", "--remote", "--help", "--version"},
                  With([](auto& o) { o.remote = o.help = o.version = true; })},
        ParseCase{"hid_missing", {"p", "--hid"}, With([](auto& o) {
                      o.error = "--hid needs a backend";
                  })},
        ParseCase{
            "hid_empty", {"p", "--hid="}, With([](auto& o) { o.error = "--hid needs a backend"; })},
        ParseCase{"unknown_option", {"p", "--bogus"}, With([](auto& o) {
                      o.error = "unknown option --bogus";
                  })},
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

TEST_F(StartupTest, CloseWithNoInstanceSignalsAndWritesNothing) {
    const StartupOutcome out = Start({"p", "/close"});
    EXPECT_EQ(out.kind, StartupKind::kCloseRun);
    EXPECT_FALSE(SettingsExist());
    EXPECT_EQ(events_.PulsesSent(std::string(kCloseEventName)), 0);
    EXPECT_FALSE(events_.IsBound(std::string(kWaitEventName)));
    EXPECT_TRUE(out.warnings.empty());
}

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

TEST_F(StartupTest, EmptyLanguageSwitchStoresEmptyAndFallsBackToEnglish) {
    WriteLanguageFile();
    dir_.Write("user/set.ini", "[QZW]\nlanguage=2052\n");
    const StartupOutcome out = Start({"p", "/langid="});
    EXPECT_EQ(Stored("language"), "");
    EXPECT_EQ(out.settings.languageId, kDefaultLanguageId);
    EXPECT_EQ(out.strings.type_str[1], "No function");
}

TEST_F(StartupTest, MissingSettingsGiveDefaultsAndFoldersAreMade) {
    const StartupOutcome out = Start({"p"});
    EXPECT_EQ(out.settings.pin, 0);
    EXPECT_EQ(out.settings.languageId, 1033);
    EXPECT_TRUE(std::filesystem::is_directory(dir_.File("user/Favorite")));
    EXPECT_FALSE(SettingsExist());
}

struct GenPinCase {
    std::uint32_t draw;
    int pin;
};

class GenPinTest : public StartupTest, public testing::WithParamInterface<GenPinCase> {};

TEST_P(GenPinTest, StoresADrawBelowAThousandAndUsesIt) {
    const StartupOutcome out = Start({"p", "/genpin"}, [d = GetParam().draw] { return d; });
    EXPECT_EQ(Stored("pin"), std::to_string(GetParam().pin));
    EXPECT_EQ(out.settings.pin, GetParam().pin);
}

INSTANTIATE_TEST_SUITE_P(Draws, GenPinTest,
                         testing::Values(GenPinCase{0, 0}, GenPinCase{999, 999},
                                         GenPinCase{1000, 0}, GenPinCase{123456, 456},
                                         GenPinCase{4294967295u, 295}));

TEST_F(StartupTest, FirstInstanceOwnsEveryEventUntilReleased) {
    StartupOutcome first = Start({"p", "/hide"});
    ASSERT_EQ(first.kind, StartupKind::kFirstInstance) << first.message;
    EXPECT_TRUE(first.startHidden);
    for (std::string_view name :
         {kWaitEventName, kCloseEventName, kReloadEventName, kServerEventName, kDrawEventName}) {
        EXPECT_TRUE(events_.IsBound(std::string(name))) << name;
    }
    first.events = {};
    EXPECT_FALSE(events_.IsBound(std::string(kWaitEventName)));
    EXPECT_EQ(Start({"p"}).kind, StartupKind::kFirstInstance);
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

INSTANTIATE_TEST_SUITE_P(
    Cases, SecondInstanceTest,
    testing::Values(SecondCase{"plain", {"p"}, true}, SecondCase{"hidden", {"p", "/hide"}, false},
                    SecondCase{"hidden_with_genpin", {"/hide", "/genpin"}, false}),
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
    testing::Values(
        ReportCase{"first_instance_says_nothing", false, {"p", "--simulate"}, {}},
        ReportCase{"second_is_brought_to_front",
                   true,
                   {"p"},
                   {"already running; its window was brought to the front"}},
        ReportCase{"hidden_second_does_nothing", true, {"p", "/hide"}, {"nothing was done"}},
        ReportCase{"devices_of_a_second_are_not_taken",
                   true,
                   {"p", "--simulate=g0,g12", "--remote"},
                   {"brought to the front", "--simulate=g0,g12 --remote takes effect when"}},
        ReportCase{"backend_of_a_second_is_named",
                   true,
                   {"p", "--hid", "exec:qvm-sim"},
                   {"brought to the front", "--hid exec:qvm-sim"}},
        ReportCase{"stored_settings_apply_next_time",
                   true,
                   {"p", "/hide", "/langid=1031", "/genpin"},
                   {"nothing was done", "\"1031\" was stored", "new PIN was stored"}},
        ReportCase{"close_reaches_the_running_one",
                   true,
                   {"p", "/close"},
                   {"asked the running program to close"}},
        ReportCase{"close_with_nobody_running", false, {"p", "/close"}, {"not running"}}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace qvm
