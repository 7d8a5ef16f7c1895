// The model layout table: invariants over every model code and generation, and the
// slot moves of the long-report classes.
#include <gtest/gtest.h>

#include <algorithm>

#include "device/model_table.h"

namespace qvm {
namespace {

DeviceValues Device(int32_t code, int32_t generation) {
    DeviceValues v;
    v.ModelCode = code;
    v.ProtocolGeneration = generation;
    return v;
}

// Over every model code and generation: each physical button edits its own slot, and
// the counts and the special button stay inside the list.
TEST(ModelTable, EveryButtonEditsItsOwnSlot) {
    for (int32_t code = -2; code <= 45; ++code) {
        for (int32_t generation = -1; generation <= 13; ++generation) {
            SCOPED_TRACE("code " + std::to_string(code) + " g " + std::to_string(generation));
            const ModelLayout m = DecideModelLayout(Device(code, generation));
            EXPECT_GE(m.LayoutIndex, 0);
            EXPECT_LE(m.LayoutIndex, 13);
            EXPECT_LE(m.ButtonCount, m.ButtonListCount);
            EXPECT_LE(m.ButtonListCount, kLayoutPositions);
            EXPECT_LT(m.SpecialButtonIndex, m.ButtonCount);
            std::vector<int> listed(m.ButtonOrder.begin(), m.ButtonOrder.begin() + m.ButtonCount);
            std::sort(listed.begin(), listed.end());
            EXPECT_EQ(std::adjacent_find(listed.begin(), listed.end()), listed.end());
            EXPECT_LT(listed.back(), 32);
        }
    }
}

TEST(ModelOrder, ClassCMovesSlots22And23ExceptOnRow11) {
    struct Row {
        int32_t code;
        int32_t generation;
        std::vector<int> firstEntries;
        int last;  // entry 30
    };
    const Row rows[] = {
        // Layout 9 on generation 12: 22/23 become 30/31, also inside the run 9..28.
        {21, 12, {0, 1, 2, 3, 4, 7, 8, 6, 30, 31, 9, 10}, 5},
        {21, 10, {0, 1, 2, 3, 4, 7, 8, 6, 22, 23, 9, 10}, 5},  // generation 10 keeps them
        // Layout 8 on generation 12 takes order row 11, unchanged.
        {19, 12, {0, 1, 2, 5, 6, 4, 7, 8, 9, 10, 11, 12, 30, 31, 13, 14}, 3},
        {11, 11, {0, 1, 2, 3, 4, 7, 8, 30, 31, 5, 6, 11}, 0},
    };
    for (const Row& r : rows) {
        const ModelLayout m = DecideModelLayout(Device(r.code, r.generation));
        const std::vector<int> head(m.ButtonOrder.begin(),
                                    m.ButtonOrder.begin() + r.firstEntries.size());
        EXPECT_EQ(head, r.firstEntries) << r.code << " g " << r.generation;
        EXPECT_EQ(m.ButtonOrder[30], r.last) << r.code;
        EXPECT_EQ(m.ButtonOrder[31], 0) << r.code;
    }
    // Generation 12, row 9: the run 9..28 holds 30 and 31 where 22 and 23 were.
    const ModelLayout m = DecideModelLayout(Device(21, 12));
    EXPECT_EQ(std::count(m.ButtonOrder.begin(), m.ButtonOrder.end(), 22), 0);
    EXPECT_EQ(m.ButtonOrder[23], 30);
    EXPECT_EQ(m.ButtonOrder[24], 31);
}

}  // namespace
}  // namespace qvm
