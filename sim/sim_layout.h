// What a simulated mouse carries from the factory: the configuration memory image of its
// layout class, the information area (device information, info records and the default
// button records), and the identification strings 0xC6 and 0xC7.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "sim/sim_config.h"

namespace qvm {

// The information area: five info pages of 60 bytes. Its first 256 bytes are what the
// host keeps as its information record; the 9-byte protocol answers its queries from the
// same bytes.
inline constexpr size_t kSimInfoAreaSize = 300;
inline constexpr size_t kSimInfoPageBytes = 60;

struct SimInfoOffsets {
    static constexpr int kSignature = 0;  // "QZ"
    static constexpr int kGeneration = 2;
    static constexpr int kHardware = 3;     // three hardware bytes, 3..5
    static constexpr int kInfoRecord2 = 6;  // four values, 6..9
    static constexpr int kDeviceClass = 10;
    static constexpr int kIdentByte3 = 11;
    static constexpr int kProfileCount = 12;  // info record 1, first value
    static constexpr int kStageCount = 13;    // info record 1, second value
    static constexpr int kLiveValue2 = 14;    // second live-state value
    static constexpr int kFeatureFlags = 0x10;
    static constexpr int kButtonRecords = 0x48;  // 4 bytes a button: type, op1, op2, op3
};

inline constexpr int kSimProfileCount = 5;
inline constexpr int kSimStageCount = 5;
inline constexpr uint8_t kSimInitMarker = 0x12;
inline constexpr uint8_t kSimBlankByte = 0xFF;

// Where the settings the firmware applies live in memory, per layout class.
struct SimMemoryGeometry {
    int stageByte = 0x02;    // current DPI stage index (bits 0-2)
    int stageFlagsByte = 0;  // stage flags
    int dpiBase = 0;         // stage k: X at dpiBase + 2k, Y at dpiBase + 2k + 1
    int optionsByte = 0;     // bit 0 angle snapping, bits 4-6 report-rate code
    int profileBase = 0;
    int profileStride = 0;
    int buttonCount = 0;    // buttons per profile
    int lightingByte = -1;  // lighting effect number; -1 without lighting
    int ledTable = -1;      // 16 LED records of 4 bytes; -1 without LED colours
};

SimMemoryGeometry GeometryOf(const SimDeviceConfig& config);

// The memory a new device holds: the factory image of its class (or 0xFF everywhere for a
// blank device), config.memorySize bytes.
std::vector<uint8_t> BuildFactoryImage(const SimDeviceConfig& config);

std::array<uint8_t, kSimInfoAreaSize> BuildInfoArea(const SimDeviceConfig& config);

// Raw bytes of indexed string 0xC6 or 0xC7; nullopt when the device has no such string.
std::optional<std::vector<uint8_t>> BuildIdentityString(const SimDeviceConfig& config, int index);

// The DPI stage values (X = Y) a factory image holds, chosen by identity byte 1.
std::array<uint8_t, kSimStageCount> DefaultStageValues(uint8_t identByte1);

}  // namespace qvm
