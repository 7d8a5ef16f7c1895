// The Linux backend: hidraw nodes found through udev, strings through libusb.
#pragma once

#include <memory>

#include "platform/hid.h"

namespace qvm {

Result<std::unique_ptr<HidBackend>> MakeLinuxBackend();

}  // namespace qvm
