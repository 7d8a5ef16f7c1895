// The wait and movement items the editor and the recorder build: numbers become the
// shortest instruction that holds them, capped, never wrapped. (Decoding device code:
// the text round trips and the read-back of stored macros.)
#include "macro/macro_item.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "macro/macro_edit.h"

namespace qvm {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes ItemBytes(const MacroItem& item) {
    return {item.Bytes().begin(), item.Bytes().end()};
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
        {256, {}, {0x89, 0x00, 0x01}},
        {70000, {}, {0x89, 0xFF, 0xFF}},  // capped, not wrapped to 4464
        {-5, {}, {0x88, 0x00}},
        {{}, {-1, 2, false}, {0x80, 0xFF, 0xFF, 0x02, 0x00}},
        {{}, {-32768, 32767, false}, {0x80, 0x00, 0x80, 0xFF, 0x7F}},
        {{}, {32768, 0, false}, {}},
        {{}, {1920, 1080, true}, {0xC0, 0x80, 0x07, 0x38, 0x04}},
        {{}, {0, 32768, true}, {}},
    };
    for (const Case& c : cases) {
        if (c.waitMs) {
            SCOPED_TRACE(*c.waitMs);
            const MacroItem item = MakeWaitItem(*c.waitMs, 77);
            EXPECT_EQ(ItemBytes(item), c.bytes);
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
        EXPECT_EQ(ItemBytes(*item), c.bytes);
        EXPECT_EQ(MovementOf(*item), c.movement);
    }
    // The recorder's own builder caps where the editor refuses.
    EXPECT_EQ(ItemBytes(MakeMoveItem(kOpMove, 40000, -40000)),
              (Bytes{0x80, 0xFF, 0x7F, 0x00, 0x80}));
    EXPECT_EQ(MovementOf(MakeMacroItem(Bytes{0xA0, 0xFF, 0xFF, 0x10, 0x00})),
              (MacroMovement{65535, 16, true}));
    EXPECT_FALSE(WaitMsOf(MakeMacroItem(Bytes{0x89, 0x10})));  // cut short: no wait
}

}  // namespace
}  // namespace qvm
