// The vendor input reports a mouse sends when it asks the host to do something: move the
// pointer, scroll horizontally, touch ("Virtual Touch"), tell its current DPI stage and
// profile, or act on a window. Decoding is pure: bytes in, one report kind out.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <variant>

namespace qvm {

// The layout of the vendor reports; byte 0 is the report id, n the report's size.
namespace vendor_report {
inline constexpr std::size_t kMinSize = 11;   // anything shorter is not one of ours
inline constexpr std::size_t kMaxSize = 999;  // larger packets are not read at all
inline constexpr std::uint8_t kKindByte = 1;  // what the report is about
inline constexpr std::array<std::uint8_t, 2> kPointerReportIds = {0x0B, 0x01};
inline constexpr std::uint8_t kPointerKind = 0x0B;
inline constexpr std::uint8_t kStatusKind = 0x0C;
inline constexpr std::uint8_t kWindowKind = 0x0D;
// Pointer, touch and scroll: no checksum.
inline constexpr std::size_t kContactByte = 2;  // bit 0: the virtual finger is down
inline constexpr std::uint8_t kContactBit = 0x01;
inline constexpr std::size_t kDxOffset = 4;  // signed 16-bit little-endian
inline constexpr std::size_t kDyOffset = 6;  // signed 16-bit little-endian
inline constexpr std::size_t kTiltByte = 9;  // signed 8-bit horizontal wheel steps
// Status and window commands: bytes 1..n-1 exclusive-OR to zero and byte n-2 is the
// trailer.
inline constexpr std::uint8_t kTrailer = 9;
inline constexpr std::size_t kStageByte = 2;  // bits 0-2, above kMaxStage taken as kMaxStage
inline constexpr std::uint8_t kStageMask = 0x07;
inline constexpr int kMaxStage = 4;
inline constexpr std::size_t kXValueByte = 3;  // DPI steps
inline constexpr std::size_t kYValueByte = 4;
inline constexpr std::size_t kProfileByte = 5;
inline constexpr std::size_t kModeByte = 6;
inline constexpr std::uint8_t kAngleSnappingBit = 0x01;
inline constexpr std::uint8_t kScrollChangesDpiBit = 0x80;
inline constexpr std::size_t kValue16Offset = 7;  // unsigned 16-bit little-endian
inline constexpr std::size_t kCommandByte = 2;
}  // namespace vendor_report

// A report that is not for the host, too short, or damaged: dropped without a word.
struct IgnoredReport {
    bool operator==(const IgnoredReport&) const = default;
};

struct PointerReport {
    bool contact = false;  // the virtual finger is down
    int dx = 0;
    int dy = 0;
    int tilt = 0;  // horizontal wheel steps, positive to the right
    bool operator==(const PointerReport&) const = default;
};

struct StatusReport {
    int stage = 0;  // 0..4
    int xValue = 0;
    int yValue = 0;
    int profile = 0;  // the whole byte as the device sent it
    bool angleSnapping = false;
    bool scrollChangesDpi = false;
    int value16 = 0;
    bool operator==(const StatusReport&) const = default;
};

enum class WindowCommand { RestoreMainWindow = 1, MinimiseActiveWindow = 2 };

struct WindowCommandReport {
    WindowCommand command = WindowCommand::RestoreMainWindow;
    bool operator==(const WindowCommandReport&) const = default;
};

using VendorReport = std::variant<IgnoredReport, PointerReport, StatusReport, WindowCommandReport>;

VendorReport DecodeVendorReport(std::span<const std::uint8_t> report);

}  // namespace qvm
