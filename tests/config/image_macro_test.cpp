// The macro directory decoded from the image: names from the records, modes from the
// mode table where a slot has a byte there and from the buttons where it has not.
#include <gtest/gtest.h>

#include <stop_token>

#include "image_rig.h"

namespace qvm {
namespace {

struct MacroCase {
    const char* name;
    const char* devices;
    std::vector<std::pair<uint32_t, std::vector<uint8_t>>> pokes;
    int slot;
    MacroSlot expected;
};

// Record: name field length 0x20, then "Hi" in UTF-16LE.
std::vector<uint8_t> Record() {
    return {0x20, 'H', 0, 'i', 0, 0, 0};
}

const MacroCase kMacroCases[] = {
    {"ClassASlot30ModeByte",
     "g0",
     {{0x200 + 4 * 30, {0x00, 0x05, 34, 0}}, {0x340 + 30, {10}}, {0x500, Record()}},
     30,
     {"Hi", 0x500, 0x521, 34, 10}},
    {"ClassBSlot1BadMode",
     "g5",
     {{0x2A4, {0x60, 0x04, 40, 0}}, {0x3E1, {0x33}}, {0x460, Record()}},
     1,
     {"Hi", 0x460, 0x481, 40, 8}},
    // Slot 20's table byte is a key-cycle count; its mode is the type of the button
    // (profile 2, button 5) that runs it.
    {"ClassBSlot20ModeFromButton",
     "g5",
     {{0x2A0 + 80, {0x00, 0x05, 34, 0}},
      {0x500, Record()},
      {0x20 + 2 * 0x80 + 0x20 + 5, {10}},
      {0x20 + 2 * 0x80 + 0x38 + 5, {0x21}},
      {0x20 + 2 * 0x80 + 0x50 + 5, {0x05}}},
     20,
     {"Hi", 0x500, 0x521, 34, 10}},
    {"ClassCSlot79NoButton",
     "g12",
     {{0x340 + 4 * 79, {0x00, 0x06, 34, 0}}, {0x600, Record()}},
     79,
     {"Hi", 0x600, 0x621, 34, 8}},
    // A start past the memory top reads nothing: the slot is empty, its entry kept as
    // damaged.
    {"StartPastTop",
     "g5/mem=8k",
     {{0x2A0, {0x00, 0x30, 40, 0}}},
     0,
     {"", 0, 0, 0, 8, DamagedEntry{DamagedEntry::Reason::PastEnd, 0x3000, 40, 0x460, 0x1FFF}}},
};

class ImageMacroSlots : public ::testing::TestWithParam<MacroCase> {};

TEST_P(ImageMacroSlots, DecodeFromImageAndRecords) {
    const MacroCase& c = GetParam();
    test::ImageRig rig(c.devices);
    for (const auto& [at, bytes] : c.pokes) rig.Poke(at, bytes);
    rig.Load();
    const auto image = rig.Image();
    EXPECT_EQ(image->macros[static_cast<std::size_t>(c.slot)], c.expected);
    for (int i = 0; i < kMacroSlotCount; ++i) {
        if (i != c.slot) {
            EXPECT_TRUE(image->macros[static_cast<std::size_t>(i)].Empty()) << i;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Slots, ImageMacroSlots, ::testing::ValuesIn(kMacroCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ImageLoad, StopRequestKeepsThePreviousImage) {
    test::ImageRig rig("g12");
    rig.Load();
    const auto previous = rig.Image();
    for (int at : {10, 70, 90}) {
        std::stop_source source;
        const Status s = rig.model->LoadConfiguration(
            [&](int percent) {
                if (percent >= at) source.request_stop();
            },
            source.get_token());
        EXPECT_EQ(s.ok() ? "" : s.message(), "the load was cancelled") << at;
        EXPECT_EQ(rig.Image(), previous);
    }
}

}  // namespace
}  // namespace qvm
