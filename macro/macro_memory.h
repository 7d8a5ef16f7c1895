// The device's macro memory: the heap of macro records between the heap start M and the
// memory end E, its free space, best-fit allocation and compaction, and the operations
// the editor and the command line run on one slot: store, delete and read back.
//
// Planning (free space, free blocks, the best fit, record bytes, code pieces) works on a
// slot table alone and touches no device. The device operations run through
// ConfigModel::WithImageCopy, so they never overlap a configuration load, reset or other
// write, and the slot table and buttons they publish are what the device holds.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "config/config_image.h"
#include "config/macro_slots.h"
#include "macro/macro_item.h"

namespace qvm {

// Progress of a long operation, 0.0 to 1.0.
using MacroProgress = std::function<void(double fraction)>;

inline constexpr int kMacroNameUnits = 16;        // UTF-16 code units of a stored name
inline constexpr uint32_t kCodePieceBytes = 128;  // largest write of macro code
inline constexpr uint32_t kCodeAlignment = 64;    // long code at an odd address aligns first
inline constexpr uint32_t kMacroReadPiece = 32;

// The heap of one device.
struct MacroHeap {
    uint32_t start = 0;  // M
    uint32_t end = 0;    // E, the last byte of memory; E - 1 and E hold the probe marker
    std::optional<AddressRange> modeTable;  // classes B and C: reserved mode bytes

    // The last byte a record may occupy.
    uint32_t Limit() const;
    // Bytes of the heap no record may take: the probe marker and the reserved table.
    uint32_t ReservedBytes() const;
};
MacroHeap MacroHeapOf(const ImageLayout& layout, bool extendedLayout, uint32_t memoryEnd);

struct FreeBlock {
    uint32_t start = 0;
    uint32_t size = 0;
    bool operator==(const FreeBlock&) const = default;
};

// Free bytes of the heap: its size less the reserved bytes and the lengths of every used
// slot (start not 0) other than `except`; 0 on a device whose table claims more than the
// heap holds (records that overlap each other).
int32_t FreeMacroSpace(const MacroSlots& slots, const MacroHeap& heap,
                       std::optional<int> except = {});

// The free blocks in candidate order: the heap start, then the end of each used slot in
// slot order; a candidate outside the heap, or where a record starts or runs on, is not
// free, and a block runs up to the next record or the heap's limit.
std::vector<FreeBlock> FindFreeBlocks(const MacroSlots& slots, const MacroHeap& heap);

// The smallest block of at least `length` bytes; the first of equal sizes.
std::optional<uint32_t> ChooseBestFit(std::span<const FreeBlock> blocks, uint32_t length);

// What an allocation of `length` bytes does with the slot table as it stands.
struct AllocationPlan {
    std::optional<uint32_t> start;  // a block that fits
    bool compact = false;           // none fits, but the free total would after compaction
};
AllocationPlan PlanAllocation(const MacroSlots& slots, const MacroHeap& heap, uint32_t length);

// A macro record: name field length 0x20, the name's first 16 UTF-16 code units
// zero-filled to 32 bytes, the code of every item and the end byte 0x00.
std::vector<uint8_t> BuildMacroRecord(std::string_view name, std::span<const MacroItem> items);

// The writes of a code of `length` bytes at `address`: pieces of at most 128 bytes; when
// the address is odd and the code longer than 128 bytes, a first piece that brings the
// next one to a 64-byte boundary.
struct CodePiece {
    uint32_t offset = 0;
    uint32_t length = 0;
    bool operator==(const CodePiece&) const = default;
};
std::vector<CodePiece> PlanCodePieces(uint32_t address, uint32_t length);

// ---- Device operations ----

// The free space of the attached device's heap.
Result<int32_t> FreeMacroSpace(ConfigModel& model, std::optional<int> except = {});

// Inside a WithImageCopy operation: the start of a best-fit block of `length` bytes,
// compacting the memory once when the free total suffices but no block does. No space:
// the error text is the UI message "Lack of space !!".
Result<uint32_t> AllocateMacroSpace(ConfigModel::ImageCopy& copy, uint32_t length,
                                    const MacroProgress& progress = {});

// Moves every record, in slot order, back to back from the heap start, re-points the
// buttons that run a moved macro and reloads the device's settings. The first form runs
// inside an operation that already framed its writes with update notices.
Status CompactMacroMemory(ConfigModel::ImageCopy& copy, const MacroProgress& progress = {});
Status CompactMacroMemory(ConfigModel& model, const MacroProgress& progress = {});

// Writes a macro into `slot` (0..79, new or replacing) with `mode` (8 once, 9 loop,
// 10 fire key), and points every button that ran the slot's old macro (for an empty
// slot: every macro button with code address 0) at it. Lack of space leaves the slot,
// the buttons and the device memory as they were.
Status StoreMacro(ConfigModel& model, int slot, int mode, std::string_view name,
                  std::span<const MacroItem> items, const MacroProgress& progress = {});

// Empties `slot` and gives the buttons that ran it back their defaults. Its mode byte
// stays.
Status DeleteMacro(ConfigModel& model, int slot);

struct StoredMacro {
    std::string name;
    int mode = kMacroModeOnce;
    std::vector<MacroItem> items;
};
// Reads a slot's record back in 32-byte pieces; never more items than the record has
// bytes.
Result<StoredMacro> ReadMacro(ConfigModel& model, int slot, const MacroProgress& progress = {});

}  // namespace qvm
