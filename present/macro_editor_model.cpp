// The macro editor's display and its edits: rows and labels, the edits of the list, name
// and mode, the keys, the delay arrows, and undo and redo. The questions, the library and
// the device transfers are in macro_editor_actions.cpp.
#include "present/macro_editor_model.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "base/text.h"
#include "macro/macro_describe.h"

namespace qvm {
namespace {

constexpr std::size_t kMsgFreeMemory = 9;    // "free memory: %d bytes"
constexpr std::size_t kMsgNameHint = 23;     // "Click to change name"
constexpr std::size_t kMsgEmptySlot = 34;    // "Empty"
constexpr std::size_t kButtonModeOnce = 15;  // then loop and fire key

std::string Filled(const std::string& templ, std::string arg) {
    const std::string args[] = {std::move(arg)};
    return FillTextTemplate(templ, args);
}

}  // namespace

MacroEditorModel::MacroEditorModel(MacroLibrary& library, Clock& clock, const UiStrings& ui,
                                   UnixSecondsSource now)
    : library_(library), clock_(clock), ui_(ui), now_(std::move(now)) {}

// ---- Display ----

MacroEditorRow MacroEditorModel::Row(int32_t row) const {
    MacroEditorRow out;
    if (row < 0 || row > list_.Count()) return out;
    out.cursor = row == list_.Cursor();
    if (row == list_.Count()) {
        out.text = ui_.end_str;
        return out;
    }
    char number[16];
    std::snprintf(number, sizeof number, "%04d", static_cast<int>(row));
    out.number = number;
    out.text =
        DescribeMacroInstructionWith(ui_, list_.Items()[static_cast<std::size_t>(row)].Bytes());
    out.selected = list_.Selected(row);
    return out;
}

std::string MacroEditorModel::NameLabel() const {
    return name_.empty() ? ui_.msg_str[kMsgNameHint] : name_;
}

std::string MacroEditorModel::ModeLabel() const {
    const int mode = std::clamp(mode_, kMacroModeOnce, kMacroModeFireKey);
    return ui_.button_str[kButtonModeOnce + static_cast<std::size_t>(mode - kMacroModeOnce)];
}

std::string MacroEditorModel::SizeLabel() const {
    return Filled(ui_.word_str[kWordMacroBytes], std::to_string(Size()));
}

std::string MacroEditorModel::FreeMemoryLabel() const {
    if (!freeBytes_) return {};
    return Filled(ui_.msg_str[kMsgFreeMemory], std::to_string(*freeBytes_));
}

std::string MacroEditorModel::SlotLabel(int slot) const {
    if (!slots_ || slot < 0 || slot >= kMacroSlotCount) return {};
    const MacroSlot& s = (*slots_)[static_cast<std::size_t>(slot)];
    if (s.Empty()) return ui_.msg_str[kMsgEmptySlot];
    if (s.name.empty()) return Filled(ui_.word_str[kWordSlot], std::to_string(slot + 1));
    return s.name;
}

void MacroEditorModel::SetDevice(std::optional<MacroSlots> slots,
                                 std::optional<int32_t> freeBytes) {
    slots_ = std::move(slots);
    freeBytes_ = slots_ ? freeBytes : std::nullopt;
}

Status MacroEditorModel::SetTrackInterval(int32_t ms) {
    if (ms != kTrackIntervalShortMs && ms != kTrackIntervalLongMs) {
        return MakeError(ErrorKind::BadInput,
                         "the track interval is 50 or 200 ms, not " + std::to_string(ms) + " ms");
    }
    options_.trackIntervalMs = ms;
    return {};
}

// ---- History ----

uint32_t MacroEditorModel::Stamp() const {
    using std::chrono::duration_cast;
    using std::chrono::milliseconds;
    return static_cast<uint32_t>(
        duration_cast<milliseconds>(clock_.Now().time_since_epoch()).count());
}

MacroEditorModel::Snapshot MacroEditorModel::Current() const {
    return {list_.Items(), name_, mode_, list_.Cursor(), list_.Selection(), stateId_};
}

void MacroEditorModel::Restore(const Snapshot& s) {
    list_.Restore(s.items, s.cursor, s.selection);
    name_ = s.name;
    mode_ = s.mode;
    stateId_ = s.id;
}

void MacroEditorModel::BeginEdit(bool group) {
    if (group && groupOpen_) return;
    undo_.push_back(Current());
    if (undo_.size() > kMacroEditorUndoDepth) undo_.erase(undo_.begin());
    redo_.clear();
    stateId_ = nextId_++;
    groupOpen_ = group;
}

bool MacroEditorModel::Undo() {
    if (recording_ || undo_.empty()) return false;
    ReleaseDelayArrow();
    redo_.push_back(Current());
    Restore(undo_.back());
    undo_.pop_back();
    return true;
}

bool MacroEditorModel::Redo() {
    if (recording_ || redo_.empty()) return false;
    ReleaseDelayArrow();
    undo_.push_back(Current());
    Restore(redo_.back());
    redo_.pop_back();
    return true;
}

// ---- Edits ----

Status MacroEditorModel::SetName(std::string_view name) {
    if (CountUtf16Units(name) > static_cast<std::size_t>(kMacroNameMaxUnits)) {
        return MakeError(
            ErrorKind::BadInput,
            "a macro name has at most " + std::to_string(kMacroNameMaxUnits) + " characters");
    }
    if (name == name_) return {};
    BeginEdit();
    name_ = std::string(name);
    return {};
}

void MacroEditorModel::CycleMode() {
    BeginEdit();
    mode_ = mode_ >= kMacroModeFireKey || mode_ < kMacroModeOnce ? kMacroModeOnce : mode_ + 1;
}

void MacroEditorModel::Clear() {
    BeginEdit();
    list_.Clear();
}

void MacroEditorModel::InsertDelay() {
    const MacroItem wait = MakeWaitItem(1);
    BeginEdit();
    list_.InsertAtCursor({&wait, 1}, Stamp());
}

Status MacroEditorModel::InsertMovement(const MacroMovement& movement) {
    auto item = MakeMovementItem(movement);
    if (!item) return item.error();
    BeginEdit();
    list_.InsertAtCursor({&*item, 1}, Stamp());
    return {};
}

void MacroEditorModel::InsertCaptured(std::span<const MacroItem> items) {
    if (items.empty()) return;
    BeginEdit();
    list_.InsertAtCursor(items, Stamp());
}

void MacroEditorModel::BeginRecording() {
    ReleaseDelayArrow();
    CloseGroup();
    recording_ = true;
}

void MacroEditorModel::AppendRecorded(std::span<const MacroItem> items) {
    if (items.empty()) return;
    BeginEdit(recording_);
    list_.Append(items);
}

void MacroEditorModel::EndRecording() {
    recording_ = false;
    CloseGroup();
}

Status MacroEditorModel::CheckRowHolds(int32_t row, bool wait) const {
    if (row < 0 || row >= list_.Count()) {
        return MakeError(ErrorKind::BadInput, "the macro has no item " + std::to_string(row));
    }
    const MacroItem& item = list_.Items()[static_cast<std::size_t>(row)];
    const bool holds = wait ? WaitMsOf(item).has_value() : MovementOf(item).has_value();
    if (!holds) {
        return MakeError(ErrorKind::BadInput, "item " + std::to_string(row) + " is not a " +
                                                  (wait ? "wait" : "movement"));
    }
    return {};
}

Status MacroEditorModel::SetWait(int32_t row, int32_t ms) {
    if (Status ok = CheckRowHolds(row, true); !ok) return ok;
    if (ms < 0 || ms > kMacroMaxWaitMs) {
        return MakeError(ErrorKind::BadInput,
                         "a wait lasts 0 to 65535 ms, not " + std::to_string(ms));
    }
    BeginEdit();
    list_.ReplaceAt(row, MakeWaitItem(ms, Stamp()));
    return {};
}

Status MacroEditorModel::SetMovement(int32_t row, const MacroMovement& movement) {
    if (Status ok = CheckRowHolds(row, false); !ok) return ok;
    auto item = MakeMovementItem(movement, Stamp());
    if (!item) return item.error();
    BeginEdit();
    list_.ReplaceAt(row, *item);
    return {};
}

bool MacroEditorModel::DeleteItems() {
    if (recording_) return false;
    const auto range = list_.Target();
    if (!range) return false;
    BeginEdit();
    list_.Erase(*range);
    return true;
}

// ---- Keys and clicks ----

void MacroEditorModel::ClickRow(int32_t row, bool extend) {
    if (!recording_) list_.SetCursor(row, extend);
}

void MacroEditorModel::MoveCursor(int32_t delta, bool extend) {
    if (!recording_) list_.MoveCursor(delta, extend);
}

void MacroEditorModel::SelectAll() {
    if (!recording_) list_.SelectAll();
}

bool MacroEditorModel::Copy() {
    if (recording_) return false;
    std::vector<MacroItem> items = list_.TargetItems();
    if (items.empty()) return false;
    clipboard_ = std::move(items);
    return true;
}

bool MacroEditorModel::Cut() {
    return Copy() && DeleteItems();
}

bool MacroEditorModel::Paste() {
    if (recording_ || clipboard_.empty()) return false;
    BeginEdit();
    list_.InsertAtCursor(clipboard_, Stamp());
    return true;
}

// ---- Delay arrows ----

void MacroEditorModel::ChangeWait(int32_t row, int step) {
    const MacroItem& item = list_.Items()[static_cast<std::size_t>(row)];
    const int32_t ms = std::clamp(*WaitMsOf(item) + step, 0, kMacroMaxWaitMs);
    BeginEdit(true);
    list_.ReplaceAt(row, MakeWaitItem(ms, Stamp()));
}

bool MacroEditorModel::PressDelayArrow(DelayArrow arrow) {
    ReleaseDelayArrow();
    if (recording_ || !CheckRowHolds(list_.Cursor(), true)) return false;
    const int sign = arrow == DelayArrow::Up ? 1 : -1;
    ChangeWait(list_.Cursor(), sign * DelayArrowStep(0));
    held_ = HeldArrow{arrow, 1, clock_.Now() + std::chrono::milliseconds(DelayArrowPauseMs(0))};
    return true;
}

int MacroEditorModel::AdvanceDelayArrow() {
    int made = 0;
    const Clock::TimePoint now = clock_.Now();
    while (held_ && held_->due <= now) {
        if (!CheckRowHolds(list_.Cursor(), true)) {
            ReleaseDelayArrow();
            break;
        }
        const int n = std::min(held_->changes, kDelayArrowLastCount);
        const int sign = held_->arrow == DelayArrow::Up ? 1 : -1;
        ChangeWait(list_.Cursor(), sign * DelayArrowStep(n));
        held_->due += std::chrono::milliseconds(DelayArrowPauseMs(n));
        held_->changes = std::min(held_->changes + 1, kDelayArrowLastCount);
        ++made;
    }
    return made;
}

std::optional<Clock::TimePoint> MacroEditorModel::NextDelayArrowRepeat() const {
    if (!held_) return std::nullopt;
    return held_->due;
}

void MacroEditorModel::ReleaseDelayArrow() {
    held_.reset();
    CloseGroup();
}

}  // namespace qvm
