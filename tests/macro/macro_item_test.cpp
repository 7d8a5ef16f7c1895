// Macro code as the device holds it, and the wait and movement items the editor builds:
// decoding stops at the end byte and keeps stray bytes, and numbers become the shortest
// instruction that holds them, capped, never wrapped.
#include "macro/macro_item.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "macro/macro_edit.h"

namespace qvm {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes BytesOf(const MacroItem& item) {
    return {item.Bytes().begin(), item.Bytes().end()};
}

TEST(MacroItem, CodeStopsAtEndByteAndKeepsStrayBytes) {
    struct Case {
        Bytes code;
        std::vector<Bytes> items;
    };
    const Case cases[] = {
        {{0x83, 0x04, 0x88, 0x32, 0x84, 0x04, 0x00, 0x83, 0x05},
         {{0x83, 0x04}, {0x88, 0x32}, {0x84, 0x04}}},
        {{0x02, 0x20, 0xFF}, {{0x02}, {0x20}, {0xFF}}},  // invalid opcodes survive alone
        {{0x20, 0x89, 0x2C}, {{0x20}, {0x89, 0x2C}}},    // cut short by the end
        {{0x00, 0x20}, {}},
    };
    for (const Case& c : cases) {
        const auto items = DecodeMacroCode(c.code);
        ASSERT_EQ(items.size(), c.items.size());
        Bytes again;
        for (std::size_t i = 0; i < items.size(); ++i) {
            EXPECT_EQ(BytesOf(items[i]), c.items[i]);
            again.insert(again.end(), c.items[i].begin(), c.items[i].end());
        }
        // Whatever was decoded encodes back to the same bytes.
        EXPECT_EQ(EncodeMacroCode(items), again);
    }
}

// Waits and movements as the editor and the recorder build them. An empty `bytes` is a
// value the editor refuses.
TEST(MacroItem, WaitsAndMovementsTakeTheirShortestFormWithinTheirRange) {
    struct Case {
        std::optional<int32_t> waitMs;
        MacroMovement movement;
        Bytes bytes;
    };
    const Case cases[] = {
        {0, {}, {0x88, 0x00}},
        {255, {}, {0x88, 0xFF}},
        {256, {}, {0x89, 0x00, 0x01}},
        {65535, {}, {0x89, 0xFF, 0xFF}},
        {70000, {}, {0x89, 0xFF, 0xFF}},  // capped, not wrapped to 4464
        {-5, {}, {0x88, 0x00}},
        {{}, {-1, 2, false}, {0x80, 0xFF, 0xFF, 0x02, 0x00}},
        {{}, {-32768, 32767, false}, {0x80, 0x00, 0x80, 0xFF, 0x7F}},
        {{}, {32768, 0, false}, {}},
        {{}, {0, -32769, false}, {}},
        {{}, {1920, 1080, true}, {0xC0, 0x80, 0x07, 0x38, 0x04}},
        {{}, {-1, 0, true}, {0xC0, 0xFF, 0xFF, 0x00, 0x00}},
        {{}, {0, 32768, true}, {}},
    };
    for (const Case& c : cases) {
        if (c.waitMs) {
            SCOPED_TRACE(*c.waitMs);
            const MacroItem item = MakeWaitItem(*c.waitMs, 77);
            EXPECT_EQ(BytesOf(item), c.bytes);
            EXPECT_EQ(item.stamp, 77u);
            EXPECT_EQ(WaitMsOf(item), std::clamp(*c.waitMs, 0, 65535));
            continue;
        }
        SCOPED_TRACE(testing::Message() << c.movement.x << "," << c.movement.y);
        auto item = MakeMovementItem(c.movement);
        if (c.bytes.empty()) {
            ASSERT_FALSE(item);
            EXPECT_EQ(item.kind(), ErrorKind::BadInput);
            continue;
        }
        ASSERT_TRUE(item) << item.message();
        EXPECT_EQ(BytesOf(*item), c.bytes);
        EXPECT_EQ(MovementOf(*item), c.movement);
    }
    // The recorder's own builder caps where the editor refuses.
    EXPECT_EQ(BytesOf(MakeMoveItem(kOpMove, 40000, -40000)), (Bytes{0x80, 0xFF, 0x7F, 0x00, 0x80}));
    EXPECT_EQ(MovementOf(MakeMacroItem(Bytes{0xA0, 0xFF, 0xFF, 0x10, 0x00})),
              (MacroMovement{65535, 16, true}));
    EXPECT_FALSE(WaitMsOf(MakeMacroItem(Bytes{0x89, 0x10})));  // cut short: no wait
}

// The end row of the edit list holds no item: no selection or target may reach it.
TEST(MacroEditList, SelectionNeverReachesTheEndRow) {
    struct Case {
        int items;
        int32_t start;
        std::vector<int32_t> extendTo;
        std::optional<ItemRange> target;
    };
    const Case cases[] = {
        {5, 3, {1, 2}, ItemRange{2, 3}},
        {3, 1, {3}, ItemRange{1, 2}},
        {3, 3, {3}, std::nullopt},
        {0, 0, {1}, std::nullopt},
    };
    for (const Case& c : cases) {
        MacroEditList list;
        list.Assign(std::vector<MacroItem>(static_cast<std::size_t>(c.items),
                                           MakeMacroItem(Bytes{kOpKeyDown, 4})),
                    c.start);
        for (int32_t row : c.extendTo) list.SetCursor(row, true);
        EXPECT_EQ(list.Target(), c.target) << c.items << " " << c.start;
    }
}

}  // namespace
}  // namespace qvm
