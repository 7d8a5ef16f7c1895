#include "host/host_status.h"

#include <algorithm>

namespace qvm {

namespace {
// The main window's profile index is the low three bits of the report's profile byte.
constexpr int kWindowProfileMask = 0x07;
}  // namespace

int ProfileReloadDelayMs(int configDelayMs) {
    return std::max(configDelayMs + 50, 100);
}

void HostStatus::SetDisplayEnabled(bool enabled) {
    std::lock_guard lock(mutex_);
    displayEnabled_ = enabled;
}

void HostStatus::SetConfigDelayMs(int delayMs) {
    std::lock_guard lock(mutex_);
    configDelayMs_ = delayMs;
}

void HostStatus::SetWindowProfile(int profile) {
    std::lock_guard lock(mutex_);
    windowProfile_ = profile;
}

StatusEffects HostStatus::Apply(const StatusReport& r) {
    std::lock_guard lock(mutex_);
    StatusEffects effects;
    HostStatusSnapshot& s = status_;
    // Only the display needs stage, profile and angle-snapping changes flagged.
    const std::uint32_t shown = displayEnabled_ ? ~0u : 0u;

    if (r.value16 != s.value16) s.changeFlags |= change_flag::kValue16;
    s.value16 = r.value16;
    s.currentX = r.xValue;
    s.currentY = r.yValue;
    if (r.profile != s.profile) {
        s.profile = r.profile;
        s.changeFlags |= change_flag::kProfile & shown;
    }
    const int stage = std::clamp(r.stage, 0, vendor_report::kMaxStage);
    if (stage != s.stage) {
        s.stage = stage;
        s.changeFlags |= change_flag::kStage & shown;
        effects.stageChanged = true;
    }
    if (r.scrollChangesDpi) s.changeFlags |= change_flag::kScrollChangesDpi;
    if (displayEnabled_) effects.displayCountdown = kDisplayCountdownTicks;
    if (r.angleSnapping != s.angleSnapping) {
        s.angleSnapping = r.angleSnapping;
        s.changeFlags |= change_flag::kAngleSnapping & shown;
        effects.angleSnappingChanged = true;
    }
    const int windowProfile = r.profile & kWindowProfileMask;
    if (windowProfile_ != windowProfile) {
        windowProfile_ = windowProfile;
        effects.reloadAfterMs = ProfileReloadDelayMs(configDelayMs_);
    }
    s.xValues[s.stage] = r.xValue;
    s.yValues[s.stage] = r.yValue;
    return effects;
}

HostStatusSnapshot HostStatus::Snapshot() const {
    std::lock_guard lock(mutex_);
    return status_;
}

void HostStatus::ClearChangeFlags() {
    std::lock_guard lock(mutex_);
    status_.changeFlags = 0;
}

}  // namespace qvm
