// Session: the device link qvmctl works through for one run: the HID backend, the
// transport lock shared with the desktop program, the transport and the command set.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "device/commands.h"
#include "platform/hid.h"
#include "platform/named_mutex.h"

namespace qvm::cli {

// Options that come before the command.
struct GlobalOptions {
    std::string backend;                  // --hid, else $QVM_HID, else "linux"
    std::optional<std::string> simulate;  // --simulate[=DEVICES]
    std::string device;                   // --device PATH
    std::optional<int> generation;        // --generation G
};

class Session {
  public:
    // Opens the backend the options name and the transport lock.
    static Result<std::unique_ptr<Session>> Open(const GlobalOptions& options);

    HidBackend& Backend() { return *backend_; }
    DeviceCommands& Commands() { return commands_; }
    DeviceValueTable& Values() { return values_; }

    // Chooses the configuration interface to work on: --device when given, else the
    // first configuration interface found. Records its protocol generation: the one
    // given with --generation, else what the device's identification string says.
    Result<std::string> SelectDevice(const GlobalOptions& options);

    // Use Open(); the key keeps construction to it.
    struct Key {
        explicit Key() = default;
    };
    Session(Key, std::unique_ptr<HidBackend> backend, std::unique_ptr<NamedMutex> lock);

  private:
    std::unique_ptr<HidBackend> backend_;
    std::unique_ptr<NamedMutex> lock_;
    Transport transport_;
    DeviceValueTable values_;
    MemoryCache cache_;
    DeviceCommands commands_;
};

// True when the interface is one of the three configuration interfaces: vendor 0c45,
// and interface 0 with 9-byte feature reports on the mouse usage, or interface 1 or 2
// with 64-byte feature reports on the vendor page 0xFF18.
bool IsConfigInterfaceInfo(const HidDeviceInfo& info);

}  // namespace qvm::cli
