// Compaction, lack of space, deletion, the mode bytes of slots 16..79 beside the
// key-cycle lists, and macro operations racing a configuration load.
#include <gtest/gtest.h>

#include <thread>

#include "macro_memory_rig.h"

namespace qvm {
namespace {

using namespace test;  // NOLINT(google-build-using-namespace): the rig's helpers

// Items whose record takes exactly `length` bytes (at least 35).
std::vector<MacroItem> ItemsForRecord(uint32_t length) {
    uint32_t code = length - 34;
    std::vector<MacroItem> items;
    if (code % 2 == 1) {
        items.push_back(Item({0x61}));
        --code;
    }
    for (uint32_t k = 0; k < code / 2; ++k) items.push_back(Item({0x88, static_cast<uint8_t>(k)}));
    return items;
}

// Three records with two gaps of 2000 bytes and none at the end: 4000 bytes free, no
// block larger than 2000. Buttons in three profiles run them; one runs a built-in macro.
struct Scattered {
    std::vector<uint8_t> r2, r7, r11;
    uint32_t m;

    explicit Scattered(MacroRig& rig, const Dev& dev) : m(dev.areas.heap) {
        r2 = FakeRecord("two", 1000, 2);
        r7 = FakeRecord("seven", 1000, 7);
        r11 = FakeRecord("eleven", dev.usable - 6000, 11);
        rig.PokeSlot(2, m, r2);
        rig.PokeSlot(7, m + 3000, r7);
        rig.PokeSlot(11, m + 6000, r11);
        rig.PokeButton(0, 1, Runs(9, m + 3033));
        rig.PokeButton(2, 4, Runs(10, m + 6033));
        rig.PokeButton(4, 0, Runs(8, m + 33));
        rig.PokeButton(3, 6, Runs(8, m + 3033, 0xFF));
    }
};

class Compaction : public ::testing::TestWithParam<Dev> {};

TEST_P(Compaction, ScatteredSpaceCompactsThenStores) {
    const Dev& dev = GetParam();
    MacroRig rig(dev.devices, dev.areas);
    const Scattered s(rig, dev);
    rig.Load();
    const int reloads = rig.State().reloads;
    ASSERT_TRUE(StoreMacro(*rig.model, 20, kMacroModeLoop, "big", ItemsForRecord(3000)).ok());

    const uint32_t m = s.m;
    EXPECT_EQ(rig.Peek(m, 1000), s.r2);
    EXPECT_EQ(rig.Peek(m + 1000, 1000), s.r7);
    EXPECT_EQ(rig.Peek(m + 2000, s.r11.size()), s.r11);
    const uint32_t at20 = m + 2000 + static_cast<uint32_t>(s.r11.size());
    EXPECT_EQ(rig.IndexEntry(2), Le16Pair(m, 1000));
    EXPECT_EQ(rig.IndexEntry(7), Le16Pair(m + 1000, 1000));
    EXPECT_EQ(rig.IndexEntry(11), Le16Pair(m + 2000, static_cast<uint32_t>(s.r11.size())));
    EXPECT_EQ(rig.IndexEntry(20), Le16Pair(at20, 3000));

    EXPECT_EQ(rig.PeekButton(0, 1), Runs(9, m + 1033));
    EXPECT_EQ(rig.PeekButton(2, 4), Runs(10, m + 2033));
    EXPECT_EQ(rig.PeekButton(4, 0), Runs(8, m + 33));
    EXPECT_EQ(rig.PeekButton(3, 6), Runs(8, m + 3033, 0xFF));
    EXPECT_GE(rig.State().reloads, reloads + 1);
    const auto free = FreeMacroSpace(*rig.model);
    ASSERT_TRUE(free.ok());
    EXPECT_EQ(*free, 1000);
    rig.ExpectSlotsMatchDevice();
}

TEST_P(Compaction, RequestAboveFreeTotalChangesNothing) {
    const Dev& dev = GetParam();
    MacroRig rig(dev.devices, dev.areas);
    const Scattered s(rig, dev);
    rig.Load();
    const auto memory = rig.Memory();
    const auto image = rig.Image();
    const Status st = StoreMacro(*rig.model, 30, kMacroModeOnce, "too big", ItemsForRecord(4001));
    EXPECT_EQ(st.ok() ? "" : st.message(), "Lack of space !!");
    EXPECT_EQ(st.kind(), ErrorKind::NoSpace);
    EXPECT_TRUE(rig.Memory() == memory);
    EXPECT_TRUE(rig.Image()->macros == image->macros);
    EXPECT_TRUE(rig.Image()->buttons == image->buttons);
}

TEST_P(Compaction, DeleteClearsIndexAndButtonsInEveryProfile) {
    const Dev& dev = GetParam();
    MacroRig rig(dev.devices, dev.areas);
    const Scattered s(rig, dev);
    rig.PokeButton(1, 2, Runs(8, s.m + 3033));
    rig.Load();
    const int reloads = rig.State().reloads;
    ASSERT_TRUE(DeleteMacro(*rig.model, 7).ok());
    EXPECT_EQ(rig.IndexEntry(7), Le16Pair(0, 0));
    EXPECT_EQ(rig.PeekButton(0, 1), (ButtonSlot{}));
    EXPECT_EQ(rig.PeekButton(1, 2), (ButtonSlot{}));
    EXPECT_EQ(rig.PeekButton(3, 6), Runs(8, s.m + 3033, 0xFF));  // built-in: not this macro
    EXPECT_EQ(rig.PeekButton(2, 4), Runs(10, s.m + 6033));
    EXPECT_EQ(rig.State().reloads, reloads + 1);
    rig.ExpectSlotsMatchDevice();
    EXPECT_TRUE(rig.Image()->macros[7].Empty());
}

INSTANTIATE_TEST_SUITE_P(Classes, Compaction, ::testing::ValuesIn(kDevs),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Mode bytes of slots 16..79 and the key-cycle lists (classes B and C) ----

class HighModes : public ::testing::TestWithParam<Dev> {};

TEST_P(HighModes, KeyCycleListsUntouchedAndModesSurviveReload) {
    const Dev& dev = GetParam();
    MacroRig rig(dev.devices, dev.areas);
    std::vector<uint8_t> cycles(kKeyCycleAreaBytes);
    for (std::size_t k = 0; k < cycles.size(); ++k) cycles[k] = static_cast<uint8_t>(0xA0 + k);
    rig.Poke(dev.areas.keyCycles, cycles);
    rig.Load();
    const std::vector<MacroItem> items{Item({0x83, 0x05})};
    ASSERT_TRUE(StoreMacro(*rig.model, 16, kMacroModeLoop, "a", items).ok());
    ASSERT_TRUE(StoreMacro(*rig.model, 79, kMacroModeFireKey, "b", items).ok());
    ASSERT_TRUE(StoreMacro(*rig.model, 40, kMacroModeFireKey, "c", items).ok());
    ASSERT_TRUE(StoreMacro(*rig.model, 0, kMacroModeLoop, "d", items).ok());
    ASSERT_TRUE(DeleteMacro(*rig.model, 40).ok());

    EXPECT_EQ(rig.Peek(dev.areas.keyCycles, cycles.size()), cycles);
    const uint32_t e = 0x1FFF;
    EXPECT_EQ(rig.Peek(e - 65, 1)[0], kMacroModeLoop);               // slot 16
    EXPECT_EQ(rig.Peek(e - 41, 1)[0], kMacroModeFireKey);            // slot 40 keeps its byte
    EXPECT_EQ(rig.Peek(e - 2, 1)[0], kMacroModeFireKey);             // slot 79
    EXPECT_EQ(rig.Peek(dev.areas.modeTable, 1)[0], kMacroModeLoop);  // slot 0
    rig.ExpectSlotsMatchDevice();
}

const Dev kLongDevs[] = {kDevs[1], kDevs[2], kDevs[3]};
INSTANTIATE_TEST_SUITE_P(Classes, HighModes, ::testing::ValuesIn(kLongDevs),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Against a load on another thread ----

TEST(MacroOperations, NeverInterleaveWithALoad) {
    MacroRig rig("g5/mem=8k", kAreasB);
    rig.Load();
    std::jthread loader([&] {
        for (int k = 0; k < 4; ++k) EXPECT_TRUE(rig.model->LoadConfiguration().ok());
    });
    for (int slot = 0; slot < 6; ++slot) {
        const std::vector<MacroItem> items(static_cast<std::size_t>(10 + slot), Item({0x61}));
        EXPECT_TRUE(StoreMacro(*rig.model, slot, kMacroModeOnce, "t", items).ok()) << slot;
    }
    loader.join();
    for (int slot = 0; slot < 6; ++slot) EXPECT_FALSE(rig.Image()->macros[slot].Empty()) << slot;
    rig.ExpectSlotsMatchDevice();
}

}  // namespace
}  // namespace qvm
