// HID keyboard usages <-> keyboard scan codes (set 1). Extended keys carry 0xE0 in the
// high byte, e.g. keypad Enter is 0xE01C. Quick binding, the on-screen keyboard layout
// and the macro recorder convert with these.
#pragma once

#include <cstdint>

namespace qvm {

// Usages 0..254 have table entries; 255 and above never map to anything.
inline constexpr int kScanCodeTableSize = 255;

// The lowest usage whose scan code is scanCode; 0 when there is none.
int ScanCodeToUsage(int scanCode);
// The scan code of a usage; 0 when it has none.
int UsageToScanCode(int usage);

}  // namespace qvm
