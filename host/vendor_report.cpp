#include "host/vendor_report.h"

#include <algorithm>

namespace qvm {

namespace {

namespace vr = vendor_report;

int SignedLe16(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::int16_t>(bytes[at] | (bytes[at + 1] << 8));
}

// Status reports and window commands carry a checksum byte that makes bytes 1..n-1
// exclusive-OR to zero, and the trailer byte just before it.
bool Intact(std::span<const std::uint8_t> report) {
    std::uint8_t x = 0;
    for (std::uint8_t b : report.subspan(1)) x ^= b;
    return x == 0 && report[report.size() - 2] == vr::kTrailer;
}

PointerReport DecodePointer(std::span<const std::uint8_t> r) {
    return PointerReport{
        .contact = (r[vr::kContactByte] & vr::kContactBit) != 0,
        .dx = SignedLe16(r, vr::kDxOffset),
        .dy = SignedLe16(r, vr::kDyOffset),
        .tilt = static_cast<std::int8_t>(r[vr::kTiltByte]),
    };
}

StatusReport DecodeStatus(std::span<const std::uint8_t> r) {
    const std::uint8_t mode = r[vr::kModeByte];
    return StatusReport{
        .stage = std::min<int>(r[vr::kStageByte] & vr::kStageMask, vr::kMaxStage),
        .xValue = r[vr::kXValueByte],
        .yValue = r[vr::kYValueByte],
        .profile = r[vr::kProfileByte],
        .angleSnapping = (mode & vr::kAngleSnappingBit) != 0,
        .scrollChangesDpi = (mode & vr::kScrollChangesDpiBit) != 0,
        .value16 = r[vr::kValue16Offset] | (r[vr::kValue16Offset + 1] << 8),
    };
}

}  // namespace

VendorReport DecodeVendorReport(std::span<const std::uint8_t> report) {
    if (report.size() < vr::kMinSize || report.size() > vr::kMaxSize) return IgnoredReport{};
    const std::uint8_t kind = report[vr::kKindByte];
    if (kind == vr::kPointerKind &&
        std::ranges::find(vr::kPointerReportIds, report[0]) != vr::kPointerReportIds.end()) {
        return DecodePointer(report);
    }
    if (!Intact(report)) return IgnoredReport{};
    if (kind == vr::kStatusKind) return DecodeStatus(report);
    if (kind == vr::kWindowKind) {
        switch (report[vr::kCommandByte]) {
            case static_cast<int>(WindowCommand::RestoreMainWindow):
                return WindowCommandReport{WindowCommand::RestoreMainWindow};
            case static_cast<int>(WindowCommand::MinimiseActiveWindow):
                return WindowCommandReport{WindowCommand::MinimiseActiveWindow};
        }
    }
    return IgnoredReport{};
}

}  // namespace qvm
