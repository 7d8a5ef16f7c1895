// First-contact backups: naming, finding and saving them before a device's first write.
#include "config/first_backup.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "config/backup.h"
#include "config/memory_top.h"
#include "device/model_table.h"
#include "platform/folders.h"

namespace qvm {
namespace {

constexpr std::size_t kMaxNamePart = 32;
constexpr std::size_t kDateDigits = 8;
constexpr char kSeparator = '-';
constexpr std::string_view kPortPrefix = "port";

// Letters, digits, '.' and '_' as they are; anything else (the separator '-' included)
// becomes '_', so that the three parts of a file name can be told apart.
std::string SafePart(std::string_view text) {
    std::string out;
    for (const char c : text.substr(0, kMaxNamePart)) {
        const auto u = static_cast<unsigned char>(c);
        out.push_back(std::isalnum(u) != 0 || c == '.' || c == '_' ? c : '_');
    }
    // A name of dots alone would name the folder or its parent.
    if (out.find_first_not_of('.') == std::string::npos) out = "unknown";
    return out;
}

// FNV-1a, 32 bits: a short, stable name for a port path.
uint32_t HashOf(std::string_view text) {
    constexpr uint32_t kOffsetBasis = 2166136261u;
    constexpr uint32_t kPrime = 16777619u;
    uint32_t hash = kOffsetBasis;
    for (const char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= kPrime;
    }
    return hash;
}

bool AllDigits(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; });
}

}  // namespace

BackupIdentity MakeBackupIdentity(std::string_view modelName, std::string_view serial,
                                  std::string_view container) {
    BackupIdentity identity;
    identity.model = SafePart(modelName.empty() ? "mouse" : modelName);
    if (!serial.empty()) {
        identity.serial = SafePart(serial);
    } else {
        char hex[9];
        std::snprintf(hex, sizeof hex, "%08x", HashOf(container));
        identity.serial = std::string(kPortPrefix) + hex;
    }
    return identity;
}

std::string FirstBackupFileName(const BackupIdentity& identity, std::string_view date) {
    return identity.model + kSeparator + identity.serial + kSeparator + std::string(date) + '.' +
           std::string(kBackupExtension);
}

std::vector<std::string> FindFirstBackups(const std::string& folder,
                                          const BackupIdentity& identity) {
    const std::string prefix = identity.model + kSeparator + identity.serial + kSeparator;
    const std::string suffix = "." + std::string(kBackupExtension);
    std::vector<std::string> found;
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.size() != prefix.size() + kDateDigits + suffix.size()) continue;
        if (name.compare(0, prefix.size(), prefix) != 0) continue;
        if (name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) continue;
        if (!AllDigits(std::string_view(name).substr(prefix.size(), kDateDigits))) continue;
        if (!it->is_regular_file(error)) continue;
        found.push_back(it->path().string());
    }
    std::sort(found.begin(), found.end());
    return found;
}

std::string FirstBackupsFolder(const std::string& userDataFolder) {
    return (userDataFolder.empty() ? UserDataFolder() : userDataFolder) + "/" +
           std::string(kBackupsFolderName);
}

std::string LocalDateText() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char text[16];
    std::strftime(text, sizeof text, "%Y%m%d", &local);
    return text;
}

FirstBackup::FirstBackup(DeviceCommands& commands, DeviceLink& link, Options options)
    : commands_(commands), link_(link), options_(std::move(options)) {
    if (!options_.today) options_.today = LocalDateText;
}

FirstBackup::~FirstBackup() {
    if (installed_) commands_.SetWriteGate({});
}

void FirstBackup::InstallGate() {
    commands_.SetWriteGate([this](const std::string& path) { return BeforeFirstWrite(path); });
    installed_ = true;
}

void FirstBackup::Accept(const std::string& path) {
    std::lock_guard lock(mutex_);
    accepted_.insert(path);
}

BackupIdentity FirstBackup::IdentityOf(const std::string& path) {
    const DeviceValues values = commands_.Values().Get(path);
    const HidDeviceInfo info = link_.Describe(path).value_or(HidDeviceInfo{});
    return MakeBackupIdentity(GetModelName(values), info.serial,
                              info.container.empty() ? values.ContainerId : info.container);
}

std::string FirstBackup::ModelNameOf(const std::string& path) const {
    return GetModelName(commands_.Values().Get(path));
}

Result<std::string> FirstBackup::FirstBackupOf(const std::string& path) {
    const BackupIdentity identity = IdentityOf(path);
    const std::vector<std::string> found = FindFirstBackups(options_.folder, identity);
    if (found.empty()) {
        return MakeError(ErrorKind::BadInput, "no first backup of this " + ModelNameOf(path) +
                                                  " is in " + options_.folder +
                                                  " (it would be named " +
                                                  FirstBackupFileName(identity, "YYYYMMDD") + ")");
    }
    return found.front();
}

Status FirstBackup::BeforeFirstWrite(const std::string& path) {
    {
        std::lock_guard lock(mutex_);
        if (accepted_.count(path) != 0) return {};
    }
    const BackupIdentity identity = IdentityOf(path);
    if (!FindFirstBackups(options_.folder, identity).empty()) return {};
    const std::string file =
        options_.folder + "/" + FirstBackupFileName(identity, options_.today());
    auto refuse = [&](const std::string& why) -> Status {
        if (options_.unsaved) options_.unsaved(path, why, options_.acceptUnsaved);
        if (options_.acceptUnsaved) return {};
        return MakeError(ErrorKind::Unsaved,
                         "nothing was written: the memory of this " + ModelNameOf(path) +
                             " could not be saved before its first change (" + why + ")");
    };
    auto top = LearnMemoryTop(commands_, path);
    // A memory without a configuration holds nothing worth keeping.
    if (!top && top.kind() == ErrorKind::Uninitialised) return {};
    // A device that left takes no write either: that is what the user needs to hear.
    const auto gone = [&] {
        return MakeError(ErrorKind::DeviceGone,
                         "the device left while its memory was being saved before its first "
                         "change; nothing was written to it");
    };
    if (!top && top.kind() == ErrorKind::DeviceGone) return gone();
    if (!top) return refuse("its memory size could not be read: " + top.message());
    // Nor does one whose first byte is not the configuration marker (an erased memory of
    // a device that reports its size).
    std::array<uint8_t, 1> first{};
    if (!commands_.ReadMemory(path, 0, first, true)) {
        const DeviceFailure failure = commands_.FailureOr(path, "the device did not answer");
        if (failure.kind == ErrorKind::DeviceGone) return gone();
        return refuse("reading its memory failed: " + failure.Message());
    }
    if (first[0] != kConfigurationMarker) return {};
    if (Status made = EnsureFolder(options_.folder); !made) return refuse(made.message());
    if (Status saved = SaveBackup(commands_, commands_, path, *top, file); !saved) {
        if (saved.kind() == ErrorKind::DeviceGone) return gone();
        return refuse(saved.message());
    }
    if (options_.saved) options_.saved(path, file);
    return {};
}

}  // namespace qvm
