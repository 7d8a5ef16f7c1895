// The macro editor's model without a window: rows and labels, list edits, the delay arrows
// on a fake clock, undo to the byte, its questions, and transfers with a simulated mouse.
#include "present/macro_editor_model.h"

#include <gtest/gtest.h>

#include <functional>
#include <tuple>

#include "macro/macro_library.h"
#include "macro/macro_memory_rig.h"
#include "support/fake_clock.h"
#include "support/temp_folder.h"

namespace qvm {
namespace {

using test::FakeClock;
using test::TempFolder;

const auto EdItem = [](std::vector<uint8_t> bytes) { return MakeMacroItem(bytes); };
const auto EdCode = [](const MacroEditorModel& m) { return EncodeMacroCode(m.Items()); };

// An editor on an empty macro library of its own, with a fake clock.
struct EditorRig {
    TempFolder dir;
    FakeClock clock;
    MacroLibrary library{dir.path() + "/Favorite", [] { return int64_t{1700000000}; }};
    MacroEditorModel model{library, clock, Ui(), [] { return int64_t{1700000000}; }};

    EditorRig() { EXPECT_TRUE(library.Rescan().ok()); }

    // Items inserted at the cursor as a one-shot capture inserts them.
    void Fill(const std::vector<MacroItem>& items) { model.InsertCaptured(items); }
    // Answers the open question with OK, changing the request first.
    Result<EditorStep> Ok(const EditorStep& step,
                          const std::function<void(TextEntryRequest&)>& fill = {}) {
        EXPECT_EQ(step.kind, EditorStep::Kind::Ask);
        TextEntryRequest answer = step.question;
        if (fill) fill(answer);
        return model.Answer(true, answer);
    }
};

const std::vector<MacroItem> kCtrlCWaitCtrlV = {
    EdItem({0x83, 0xE0}), EdItem({0x83, 0x06}),       EdItem({0x84, 0x06}),
    EdItem({0x84, 0xE0}), EdItem({0x89, 0x2C, 0x01}), EdItem({0x83, 0xE0}),
    EdItem({0x83, 0x19}), EdItem({0x84, 0x19}),       EdItem({0x84, 0xE0}),
};

TEST(MacroEditorRows, RowsAndLabels) {
    EditorRig rig;
    EXPECT_EQ(rig.model.NameLabel(), "Click to change name");
    rig.Fill({EdItem({0x83, 0x04}), EdItem({0x88, 0x32}), EdItem({0x21})});
    ASSERT_EQ(rig.model.RowCount(), 4);
    EXPECT_EQ(rig.model.Row(1).text, "50 ms");
    EXPECT_EQ(rig.model.Row(2).text, "Press & hold mouse button [Left]");
    EXPECT_EQ(rig.model.Row(3).number, "");
    EXPECT_EQ(rig.model.Row(3).text, "-- End --");
    EXPECT_TRUE(rig.model.Row(3).cursor);  // inserting moved past each item
    EXPECT_EQ(rig.model.SizeLabel(), "39 bytes");
    MacroSlots slots{};
    slots[2] = {"Copy", 0x400, 0x421, 40, kMacroModeOnce};
    slots[3] = {"", 0x428, 0x449, 35, kMacroModeOnce};
    rig.model.SetDevice(slots, 1234);
    EXPECT_EQ(rig.model.FreeMemoryLabel(), "free memory: 1234 bytes");
    EXPECT_EQ(rig.model.SlotLabel(0), "Empty");
    EXPECT_EQ(rig.model.SlotLabel(2), "Copy");
    EXPECT_EQ(rig.model.SlotLabel(3), "slot 4");
}

// Edits of Press A, 10 ms, Release A with the cursor at the end; the size counts the
// 34 bytes every macro takes besides its items.
struct EditCase {
    const char* name;
    std::function<void(MacroEditorModel&)> edit;
    std::vector<uint8_t> code;
    int32_t cursor;
};

const std::vector<EditCase> kEdits = {
    {"ClearShows34Bytes", [](MacroEditorModel& m) { m.Clear(); }, {}, 0},
    {"PasteIntoEmptyListAtZero",
     [](MacroEditorModel& m) {
         m.SelectAll();
         m.Cut();
         m.Paste();
         m.Clear();
         m.Paste();
     },
     {0x83, 0x04, 0x88, 0x0A, 0x84, 0x04},
     3},
    {"ShiftDownSelectsTwoAndDeleteTakesBoth",
     [](MacroEditorModel& m) {
         m.ClickRow(1, false);
         m.MoveCursor(1, true);
         m.DeleteItems();
     },
     {0x83, 0x04},
     1},
    {"CutThenPasteAtEndMovesItems",
     [](MacroEditorModel& m) {
         m.ClickRow(0, false);
         m.Cut();
         m.MoveCursor(5, false);
         m.Paste();
     },
     {0x88, 0x0A, 0x84, 0x04, 0x83, 0x04},
     3},
    {"InsertAbsoluteMove",
     [](MacroEditorModel& m) {
         m.ClickRow(3, false);
         ASSERT_TRUE(m.InsertMovement({100, 200, true}).ok());
     },
     {0x83, 0x04, 0x88, 0x0A, 0x84, 0x04, 0xC0, 0x64, 0x00, 0xC8, 0x00},
     4},
    {"WaitBecomesLong",
     [](MacroEditorModel& m) { ASSERT_TRUE(m.SetWait(1, 300).ok()); },
     {0x83, 0x04, 0x89, 0x2C, 0x01, 0x84, 0x04},
     3},
};

TEST(MacroEditorEdits, CodeSizeAndCursor) {
    for (const EditCase& c : kEdits) {
        SCOPED_TRACE(c.name);
        EditorRig rig;
        rig.Fill({EdItem({0x83, 0x04}), EdItem({0x88, 0x0A}), EdItem({0x84, 0x04})});
        c.edit(rig.model);
        EXPECT_EQ(EdCode(rig.model), c.code);
        EXPECT_EQ(rig.model.Size(), 34 + static_cast<int32_t>(c.code.size()));
        EXPECT_EQ(rig.model.Cursor(), c.cursor);
    }
}

TEST(MacroEditorModes, CycleOnceLoopFireKeyOnce) {
    EditorRig rig;
    const std::vector<std::pair<int, std::string>> expected = {
        {9, "Loop mode"}, {10, "Firekey mode"}, {8, "One time mode"}, {9, "Loop mode"}};
    for (const auto& [mode, label] : expected) {
        rig.model.CycleMode();
        EXPECT_EQ(rig.model.Mode(), mode);
        EXPECT_EQ(rig.model.ModeLabel(), label);
        EXPECT_TRUE(rig.model.Modified());
    }
}

TEST(MacroEditorArrows, WaitLoweredByStep101From300To199) {
    EditorRig rig;
    rig.Fill({EdItem({0x89, 0xF5, 0x01})});  // 501 ms
    rig.model.ClickRow(0, false);
    ASSERT_TRUE(rig.model.PressDelayArrow(DelayArrow::Down));
    EXPECT_EQ(WaitMsOf(rig.model.Items()[0]), 500);
    std::vector<int> gaps;
    // Repeats 1 to 100 take 1 x 90 and 11 x 10: 500 - 200 = 300 after repeat 100.
    while (gaps.size() < 100) {
        const auto due = rig.model.NextDelayArrowRepeat();
        ASSERT_TRUE(due);
        gaps.push_back(static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(*due - rig.clock.Now()).count()));
        rig.clock.SleepMs(gaps.back());
        ASSERT_EQ(rig.model.AdvanceDelayArrow(), 1);
    }
    // The first repeat after 500 ms, the next five 128 ms apart, then 32 ms apart.
    EXPECT_EQ(std::vector(gaps.begin(), gaps.begin() + 7),
              (std::vector<int>{500, 128, 128, 128, 128, 128, 32}));
    ASSERT_EQ(WaitMsOf(rig.model.Items()[0]), 300);
    rig.clock.SleepMs(8);  // the pause after repeat 100
    EXPECT_EQ(rig.model.AdvanceDelayArrow(), 1);
    const MacroItem& item = rig.model.Items()[0];
    EXPECT_EQ(item.length, 2);
    EXPECT_EQ(EdCode(rig.model), (std::vector<uint8_t>{0x88, 199}));
    rig.model.ReleaseDelayArrow();
    rig.clock.SleepMs(1000);
    EXPECT_EQ(rig.model.AdvanceDelayArrow(), 0);
    // The whole hold is one step of undo.
    EXPECT_TRUE(rig.model.Undo());
    EXPECT_EQ(EdCode(rig.model), (std::vector<uint8_t>{0x89, 0xF5, 0x01}));
}

struct UndoCase {
    const char* name;
    std::function<void(MacroEditorModel&)> edit;
};

const std::vector<UndoCase> kUndos = {
    {"Clear", [](MacroEditorModel& m) { m.Clear(); }},
    {"WaitEdit", [](MacroEditorModel& m) { ASSERT_TRUE(m.SetWait(4, 7).ok()); }},
    {"Name", [](MacroEditorModel& m) { ASSERT_TRUE(m.SetName("Other").ok()); }},
    {"Recording",
     [](MacroEditorModel& m) {
         m.BeginRecording();
         m.AppendRecorded(std::vector<MacroItem>{EdItem({0x21})});
         m.AppendRecorded(std::vector<MacroItem>{EdItem({0x41})});
         m.EndRecording();
     }},
};

TEST(MacroEditorUndo, RoundTripRestoresExactBytes) {
    for (const UndoCase& c : kUndos) {
        SCOPED_TRACE(c.name);
        EditorRig rig;
        rig.Fill(kCtrlCWaitCtrlV);
        ASSERT_TRUE(rig.model.SetName("Copy paste").ok());
        const auto state = [&] {
            return std::tuple(EdCode(rig.model), rig.model.Name(), rig.model.Mode());
        };
        const auto before = state();
        c.edit(rig.model);
        const auto after = state();
        ASSERT_TRUE(rig.model.Undo());
        EXPECT_EQ(state(), before);
        ASSERT_TRUE(rig.model.Redo());
        EXPECT_EQ(state(), after);
        EXPECT_FALSE(rig.model.Redo());
    }
}

TEST(MacroEditorQuestions, EditRowAsksByItemKind) {
    EditorRig rig;
    rig.Fill({EdItem({0x89, 0x2C, 0x01}), EdItem({0x80, 0xFF, 0xFF, 0x05, 0x00}), EdItem({0x21})});
    EditorStep wait = rig.model.EditRow(0);
    ASSERT_EQ(wait.kind, EditorStep::Kind::Ask);
    EXPECT_EQ(std::tuple(wait.question.form, wait.question.text, wait.question.maximumValue),
              std::tuple(TextEntryForm::Number, std::string("300"), 65535));
    ASSERT_TRUE(rig.Ok(wait, [](TextEntryRequest& q) { q.text = "40"; }));
    EditorStep move = rig.model.EditRow(1);
    ASSERT_EQ(move.kind, EditorStep::Kind::Ask);
    EXPECT_EQ(
        std::tuple(move.question.form, move.question.x, move.question.y, move.question.absolute),
        std::tuple(TextEntryForm::Position, -1, 5, false));
    ASSERT_TRUE(rig.Ok(move, [](TextEntryRequest& q) {
        q.x = 640;
        q.absolute = true;
    }));
    EXPECT_EQ(rig.model.EditRow(2).kind, EditorStep::Kind::Done);
    EXPECT_EQ(EdCode(rig.model),
              (std::vector<uint8_t>{0x88, 40, 0xC0, 0x80, 0x02, 0x05, 0x00, 0x21}));
}

TEST(MacroEditorQuestions, SaveOnUnmodifiedMacroDoesNothing) {
    EditorRig rig;
    auto step = rig.model.Save();
    ASSERT_TRUE(step);
    EXPECT_EQ(step->kind, EditorStep::Kind::Done);
}

TEST(MacroEditorLibrary, LoadAsksBeforeDroppingChanges) {
    EditorRig rig;
    auto a =
        rig.library.AddMacroFile(0, "A", kMacroModeLoop, std::vector<MacroItem>{EdItem({0x21})});
    auto b =
        rig.library.AddMacroFile(0, "B", kMacroModeOnce, std::vector<MacroItem>{EdItem({0x41})});
    ASSERT_TRUE(a && b);
    const MacroListTarget fileA{MacroListTarget::Kind::LibraryMacro, -1,
                                rig.library.FindPath(*a)->id};
    const MacroListTarget fileB{MacroListTarget::Kind::LibraryMacro, -1,
                                rig.library.FindPath(*b)->id};

    // A failed Result throws when read: the test fails there.
    EXPECT_EQ(rig.model.Load(fileA)->kind, EditorStep::Kind::Done);  // unmodified: at once
    EXPECT_EQ(rig.model.Name(), "A");
    EXPECT_EQ(rig.model.Mode(), kMacroModeLoop);
    EXPECT_FALSE(rig.model.CanUndo());

    rig.model.InsertDelay();
    auto ask = rig.model.Load(fileB);
    ASSERT_TRUE(ask);
    ASSERT_EQ(ask->kind, EditorStep::Kind::Ask);
    EXPECT_TRUE(ask->question.threeChoices);
    EXPECT_EQ(ask->question.text, "Save changes in macro 'A' ? or discard it.");

    // The second choice keeps everything.
    ASSERT_TRUE(rig.model.Answer(false, ask->question));
    EXPECT_EQ(rig.model.Name(), "A");
    EXPECT_TRUE(rig.model.Modified());

    // The first saves A's file, then loads B.
    ask = rig.model.Load(fileB);
    ASSERT_TRUE(ask);
    ASSERT_TRUE(rig.model.Answer(true, ask->question));
    EXPECT_EQ(rig.model.Name(), "B");
    EXPECT_EQ(EncodeMacroCode(ReadMacroFile(*a)->items), (std::vector<uint8_t>{0x88, 0x01, 0x21}));

    // The third discards.
    rig.model.CycleMode();
    ask = rig.model.Load(fileA);
    ASSERT_TRUE(ask);
    TextEntryRequest third = ask->question;
    third.thirdChosen = true;
    ASSERT_TRUE(rig.model.Answer(true, third));
    EXPECT_EQ(rig.model.Name(), "A");
    EXPECT_EQ(ReadMacroFile(*b)->mode, kMacroModeOnce);
}

// The editor wired to one simulated mouse; transfers run as a window's worker would run
// them, here on the test's thread.
struct DeviceEditorRig : EditorRig {
    test::MacroRig mouse{"g5/mem=8k", test::kAreasB};
    std::vector<double> progress;

    DeviceEditorRig() {
        mouse.Load();
        auto refresh = model.RefreshDevice();
        EXPECT_TRUE(refresh);
        EXPECT_TRUE(Run(*refresh));
    }
    Result<EditorStep> Run(const EditorStep& step) {
        EXPECT_EQ(step.kind, EditorStep::Kind::Transfer);
        EXPECT_TRUE(model.Transferring());
        MacroTransferOutcome outcome =
            RunMacroTransfer(*mouse.model, step.transfer, [&](double p) { progress.push_back(p); });
        return model.FinishTransfer(step.transfer, std::move(outcome));
    }
};

TEST(MacroEditorDevice, StoreNewIntoFirstFreeSlotAndReadBack) {
    DeviceEditorRig rig;
    const int32_t freeBefore = *rig.model.FreeMemory();
    rig.Fill(kCtrlCWaitCtrlV);
    auto ask = rig.model.Save();  // nothing edited before: asks for a name
    ASSERT_TRUE(ask);
    ASSERT_EQ(ask->kind, EditorStep::Kind::Ask);
    auto store = rig.Ok(*ask, [](TextEntryRequest& q) { q.text = "Copy paste"; });
    ASSERT_TRUE(store) << store.message();
    ASSERT_TRUE(rig.Run(*store));
    EXPECT_FALSE(rig.model.Modified());
    EXPECT_EQ(rig.model.Source(), (MacroSource{MacroSource::Kind::DeviceSlot, 0, {}}));
    EXPECT_EQ(rig.model.SlotLabel(0), "Copy paste");
    EXPECT_EQ(*rig.model.FreeMemory(), freeBefore - rig.model.Size());
    ASSERT_FALSE(rig.progress.empty());
    EXPECT_LE(rig.progress.back(), 1.0);

    const uint32_t heap = test::kAreasB.heap;
    const std::vector<uint8_t> code = EdCode(rig.model);
    EXPECT_EQ(rig.mouse.Peek(heap + 33, code.size() + 1), test::Concat({code, {0x00}}));
    EXPECT_EQ(rig.mouse.IndexEntry(0),
              test::Le16Pair(heap, static_cast<uint32_t>(rig.model.Size())));
}

TEST(MacroEditorDevice, LackOfSpaceKeepsTheMacroModified) {
    DeviceEditorRig rig;
    std::vector<MacroItem> big(3000, EdItem({0x80, 1, 0, 1, 0}));  // 15000 bytes
    rig.Fill(big);
    auto ask = rig.model.StoreNew();
    ASSERT_TRUE(ask);
    auto store = rig.Ok(*ask, [](TextEntryRequest& q) { q.text = "Big"; });
    ASSERT_TRUE(store);
    auto result = rig.Run(*store);
    EXPECT_EQ(result.kind(), ErrorKind::NoSpace);
    EXPECT_TRUE(rig.model.Modified());
    EXPECT_EQ(rig.model.Source().kind, MacroSource::Kind::None);
    EXPECT_FALSE(rig.model.Transferring());
}

TEST(MacroEditorDevice, OneTransferAtATimeAndStaleOutcomesRefused) {
    DeviceEditorRig rig;
    rig.Fill({EdItem({0x21})});
    auto refresh = rig.model.RefreshDevice();
    ASSERT_TRUE(refresh);
    EXPECT_FALSE(rig.model.RefreshDevice());
    EXPECT_FALSE(rig.model.StoreNew());
    MacroTransfer stale = refresh->transfer;
    stale.ticket += 100;
    EXPECT_FALSE(rig.model.FinishTransfer(stale, {}));
    EXPECT_TRUE(rig.Run(*refresh));
    EXPECT_FALSE(rig.model.Transferring());

    // A transfer that never ran (no mouse on the hub's side, say) fails the action.
    auto ask = rig.model.StoreNew();
    ASSERT_TRUE(ask);
    auto store = rig.Ok(*ask, [](TextEntryRequest& q) { q.text = "Never"; });
    ASSERT_TRUE(store);
    EXPECT_FALSE(rig.model.FinishTransfer(store->transfer, MacroTransferOutcome{}));
    EXPECT_FALSE(rig.model.Transferring());
    EXPECT_TRUE(rig.model.Modified());
    EXPECT_EQ(rig.model.Source().kind, MacroSource::Kind::None);
}

}  // namespace
}  // namespace qvm
