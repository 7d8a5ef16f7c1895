#include "device/keyboard_commands.h"

#include <algorithm>

namespace qvm {

// Keyboard reports. Identification carries nothing beyond its sub-command. The key
// colour read uses the same request layout as the key colour write (byte 4 = 1, byte 6
// the effect, bytes 7 to 11 the keys) and is answered with the colours where the write
// carries them: key i at bytes 12 + 4i (red), 13 + 4i (green), 14 + 4i (blue). Byte 15 + 4i
// stays 0: the keyboard keeps no opaque flag, so a key read back counts as opaque when it
// has a colour (a black key stays dark either way).
const KeyboardTemplate& KeyboardTemplateOf(KeyboardReportKind kind) {
    using S = KeyboardSub;
    static const std::array<KeyboardTemplate, 7> kTemplates{{
        {S::Identify, {}, 0},
        {S::ReadState, {{{4, 0x00}}}, 1},
        {S::ReadState, {{{4, 0x02}}}, 1},
        {S::SetEffect, {{{4, 0x01}, {5, 0x02}}}, 2},
        {S::SetEffect, {{{4, 0x02}, {5, 0x06}, {6, 0x06}, {16, 0xFF}, {19, 0x01}}}, 5},
        {S::WriteKeyColours, {{{4, 0x01}}}, 1},
        {S::ReadKeyColours, {{{4, 0x01}}}, 1},
    }};
    return kTemplates.at(static_cast<std::size_t>(kind));
}

namespace {

KeyboardReport Start(KeyboardReportKind kind) {
    const KeyboardTemplate& tpl = KeyboardTemplateOf(kind);
    KeyboardReport report{};
    report[0] = kKeyboardReportId;
    report[1] = kKeyboardTag;
    report[2] = static_cast<uint8_t>(tpl.sub);
    for (int i = 0; i < tpl.fixedCount; ++i) {
        const KeyboardField& f = tpl.fixed[static_cast<std::size_t>(i)];
        report[f.at] = f.value;
    }
    return report;
}

void Put(KeyboardReport& report, int at, std::span<const uint8_t> bytes) {
    std::copy(bytes.begin(), bytes.end(), report.begin() + at);
}

}  // namespace

KeyboardCommands::KeyboardCommands(Transport& transport, DeviceValueTable& values)
    : transport_(transport), values_(values) {}

std::optional<KeyboardReport> KeyboardCommands::SendKeyboard(const std::string& path,
                                                             const KeyboardReport& request) {
    KeyboardReport reply{};
    if (!transport_.SendReports(path, request, reply, kKeyboardReplyWaitMs)) {
        return std::nullopt;
    }
    return reply;
}

std::optional<KeyboardReport> KeyboardCommands::IdentifyKeyboard(const std::string& path) {
    return SendKeyboard(path, Start(KeyboardReportKind::Identify));
}

std::optional<KeyboardReport> KeyboardCommands::SendKeyboardCommand(
    const std::string& path, uint8_t subCommand, std::span<const uint8_t> payload) {
    if (values_.ModelCode(path) != kKeyboardModelCode) return std::nullopt;
    if (payload.size() > static_cast<std::size_t>(kKeyboardReportLength - kKeyboardPayloadAt)) {
        return std::nullopt;
    }
    KeyboardReport report{};
    report[0] = kKeyboardReportId;
    report[1] = kKeyboardTag;
    report[2] = subCommand;
    Put(report, kKeyboardPayloadAt, payload);
    return SendKeyboard(path, report);
}

std::optional<KeyboardReport> KeyboardCommands::KeyboardReadState(const std::string& path,
                                                                  KeyboardLight which) {
    if (values_.ModelCode(path) != kKeyboardModelCode) return std::nullopt;
    return SendKeyboard(path,
                        Start(which == KeyboardLight::Keys ? KeyboardReportKind::ReadKeyState
                                                           : KeyboardReportKind::ReadSideState));
}

bool KeyboardCommands::KeyboardSetEffect(const std::string& path, const KeyboardEffect& effect) {
    if (values_.ModelCode(path) != kKeyboardModelCode) return false;
    KeyboardReport report = Start(KeyboardReportKind::SetEffect);
    report[kKbEffectAt] = effect.effect;
    report[kKbSpeedAt] = effect.speed;
    report[kKbBrightnessAt] = effect.brightness;
    report[kKbDirectionAt] = effect.direction;
    Put(report, kKbSlot1At, effect.slot1);
    Put(report, kKbSlot2At, effect.slot2);
    return SendKeyboard(path, report).has_value();
}

bool KeyboardCommands::KeyboardSetSideLed(const std::string& path, bool on) {
    if (values_.ModelCode(path) != kKeyboardModelCode) return false;
    KeyboardReport report = Start(KeyboardReportKind::SetSideLed);
    report[kKbSideOnAt] = on ? kKbSideOnValue : 0;
    return SendKeyboard(path, report).has_value();
}

bool KeyboardCommands::KeyboardWriteKeyColours(const std::string& path, uint8_t effect,
                                               std::span<const uint8_t> keys,
                                               std::span<const KeyColour> colours) {
    if (values_.ModelCode(path) != kKeyboardModelCode) return false;
    if (keys.size() != colours.size()) return false;
    bool ok = true;
    for (std::size_t first = 0; first < keys.size(); first += kKbKeysPerReport) {
        const std::size_t n = std::min<std::size_t>(kKbKeysPerReport, keys.size() - first);
        KeyboardReport report = Start(KeyboardReportKind::WriteKeyColours);
        report[kKbEffectAt] = effect;
        Put(report, kKbKeysAt, keys.subspan(first, n));
        for (std::size_t i = 0; i < n; ++i) {
            const KeyColour& c = colours[first + i];
            const std::array<uint8_t, 3> rgb{c.red, c.green, c.blue};
            Put(report, kKbKeyColourAt + kKbKeyColourStride * static_cast<int>(i), rgb);
        }
        ok = SendKeyboard(path, report).has_value() && ok;
    }
    return ok;
}

std::optional<std::vector<KeyColour>> KeyboardCommands::KeyboardReadKeyColours(
    const std::string& path, uint8_t effect, std::span<const uint8_t> keys) {
    if (values_.ModelCode(path) != kKeyboardModelCode) return std::nullopt;
    std::vector<KeyColour> colours;
    colours.reserve(keys.size());
    for (std::size_t first = 0; first < keys.size(); first += kKbKeysPerReport) {
        const std::size_t n = std::min<std::size_t>(kKbKeysPerReport, keys.size() - first);
        KeyboardReport report = Start(KeyboardReportKind::ReadKeyColours);
        report[kKbEffectAt] = effect;
        Put(report, kKbKeysAt, keys.subspan(first, n));
        const auto reply = SendKeyboard(path, report);
        if (!reply) return std::nullopt;
        for (std::size_t i = 0; i < n; ++i) {
            const std::size_t at = kKbKeyColourAt + kKbKeyColourStride * i;
            const uint8_t red = (*reply)[at], green = (*reply)[at + 1], blue = (*reply)[at + 2];
            colours.push_back({red, green, blue, (red | green | blue) != 0});
        }
    }
    return colours;
}

}  // namespace qvm
