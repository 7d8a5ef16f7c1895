#include "platform/exec_backend.h"
#include "platform/hid.h"
#include "sim/sim_backend.h"
#ifdef QVM_HAVE_LINUX_HID
#include "platform/linux/linux_hid.h"
#endif

namespace qvm {

Result<std::unique_ptr<HidBackend>> MakeHidBackend(const std::string& spec) {
    if (spec == "linux") {
#ifdef QVM_HAVE_LINUX_HID
        return MakeLinuxBackend();
#else
        return MakeError("this build has no Linux HID backend (built without libudev/libusb)");
#endif
    }
    if (spec == "sim") return MakeSimBackend("", "");
    if (spec.rfind("sim:", 0) == 0) return MakeSimBackend(spec.substr(4), "");
    if (spec.rfind("exec:", 0) == 0) {
        if (spec.size() == 5) return MakeError("the exec backend needs a command: exec:COMMAND");
        return MakeExecBackend(spec.substr(5));
    }
    return MakeError("unknown HID backend '" + spec +
                     "': use linux, sim, sim:DEVICES or exec:COMMAND");
}

}  // namespace qvm
