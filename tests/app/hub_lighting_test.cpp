// Lighting through the device hub on simulated devices: what a keyboard change leaves on
// the device is what the next run of the program finds, and a keyboard task is refused
// while a mouse is active.
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
    Status lastLighting = MakeError("no lighting task finished");

    LightingHubRun(const test::TempFolder& folder, const std::string& devices) {
        DeviceHubOptions options;
        options.simulate = devices;
        options.userDataFolder = folder.path();
        auto made = DeviceHub::Open(options, clock);
        EXPECT_TRUE(made.ok()) << made.message();
        hub = std::move(made).value();
        HubListener listener;
        listener.finished = [this](HubOperation op, const Status& s) {
            std::lock_guard lock(m);
            if (op == HubOperation::Lighting) lastLighting = s;
        };
        hub->SetListener(listener);
        hub->Refresh();
        hub->WaitIdle();
    }
    Status Keyboard(DeviceHub::KeyboardTask task) {
        hub->ChangeKeyboard(HubOperation::Lighting, std::move(task));
        hub->WaitIdle();
        std::lock_guard lock(m);
        return lastLighting;
    }
    Status Mouse(DeviceHub::ModelTask task) {
        hub->Change(HubOperation::Lighting, std::move(task));
        hub->WaitIdle();
        std::lock_guard lock(m);
        return lastLighting;
    }
};

TEST(HubLighting, KeyboardLightingSurvivesARestart) {
    test::TempFolder folder;
    const std::vector<KeyColourAt> wasd = {{26, {0, 0, 0xFF, true}},
                                           {4, {0, 0xFF, 0, true}},
                                           {22, {0xFF, 0, 0, true}},
                                           {7, {0x10, 0x20, 0x30, true}}};
    {
        LightingHubRun run(folder, "mx28");
        ASSERT_TRUE(run.hub->Snapshot().keyboard);
        EXPECT_EQ(run.hub->Snapshot().keyboardLighting, nullptr);
        const Status changed = run.Keyboard([&](KeyboardLighting& l, const auto&) -> Status {
            KeyboardEffectChange ripple;
            ripple.effect = 10;
            ripple.colour = Rgb{0x12, 0x34, 0x56};
            if (Status s = l.ChangeEffect(ripple); !s) return s;
            return l.WriteKeyColours(wasd);
        });
        ASSERT_TRUE(changed.ok()) << changed.message();
        const auto shown = run.hub->Snapshot().keyboardLighting;
        ASSERT_NE(shown, nullptr);
        EXPECT_EQ(shown->effect, 10);
        EXPECT_EQ(shown->keys.size(), wasd.size());
    }
    LightingHubRun again(folder, "mx28");
    std::vector<KeyColourAt> read;
    const Status status = again.Keyboard([&](KeyboardLighting& l, const auto&) -> Status {
        const std::vector<uint8_t> keys = {4, 7, 22, 26};
        auto colours = l.ReadKeyColours(keys);
        if (!colours) return colours.error();
        read = *colours;
        return {};
    });
    ASSERT_TRUE(status.ok()) << status.message();
    const auto shown = again.hub->Snapshot().keyboardLighting;
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(shown->effect, 10);
    EXPECT_EQ(shown->colour2, (Rgb{0x12, 0x34, 0x56}));
    ASSERT_EQ(read.size(), 4u);
    EXPECT_EQ(read[0], wasd[1]);
    EXPECT_EQ(read[3], wasd[0]);
}

// Mouse lighting runs as a model task; a keyboard task finds no keyboard then.
TEST(HubLighting, MouseTaskRunsAndKeyboardTaskIsRefused) {
    test::TempFolder folder;
    LightingHubRun run(folder, "g12");
    const Status set =
        run.Mouse([](ConfigModel& m, const auto&) { return SetMouseLightingEffect(m, 3); });
    ASSERT_TRUE(set.ok()) << set.message();
    EXPECT_EQ(MouseLightingEffect(*run.hub->Snapshot().image).value(), 3);
    const Status refused = run.Keyboard([](KeyboardLighting&, const auto&) { return Status{}; });
    EXPECT_EQ(refused.kind(), ErrorKind::BadInput);
}

}  // namespace
}  // namespace qvm
