// Storing and reading macros on simulated mice of every class: record bytes on the
// device, buttons linked to a new macro, reuse of a replaced record, read back and bad
// input.
#include <gtest/gtest.h>

#include "macro_memory_rig.h"

namespace qvm {
namespace {

using namespace test;  // NOLINT(google-build-using-namespace): the rig's helpers

// ---- Record bytes ----

struct RecordCase {
    const char* name;
    std::string macroName;
    std::vector<MacroItem> items;
    std::string storedName;
    std::size_t length;
    std::vector<uint8_t> record;
};

const RecordCase kRecords[] = {
    {"KeyWaitKey",
     "Hi",
     {Item({0x83, 0x04}), Item({0x88, 0x32}), Item({0x84, 0x04})},
     "Hi",
     40,
     Concat({{0x20}, Utf16Field("Hi", 32), {0x83, 0x04, 0x88, 0x32, 0x84, 0x04, 0x00}})},
    {"NameOf19KeepsSixteen",
     "ABCDEFGHIJKLMNOPQRS",
     {Item({0x21})},
     "ABCDEFGHIJKLMNOP",
     35,
     Concat({{0x20}, Utf16Field("ABCDEFGHIJKLMNOP", 32), {0x21, 0x00}})},
};

class StoreRecord : public ::testing::TestWithParam<std::tuple<Dev, RecordCase>> {};

TEST_P(StoreRecord, BytesOnTheDevice) {
    const auto& [dev, c] = GetParam();
    MacroRig rig(dev.devices, dev.areas);
    rig.Load();
    ASSERT_EQ(c.record.size(), c.length);
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

// ---- Buttons linked by a store ----

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

// A replaced record keeps its place while the new one fits elsewhere, so that it stays in
// force until the new one is whole; its place is reused only when nothing else is free.
TEST_P(StoreLinks, ReplacingKeepsTheOldRecordWhileThereIsRoomElsewhere) {
    const Dev& dev = GetParam();
    const uint32_t m = dev.areas.heap;
    const std::vector<MacroItem> items(30, Item({0x88, 0x10}));  // a record of 94 bytes
    struct Case {
        uint32_t oldLength;
        uint32_t expectedStart;
    };
    const Case cases[] = {{100, m + 100}, {dev.usable - 50, m}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.oldLength);
        MacroRig rig(dev.devices, dev.areas);
        const auto old = FakeRecord("old", c.oldLength, 1);
        rig.PokeSlot(5, m, old);
        rig.PokeButton(1, 3, Runs(8, m + 33));
        rig.Load();
        const int reloads = rig.State().reloads;
        ASSERT_TRUE(StoreMacro(*rig.model, 5, kMacroModeLoop, "new", items).ok());

        EXPECT_EQ(rig.IndexEntry(5), Le16Pair(c.expectedStart, 94));
        EXPECT_EQ(rig.PeekButton(1, 3), Runs(9, c.expectedStart + 33));
        if (c.expectedStart != m) {
            EXPECT_EQ(rig.Peek(m, old.size()), old);
        }
        EXPECT_EQ(rig.State().reloads, reloads);  // profile 1 is not active
        rig.ExpectSlotsMatchDevice();
        EXPECT_EQ(rig.Image()->macros[5].mode, kMacroModeLoop);
    }
}

INSTANTIATE_TEST_SUITE_P(Classes, StoreLinks, ::testing::ValuesIn(kDevs),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Read back ----

std::vector<MacroItem> Mixed(int repeat) {
    const std::vector<MacroItem> one{
        Item({0x83, 0x04}),
        Item({0x88, 0x32}),
        Item({0x84, 0x04}),
        Item({0x80, 0x10, 0x00, 0xF0, 0xFF}),
        Item({0x85, 0xE9, 0x00}),
        Item({0x85, 0x00, 0x00}),
        Item({0x21}),
        Item({0x41}),
        Item({0x7F}),
        Item({0x89, 0x2C, 0x01}),
        Item({0xC0, 0x01, 0x02, 0x03, 0x04}),
    };
    std::vector<MacroItem> items;
    for (int k = 0; k < repeat; ++k) items.insert(items.end(), one.begin(), one.end());
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

// ---- Bad input ----

TEST(StoreMacroInput, RejectedBeforeAnyWrite) {
    struct Case {
        int slot;
        int mode;
        std::vector<MacroItem> items;
        const char* message;
    };
    const Case cases[] = {
        {-1, 8, {}, "macro slot -1 is outside 0 to 79"},
        {0, 7, {}, "macro mode 7 is not 8 (once), 9 (loop) or 10 (fire key)"},
        {0,
         8,
         {Item({0x21}), Item({0x00})},
         "macro item 2 is the end byte 0x00, which only ends a stored macro"},
    };
    MacroRig rig("g12/mem=8k", kAreasC);
    rig.Load();
    const auto before = rig.Memory();
    for (const Case& c : cases) {
        const Status s = StoreMacro(*rig.model, c.slot, c.mode, "n", c.items);
        EXPECT_EQ(s.ok() ? "" : s.message(), c.message);
    }
    EXPECT_EQ(rig.Memory(), before);
    EXPECT_EQ(DeleteMacro(*rig.model, 4).message(), "macro slot 4 is already empty");
    EXPECT_EQ(ReadMacro(*rig.model, 4).message(), "macro slot 4 is empty");
}

}  // namespace
}  // namespace qvm
