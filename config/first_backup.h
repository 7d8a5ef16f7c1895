// First-contact backup: before this computer first writes into a mouse whose memory it
// has never saved, the whole memory is saved to <user data>/backups as
// "MODEL-SERIAL-DATE.bf", once per device, so that whatever the device held before
// can always be put back ("qvmctl restore --first").
//
// "Never saved" means no first backup of the device is in the folder. A device is named
// by its model and its USB serial number; a mouse that reports no serial number is
// named by a hash of the USB port it hangs on ("port" and 8 hex digits), which errs
// towards one backup more (the same mouse on another port) rather than one fewer.
//
// A memory that holds no configuration (blank or erased: its size unreadable, or its
// first byte not the configuration marker) has nothing to keep: its first write goes
// ahead without a backup. A memory that cannot be
// read completely, or a backup that cannot be written, refuses the write with an error
// of kind Unsaved, until the user agrees to go on without it (Accept).
#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "device/commands.h"
#include "device/discovery.h"

namespace qvm {

inline constexpr std::string_view kBackupsFolderName = "backups";

// Where the first backups are kept: "backups" in the user data folder `userDataFolder`
// (empty: UserDataFolder()).
std::string FirstBackupsFolder(const std::string& userDataFolder = {});

// The name of a device in its first backup's file name.
struct BackupIdentity {
    std::string model;   // the model name, made safe for a file name
    std::string serial;  // the serial number, or "port" and the port's hash

    bool operator==(const BackupIdentity&) const = default;
};

// `serial` as the backend reported it (may be empty), `container` the identity of the
// physical device (the USB port's device); both only through a file-name-safe form.
BackupIdentity MakeBackupIdentity(std::string_view modelName, std::string_view serial,
                                  std::string_view container);

// "MODEL-SERIAL-YYYYMMDD.bf".
std::string FirstBackupFileName(const BackupIdentity& identity, std::string_view date);

// The first backups of the device in `folder`, oldest first (the date orders them);
// empty when there is none or the folder cannot be read.
std::vector<std::string> FindFirstBackups(const std::string& folder,
                                          const BackupIdentity& identity);

// Today's local date as "YYYYMMDD".
std::string LocalDateText();

class FirstBackup {
  public:
    struct Options {
        std::string folder;  // <user data>/backups
        // Told the device path and the file when a first backup was saved.
        std::function<void(const std::string& path, const std::string& file)> saved;
        // Today as "YYYYMMDD"; LocalDateText when empty.
        std::function<std::string()> today;
        // Go on without a backup when none can be saved (the user agreed beforehand).
        bool acceptUnsaved = false;
        // Told the device path, why no backup could be saved, and whether the write
        // went on all the same (acceptUnsaved, or the user agreed for the device).
        std::function<void(const std::string& path, const std::string& why, bool wrote)> unsaved;
    };

    FirstBackup(DeviceCommands& commands, DeviceLink& link, Options options);
    ~FirstBackup();  // removes the gate it installed
    FirstBackup(const FirstBackup&) = delete;
    FirstBackup& operator=(const FirstBackup&) = delete;

    // The write gate (DeviceCommands::SetWriteGate): saves the first backup of the device
    // at `path` unless the folder has one; an error of kind Unsaved when it cannot.
    Status BeforeFirstWrite(const std::string& path);
    // The user agreed to write into the device at `path` without a first backup.
    void Accept(const std::string& path);

    BackupIdentity IdentityOf(const std::string& path);
    // The device's oldest first backup; an error naming the file it would be when none.
    Result<std::string> FirstBackupOf(const std::string& path);

    // Installs BeforeFirstWrite as the commands' write gate, until destruction.
    void InstallGate();

  private:
    std::string ModelNameOf(const std::string& path) const;  // as the user reads it

    DeviceCommands& commands_;
    DeviceLink& link_;
    Options options_;
    bool installed_ = false;
    std::mutex mutex_;  // leaf: guards accepted_
    std::set<std::string> accepted_;
};

}  // namespace qvm
