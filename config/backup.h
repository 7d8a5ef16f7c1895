// Backup files (".bf"): a byte-for-byte copy of a mouse's whole memory, configuration
// and macros together, and the way back into a device.
//
// Layout: the tag "_@_BF6_" as a length-prefixed string of 16-bit characters (bytes
// 0..17), N as a 32-bit little-endian count (bytes 18..21), then N memory bytes from
// address 0. Nothing follows.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "device/commands.h"
#include "platform/clock.h"

namespace qvm {

inline constexpr std::u16string_view kBackupTag = u"_@_BF6_";
inline constexpr std::size_t kBackupHeaderSize = 22;
inline constexpr std::string_view kBackupExtension = "bf";
// Byte 0 of a memory that holds a configuration.
inline constexpr uint8_t kConfigurationMarker = 0x12;

// Progress of a long operation: bytes done of the total.
using BackupProgress = std::function<void(int done, int total)>;

// Bytes 0..21 of a backup file holding `memoryBytes` bytes of memory.
std::vector<uint8_t> EncodeBackupHeader(uint32_t memoryBytes);

struct BackupContents {
    uint32_t declaredBytes = 0;   // N of the header
    std::vector<uint8_t> memory;  // the memory bytes the file holds: N, or fewer
    uint32_t missingBytes = 0;    // N minus the bytes present
    std::size_t extraBytes = 0;   // bytes after the N memory bytes, which nothing reads
};

// Checks the tag and splits a backup file. A wrong tag gives msg_str 20 ("invalid
// format !!"); a file cut inside its header is refused too; a file cut inside its
// memory bytes gives what is there and counts the rest as missing; bytes after the
// memory bytes are counted too, for JudgeRestore to name.
Result<BackupContents> DecodeBackupFile(std::span<const uint8_t> file);

// Reads memory 0..memoryTop of the device in 60-byte pieces and writes the backup file
// atomically: on a read failure or a full disk nothing is left at filePath but what was
// there before.
Status SaveBackup(MemoryAccess& memory, DeviceCommands& commands, const std::string& path,
                  uint32_t memoryTop, const std::string& filePath,
                  const BackupProgress& progress = {});

struct RestoreReport {
    uint32_t declaredBytes = 0;
    uint32_t writtenBytes = 0;
    uint32_t missingBytes = 0;  // declared but absent from a cut file; not written
};

// Writes the file's memory bytes into the device from address 0 in 32-byte blocks,
// refreshes lighting where the device keeps it in the extended layout, reloads the
// device's settings, waits 10 ms on `clock`, runs `reload` (the host's configuration
// load), then selects profile 0. The file's size is not compared with the device's
// memory; see CheckRestoreCompatible.
Result<RestoreReport> RestoreBackup(MemoryAccess& memory, DeviceCommands& commands,
                                    const std::string& path, const std::string& filePath,
                                    Clock& clock, const std::function<Status()>& reload,
                                    const BackupProgress& progress = {});

// Refuses a restore of fileBytes memory bytes into a device whose memory ends at
// deviceTop, unless forced: a backup of another memory size comes from another model
// or layout and would leave the device with a configuration it cannot read.
Status CheckRestoreCompatible(uint32_t fileBytes, uint32_t deviceTop, bool force);

// What speaks against writing a backup into a device.
enum class RestoreConcern {
    OtherSize,    // the file holds another memory size than the device's
    UnknownSize,  // the device's memory size could not be learnt
    NoMarker,     // the file's byte 0 is not the marker: the device would hold no configuration
    CutShort,     // the file ends before its declared memory bytes: the rest is not written
    ExtraBytes,   // bytes follow the memory bytes, which no backup has: they are not written
};
struct RestoreFinding {
    RestoreConcern concern;
    std::string text;  // English, for both programs
};
// The findings against restoring `contents` into a device whose memory ends at
// deviceTop (nullopt: not known); none when nothing speaks against it.
std::vector<RestoreFinding> JudgeRestore(const BackupContents& contents,
                                         std::optional<uint32_t> deviceTop);
// Unless forced, refuses (ErrorKind::BadInput) a restore that JudgeRestore finds
// anything against; the message gives every finding.
Status CheckRestore(const BackupContents& contents, std::optional<uint32_t> deviceTop, bool force);

}  // namespace qvm
