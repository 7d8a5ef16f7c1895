#include "session/hid_factory.h"

#include "platform/exec_backend.h"
#include "platform/folders.h"
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

namespace {

Result<std::unique_ptr<HidBackend>> OpenUntraced(const BackendChoice& choice, Clock& clock) {
    if (!choice.simulate)
        return MakeHidBackend(choice.hidBackend.empty() ? "linux" : choice.hidBackend);
    const std::string data =
        choice.userDataFolder.empty() ? UserDataFolder() : choice.userDataFolder;
    const std::string state = JoinPath(data, "sim");
    if (Status made = EnsureFolder(state); !made) {
        return MakeError(made.kind(), "cannot keep the simulated devices: " + made.message());
    }
    auto made = SimBackend::Create(*choice.simulate, state, clock, choice.simulatorNotes);
    if (!made) return made.error();
    return std::unique_ptr<HidBackend>(std::move(made).value());
}

}  // namespace

Result<std::unique_ptr<HidBackend>> OpenBackend(const BackendChoice& choice, Clock& clock) {
    auto backend = OpenUntraced(choice, clock);
    if (!backend) return backend.error();
    return TraceBackend(std::move(backend).value(), choice.trace);
}

}  // namespace qvm
