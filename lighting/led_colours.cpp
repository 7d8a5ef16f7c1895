#include "lighting/led_colours.h"

namespace qvm {

LedRecordBytes EncodeLedRecord(const LedColour& record) {
    LedRecordBytes bytes{};
    bytes[kLedRedAt] = record.red;
    bytes[kLedGreenAt] = record.green;
    bytes[kLedBlueAt] = record.blue;
    bytes[kLedFlagsAt] = record.flags;
    return bytes;
}

LedColour DecodeLedRecord(std::span<const uint8_t, kLedRecordBytes> bytes) {
    return {bytes[kLedRedAt], bytes[kLedGreenAt], bytes[kLedBlueAt], bytes[kLedFlagsAt]};
}

std::optional<LedTableLayout> LedTableFor(int32_t generation, bool extendedLayout) {
    if (generation >= kFirstWideLedGeneration) return LedTableLayout{kLedTableBaseWide};
    if (generation >= kFirstLedGeneration && extendedLayout) {
        return LedTableLayout{kLedTableBaseExtended};
    }
    return std::nullopt;
}

bool IsLedOff(const LedColour& record) {
    return record.red == 0 && record.green == 0 && record.blue == 0 &&
           (record.flags & kLedOwnColour) != 0;
}

namespace {

void SetColour(LedColour& record, const Rgb& colour) {
    record.red = colour.red;
    record.green = colour.green;
    record.blue = colour.blue;
}

}  // namespace

LedColour ApplyLedMode(LedColour record, LedMode mode, const Rgb& profileColour) {
    const bool leavingOff = IsLedOff(record) && mode != LedMode::Off;
    if (leavingOff || mode == LedMode::Profile) {
        SetColour(record, profileColour);
        record.flags &= static_cast<uint8_t>(~kLedOwnColour);
    }
    switch (mode) {
        case LedMode::Breathing:
            record.flags |= kLedBreathing;
            break;
        case LedMode::On:
            // A LED that follows the profile shows the profile's colour: ON keeps showing
            // it, as the LED's own colour from now on.
            if ((record.flags & kLedOwnColour) == 0) SetColour(record, profileColour);
            record.flags &= static_cast<uint8_t>(~kLedBreathing);
            record.flags |= kLedOwnColour;
            break;
        case LedMode::Off:
            // A dark LED does not breathe: OFF is the same record whatever came before.
            SetColour(record, {});
            record.flags &= static_cast<uint8_t>(~kLedBreathing);
            record.flags |= kLedOwnColour;
            break;
        case LedMode::Profile:
            break;
    }
    return record;
}

LedColour WithLedColour(LedColour record, const Rgb& colour) {
    SetColour(record, colour);
    record.flags |= kLedOwnColour;
    return record;
}

}  // namespace qvm
