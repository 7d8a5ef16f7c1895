// The per-LED colours of a mouse: the 4-byte record each LED keeps in device memory,
// where the table of records lies for each protocol generation, and the modes the
// colour picker offers (Breathing, ON, OFF, the profile colour). Everything here is pure
// data and arithmetic; mouse_lighting.h sends it to the device.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "config/image_layout.h"
#include "device/commands.h"

namespace qvm {

// ---- One LED record: red, green, blue, flags ----
inline constexpr int kLedRecordBytes = 4;
inline constexpr int kLedRedAt = 0;
inline constexpr int kLedGreenAt = 1;
inline constexpr int kLedBlueAt = 2;
inline constexpr int kLedFlagsAt = 3;
// Set: the LED shows its own colour; clear: it follows the current profile's colour.
inline constexpr uint8_t kLedOwnColour = 0x80;
inline constexpr uint8_t kLedBreathing = 0x40;

inline constexpr int kLedCount = 16;
using LedRecordBytes = std::array<uint8_t, kLedRecordBytes>;
using LedTable = std::array<LedColour, kLedCount>;

LedRecordBytes EncodeLedRecord(const LedColour& record);
LedColour DecodeLedRecord(std::span<const uint8_t, kLedRecordBytes> bytes);

// ---- Where the table lies ----
// Generations 3 to 10 keep it at 0x460 only in the extended layout (their macro heap then
// starts above it, at 0x4B0); generations 11 and above at 0x500. Other devices have none.
inline constexpr uint32_t kLedTableBaseExtended = 0x460;
inline constexpr uint32_t kLedTableBaseWide = 0x500;
inline constexpr int32_t kFirstLedGeneration = 3;
inline constexpr int32_t kFirstWideLedGeneration = 11;

struct LedTableLayout {
    uint32_t base = 0;
    uint32_t RecordAddress(int led) const {
        return base + static_cast<uint32_t>(kLedRecordBytes * led);
    }
    uint32_t Bytes() const { return kLedRecordBytes * kLedCount; }
};

// nullopt when the device keeps no LED colours.
std::optional<LedTableLayout> LedTableFor(int32_t generation, bool extendedLayout);

// ---- Modes ----
enum class LedMode {
    Breathing,  // bit 6 set
    On,         // bit 6 clear, the LED's own colour
    Off,        // red, green and blue 0, bit 7 set, bit 6 clear
    Profile,    // the current profile's colour copied in, bit 7 clear: it follows the profile
};

// An OFF record: no colour and its own-colour bit set.
bool IsLedOff(const LedColour& record);
// `record` in `mode`. Leaving OFF for another mode first copies the profile colour in and
// clears bit 7, so the LED does not come back dark.
LedColour ApplyLedMode(LedColour record, LedMode mode, const Rgb& profileColour);
// A colour picked for the LED: it becomes the LED's own colour; breathing stays as it was.
LedColour WithLedColour(LedColour record, const Rgb& colour);

}  // namespace qvm
