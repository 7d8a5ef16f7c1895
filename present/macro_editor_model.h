// What the macro editor window shows and does, without any drawing: the edit list of the
// macro being edited with its rows, its name, run mode and size, the device's macro slots
// and free memory, every editor action, undo and redo, and the device transfers the window
// runs on a worker thread.
//
// The model belongs to one thread (the window's). It never asks the user anything: an
// action that needs an answer returns the question as a TextEntryRequest, and the window
// shows it and hands the filled request back to Answer. A device transfer is returned as a
// MacroTransfer: RunMacroTransfer runs it on any thread against the configuration model,
// and its outcome goes back to FinishTransfer on the model's thread. Only one question and
// one transfer are open at a time.
//
// Where the edited macro came from decides what Save does: a device slot is stored again
// in that slot, a file of the macro library is written again, and a macro from nowhere (new,
// recorded, imported) is stored in a new device slot after its name is asked. Loading
// another macro starts afresh (undo does not reach back past it), so a modified macro is
// never dropped without the save-or-discard question.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/result.h"
#include "config/macro_slots.h"
#include "lang/ui_strings.h"
#include "macro/macro_edit.h"
#include "macro/macro_file.h"
#include "macro/macro_memory.h"
#include "platform/clock.h"
#include "present/text_entry.h"
#include "session/device_hub.h"

namespace qvm {

class ConfigModel;
class MacroLibrary;

inline constexpr int32_t kMacroNameMaxUnits = 15;   // UTF-16 units the name dialog takes
inline constexpr int32_t kFolderNameMaxUnits = 40;  // ... and the folder name dialog
inline constexpr int32_t kWaitFieldDigits = 5;
inline constexpr int32_t kTrackIntervalShortMs = 50;
inline constexpr int32_t kTrackIntervalLongMs = 200;
inline constexpr std::size_t kMacroEditorUndoDepth = 200;

// Where the edited macro came from.
struct MacroSource {
    enum class Kind { None, DeviceSlot, LibraryFile };
    Kind kind = Kind::None;
    int slot = -1;     // DeviceSlot: 0..79
    std::string path;  // LibraryFile
    bool operator==(const MacroSource&) const = default;
};

// An entry of the editor's list that an action or a drop works on.
struct MacroListTarget {
    enum class Kind {
        DeviceArea,     // the "Mouse memory" heading: the first free slot
        DeviceSlot,     // one of the 80 slots, used or empty
        LibraryFolder,  // a folder of the macro library; id 0 is its root
        LibraryMacro,   // a macro file of the macro library
    };
    Kind kind = Kind::DeviceArea;
    int slot = -1;
    int32_t id = 0;  // library entry id (valid until the library's next rescan)
    // A library macro's file; the model fills it in where a rescan may come between.
    std::string path;
};

// A device transfer. RunMacroTransfer runs it on any thread.
struct MacroTransfer {
    enum class Kind { Store, Read, Delete, Refresh };
    Kind kind = Kind::Refresh;
    int slot = -1;
    int mode = kMacroModeOnce;
    std::string name;
    std::vector<MacroItem> items;
    uint64_t ticket = 0;  // matches the outcome to the transfer the model handed out
};

struct MacroTransferOutcome {
    // Until RunMacroTransfer fills it in, an outcome says the transfer never ran.
    Status status = MakeError(ErrorKind::Other, "the macro transfer did not run");
    std::optional<StoredMacro> macro;  // Read
    // The slot table and free bytes after the transfer, whenever the device answered.
    std::optional<MacroSlots> slotTable;
    std::optional<int32_t> freeBytes;
};

// Runs the transfer with the configuration model's own locking; never touches the editor.
MacroTransferOutcome RunMacroTransfer(ConfigModel& model, const MacroTransfer& transfer,
                                      const MacroProgress& progress = {});

// The transfer as a task of the device hub's worker; `outcome` is filled when it has run.
// The hub's own finished status wins over the outcome's when it reports a failure (a
// simulated write that could not be kept, say): the window puts it into the outcome before
// FinishTransfer.
DeviceHub::ModelTask MacroTransferTask(MacroTransfer transfer,
                                       std::shared_ptr<MacroTransferOutcome> outcome);

// What the window does after an action.
struct EditorStep {
    enum class Kind {
        Done,      // nothing more (the view may have changed)
        Ask,       // show `question`, then hand it to Answer
        Transfer,  // run `transfer`, then hand its outcome to FinishTransfer
    };
    Kind kind = Kind::Done;
    TextEntryRequest question;
    MacroTransfer transfer;
};

// One row of the edit area: the items, then the closing row.
struct MacroEditorRow {
    std::string number;  // "%04d" from 0; empty on the closing row
    std::string text;    // the item's description, or end_str
    bool selected = false;
    bool cursor = false;
};

// The recorder's options that the editor holds.
struct RecordOptions {
    bool intervals = true;  // shared with the button settings dialog
    bool clickPositions = false;
    bool cursorTrack = false;
    int32_t trackIntervalMs = kTrackIntervalLongMs;
};

enum class DelayArrow { Down, Up };

class MacroEditorModel {
  public:
    // The library (rescanned by its owner) stays the caller's; the clock gives the items'
    // stamps, the export date and the delay arrows' repeat times.
    MacroEditorModel(MacroLibrary& library, Clock& clock, const UiStrings& ui = Ui(),
                     UnixSecondsSource now = UnixSecondsNow);

    // ---- What the window shows ----
    int32_t RowCount() const { return list_.Count() + 1; }
    MacroEditorRow Row(int32_t row) const;
    const std::vector<MacroItem>& Items() const { return list_.Items(); }
    int32_t Cursor() const { return list_.Cursor(); }
    std::optional<ItemRange> Selection() const { return list_.Selection(); }

    const std::string& Name() const { return name_; }
    std::string NameLabel() const;  // the name, or "Click to change name" when it is empty
    int Mode() const { return mode_; }
    std::string ModeLabel() const;
    int32_t Size() const { return MacroEditSize(list_.Items()); }
    std::string SizeLabel() const;
    std::optional<int32_t> FreeMemory() const { return freeBytes_; }
    std::string FreeMemoryLabel() const;  // empty without a device
    bool Modified() const { return stateId_ != cleanId_; }
    const MacroSource& Source() const { return source_; }

    // The device's slots as the "Mouse memory" list shows them: name or "Empty".
    bool DevicePresent() const { return slots_.has_value(); }
    std::string SlotLabel(int slot) const;
    const std::optional<MacroSlots>& Slots() const { return slots_; }
    // The device changed (loaded, left: nullopt); free bytes when known.
    void SetDevice(std::optional<MacroSlots> slots, std::optional<int32_t> freeBytes);

    const RecordOptions& Options() const { return options_; }
    void SetRecordIntervals(bool on) { options_.intervals = on; }
    void SetRecordClickPositions(bool on) { options_.clickPositions = on; }
    void SetRecordCursorTrack(bool on) { options_.cursorTrack = on; }
    // 50 or 200 ms; any other value is refused.
    Status SetTrackInterval(int32_t ms);

    // ---- Edits (each one undoable) ----
    // At most 15 UTF-16 units.
    Status SetName(std::string_view name);
    void CycleMode();  // 8 -> 9 -> 10 -> 8
    void Clear();
    void InsertDelay();  // a 1 ms wait at the cursor
    Status InsertMovement(const MacroMovement& movement);
    // A one-shot capture's items, at the cursor.
    void InsertCaptured(std::span<const MacroItem> items);
    // A recording: its items are appended at the end, and the whole recording is one step
    // of undo. Keys do nothing while it runs.
    void BeginRecording();
    void AppendRecorded(std::span<const MacroItem> items);
    void EndRecording();
    bool Recording() const { return recording_; }
    // Replaces item `row` with a wait of `ms` (0..65535) or a movement; refused for rows
    // that do not hold that kind of item, and for values out of range.
    Status SetWait(int32_t row, int32_t ms);
    Status SetMovement(int32_t row, const MacroMovement& movement);
    // Deletes the selection, else the item at the cursor. False when there was none.
    bool DeleteItems();

    // ---- Keys and clicks (refused while recording) ----
    void ClickRow(int32_t row, bool extend);
    void MoveCursor(int32_t delta, bool extend);
    void SelectAll();
    bool Copy();  // false when nothing was there to copy: the clipboard stays
    bool Cut();
    bool Paste();  // false when the clipboard is empty
    const std::vector<MacroItem>& Clipboard() const { return clipboard_; }
    bool Undo();
    bool Redo();
    bool CanUndo() const { return !undo_.empty(); }
    bool CanRedo() const { return !redo_.empty(); }

    // ---- The delay arrows ----
    // Changes the wait at the cursor at once; false when the cursor holds no wait. The
    // held arrow repeats on AdvanceDelayArrow at the times NextDelayArrowRepeat gives.
    bool PressDelayArrow(DelayArrow arrow);
    // Makes every repeat that is due by the clock's time; returns how many it made.
    int AdvanceDelayArrow();
    std::optional<Clock::TimePoint> NextDelayArrowRepeat() const;
    void ReleaseDelayArrow();

    // ---- Actions that ask or transfer ----
    // Double-click on a row: a wait or a movement is edited through a question; other
    // items give Done.
    EditorStep EditRow(int32_t row);
    EditorStep AskName();            // the edited macro's name
    EditorStep AskInsertMovement();  // "Insert mouse move"
    Result<EditorStep> StoreNew();   // asks the name, then stores in a free slot
    Result<EditorStep> Save();       // nothing when unmodified
    Result<EditorStep> DeleteEntry(const MacroListTarget& target);  // asks first
    EditorStep NewFolder(int32_t parentId);
    // A drag from the edit area dropped on the list: a new macro, or a replacement of the
    // macro dropped on after the overwrite question.
    Result<EditorStep> DropOnList(const MacroListTarget& target);
    // A drag from the list dropped on the edit area: loads the macro, after the
    // save-or-discard question when the edited one is modified.
    Result<EditorStep> Load(const MacroListTarget& target);
    // The device's slots and free memory, read again.
    Result<EditorStep> RefreshDevice();
    // The file replaces the edited macro's items, name and mode (an undoable edit).
    Status Import(const std::string& path);
    Status Export(const std::string& path, bool replaceExisting) const;
    std::string SuggestedExportFileName() const;  // "<name>_<yyyy-MM-dd>.mf"

    // The window's answer to the open question: accepted (OK or the first choice; the
    // third choice sets thirdChosen) or cancelled, with the request as the dialog filled it.
    Result<EditorStep> Answer(bool accepted, const TextEntryRequest& filled);
    bool Asking() const { return pending_.what != Pending::None; }

    bool Transferring() const { return active_.has_value(); }
    double Progress() const { return progress_; }
    void OnTransferProgress(double fraction);
    Result<EditorStep> FinishTransfer(const MacroTransfer& transfer, MacroTransferOutcome outcome);

  private:
    struct Snapshot {
        std::vector<MacroItem> items;
        std::string name;
        int mode = kMacroModeOnce;
        int32_t cursor = 0;
        std::optional<ItemRange> selection;
        uint64_t id = 0;
    };
    enum class Pending {
        None,
        Name,
        StoreNewName,
        NewFileName,
        Overwrite,
        SaveOrDiscard,
        EditWait,
        EditMovement,
        InsertMovement,
        NewFolder,
        DeleteEntry,
    };
    struct PendingQuestion {
        Pending what = Pending::None;
        MacroListTarget target;
        int32_t row = -1;
    };
    struct HeldArrow {
        DelayArrow arrow = DelayArrow::Down;
        int changes = 0;  // changes made so far, the press included
        Clock::TimePoint due;
    };

    uint32_t Stamp() const;
    Snapshot Current() const;
    void Restore(const Snapshot& s);
    // Records the state before an edit; within an open group only the first edit does.
    void BeginEdit(bool group = false);
    void CloseGroup() { groupOpen_ = false; }

    EditorStep Ask(TextEntryRequest request, Pending what, MacroListTarget target = {},
                   int32_t row = -1);
    EditorStep StartTransfer(MacroTransfer transfer);
    TextEntryRequest NewNameQuestion() const;
    Result<EditorStep> StoreInto(int slot, std::string name);
    Result<int> FirstFreeSlot() const;
    Result<EditorStep> WriteLibraryFile(const std::string& path);
    Result<EditorStep> LoadNow(const MacroListTarget& target);
    Result<EditorStep> LoadLibraryFile(const MacroListTarget& target);
    Result<EditorStep> AnswerSaveOrDiscard(bool accepted, const TextEntryRequest& filled);
    Result<EditorStep> AnswerDelete(const MacroListTarget& target);
    Result<EditorStep> AnswerOverwrite(const MacroListTarget& target);
    Result<EditorStep> AnswerNewName(Pending what, const MacroListTarget& target,
                                     const std::string& name);
    // A loaded macro replaces everything and starts a fresh history.
    void TakeLoaded(std::string name, int mode, std::vector<MacroItem> items, MacroSource source);
    Result<EditorStep> ContinueAfterSave();
    void ChangeWait(int32_t row, int step);
    Status CheckRowHolds(int32_t row, bool wait) const;

    MacroLibrary& library_;
    Clock& clock_;
    const UiStrings& ui_;
    UnixSecondsSource now_;

    MacroEditList list_;
    std::string name_;
    int mode_ = kMacroModeOnce;
    MacroSource source_;
    std::vector<MacroItem> clipboard_;

    std::vector<Snapshot> undo_;
    std::vector<Snapshot> redo_;
    uint64_t nextId_ = 1;
    uint64_t stateId_ = 0;  // the state shown
    uint64_t cleanId_ = 0;  // the state last stored or loaded
    bool groupOpen_ = false;
    bool recording_ = false;
    std::optional<HeldArrow> held_;

    std::optional<MacroSlots> slots_;
    std::optional<int32_t> freeBytes_;
    RecordOptions options_;

    PendingQuestion pending_;
    // What a successful save goes on with: the load the save-or-discard question held up.
    std::optional<MacroListTarget> loadAfterSave_;
    std::optional<MacroTransfer> active_;
    uint64_t transferState_ = 0;  // the state a running store writes
    uint64_t nextTicket_ = 1;
    double progress_ = 0.0;
};

}  // namespace qvm
