// The picker's LED work on simulated mice: what each choice sends and stores for a
// selection, Cancel putting the stored records back on the LEDs without touching memory,
// and previews coalesced through the real hub while one is in flight.
#include <gtest/gtest.h>

#include <future>
#include <sstream>

#include "lighting/wire_tap.h"
#include "present/led_picker.h"
#include "support/fake_clock.h"
#include "support/temp_folder.h"

namespace qvm {
namespace {

using Bytes = std::vector<uint8_t>;

std::vector<Bytes> LedFrames(std::initializer_list<const char*> texts) {
    std::vector<Bytes> out;
    for (const char* text : texts) {
        std::istringstream in(text);
        Bytes& frame = out.emplace_back();
        for (std::string w; in >> w;) frame.push_back(uint8_t(std::stoul(w, nullptr, 16)));
    }
    return out;
}

Status RunLedTask(const DeviceHub::ModelTask& task, ConfigModel& model) {
    return task(model, {});
}

constexpr Rgb kLedBlue{0, 0, 0xFF}, kLedRed{0xFF, 0, 0};
constexpr uint8_t kLedOwn = kLedOwnColour, kLedBreathe = kLedOwnColour | kLedBreathing;

struct LedSelectionCase {
    const char* devices;
    uint32_t table;
    std::vector<std::pair<int, Bytes>> before;  // records poked in before the load
    std::vector<int> leds;
    PickerChoice choice;
    std::vector<Bytes> preview;                // one frame per LED in order, trailing zeros cut
    std::vector<std::pair<int, Bytes>> after;  // records stored on OK
};

// Every change previews each selected LED once; OK stores them all and nothing else.
TEST(LedPicker, ChoicesOverASelection) {
    const PickerChoice off{{}, PickerMode::Off}, follow{{}, PickerMode::ProfileColour};
    // clang-format off
    const LedSelectionCase cases[] = {
        // OFF for LED 3 of a generation 11 mouse.
        {"g11", 0x500, {{3, {9, 9, 9, kLedBreathe}}}, {3}, off, LedFrames({"13 03 80"}),
         {{3, {0, 0, 0, 0x80}}}},
        // A colour keeps each LED's own breathing.
        {"g12", 0x500, {{1, {0xFF, 0, 0, kLedBreathe}}, {4, {0, 0xFF, 0, kLedOwn}}}, {1, 4},
         {kLedBlue, PickerMode::Colour}, LedFrames({"13 01 C0 00 00 FF", "13 04 80 00 00 FF"}),
         {{1, {0, 0, 0xFF, kLedBreathe}}, {4, {0, 0, 0xFF, kLedOwn}}}},
        // Breathing blue, and ON red for a dark LED and a breathing one.
        {"g12", 0x500, {}, {0, 2}, {kLedBlue, PickerMode::Breathing},
         LedFrames({"13 00 C0 00 00 FF", "13 02 C0 00 00 FF"}),
         {{0, {0, 0, 0xFF, kLedBreathe}}, {2, {0, 0, 0xFF, kLedBreathe}}}},
        {"g12", 0x500, {{6, {0, 0, 0, kLedOwn}}, {7, {1, 2, 3, kLedBreathe}}}, {6, 7, 6},
         {kLedRed, PickerMode::On}, LedFrames({"13 06 80 FF", "13 07 80 FF"}),
         {{6, {0xFF, 0, 0, kLedOwn}}, {7, {0xFF, 0, 0, kLedOwn}}}},
        // The profile swatch: the profile's colour, bit 7 clear.
        {"g12", 0x500, {{5, {1, 2, 3, kLedBreathe}}}, {5}, follow, LedFrames({"13 05 40 21 43 65"}),
         {{5, {0x21, 0x43, 0x65, 0x40}}}},
        {"g5x", 0x460, {}, {2, 3}, off,
         LedFrames({"01 08 02 02 00 80", "01 08 02 03 00 80"}),
         {{2, {0, 0, 0, 0x80}}, {3, {0, 0, 0, 0x80}}}},
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
        auto picker = LedPicker::Open(*rig.model, c.leds);
        ASSERT_TRUE(picker.ok()) << picker.message();
        const Bytes memory = rig.Device().SaveImage();
        rig.tap->TakeRequests();
        ASSERT_TRUE(RunLedTask(picker->PreviewTask(c.choice), *rig.model).ok());
        EXPECT_EQ(rig.tap->TakeRequests(), c.preview);
        EXPECT_EQ(rig.Device().SaveImage(), memory);  // a preview stores nothing
        ASSERT_TRUE(RunLedTask(picker->StoreTask(c.choice), *rig.model).ok());
        for (const auto& [led, record] : c.after) {
            EXPECT_EQ(rig.Peek(c.table + 4 * uint32_t(led), 4), record) << "LED " << led;
        }
        Bytes expected = memory;
        for (const auto& [led, record] : c.after) {
            std::copy(record.begin(), record.end(), expected.begin() + c.table + 4 * led);
        }
        EXPECT_EQ(rig.Device().SaveImage(), expected);  // nothing beside the edited LEDs
    }
}

TEST(LedPicker, RefusesWhatIsNoLedSelection) {
    const std::pair<const char*, std::vector<int>> cases[] = {
        {"g12", {}}, {"g12", {16}}, {"g12", {2, -1}}, {"g5", {0}}};
    for (const auto& [devices, leds] : cases) {
        test::TappedMouse rig(devices);
        rig.Load();
        EXPECT_EQ(LedPicker::Open(*rig.model, leds).kind(), ErrorKind::BadInput) << devices;
    }
}

// Cancel after several previews: the LEDs show the stored records again, sent as
// previews, and the memory is byte for byte what it was.
TEST(LedPicker, CancelRestoresTheLedsAndLeavesMemoryAlone) {
    for (const char* devices : {"g12", "g5x"}) {
        SCOPED_TRACE(devices);
        test::TappedMouse rig(devices);
        rig.Load();
        const std::vector<int> leds{0, 9};
        ASSERT_TRUE(StoreLedColours(*rig.model, std::vector<LedEdit>{{0, {1, 2, 3, kLedBreathe}},
                                                                     {9, {4, 5, 6, kLedOwn}}})
                        .ok());
        const auto picker = LedPicker::Open(*rig.model, leds).value();
        const Bytes memory = rig.Device().SaveImage();
        for (const PickerChoice& choice :
             {PickerChoice{kLedRed, PickerMode::Colour},
              PickerChoice{kLedBlue, PickerMode::Breathing}, PickerChoice{{}, PickerMode::Off}}) {
            ASSERT_TRUE(RunLedTask(picker.PreviewTask(choice), *rig.model).ok());
        }
        rig.tap->TakeRequests();
        ASSERT_TRUE(RunLedTask(picker.RestoreTask(), *rig.model).ok());
        const auto sent = rig.tap->TakeRequests();
        EXPECT_EQ(rig.Device().SaveImage(), memory);
        ASSERT_EQ(sent.size(), 2u);
        const auto live = rig.State().leds;
        EXPECT_EQ(live[0], (std::array<uint8_t, 4>{1, 2, 3, kLedBreathe}));
        EXPECT_EQ(live[9], (std::array<uint8_t, 4>{4, 5, 6, kLedOwn}));
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
