// Per-device values: what the probe learns about each attached interface, keyed by
// its device path and read by every layer that must know which protocol, model or
// layout a device speaks.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace qvm {

// The 256-byte identification record a probe fills from the device's information
// pages (or record queries), read by commands that are answered on the host.
using InfoRecord = std::array<uint8_t, 256>;

// Model code of the keyboard models reached through the report pipe.
inline constexpr int32_t kKeyboardModelCode = 10000;

struct DeviceValues {
    int32_t ProtocolGeneration = 0;  // 0: 9-byte commands; 1..10 and 11+: 64-byte sets
    int32_t ModelCode = 0;
    uint32_t FirmwareVersion = 0;
    int32_t DeviceClass = 0;
    int32_t FeatureFlags = 0;
    int32_t IdentByte1 = 0;
    int32_t IdentByte2 = 0;
    int32_t IdentByte3 = 0;
    int32_t IdentByte4 = 0;
    int32_t ExtendedLayoutFlag = 0;
    std::optional<InfoRecord> InfoPages;
    std::string ContainerId;
    std::string ProductName;

    // The information record, or the shared zero-filled one when none was stored.
    const InfoRecord& Info() const;

    bool operator==(const DeviceValues&) const = default;
};

// The shared all-zero information record.
const InfoRecord& ZeroInfoRecord();

// Thread-safe table path -> DeviceValues. A path never stored reads as all zeros.
// The table has one lock; callbacks given to Update run under it and must not call
// back into the table.
class DeviceValueTable {
  public:
    DeviceValues Get(const std::string& path) const;
    void Set(const std::string& path, DeviceValues values);
    // Runs fn on the stored values (creating a zeroed entry first when missing).
    void Update(const std::string& path, const std::function<void(DeviceValues&)>& fn);
    void Erase(const std::string& path);
    bool Contains(const std::string& path) const;

    // Shorthands for the value every command consults.
    int32_t Generation(const std::string& path) const;
    int32_t ModelCode(const std::string& path) const;

  private:
    mutable std::mutex m_;
    std::map<std::string, DeviceValues> values_;
};

}  // namespace qvm
