// Session: the device link qvmctl works through for one run: the HID backend, the
// locks shared with the desktop program, the transport, the command set, discovery and,
// for configuration commands, the configuration image of the chosen device.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "config/config_image.h"
#include "config/first_backup.h"
#include "device/device_stack.h"
#include "device/model_table.h"
#include "platform/hid.h"
#include "platform/hid_trace.h"
#include "sim/sim_state_store.h"

namespace qvm::cli {

// Options that come before the command.
struct GlobalOptions {
    std::string backend;                  // --hid, else $QVM_HID, else "linux"
    std::optional<std::string> simulate;  // --simulate[=DEVICES]
    // --device: a device path, the number `qvmctl list` prints (from 1) or a model name
    std::string device;
    std::optional<int> generation;  // --generation G
    // Where each session gets its backend instead, when set: a program that runs qvmctl
    // in-process on devices of its own (the tests).
    std::function<Result<std::unique_ptr<HidBackend>>()> backendSource;
    // Told what becomes of the simulated devices' state files (--simulate): a damaged
    // file set aside, a write that could not be kept.
    SimStateReporter simulatorNotes;
    // Where every exchange with the devices is written (--trace, QVM_TRACE); null: nowhere.
    std::shared_ptr<TraceLog> trace;
    // Before the first write into a mouse this computer never saved, its memory is saved
    // to <user data>/backups; told the file, or why none could be saved and whether the
    // write went on. Without acceptUnsaved (--accept-unsaved) a mouse whose memory
    // cannot be saved is not written.
    decltype(FirstBackup::Options::saved) firstBackupSaved;
    decltype(FirstBackup::Options::unsaved) firstBackupMissing;
    bool acceptUnsaved = false;
};

class Session {
  public:
    // Opens the backend the options name, the device-list lock and the devices' locks.
    static Result<std::unique_ptr<Session>> Open(const GlobalOptions& options);

    HidBackend& Backend() { return stack_->Backend(); }
    DeviceCommands& Commands() { return stack_->Commands(); }
    DeviceValueTable& Values() { return stack_->Values(); }
    DeviceLink& Link() { return stack_->Link(); }
    KeyboardCommands& Keyboards() { return stack_->Keyboards(); }

    // Chooses the device to work on: with --device PATH only that device is identified
    // (no other device is asked anything); with --device N or MODEL the machine is
    // scanned and the Nth identified device, or the one of that model name (any case),
    // is taken; else the machine is scanned and the first identified device is taken. A mouse is
    // switched to host mode. --generation, when given, overrides the protocol generation the device
    // reported. A device that failed gives its failure's kind (gone, busy, silent, garbled).
    Result<std::string> SelectDevice(const GlobalOptions& options);

    // The path of the device --device names by number or model name, from the scan the
    // caller made (EnumerateDevices); an error of kind BadInput when no device or several
    // fit. The option itself when it is a path; empty without --device.
    Result<std::string> ChosenFromList(const GlobalOptions& options);

    // SelectDevice, refusing a keyboard (it has no configuration memory) as a wrong
    // argument (BadInput).
    Result<std::string> SelectMouse(const GlobalOptions& options);
    // SelectMouse, then loads the configuration image of the chosen mouse. The load only
    // reads; on failure the error keeps its kind (Uninitialised for a device whose memory
    // holds no configuration) and Model() still gives the chosen mouse's model.
    Result<ConfigModel*> LoadConfiguration(const GlobalOptions& options);
    // The same for a mouse SelectDevice has chosen already.
    Result<ConfigModel*> LoadConfigurationOf(const std::string& path);
    ConfigModel* Model() { return model_.get(); }
    const ModelLayout& Layout() const { return layout_; }
    // The first-contact backups of this session's devices.
    FirstBackup& FirstBackups() { return *firstBackup_; }

    // Use Open(); the key keeps construction to it.
    struct Key {
        explicit Key() = default;
    };
    Session(Key, std::unique_ptr<DeviceStack> stack, const GlobalOptions& options);

  private:
    std::unique_ptr<DeviceStack> stack_;
    std::unique_ptr<FirstBackup> firstBackup_;  // after stack_: its gate goes first
    ModelLayout layout_;
    std::unique_ptr<ConfigModel> model_;
};

}  // namespace qvm::cli
