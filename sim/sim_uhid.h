// A simulated device behind real kernel HID devices: each of its interfaces becomes a
// uhid device, so the kernel's HID core and hidraw carry the host's feature, output and
// input reports to the simulator's firmware, as they would to the hardware.
//
// What uhid cannot carry is not invented: the USB strings read through the device's
// control pipe (the indexed strings) are unavailable, as on any device not on USB. The
// interface number travels in the physical path ("qvm-uhid-X/inputN"), as the HID core
// names USB interfaces; the device's serial and product are the HID device's unique ID
// and name.
//
// Threads: one per interface answers the kernel's requests; one per interface with
// input reports forwards the firmware's reports. Both end when the object is destroyed,
// which removes the kernel devices.
#pragma once

#include <memory>
#include <vector>

#include "base/result.h"
#include "sim/sim_device.h"

namespace qvm {

class SimUhidInterface;

class SimUhidDevice {
  public:
    // Creates the kernel devices of every interface of `device`, which must outlive the
    // result. Fails (kind Io) when /dev/uhid cannot be used.
    static Result<std::unique_ptr<SimUhidDevice>> Create(SimDevice& device);
    explicit SimUhidDevice(std::vector<std::unique_ptr<SimUhidInterface>> interfaces);
    ~SimUhidDevice();
    SimUhidDevice(const SimUhidDevice&) = delete;
    SimUhidDevice& operator=(const SimUhidDevice&) = delete;

  private:
    std::vector<std::unique_ptr<SimUhidInterface>> interfaces_;
};

}  // namespace qvm
