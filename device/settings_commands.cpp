// The immediate setting commands and the configuration writes built on the memory
// commands.
#include "device/commands.h"

namespace qvm {

bool DeviceCommands::SetActiveProfile(const std::string& path, int profile) {
    if (profile < 0 || profile > kMaxProfile) return false;
    const std::array<uint8_t, 1> params{static_cast<uint8_t>(profile)};
    return RunSetting(path, CommandId::SetActiveProfile, params);
}

bool DeviceCommands::SetSettingByte2(const std::string& path, uint8_t value) {
    const std::array<uint8_t, 1> params{value};
    if (!RunSetting(path, CommandId::SetSettingByte2, params)) return false;
    // Generation 0 keeps the current stage only in its memory header.
    if (ClassOfGeneration(values_.Generation(path)) == GenerationClass::Short) {
        return WriteMemoryByte(path, kCurrentStageAddress, value);
    }
    return true;
}

bool DeviceCommands::SetSettingTriple(const std::string& path, uint8_t a, uint8_t b, uint8_t c) {
    const std::array<uint8_t, 3> params{a, b, c};
    return RunSetting(path, CommandId::SetSettingTriple, params);
}

bool DeviceCommands::ReloadSettings(const std::string& path) {
    return RunSetting(path, CommandId::ReloadSettings, {});
}

bool DeviceCommands::ReloadSettingsAlt(const std::string& path) {
    return RunSetting(path, CommandId::ReloadSettingsAlt, {});
}

bool DeviceCommands::SetLightingEffect(const std::string& path, int effect) {
    if (effect < 0 || effect > kMaxLightingEffect) return false;
    const uint8_t e = static_cast<uint8_t>(effect);
    const std::array<uint8_t, 1> params{e};
    // The effect byte is written to memory first, then the device is told; both sit
    // inside the update bracket where the device needs one.
    return RunSetting(path, CommandId::SetLightingEffect, params,
                      [&] { return WriteMemoryByte(path, kLightingEffectAddress, e); });
}

bool DeviceCommands::SetLiveBytes(const std::string& path, uint32_t value) {
    const std::array<uint8_t, 4> params{
        static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
        static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
    return RunSetting(path, CommandId::SetLiveBytes, params);
}

bool DeviceCommands::SetLiveWord(const std::string& path, uint16_t value) {
    const std::array<uint8_t, 2> params{static_cast<uint8_t>(value),
                                        static_cast<uint8_t>(value >> 8)};
    return RunSetting(path, CommandId::SetLiveWord, params);
}

bool DeviceCommands::SetLiveProfileColour(const std::string& path, uint8_t red, uint8_t green,
                                          uint8_t blue) {
    const std::array<uint8_t, 3> params{red, green, blue};
    return RunSetting(path, CommandId::LiveProfileColour, params);
}

bool DeviceCommands::PreviewLedColour(const std::string& path, uint8_t led, uint8_t extra,
                                      const LedColour& colour) {
    const std::array<uint8_t, 6> params{led,        extra,        colour.flags,
                                        colour.red, colour.green, colour.blue};
    return RunSetting(path, CommandId::PreviewLedColour, params);
}

bool DeviceCommands::RefreshLighting(const std::string& path) {
    return RunSetting(path, CommandId::RefreshLighting, {});
}

bool DeviceCommands::ReadLightingBlock(const std::string& path, std::span<uint8_t> dest) {
    if (values_.Generation(path) < kFirstLightingGeneration) return false;
    bool ok = false;
    Bracketed(path, [&] { ok = ReadMemory(path, kLightingBlockAddress, dest, false); });
    return ok;
}

bool DeviceCommands::WriteButtonFunctionArgs(const std::string& path, int profile, int button,
                                             std::array<uint8_t, 3> args) {
    const ButtonLayout& layout = ButtonLayoutOf(ClassOfGeneration(values_.Generation(path)));
    if (profile < 0 || profile > kMaxProfile || button < 0 || button >= layout.buttons) {
        return false;
    }
    const uint32_t block = layout.profileBase + layout.stride * static_cast<uint32_t>(profile);
    for (std::size_t plane = 1; plane < layout.planeOffset.size(); ++plane) {
        const uint32_t address = block + layout.planeOffset[plane] + static_cast<uint32_t>(button);
        if (!WriteMemoryByte(path, address, args[plane - 1])) return false;
    }
    return true;
}

}  // namespace qvm
