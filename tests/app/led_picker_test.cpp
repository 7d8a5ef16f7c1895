// The picker's LED work on simulated mice: what each choice sends and stores for a
// selection, Cancel putting the stored records back on the LEDs without touching memory,
// previews coalesced through the real hub while one is in flight.
#include <gtest/gtest.h>

#include <future>

#include "lighting/wire_tap.h"
#include "present/led_picker.h"
#include "support/fake_clock.h"
#include "support/temp_folder.h"

namespace qvm {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr Rgb kLedBlue{0, 0, 0xFF}, kLedRed{0xFF, 0, 0};
constexpr uint8_t kLedOwn = kLedOwnColour, kLedBreathe = kLedOwnColour | kLedBreathing;

struct LedSelectionCase {
    const char* devices;
    uint32_t table;
    std::vector<std::pair<int, Bytes>> before;  // records poked in before the load
    std::vector<int> leds;
    PickerChoice choice;
    std::vector<Bytes> preview;  // one frame per LED in order, trailing zeros cut
    std::vector<Bytes> after;    // the records OK stores, LED by LED
};

// Each change previews every selected LED once and stores nothing; Cancel after several
// previews shows the stored records again and leaves the memory byte for byte as it was;
// OK stores every selected LED and nothing else.
TEST(LedPicker, ChoicesOverASelection) {
    const PickerChoice off{{}, PickerMode::Off}, follow{{}, PickerMode::ProfileColour};
    // clang-format off
    const LedSelectionCase cases[] = {
        // OFF for LED 3 of a generation 11 mouse.
        {"g11", 0x500, {{3, {9, 9, 9, kLedBreathe}}}, {3}, off, {{0x13, 3, 0x80}},
         {{0, 0, 0, 0x80}}},
        // A colour keeps each LED's own breathing.
        {"g12", 0x500, {{1, {0xFF, 0, 0, kLedBreathe}}, {4, {0, 0xFF, 0, kLedOwn}}}, {1, 4},
         {kLedBlue, PickerMode::Colour}, {{0x13, 1, 0xC0, 0, 0, 0xFF}, {0x13, 4, 0x80, 0, 0, 0xFF}},
         {{0, 0, 0xFF, kLedBreathe}, {0, 0, 0xFF, kLedOwn}}},
        // Breathing blue, and ON red for a dark LED and a breathing one.
        {"g12", 0x500, {}, {0, 2}, {kLedBlue, PickerMode::Breathing},
         {{0x13, 0, 0xC0, 0, 0, 0xFF}, {0x13, 2, 0xC0, 0, 0, 0xFF}},
         {{0, 0, 0xFF, kLedBreathe}, {0, 0, 0xFF, kLedBreathe}}},
        {"g12", 0x500, {{6, {0, 0, 0, kLedOwn}}, {7, {1, 2, 3, kLedBreathe}}}, {6, 7, 6},
         {kLedRed, PickerMode::On}, {{0x13, 6, 0x80, 0xFF}, {0x13, 7, 0x80, 0xFF}},
         {{0xFF, 0, 0, kLedOwn}, {0xFF, 0, 0, kLedOwn}}},
        // The profile swatch: the profile's colour, bit 7 clear.
        {"g12", 0x500, {{5, {1, 2, 3, kLedBreathe}}}, {5}, follow,
         {{0x13, 5, 0x40, 0x21, 0x43, 0x65}}, {{0x21, 0x43, 0x65, 0x40}}},
        {"g5x", 0x460, {}, {2, 3}, off, {{1, 8, 2, 2, 0, 0x80}, {1, 8, 2, 3, 0, 0x80}},
         {{0, 0, 0, 0x80}, {0, 0, 0, 0x80}}},
    };
    // clang-format on
    for (const LedSelectionCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
        test::TappedMouse rig(c.devices);
        for (const auto& [led, record] : c.before) rig.Poke(c.table + 4 * uint32_t(led), record);
        rig.Load();
        if (!rig.Image()->Layout().colourPacked) {
            const int profile = rig.Image()->currentProfile;
            ASSERT_TRUE(rig.model->SetProfileColour(profile, 0x21, 0x43, 0x65).ok());
        }
        const auto picker = LedPicker::Open(*rig.model, c.leds).value();
        const Bytes memory = rig.Device().SaveImage();
        rig.tap->TakeRequests();
        ASSERT_TRUE(picker.PreviewTask(c.choice)(*rig.model, {}).ok());
        EXPECT_EQ(rig.tap->TakeRequests(), c.preview);
        ASSERT_TRUE(picker.PreviewTask({kLedRed, PickerMode::Breathing})(*rig.model, {}).ok());
        ASSERT_TRUE(picker.RestoreTask()(*rig.model, {}).ok());
        EXPECT_EQ(rig.Device().SaveImage(), memory);
        for (const LedEdit& stored : picker.Stored()) {
            EXPECT_EQ(rig.State().leds[std::size_t(stored.led)], EncodeLedRecord(stored.record));
        }
        ASSERT_TRUE(picker.StoreTask(c.choice)(*rig.model, {}).ok());
        Bytes expected = memory;
        for (std::size_t i = 0; i < c.after.size(); ++i) {
            std::copy_n(c.after[i].begin(), 4, expected.begin() + c.table + 4 * picker.Leds()[i]);
        }
        EXPECT_EQ(rig.Device().SaveImage(), expected);
    }
}

// Fifty changes while a preview is in flight on the hub's worker give exactly one more
// preview, with the last colour.
TEST(LedPicker, PreviewsCoalesceBehindTheHub) {
    test::TempFolder folder;
    test::FakeClock clock;
    auto hub = DeviceHub::Open({.simulate = "g12", .userDataFolder = folder.path()}, clock).value();
    hub->Refresh();
    hub->WaitIdle();
    for (const std::vector<int>& none : {std::vector<int>{}, {2, 16}, {-1}}) {
        EXPECT_EQ(LedPicker::Open(*hub->Model(), none).kind(), ErrorKind::BadInput);
    }
    auto picker = LedPicker::Open(*hub->Model(), {4}).value();

    PreviewCoalescer coalescer;
    std::atomic<int> previews{0};
    std::promise<void> allDone;
    std::function<void(const PickerChoice&)> start = [&](const PickerChoice& choice) {
        ++previews;
        hub->Change(HubOperation::Lighting, picker.PreviewTask(choice, [&] {
            if (auto next = coalescer.Finished()) {
                start(*next);
            } else {
                allDone.set_value();
            }
        }));
    };
    std::promise<void> gate;
    hub->Change(HubOperation::Lighting, [released = gate.get_future().share()](auto&, auto&) {
        released.wait();
        return Status{};
    });
    start(coalescer.Want({{1, 0, 0}, PickerMode::Colour}).value());
    for (int i = 1; i <= 50; ++i) {
        EXPECT_FALSE(coalescer.Want({{uint8_t(i), 0x11, 0x22}, PickerMode::Colour}));
    }
    gate.set_value();
    allDone.get_future().wait();
    hub->WaitIdle();
    EXPECT_EQ(previews.load(), 2);
    EXPECT_FALSE(coalescer.InFlight());
    const auto live = hub->Simulator()->Device(0).MouseState().leds[4];
    EXPECT_EQ(live, (std::array<uint8_t, 4>{50, 0x11, 0x22, kLedOwn}));
}

}  // namespace
}  // namespace qvm
