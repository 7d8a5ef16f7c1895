// KeyboardCommands: the command set of the keyboard models. Each command is a 32-byte
// output report on the report pipe, answered by a 32-byte input report read after 10 ms;
// the reports' layouts are the table below. A command for a device whose model code is
// not the keyboard's sends nothing (only the identification goes to any device: the
// probe sends it before it knows the device).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "device/device_values.h"
#include "device/transport.h"

namespace qvm {

// ---- Keyboard report pipe ----
inline constexpr uint8_t kKeyboardReportId = 0x06;
inline constexpr uint8_t kKeyboardTag = 0xBE;
inline constexpr int kKeyboardPayloadAt = 3;
inline constexpr int kKeyboardReplyWaitMs = 10;

enum class KeyboardSub : uint8_t {
    Identify = 0x02,
    ReadState = 0x14,
    SetEffect = 0x15,
    ReadKeyColours = 0x18,
    WriteKeyColours = 0x19,
};

// The 32-byte reports the keyboards understand. Each has a sub-command and a few fixed
// bytes; the variable fields sit at the offsets below.
enum class KeyboardReportKind {
    Identify,
    ReadKeyState,   // reply: 6 effect, 7 speed, 8 brightness, 9 direction, 12.. colours
    ReadSideState,  // reply byte 8 not 0: side light on
    SetEffect,
    SetSideLed,
    WriteKeyColours,
    ReadKeyColours,
};

struct KeyboardField {
    uint8_t at = 0;
    uint8_t value = 0;
};

struct KeyboardTemplate {
    KeyboardSub sub = KeyboardSub::Identify;
    std::array<KeyboardField, 6> fixed{};
    int fixedCount = 0;
};

const KeyboardTemplate& KeyboardTemplateOf(KeyboardReportKind kind);

// Variable fields of the lighting reports.
inline constexpr int kKbEffectAt = 6;
inline constexpr int kKbSpeedAt = 7;
inline constexpr int kKbBrightnessAt = 8;
inline constexpr int kKbDirectionAt = 9;
inline constexpr int kKbSlot1At = 12;  // red, green, blue, 4th byte
inline constexpr int kKbSlot2At = 16;
inline constexpr int kKbSideOnAt = 8;
inline constexpr uint8_t kKbSideOnValue = 4;
inline constexpr int kKbKeysAt = 7;  // key indices, up to five
inline constexpr int kKbKeysPerReport = 5;
inline constexpr int kKbKeyColourAt = 12;  // key i: red, green, blue at 12 + 4i ..
inline constexpr int kKbKeyColourStride = 4;

inline constexpr int kKeyboardReportLength = 32;
using KeyboardReport = std::array<uint8_t, kKeyboardReportLength>;

struct KeyboardEffect {
    uint8_t effect = 0;
    uint8_t speed = 0;
    uint8_t brightness = 0;
    uint8_t direction = 0;
    std::array<uint8_t, 4> slot1{};  // red, green, blue, 4th byte
    std::array<uint8_t, 4> slot2{};
};

struct KeyColour {
    uint8_t red = 0;
    uint8_t green = 0;
    uint8_t blue = 0;
    bool opaque = false;

    bool operator==(const KeyColour&) const = default;
};

enum class KeyboardLight { Keys, Side };

class KeyboardCommands {
  public:
    KeyboardCommands(Transport& transport, DeviceValueTable& values);

    // The identification request; not gated on the model code. nullopt when the path
    // cannot be opened or does not answer.
    std::optional<KeyboardReport> IdentifyKeyboard(const std::string& path);
    // Any sub-command; payload fills bytes 3.. of the report (at most 29 bytes).
    std::optional<KeyboardReport> SendKeyboardCommand(const std::string& path, uint8_t subCommand,
                                                      std::span<const uint8_t> payload);
    std::optional<KeyboardReport> KeyboardReadState(const std::string& path, KeyboardLight which);
    bool KeyboardSetEffect(const std::string& path, const KeyboardEffect& effect);
    bool KeyboardSetSideLed(const std::string& path, bool on);
    // Keys and colours pair up; longer lists go out five keys a report.
    bool KeyboardWriteKeyColours(const std::string& path, uint8_t effect,
                                 std::span<const uint8_t> keys, std::span<const KeyColour> colours);
    std::optional<std::vector<KeyColour>> KeyboardReadKeyColours(const std::string& path,
                                                                 uint8_t effect,
                                                                 std::span<const uint8_t> keys);

    Transport& GetTransport() { return transport_; }
    DeviceValueTable& Values() { return values_; }

  private:
    std::optional<KeyboardReport> SendKeyboard(const std::string& path,
                                               const KeyboardReport& request);

    Transport& transport_;
    DeviceValueTable& values_;
};

}  // namespace qvm
