// One device stack over a HID backend: the locks, the transport, the per-device values,
// the memory cache, the mice's and the keyboards' command sets and the device link, built in that
// order. The desktop program, qvmctl, the benchmarks and the test rigs all talk to devices through
// one of these.
#pragma once

#include <memory>

#include "base/result.h"
#include "device/commands.h"
#include "device/discovery.h"
#include "device/keyboard_commands.h"
#include "platform/clock.h"
#include "platform/hid.h"
#include "platform/named_mutex.h"

namespace qvm {

class DeviceStack {
  public:
    // The per-device locks and the device-list lock the stack exchanges under.
    struct Locks {
        std::unique_ptr<DeviceLocks> devices;
        std::unique_ptr<NamedMutex> list;
    };
    // The named locks every program of this system on the machine shares, so that the
    // desktop program and qvmctl never interleave on one device.
    static Result<Locks> SharedLocks();
    // Locks of this process alone: benchmarks and test rigs that own their devices.
    static Locks LocalLocks();

    // Opens the stack over `backend` under the shared locks.
    static Result<std::unique_ptr<DeviceStack>> Open(std::unique_ptr<HidBackend> backend,
                                                     Clock& clock);

    DeviceStack(std::unique_ptr<HidBackend> backend, Clock& clock, Locks locks);
    DeviceStack(const DeviceStack&) = delete;
    DeviceStack& operator=(const DeviceStack&) = delete;

    HidBackend& Backend() { return *backend_; }
    Clock& GetClock() { return transport_.GetClock(); }
    Transport& GetTransport() { return transport_; }
    DeviceValueTable& Values() { return values_; }
    MemoryCache& Cache() { return cache_; }
    DeviceCommands& Commands() { return commands_; }
    KeyboardCommands& Keyboards() { return keyboards_; }
    DeviceLink& Link() { return link_; }

  private:
    // Declared in the order they are built; each refers only to the ones above it.
    std::unique_ptr<HidBackend> backend_;
    Locks locks_;
    Transport transport_;
    DeviceValueTable values_;
    MemoryCache cache_;
    DeviceCommands commands_;
    KeyboardCommands keyboards_;
    DeviceLink link_;
};

}  // namespace qvm
