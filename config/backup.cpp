// Backup file encoding, saving and restoring.
#include "config/backup.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "base/atomic_file.h"
#include "config/prefixed_string.h"
#include "lang/ui_strings.h"

namespace qvm {
namespace {

constexpr std::size_t kTagSize = 18;  // bytes 0..17: the tag string
static_assert(kTagSize + 4 == kBackupHeaderSize, "the tag string, then N");
constexpr uint32_t kReadPiece = 60;
constexpr uint32_t kWritePiece = 32;
constexpr int kMsgInvalidFormat = 20;
// Lighting is restored on generations above 1 with the extended layout; the refresh
// command exists from generation 3 on.
constexpr int32_t kLightingRestoreGeneration = 2;
constexpr int32_t kLightingRefreshGeneration = 3;
constexpr int kSettleMs = 10;

void Report(const BackupProgress& progress, uint64_t done, uint64_t total) {
    if (progress) progress(static_cast<int>(done), static_cast<int>(total));
}

std::string Hex(uint32_t value) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%X", value);
    return buffer;
}

}  // namespace

std::vector<uint8_t> EncodeBackupHeader(uint32_t memoryBytes) {
    std::vector<uint8_t> out = *EncodePrefixedString(kBackupTag);
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<uint8_t>(memoryBytes >> shift));
    }
    return out;
}

Result<BackupContents> DecodeBackupFile(std::span<const uint8_t> file) {
    std::size_t offset = 0;
    auto tag = ReadPrefixedString(file, offset);
    if (!tag || tag->text != kBackupTag) {
        return MakeError(ErrorKind::BadInput, Ui().msg_str[kMsgInvalidFormat] +
                                                  " (it is not a backup file: it does " +
                                                  "not begin with the backup tag)");
    }
    if (file.size() < offset + 4) {
        return MakeError(ErrorKind::BadInput,
                         Ui().msg_str[kMsgInvalidFormat] + " (the file ends inside its header)");
    }
    BackupContents out;
    for (int i = 0; i < 4; ++i) out.declaredBytes |= uint32_t{file[offset + i]} << (8 * i);
    offset += 4;
    const std::size_t present = std::min<std::size_t>(file.size() - offset, out.declaredBytes);
    out.memory.assign(file.begin() + offset, file.begin() + offset + present);
    out.missingBytes = out.declaredBytes - static_cast<uint32_t>(present);
    out.extraBytes = file.size() - offset - present;
    return out;
}

Status SaveBackup(MemoryAccess& memory, DeviceCommands& commands, const std::string& path,
                  uint32_t memoryTop, const std::string& filePath, const BackupProgress& progress) {
    if (memoryTop == UINT32_MAX)
        return MakeError("the memory top " + Hex(memoryTop) + " is invalid");
    const uint32_t n = memoryTop + 1;
    commands.NotifyUpdate(path);
    std::vector<uint8_t> file = EncodeBackupHeader(n);
    const uint32_t pieces = (n + kReadPiece - 1) / kReadPiece;
    std::vector<uint8_t> read(static_cast<std::size_t>(pieces) * kReadPiece);
    Report(progress, 0, n);
    for (uint32_t address = 0; address <= memoryTop; address += kReadPiece) {
        // The last piece stops at the memory top: asking past it would name addresses the
        // command set cannot carry on a 64 KiB device.
        std::span<uint8_t> piece(read.data() + address, std::min(kReadPiece, n - address));
        if (!memory.ReadMemory(path, address, piece, true)) {
            const DeviceFailure failure = commands.FailureOr(path, "the device did not answer");
            commands.NotifyUpdate(path);
            if (failure.kind == ErrorKind::DeviceGone) {
                // Where it stopped means nothing to the user; that it left does.
                return MakeError(failure.kind,
                                 "the device left during the backup (" +
                                     std::to_string(uint64_t{address} * 100 / n) +
                                     " % read); no backup was written. Connect it and back "
                                     "up again");
            }
            return MakeError(failure.kind, "reading the device memory at " + Hex(address) +
                                               " failed: " + failure.Message() +
                                               "; no backup was written");
        }
        Report(progress, std::min(address + kReadPiece, n), n);
    }
    commands.NotifyUpdate(path);
    file.insert(file.end(), read.begin(), read.begin() + n);
    if (Status s = WriteFileAtomically(filePath, file); !s) {
        return MakeError("the backup was not saved: " + s.message());
    }
    Report(progress, n, n);
    return {};
}

Result<RestoreReport> RestoreBackup(MemoryAccess& memory, DeviceCommands& commands,
                                    const std::string& path, const std::string& filePath,
                                    Clock& clock, const std::function<Status()>& reload,
                                    const BackupProgress& progress) {
    auto bytes = ReadFileIfExists(filePath);
    if (!bytes) return MakeError(bytes.message());
    if (!bytes->has_value()) return MakeError("no such file: " + filePath);
    auto contents = DecodeBackupFile(**bytes);
    if (!contents) return contents.error();

    const std::vector<uint8_t>& data = contents->memory;
    RestoreReport report{contents->declaredBytes, 0, contents->missingBytes};
    const uint32_t total = static_cast<uint32_t>(data.size());
    // Every step stops at the first exchange that fails and says what the device holds:
    // a device that left (or stays busy) is not written on to 100 %.
    const auto stopped = [&] {
        return StoppedWriteError(commands.FailureOr(path, "the device did not take the write"),
                                 report.writtenBytes, total, "restored", "restore again");
    };
    const auto failed = [&] { return commands.GetTransport().LastFailure(path).has_value(); };
    commands.NotifyUpdate(path);
    if (failed()) return stopped();
    Status loaded;
    if (contents->declaredBytes > 0) {
        Report(progress, 0, total);
        for (uint32_t address = 0; address < total; address += kWritePiece) {
            const uint32_t length = std::min(kWritePiece, total - address);
            if (!memory.WriteMemoryBlock(path, address, std::span(data).subspan(address, length)))
                return stopped();
            report.writtenBytes += length;
            Report(progress, address + length, total);
        }
        const DeviceValues device = commands.Values().Get(path);
        const int32_t g = device.ProtocolGeneration;
        if (g >= kLightingRestoreGeneration && device.ExtendedLayoutFlag != 0) {
            if (g >= kLightingRefreshGeneration) commands.RefreshLighting(path);
            // A file too short to hold the effect leaves the device's effect alone.
            if (data.size() > kLightingEffectAddress) {
                commands.SetLightingEffect(path, data[kLightingEffectAddress]);
            }
            if (failed()) return stopped();
        }
        if (!commands.ReloadSettings(path)) return stopped();
        clock.SleepMs(kSettleMs);
        if (reload) loaded = reload();
    }
    commands.SetActiveProfile(path, 0);
    if (!failed()) commands.NotifyUpdate(path);  // generation 0 has no notice: sends nothing
    if (!loaded) {
        return MakeError(loaded.kind(),
                         "the backup was written, but loading it back failed: " + loaded.message());
    }
    if (failed()) {
        // Written and loaded: only the closing steps failed.
        const DeviceFailure failure = commands.FailureOr(path, "the device did not answer");
        return MakeError(failure.kind, "the backup was written and loaded back, but " +
                                           failure.Message() + " before profile 1 was selected");
    }
    return report;
}

Status CheckRestoreCompatible(uint32_t fileBytes, uint32_t deviceTop, bool force) {
    const uint64_t deviceBytes = uint64_t{deviceTop} + 1;
    if (force || fileBytes == deviceBytes) return {};
    return MakeError("the backup holds " + std::to_string(fileBytes) +
                     " bytes of memory but the device has " + std::to_string(deviceBytes) +
                     "; it comes from another model");
}

std::vector<RestoreFinding> JudgeRestore(const BackupContents& contents,
                                         std::optional<uint32_t> deviceTop) {
    std::vector<RestoreFinding> found;
    if (!deviceTop) {
        found.push_back({RestoreConcern::UnknownSize,
                         "the memory size of the device is not known, so the backup's size "
                         "cannot be checked against it"});
    } else if (Status fits = CheckRestoreCompatible(contents.declaredBytes, *deviceTop, false);
               !fits) {
        found.push_back({RestoreConcern::OtherSize, fits.message()});
    }
    if (!contents.memory.empty() && contents.memory[0] != kConfigurationMarker) {
        found.push_back({RestoreConcern::NoMarker,
                         "its first memory byte is " + Hex(contents.memory[0]) +
                             ", not the configuration marker " + Hex(kConfigurationMarker) +
                             ": the device would hold no configuration after it"});
    }
    if (contents.missingBytes > 0) {
        found.push_back(
            {RestoreConcern::CutShort, "the file is cut short: it holds " +
                                           std::to_string(contents.memory.size()) + " of its " +
                                           std::to_string(contents.declaredBytes) +
                                           " memory bytes, and the rest would not be written"});
    }
    if (contents.extraBytes > 0) {
        // A file that goes on past its memory bytes was not written as a backup alone:
        // restoring would quietly drop the rest.
        found.push_back({RestoreConcern::ExtraBytes,
                         std::to_string(contents.extraBytes) + " bytes follow its " +
                             std::to_string(contents.declaredBytes) +
                             " memory bytes, which a backup does not have: the file may hold "
                             "something else, and they would not be written"});
    }
    return found;
}

Status CheckRestore(const BackupContents& contents, std::optional<uint32_t> deviceTop, bool force) {
    if (force) return {};
    std::string message;
    for (const RestoreFinding& f : JudgeRestore(contents, deviceTop)) {
        message += (message.empty() ? "" : "; ") + f.text;
    }
    if (message.empty()) return {};
    return MakeError(ErrorKind::BadInput, message);
}

}  // namespace qvm
