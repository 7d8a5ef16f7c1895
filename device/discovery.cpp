#include "device/discovery.h"

#include <algorithm>

#include "device/device_path.h"
#include "device/probe_values.h"

namespace qvm {

namespace {

constexpr uint16_t kVendorId = 0x0C45;

bool IsOurVendor(const HidDeviceInfo& info, const std::string& path) {
    return info.vendorId == kVendorId || HasTextFrom(path, kVendorText, kVendorTextMinPosition);
}

bool MatchesConfigRule(const std::string& path, const HidCaps& caps) {
    return std::any_of(kConfigInterfaces.begin(), kConfigInterfaces.end(),
                       [&](const ConfigInterfaceRule& rule) {
                           return HasTextFrom(path, rule.text, kInterfaceTextMinPosition) &&
                                  caps.featureLength == rule.featureLength &&
                                  caps.usagePage == rule.usagePage && caps.usage == rule.usage;
                       });
}

}  // namespace

DeviceLink::DeviceLink(HidBackend& backend, DeviceCommands& commands, NamedMutex& listLock,
                       Clock& clock)
    : backend_(backend),
      commands_(commands),
      keyboards_(commands.GetTransport(), commands.Values()),
      listLock_(listLock),
      clock_(clock) {}

// ---- Enumeration and identity tests ----

Status DeviceLink::EnumerateDevices() {
    auto found = backend_.Enumerate();
    if (!found) return MakeError("cannot list HID devices: " + found.message());
    {
        std::lock_guard state(stateMutex_);
        unusable_.clear();
        departed_.clear();
    }
    for (HidDeviceInfo info : *found) {
        info.path = NormaliseDevicePath(info.path);
        Remember(info);
        if (!info.openError.empty()) {
            NoteUnusable(info);
            continue;
        }
        if (IsConfigInterface(info.path)) {
            NoteFailedProbe(info.path, ProbeDevice(info.path));
        } else {
            ProbeKeyboard(info.path);
        }
    }
    return {};
}

Status DeviceLink::IdentifyDevice(const std::string& rawPath) {
    const std::string path = NormaliseDevicePath(rawPath);
    {
        std::lock_guard state(stateMutex_);
        std::erase_if(unusable_, [&](const UnusableDevice& u) { return u.path == path; });
    }
    auto found = backend_.Enumerate();
    if (!found) return MakeError("cannot list HID devices: " + found.message());
    std::optional<HidDeviceInfo> seen;
    for (HidDeviceInfo& info : *found) {
        info.path = NormaliseDevicePath(info.path);
        if (info.path == path) seen = info;
    }
    if (!seen) return MakeError(ErrorKind::DeviceGone, "no identified device at " + path);
    Remember(*seen);
    if (!seen->openError.empty()) {
        NoteUnusable(*seen);
        return MakeError("cannot use " + path + ": " + seen->openError);
    }
    if (!IsConfigInterface(path)) {
        ProbeKeyboard(path);
        if (Listed(path)) return {};
        return MakeError("no identified device at " + path);
    }
    const ProbeResult probe = ProbeDevice(path);
    if (probe.outcome == ProbeOutcome::Listed) return {};
    NoteFailedProbe(path, probe);
    return MakeError(probe.kind, probe.reason.empty() ? "no identified device at " + path
                                                      : path + ": " + probe.reason);
}

void DeviceLink::NoteFailedProbe(const std::string& path, const ProbeResult& result) {
    if (result.outcome != ProbeOutcome::Failed) return;
    std::lock_guard state(stateMutex_);
    auto samePath = [&](const UnusableDevice& u) { return u.path == path; };
    std::erase_if(unusable_, samePath);
    std::erase_if(departed_, samePath);
    // A device that left is not there to be used: it is not reported as unusable.
    auto& notes = result.kind == ErrorKind::DeviceGone ? departed_ : unusable_;
    notes.push_back({path, result.reason, result.kind});
}

std::vector<UnusableDevice> DeviceLink::DepartedDevices() const {
    std::lock_guard state(stateMutex_);
    return departed_;
}

bool DeviceLink::IsConfigInterface(const std::string& rawPath) {
    const std::string path = NormaliseDevicePath(rawPath);
    if (!HasTextFrom(path, kVendorText, kVendorTextMinPosition)) return false;
    auto handle = backend_.Open(path);
    if (!handle) return false;
    return MatchesConfigRule(path, (*handle)->Caps());
}

bool DeviceLink::IsKeyboard(const std::string& rawPath) {
    const std::string path = NormaliseDevicePath(rawPath);
    {
        auto handle = backend_.Open(path);
        if (!handle) return false;
        const HidCaps& caps = (*handle)->Caps();
        if (caps.usagePage != kKeyboardUsagePage || caps.usage != kKeyboardUsage ||
            caps.outputLength != kKeyboardOutputLength) {
            return false;
        }
    }
    const auto info = Describe(path);
    return info && IsKeyboardSerial(info->serial);
}

// ---- The list ----

void DeviceLink::Append(const std::string& path) {
    std::lock_guard list(listLock_);
    AppendLocked(path);
}

void DeviceLink::AppendLocked(const std::string& path) {
    if (!ListedLocked(path)) list_.push_back(path);
}

bool DeviceLink::ListedLocked(const std::string& path) const {
    return std::find(list_.begin(), list_.end(), path) != list_.end();
}

bool DeviceLink::Listed(const std::string& path) const {
    std::lock_guard list(listLock_);
    return ListedLocked(path);
}

std::string DeviceLink::GetDevicePath(int index) const {
    std::lock_guard list(listLock_);
    if (index < 0 || static_cast<std::size_t>(index) >= list_.size()) return {};
    return list_[static_cast<std::size_t>(index)];
}

std::vector<std::string> DeviceLink::DeviceList() const {
    std::lock_guard list(listLock_);
    return list_;
}

void DeviceLink::RemoveDevice(const std::string& rawPath) {
    const std::string path = NormaliseDevicePath(rawPath);
    std::lock_guard list(listLock_);
    std::erase(list_, path);
}

std::vector<UnusableDevice> DeviceLink::UnusableDevices() const {
    std::lock_guard state(stateMutex_);
    return unusable_;
}

bool DeviceLink::SameContainer(const std::string& a, const std::string& b) const {
    const std::string idA = commands_.Values().Get(NormaliseDevicePath(a)).ContainerId;
    const std::string idB = commands_.Values().Get(NormaliseDevicePath(b)).ContainerId;
    return !idA.empty() && !idB.empty() && idA == idB;
}

std::string DeviceLink::ActiveDevice() const {
    std::lock_guard state(stateMutex_);
    return active_;
}

void DeviceLink::RequestDevice(const std::string& path) {
    std::lock_guard state(stateMutex_);
    requested_ = NormaliseDevicePath(path);
}

std::string DeviceLink::RequestedDevice() const {
    std::lock_guard state(stateMutex_);
    return requested_;
}

// ---- Interface descriptions ----

void DeviceLink::Remember(const HidDeviceInfo& info) {
    if (!info.container.empty()) {
        commands_.Values().Update(info.path,
                                  [&](DeviceValues& v) { v.ContainerId = info.container; });
    }
    std::lock_guard state(stateMutex_);
    described_[info.path] = info;
}

std::optional<HidDeviceInfo> DeviceLink::Describe(const std::string& path) {
    {
        std::lock_guard state(stateMutex_);
        auto it = described_.find(path);
        if (it != described_.end()) return it->second;
    }
    // A path never enumerated nor announced: ask the backend once.
    auto found = backend_.Enumerate();
    if (!found) return std::nullopt;
    for (HidDeviceInfo& info : *found) {
        info.path = NormaliseDevicePath(info.path);
        if (info.path == path) {
            Remember(info);
            return info;
        }
    }
    return std::nullopt;
}

void DeviceLink::NoteUnusable(const HidDeviceInfo& info) {
    if (!IsOurVendor(info, info.path)) return;
    std::lock_guard state(stateMutex_);
    std::erase_if(unusable_, [&](const UnusableDevice& u) { return u.path == info.path; });
    unusable_.push_back({info.path, info.openError});
}

// ---- Hot-plug ----

DeviceEvents DeviceLink::HandleEvents() {
    DeviceEvents out;
    for (const HidEvent& event : backend_.TakeEvents()) {
        HidDeviceInfo info = event.info;
        info.path = NormaliseDevicePath(info.path);
        const std::string& path = info.path;
        if (event.kind == HidEventKind::Removed) {
            // Whatever is still under way with it ends at its next exchange.
            commands_.GetTransport().MarkGone(path);
            bool wasListed = false;
            bool wasActive = false;
            {
                std::lock_guard list(listLock_);
                wasListed = std::erase(list_, path) > 0;
                std::lock_guard state(stateMutex_);
                wasListed |= std::erase_if(unusable_, [&](const UnusableDevice& u) {
                                 return u.path == path;
                             }) > 0;
                if (!active_.empty() && active_ == path) {
                    active_.clear();
                    wasActive = true;
                }
            }
            if (wasListed || wasActive) out.removed.push_back(path);
            if (wasActive) {
                out.activeRemoved = true;
                out.refreshDelayMs = kRemovalRefreshDelayMs;
            }
            continue;
        }
        Remember(info);
        if (!info.openError.empty()) {
            NoteUnusable(info);
            if (IsOurVendor(info, path)) out.unusable.push_back(path);
            continue;
        }
        {
            std::lock_guard state(stateMutex_);
            std::erase_if(unusable_, [&](const UnusableDevice& u) { return u.path == path; });
        }
        if (!IsConfigInterface(path) && !IsKeyboard(path)) continue;
        clock_.SleepMs(kArrivalSettleMs);
        const ProbeResult probe = ProbeDevice(path);
        if (probe.outcome == ProbeOutcome::Listed) {
            out.listed.push_back(path);
        } else if (probe.outcome == ProbeOutcome::Failed && probe.kind != ErrorKind::DeviceGone) {
            // One that left again meanwhile announces its removal next.
            NoteFailedProbe(path, probe);
            out.unusable.push_back(path);
        }
        out.refreshDelayMs = kArrivalRefreshDelayMs;
    }
    return out;
}

}  // namespace qvm
