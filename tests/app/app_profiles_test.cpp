// Profiles that follow the program in use: the matching of a running program against the
// five slots, and the switch of a simulated mouse's profile as windows come to the front.
#include "session/app_profiles.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

#include "sim/sim_backend.h"
#include "support/fake_clock.h"
#include "support/fake_foreground.h"
#include "support/temp_folder.h"

extern char** environ;

namespace qvm {
namespace {

using Slots = std::vector<AppSlot>;

struct MatchCase {
    const char* label;
    Slots slots;
    const char* program;
    std::optional<int> expected;
};

TEST(AppSlotMatchTest, TheLowestSlotWhosePathEndsWithTheNameWins) {
    const MatchCase cases[] = {
        {"same program in two slots", {{}, {"/opt/game", ""}, {}, {"/opt/game", ""}}, "game", 1},
        {"longer file name ending in the name",
         {{"/usr/games/xgame", ""}, {"/opt/game", ""}},
         "game",
         0},
        {"letter case differs", {{"/usr/bin/Game", ""}}, "game", std::nullopt},
        {"empty slots only", {{}, {}, {}, {}, {}}, "game", std::nullopt},
        {"empty program name", {{"/usr/bin/game", ""}}, "", std::nullopt},
        {"path shorter than the name", {{"ame", ""}}, "game", std::nullopt},
        {"name ends the folder, not the file", {{"/opt/game/run", ""}}, "game", std::nullopt},
        {"fifth slot", {{}, {}, {}, {}, {"/usr/bin/game", ""}}, "game", 4},
        {"slots past the stored five",
         {{}, {}, {}, {}, {}, {"/usr/bin/game", ""}},
         "game",
         std::nullopt},
        {"whole path equals the name", {{"game", ""}}, "game", 0},
    };
    for (const MatchCase& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(MatchAppSlot(c.slots, c.program), c.expected);
    }
}

// The process ids of the programs the foreground reports name.
constexpr pid_t kGamePid = 100;
constexpr pid_t kEditorPid = 200;

Result<std::string> FakeProgramName(pid_t pid) {
    switch (pid) {
        case kGamePid:
            return std::string("game");
        case kEditorPid:
            return std::string("editor");
        default:
            return MakeError(ErrorKind::Io, "no such process");
    }
}

// A hub on a simulated mouse, loaded, with the app profiles over a fake foreground.
struct AppRig {
    test::TempFolder folder;
    test::FakeClock clock;
    std::unique_ptr<DeviceHub> hub;
    test::FakeForegroundWatcher* foreground = nullptr;
    std::unique_ptr<AppProfiles> apps;

    AppRig() {
        DeviceHubOptions options;
        options.simulate = "g12";
        options.userDataFolder = folder.path();
        auto made = DeviceHub::Open(options, clock);
        if (!made) {
            ADD_FAILURE() << made.message();
            return;
        }
        hub = std::move(made).value();
        hub->Refresh();
        hub->WaitIdle();
        auto watcher = std::make_unique<test::FakeForegroundWatcher>();
        foreground = watcher.get();
        apps = std::make_unique<AppProfiles>(*hub, std::move(watcher), "", &FakeProgramName);
    }
    int DeviceProfile() { return hub->Simulator()->Device(0).MouseState().profile; }
    bool Readable() {
        pollfd ready{apps->Fd(), POLLIN, 0};
        return ::poll(&ready, 1, 0) == 1;
    }
};

struct ForegroundStep {
    const char* label;
    unsigned long window;
    pid_t pid;
    std::optional<int> byHand;      // a profile the user selects first
    std::optional<int> switchedTo;  // the switch queued
    int deviceProfile;              // the mouse's profile afterwards
};

TEST(AppProfilesTest, ForegroundChangesSwitchTheMouseOnlyWhenTheProfileDiffers) {
    AppRig rig;
    ASSERT_TRUE(rig.apps);
    // "game" is bound to profile 3 and again, lower in priority, to profile 5.
    rig.apps->SetSlots(Slots{{}, {}, {"/opt/games/game", "Game"}, {}, {"/usr/bin/game", "G"}});
    ASSERT_EQ(rig.DeviceProfile(), 0);
    const ForegroundStep steps[] = {
        {"game comes to the front", 11, kGamePid, std::nullopt, 2, 2},
        {"same window reported again", 11, kGamePid, std::nullopt, std::nullopt, 2},
        {"profile changed by hand, same window", 11, kGamePid, 0, std::nullopt, 0},
        {"unbound program", 22, kEditorPid, std::nullopt, std::nullopt, 0},
        {"back to the game", 11, kGamePid, std::nullopt, 2, 2},
        {"another game window, profile already 3", 33, kGamePid, std::nullopt, std::nullopt, 2},
        {"no window in front", 0, 0, 1, std::nullopt, 1},
        {"window without a process", 44, 0, std::nullopt, std::nullopt, 1},
        {"process gone", 55, 999, std::nullopt, std::nullopt, 1},
        {"game again after all that", 11, kGamePid, std::nullopt, 2, 2},
    };
    for (const ForegroundStep& step : steps) {
        SCOPED_TRACE(step.label);
        if (step.byHand) {
            rig.hub->Change(HubOperation::ActiveProfile,
                            Setter(&ConfigModel::SetActiveProfile, *step.byHand));
            rig.hub->WaitIdle();
        }
        rig.foreground->Set({step.window, step.pid});
        ASSERT_TRUE(rig.Readable());
        const AppSwitchResult result = rig.apps->HandleReadable();
        EXPECT_FALSE(rig.Readable()) << "the report was not taken";
        EXPECT_EQ(result.profile, step.switchedTo);
        rig.hub->WaitIdle();
        EXPECT_EQ(rig.DeviceProfile(), step.deviceProfile);
        EXPECT_EQ(rig.hub->Snapshot().image->currentProfile, step.deviceProfile);
    }
}

// Bindings read again replace the old ones: an unbound program no longer switches.
TEST(AppProfilesTest, SlotsSetAgainReplaceTheOldBindings) {
    AppRig rig;
    ASSERT_TRUE(rig.apps);
    rig.apps->SetSlots(Slots{{}, {"/opt/game", ""}});
    rig.apps->SetSlots(Slots{{"/usr/bin/editor", ""}});
    EXPECT_EQ(rig.apps->OnForeground({1, kGamePid}).profile, std::nullopt);
    EXPECT_EQ(rig.apps->OnForeground({2, kEditorPid}).profile, std::nullopt);  // already 1
    rig.apps->SetSlots(Slots{{}, {}, {}, {"/usr/bin/editor", ""}});
    EXPECT_EQ(rig.apps->OnForeground({3, kEditorPid}).profile, 3);
}

// The program name of a live process, of one whose executable was removed while it runs,
// and of no process at all.
TEST(ProcessProgramNameTest, NamesTheExecutableFileOfTheProcess) {
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").filename().string();
    auto own = ProcessProgramName(::getpid());
    ASSERT_TRUE(own.ok()) << own.message();
    EXPECT_EQ(*own, self);

    test::TempFolder folder;
    const std::filesystem::path copy = std::filesystem::path(folder.path()) / "replaced game";
    std::filesystem::copy_file("/bin/sleep", copy);
    std::filesystem::permissions(copy, std::filesystem::perms::owner_exec,
                                 std::filesystem::perm_options::add);
    std::string program = copy.string();
    std::string seconds = "60";
    char* argv[] = {program.data(), seconds.data(), nullptr};
    pid_t child = 0;
    ASSERT_EQ(::posix_spawn(&child, program.c_str(), nullptr, nullptr, argv, environ), 0);
    // The link names the file once the child runs it; until then it names the parent.
    Result<std::string> name = MakeError("not started");
    for (int tries = 0; tries < 1000; ++tries) {
        name = ProcessProgramName(child);
        if (name.ok() && *name == "replaced game") break;
        ::usleep(10000);
    }
    std::filesystem::remove(copy);
    auto removed = ProcessProgramName(child);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ASSERT_TRUE(removed.ok()) << removed.message();
    EXPECT_EQ(*removed, "replaced game");

    for (pid_t none : {pid_t{0}, pid_t{-1}, child}) {
        EXPECT_FALSE(ProcessProgramName(none).ok()) << none;
    }
}

}  // namespace
}  // namespace qvm
