// qvmctl keeps the window's safety rules (the only left click, the device's DPI stages),
// takes every name the window shows for a function, and says what the device stored
// when it differs from what was asked.
#include <gtest/gtest.h>

#include "cli/qvmctl.h"
#include "run_qvmctl.h"
#include "support/temp_folder.h"

namespace qvm::cli {
namespace {

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
    for (const std::string sim : {"g0", "g12"}) {
        SCOPED_TRACE(sim);
        test::TempFolder folder;
        for (const Step& step : steps) {
            SCOPED_TRACE(step.args[2] + " " + step.args.back());
            const Outcome run = Qvmctl(OnSim(sim, step.args));
            EXPECT_EQ(run.status, step.status) << run.err;
            if (step.status == kExitUsage && step.args.back() == "Right click") {
                EXPECT_TRUE(Has(run.err, "only left click of profile")) << run.err;
                EXPECT_TRUE(Has(run.err, "--force")) << run.err;
            }
            const std::string shown = ProfileShown(sim, step.profile);
            EXPECT_TRUE(Has(shown, step.shown)) << shown;
        }
    }
}

TEST(QvmctlSafety, StagesTheDeviceLacksAreRefused) {
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string message;
    };
    const Case cases[] = {
        {{"set", "stage", "5"}, kExitUsage, "DPI stage 5 is out of range: allowed 1..4\n"},
        {{"set", "dpi", "5", "800"}, kExitUsage, "DPI stage 5 is out of range: allowed 1..4\n"},
        {{"set", "dpi", "4", "800"}, kExitOk, ""},
    };
    for (const std::string sim : {"g0"}) {
        test::TempFolder folder;
        ASSERT_EQ(Qvmctl(OnSim(sim, {"show"})).status, kExitOk);
        const std::string memory = "sim/0-" + sim + ".mem";
        for (const Case& c : cases) {
            SCOPED_TRACE(sim + " " + c.args[1] + " " + c.args[2]);
            const auto before = folder.Read(memory);
            const Outcome run = Qvmctl(OnSim(sim, c.args));
            EXPECT_EQ(run.status, c.status) << run.err;
            EXPECT_TRUE(Has(run.err, c.message)) << run.err;
            if (c.status != kExitOk) {
                EXPECT_EQ(folder.Read(memory), before);
            }
        }
    }
}

// What the device keeps of a name or a colour is printed when it is not what was asked;
// long operations print no progress where standard error is no terminal.
TEST(QvmctlSafety, WhatWasStoredIsToldWhenItDiffers) {
    struct Case {
        const char* sim;
        std::vector<std::string> args;
        std::string out;  // "" for nothing at all
    };
    const Case cases[] = {
        {"g12", {"set", "name", "1", "Sniperrifle"}, "profile 1 name stored as \"Sniperrif\""},
        {"g0", {"set", "colour", "2", "#123456"}, "profile 2 colour stored as #005555"},
        {"g0", {"set", "colour", "2", "#55aaff"}, ""},
        {"g12", {"reset", "--yes"}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.sim) + " " + c.args[1] + " " + c.args.back());
        test::TempFolder folder;
        const Outcome run = Qvmctl(OnSim(c.sim, c.args));
        ASSERT_EQ(run.status, kExitOk) << run.err;
        if (c.out.empty()) {
            EXPECT_EQ(run.out, "");
        } else {
            EXPECT_TRUE(Has(run.out, c.out)) << run.out;
        }
        EXPECT_EQ(run.err, "");
    }
    test::TempFolder folder;
    const Outcome backup = Qvmctl(OnSim("g12", {"backup", folder.File("m.bf")}));
    ASSERT_EQ(backup.status, kExitOk) << backup.err;
    EXPECT_EQ(backup.err, "") << "no progress line off a terminal";
}

// Every spelling the window shows names its function, in any case, blanks optional.
TEST(QvmctlVocabulary, TheWindowsNamesAreTaken) {
    struct Case {
        std::string name;
        std::string shown;
    };
    const Case cases[] = {
        {"Copy", "Ctrl + C"},
        {"Fire button (50 ms)", "Fire button (50ms)"},
        {"volume+", "Volume +"},
    };
    test::TempFolder folder;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome run = Qvmctl(OnSim("g12", {"assign", "1", "2", c.name}));
        ASSERT_EQ(run.status, kExitOk) << run.err;
        EXPECT_EQ(run.out, "profile 1 button 2: " + c.shown + "\n");
    }
    const Outcome cycle = Qvmctl(OnSim("g12", {"set", "cycle", "1", "Copy", "ctrl+v", "f5"}));
    ASSERT_EQ(cycle.status, kExitOk) << cycle.err;
    EXPECT_EQ(cycle.out, "profile 1 key cycle: Ctrl + C, Ctrl + V, F5\n");

    ASSERT_EQ(Qvmctl(OnSim("g12", {"set", "snapping", "ON"})).status, kExitOk);
    EXPECT_TRUE(Has(Qvmctl(OnSim("g12", {"show"})).out, "angle snapping: on"));
    EXPECT_EQ(Qvmctl(OnSim("g12", {"set", "snapping", "onn"})).status, kExitUsage);
}

}  // namespace
}  // namespace qvm::cli
