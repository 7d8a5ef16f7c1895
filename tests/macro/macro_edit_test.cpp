// The editor's list operations: wait and movement items to the byte, the delay arrows'
// schedule, and the cursor, selection, insertion and deletion rules of the edit list.
#include "macro/macro_edit.h"

#include <gtest/gtest.h>

#include <vector>

namespace qvm {
namespace {

std::vector<uint8_t> BytesOf(const MacroItem& item) {
    return {item.Bytes().begin(), item.Bytes().end()};
}

MacroItem KeyItem(uint8_t usage) {
    const uint8_t bytes[] = {kOpKeyDown, usage};
    return MakeMacroItem(bytes);
}

std::vector<MacroItem> Keys(int count) {
    std::vector<MacroItem> items;
    for (int k = 0; k < count; ++k) items.push_back(KeyItem(static_cast<uint8_t>(4 + k)));
    return items;
}

// The usages of the items, to compare lists at a glance.
std::vector<int> Usages(const std::vector<MacroItem>& items) {
    std::vector<int> out;
    for (const MacroItem& item : items) out.push_back(item.code[1]);
    return out;
}

// ---- Waits ----

struct WaitCase {
    const char* name;
    int32_t ms;
    std::vector<uint8_t> bytes;
    int32_t readBack;
};

const WaitCase kWaits[] = {
    {"Zero", 0, {0x88, 0x00}, 0},
    {"One", 1, {0x88, 0x01}, 1},
    {"LongestShort", 255, {0x88, 0xFF}, 255},
    {"ShortestLong", 256, {0x89, 0x00, 0x01}, 256},
    {"ThreeHundred", 300, {0x89, 0x2C, 0x01}, 300},
    {"Longest", 65535, {0x89, 0xFF, 0xFF}, 65535},
    {"PastLongestHeld", 70000, {0x89, 0xFF, 0xFF}, 65535},
    {"NegativeHeldAtZero", -5, {0x88, 0x00}, 0},
};

class WaitItem : public ::testing::TestWithParam<WaitCase> {};

TEST_P(WaitItem, EncodesAndReadsBack) {
    const WaitCase& c = GetParam();
    const MacroItem item = MakeWaitItem(c.ms, 77);
    EXPECT_EQ(BytesOf(item), c.bytes);
    EXPECT_EQ(item.length, MacroInstructionLength(item.Opcode()));
    EXPECT_EQ(item.stamp, 77u);
    EXPECT_EQ(WaitMsOf(item), c.readBack);
}

INSTANTIATE_TEST_SUITE_P(Table, WaitItem, ::testing::ValuesIn(kWaits),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(WaitItemTest, OtherItemsAndCutWaitsAreNoWaits) {
    EXPECT_FALSE(WaitMsOf(KeyItem(4)));
    const uint8_t cut[] = {0x89, 0x10};  // a long wait missing its high byte
    EXPECT_FALSE(WaitMsOf(MakeMacroItem(cut)));
}

// ---- Movements ----

struct MoveCase {
    const char* name;
    MacroMovement movement;
    std::vector<uint8_t> bytes;  // empty: refused
};

const MoveCase kMoves[] = {
    {"RelativeNegative", {-1, 2, false}, {0x80, 0xFF, 0xFF, 0x02, 0x00}},
    {"RelativeLimits", {-32768, 32767, false}, {0x80, 0x00, 0x80, 0xFF, 0x7F}},
    {"RelativePastLimit", {32768, 0, false}, {}},
    {"RelativeBelowLimit", {0, -32769, false}, {}},
    {"Absolute", {1920, 1080, true}, {0xC0, 0x80, 0x07, 0x38, 0x04}},
    {"AbsoluteTop", {32767, 0, true}, {0xC0, 0xFF, 0x7F, 0x00, 0x00}},
    {"AbsoluteNegative", {-1, 0, true}, {0xC0, 0xFF, 0xFF, 0x00, 0x00}},
    {"AbsolutePastTop", {0, 32768, true}, {}},
};

class MovementItem : public ::testing::TestWithParam<MoveCase> {};

TEST_P(MovementItem, EncodesAndReadsBack) {
    const MoveCase& c = GetParam();
    auto item = MakeMovementItem(c.movement);
    if (c.bytes.empty()) {
        ASSERT_FALSE(item);
        EXPECT_EQ(item.kind(), ErrorKind::BadInput);
        return;
    }
    ASSERT_TRUE(item) << item.message();
    EXPECT_EQ(BytesOf(*item), c.bytes);
    EXPECT_EQ(MovementOf(*item), c.movement);
}

INSTANTIATE_TEST_SUITE_P(Table, MovementItem, ::testing::ValuesIn(kMoves),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(MovementItemTest, UnsignedAbsoluteReadsAsAbsolute) {
    const uint8_t bytes[] = {0xA0, 0xFF, 0xFF, 0x10, 0x00};
    EXPECT_EQ(MovementOf(MakeMacroItem(bytes)), (MacroMovement{65535, 16, true}));
}

// ---- Delay arrow schedule ----

struct ScheduleCase {
    int n;
    int pauseMs;
    int step;
};

const ScheduleCase kSchedule[] = {
    {0, 500, 1},  {1, 128, 1},   {5, 128, 1},   {6, 32, 1},    {10, 32, 1}, {11, 24, 1},
    {60, 24, 1},  {61, 16, 1},   {80, 16, 1},   {81, 8, 1},    {90, 8, 1},  {91, 8, 11},
    {100, 8, 11}, {101, 2, 101}, {110, 2, 101}, {500, 2, 101},
};

class DelaySchedule : public ::testing::TestWithParam<ScheduleCase> {};

TEST_P(DelaySchedule, PauseAndStep) {
    const ScheduleCase& c = GetParam();
    EXPECT_EQ(DelayArrowPauseMs(c.n), c.pauseMs);
    EXPECT_EQ(DelayArrowStep(c.n), c.step);
}

INSTANTIATE_TEST_SUITE_P(Table, DelaySchedule, ::testing::ValuesIn(kSchedule),
                         [](const auto& info) { return "n" + std::to_string(info.param.n); });

// ---- Cursor and selection ----

struct Move {
    int32_t row;  // SetCursor target
    bool extend;
};

struct SelectionCase {
    const char* name;
    int items;
    int32_t start;
    std::vector<Move> moves;
    int32_t cursor;
    std::optional<ItemRange> selection;
    std::optional<ItemRange> target;
};

const SelectionCase kSelections[] = {
    {"PlainMoveSelectsNothing", 5, 1, {{3, false}}, 3, std::nullopt, ItemRange{3, 3}},
    {"ExtendDownTakesBothRows", 5, 1, {{2, true}}, 2, ItemRange{1, 2}, ItemRange{1, 2}},
    {"ExtendUpThenBackShrinks", 5, 3, {{1, true}, {2, true}}, 2, ItemRange{2, 3}, ItemRange{2, 3}},
    {"ExtendOntoEndRowStopsAtLastItem", 3, 1, {{3, true}}, 3, ItemRange{1, 2}, ItemRange{1, 2}},
    {"ExtendWithinEndRowSelectsNothing", 3, 3, {{3, true}}, 3, std::nullopt, std::nullopt},
    {"PlainMoveDropsSelection", 5, 1, {{3, true}, {4, false}}, 4, std::nullopt, ItemRange{4, 4}},
    {"CursorHeldAboveFirst", 3, 0, {{-4, false}}, 0, std::nullopt, ItemRange{0, 0}},
    {"CursorHeldAtEndRow", 3, 0, {{9, false}}, 3, std::nullopt, std::nullopt},
    {"EmptyListHasNoTarget", 0, 0, {{1, true}}, 0, std::nullopt, std::nullopt},
};

class EditSelection : public ::testing::TestWithParam<SelectionCase> {};

TEST_P(EditSelection, CursorSelectionAndTarget) {
    const SelectionCase& c = GetParam();
    MacroEditList list;
    list.Assign(Keys(c.items), c.start);
    for (const Move& m : c.moves) list.SetCursor(m.row, m.extend);
    EXPECT_EQ(list.Cursor(), c.cursor);
    EXPECT_EQ(list.Selection(), c.selection);
    EXPECT_EQ(list.Target(), c.target);
}

INSTANTIATE_TEST_SUITE_P(Table, EditSelection, ::testing::ValuesIn(kSelections),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Insert, append, erase ----

TEST(EditListTest, InsertAtCursorStampsInOrderAndMovesPast) {
    MacroEditList list;
    list.Assign(Keys(3), 1);  // usages 4 5 6
    const std::vector<MacroItem> added = {KeyItem(0x20), KeyItem(0x21)};
    list.InsertAtCursor(added, 1234);
    EXPECT_EQ(Usages(list.Items()), (std::vector<int>{4, 0x20, 0x21, 5, 6}));
    EXPECT_EQ(list.Cursor(), 3);
    EXPECT_EQ(list.Items()[1].stamp, 1234u);
    EXPECT_EQ(list.Items()[2].stamp, 1234u);
    EXPECT_EQ(list.Items()[3].stamp, 0u);
}

TEST(EditListTest, InsertIntoEmptyListStartsAtZero) {
    MacroEditList list;
    const std::vector<MacroItem> added = Keys(2);
    list.InsertAtCursor(added, 1);
    EXPECT_EQ(Usages(list.Items()), (std::vector<int>{4, 5}));
    EXPECT_EQ(list.Cursor(), 2);
}

TEST(EditListTest, AppendPutsCursorOnLastItem) {
    MacroEditList list;
    list.Assign(Keys(2), 0);
    list.SetCursor(1, true);
    const std::vector<MacroItem> added = {KeyItem(0x30)};
    list.Append(added);
    EXPECT_EQ(Usages(list.Items()), (std::vector<int>{4, 5, 0x30}));
    EXPECT_EQ(list.Cursor(), 2);
    EXPECT_FALSE(list.Selection());
}

struct EraseCase {
    const char* name;
    ItemRange range;
    std::vector<int> left;
    int32_t cursor;
};

const EraseCase kErases[] = {
    {"First", {0, 0}, {5, 6, 7, 8}, 0},
    {"Middle", {1, 3}, {4, 8}, 1},
    {"Last", {4, 4}, {4, 5, 6, 7}, 4},
    {"All", {0, 4}, {}, 0},
};

class EditErase : public ::testing::TestWithParam<EraseCase> {};

TEST_P(EditErase, RemovesRangeAndPlacesCursorAtItsStart) {
    const EraseCase& c = GetParam();
    MacroEditList list;
    list.Assign(Keys(5), 2);
    list.SelectAll();
    list.Erase(c.range);
    EXPECT_EQ(Usages(list.Items()), c.left);
    EXPECT_EQ(list.Cursor(), c.cursor);
    EXPECT_FALSE(list.Selection());
}

INSTANTIATE_TEST_SUITE_P(Table, EditErase, ::testing::ValuesIn(kErases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(EditListTest, SelectAllOnEmptyListSelectsNothing) {
    MacroEditList list;
    list.SelectAll();
    EXPECT_FALSE(list.Selection());
    list.Assign(Keys(3));
    list.SelectAll();
    EXPECT_EQ(list.Selection(), (ItemRange{0, 2}));
    EXPECT_EQ(Usages(list.TargetItems()), (std::vector<int>{4, 5, 6}));
}

TEST(EditListTest, SizeCountsItemsPlusRecordFrame) {
    EXPECT_EQ(MacroEditSize({}), 34);
    const std::vector<MacroItem> items = {KeyItem(4), MakeWaitItem(300), KeyItem(4)};
    EXPECT_EQ(MacroEditSize(items), 34 + 2 + 3 + 2);
}

}  // namespace
}  // namespace qvm
