// Profiles that follow the program in use: matching a running program against the five
// slots, and switching a simulated mouse's profile as windows come to the front.
#include "session/app_profiles.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <unistd.h>

#include <filesystem>

#include "sim/sim_backend.h"
#include "support/fake_clock.h"
#include "support/fake_foreground.h"
#include "support/sim_hub.h"
#include "support/temp_folder.h"
#ifdef QVM_HAVE_LINUX_HID
#include "support/x11_window_manager_double.h"
#include "support/xvfb.h"
#endif

namespace qvm {
namespace {

using Slots = std::vector<AppSlot>;

TEST(AppSlotMatchTest, TheLowestSlotWhosePathEndsWithTheNameWins) {
    const struct {
        Slots slots;
        const char* program;
        std::optional<int> expected;
    } cases[] = {
        {{{}, {"/opt/game", ""}, {}, {"/opt/game", ""}}, "game", 1},      // same program twice
        {{{"/usr/games/xgame", ""}, {"/opt/game", ""}}, "game", 0},       // ends with the name
        {{{"/usr/bin/Game", ""}}, "game", std::nullopt},                  // letter case differs
        {{{}, {}, {}, {}, {}}, "game", std::nullopt},                     // empty slots
        {{{"ame", ""}}, "game", std::nullopt},                            // path shorter than name
        {{{}, {}, {}, {}, {}, {"/bin/game", ""}}, "game", std::nullopt},  // past the five
    };
    for (const auto& c : cases) EXPECT_EQ(MatchAppSlot(c.slots, c.program), c.expected);
}

constexpr pid_t kGamePid = 100;
constexpr pid_t kEditorPid = 200;

Result<std::string> FakeProgramName(pid_t pid) {
    if (pid == kGamePid) return std::string("game");
    if (pid == kEditorPid) return std::string("editor");
    return MakeError(ErrorKind::Io, "no such process");
}

// A simulated mouse behind a hub (not loaded yet) and a foreground watcher the test sets.
struct SimMouseRig {
    test::TempFolder folder;
    test::FakeClock clock;
    std::unique_ptr<test::FakeForegroundWatcher> watcher =
        std::make_unique<test::FakeForegroundWatcher>();
    test::FakeForegroundWatcher& foreground = *watcher;
    std::unique_ptr<DeviceHub> hub = test::OpenSimHub("g12", folder.path(), clock);
};

TEST(AppProfilesTest, ForegroundChangesSwitchTheMouseOnlyWhenTheProfileDiffers) {
    SimMouseRig rig;
    ASSERT_TRUE(rig.hub);
    const std::unique_ptr<DeviceHub>& hub = rig.hub;
    test::FakeForegroundWatcher& foreground = rig.foreground;
    hub->Refresh();
    AppProfiles apps(*hub, std::move(rig.watcher), "", &FakeProgramName);
    // "game" is bound to profile 3 and, lower in priority, to profile 5.
    apps.SetSlots(Slots{{}, {}, {"/opt/games/game", "Game"}, {}, {"/usr/bin/game", "G"}});
    const struct {
        unsigned long window;
        pid_t pid;
        std::optional<int> byHand;  // a profile the user selects first
        std::optional<int> switched;
        int profile;  // the mouse's afterwards
    } steps[] = {
        {11, kGamePid, std::nullopt, 2, 2},
        {11, kGamePid, std::nullopt, std::nullopt, 2},    // same window again
        {11, kGamePid, 0, std::nullopt, 0},               // by hand, same window: no switch
        {22, kEditorPid, std::nullopt, std::nullopt, 0},  // unbound program
        {11, kGamePid, std::nullopt, 2, 2},               // back: switches again
        {33, kGamePid, std::nullopt, std::nullopt, 2},    // already profile 3
        {0, 0, 1, std::nullopt, 1},                       // no window
        {44, 999, std::nullopt, std::nullopt, 1},         // process gone
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.window);
        if (step.byHand) {
            hub->Change(HubOperation::ActiveProfile,
                        Setter(&ConfigModel::SetActiveProfile, *step.byHand));
        }
        hub->WaitIdle();
        foreground.Set({step.window, step.pid});
        EXPECT_EQ(apps.HandleReadable().profile, step.switched);
        pollfd taken{apps.Fd(), POLLIN, 0};
        EXPECT_EQ(::poll(&taken, 1, 0), 0) << "the report was left unread";
        hub->WaitIdle();
        EXPECT_EQ(hub->Simulator()->Device(0).MouseState().profile, step.profile);
    }
}

// The program the user is in when qvm-gaming starts: its window comes before the mouse has
// been read, and the switch happens once the mouse is there.
TEST(AppProfilesTest, AWindowInFrontBeforeTheMouseLoadedSwitchesOnceItHas) {
    SimMouseRig rig;
    ASSERT_TRUE(rig.hub);
    AppProfiles apps(*rig.hub, std::move(rig.watcher), "", &FakeProgramName);
    apps.SetSlots(Slots{{}, {}, {"/opt/games/game", "Game"}});
    rig.foreground.Set({11, kGamePid});
    EXPECT_EQ(apps.HandleReadable().profile, std::nullopt);  // nothing loaded yet
    rig.hub->Refresh();
    rig.hub->WaitIdle();
    // The same window, asked again once the mouse is loaded.
    EXPECT_EQ(apps.HandleReadable().profile, 2);
    rig.hub->WaitIdle();
    EXPECT_EQ(rig.hub->Simulator()->Device(0).MouseState().profile, 2);
}

#ifdef QVM_HAVE_LINUX_HID
// The whole way on an X display: another client makes a window of this very process the
// active one, the watcher wakes, and the simulated mouse switches to the bound profile.
TEST(AppProfilesTest, OnAnXDisplayTheProgramBroughtToTheFrontSwitchesTheMouse) {
    if (!test::XvfbInstalled()) GTEST_SKIP() << "Xvfb is not installed (Debian package xvfb)";
    test::Xvfb xvfb;
    ASSERT_FALSE(xvfb.Name().empty()) << "Xvfb did not start";
    test::X11WindowManagerDouble manager(xvfb.Name());
    test::TempFolder folder;
    DeviceHubOptions options;
    options.simulate = "g12";
    options.userDataFolder = folder.path();
    auto hub = DeviceHub::Open(options);
    ASSERT_TRUE(hub.ok()) << hub.message();
    (*hub)->Refresh();
    auto watcher = OpenForegroundWatcher(xvfb.Name());
    ASSERT_TRUE(watcher.ok()) << watcher.message();
    AppProfiles apps(**hub, std::move(watcher).value(), "");
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    apps.SetSlots(Slots{{}, {}, {self, "These tests"}});
    const unsigned long unbound = manager.NewWindow(1), ours = manager.NewWindow(::getpid());
    for (const auto& [window, profile] : {std::pair{unbound, 0}, std::pair{ours, 2}}) {
        manager.Activate(window);
        pollfd readable{apps.Fd(), POLLIN, 0};
        ASSERT_EQ(::poll(&readable, 1, 10000), 1) << "the change did not wake the watcher";
        apps.HandleReadable();
        (*hub)->WaitIdle();
        EXPECT_EQ((*hub)->Simulator()->Device(0).MouseState().profile, profile);
    }
}
#endif

}  // namespace
}  // namespace qvm
