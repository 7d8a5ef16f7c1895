#include "cli/session.h"

#include "platform/clock.h"
#include "platform/folders.h"
#include "sim/sim_backend.h"

namespace qvm::cli {
namespace {}  // namespace

Session::Session(Key, std::unique_ptr<HidBackend> backend,
                 std::unique_ptr<NamedMutex> transportLock, std::unique_ptr<NamedMutex> listLock)
    : backend_(std::move(backend)),
      transportLock_(std::move(transportLock)),
      listLock_(std::move(listLock)),
      transport_(*backend_, SystemClock::Instance(), *transportLock_),
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
    auto transportLock = OpenNamedMutex(Transport::kLockName);
    if (!transportLock) return transportLock.error();
    auto listLock = OpenNamedMutex(DeviceLink::kListLockName);
    if (!listLock) return listLock.error();
    return std::make_unique<Session>(Key{}, std::move(backend).value(),
                                     std::move(transportLock).value(), std::move(listLock).value());
}

Result<std::string> Session::SelectDevice(const GlobalOptions& options) {
    if (Status scanned = link_.EnumerateDevices(); !scanned) {
        return MakeError("cannot list the HID devices: " + scanned.message());
    }
    const std::vector<std::string> listed = link_.DeviceList();
    std::string chosen;
    if (!options.device.empty()) {
        for (const auto& path : listed) {
            if (path == options.device) chosen = path;
        }
        if (chosen.empty()) {
            for (const auto& unusable : link_.UnusableDevices()) {
                if (unusable.path == options.device) {
                    return MakeError("cannot use " + unusable.path + ": " + unusable.reason);
                }
            }
            return MakeError("no identified device at " + options.device + " (see qvmctl list)");
        }
    } else if (!listed.empty()) {
        chosen = listed.front();
    } else {
        std::string message = "no device found";
        for (const auto& unusable : link_.UnusableDevices()) {
            message += "; " + unusable.path + ": " + unusable.reason;
        }
        return MakeError(message + " (see qvmctl list --all)");
    }

    if (options.generation) {
        values_.Update(chosen,
                       [&](DeviceValues& v) { v.ProtocolGeneration = *options.generation; });
    }
    if (values_.ModelCode(chosen) != kKeyboardModelCode) {
        if (Status active = link_.ActivateDevice(chosen, true); !active) {
            return MakeError("the device did not switch to host mode: " + active.message());
        }
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
