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

#include "config/image_layout.h"
#include "platform/result.h"

namespace qvm {

class MemoryAccess;

// Run modes, the same numbers as the macro function types of a button.
inline constexpr int kMacroModeOnce = 8;
inline constexpr int kMacroModeLoop = 9;
inline constexpr int kMacroModeFireKey = 10;

// A macro record: name field length byte, 32-byte UTF-16LE name, then the code.
inline constexpr uint8_t kMacroNameFieldLength = 0x20;
inline constexpr int kMacroRecordHeaderBytes = 1 + kMacroNameFieldLength;

// Host mirror of one device macro slot.
struct MacroSlot {
    std::string name;   // empty for an empty slot
    int32_t start = 0;  // record address; 0 when empty
    int32_t codeAddress = 0;
    int32_t length = 0;  // whole record; 0 when empty
    int32_t mode = kMacroModeOnce;

    bool Empty() const { return start == 0; }
    bool operator==(const MacroSlot&) const = default;
};

using MacroSlots = std::array<MacroSlot, kMacroSlotCount>;

// Where slot i's mode byte is kept, if anywhere. In class A every slot has one in the
// mode table. In classes B and C the table's bytes from slot 16 on are the key-cycle
// lists, so only slots 0..15 keep a mode byte there; the mode of a later slot is the
// function type of the buttons that run it (see LoadMacroSlots). Whoever stores a macro
// writes its mode byte only where this says.
std::optional<uint32_t> MacroModeAddress(const ImageLayout& layout, int slot);

// Finds the address of the last byte of the device memory by the 0x12 marker at the top
// of each power-of-two size (addresses past the real memory wrap). Writes the marker
// once when neither top byte holds it. 0x1FFF when not even that size answers.
// Fails only when the device does not answer.
Result<uint32_t> ProbeMacroMemoryEnd(MemoryAccess& memory, const std::string& path);

// Fills the 80 slots from the image bytes (read from address 0) and reads each used
// slot's name from the device. A slot whose start is 0 or above memoryTop is empty; its
// index values stay as read. `progress` gets the number of slots done after each one.
Status LoadMacroSlots(MemoryAccess& memory, const std::string& path, const ImageLayout& layout,
                      std::span<const uint8_t> image, uint32_t memoryTop, MacroSlots& slots,
                      const std::function<void(int done)>& progress = {});

}  // namespace qvm
