#include "cli/session.h"

#include <algorithm>
#include <cctype>

#include "device/device_path.h"
#include "platform/clock.h"
#include "session/hid_factory.h"

namespace qvm::cli {
namespace {

// A --device value is a path when it has the path's separator.
bool IsDevicePath(const std::string& device) {
    return device.find('#') != std::string::npos || device.find('/') != std::string::npos;
}

bool AllDigits(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(),
                                        [](unsigned char ch) { return std::isdigit(ch) != 0; });
}

bool SameName(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](unsigned char x, unsigned char y) {
        return std::tolower(x) == std::tolower(y);
    });
}

}  // namespace

Session::Session(Key, std::unique_ptr<DeviceStack> stack, const GlobalOptions& options)
    : stack_(std::move(stack)) {
    FirstBackup::Options backups;
    backups.folder = FirstBackupsFolder();
    backups.acceptUnsaved = options.acceptUnsaved;
    backups.saved = options.firstBackupSaved;
    backups.unsaved = options.firstBackupMissing;
    firstBackup_ = std::make_unique<FirstBackup>(stack_->Commands(), stack_->Link(), backups);
    firstBackup_->InstallGate();
}

Result<std::unique_ptr<Session>> Session::Open(const GlobalOptions& options) {
    Clock& clock = SystemClock::Instance();
    auto backend = options.backendSource
                       ? options.backendSource()
                       : OpenBackend(BackendChoice{options.simulate, options.backend, "",
                                                   options.simulatorNotes, options.trace},
                                     clock);
    if (!backend) return backend.error();
    // A backend of the caller's is traced here; OpenBackend traces its own.
    auto stack = DeviceStack::Open(options.backendSource
                                       ? TraceBackend(std::move(backend).value(), options.trace)
                                       : std::move(backend).value(),
                                   clock);
    if (!stack) return stack.error();
    return std::make_unique<Session>(Key{}, std::move(stack).value(), options);
}

Result<std::string> Session::SelectDevice(const GlobalOptions& options) {
    std::string chosen;
    if (!options.device.empty() && !IsDevicePath(options.device)) {
        if (Status scanned = stack_->Link().EnumerateDevices(); !scanned) {
            return MakeError("cannot list the HID devices: " + scanned.message());
        }
        auto listed = ChosenFromList(options);
        if (!listed) return listed.error();
        chosen = *listed;
    } else if (!options.device.empty()) {
        chosen = NormaliseDevicePath(options.device);
        if (Status found = stack_->Link().IdentifyDevice(chosen); !found) {
            return MakeError(found.kind(), found.message() + " (see qvmctl list)");
        }
    } else {
        if (Status scanned = stack_->Link().EnumerateDevices(); !scanned) {
            return MakeError("cannot list the HID devices: " + scanned.message());
        }
        chosen = stack_->Link().GetDevicePath(0);
    }
    if (chosen.empty()) {
        std::string message = "no device found";
        ErrorKind kind = ErrorKind::Other;
        std::vector<UnusableDevice> seen = stack_->Link().UnusableDevices();
        for (const auto& departed : stack_->Link().DepartedDevices()) seen.push_back(departed);
        for (const auto& device : seen) {
            message += "; " + device.path + ": " + device.reason;
            // The first device that failed says what kind of failure it was.
            if (kind == ErrorKind::Other) kind = device.kind;
        }
        return MakeError(kind, message + " (see qvmctl list --all)");
    }

    if (options.generation) {
        stack_->Values().Update(
            chosen, [&](DeviceValues& v) { v.ProtocolGeneration = *options.generation; });
    }
    if (stack_->Values().ModelCode(chosen) != kKeyboardModelCode) {
        if (Status active = stack_->Link().ActivateDevice(chosen, true); !active)
            return active.error();
    }
    layout_ = DecideModelLayout(stack_->Values().Get(chosen));
    return chosen;
}

Result<std::string> Session::ChosenFromList(const GlobalOptions& options) {
    const std::string& wanted = options.device;
    if (wanted.empty()) return std::string();
    if (IsDevicePath(wanted)) return NormaliseDevicePath(wanted);
    const std::vector<std::string> listed = stack_->Link().DeviceList();
    if (AllDigits(wanted)) {
        const std::size_t n = wanted.size() > 4 ? 0 : std::stoul(wanted);
        if (n < 1 || n > listed.size()) {
            return MakeError(ErrorKind::BadInput,
                             listed.empty()
                                 ? "device " + wanted + ": no device found"
                                 : "device " + wanted + " is out of range: allowed 1.." +
                                       std::to_string(listed.size()) + " (see qvmctl list)");
        }
        return listed[n - 1];
    }
    std::vector<std::size_t> named;
    for (std::size_t i = 0; i < listed.size(); ++i) {
        if (SameName(GetModelName(stack_->Values().Get(listed[i])), wanted)) named.push_back(i);
    }
    if (named.size() == 1) return listed[named.front()];
    std::string message = named.empty() ? "no device is called '" + wanted + "'"
                                        : "several devices are called '" + wanted +
                                              "': give the number qvmctl list prints";
    return MakeError(ErrorKind::BadInput, message + " (see qvmctl list)");
}

Result<std::string> Session::SelectMouse(const GlobalOptions& options) {
    auto path = SelectDevice(options);
    if (!path) return path.error();
    if (stack_->Values().ModelCode(*path) == kKeyboardModelCode) {
        return MakeError(
            ErrorKind::BadInput,
            *path + " is a keyboard: it has no configuration memory to show or change");
    }
    return path;
}

Result<ConfigModel*> Session::LoadConfiguration(const GlobalOptions& options) {
    auto path = SelectMouse(options);
    if (!path) return path.error();
    return LoadConfigurationOf(*path);
}

Result<ConfigModel*> Session::LoadConfigurationOf(const std::string& path) {
    model_ = std::make_unique<ConfigModel>(stack_->Commands(), path);
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
