// A simulated device as a whole USB device: through gadgetfs on a USB device controller
// (dummy_hcd in the test VM), the kernel's own USB host stack enumerates it, usbhid binds
// its interfaces and hidraw nodes appear, and its string descriptors (the indexed
// identification strings among them) are read through usbfs as on the hardware.
//
// gadgetfs serves one device at a time. One thread answers the control pipe; one per
// interface with input reports writes them to its interrupt endpoint once the host has
// configured the device. Destroying the object disconnects the device and ends them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/result.h"
#include "sim/sim_device.h"

namespace qvm {

// The USB descriptors of `device`: the device descriptor, and the configuration
// descriptor (interfaces, HID descriptors, interrupt IN endpoints) for full or high speed.
std::vector<uint8_t> GadgetDeviceDescriptor(const SimDevice& device);
std::vector<uint8_t> GadgetConfigDescriptor(const SimDevice& device, bool highSpeed);
// The interrupt IN endpoint address of each interface, in interface order.
uint8_t GadgetEndpointAddress(size_t interfaceIndex);

class SimGadget;

class SimGadgetDevice {
  public:
    // `gadgetFolder` is where gadgetfs is mounted ("/dev/gadget"). `device` must outlive
    // the result.
    static Result<std::unique_ptr<SimGadgetDevice>> Create(SimDevice& device,
                                                           const std::string& gadgetFolder);
    explicit SimGadgetDevice(std::unique_ptr<SimGadget> gadget);
    ~SimGadgetDevice();
    SimGadgetDevice(const SimGadgetDevice&) = delete;
    SimGadgetDevice& operator=(const SimGadgetDevice&) = delete;

  private:
    std::unique_ptr<SimGadget> gadget_;
};

}  // namespace qvm
