// The device side of the macro memory: allocation with compaction, store, delete and
// read back. Every operation runs on the model's private image copy under its work lock
// and keeps the copy (slot table, stored bytes, buttons) equal to what it wrote.
#include "macro/macro_memory.h"

#include <algorithm>

#include "base/text.h"
#include "device/commands.h"
#include "lang/ui_strings.h"

namespace qvm {
namespace {

using ImageCopy = ConfigModel::ImageCopy;

constexpr int kLackOfSpaceMessage = 19;
constexpr uint32_t kMaxRecordLength = 0xFFFF;  // the index entry's 16-bit length
constexpr double kCompactReadShare = 0.5;

// Why the device failed the macro operation, as the device's own failure says.
Error DeviceLost(ImageCopy& copy) {
    return copy.Commands()
        .FailureOr(copy.Path(), "the device did not answer during the macro operation")
        .ToError();
}

// A device failure with what the device holds now, so the user knows what is left.
Error Held(const Error& failure, const std::string& held) {
    return MakeError(failure.kind, failure.message + "; " + held);
}

// The slot as the user counts it, from 1.
std::string SlotName(int slot) {
    return "macro slot " + std::to_string(slot + 1);
}

struct ButtonRef {
    int profile = 0;
    int button = 0;
};

Error LackOfSpace() {
    return MakeError(ErrorKind::NoSpace, Ui().msg_str[kLackOfSpaceMessage]);
}

void Report(const MacroProgress& progress, double fraction) {
    if (progress) progress(std::clamp(fraction, 0.0, 1.0));
}

Status CheckSlot(int slot) {
    if (slot < 0 || slot >= kMacroSlotCount) {
        return MakeError("macro slot " + std::to_string(slot) + " is outside 0 to 79");
    }
    return {};
}

MacroSlot& SlotOf(ImageCopy& copy, int slot) {
    return copy.Image().macros[static_cast<std::size_t>(slot)];
}
const MacroSlot& SlotOf(const ConfigImage& image, int slot) {
    return image.macros[static_cast<std::size_t>(slot)];
}

Result<MacroHeap> HeapOf(ImageCopy& copy) {
    const ConfigImage& image = copy.Image();
    if (!image.memoryTop) return MakeError("the memory size of the device is not known");
    const bool extended = copy.Commands().Values().Get(copy.Path()).ExtendedLayoutFlag != 0;
    return MacroHeapOf(image.Layout(), extended, *image.memoryTop);
}

// The update notice; the 9-byte class has none.
bool Notify(ImageCopy& copy) {
    if (copy.Image().layoutClass == LayoutClass::A) return true;
    return copy.Commands().NotifyUpdate(copy.Path());
}

// Writes memory and keeps the copy's stored bytes in step where they cover the address.
Status Write(ImageCopy& copy, uint32_t address, std::span<const uint8_t> data) {
    if (!copy.Commands().WriteMemory(copy.Path(), address, data)) return DeviceLost(copy);
    std::vector<uint8_t>& bytes = copy.Image().bytes;
    for (std::size_t k = 0; k < data.size() && address + k < bytes.size(); ++k) {
        bytes[address + k] = data[k];
    }
    return {};
}

Status WriteIndexEntry(ImageCopy& copy, int slot, uint32_t start, uint32_t length) {
    const uint32_t at =
        copy.Image().Layout().macroIndex + static_cast<uint32_t>(kMacroIndexEntryBytes * slot);
    const std::array<uint8_t, kMacroIndexEntryBytes> entry{
        static_cast<uint8_t>(start), static_cast<uint8_t>(start >> 8), static_cast<uint8_t>(length),
        static_cast<uint8_t>(length >> 8)};
    return Write(copy, at, entry);
}

// True when the slot's mode byte has a place: the mode table, or the reserved table
// while no record of another program overlaps it.
bool HasModeByte(ImageCopy& copy, int slot) {
    const ConfigImage& image = copy.Image();
    const ImageLayout& layout = image.Layout();
    if (!MacroModeAddress(layout, *image.memoryTop, slot)) return false;
    return layout.cls == LayoutClass::A || slot < kLowModeSlots ||
           HighModeTableUsable(layout, *image.memoryTop, image.macros);
}

Status WriteModeByte(ImageCopy& copy, int slot, int mode) {
    if (!HasModeByte(copy, slot)) return {};
    const ConfigImage& image = copy.Image();
    const std::array<uint8_t, 1> byte{static_cast<uint8_t>(mode)};
    return Write(copy, *MacroModeAddress(image.Layout(), *image.memoryTop, slot), byte);
}

// A record of another program that sat on the reserved mode table has gone (moved by a
// compaction, or replaced by a store): from now on the table holds the modes of slots
// 16..79, written whole from the slot table.
Status TakeOverModeTable(ImageCopy& copy, const MacroHeap& heap, bool wasUsable) {
    const ConfigImage& image = copy.Image();
    if (wasUsable || !heap.modeTable ||
        !HighModeTableUsable(image.Layout(), heap.end, image.macros)) {
        return {};
    }
    std::array<uint8_t, kHighModeTableBytes> modes{};
    for (std::size_t s = 0; s < modes.size(); ++s) {
        modes[s] = static_cast<uint8_t>(image.macros[kLowModeSlots + s].mode);
    }
    return Write(copy, heap.modeTable->first, modes);
}

// Every button of every profile whose function runs the macro at `codeAddress`.
std::vector<ButtonRef> ButtonsRunning(const ConfigImage& image, int32_t codeAddress) {
    std::vector<ButtonRef> found;
    for (int p = 0; p < kProfileCount; ++p) {
        for (int j = 0; j < image.ButtonCount(); ++j) {
            if (MacroButtonType(image.Layout(), image.bytes, p, j, codeAddress)) {
                found.push_back({p, j});
            }
        }
    }
    return found;
}

// The buttons that run the macro of `slot`: those at its code address (for an empty slot,
// the macro buttons with code address 0, which wait for a macro), and for a damaged slot
// those at the code address its record would have.
std::vector<ButtonRef> ButtonsOfSlot(const ConfigImage& image, int slot) {
    std::vector<ButtonRef> found = ButtonsRunning(image, SlotOf(image, slot).codeAddress);
    if (const auto code = DamagedCodeAddress(image.macros, slot)) {
        const auto more = ButtonsRunning(image, *code);
        found.insert(found.end(), more.begin(), more.end());
    }
    return found;
}

struct ButtonWrite {
    ButtonRef ref;
    ButtonSlot slot;
};

std::vector<ButtonWrite> Assign(std::span<const ButtonRef> buttons, ButtonSlot slot) {
    std::vector<ButtonWrite> writes;
    for (const ButtonRef& b : buttons) writes.push_back({b, slot});
    return writes;
}

// Writes each button; reloads the device's settings once when one of them is in the
// active profile.
Status WriteButtons(ImageCopy& copy, std::span<const ButtonWrite> writes) {
    bool active = false;
    for (const ButtonWrite& w : writes) {
        if (Status ok = copy.WriteButton(w.ref.profile, w.ref.button, w.slot); !ok) return ok;
        active = active || w.ref.profile == copy.Image().currentProfile;
    }
    if (active && !copy.Commands().ReloadSettings(copy.Path())) return DeviceLost(copy);
    return {};
}

Status CheckItems(std::span<const MacroItem> items) {
    for (std::size_t k = 0; k < items.size(); ++k) {
        const MacroItem& item = items[k];
        if (item.length < 0 || item.length > kMacroItemMaxBytes) {
            return MakeError("macro item " + std::to_string(k + 1) + " has a length of " +
                             std::to_string(item.length) + " bytes");
        }
        if (item.Opcode() == kOpEnd) {
            return MakeError("macro item " + std::to_string(k + 1) +
                             " is the end byte 0x00, which only ends a stored macro");
        }
    }
    return {};
}

// Writes the record of a slot already placed at `start`: header, name, code in pieces.
Status WriteRecord(ImageCopy& copy, uint32_t start, std::span<const uint8_t> record,
                   const MacroProgress& progress) {
    const std::array<uint8_t, 1> fieldLength{record[0]};
    if (Status ok = Write(copy, start, fieldLength); !ok) return ok;
    const auto name = record.subspan(1, kMacroNameFieldLength);
    if (Status ok = Write(copy, start + 1, name); !ok) return ok;
    const auto code = record.subspan(kMacroRecordHeaderBytes);
    const uint32_t codeAt = start + kMacroRecordHeaderBytes;
    const auto pieces = PlanCodePieces(codeAt, static_cast<uint32_t>(code.size()));
    for (const CodePiece& piece : pieces) {
        if (Status ok =
                Write(copy, codeAt + piece.offset, code.subspan(piece.offset, piece.length));
            !ok) {
            return ok;
        }
        const double written = kMacroRecordHeaderBytes + piece.offset + piece.length;
        Report(progress, (written + 1) / static_cast<double>(record.size() + 1));
    }
    return {};
}

}  // namespace

// ---- Free space and allocation ----

Result<int32_t> FreeMacroSpace(ConfigModel& model, std::optional<int> except) {
    int32_t free = 0;
    Status ok = model.WithImageCopy([&](ImageCopy& copy) -> Status {
        auto heap = HeapOf(copy);
        if (!heap) return heap.error();
        free = FreeMacroSpace(copy.Image().macros, *heap, except);
        return {};
    });
    if (!ok) return ok.error();
    return free;
}

Result<uint32_t> AllocateMacroSpace(ImageCopy& copy, uint32_t length,
                                    const MacroProgress& progress) {
    auto heap = HeapOf(copy);
    if (!heap) return heap.error();
    AllocationPlan plan = PlanAllocation(copy.Image().macros, *heap, length);
    if (plan.compact) {
        if (Status ok = CompactMacroMemory(copy, progress); !ok) return ok.error();
        plan = PlanAllocation(copy.Image().macros, *heap, length);
    }
    if (!plan.start) return LackOfSpace();
    return *plan.start;
}

// ---- Compaction ----

Status CompactMacroMemory(ImageCopy& copy, const MacroProgress& progress) {
    auto heap = HeapOf(copy);
    if (!heap) return heap.error();
    ConfigImage& image = copy.Image();
    std::vector<int> used;
    uint64_t total = 0;
    for (int i = 0; i < kMacroSlotCount; ++i) {
        const MacroSlot& s = image.macros[static_cast<std::size_t>(i)];
        if (s.Empty()) continue;
        used.push_back(i);
        total += static_cast<uint32_t>(s.length);
    }
    if (total > 0 && heap->start + total - 1 > heap->Limit()) {
        return MakeError("the macro records take more bytes than the macro memory holds");
    }
    const bool tableWasUsable = HighModeTableUsable(image.Layout(), heap->end, image.macros);

    int moved = 0;
    // Records move down in slot order and their buttons follow at the end: a write that
    // fails part-way leaves the device in between, and the user is told how far it got.
    auto cut = [&](const Status& failed, int slot) {
        if (moved == 0 && slot < 0) return Held(failed.error(), "no macro was moved");
        std::string held =
            "the compaction stopped after moving " + std::to_string(moved) + " macros";
        if (slot >= 0) held += "; " + SlotName(slot) + " may be incomplete";
        return Held(failed.error(), held +
                                        "; buttons of moved macros may still run their old "
                                        "places: check the macros when the device is back");
    };
    // Everything is read before anything is written: records may overlap their new places.
    std::vector<std::vector<uint8_t>> records(kMacroSlotCount);
    uint64_t read = 0;
    for (int i : used) {
        const MacroSlot& s = image.macros[static_cast<std::size_t>(i)];
        auto& record = records[static_cast<std::size_t>(i)];
        record.resize(static_cast<std::size_t>(s.length));
        if (!record.empty() && !copy.Commands().ReadMemory(
                                   copy.Path(), static_cast<uint32_t>(s.start), record, false)) {
            return cut(DeviceLost(copy), -1);
        }
        read += record.size();
        Report(progress, (read + 1.0) / (total + 1.0) * kCompactReadShare);
    }

    // Buttons are matched against the bytes as they were, so a button re-pointed to a
    // moved record is never taken for another record's old address.
    const ConfigImage before = image;
    std::vector<ButtonWrite> marked;
    auto isMarked = [&](const ButtonRef& b) {
        return std::any_of(marked.begin(), marked.end(), [&](const ButtonWrite& m) {
            return m.ref.profile == b.profile && m.ref.button == b.button;
        });
    };
    uint32_t next = heap->start;
    uint64_t written = 0;
    for (int i : used) {
        MacroSlot& s = image.macros[static_cast<std::size_t>(i)];
        const auto& record = records[static_cast<std::size_t>(i)];
        const uint32_t header = record.empty() ? kMacroRecordHeaderBytes : record[0] + 1u;
        const auto oldCode = static_cast<int32_t>(static_cast<uint32_t>(s.start) + header);
        if (static_cast<uint32_t>(s.start) != next) {
            // The record first, then the entry that points at it.
            if (!record.empty()) {
                if (Status ok = Write(copy, next, record); !ok) return cut(ok, i);
            }
            if (Status ok = WriteIndexEntry(copy, i, next, record.size()); !ok) return cut(ok, i);
            s.start = static_cast<int32_t>(next);
            ++moved;
        }
        s.codeAddress = static_cast<int32_t>(next + header);
        for (const ButtonRef& b : ButtonsRunning(before, oldCode)) {
            if (isMarked(b)) continue;
            const uint8_t type =
                before.bytes[before.Layout().SlotByteAddress(b.profile, b.button, 0)];
            marked.push_back({b, MacroButtonFunction(type, next + header)});
        }
        next += static_cast<uint32_t>(record.size());
        written += record.size();
        Report(progress, kCompactReadShare + (written + 1.0) / (total + 1.0) * kCompactReadShare);
    }

    if (Status ok = WriteButtons(copy, marked); !ok) return cut(ok, -1);
    if (Status ok = TakeOverModeTable(copy, *heap, tableWasUsable); !ok) return cut(ok, -1);
    if (!copy.Commands().ReloadSettings(copy.Path())) return DeviceLost(copy);
    return {};
}

Status CompactMacroMemory(ConfigModel& model, const MacroProgress& progress) {
    return model.WithImageCopy([&](ImageCopy& copy) -> Status {
        if (!Notify(copy)) return Held(DeviceLost(copy), "no macro was moved");
        Status compacted = CompactMacroMemory(copy, progress);
        const bool closed = Notify(copy);
        if (!compacted) return compacted;
        if (!closed) return DeviceLost(copy);
        return {};
    });
}

// ---- Store, delete, read ----

namespace {

// Where a new record goes, and the buttons that ran the slot's macro until now.
struct Placement {
    uint32_t start = 0;
    std::vector<ButtonRef> linked;
};

// Finds room for a record of `length` bytes for `slot`. The slot's old record keeps its
// place, and stays in force, while the new one fits elsewhere (after one compaction when
// the free total allows). Only when the new record needs the old one's space is the slot
// emptied first, as a delete would: index entry cleared, its buttons back on their
// defaults, so that nothing points into that space while it is rewritten. Lack of space
// writes nothing.
Result<Placement> PlaceRecord(ImageCopy& copy, const MacroHeap& heap, int slot, uint32_t length,
                              const MacroProgress& progress) {
    AllocationPlan plan = PlanAllocation(copy.Image().macros, heap, length);
    if (plan.compact) {
        if (Status ok = CompactMacroMemory(copy, progress); !ok) return ok.error();
        plan = PlanAllocation(copy.Image().macros, heap, length);
    }
    // After a compaction the old record's buttons follow it to its new place.
    Placement placement{0, ButtonsOfSlot(copy.Image(), slot)};
    if (plan.start) {
        placement.start = *plan.start;
        return placement;
    }
    if (SlotOf(copy, slot).Empty() ||
        int64_t{length} > FreeMacroSpace(copy.Image().macros, heap, slot)) {
        return LackOfSpace();
    }
    if (Status ok = WriteIndexEntry(copy, slot, 0, 0); !ok) {
        return Held(ok.error(), SlotName(slot) + " still holds its old macro");
    }
    MacroSlot& target = SlotOf(copy, slot);
    target.start = target.codeAddress = target.length = 0;
    target.name.clear();
    if (Status ok = WriteButtons(copy, Assign(placement.linked, ButtonSlot{})); !ok) {
        return Held(ok.error(), SlotName(slot) + " is now empty");
    }
    auto start = AllocateMacroSpace(copy, length, progress);
    if (!start) return start.error();
    placement.start = *start;
    return placement;
}

// Inside the update notices: places the record, writes it, then the index entry, then
// points the buttons at it.
Status StoreRecord(ImageCopy& copy, int slot, int mode, const std::string& name,
                   std::span<const uint8_t> record, const MacroProgress& progress) {
    auto heap = HeapOf(copy);
    if (!heap) return heap.error();
    const auto length = static_cast<uint32_t>(record.size());
    auto placed = PlaceRecord(copy, *heap, slot, length, progress);
    if (!placed) return placed.error();
    const uint32_t start = placed->start;
    const uint32_t codeAddress = start + kMacroRecordHeaderBytes;
    const bool tableWasUsable =
        HighModeTableUsable(copy.Image().Layout(), heap->end, copy.Image().macros);

    // The record and the mode first, the index entry last: an interruption before the entry
    // leaves the slot's old macro in force and the new record unreferenced; nothing ever
    // points at a record that is not whole.
    const bool hadMacro = !SlotOf(copy, slot).Empty();
    const std::string before = SlotName(slot) + (hadMacro ? " still holds its old macro"
                                                          : " is empty; nothing was stored");
    if (Status ok = WriteRecord(copy, start, record, progress); !ok) {
        return Held(ok.error(), before);
    }
    if (Status ok = WriteModeByte(copy, slot, mode); !ok) return Held(ok.error(), before);
    if (Status ok = WriteIndexEntry(copy, slot, start, length); !ok) {
        return Held(ok.error(), SlotName(slot) + (hadMacro ? " holds its old macro or the new one"
                                                           : " is empty or holds the new macro"));
    }
    const std::string stored =
        "the macro is stored in " + SlotName(slot) +
        ", but buttons that ran the slot's macro may now run their own functions";
    SlotOf(copy, slot) = {name,
                          static_cast<int32_t>(start),
                          static_cast<int32_t>(codeAddress),
                          static_cast<int32_t>(length),
                          mode,
                          std::nullopt};
    if (Status ok = TakeOverModeTable(copy, *heap, tableWasUsable); !ok) {
        return Held(ok.error(), stored);
    }
    if (Status ok = WriteButtons(
            copy,
            Assign(placed->linked, MacroButtonFunction(static_cast<uint8_t>(mode), codeAddress)));
        !ok) {
        return Held(ok.error(), stored);
    }
    // Where the mode byte had no place (a record of another program on the reserved
    // table), a load takes the mode from the buttons; show it the same way.
    if (!HasModeByte(copy, slot)) {
        const ConfigImage& image = copy.Image();
        const auto code = static_cast<int32_t>(codeAddress);
        const auto running = ButtonsRunning(image, code);
        SlotOf(copy, slot).mode =
            running.empty() ? kMacroModeOnce
                            : *MacroButtonType(image.Layout(), image.bytes, running[0].profile,
                                               running[0].button, code);
    }
    return {};
}

}  // namespace

Status StoreMacro(ConfigModel& model, int slot, int mode, std::string_view name,
                  std::span<const MacroItem> items, const MacroProgress& progress) {
    if (Status ok = CheckSlot(slot); !ok) return ok;
    if (mode < kMacroModeOnce || mode > kMacroModeFireKey) {
        return MakeError("macro mode " + std::to_string(mode) +
                         " is not 8 (once), 9 (loop) or 10 (fire key)");
    }
    if (Status ok = CheckItems(items); !ok) return ok;
    const std::vector<uint8_t> record = BuildMacroRecord(name, items);
    if (record.size() > kMaxRecordLength) {
        return MakeError("the macro takes " + std::to_string(record.size()) +
                         " bytes; a macro record holds at most 65535");
    }
    const std::string kept = TruncateUtf16Units(name, kMacroNameUnits);

    return model.WithImageCopy([&](ImageCopy& copy) -> Status {
        if (auto heap = HeapOf(copy); !heap) return heap.error();
        if (!Notify(copy)) {
            return Held(DeviceLost(copy), SlotName(slot) + " is as it was; nothing was stored");
        }
        const Status stored = StoreRecord(copy, slot, mode, kept, record, progress);
        const bool closed = Notify(copy);
        if (!stored) return stored;
        if (!closed) {
            return Held(DeviceLost(copy), "the macro is stored in " + SlotName(slot) +
                                              ", but the device was not told that the change "
                                              "ended");
        }
        return {};
    });
}

Status DeleteMacro(ConfigModel& model, int slot) {
    if (Status ok = CheckSlot(slot); !ok) return ok;
    return model.WithImageCopy([&](ImageCopy& copy) -> Status {
        MacroSlot& target = SlotOf(copy, slot);
        if (target.Empty() && !target.damaged) {
            return MakeError("macro slot " + std::to_string(slot) + " is already empty");
        }
        // A damaged slot has no record; the buttons that would run it are its own. (The
        // buttons with code address 0 wait for any macro and are no slot's.)
        std::vector<ButtonRef> linked;
        if (!target.Empty()) {
            linked = ButtonsRunning(copy.Image(), target.codeAddress);
        } else if (const auto code = DamagedCodeAddress(copy.Image().macros, slot)) {
            linked = ButtonsRunning(copy.Image(), *code);
        }
        if (Status ok = WriteIndexEntry(copy, slot, 0, 0); !ok) return ok;
        target.start = target.codeAddress = target.length = 0;
        target.name.clear();
        target.damaged.reset();
        return WriteButtons(copy, Assign(linked, ButtonSlot{}));
    });
}

Result<StoredMacro> ReadMacro(ConfigModel& model, int slot, const MacroProgress& progress) {
    if (Status ok = CheckSlot(slot); !ok) return ok.error();
    StoredMacro out;
    Status ok = model.WithImageCopy([&](ImageCopy& copy) -> Status {
        const MacroSlot& s = SlotOf(copy, slot);
        if (s.Empty()) return MakeError("macro slot " + std::to_string(slot) + " is empty");
        const auto start = static_cast<uint32_t>(s.start);
        const auto length = static_cast<uint32_t>(s.length);
        if (length > 0 && start + length - 1 > *copy.Image().memoryTop) {
            return MakeError("the record of macro slot " + std::to_string(slot) +
                             " runs past the end of the device memory");
        }
        std::vector<uint8_t> record(length);
        for (uint32_t at = 0; at < length; at += kMacroReadPiece) {
            const auto piece =
                std::span(record).subspan(at, std::min(kMacroReadPiece, length - at));
            if (!copy.Commands().ReadMemory(copy.Path(), start + at, piece, false)) {
                return DeviceLost(copy);
            }
            Report(progress, static_cast<double>(at + piece.size()) / length);
        }
        out.name = s.name;
        out.mode = s.mode > kMacroModeFireKey ? kMacroModeOnce : s.mode;
        const std::size_t codeAt = record.empty() ? 0 : record[0] + 1u;
        if (codeAt < record.size()) {
            out.items = DecodeMacroCode(std::span(record).subspan(codeAt), record.size());
        }
        return {};
    });
    if (!ok) return ok.error();
    return out;
}

}  // namespace qvm
