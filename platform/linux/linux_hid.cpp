// Placeholder until the hidraw backend lands.
#include "platform/linux/linux_hid.h"

namespace qvm {
Result<std::unique_ptr<HidBackend>> MakeLinuxBackend() {
    return MakeError("the Linux HID backend is not built yet");
}
}  // namespace qvm
