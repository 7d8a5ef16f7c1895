// What a probe learns, as pure functions of the bytes a device answers: the vendor
// information string, the model string, the status and record replies and the keyboard's
// identification reply. DeviceLink sends the queries; these functions decide which byte
// becomes which per-device value, so the rules can be checked without a device.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "device/commands.h"
#include "device/device_values.h"
#include "device/frame.h"
#include "device/keyboard_commands.h"

namespace qvm {

// Indexed strings of a configuration interface, read as raw bytes.
inline constexpr int kModelStringIndex = 0xC6;
inline constexpr int kInfoStringIndex = 0xC7;
inline constexpr std::size_t kInfoStringSize = 512;
using InfoString = std::array<uint8_t, kInfoStringSize>;
using RawString = std::optional<std::vector<uint8_t>>;

// ---- 9-byte interface ----
// Firmware above this version carries the model string and identity byte 4.
inline constexpr uint8_t kShortModelStringFirmware = 27;
// Model code of a 9-byte device whose model string was not read.
inline constexpr int32_t kShortDefaultModel = 3;
// The only device class this program configures.
inline constexpr int32_t kAcceptedDeviceClass = 4;
// Records the 9-byte probe reads into the information record.
inline constexpr int kShortProbeRecords = 16;

struct ShortIdentity {
    bool signatureOk = false;  // info bytes 2..4 read "QZW"
    uint8_t firmware = 0;      // info byte 5
    int32_t identByte4 = 0;    // info byte 7 on newer firmware, else 0
    bool HasModelString() const { return firmware > kShortModelStringFirmware; }
};
ShortIdentity ReadShortIdentity(const RawString& info);

struct ModelString {
    int32_t modelCode = kShortDefaultModel;
    int32_t deviceClass = kAcceptedDeviceClass;
    int32_t identByte3 = 0;
};
// The model string of a 9-byte device. When it was not read (older firmware has none,
// or the read failed) the device keeps the default model and counts as class 4: its
// signature already proved it ours, and the device-information reply supplies the class
// that is stored.
ModelString ReadModelString(const RawString& model);

// Values of a 9-byte device from its identity, model string, device-information reply
// and status reply (IdentByte1 and 2). Per-path data (InfoPages, ContainerId) is kept.
void ApplyShortValues(DeviceValues& values, const ShortIdentity& identity, const ModelString& model,
                      const DeviceInfo& info, const Frame& status);

// ---- 64-byte interface ----
// Records the probe of generation 11 and above reads into the information record.
inline constexpr int kExtendedProbeRecords = 32;
inline constexpr int32_t kFirstExtendedGeneration = 11;
// Word offsets of the information pages of generations 1 to 10.
inline constexpr std::array<int, 5> kInfoPageWordOffsets = {0, 30, 60, 90, 120};
// Pause after the update notification, before the page-mode command.
inline constexpr int kPageModeDelayMs = 12;

// The information string with the documented defaults filled in when the read failed
// (the signature then stays missing), zero-padded to its full size.
InfoString MakeLongInfoString(const RawString& raw);
bool LongSignatureOk(const InfoString& info);
int32_t LongDeviceClass(const InfoString& info);
// Values of a 64-byte device; per-path data (InfoPages, ContainerId) is kept.
void ApplyLongValues(DeviceValues& values, const InfoString& info);

// ---- Shared rules ----
// Model codes 12 and 13 (and 14 on the 64-byte interface) are variants of model 9.
int32_t FoldModelCode(int32_t code, bool longInterface);
// ExtendedLayoutFlag of a 64-byte device from its generation and info byte 21.
int32_t ExtendedLayoutOf(int32_t generation, uint8_t infoByte21);

// Stores the four data bytes of record r's reply at 0x48 + 4r; a first byte above 50 is
// stored as 1.
void StoreRecord(InfoRecord& record, int r, const Frame& reply);
// Stores the 60 data bytes of the page at `wordOffset` at byte offset 2 * wordOffset;
// bytes beyond the record are dropped.
void StoreInfoPage(InfoRecord& record, int wordOffset, const Frame& reply);
// Generation 11 and above answer the record-1 query with 5 and 4 from the record.
void SetExtendedRecordDefaults(InfoRecord& record);

// ---- Keyboards ----
inline constexpr std::array<std::string_view, 2> kKeyboardSerials = {"MX-28", "MX-29"};
inline constexpr std::string_view kKeyboardVariantText = "MX-30";
inline constexpr std::size_t kKeyboardResultByte = 6;
inline constexpr std::size_t kKeyboardFirmwareByte = 20;  // four bytes, little-endian

bool IsKeyboardSerial(std::string_view serial);
// The keyboard column: model 10000, firmware from the reply, IdentByte3 from the product.
void ApplyKeyboardValues(DeviceValues& values, const KeyboardReport& reply,
                         const std::string& product);

}  // namespace qvm
