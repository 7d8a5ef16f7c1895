// Storing, reading, deleting and compacting macros on simulated mice of every class:
// record bytes on the device, buttons linked to a new macro or following a moved one, the
// mode bytes beside the key-cycle lists, and macro operations racing a configuration load.
#include <gtest/gtest.h>

#include <thread>

#include "macro_memory_rig.h"

namespace qvm {
namespace {

using namespace test;  // NOLINT(google-build-using-namespace): the rig's helpers

struct RecordCase {
    const char* name;
    std::string macroName;
    std::vector<MacroItem> items;
    std::string storedName;  // 16 characters at most
    std::vector<uint8_t> record;
};

const RecordCase kRecords[] = {
    {"KeyWaitKey",
     "Hi",
     {Item({0x83, 0x04}), Item({0x88, 0x32}), Item({0x84, 0x04})},
     "Hi",
     Concat({{0x20}, Utf16Field("Hi", 32), {0x83, 0x04, 0x88, 0x32, 0x84, 0x04, 0x00}})},
    {"NameOf19KeepsSixteen",
     "ABCDEFGHIJKLMNOPQRS",
     {Item({0x21})},
     "ABCDEFGHIJKLMNOP",
     Concat({{0x20}, Utf16Field("ABCDEFGHIJKLMNOP", 32), {0x21, 0x00}})},
};

class StoreRecord : public ::testing::TestWithParam<std::tuple<Dev, RecordCase>> {};

TEST_P(StoreRecord, BytesOnTheDevice) {
    const auto& [dev, c] = GetParam();
    MacroRig rig(dev.devices, dev.areas);
    rig.Load();
    const Status s = StoreMacro(*rig.model, 3, kMacroModeLoop, c.macroName, c.items);
    ASSERT_TRUE(s.ok()) << s.message();
    const uint32_t m = dev.areas.heap;
    const auto length = static_cast<uint32_t>(c.record.size());
    EXPECT_EQ(rig.Peek(m, c.record.size()), c.record);
    EXPECT_EQ(rig.IndexEntry(3), Le16Pair(m, length));
    EXPECT_EQ(rig.Peek(dev.areas.modeTable + 3, 1)[0], kMacroModeLoop);
    const MacroSlot expected{c.storedName, static_cast<int32_t>(m), static_cast<int32_t>(m + 33),
                             static_cast<int32_t>(length), kMacroModeLoop};
    EXPECT_EQ(rig.Image()->macros[3], expected);
    rig.ExpectSlotsMatchDevice();
}

INSTANTIATE_TEST_SUITE_P(Records, StoreRecord,
                         ::testing::Combine(::testing::ValuesIn(kDevs),
                                            ::testing::ValuesIn(kRecords)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) + "_" +
                                    std::get<1>(info.param).name;
                         });

class StoreLinks : public ::testing::TestWithParam<Dev> {};

TEST_P(StoreLinks, EmptySlotTakesButtonsWithCodeAddressZero) {
    const Dev& dev = GetParam();
    MacroRig rig(dev.devices, dev.areas);
    const uint32_t code = dev.areas.heap + 33;
    rig.PokeButton(0, 1, {9, 0, 0, 0});
    rig.PokeButton(3, 2, {10, 0, 0, 0});
    rig.PokeButton(4, 0, {8, 0x21, 0x05, 0});  // another macro's code address
    rig.PokeButton(2, 5, {5, 0, 0, 0});        // a key, not a macro
    rig.PokeButton(1, 4, {8, 0, 0, 0xFF});     // a built-in macro of the device
    rig.Load();
    const int reloads = rig.State().reloads;
    const std::vector<MacroItem> items{Item({0x83, 0x04})};
    ASSERT_TRUE(StoreMacro(*rig.model, 0, kMacroModeFireKey, "x", items).ok());

    const ButtonSlot linked = Runs(10, code);
    EXPECT_EQ(rig.PeekButton(0, 1), linked);
    EXPECT_EQ(rig.PeekButton(3, 2), linked);
    EXPECT_EQ(rig.PeekButton(4, 0), (ButtonSlot{8, 0x21, 0x05, 0}));
    EXPECT_EQ(rig.PeekButton(2, 5), (ButtonSlot{5, 0, 0, 0}));
    EXPECT_EQ(rig.PeekButton(1, 4), (ButtonSlot{8, 0, 0, 0xFF}));
    EXPECT_EQ(rig.Image()->buttons[0][1].slot, linked);
    EXPECT_EQ(rig.Image()->buttons[3][2].slot, linked);
    EXPECT_EQ(rig.State().reloads, reloads + 1);  // profile 0 is the active one
}

INSTANTIATE_TEST_SUITE_P(Classes, StoreLinks, ::testing::ValuesIn(kDevs),
                         [](const auto& info) { return std::string(info.param.name); });

std::vector<MacroItem> Mixed(int repeat) {
    const std::vector<std::vector<uint8_t>> one = {{0x83, 0x04},
                                                   {0x88, 0x32},
                                                   {0x84, 0x04},
                                                   {0x80, 0x10, 0x00, 0xF0, 0xFF},
                                                   {0x85, 0xE9, 0x00},
                                                   {0x85, 0x00, 0x00},
                                                   {0x21},
                                                   {0x41},
                                                   {0x7F},
                                                   {0x89, 0x2C, 0x01},
                                                   {0xC0, 0x01, 0x02, 0x03, 0x04}};
    std::vector<MacroItem> items;
    for (int k = 0; k < repeat; ++k) {
        for (const auto& bytes : one) items.push_back(Item(bytes));
    }
    return items;
}

class ReadBack : public ::testing::TestWithParam<Dev> {};

TEST_P(ReadBack, EqualsStoredItemByItem) {
    const Dev& dev = GetParam();
    MacroRig rig(dev.devices, dev.areas);
    rig.Load();
    const auto items = Mixed(10);  // 29 bytes a repeat: the code spans many pieces
    std::vector<double> progress;
    ASSERT_TRUE(StoreMacro(*rig.model, 12, kMacroModeFireKey, "mix", items, [&](double f) {
                    progress.push_back(f);
                }).ok());
    ASSERT_FALSE(progress.empty());
    EXPECT_DOUBLE_EQ(progress.back(), 1.0);
    rig.Load();  // read back from what the device holds, not from the model's copy
    const auto read = ReadMacro(*rig.model, 12);
    ASSERT_TRUE(read.ok()) << read.message();
    EXPECT_EQ(read->name, "mix");
    EXPECT_EQ(read->mode, kMacroModeFireKey);
    ASSERT_EQ(read->items.size(), items.size());
    for (std::size_t k = 0; k < items.size(); ++k) {
        EXPECT_TRUE(read->items[k].SameInstruction(items[k])) << k;
    }
}

INSTANTIATE_TEST_SUITE_P(Classes, ReadBack, ::testing::ValuesIn(kDevs),
                         [](const auto& info) { return std::string(info.param.name); });

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

// Classes B and C keep the mode bytes of slots 16..79 beside the key-cycle lists.
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
