// ButtonSlot: one button assignment as the device stores it: a function type byte and
// three operand bytes, kept in four planes of a profile block.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace qvm {

struct ButtonSlot {
    uint8_t type = 0;  // 0: the button's own default
    uint8_t op1 = 0;
    uint8_t op2 = 0;
    uint8_t op3 = 0;

    std::array<uint8_t, 4> Bytes() const { return {type, op1, op2, op3}; }
    bool operator==(const ButtonSlot&) const = default;
};

// The unit the operands of the DPI functions (types 15 and 16) count in. The text of a
// slot and the button settings dialog use the same value: the attached device's DPI step.
inline constexpr int kDefaultDpiStep = 50;

// The one-line text of a slot, built from the name tables (the UI strings in force).
// Pure; safe from any thread once the UI strings are set. Defined with the function
// catalogue.
std::string FormatButtonSlot(const ButtonSlot& slot, int dpiStep = kDefaultDpiStep);

}  // namespace qvm
