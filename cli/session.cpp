#include "cli/session.h"

#include "device/device_path.h"
#include "platform/clock.h"
#include "platform/folders.h"
#include "sim/sim_backend.h"

namespace qvm::cli {
namespace {}  // namespace

Session::Session(Key, std::unique_ptr<HidBackend> backend, std::unique_ptr<DeviceLocks> deviceLocks,
                 std::unique_ptr<NamedMutex> listLock)
    : backend_(std::move(backend)),
      deviceLocks_(std::move(deviceLocks)),
      listLock_(std::move(listLock)),
      transport_(*backend_, SystemClock::Instance(), *deviceLocks_),
      commands_(transport_, values_, cache_),
      link_(*backend_, commands_, *listLock_, SystemClock::Instance()) {}

Result<std::unique_ptr<Session>> Session::Open(const GlobalOptions& options) {
    Result<std::unique_ptr<HidBackend>> backend = MakeError("no backend");
    if (options.backendSource) {
        backend = options.backendSource();
    } else if (options.simulate) {
        const std::string state = JoinPath(UserDataFolder(), "sim");
        if (Status made = EnsureFolder(state); !made) {
            return MakeError("cannot keep the simulated devices: " + made.message());
        }
        backend = MakeSimBackend(*options.simulate, state, options.simulatorNotes);
    } else {
        backend = MakeHidBackend(options.backend);
    }
    if (!backend) return backend.error();
    auto listLock = OpenNamedMutex(DeviceLink::kListLockName);
    if (!listLock) return listLock.error();
    return std::make_unique<Session>(Key{}, std::move(backend).value(),
                                     std::make_unique<NamedDeviceLocks>(Transport::kLockName),
                                     std::move(listLock).value());
}

Result<std::string> Session::SelectDevice(const GlobalOptions& options) {
    std::string chosen;
    if (!options.device.empty()) {
        chosen = NormaliseDevicePath(options.device);
        if (Status found = link_.IdentifyDevice(chosen); !found) {
            return MakeError(found.kind(), found.message() + " (see qvmctl list)");
        }
    } else {
        if (Status scanned = link_.EnumerateDevices(); !scanned) {
            return MakeError("cannot list the HID devices: " + scanned.message());
        }
        chosen = link_.GetDevicePath(0);
    }
    if (chosen.empty()) {
        std::string message = "no device found";
        ErrorKind kind = ErrorKind::Other;
        std::vector<UnusableDevice> seen = link_.UnusableDevices();
        for (const auto& departed : link_.DepartedDevices()) seen.push_back(departed);
        for (const auto& device : seen) {
            message += "; " + device.path + ": " + device.reason;
            // The first device that failed says what kind of failure it was.
            if (kind == ErrorKind::Other) kind = device.kind;
        }
        return MakeError(kind, message + " (see qvmctl list --all)");
    }

    if (options.generation) {
        values_.Update(chosen,
                       [&](DeviceValues& v) { v.ProtocolGeneration = *options.generation; });
    }
    if (values_.ModelCode(chosen) != kKeyboardModelCode) {
        if (Status active = link_.ActivateDevice(chosen, true); !active) return active.error();
    }
    layout_ = DecideModelLayout(values_.Get(chosen));
    return chosen;
}

Result<std::string> Session::SelectMouse(const GlobalOptions& options) {
    auto path = SelectDevice(options);
    if (!path) return path.error();
    if (values_.ModelCode(*path) == kKeyboardModelCode) {
        return MakeError(*path +
                         " is a keyboard: it has no configuration memory to show or change");
    }
    return path;
}

Result<ConfigModel*> Session::LoadConfiguration(const GlobalOptions& options) {
    auto path = SelectMouse(options);
    if (!path) return path.error();
    model_ = std::make_unique<ConfigModel>(commands_, *path);
    std::vector<int> shown(layout_.ButtonOrder.begin(),
                           layout_.ButtonOrder.begin() + layout_.ButtonCount);
    model_->SetShownButtons(shown);
    if (Status loaded = model_->LoadConfiguration(); !loaded) {
        if (loaded.kind() == ErrorKind::Uninitialised) return loaded.error();
        return MakeError(loaded.kind(), "cannot read the configuration: " + loaded.message());
    }
    return model_.get();
}

}  // namespace qvm::cli
