// Parser of HID report descriptors: finds what an interface is for (the usage of its first
// application collection) and how long its reports are. Pure: no I/O.
#pragma once

#include <cstdint>
#include <span>

#include "base/result.h"
#include "platform/hid.h"

namespace qvm {

struct ReportDescriptorInfo {
    // Usage page and usage of the first top-level application collection; report lengths
    // of the reports declared inside that collection, in bytes counting the report-ID byte
    // (which is 0 when the descriptor declares no report IDs). A report type the collection
    // does not declare has length 0.
    HidCaps caps;
    // True when the descriptor declares report IDs: the input reports read from the node
    // then carry their ID in byte 0; otherwise they carry none and the ID byte is implied.
    bool usesReportIds = false;

    bool operator==(const ReportDescriptorInfo&) const = default;
};

// Parses `descriptor`. Truncated items, unbalanced collections or push/pop, report ID 0,
// reserved item types and oversized reports are errors naming the offending byte offset.
Result<ReportDescriptorInfo> ParseReportDescriptor(std::span<const uint8_t> descriptor);

}  // namespace qvm
