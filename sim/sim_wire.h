// Bytes on the wire of a simulated mouse: the two feature-report frames, the request
// checks the firmware applies, the reply layouts (tables of field positions) and the
// vendor input reports.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace qvm {

struct SimFrameFormat {
    int length;        // feature report length, report-ID byte included
    uint8_t reportId;  // byte 0 of every request and reply
    int dataPiece;     // memory bytes one read reply carries, from byte 2
};
inline constexpr SimFrameFormat kSimShortFrame{9, 0x00, 7};
inline constexpr SimFrameFormat kSimLongFrame{64, 0x01, 61};
inline constexpr int kSimMaxFrame = 64;

// Byte 1 of a request is the command; byte 1 of a reply is the status byte: bit 7 busy,
// bit 6 a reply sequence toggle the host masks off, bits 0-5 the result (the command byte
// of an accepted request, kSimRejected for a refused one).
inline constexpr int kSimCommandByte = 1;
inline constexpr uint8_t kSimBusyBit = 0x80;
inline constexpr uint8_t kSimToggleBit = 0x40;
inline constexpr uint8_t kSimResultMask = 0x3F;
inline constexpr uint8_t kSimRejected = 0x3F;

// The 9-byte frame: byte 7 carries 0x12 and byte 8 the check byte, except in the staging
// command 9, whose byte 8 is data and which has neither.
inline constexpr uint8_t kSimStagingCommand = 0x09;
inline constexpr int kSimMarkerByte = 7;
inline constexpr uint8_t kSimMarker = 0x12;

// XOR of bytes 1 to L-2 of a frame of length L.
uint8_t SimCheckByte(std::span<const uint8_t> frame);

enum class SimFrameFault { None, Length, ReportId, CheckByte, Marker };
SimFrameFault CheckRequestFrame(std::span<const uint8_t> request, const SimFrameFormat& format);

// One reply under construction. A reply whose data reaches the last byte carries no
// check byte (9-byte memory reads and status replies).
struct SimReply {
    std::array<uint8_t, kSimMaxFrame> bytes{};
    bool lastByteIsData = false;
};
// Writes the report ID, the status byte and (unless the data fills it) the check byte.
void FinishReply(const SimFrameFormat& format, uint8_t status, SimReply& reply);

// The live values reply fields are taken from.
struct SimLiveView {
    uint8_t hostMode = 0;
    uint8_t identByte1 = 0;
    uint8_t identByte2 = 0;
    uint8_t stage = 0;
    uint8_t profile = 0;
    uint8_t stageX = 0;
    uint8_t stageY = 0;
    uint8_t updateFlags = 0;  // bit 6: an update session is open
    uint8_t reportRate = 0;
    uint8_t options = 0;  // bit 0 angle snapping, bit 7 scroll-to-change-DPI
    uint16_t liveWord = 0;
    uint8_t liveValue2 = 0;
    uint16_t memoryTop = 0;
};

enum class SimField : uint8_t {
    HostMode,
    IdentByte1,
    IdentByte2,
    Stage,
    Profile,
    StageX,
    StageY,
    UpdateFlags,
    MemoryTopLow,
    MemoryTopHigh,
    LiveValue2,
    ReportRate,
    Options,
    LiveWordLow,
    LiveWordHigh,
};

struct SimFieldAt {
    SimField field;
    uint8_t offset;
};

inline constexpr uint8_t kSimUpdateSessionBit = 0x40;

// Status reply of the 9-byte protocol, of generations 1 to 10 and of 11 and above.
inline constexpr SimFieldAt kSimStatusShort[] = {
    {SimField::IdentByte1, 6}, {SimField::HostMode, 7}, {SimField::IdentByte2, 8}};
inline constexpr SimFieldAt kSimStatusLong[] = {
    {SimField::HostMode, 6},     {SimField::Stage, 8},   {SimField::Profile, 9},
    {SimField::UpdateFlags, 10}, {SimField::StageX, 21}, {SimField::StageY, 22}};
inline constexpr SimFieldAt kSimStatusClassC[] = {
    {SimField::HostMode, 12}, {SimField::MemoryTopLow, 13}, {SimField::MemoryTopHigh, 14},
    {SimField::StageX, 15},   {SimField::StageY, 16},       {SimField::Stage, 17},
    {SimField::Profile, 18}};
// Live-state reply of the 9-byte protocol (request 0x04 0x00).
inline constexpr SimFieldAt kSimLiveStateShort[] = {
    {SimField::Stage, 2},  {SimField::LiveValue2, 3}, {SimField::StageX, 4},
    {SimField::StageY, 5}, {SimField::ReportRate, 6}, {SimField::Profile, 7}};

void PlaceFields(std::span<const SimFieldAt> layout, const SimLiveView& view,
                 std::span<uint8_t> out);

// Vendor input reports on the vendor interface: 16 bytes, report ID 1, byte 1 the kind,
// byte 14 the trailer 9 and byte 15 the XOR of bytes 1 to 14, so bytes 1 to 15 XOR to 0.
inline constexpr int kSimVendorReportLength = 16;
inline constexpr uint8_t kSimVendorReportId = 0x01;
inline constexpr uint8_t kSimVendorTrailer = 0x09;
inline constexpr uint8_t kSimReportStatus = 0x0C;
inline constexpr uint8_t kSimReportPointer = 0x0B;
inline constexpr uint8_t kSimReportWindow = 0x0D;

inline constexpr SimFieldAt kSimVendorStatus[] = {
    {SimField::Stage, 2},        {SimField::StageX, 3},    {SimField::StageY, 4},
    {SimField::Profile, 5},      {SimField::Options, 6},   {SimField::LiveWordLow, 7},
    {SimField::LiveWordHigh, 8}, {SimField::ReportRate, 9}};

std::vector<uint8_t> BuildStatusReport(const SimLiveView& view);
// The stage, profile and options a well-formed status report (of any length from 11
// bytes: kind, trailer and checksum in place) says; none for anything else.
std::optional<SimLiveView> ReadStatusReport(std::span<const uint8_t> report);
// Pointer/touch/scroll report: contact state, relative move, horizontal wheel units.
std::vector<uint8_t> BuildPointerReport(uint8_t contact, int16_t dx, int16_t dy, int8_t horizontal);
// Window command: 1 brings the main window to the front, 2 minimises the foreground one.
std::vector<uint8_t> BuildWindowCommandReport(uint8_t command);

}  // namespace qvm
