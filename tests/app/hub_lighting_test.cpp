// Lighting through the device hub on simulated devices: a keyboard change is what the next
// run of the program finds, and a keyboard task is refused while a mouse is active.
#include <gtest/gtest.h>

#include <mutex>

#include "lighting/keyboard_lighting.h"
#include "lighting/mouse_lighting.h"
#include "session/device_hub.h"
#include "support/fake_clock.h"
#include "support/temp_folder.h"

namespace qvm {
namespace {

// One run of the program on the simulated devices kept in `folder`.
struct LightingHubRun {
    test::FakeClock clock;
    std::unique_ptr<DeviceHub> hub;
    std::mutex m;
    Status lastLighting = MakeError("no lighting task finished");  // guarded by m
    LightingHubRun(const test::TempFolder& folder, const std::string& devices) {
        hub =
            DeviceHub::Open({.simulate = devices, .userDataFolder = folder.path()}, clock).value();
        hub->SetListener({.finished = [this](HubOperation op, const Status& s) {
            std::lock_guard lock(m);
            if (op == HubOperation::Lighting) lastLighting = s;
        }});
        hub->Refresh();
        hub->WaitIdle();
    }
    Status Finished() {
        hub->WaitIdle();
        std::lock_guard lock(m);
        return lastLighting;
    }
};

TEST(HubLighting, KeyboardLightingSurvivesARestart) {
    test::TempFolder folder;
    const std::vector<KeyColourAt> keys = {{4, {0, 0xFF, 0, true}}, {26, {0, 0, 0xFF, true}}};
    {
        LightingHubRun run(folder, "mx28");
        run.hub->ChangeKeyboard(HubOperation::Lighting, [&](KeyboardLighting& l, const auto&) {
            const Status s = l.ChangeEffect({10, {}, {}, {}, Rgb{0x12, 0x34, 0x56}});
            return s ? l.WriteKeyColours(keys) : s;
        });
        ASSERT_TRUE(run.Finished().ok()) << run.Finished().message();
        ASSERT_NE(run.hub->Snapshot().keyboardLighting, nullptr);
        EXPECT_EQ(run.hub->Snapshot().keyboardLighting->keys.size(), keys.size());
    }
    LightingHubRun again(folder, "mx28");
    std::vector<KeyColourAt> read;
    again.hub->ChangeKeyboard(HubOperation::Lighting, [&](KeyboardLighting& l, const auto&) {
        auto colours = l.ReadKeyColours(std::vector<uint8_t>{4, 26});
        if (colours) read = *colours;
        return colours ? Status{} : Status(colours.error());
    });
    ASSERT_TRUE(again.Finished().ok()) << again.Finished().message();
    const auto shown = again.hub->Snapshot().keyboardLighting;
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(std::tuple(shown->effect, shown->colour2), std::tuple(10, Rgb{0x12, 0x34, 0x56}));
    EXPECT_EQ(read, keys);
}

// Mouse lighting runs as a model task; a keyboard task finds no keyboard then.
TEST(HubLighting, MouseTaskRunsAndKeyboardTaskIsRefused) {
    test::TempFolder folder;
    LightingHubRun run(folder, "g12");
    run.hub->Change(HubOperation::Lighting,
                    [](ConfigModel& m, const auto&) { return SetMouseLightingEffect(m, 3); });
    ASSERT_TRUE(run.Finished().ok()) << run.Finished().message();
    EXPECT_EQ(MouseLightingEffect(*run.hub->Snapshot().image).value(), 3);
    run.hub->ChangeKeyboard(HubOperation::Lighting,
                            [](KeyboardLighting&, const auto&) { return Status{}; });
    EXPECT_EQ(run.Finished().kind(), ErrorKind::BadInput);
}

}  // namespace
}  // namespace qvm
