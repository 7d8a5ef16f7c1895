// Firmware of a simulated keyboard: 32-byte output reports in, 32-byte input reports
// out, identification and the lighting sub-commands.
// Not thread-safe on its own: SimDevice serialises every call under its lock.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "sim/sim_config.h"
#include "sim/sim_mouse.h"

namespace qvm {

inline constexpr int kSimKeyboardReportLength = 32;
inline constexpr uint8_t kSimKeyboardReportId = 0x06;
inline constexpr uint8_t kSimKeyboardTag = 0xBE;
inline constexpr int kSimKeyCount = 256;

// Request and reply layout: byte 0 0x06, byte 1 0xBE, byte 2 the sub-command, byte 4 the
// target. Replies echo bytes 0 to 2 and 4 and carry 1 (accepted) or 0 (refused) in byte 3.
struct SimKeyboardBytes {
    static constexpr int kSubCommand = 2;
    static constexpr int kStatus = 3;
    static constexpr int kTarget = 4;
    static constexpr int kSelector = 5;
    static constexpr int kEffect = 6;
    static constexpr int kSpeed = 7;
    static constexpr int kBrightness = 8;  // also the side light's level
    static constexpr int kDirection = 9;
    // Colour slots: red, green, blue, 4th byte in the set-effect request; the state
    // reply carries red, green and blue only.
    static constexpr int kColour1 = 12;
    static constexpr int kColour2 = 16;
    static constexpr int kKeyIndices = 7;   // five key indices, 7..11
    static constexpr int kKeyColours = 12;  // key i: red, green, blue at 12 + 4i
    static constexpr int kKeysPerReport = 5;
    static constexpr int kIdentResult = 6;
    static constexpr int kFirmware = 20;  // 32 bits, little-endian, 20..23
};

enum class SimKeyboardCommand : uint8_t {
    Identify = 0x02,
    ReadState = 0x14,
    SetEffect = 0x15,
    ReadKeyColours = 0x18,
    WriteKeyColours = 0x19,
};

struct SimKeyboardLighting {
    uint8_t effect = 1;
    uint8_t speed = 2;
    uint8_t brightness = 4;
    uint8_t direction = 0;
    std::array<uint8_t, 4> colour1{};
    std::array<uint8_t, 4> colour2{0xFF, 0x00, 0x00, 0x01};
    uint8_t sideLight = 4;                                    // 0: off
    std::array<std::array<uint8_t, 4>, kSimKeyCount> keys{};  // red, green, blue, unused

    bool operator==(const SimKeyboardLighting&) const = default;
};

class SimKeyboard {
  public:
    static constexpr size_t kImageSize = 16 + 4 * kSimKeyCount;

    explicit SimKeyboard(const SimDeviceConfig& config);

    // One output report. Returns the input report the keyboard answers with, or nullopt
    // when it ignores the report (wrong length, report ID or tag).
    std::optional<std::vector<uint8_t>> HandleOutput(std::span<const uint8_t> report,
                                                     SimRequestOutcome& outcome);

    const SimKeyboardLighting& Lighting() const { return lighting_; }
    int Identifications() const { return identifications_; }

    // The lighting state as the bytes kept across restarts.
    std::vector<uint8_t> SaveImage() const;
    bool LoadImage(std::span<const uint8_t> image);

  private:
    bool SetEffect(std::span<const uint8_t> in);
    bool ReadState(std::span<const uint8_t> in, std::span<uint8_t> out) const;
    bool KeyColours(std::span<const uint8_t> in, std::span<uint8_t> out, bool write);
    static int UsedKeySlots(std::span<const uint8_t> in);

    SimDeviceConfig config_;
    SimKeyboardLighting lighting_;
    int identifications_ = 0;
};

}  // namespace qvm
