// DeviceLink's activation and refresh run.
#include <algorithm>

#include "device/command_table.h"
#include "device/device_path.h"
#include "device/discovery.h"

namespace qvm {

namespace {

// How each command class shows its host mode in the status reply, and the pacing of
// the read-back.
struct HostModeReadBack {
    GenerationClass cls;
    std::size_t modeByte;  // status reply byte holding the host mode
    int replyWaitMs;       // status reply read after this long
    int betweenMs;         // pause between setting the mode and asking for it
    int retryMs;           // pause after an attempt that did not confirm
};
constexpr HostModeReadBack kReadBacks[] = {
    {GenerationClass::Short, 7, 15, 2, 2},
    {GenerationClass::Long, 6, 5, 0, 0},
    {GenerationClass::Extended, 12, 5, 0, 0},
};

const HostModeReadBack& ReadBackOf(GenerationClass cls) {
    for (const HostModeReadBack& r : kReadBacks) {
        if (r.cls == cls) return r;
    }
    return kReadBacks[0];
}

// Clears the busy flag when the run ends, however it ends.
class BusyFlag {
  public:
    explicit BusyFlag(std::atomic<bool>& flag) : flag_(flag) {}
    ~BusyFlag() { flag_.store(false); }
    BusyFlag(const BusyFlag&) = delete;
    BusyFlag& operator=(const BusyFlag&) = delete;

  private:
    std::atomic<bool>& flag_;
};

}  // namespace

Status DeviceLink::ConfirmHostMode(const std::string& path, uint8_t mode) {
    const HostModeReadBack& rb = ReadBackOf(ClassOfGeneration(commands_.Values().Generation(path)));
    for (int attempt = 0; attempt < kActivationAttempts; ++attempt) {
        commands_.SetHostMode(path, mode);
        if (auto failed = ExchangeFailed(path)) return failed->ToError();
        if (rb.betweenMs > 0) clock_.SleepMs(rb.betweenMs);
        const Frame status = commands_.QueryStatus(path, rb.replyWaitMs);
        if (auto failed = ExchangeFailed(path)) return failed->ToError();
        if (status[rb.modeByte] == mode) return {};
        if (rb.retryMs > 0) clock_.SleepMs(rb.retryMs);
    }
    // Every exchange completed, yet the mode never showed: replies that cannot be
    // right say why, else the device simply did not take the mode.
    return commands_
        .FailureOr(path, "the device did not confirm host mode " + std::to_string(mode) + " in " +
                             std::to_string(kActivationAttempts) + " attempts")
        .ToError();
}

Status DeviceLink::ActivateDevice(const std::string& rawPath, bool useCache) {
    const std::string path = NormaliseDevicePath(rawPath);
    commands_.Cache().Activate(path, useCache);

    // The list is copied under its lock and the devices are asked without it, so a
    // device slow to answer holds up no other thread or process that needs the list.
    const std::vector<std::string> listed = DeviceList();
    if (std::find(listed.begin(), listed.end(), path) == listed.end()) {
        return MakeError("cannot activate " + path + ": it is not a listed device");
    }
    Status chosen;
    for (const std::string& device : listed) {
        // The keyboards have no host mode: they are reached through their report pipe.
        if (commands_.Values().ModelCode(device) == kKeyboardModelCode) continue;
        const uint8_t mode = device == path ? kSelectedHostMode : kIdleHostMode;
        Status confirmed = ConfirmHostMode(device, mode);
        // A device that left is no longer a device to work on.
        if (confirmed.kind() == ErrorKind::DeviceGone) RemoveDevice(device);
        if (device == path) chosen = std::move(confirmed);
    }
    return chosen;
}

RefreshResult DeviceLink::Refresh(const RefreshHooks& hooks) {
    RefreshResult out;
    if (refreshing_.exchange(true)) return out;
    BusyFlag busy(refreshing_);
    out.ran = true;

    if (!enumerated_.exchange(true)) {
        out.enumerated = true;
        out.enumeration = EnumerateDevices();
    } else {
        // A device asked for by the network service wins while it is still listed.
        const std::string requested = RequestedDevice();
        if (!requested.empty() && Listed(requested)) out.candidate = requested;
    }
    if (out.candidate.empty()) out.candidate = GetDevicePath(0);

    if (!out.candidate.empty()) {
        if (commands_.Values().ModelCode(out.candidate) != kKeyboardModelCode) {
            out.activation = ActivateDevice(out.candidate, true);
        }
        if (hooks.decideLayout) hooks.decideLayout(out.candidate);
        // The candidate may have left while it was activated; a removal already handled
        // must not be undone by making the departed path active again.
        std::lock_guard list(listLock_);
        std::lock_guard state(stateMutex_);
        if (ListedLocked(out.candidate)) active_ = out.candidate;
        requested_.clear();
    }
    out.active = ActiveDevice();
    if (hooks.loadConfiguration) hooks.loadConfiguration(out.active);
    return out;
}

}  // namespace qvm
