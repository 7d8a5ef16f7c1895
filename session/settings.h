// The user's persistent options in set.ini (section "QZW" of the user data folder) and
// the pointer-acceleration option they drive.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "base/result.h"
#include "platform/pointer_acceleration.h"

namespace qvm {

inline constexpr std::string_view kSettingsFileName = "set.ini";
inline constexpr std::string_view kSettingsSection = "QZW";
inline constexpr int kDefaultLanguageId = 1033;

enum class ResetColours : uint8_t;  // config/config_image.h
// The program's choice for the factory reset's class A colours: the default colours when
// the language file's "EnableColor" flag is set, the current ones otherwise.
ResetColours ResetColoursSetting();

// An executable bound to a profile and the name shown for it.
struct AppSlot {
    std::string path;
    std::string name;

    bool operator==(const AppSlot&) const = default;
};

inline constexpr std::size_t kAppSlotCount = 10;
// Only the first five slots (profiles 1..5) are stored in the file.
inline constexpr std::size_t kStoredAppSlots = 5;

struct UserSettings {
    int osd = 1;         // DPI and profile on-screen display enabled
    int disableAcc = 0;  // 1: the QVM mice's pointers run without acceleration
    // 1: the companion service listens on the local network. Off by default: it takes
    // unauthenticated requests that move the pointer and rewrite the mouse.
    int remote = 0;
    std::array<AppSlot, kAppSlotCount> apps;
};

struct LoadedSettings {
    UserSettings settings;
    std::string warning;  // unreadable file or acceleration failure; empty when all went well
};

// The values start-up reads before anything else.
struct StartupSettings {
    int languageId = kDefaultLanguageId;
    int pin = 0;
};

// UserDataFolder() + "/set.ini".
std::string SettingsFilePath();

StartupSettings ReadStartupSettings(const std::string& path);
// "language" is stored as given, without checking that it is a number.
Status WriteLanguageSetting(const std::string& path, std::string_view languageText);
Status WritePinSetting(const std::string& path, int pin);

// Whether the companion service runs: the stored option is exactly 1, or the program was
// started with "--remote". Any other stored value leaves it off.
bool RemoteServiceWanted(const UserSettings& settings, bool remoteSwitch);

// Reads "osd", "disable_acc", "remote" and the five application slots, changing nothing.
LoadedSettings ReadSettings(const std::string& path);
// The same; then, when "disable_acc" is 1 the
// QVM mice's pointers are flattened at once (any other value leaves every pointer alone).
LoadedSettings LoadSettings(const std::string& path, PointerAcceleration& pointer);
// Writes "osd", "disable_acc", "remote" and all ten application keys, keeping every other line of
// the file. An existing file that cannot be read is not overwritten.
Status SaveSettings(const std::string& path, const UserSettings& settings);
// Writes only the ten application keys of the five stored slots (the first five of
// `slots`), keeping every other line.
Status SaveAppSlots(const std::string& path, std::span<const AppSlot> slots);

// The option "Disable mouse acceleration": on, the pointer devices of the attached QVM
// mice (and those plugged in later) get the flat profile; off, each gets back what it had
// before. Other pointers are never touched. disableAcc is true exactly when the option's
// stored value is 1.
Status ApplyPointerAcceleration(bool disableAcc, PointerAcceleration& pointer);

// The name shown for a bound application: the Name of the desktop entry whose Exec starts
// this executable, else the executable's file name without its extension.
std::string GetAppDisplayName(const std::string& executablePath);

}  // namespace qvm
