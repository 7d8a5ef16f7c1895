// The layout decision and the model names for the model codes and generations that
// take different branches.
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

struct DecisionCase {
    int32_t code;
    int32_t generation;
    int layout;
    int buttons;
    int listCount;
    int special;
    bool gamepad;
};

void PrintTo(const DecisionCase& c, std::ostream* os) {
    *os << "code " << c.code << " g " << c.generation;
}

class Decision : public ::testing::TestWithParam<DecisionCase> {};

TEST_P(Decision, PicksTheRow) {
    const DecisionCase& c = GetParam();
    const ModelLayout m = DecideModelLayout(Device(c.code, c.generation));
    EXPECT_EQ(m.LayoutIndex, c.layout);
    EXPECT_EQ(m.ButtonCount, c.buttons);
    EXPECT_EQ(m.ButtonListCount, c.listCount);
    EXPECT_EQ(m.SpecialButtonIndex, c.special);
    EXPECT_EQ(m.GamepadVariantFlag, c.gamepad);
    EXPECT_EQ(m.KeyboardModeFlags, (std::array<bool, 2>{false, false}));
}

INSTANTIATE_TEST_SUITE_P(ModelTable, Decision,
                         ::testing::Values(DecisionCase{11, 0, 4, 12, 15, -1, false},
                                           DecisionCase{11, 1, 6, 11, 20, -1, false},
                                           DecisionCase{11, -1, 4, 12, 15, -1, false},
                                           DecisionCase{14, 5, 5, 10, 13, -1, true},
                                           DecisionCase{33, 12, 12, 12, 31, 11, false},
                                           DecisionCase{34, 3, 12, 11, 31, -1, false},
                                           DecisionCase{2, 10, 9, 10, 23, -1, false},
                                           DecisionCase{2, 0, 0, 10, 13, -1, false}));

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
        // The same layout on generation 10 keeps them.
        {21, 10, {0, 1, 2, 3, 4, 7, 8, 6, 22, 23, 9, 10}, 5},
        // Layout 8 on generation 12 takes order row 11, unchanged.
        {19, 12, {0, 1, 2, 5, 6, 4, 7, 8, 9, 10, 11, 12, 30, 31, 13, 14}, 3},
        {19, 5, {0, 1, 2, 3, 4, 6, 7, 11, 10, 9, 8, 12, 22, 23, 13, 14}, 5},
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

TEST(ModelKeyboard, NoButtonsAndKeyboardMode) {
    DeviceValues v = Device(kKeyboardModelCode, 12);
    v.IdentByte4 = 0x5A;
    const ModelLayout m = DecideModelLayout(v);
    EXPECT_EQ(m.LayoutIndex, 0);
    EXPECT_EQ(m.ButtonCount, 0);
    EXPECT_EQ(m.ButtonListCount, 0);
    EXPECT_EQ(m.KeyboardModeFlags, (std::array<bool, 2>{true, true}));
    EXPECT_EQ(m.IdentByte4, 0x5A);
}

TEST(ModelNames, TableEntriesAndExceptions) {
    struct Row {
        int32_t code;
        int32_t generation;
        std::string name;
    };
    // One code named by generation, and codes past the table.
    const Row rows[] = {{15, 1, "MX-14"}, {15, 0, "MX-27"}, {35, 1, "MX-04"}, {-2, 1, "MX-04"}};
    for (const Row& r : rows) {
        EXPECT_EQ(GetModelName(Device(r.code, r.generation)), r.name) << r.code;
    }
    DeviceValues keyboard = Device(kKeyboardModelCode, 0);
    keyboard.ProductName = "MX-29 Keyboard";
    EXPECT_EQ(GetModelName(keyboard), "MX-29 Keyboard");
}

}  // namespace
}  // namespace qvm
