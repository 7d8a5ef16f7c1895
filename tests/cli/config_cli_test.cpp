// qvmctl's configuration commands on simulated devices kept in a temporary user folder:
// every run is a new session, as a user's shell would make it.
#include <gtest/gtest.h>

#include <filesystem>

#include "cli/qvmctl.h"
#include "run_qvmctl.h"
#include "support/temp_folder.h"

namespace qvm::cli {
namespace {

// The same devices served by qvm-sim over the bridge, their memory kept in `state`.
std::vector<std::string> Bridged(const std::string& state, const std::string& sim,
                                 std::vector<std::string> args) {
    args.insert(args.begin(), {"--hid", SimBridge(sim, state)});
    return args;
}

// Both ways to reach simulated devices whose memory outlives the run, and where each
// keeps a device's memory: in-process on several layout classes, through qvm-sim on one.
struct Way {
    const char* name;
    bool bridged;
    const char* kind;
};

std::vector<std::string> Via(const Way& way, const test::TempFolder& folder, const std::string& sim,
                             std::vector<std::string> args) {
    return way.bridged ? Bridged(folder.File("bridge"), sim, std::move(args))
                       : OnSim(sim, std::move(args));
}

std::string StateFile(const Way& way, const std::string& kind) {
    return (way.bridged ? "bridge/0-" : "sim/0-") + kind.substr(0, kind.find('/')) + ".mem";
}

// A change made by one run shows in the JSON of the next, for each layout class.
TEST(QvmctlConfig, ChangesShowInTheNextRun) {
    struct Step {
        std::vector<std::string> args;
        std::string json;  // what `show --json` must then contain
    };
    const Step steps[] = {
        {{"set", "dpi", "2", "1200", "600"}, "\"x_dpi\": 1200,\n      \"y_dpi\": 600"},
        {{"set", "rate", "250"}, "\"report_rate_hz\": 250"},
        {{"set", "snapping", "on"}, "\"angle_snapping\": true"},
        {{"set", "name", "3", "Sniper"}, "\"name\": \"Sniper\""},
        {{"assign", "1", "2", "Ctrl + C"}, "\"text\": \"Ctrl + C\""},
        {{"assign", "2", "3", "6", "0xe9", "0", "0"}, "\"text\": \"Volume +\""},
        {{"set", "stage", "3"}, "\"current_stage\": 3"},
    };
    const Way ways[] = {{"", false, "g0"}, {"", false, "g5x"}, {"bridge", true, "g12"}};
    for (const Way& way : ways) {
        SCOPED_TRACE(std::string(way.name) + " " + way.kind);
        test::TempFolder folder;
        std::filesystem::create_directories(folder.File("bridge"));
        for (const auto& step : steps) {
            Outcome set = Qvmctl(Via(way, folder, way.kind, step.args));
            ASSERT_EQ(set.status, kExitOk)
                << step.args[0] << ' ' << step.args[1] << ": " << set.err;
            Outcome show = Qvmctl(Via(way, folder, way.kind, {"show", "--json"}));
            ASSERT_EQ(show.status, kExitOk) << show.err;
            EXPECT_TRUE(Has(show.out, step.json)) << step.json << "\n" << show.out;
        }
    }
}

TEST(QvmctlConfig, ColourAndFlagsPerClass) {
    test::TempFolder folder;
    // Class A keeps two bits a channel: #ff5500 becomes 255, 85, 0.
    ASSERT_EQ(Qvmctl(OnSim("g0", {"set", "colour", "2", "#ff5500"})).status, kExitOk);
    EXPECT_TRUE(Has(Qvmctl(OnSim("g0", {"show"})).out, "profile 2: \"Profile2\" #ff5500"));
    ASSERT_EQ(Qvmctl(OnSim("g12", {"set", "colour", "2", "#123456"})).status, kExitOk);
    EXPECT_TRUE(Has(Qvmctl(OnSim("g12", {"show"})).out, "profile 2: \"Profile2\" #123456"));
    ASSERT_EQ(Qvmctl(OnSim("g12", {"set", "flags", "5", "on"})).status, kExitOk);
    EXPECT_TRUE(Has(Qvmctl(OnSim("g12", {"show"})).out, "  5: 8000 x 8000  [flag]"));
    // Class A has flags for four stages only.
    Outcome fifth = Qvmctl(OnSim("g0", {"set", "flags", "5", "on"}));
    EXPECT_EQ(fifth.status, kExitUsage);
    EXPECT_TRUE(Has(fifth.err, "stages 1..4")) << fifth.err;
}

// backup, reset, restore: the device memory ends byte for byte as it was.
TEST(QvmctlConfig, BackupResetRestoreGivesBackTheSameMemory) {
    // 16 KiB keeps the bridge run short; the 64 KiB case is the backup tests'.
    const Way ways[] = {{"", false, "g0"}, {"", false, "g5x"}, {"bridge", true, "g12/mem=16k"}};
    for (const Way& way : ways) {
        const std::string kind = way.kind;
        SCOPED_TRACE(std::string(way.name) + " " + kind);
        test::TempFolder folder;
        std::filesystem::create_directories(folder.File("bridge"));
        auto run = [&](std::vector<std::string> args, const std::string& input = "") {
            return Qvmctl(Via(way, folder, kind, std::move(args)), input);
        };
        ASSERT_EQ(run({"assign", "1", "2", "Ctrl + C"}).status, kExitOk);
        ASSERT_EQ(run({"set", "name", "1", "Backed"}).status, kExitOk);
        const std::string state = StateFile(way, kind);
        const auto before = folder.Read(state);
        ASSERT_FALSE(before.empty());

        const std::string file = folder.File("mouse.bf");
        Outcome backup = run({"backup", file});
        ASSERT_EQ(backup.status, kExitOk) << backup.err;
        Outcome reset = run({"reset", "--yes"});
        ASSERT_EQ(reset.status, kExitOk) << reset.err;
        EXPECT_NE(folder.Read(state), before);
        EXPECT_FALSE(Has(run({"show"}).out, "Backed"));

        Outcome restore = run({"restore", file}, "y\n");
        ASSERT_EQ(restore.status, kExitOk) << restore.err;
        EXPECT_EQ(folder.Read(state), before);
        EXPECT_TRUE(Has(run({"show"}).out, "profile 1: \"Backed\""));
    }
}

TEST(QvmctlConfig, RestoreRefusesOtherFilesAndSizes) {
    test::TempFolder folder;
    const std::string small = folder.File("small.bf");
    ASSERT_EQ(Qvmctl(OnSim("g5x/mem=16k", {"backup", small})).status, kExitOk);
    EXPECT_EQ(std::filesystem::file_size(small), 22u + 16384u);

    Outcome other = Qvmctl(OnSim("g5x", {"restore", "--yes", small}));
    EXPECT_EQ(other.status, kExitUsage);
    EXPECT_TRUE(Has(other.err, "--force")) << other.err;
    Outcome forced = Qvmctl(OnSim("g5x", {"restore", "--yes", "--force", small}));
    EXPECT_EQ(forced.status, kExitOk) << forced.err;

    const std::string junk = folder.Write("junk.bf", std::string("\x05hello world, not a backup"));
    Outcome bad = Qvmctl(OnSim("g5x", {"restore", "--yes", junk}));
    EXPECT_EQ(bad.status, kExitUsage);
    EXPECT_TRUE(Has(bad.err, "invalid format !!")) << bad.err;
    Outcome missing = Qvmctl(OnSim("g5x", {"restore", "--yes", folder.File("none.bf")}));
    EXPECT_EQ(missing.status, kExitUsage);
    EXPECT_TRUE(Has(missing.err, "no such file")) << missing.err;
}

// set cycle: the keys show in the next run's listing; no keys clears the list.
TEST(QvmctlConfig, KeyCycleListIsSetAndCleared) {
    struct Step {
        std::vector<std::string> args;
        int status;
        std::string shown;     // must appear in `show` afterwards ("" for none)
        std::string notShown;  // must not appear
    };
    const Step steps[] = {
        {{"set", "cycle", "2", "Ctrl + C", "F5", "shift + a"},
         kExitOk,
         "key cycle: Ctrl + C, F5, Shift + A",
         ""},
        {{"set", "cycle", "2", "Left click"}, kExitUsage, "key cycle: Ctrl + C, F5, Shift + A", ""},
        {{"set", "cycle", "2", "A", "B", "C", "D", "E", "F", "G", "H", "I"},
         kExitUsage,
         "key cycle: Ctrl + C, F5, Shift + A",
         ""},
        {{"set", "cycle", "2"}, kExitOk, "", "key cycle:"},
    };
    for (const std::string kind : {"g0", "g12"}) {
        SCOPED_TRACE(kind);
        test::TempFolder folder;
        for (const Step& step : steps) {
            SCOPED_TRACE(step.args.size());
            Outcome set = Qvmctl(OnSim(kind, step.args));
            EXPECT_EQ(set.status, step.status) << set.err;
            EXPECT_EQ(set.err.empty(), step.status == kExitOk) << set.err;
            const std::string shown = Qvmctl(OnSim(kind, {"show"})).out;
            EXPECT_TRUE(step.shown.empty() || Has(shown, step.shown)) << shown;
            EXPECT_TRUE(step.notShown.empty() || !Has(shown, step.notShown)) << shown;
        }
    }
}

}  // namespace
}  // namespace qvm::cli
