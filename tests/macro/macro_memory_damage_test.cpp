// Macro memory another program (or a fault) left damaged, and stores cut short: an index
// entry outside the heap never costs the configuration or the other macros, and a store
// the device leaves part-way never leaves a slot or a button on a half-written record.
#include <gtest/gtest.h>

#include "config/button_text.h"
#include "macro_memory_rig.h"

namespace qvm {
namespace {

using namespace test;  // NOLINT(google-build-using-namespace): the rig's helpers

constexpr int kDamagedSlot = 6;

// Everything in front of the heap that is no macro table: header, profiles and their
// buttons, then the key-cycle lists and whatever lies up to the heap.
std::vector<uint8_t> ConfigurationBytes(MacroRig& rig) {
    return Concat({rig.Peek(0, rig.areas.index),
                   rig.Peek(rig.areas.keyCycles, rig.areas.heap - rig.areas.keyCycles)});
}

std::vector<MacroItem> Keys(int count) {
    std::vector<MacroItem> items;
    for (int k = 0; k < count; ++k) items.push_back(Item({0x83, static_cast<uint8_t>(4 + k % 26)}));
    return items;
}

struct DamageCase {
    const char* name;
    const char* devices;
    MacroAreas areas;
    uint32_t start;  // what the damaged index entry says
    uint32_t length;
    uint32_t usable;  // bytes records may take in the heap
    DamagedEntry::Reason reason;
};

const DamageCase kDamage[] = {
    // Ends at 0x0040, in the profiles: its end was once taken for free space.
    {"BelowHeap", "g0/mem=8k", kAreasA, 0x0010, 0x30, 7166, DamagedEntry::Reason::BelowHeap},
    // Between the plain and the extended heap start: the lighting of an extended layout.
    {"InFrontOfExtendedHeap", "g5x/mem=8k", kAreasBExtended, 0x0470, 40, 6926,
     DamagedEntry::Reason::BelowHeap},
    // A 64 KiB memory has no address 0x10000: the record cannot even be read.
    {"PastTheEndOf64KiB", "g12/mem=64k", kAreasC, 0xFFF0, 0x40, 64110,
     DamagedEntry::Reason::PastEnd},
    {"ShorterThanARecord", "g12/mem=8k", kAreasC, 0x0600, 5, 6766, DamagedEntry::Reason::TooShort},
};

class DamagedSlot : public ::testing::TestWithParam<DamageCase> {
  protected:
    // A good macro at the heap start run by a button, and the damaged entry in slot 6
    // with a button that would run its record.
    void SetUp() override {
        const DamageCase& c = GetParam();
        rig = std::make_unique<MacroRig>(c.devices, c.areas);
        m = c.areas.heap;
        good = FakeRecord("good", 60, 3);
        rig->PokeSlot(0, m, good);
        rig->PokeButton(1, 2, Runs(kMacroModeLoop, m + 33));
        rig->Poke(c.areas.index + 4 * kDamagedSlot, Le16Pair(c.start, c.length));
        damagedCode = c.start + 33;
        if (damagedCode <= 0xFFFF) rig->PokeButton(2, 5, Runs(kMacroModeOnce, damagedCode));
        configuration = ConfigurationBytes(*rig);
        rig->Load();
    }

    std::unique_ptr<MacroRig> rig;
    uint32_t m = 0;
    uint32_t damagedCode = 0;
    std::vector<uint8_t> good;
    std::vector<uint8_t> configuration;
};

TEST_P(DamagedSlot, LoadsAsAnEmptySlotAndCountsNoSpace) {
    const DamageCase& c = GetParam();
    const auto image = rig->Image();
    const MacroSlot& slot = image->macros[kDamagedSlot];
    EXPECT_TRUE(slot.Empty());
    ASSERT_TRUE(slot.damaged.has_value());
    EXPECT_EQ(slot.damaged->reason, c.reason);
    EXPECT_EQ(slot.damaged->start, c.start);
    EXPECT_EQ(slot.damaged->length, c.length);
    EXPECT_EQ(DamagedSlotWarnings(image->macros).size(), 1u);
    EXPECT_EQ(image->macros[0].name, "good");
    if (damagedCode <= 0xFFFF) {
        const std::string text = ShownButtonText(*image, image->buttons[2][5]);
        EXPECT_NE(text.find("(damaged macro slot 7)"), std::string::npos) << text;
    }
    const auto free = FreeMacroSpace(*rig->model);
    ASSERT_TRUE(free.ok()) << free.message();
    EXPECT_EQ(*free, static_cast<int32_t>(c.usable - good.size()));
}

TEST_P(DamagedSlot, StoreAndCompactionStayInTheHeap) {
    ASSERT_TRUE(StoreMacro(*rig->model, 3, kMacroModeOnce, "Tap", Keys(2)).ok());
    EXPECT_EQ(rig->IndexEntry(3), Le16Pair(m + 60, 38));
    EXPECT_EQ(ConfigurationBytes(*rig), configuration);

    ASSERT_TRUE(DeleteMacro(*rig->model, 0).ok());
    const Status compacted = CompactMacroMemory(*rig->model);
    ASSERT_TRUE(compacted.ok()) << compacted.message();
    EXPECT_EQ(rig->IndexEntry(3), Le16Pair(m, 38));
    EXPECT_EQ(rig->IndexEntry(kDamagedSlot), Le16Pair(GetParam().start, GetParam().length));
    // Giving the buttons of slot 0 their defaults back is the only change in front of the heap.
    rig->PokeButton(1, 2, Runs(kMacroModeLoop, m + 33));
    EXPECT_EQ(ConfigurationBytes(*rig), configuration);
    rig->ExpectSlotsMatchDevice();
}

INSTANTIATE_TEST_SUITE_P(Entries, DamagedSlot, ::testing::ValuesIn(kDamage),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- A store the device leaves part-way ----

// Slot 4 holds `old` at `oldStart`, run by a button of the active profile and one of
// another; the store of `items` into slot 4 is cut after each of its transfers in turn.
// Whatever the index entry and the buttons point at afterwards is a whole record: the
// old one, or the new one once complete. A button may be on its default while it moves
// to the new record; and where the new record needs the old one's place, the slot is
// emptied and its buttons put on their defaults before that place is rewritten.
struct CutStore {
    const char* name;
    std::vector<std::pair<uint32_t, uint32_t>> others;  // offset from the heap, length
    uint32_t oldOffset;
    uint32_t oldLength;
    int items;
    bool oldPlaceReused;
};

const CutStore kCuts[] = {
    // Room beside the old record: it stays in force until the new one is indexed.
    {"RoomBeside", {{0, 100}}, 200, 60, 150, false},
    // The new record fits only in the old one's place.
    {"OnlyInTheOldPlace", {{6000, 900}}, 0, 6000, 483, true},
};

class InterruptedStore : public ::testing::TestWithParam<CutStore> {};

TEST_P(InterruptedStore, LeavesNothingOnAHalfWrittenRecord) {
    const CutStore& c = GetParam();
    const std::vector<uint8_t> old = FakeRecord("old", c.oldLength, 1);
    const auto items = Keys(c.items);
    const std::vector<uint8_t> fresh = BuildMacroRecord("new", items);
    auto prepare = [&](MacroRig& rig) {
        const uint32_t m = rig.areas.heap;
        for (const auto& [offset, length] : c.others) {
            rig.PokeSlot(1, m + offset, FakeRecord("other", length, 7));
        }
        rig.PokeSlot(4, m + c.oldOffset, old);
        rig.PokeButton(0, 1, Runs(kMacroModeOnce, m + c.oldOffset + 33));
        rig.PokeButton(3, 2, Runs(kMacroModeLoop, m + c.oldOffset + 33));
        rig.Load();
    };
    auto transfers = [](MacroRig& rig) {
        const SimTransferStats st = rig.Device().Stats();
        return static_cast<int>(st.getFeature + st.setFeature);
    };

    MacroRig whole("g5/mem=8k", kAreasB);
    prepare(whole);
    const int before = transfers(whole);
    ASSERT_TRUE(StoreMacro(*whole.model, 4, kMacroModeLoop, "new", items).ok());
    const int count = transfers(whole) - before;
    const uint32_t m = kAreasB.heap;
    const uint32_t oldStart = m + c.oldOffset;
    const auto placed = whole.IndexEntry(4);
    const uint32_t newStart = placed[0] | placed[1] << 8;
    ASSERT_EQ(placed, Le16Pair(newStart, static_cast<uint32_t>(fresh.size())));
    ASSERT_EQ(newStart == oldStart, c.oldPlaceReused);
    // Whole, the store leaves the old record's buttons on the new one, in its mode.
    EXPECT_EQ(whole.PeekButton(0, 1), Runs(kMacroModeLoop, newStart + 33));
    EXPECT_EQ(whole.PeekButton(3, 2), Runs(kMacroModeLoop, newStart + 33));

    for (int after = 1; after < count; ++after) {
        SCOPED_TRACE(after);
        MacroRig rig("g5/mem=8k", kAreasB);
        prepare(rig);
        SimFaults faults;
        faults.removeAfter = after;
        rig.Device().SetFaults(faults);
        const Status stored = StoreMacro(*rig.model, 4, kMacroModeLoop, "new", items);
        ASSERT_FALSE(stored.ok());
        EXPECT_EQ(stored.kind(), ErrorKind::DeviceGone) << stored.message();
        // What the message says the slot holds is what it holds.
        const std::string& said = stored.message();
        auto says = [&](const char* part) { return said.find(part) != std::string::npos; };

        const bool oldWhole = rig.Peek(oldStart, old.size()) == old;
        const bool newWhole = rig.Peek(newStart, fresh.size()) == fresh;
        const auto entry = rig.IndexEntry(4);
        const bool indexed = entry == Le16Pair(newStart, static_cast<uint32_t>(fresh.size()));
        if (entry == Le16Pair(oldStart, c.oldLength)) {
            EXPECT_TRUE(oldWhole);
            EXPECT_TRUE(says("macro slot 5 still holds its old macro") ||
                        says("macro slot 5 is as it was") ||
                        says("holds its old macro or the new one"))
                << said;
        } else if (indexed) {
            EXPECT_TRUE(newWhole);
            EXPECT_TRUE(says("the macro is stored in macro slot 5") ||
                        says("holds its old macro or the new one") ||
                        says("is empty or holds the new macro"))
                << said;
        } else {
            EXPECT_TRUE(c.oldPlaceReused);
            EXPECT_EQ(entry, Le16Pair(0, 0));
            EXPECT_TRUE(says("macro slot 5 is now empty") || says("macro slot 5 is empty")) << said;
        }
        for (const auto& [profile, button] : {std::pair{0, 1}, std::pair{3, 2}}) {
            const ButtonSlot b = rig.PeekButton(profile, button);
            const uint32_t code = b.op1 | b.op2 << 8;
            if (b.type == 0) {
                // Its default: while it moves to the new record, or while the old place is
                // rewritten.
                EXPECT_TRUE(indexed || c.oldPlaceReused) << profile;
            } else {
                EXPECT_TRUE((code == oldStart + 33 && oldWhole) ||
                            (code == newStart + 33 && newWhole))
                    << profile << " runs " << code;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Stores, InterruptedStore, ::testing::ValuesIn(kCuts),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qvm
