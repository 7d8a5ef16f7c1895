#include "session/settings.h"

#include <filesystem>

#include <functional>
#include <span>

#include "base/ini_file.h"
#include "config/config_image.h"
#include "lang/ui_strings.h"
#include "platform/folders.h"

namespace qvm {
namespace {

constexpr std::string_view kLanguageKey = "language";
constexpr std::string_view kPinKey = "pin";
constexpr std::string_view kOsdKey = "osd";
constexpr std::string_view kDisableAccKey = "disable_acc";
constexpr std::string_view kRemoteKey = "remote";
constexpr std::string_view kAppKeyPrefix = "app";
constexpr std::string_view kAppNameKeyPrefix = "app_name";
constexpr int kDefaultPin = 0;
constexpr int kDefaultOsd = 1;
// Off: the desktop's pointers are left alone unless the user asks.
constexpr int kDefaultDisableAcc = 0;
// The stored option value that means "hold acceleration off".
constexpr int kDisableAccOn = 1;
// Off: nothing listens on the network unless the user turns the service on.
constexpr int kDefaultRemote = 0;
constexpr int kRemoteOn = 1;

std::string AppKey(std::size_t slot) {
    return std::string(kAppKeyPrefix) + std::to_string(slot);
}
std::string AppNameKey(std::size_t slot) {
    return std::string(kAppNameKeyPrefix) + std::to_string(slot);
}

// Loads the file, lets update change it and saves it. A file that exists but cannot be
// read is left alone rather than replaced by one holding only the new keys.
Status UpdateSettingsFile(const std::string& path, const std::function<void(IniFile&)>& update) {
    IniFile file = IniFile::Load(path);
    if (file.Unreadable()) {
        return MakeError("settings not saved: " + file.Warning());
    }
    update(file);
    // The user's folder may not be there yet when qvmctl is the first to store a setting.
    const std::string folder = std::filesystem::path(path).parent_path().string();
    if (Status made = folder.empty() ? Status{} : EnsureFolder(folder); !made) {
        return MakeError("settings not saved: " + made.message());
    }
    if (Status saved = file.Save(path); !saved) {
        return MakeError("settings not saved: " + saved.message());
    }
    return {};
}

// The ten application keys of the stored slots; slots missing from `slots` are written
// empty.
void WriteAppSlots(IniFile& file, std::span<const AppSlot> slots) {
    for (std::size_t i = 0; i < kStoredAppSlots; ++i) {
        const AppSlot slot = i < slots.size() ? slots[i] : AppSlot{};
        file.SetString(kSettingsSection, AppKey(i), slot.path);
        file.SetString(kSettingsSection, AppNameKey(i), slot.name);
    }
}

void AppendWarning(std::string& warning, const std::string& text) {
    if (!warning.empty()) warning += "; ";
    warning += text;
}

}  // namespace

std::string SettingsFilePath() {
    return JoinPath(UserDataFolder(), kSettingsFileName);
}

StartupSettings ReadStartupSettings(const std::string& path) {
    const IniFile file = IniFile::Load(path);
    StartupSettings startup;
    startup.pin = file.GetInt(kSettingsSection, kPinKey, kDefaultPin);
    startup.languageId = file.GetInt(kSettingsSection, kLanguageKey, kDefaultLanguageId);
    return startup;
}

Status WriteLanguageSetting(const std::string& path, std::string_view languageText) {
    return UpdateSettingsFile(
        path, [&](IniFile& file) { file.SetString(kSettingsSection, kLanguageKey, languageText); });
}

Status WritePinSetting(const std::string& path, int pin) {
    return UpdateSettingsFile(path,
                              [&](IniFile& file) { file.SetInt(kSettingsSection, kPinKey, pin); });
}

bool RemoteServiceWanted(const UserSettings& settings, bool remoteSwitch) {
    return remoteSwitch || settings.remote == kRemoteOn;
}

LoadedSettings ReadSettings(const std::string& path) {
    const IniFile file = IniFile::Load(path);
    LoadedSettings loaded;
    loaded.warning = file.Warning();
    UserSettings& s = loaded.settings;

    s.osd = file.GetInt(kSettingsSection, kOsdKey, kDefaultOsd);
    s.disableAcc = file.GetInt(kSettingsSection, kDisableAccKey, kDefaultDisableAcc);
    s.remote = file.GetInt(kSettingsSection, kRemoteKey, kDefaultRemote);
    for (std::size_t i = 0; i < kStoredAppSlots; ++i) {
        AppSlot& slot = s.apps[i];
        const std::string appPath = file.GetString(kSettingsSection, AppKey(i), kNoString);
        if (appPath == kNoString || appPath.empty()) {
            slot = {};
            continue;
        }
        slot.path = appPath;
        const std::string name = file.GetString(kSettingsSection, AppNameKey(i), kNoString);
        slot.name = name != kNoString ? name : GetAppDisplayName(appPath);
    }
    return loaded;
}

LoadedSettings LoadSettings(const std::string& path, PointerAcceleration& pointer) {
    LoadedSettings loaded = ReadSettings(path);
    if (loaded.settings.disableAcc == kDisableAccOn) {
        if (Status applied = ApplyPointerAcceleration(true, pointer); !applied) {
            AppendWarning(loaded.warning, applied.message());
        }
    }
    return loaded;
}

Status SaveSettings(const std::string& path, const UserSettings& settings) {
    return UpdateSettingsFile(path, [&](IniFile& file) {
        file.SetInt(kSettingsSection, kOsdKey, settings.osd);
        file.SetInt(kSettingsSection, kDisableAccKey, settings.disableAcc);
        file.SetInt(kSettingsSection, kRemoteKey, settings.remote);
        WriteAppSlots(file, settings.apps);
    });
}

Status SaveAppSlots(const std::string& path, std::span<const AppSlot> slots) {
    return UpdateSettingsFile(path, [&](IniFile& file) { WriteAppSlots(file, slots); });
}

Status ApplyPointerAcceleration(bool disableAcc, PointerAcceleration& pointer) {
    return disableAcc ? pointer.Hold() : pointer.Release();
}

ResetColours ResetColoursSetting() {
    return Ui().enable_color != 0 ? ResetColours::Defaults : ResetColours::KeepCurrent;
}

}  // namespace qvm
