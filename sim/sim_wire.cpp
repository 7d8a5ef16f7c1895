#include "sim/sim_wire.h"

namespace qvm {

namespace {

uint8_t FieldValue(SimField field, const SimLiveView& view) {
    switch (field) {
        case SimField::HostMode:
            return view.hostMode;
        case SimField::IdentByte1:
            return view.identByte1;
        case SimField::IdentByte2:
            return view.identByte2;
        case SimField::Stage:
            return view.stage;
        case SimField::Profile:
            return view.profile;
        case SimField::StageX:
            return view.stageX;
        case SimField::StageY:
            return view.stageY;
        case SimField::UpdateFlags:
            return view.updateFlags;
        case SimField::MemoryTopLow:
            return static_cast<uint8_t>(view.memoryTop & 0xFF);
        case SimField::MemoryTopHigh:
            return static_cast<uint8_t>(view.memoryTop >> 8);
        case SimField::LiveValue2:
            return view.liveValue2;
        case SimField::ReportRate:
            return view.reportRate;
        case SimField::Options:
            return view.options;
        case SimField::LiveWordLow:
            return static_cast<uint8_t>(view.liveWord & 0xFF);
        case SimField::LiveWordHigh:
            return static_cast<uint8_t>(view.liveWord >> 8);
    }
    return 0;
}

std::vector<uint8_t> NewVendorReport(uint8_t kind) {
    std::vector<uint8_t> report(kSimVendorReportLength, 0);
    report[0] = kSimVendorReportId;
    report[1] = kind;
    return report;
}

// Trailer byte and closing checksum.
void SealVendorReport(std::vector<uint8_t>& report) {
    const size_t n = report.size();
    report[n - 2] = kSimVendorTrailer;
    uint8_t x = 0;
    for (size_t i = 1; i + 1 < n; ++i) x ^= report[i];
    report[n - 1] = x;
}

}  // namespace

uint8_t SimCheckByte(std::span<const uint8_t> frame) {
    uint8_t x = 0;
    for (size_t i = 1; i + 1 < frame.size(); ++i) x ^= frame[i];
    return x;
}

SimFrameFault CheckRequestFrame(std::span<const uint8_t> request, const SimFrameFormat& format) {
    if (static_cast<int>(request.size()) != format.length) return SimFrameFault::Length;
    if (request[0] != format.reportId) return SimFrameFault::ReportId;
    const bool shortFrame = format.length == kSimShortFrame.length;
    if (shortFrame && request[kSimCommandByte] == kSimStagingCommand) return SimFrameFault::None;
    if (request.back() != SimCheckByte(request)) return SimFrameFault::CheckByte;
    if (shortFrame && request[kSimMarkerByte] != kSimMarker) return SimFrameFault::Marker;
    return SimFrameFault::None;
}

void FinishReply(const SimFrameFormat& format, uint8_t status, SimReply& reply) {
    reply.bytes[0] = format.reportId;
    reply.bytes[kSimCommandByte] = status;
    if (!reply.lastByteIsData) {
        const std::span<const uint8_t> frame(reply.bytes.data(), format.length);
        reply.bytes[format.length - 1] = SimCheckByte(frame);
    }
}

void PlaceFields(std::span<const SimFieldAt> layout, const SimLiveView& view,
                 std::span<uint8_t> out) {
    for (const SimFieldAt& at : layout) {
        if (at.offset < out.size()) out[at.offset] = FieldValue(at.field, view);
    }
}

std::vector<uint8_t> BuildStatusReport(const SimLiveView& view) {
    std::vector<uint8_t> report = NewVendorReport(kSimReportStatus);
    PlaceFields(kSimVendorStatus, view, report);
    SealVendorReport(report);
    return report;
}

std::optional<SimLiveView> ReadStatusReport(std::span<const uint8_t> report) {
    constexpr size_t kShortest = 11;
    const size_t n = report.size();
    if (n < kShortest || report[1] != kSimReportStatus || report[n - 2] != kSimVendorTrailer ||
        SimCheckByte(report) != report[n - 1]) {
        return std::nullopt;
    }
    SimLiveView view;
    for (const SimFieldAt& at : kSimVendorStatus) {
        const uint8_t value = report[at.offset];
        switch (at.field) {
            case SimField::Stage:
                view.stage = value;
                break;
            case SimField::Profile:
                view.profile = value;
                break;
            case SimField::Options:
                view.options = value;
                break;
            default:
                break;  // the values of the stage stay in memory, where the device keeps them
        }
    }
    return view;
}

std::vector<uint8_t> BuildPointerReport(uint8_t contact, int16_t dx, int16_t dy,
                                        int8_t horizontal) {
    std::vector<uint8_t> report = NewVendorReport(kSimReportPointer);
    const auto ux = static_cast<uint16_t>(dx);
    const auto uy = static_cast<uint16_t>(dy);
    report[2] = contact;
    report[4] = static_cast<uint8_t>(ux & 0xFF);
    report[5] = static_cast<uint8_t>(ux >> 8);
    report[6] = static_cast<uint8_t>(uy & 0xFF);
    report[7] = static_cast<uint8_t>(uy >> 8);
    report[9] = static_cast<uint8_t>(horizontal);
    SealVendorReport(report);
    return report;
}

std::vector<uint8_t> BuildWindowCommandReport(uint8_t command) {
    std::vector<uint8_t> report = NewVendorReport(kSimReportWindow);
    report[2] = command;
    SealVendorReport(report);
    return report;
}

}  // namespace qvm
