// Key-cycle list writes: the 21 bytes of the profile's list in device memory, per layout
// class, written out by hand; the 4 bytes after the pairs and the macro directory stay.
#include <gtest/gtest.h>

#include "config/macro_slots.h"
#include "image_rig.h"

namespace qvm {
namespace {

using Bytes = std::vector<uint8_t>;

// What profile 2's list held before: 3 keys, stale pairs after them, 4 kept bytes.
const Bytes kBefore = {3,    0x01, 0x06, 0x00, 0x04, 0x02, 0x3A, 0x11, 0x22, 0x33, 0x44,
                       0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xDE, 0xAD, 0xBE, 0xEF};

struct CycleCase {
    const char* name;
    const char* devices;
    uint32_t listAddress;  // profile 2
    std::vector<KeyCycleEntry> entries;
    Bytes after;
};

const std::vector<KeyCycleEntry> kTwo = {{0x02, 0x1E}, {0x00, 0x3E}};
const Bytes kTwoBytes = {2, 0x02, 0x1E, 0x00, 0x3E, 0, 0,    0,    0,    0,   0,
                         0, 0,    0,    0,    0,    0, 0xDE, 0xAD, 0xBE, 0xEF};
const std::vector<KeyCycleEntry> kEight = {{1, 4}, {2, 5}, {3, 6},  {4, 7},
                                           {5, 8}, {6, 9}, {7, 10}, {8, 11}};
const Bytes kEightBytes = {8, 1, 4, 2,  5, 3,  6,    4,    7,    5,   8,
                           6, 9, 7, 10, 8, 11, 0xDE, 0xAD, 0xBE, 0xEF};
const Bytes kClearedBytes = {0, 0, 0, 0, 0, 0, 0,    0,    0,    0,   0,
                             0, 0, 0, 0, 0, 0, 0xDE, 0xAD, 0xBE, 0xEF};

// Each class once, each kind of list once: the addresses are the class's, the bytes the
// list's.
const CycleCase kCycleCases[] = {
    {"A_Two", "g0", 0x3BA, kTwo, kTwoBytes},
    {"B_Eight", "g5x", 0x41A, kEight, kEightBytes},
    {"C_Clear", "g12", 0x4BA, {}, kClearedBytes},
};

class KeyCycleWrite : public ::testing::TestWithParam<CycleCase> {};

TEST_P(KeyCycleWrite, WritesTheListAndKeepsEverythingElse) {
    const CycleCase& c = GetParam();
    test::ImageRig rig(c.devices);
    rig.Poke(c.listAddress, kBefore);
    rig.Load();
    const uint32_t top = *rig.Image()->memoryTop;
    const Bytes memory = rig.Peek(0, top + 1);

    const Status s = rig.model->SetKeyCycleList(2, c.entries);
    ASSERT_TRUE(s.ok()) << s.message();

    EXPECT_EQ(rig.Peek(c.listAddress, c.after.size()), c.after);
    const auto& shownBytes = rig.Image()->keyCycles[2].bytes;
    EXPECT_EQ(Bytes(shownBytes.begin(), shownBytes.end()), c.after);
    // Not one byte outside the list changed.
    const Bytes now = rig.Peek(0, top + 1);
    for (uint32_t a = 0; a <= top; ++a) {
        if (a >= c.listAddress && a < c.listAddress + kKeyCycleBytes) continue;
        ASSERT_EQ(now[a], memory[a]) << std::hex << "address 0x" << a;
    }
    // A reload reads back what the model shows.
    const auto shown = rig.Image()->keyCycles;
    rig.Load();
    EXPECT_EQ(rig.Image()->keyCycles, shown);
}

INSTANTIATE_TEST_SUITE_P(Lists, KeyCycleWrite, ::testing::ValuesIn(kCycleCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Profile 0's list lies where the mode byte of macro slot 16 would be in the mode table
// of the long-report classes: writing it must change no macro's index or mode.
TEST(KeyCycleWrite, LeavesEveryMacroModeAndTheIndex) {
    for (const char* devices : {"g0", "g5", "g12"}) {
        SCOPED_TRACE(devices);
        test::ImageRig rig(devices);
        rig.Load();
        const ImageLayout& layout = rig.Image()->Layout();
        const uint32_t top = *rig.Image()->memoryTop;
        const uint32_t heap = layout.HeapStart(false);
        // Slots 0, 15, 16 and 20 in use, each in a mode other than the default.
        const std::vector<std::pair<int, uint8_t>> used = {{0, 9}, {15, 10}, {16, 10}, {20, 9}};
        uint32_t record = heap + 0x40;
        for (const auto& [slot, mode] : used) {
            const auto index = static_cast<uint32_t>(layout.macroIndex + 4 * slot);
            rig.Poke(index,
                     {static_cast<uint8_t>(record), static_cast<uint8_t>(record >> 8), 40, 0});
            rig.Poke(record, {0x20, 'M', 0});
            const auto modeAt = MacroModeAddress(layout, top, slot);
            ASSERT_TRUE(modeAt.has_value());
            rig.Poke(*modeAt, {mode});
            record += 0x40;
        }
        rig.Load();
        const MacroSlots before = rig.Image()->macros;
        for (const auto& [slot, mode] : used) {
            ASSERT_EQ(before[static_cast<std::size_t>(slot)].mode, mode) << "slot " << slot;
        }
        const Bytes index = rig.Peek(layout.macroIndex, kMacroSlotCount * kMacroIndexEntryBytes);

        const std::vector<KeyCycleEntry> keys = {{0x01, 0x06}, {0x00, 0x3B}, {0x04, 0x2B}};
        for (int profile = 0; profile < kProfileCount; ++profile) {
            ASSERT_TRUE(rig.model->SetKeyCycleList(profile, keys).ok());
        }
        EXPECT_EQ(rig.Image()->macros, before);
        EXPECT_EQ(rig.Peek(layout.macroIndex, index.size()), index);
        rig.Load();
        EXPECT_EQ(rig.Image()->macros, before);
        EXPECT_EQ(rig.Image()->keyCycles[0].Count(), 3);
    }
}

}  // namespace
}  // namespace qvm
