// The macro directory of a mouse: 80 slots whose index entries (start, length) and run
// modes live in the configuration image, and whose names live in the macro records on
// the heap. Also the probe that finds the end of a device's memory when the device does
// not report it.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/result.h"
#include "config/button_slot.h"
#include "config/image_layout.h"

namespace qvm {

class MemoryAccess;

// Run modes, the same numbers as the macro function types of a button.
inline constexpr int kMacroModeOnce = 8;
inline constexpr int kMacroModeLoop = 9;
inline constexpr int kMacroModeFireKey = 10;

// A macro record: name field length byte, 32-byte UTF-16LE name, then the code.
inline constexpr uint8_t kMacroNameFieldLength = 0x20;
inline constexpr int kMacroRecordHeaderBytes = 1 + kMacroNameFieldLength;

// An index entry that cannot describe a record: the slot is loaded empty, and the entry
// is kept so that it can be reported and mended. A record must lie in the heap, from its
// start M up to E - 2 (the probe marker's bytes E - 1 and E are no record's), and hold at
// least the name field and the end byte.
struct DamagedEntry {
    enum class Reason {
        BelowHeap,  // starts in the configuration in front of the heap
        PastEnd,    // starts or ends past the memory end, or on the probe marker
        TooShort,   // shorter than the name field and the end byte
    };
    Reason reason = Reason::BelowHeap;
    uint32_t start = 0;  // as the entry says
    uint32_t length = 0;
    uint32_t heapStart = 0;  // M and E of the device it was read from
    uint32_t memoryEnd = 0;

    bool operator==(const DamagedEntry&) const = default;
};
inline constexpr uint32_t kMinMacroRecordBytes = kMacroRecordHeaderBytes + 1;

// How the index entry (start, length) of a used slot is damaged; nullopt when it
// describes a record the heap can hold, or when start is 0 (an empty slot).
std::optional<DamagedEntry> JudgeIndexEntry(uint32_t start, uint32_t length, uint32_t heapStart,
                                            uint32_t memoryEnd);

// Host mirror of one device macro slot.
struct MacroSlot {
    std::string name;   // empty for an empty slot
    int32_t start = 0;  // record address; 0 when empty
    int32_t codeAddress = 0;
    int32_t length = 0;  // whole record; 0 when empty
    int32_t mode = kMacroModeOnce;
    std::optional<DamagedEntry> damaged;  // set on an empty slot whose entry is damaged

    bool Empty() const { return start == 0; }
    bool operator==(const MacroSlot&) const = default;
};

using MacroSlots = std::array<MacroSlot, kMacroSlotCount>;

// The warning a damaged slot (0..79) is reported with; the user counts slots from 1.
std::string DamagedSlotWarning(int slot, const DamagedEntry& damaged);
// Every damaged slot's warning, in slot order.
std::vector<std::string> DamagedSlotWarnings(const MacroSlots& slots);

// The code address a damaged slot's record would have (its start plus the name field),
// when a button could hold it and no used slot's macro is there: the buttons holding it
// were meant to run this slot.
std::optional<int32_t> DamagedCodeAddress(const MacroSlots& slots, int slot);

// Where slot i's mode byte is kept.
//
// Class A keeps all 80 in the mode table. In classes B and C that table's bytes from
// slot 16 on are the key-cycle lists, so the table holds slots 0..15 only, and the mode
// bytes of slots 16..79 live in a 64-byte table reserved at the top of the macro heap,
// just below the two probe-marker bytes: slot s at E - 81 + s (slot 16 at E - 65, slot 79
// at E - 2). Keeping them away from the key-cycle lists means a macro store or delete
// never changes a key-cycle list and a key-cycle edit never changes a mode; keeping them
// in the heap's top needs no memory the configuration area already uses. The allocator
// and the free space treat the reserved bytes as used. A device whose memory another
// program laid out may hold a record there; while a used record overlaps the table its
// bytes are not modes: nothing is written there, and reading falls back to the mode of
// the first button that runs the macro (else 8), as it does for a byte outside 8..10.
// Once a compaction has moved such a record away, it writes the whole table from the
// slot table and the bytes are modes again.
// nullopt for a slot outside 0..79, or for a memory end too low to hold the table.
std::optional<uint32_t> MacroModeAddress(const ImageLayout& layout, uint32_t memoryEnd, int slot);

// First and last address of the reserved table of classes B and C; nullopt in class A.
struct AddressRange {
    uint32_t first = 0;
    uint32_t last = 0;
    bool Overlaps(uint32_t start, uint32_t length) const {
        return length > 0 && start <= last && start + length - 1 >= first;
    }
};
std::optional<AddressRange> HighModeTable(const ImageLayout& layout, uint32_t memoryEnd);
inline constexpr int kLowModeSlots = 16;  // classes B and C: slots with a byte in the mode table
inline constexpr uint32_t kHighModeTableBytes = kMacroSlotCount - kLowModeSlots;

// True when the reserved table exists and no used record overlaps it, so its bytes are
// the modes of slots 16..79.
bool HighModeTableUsable(const ImageLayout& layout, uint32_t memoryEnd, const MacroSlots& slots);

// The macro function type (8..10) of button `button` of `profile` in the image bytes
// (read from address 0) when its function runs the macro whose code is at
// `codeAddress`: type 8 to 10, operands 1 and 2 the address, operand 3 zero.
std::optional<int> MacroButtonType(const ImageLayout& layout, std::span<const uint8_t> image,
                                   int profile, int button, int32_t codeAddress);

// The button function that runs the macro stored in a slot: the slot's run mode as the
// type, the code address little-endian in operands 1 and 2, operand 3 zero. The inverse
// of MacroButtonType. Meaningless for an empty slot.
ButtonSlot MacroSlotFunction(const MacroSlot& slot);
// The same for a run mode (type) and code address given apart.
ButtonSlot MacroButtonFunction(uint8_t mode, uint32_t codeAddress);

// Finds the address of the last byte of the device memory by the 0x12 marker at the top
// of each power-of-two size (addresses past the real memory wrap). Writes the marker
// once when neither top byte holds it. 0x1FFF when not even that size answers.
// Fails only when the device does not answer.
Result<uint32_t> ProbeMacroMemoryEnd(MemoryAccess& memory, const std::string& path);
// The same without writing: nullopt when neither top byte holds the marker yet.
Result<std::optional<uint32_t>> FindMarkedMemoryEnd(MemoryAccess& memory, const std::string& path);

// Fills the 80 slots from the image bytes (read from address 0) and reads each used
// slot's name, and in classes B and C the reserved mode table, from the device. A slot whose
// start is 0 is empty; one whose entry is damaged (JudgeIndexEntry against the heap from
// `heapStart` to `memoryTop`) is empty too, with the entry in `damaged`, and nothing is read
// for it. `progress` gets the number of slots done after each one. Fails only when the device
// does not answer.
Status LoadMacroSlots(MemoryAccess& memory, const std::string& path, const ImageLayout& layout,
                      std::span<const uint8_t> image, uint32_t heapStart, uint32_t memoryTop,
                      MacroSlots& slots, const std::function<void(int done)>& progress = {});

}  // namespace qvm
