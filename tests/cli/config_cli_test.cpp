// qvmctl's configuration commands on simulated devices kept in a temporary user folder:
// every run is a new session, as a user's shell would make it. The window's safety rules
// hold here too: the only left click of a profile stays unless forced.
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
        {{"set", "snapping", "ON"}, "\"angle_snapping\": true"},
        {{"set", "name", "3", "Sniper"}, "\"name\": \"Sniper\""},
        {{"assign", "1", "2", "copy"}, "\"text\": \"Ctrl + C\""},  // the window's name
        {{"assign", "2", "3", "6", "0xe9", "0", "0"}, "\"text\": \"Volume +\""},
        {{"set", "stage", "3"}, "\"current_stage\": 3"},
        {{"set", "cycle", "2", "Ctrl + C"}, "\"modifiers\": 1,\n          \"usage\": 6,"},
    };
    const Way ways[] = {{"", false, "g0"}, {"bridge", true, "g12"}};
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

// backup, reset, restore: the device memory ends byte for byte as it was.
TEST(QvmctlConfig, BackupResetRestoreGivesBackTheSameMemory) {
    // 16 KiB keeps the bridge run short; the 64 KiB case is the backup tests'.
    const Way ways[] = {{"", false, "g5x"}, {"bridge", true, "g12/mem=16k"}};
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

// The lines `show` prints for one profile.
std::string ProfileShown(const std::string& sim, int profile) {
    const std::string text = Qvmctl(OnSim(sim, {"show"})).out;
    const auto from = text.find("profile " + std::to_string(profile) + ": ");
    const auto to = text.find("profile " + std::to_string(profile + 1) + ": ", from);
    return from == std::string::npos ? "" : text.substr(from, to - from);
}

// Each step runs on the device the steps before it left; the profile's buttons are then
// as `shown` says.
TEST(QvmctlSafety, TheOnlyLeftClickStaysUnlessForced) {
    struct Step {
        std::vector<std::string> args;
        int status;
        int profile;
        std::string shown;
    };
    const Step steps[] = {
        {{"assign", "1", "1", "Right click"}, kExitUsage, 1, "button 1: Left click"},
        // Profile 2 is not the active one: its only left click is kept all the same.
        {{"assign", "2", "1", "Ctrl + C"}, kExitUsage, 2, "button 1: Left click"},
        {{"assign", "1", "3", "Left click"}, kExitOk, 1, "button 3: Left click"},
        {{"assign", "1", "1", "Right click"}, kExitOk, 1, "button 1: Right click"},
        {{"assign", "1", "3", "1", "0", "0", "0"}, kExitUsage, 1, "button 3: Left click"},
        {{"assign", "--force", "1", "3", "Right click"}, kExitOk, 1, "button 3: Right click"},
    };
    test::TempFolder folder;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.args[2] + " " + step.args.back());
        const Outcome run = Qvmctl(OnSim("g12", step.args));
        EXPECT_EQ(run.status, step.status) << run.err;
        if (step.status == kExitUsage && step.args.back() == "Right click") {
            EXPECT_TRUE(Has(run.err, "only left click of profile")) << run.err;
            EXPECT_TRUE(Has(run.err, "--force")) << run.err;
        }
        const std::string shown = ProfileShown("g12", step.profile);
        EXPECT_TRUE(Has(shown, step.shown)) << shown;
    }
}

}  // namespace
}  // namespace qvm::cli
