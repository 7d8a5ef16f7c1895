// Planning over a slot table without a device: which index entries are records, the
// best-fit choice, when to compact, and the pieces long code is written in.
#include <gtest/gtest.h>

#include "macro_memory_rig.h"

namespace qvm {
namespace {

struct Placed {
    int slot;
    int32_t start;
    int32_t length;
};

MacroSlots Table(std::initializer_list<Placed> placed) {
    MacroSlots slots{};
    for (const Placed& p : placed) {
        MacroSlot& s = slots[static_cast<std::size_t>(p.slot)];
        s.start = p.start;
        s.length = p.length;
        s.codeAddress = p.start + 33;
    }
    return slots;
}

// Class B, 8 KiB, plain layout: heap 0x460..0x1FFF; 0x1FBE..0x1FFD reserved for modes,
// 0x1FFE..0x1FFF probe marker. Last allocatable byte 0x1FBD.
const MacroHeap kHeapB{0x460, 0x1FFF, AddressRange{0x1FBE, 0x1FFD}};

struct FitCase {
    const char* name;
    MacroHeap heap;
    MacroSlots slots;
    uint32_t length;
    AllocationPlan expected;
};

const FitCase kFitCases[] = {
    // Gaps of 200 (0x4C4..0x58B) and 3000+ at the end: the smaller one that fits.
    {"SmallestFittingGap", kHeapB, Table({{3, 0x460, 100}, {9, 0x58C, 100}}), 150, {0x4C4, false}},
    // Gaps of 50 at the heap start and after slot 0: equal sizes, the start is first.
    {"EqualSizesFirstCandidate",
     kHeapB,
     Table({{0, 0x492, 100}, {1, 0x528, 6806}}),
     50,
     {0x460, false}},
    // A block ends below the reserved mode table, not at the probe marker.
    {"EndBlockStopsBelowModeTable", kHeapB, Table({{0, 0x460, 6906}}), 100, {0x1F5A, false}},
    {"EndBlockOneTooSmall", kHeapB, Table({{0, 0x460, 6906}}), 101, {std::nullopt, false}},
    // Back-to-back records: the end of one is the start of the next, not free.
    {"BackToBackNotFree",
     kHeapB,
     Table({{0, 0x460, 100}, {1, 0x4C4, 100}, {2, 0x600, 100}}),
     200,
     {0x528, false}},
    // Pieces of 2000 each, 4000 in all: compaction makes room for 3000.
    {"ScatteredCompacts",
     kHeapB,
     Table({{0, 0x460, 1000}, {1, 0x1018, 1000}, {2, 0x1BD0, 1006}}),
     3000,
     {std::nullopt, true}},
    {"AboveTotalNeverCompacts",
     kHeapB,
     Table({{0, 0x460, 1000}, {1, 0x1018, 1000}, {2, 0x1BD0, 1006}}),
     4001,
     {std::nullopt, false}},
    // An entry that ends inside the configuration area (0x10..0x3F) is no candidate:
    // its end block would run up to the record at the heap start and be the best fit.
    {"EntryBelowHeapIsNoCandidate",
     kHeapB,
     Table({{0, 0x10, 0x30}, {1, 0x460, 100}}),
     40,
     {0x4C4, false}},
    // Slot 1 lies inside slot 0 and slot 0 runs into slot 2: the ends of slots 1 and 0
    // are inside other records, not free.
    {"CandidateInsideARecordIsNotFree",
     kHeapB,
     Table({{0, 0x460, 200}, {1, 0x480, 20}, {2, 0x500, 100}}),
     40,
     {0x564, false}},
};

class BestFit : public ::testing::TestWithParam<FitCase> {};

TEST_P(BestFit, Choice) {
    const FitCase& c = GetParam();
    const AllocationPlan plan = PlanAllocation(c.slots, c.heap, c.length);
    EXPECT_EQ(plan.start, c.expected.start);
    EXPECT_EQ(plan.compact, c.expected.compact);
}

INSTANTIATE_TEST_SUITE_P(Plans, BestFit, ::testing::ValuesIn(kFitCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PlanCodePieces, PiecesOfAtMost128AlignedForLongCodeAtOddAddress) {
    struct Case {
        uint32_t address;
        uint32_t length;
        std::vector<CodePiece> expected;
    };
    const Case cases[] = {
        {0x481, 129, {{0, 63}, {63, 66}}},
        {0x4E1, 200, {{0, 31}, {31, 128}, {159, 41}}},
        {0x4BF, 300, {{0, 1}, {1, 128}, {129, 128}, {257, 43}}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PlanCodePieces(c.address, c.length), c.expected) << c.address << " " << c.length;
    }
}

}  // namespace
}  // namespace qvm
