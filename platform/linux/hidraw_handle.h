// An open hidraw node: feature reports through ioctls, output and input reports through
// write and read, indexed strings from the USB device behind the node.
#pragma once

#include <memory>
#include <optional>

#include "base/unique_fd.h"
#include "platform/hid.h"
#include "platform/linux/hid_path.h"
#include "platform/linux/report_descriptor.h"
#include "platform/linux/usb_strings.h"

namespace qvm {

// `fd` is the node opened non-blocking. `usbDevice` is absent when the node is not on USB;
// its indexed strings are then unavailable.
std::unique_ptr<HidHandle> MakeHidrawHandle(UniqueFd fd, const ReportDescriptorInfo& descriptor,
                                            std::shared_ptr<UsbSession> usb,
                                            std::optional<UsbLocation> usbDevice);

}  // namespace qvm
