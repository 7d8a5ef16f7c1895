// The macro editor's actions that ask the user, change the macro library or run a device
// transfer: the questions as data, their answers, and the transfers and their outcomes.
#include <charconv>

#include "base/text.h"
#include "config/config_image.h"
#include "macro/macro_describe.h"
#include "macro/macro_library.h"
#include "present/macro_editor_model.h"

namespace qvm {
namespace {

constexpr std::size_t kCapEnterName = 0;       // "Enter name"
constexpr std::size_t kCapEnterMacroName = 2;  // "Enter macro name"
constexpr std::size_t kCapEditMacro = 3;       // "Edit macro"
constexpr std::size_t kCapNewMacro = 4;        // "New macro - enter macro name"
constexpr std::size_t kMsgNoDevice = 10;       // "No device !!"
constexpr std::size_t kMsgMacroName = 24;      // "Macro name"
constexpr std::size_t kMsgDeleteMacro = 25;    // "Delete macro '%s' ?"
constexpr std::size_t kMsgFolderName = 26;     // "Folder name"
constexpr std::size_t kMsgDeleteFolder = 27;   // "Delete folder '%s' ?"
constexpr std::size_t kMsgOverwrite = 30;      // "Overwrite macro '%s' ?"
constexpr std::size_t kMsgSaveOrDiscard = 51;  // "Save changes in macro '%s' ? or discard it."
constexpr std::size_t kButtonDelete = 25;      // "Delete"

// No state equals this one: the edited macro is held nowhere.
constexpr uint64_t kNeverClean = UINT64_MAX;

std::string Filled(const std::string& templ, std::string arg) {
    const std::string args[] = {std::move(arg)};
    return FillTextTemplate(templ, args);
}

TextEntryRequest Question(std::string text, std::string caption = {}) {
    TextEntryRequest q;
    q.form = TextEntryForm::Question;
    q.caption = std::move(caption);
    q.text = std::move(text);
    return q;
}

int RunMode(int mode) {
    return mode >= kMacroModeOnce && mode <= kMacroModeFireKey ? mode : kMacroModeOnce;
}

Error Busy() {
    return MakeError(ErrorKind::Other, "a macro transfer is still running");
}

Result<int32_t> ParseWait(const std::string& text) {
    if (text.empty()) return 0;
    int32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < 0 ||
        value > kMacroMaxWaitMs) {
        return MakeError(ErrorKind::BadInput, "a wait lasts 0 to 65535 ms, not '" + text + "'");
    }
    return value;
}

}  // namespace

MacroTransferOutcome RunMacroTransfer(ConfigModel& model, const MacroTransfer& transfer,
                                      const MacroProgress& progress) {
    MacroTransferOutcome out;
    out.status = {};
    switch (transfer.kind) {
        case MacroTransfer::Kind::Store:
            out.status = StoreMacro(model, transfer.slot, transfer.mode, transfer.name,
                                    transfer.items, progress);
            break;
        case MacroTransfer::Kind::Read:
            if (auto read = ReadMacro(model, transfer.slot, progress)) {
                out.macro = std::move(*read);
            } else {
                out.status = read.error();
            }
            break;
        case MacroTransfer::Kind::Delete:
            out.status = DeleteMacro(model, transfer.slot);
            break;
        case MacroTransfer::Kind::Refresh:
            break;
    }
    const auto image = model.Snapshot();
    if (!image->loaded) {
        if (out.status.ok())
            out.status = MakeError(ErrorKind::DeviceGone, Ui().msg_str[kMsgNoDevice]);
        return out;
    }
    out.slotTable = image->macros;
    if (auto free = FreeMacroSpace(model)) {
        out.freeBytes = *free;
    } else if (out.status.ok()) {
        out.status = free.error();
    }
    return out;
}

DeviceHub::ModelTask MacroTransferTask(MacroTransfer transfer,
                                       std::shared_ptr<MacroTransferOutcome> outcome) {
    return [transfer = std::move(transfer), outcome = std::move(outcome)](
               ConfigModel& model, const DeviceHub::ProgressFn& percent) -> Status {
        constexpr double kPercent = 100.0;
        *outcome = RunMacroTransfer(model, transfer, [&](double fraction) {
            percent(static_cast<int>(fraction * kPercent));
        });
        return outcome->status;
    };
}

// ---- Questions ----

EditorStep MacroEditorModel::Ask(TextEntryRequest request, Pending what, MacroListTarget target,
                                 int32_t row) {
    pending_ = {what, target, row};
    EditorStep step;
    step.kind = EditorStep::Kind::Ask;
    step.question = std::move(request);
    return step;
}

TextEntryRequest MacroEditorModel::NewNameQuestion() const {
    TextEntryRequest q;
    q.form = TextEntryForm::Text;
    q.caption = ui_.cap_input_str[kCapNewMacro];
    q.prompt = ui_.msg_str[kMsgMacroName];
    q.text = name_;
    q.maximumLength = kMacroNameMaxUnits;
    return q;
}

EditorStep MacroEditorModel::EditRow(int32_t row) {
    if (recording_ || row < 0 || row >= list_.Count()) return {};
    const MacroItem& item = list_.Items()[static_cast<std::size_t>(row)];
    TextEntryRequest q;
    q.caption = ui_.cap_input_str[kCapEditMacro];
    if (auto ms = WaitMsOf(item)) {
        q.form = TextEntryForm::Number;
        q.text = std::to_string(*ms);
        q.maximumLength = kWaitFieldDigits;
        q.maximumValue = kMacroMaxWaitMs;
        return Ask(std::move(q), Pending::EditWait, {}, row);
    }
    if (auto move = MovementOf(item)) {
        q.form = TextEntryForm::Position;
        q.x = move->x;
        q.y = move->y;
        q.absolute = move->absolute;
        return Ask(std::move(q), Pending::EditMovement, {}, row);
    }
    return {};
}

EditorStep MacroEditorModel::AskName() {
    TextEntryRequest q;
    q.form = TextEntryForm::Text;
    q.caption = ui_.cap_input_str[kCapEnterMacroName];
    q.text = name_;
    q.maximumLength = kMacroNameMaxUnits;
    return Ask(std::move(q), Pending::Name);
}

EditorStep MacroEditorModel::AskInsertMovement() {
    TextEntryRequest q;
    q.form = TextEntryForm::Position;
    q.caption = ui_.cap_input_str[kCapEditMacro];
    return Ask(std::move(q), Pending::InsertMovement);
}

EditorStep MacroEditorModel::NewFolder(int32_t parentId) {
    TextEntryRequest q;
    q.form = TextEntryForm::Text;
    q.caption = ui_.cap_input_str[kCapEnterName];
    q.prompt = ui_.msg_str[kMsgFolderName];
    q.maximumLength = kFolderNameMaxUnits;
    MacroListTarget parent{MacroListTarget::Kind::LibraryFolder, -1, parentId};
    return Ask(std::move(q), Pending::NewFolder, parent);
}

// ---- Storing ----

Result<int> MacroEditorModel::FirstFreeSlot() const {
    if (!slots_) return MakeError(ErrorKind::DeviceGone, ui_.msg_str[kMsgNoDevice]);
    for (int i = 0; i < kMacroSlotCount; ++i) {
        if ((*slots_)[static_cast<std::size_t>(i)].Empty()) return i;
    }
    return MakeError(ErrorKind::NoSpace, ui_.word_str[kWordNoFreeSlot]);
}

EditorStep MacroEditorModel::StartTransfer(MacroTransfer transfer) {
    transfer.ticket = nextTicket_++;
    active_ = transfer;
    transferState_ = stateId_;
    progress_ = 0.0;
    EditorStep step;
    step.kind = EditorStep::Kind::Transfer;
    step.transfer = std::move(transfer);
    return step;
}

Result<EditorStep> MacroEditorModel::StoreNew() {
    if (active_) return Busy();
    if (auto slot = FirstFreeSlot(); !slot) return slot.error();
    return Ask(NewNameQuestion(), Pending::StoreNewName);
}

Result<EditorStep> MacroEditorModel::StoreInto(int slot, std::string name) {
    if (active_) return Busy();
    if (!slots_) return MakeError(ErrorKind::DeviceGone, ui_.msg_str[kMsgNoDevice]);
    if (slot < 0 || slot >= kMacroSlotCount) {
        return MakeError(ErrorKind::BadInput, "no macro slot " + std::to_string(slot + 1));
    }
    MacroTransfer t;
    t.kind = MacroTransfer::Kind::Store;
    t.slot = slot;
    t.mode = RunMode(mode_);
    t.name = std::move(name);
    t.items = list_.Items();
    return StartTransfer(std::move(t));
}

Result<EditorStep> MacroEditorModel::WriteLibraryFile(const std::string& path) {
    if (Status written = WriteMacroFile(path, name_, RunMode(mode_), list_.Items(), now_);
        !written) {
        loadAfterSave_.reset();
        return written.error();
    }
    cleanId_ = stateId_;
    source_ = {MacroSource::Kind::LibraryFile, -1, path};
    if (Status rescanned = library_.Rescan(); !rescanned) {
        loadAfterSave_.reset();
        return rescanned.error();
    }
    return ContinueAfterSave();
}

Result<EditorStep> MacroEditorModel::Save() {
    if (!Modified()) return EditorStep{};
    switch (source_.kind) {
        case MacroSource::Kind::DeviceSlot:
            return StoreInto(source_.slot, name_);
        case MacroSource::Kind::LibraryFile:
            return WriteLibraryFile(source_.path);
        case MacroSource::Kind::None:
            break;
    }
    return StoreNew();
}

Result<EditorStep> MacroEditorModel::ContinueAfterSave() {
    if (!loadAfterSave_) return EditorStep{};
    const MacroListTarget target = *loadAfterSave_;
    loadAfterSave_.reset();
    return LoadNow(target);
}

Result<EditorStep> MacroEditorModel::DropOnList(const MacroListTarget& target) {
    using Kind = MacroListTarget::Kind;
    switch (target.kind) {
        case Kind::DeviceArea:
            return StoreNew();
        case Kind::DeviceSlot: {
            if (active_) return Busy();
            if (!slots_) return MakeError(ErrorKind::DeviceGone, ui_.msg_str[kMsgNoDevice]);
            if (target.slot < 0 || target.slot >= kMacroSlotCount) {
                return MakeError(ErrorKind::BadInput,
                                 "no macro slot " + std::to_string(target.slot + 1));
            }
            if ((*slots_)[static_cast<std::size_t>(target.slot)].Empty()) {
                return Ask(NewNameQuestion(), Pending::StoreNewName, target);
            }
            return Ask(Question(Filled(ui_.msg_str[kMsgOverwrite], SlotLabel(target.slot))),
                       Pending::Overwrite, target);
        }
        case Kind::LibraryFolder:
            if (target.id != 0 &&
                (!library_.Find(target.id) || !library_.Find(target.id)->IsFolder())) {
                return MakeError(ErrorKind::BadInput, "the macro library has no such folder");
            }
            return Ask(NewNameQuestion(), Pending::NewFileName, target);
        case Kind::LibraryMacro: {
            const MacroLibraryEntry* entry = library_.Find(target.id);
            if (!entry || entry->IsFolder()) {
                return MakeError(ErrorKind::BadInput, "the macro library has no such macro");
            }
            return Ask(Question(Filled(ui_.msg_str[kMsgOverwrite], entry->name)),
                       Pending::Overwrite, target);
        }
    }
    return EditorStep{};
}

Result<EditorStep> MacroEditorModel::AnswerNewName(Pending what, const MacroListTarget& target,
                                                   const std::string& name) {
    if (Status named = SetName(name); !named) {
        loadAfterSave_.reset();
        return named.error();
    }
    if (what == Pending::NewFileName) {
        auto path = library_.AddMacroFile(target.id, name_, RunMode(mode_), list_.Items());
        if (!path) {
            loadAfterSave_.reset();
            return path.error();
        }
        cleanId_ = stateId_;
        source_ = {MacroSource::Kind::LibraryFile, -1, *path};
        return ContinueAfterSave();
    }
    Result<int> slot = target.kind == MacroListTarget::Kind::DeviceSlot ? Result<int>(target.slot)
                                                                        : FirstFreeSlot();
    if (!slot) {
        loadAfterSave_.reset();
        return slot.error();
    }
    return StoreInto(*slot, name_);
}

// ---- Loading ----

Result<EditorStep> MacroEditorModel::Load(const MacroListTarget& target) {
    if (active_) return Busy();
    MacroListTarget chosen = target;
    if (target.kind == MacroListTarget::Kind::DeviceSlot) {
        if (!slots_) return MakeError(ErrorKind::DeviceGone, ui_.msg_str[kMsgNoDevice]);
        if (target.slot < 0 || target.slot >= kMacroSlotCount ||
            (*slots_)[static_cast<std::size_t>(target.slot)].Empty()) {
            return MakeError(ErrorKind::BadInput, "that macro slot holds no macro");
        }
    } else if (target.kind == MacroListTarget::Kind::LibraryMacro) {
        const MacroLibraryEntry* entry = library_.Find(target.id);
        if (!entry || entry->IsFolder()) {
            return MakeError(ErrorKind::BadInput, "the macro library has no such macro");
        }
        // Saving first may rescan the library, which gives new ids.
        chosen.path = entry->path;
    } else {
        return MakeError(ErrorKind::BadInput, "only a macro can be loaded for editing");
    }
    if (!Modified()) return LoadNow(chosen);
    TextEntryRequest q = Question(Filled(ui_.msg_str[kMsgSaveOrDiscard], name_));
    q.threeChoices = true;
    return Ask(std::move(q), Pending::SaveOrDiscard, chosen);
}

Result<EditorStep> MacroEditorModel::LoadNow(const MacroListTarget& target) {
    if (target.kind == MacroListTarget::Kind::LibraryMacro) return LoadLibraryFile(target);
    if (active_) return Busy();
    MacroTransfer t;
    t.kind = MacroTransfer::Kind::Read;
    t.slot = target.slot;
    return StartTransfer(std::move(t));
}

Result<EditorStep> MacroEditorModel::LoadLibraryFile(const MacroListTarget& target) {
    std::string path = target.path;
    if (path.empty()) {
        const MacroLibraryEntry* entry = library_.Find(target.id);
        if (!entry || entry->IsFolder()) {
            return MakeError(ErrorKind::BadInput, "the macro library has no such macro");
        }
        path = entry->path;
    }
    auto file = ReadMacroFile(path);
    if (!file) return file.error();
    TakeLoaded(std::move(file->name), file->mode, std::move(file->items),
               {MacroSource::Kind::LibraryFile, -1, path});
    return EditorStep{};
}

void MacroEditorModel::TakeLoaded(std::string name, int mode, std::vector<MacroItem> items,
                                  MacroSource source) {
    ReleaseDelayArrow();
    list_.Assign(std::move(items));
    name_ = std::move(name);
    mode_ = RunMode(mode);
    source_ = std::move(source);
    undo_.clear();
    redo_.clear();
    stateId_ = cleanId_ = nextId_++;
}

Status MacroEditorModel::Import(const std::string& path) {
    auto file = ReadMacroFile(path);
    if (!file) return file.error();
    BeginEdit();
    list_.Assign(std::move(file->items));
    name_ = TruncateUtf16Units(file->name, kMacroNameMaxUnits);
    mode_ = RunMode(file->mode);
    return {};
}

Status MacroEditorModel::Export(const std::string& path, bool replaceExisting) const {
    return library_.ExportMacroFile(name_, RunMode(mode_), list_.Items(), path, replaceExisting);
}

std::string MacroEditorModel::SuggestedExportFileName() const {
    return SuggestExportName(name_, FormatLocalDate(now_())) + std::string(kMacroFileExtension);
}

// ---- Deleting ----

Result<EditorStep> MacroEditorModel::DeleteEntry(const MacroListTarget& target) {
    const std::string& caption = ui_.button_str[kButtonDelete];
    switch (target.kind) {
        case MacroListTarget::Kind::DeviceSlot: {
            if (!slots_) return MakeError(ErrorKind::DeviceGone, ui_.msg_str[kMsgNoDevice]);
            if (target.slot < 0 || target.slot >= kMacroSlotCount) break;
            const MacroSlot& s = (*slots_)[static_cast<std::size_t>(target.slot)];
            if (s.Empty() && !s.damaged) break;
            const std::string shown =
                s.name.empty() ? Filled(ui_.word_str[kWordSlot], std::to_string(target.slot + 1))
                               : s.name;
            return Ask(Question(Filled(ui_.msg_str[kMsgDeleteMacro], shown), caption),
                       Pending::DeleteEntry, target);
        }
        case MacroListTarget::Kind::LibraryFolder:
        case MacroListTarget::Kind::LibraryMacro: {
            const MacroLibraryEntry* entry = library_.Find(target.id);
            if (!entry) break;
            const std::size_t text = entry->IsFolder() ? kMsgDeleteFolder : kMsgDeleteMacro;
            return Ask(Question(Filled(ui_.msg_str[text], entry->name), caption),
                       Pending::DeleteEntry, target);
        }
        case MacroListTarget::Kind::DeviceArea:
            break;
    }
    return MakeError(ErrorKind::BadInput, "nothing there to delete");
}

Result<EditorStep> MacroEditorModel::AnswerDelete(const MacroListTarget& target) {
    if (target.kind == MacroListTarget::Kind::DeviceSlot) {
        if (active_) return Busy();
        MacroTransfer t;
        t.kind = MacroTransfer::Kind::Delete;
        t.slot = target.slot;
        return StartTransfer(std::move(t));
    }
    const MacroLibraryEntry* entry = library_.Find(target.id);
    if (!entry) return MakeError(ErrorKind::BadInput, "the macro library has no such entry");
    const std::string path = entry->path;
    if (Status deleted = library_.DeleteLibraryEntry(target.id); !deleted) return deleted.error();
    if (source_.kind == MacroSource::Kind::LibraryFile && source_.path == path) {
        source_ = {};
        cleanId_ = kNeverClean;
    }
    return EditorStep{};
}

// ---- Answers ----

Result<EditorStep> MacroEditorModel::AnswerOverwrite(const MacroListTarget& target) {
    // An unnamed macro takes the name of the one it replaces.
    std::string held;
    std::string path;
    if (target.kind == MacroListTarget::Kind::DeviceSlot) {
        if (!slots_) return MakeError(ErrorKind::DeviceGone, ui_.msg_str[kMsgNoDevice]);
        held = (*slots_)[static_cast<std::size_t>(target.slot)].name;
    } else {
        const MacroLibraryEntry* entry = library_.Find(target.id);
        if (!entry) return MakeError(ErrorKind::BadInput, "the macro library has no such macro");
        held = entry->name;
        path = entry->path;
    }
    if (name_.empty()) {
        if (Status named = SetName(TruncateUtf16Units(held, kMacroNameMaxUnits)); !named) {
            return named.error();
        }
    }
    if (target.kind == MacroListTarget::Kind::DeviceSlot) return StoreInto(target.slot, name_);
    return WriteLibraryFile(path);
}

Result<EditorStep> MacroEditorModel::AnswerSaveOrDiscard(bool accepted,
                                                         const TextEntryRequest& filled) {
    const MacroListTarget target = pending_.target;
    pending_ = {};
    if (!accepted) return EditorStep{};
    if (filled.thirdChosen) return LoadNow(target);
    loadAfterSave_ = target;
    auto saved = Save();
    if (!saved) loadAfterSave_.reset();
    return saved;
}

Result<EditorStep> MacroEditorModel::Answer(bool accepted, const TextEntryRequest& filled) {
    const PendingQuestion p = pending_;
    if (p.what == Pending::None) return MakeError(ErrorKind::Other, "no question is open");
    if (p.what == Pending::SaveOrDiscard) return AnswerSaveOrDiscard(accepted, filled);
    pending_ = {};
    if (!accepted) {
        loadAfterSave_.reset();
        return EditorStep{};
    }
    switch (p.what) {
        case Pending::Name:
            if (Status named = SetName(filled.text); !named) return named.error();
            return EditorStep{};
        case Pending::StoreNewName:
        case Pending::NewFileName:
            return AnswerNewName(p.what, p.target, filled.text);
        case Pending::Overwrite:
            return AnswerOverwrite(p.target);
        case Pending::EditWait: {
            auto ms = ParseWait(filled.text);
            if (!ms) return ms.error();
            if (Status set = SetWait(p.row, *ms); !set) return set.error();
            return EditorStep{};
        }
        case Pending::EditMovement:
            if (Status set = SetMovement(p.row, {filled.x, filled.y, filled.absolute}); !set) {
                return set.error();
            }
            return EditorStep{};
        case Pending::InsertMovement:
            if (Status set = InsertMovement({filled.x, filled.y, filled.absolute}); !set) {
                return set.error();
            }
            return EditorStep{};
        case Pending::NewFolder:
            if (auto made = library_.CreateLibraryFolder(p.target.id, filled.text); !made) {
                return made.error();
            }
            return EditorStep{};
        case Pending::DeleteEntry:
            return AnswerDelete(p.target);
        case Pending::SaveOrDiscard:
        case Pending::None:
            break;
    }
    return EditorStep{};
}

// ---- Transfers ----

Result<EditorStep> MacroEditorModel::RefreshDevice() {
    if (active_) return Busy();
    MacroTransfer t;
    t.kind = MacroTransfer::Kind::Refresh;
    return StartTransfer(std::move(t));
}

void MacroEditorModel::OnTransferProgress(double fraction) {
    if (active_) progress_ = std::clamp(fraction, 0.0, 1.0);
}

Result<EditorStep> MacroEditorModel::FinishTransfer(const MacroTransfer& transfer,
                                                    MacroTransferOutcome outcome) {
    if (!active_ || active_->ticket != transfer.ticket) {
        return MakeError(ErrorKind::Other, "that macro transfer is not the one running");
    }
    const MacroTransfer done = std::move(*active_);
    active_.reset();
    progress_ = 0.0;
    if (outcome.slotTable) SetDevice(std::move(outcome.slotTable), outcome.freeBytes);
    if (!outcome.status) {
        loadAfterSave_.reset();
        return outcome.status.error();
    }
    switch (done.kind) {
        case MacroTransfer::Kind::Store:
            source_ = {MacroSource::Kind::DeviceSlot, done.slot, {}};
            cleanId_ = transferState_;
            return ContinueAfterSave();
        case MacroTransfer::Kind::Read:
            if (outcome.macro) {
                TakeLoaded(std::move(outcome.macro->name), outcome.macro->mode,
                           std::move(outcome.macro->items),
                           {MacroSource::Kind::DeviceSlot, done.slot, {}});
            }
            return EditorStep{};
        case MacroTransfer::Kind::Delete:
            if (source_.kind == MacroSource::Kind::DeviceSlot && source_.slot == done.slot) {
                source_ = {};
                cleanId_ = kNeverClean;
            }
            return EditorStep{};
        case MacroTransfer::Kind::Refresh:
            return EditorStep{};
    }
    return EditorStep{};
}

}  // namespace qvm
