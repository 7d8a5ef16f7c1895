// The HID report descriptors of the simulated interfaces, as the real devices declare
// them, so that a simulated device can stand behind a kernel HID device and the host sees
// the same usages and report lengths as on the hardware.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "platform/hid.h"

namespace qvm {

struct SimReportDescriptor {
    std::span<const uint8_t> bytes;
    // 0 when the descriptor declares no report IDs: reports then travel without an ID
    // byte on the interrupt pipe (byte 0 of the simulator's reports is dropped there).
    uint8_t reportId = 0;
};

// The descriptor of the interface whose capabilities are `caps`; nullopt for capabilities
// no simulated interface has.
std::optional<SimReportDescriptor> SimDescriptorFor(const HidCaps& caps);

}  // namespace qvm
