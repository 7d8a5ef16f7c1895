// Byte layout of the configuration area of a mouse's memory, one table per layout
// class. Every address the image decoder, the single-setting writes and the factory
// reset use comes from here; nothing else spells out an offset.
//
// The class follows from the protocol generation: A (0 and below, 9-byte commands,
// 16 buttons), B (1..10, 24 buttons), C (11 and above, 32 buttons).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

namespace qvm {

enum class LayoutClass { A = 0, B = 1, C = 2 };
LayoutClass ImageClassOf(int32_t generation);

inline constexpr int kProfileCount = 5;
inline constexpr int kDpiStageCount = 5;
inline constexpr int kMaxButtons = 32;
inline constexpr int kPlaneCount = 4;  // type, operand 1, operand 2, operand 3

// ---- Header fields shared by every class ----
inline constexpr uint32_t kMarkerAddress = 0x00;
inline constexpr uint8_t kInitMarker = 0x12;
inline constexpr uint32_t kStageIndexAddress = 0x02;
inline constexpr uint8_t kStageIndexMask = 0x07;
inline constexpr uint8_t kSnappingBit = 0x01;
inline constexpr int kRateShift = 4;
inline constexpr uint8_t kRateMask = 0x70;  // bits 4-6
inline constexpr int kMaxRateCode = 7;
inline constexpr int kMaxStageIndex = 4;

// ---- Profile fields ----
enum class OffFlagRule {
    MarkerPair,  // bytes 0 and 1 are 0x12, 0x12 while the profile is on
    HighBit,     // bit 7 of byte 0 set: profile off
};
inline constexpr uint8_t kProfileOffBit = 0x80;
inline constexpr uint8_t kColourControlAfterReset = 0x07;
inline constexpr uint8_t kColourControlAfterChange = 0x0F;
inline constexpr int kNameWriteChars = 9;
inline constexpr int kNameWriteBytes = 2 * kNameWriteChars;

// ---- Key-cycle list: count, then (modifier, usage) pairs, then 4 kept bytes ----
inline constexpr int kKeyCycleBytes = 21;
inline constexpr int kKeyCycleMaxCount = 8;
inline constexpr int kKeyCycleEntriesAt = 1;

// ---- Macro directory ----
inline constexpr int kMacroSlotCount = 80;
inline constexpr int kMacroIndexEntryBytes = 4;

// ---- Memory-top probe markers that a reset clears first ----
inline constexpr std::array<uint32_t, 3> kProbeMarkerAddresses = {0x1FFF, 0x3FFF, 0x7FFF};

struct ImageLayout {
    LayoutClass cls;
    int buttonCount;

    // Header
    bool stageIndexInImage;  // class A takes the current stage from the live state
    uint32_t dpiBase;        // stage k: X at dpiBase + 2k, Y at dpiBase + 2k + 1
    uint32_t optionsByte;    // angle snapping and report-rate code
    uint32_t stageFlagsByte;
    int stageFlagCount;
    std::optional<uint32_t> resetStageIndex;  // class A: a reset stores stage 1 here

    // Profile blocks
    uint32_t profileBase;
    uint32_t profileStride;
    OffFlagRule offRule;
    std::optional<uint32_t> colourControl;  // offset in block
    uint32_t colourAt;                      // offset in block: packed byte or red
    bool colourPacked;                      // 2 bits a channel, then an 8-bit copy
    uint32_t nameAt;                        // offset in block
    int nameReadBytes;
    std::array<uint32_t, kPlaneCount> planeAt;  // offsets in block

    // Areas
    uint32_t macroIndex;
    uint32_t macroMode;
    uint32_t keyCycleBase;
    uint32_t heapStart;
    uint32_t heapStartExtended;

    // Load
    uint32_t readLength;
    uint32_t readRequest;

    uint32_t ProfileAddress(int profile) const {
        return profileBase + profileStride * static_cast<uint32_t>(profile);
    }
    uint32_t SlotByteAddress(int profile, int button, int plane) const {
        return ProfileAddress(profile) + planeAt[static_cast<std::size_t>(plane)] +
               static_cast<uint32_t>(button);
    }
    uint32_t KeyCycleAddress(int profile) const {
        return keyCycleBase + static_cast<uint32_t>(kKeyCycleBytes * profile);
    }
    uint32_t HeapStart(bool extendedLayout) const {
        return extendedLayout ? heapStartExtended : heapStart;
    }
};

const ImageLayout& LayoutOf(LayoutClass cls);
inline const ImageLayout& LayoutForGeneration(int32_t generation) {
    return LayoutOf(ImageClassOf(generation));
}

// ---- Encodings ----
// DPI step: 100 for IdentByte1 0x12, else 50. Step count: IdentByte2, or 240 for
// IdentByte1 3 and 0x13.
int DpiStepFor(int32_t identByte1);
int DpiStepCountFor(int32_t identByte1, int32_t identByte2);
// The DPI values a factory reset stores (X = Y), chosen by IdentByte1.
std::array<uint8_t, kDpiStageCount> DefaultDpiStages(int32_t identByte1);

// Report rate: code n gives 1000 / (n + 1) reports a second.
inline constexpr int kResetRateCode = 1;
int ReportRateHz(int code);
// The code whose rate is nearest to hz (ties go to the faster rate).
int ReportRateCodeFor(int hz);

struct Rgb {
    uint8_t red = 0;
    uint8_t green = 0;
    uint8_t blue = 0;
    bool operator==(const Rgb&) const = default;
};
// Default profile colours a reset stores, 8-bit and packed 2 bits a channel.
const std::array<Rgb, kProfileCount>& DefaultProfileColours();
const std::array<uint8_t, kProfileCount>& DefaultPackedColours();
// 2-bit channels <-> packed byte (bits 0-1 red, 2-3 green, 4-5 blue) and 8-bit values.
uint8_t PackColour(uint8_t red2, uint8_t green2, uint8_t blue2);
Rgb UnpackColour(uint8_t packed);    // channels as 8-bit values (0, 85, 170, 255)
uint8_t Expand2Bit(uint8_t value2);  // v * 255 / 3
uint8_t Reduce8Bit(uint8_t value8);  // nearest 2-bit value

}  // namespace qvm
