#include "config/deferred_writes.h"

#include <vector>

#include "config/config_image.h"

namespace qvm {

DeferredWrites::DeferredWrites(ConfigModel& model, Clock& clock) : model_(model), clock_(clock) {}

Status DeferredWrites::ChangeDpiStage(int stage, int x, int y) {
    if (stage < 0) return MakeError("a DPI stage index cannot be negative");
    if (stage > kMaxStageIndex) stage = kMaxStageIndex;
    for (int value : {x, y}) {
        if (Status ok = model_.ValidateDpiValue(value); !ok) return ok;
    }
    std::lock_guard lock(m_);
    model_.Edit([&](ConfigImage& image) {
        image.dpiStages[static_cast<std::size_t>(stage)] = {static_cast<uint8_t>(x),
                                                            static_cast<uint8_t>(y)};
    });
    dirtyStages_[static_cast<std::size_t>(stage)] = true;
    dpiDue_ = clock_.Now() + kDpiDelay;
    return {};
}

Status DeferredWrites::ChangeReportRate(int code) {
    if (code < 0 || code > kMaxRateCode) {
        return MakeError("report-rate code " + std::to_string(code) + " is outside 0 to 7");
    }
    std::lock_guard lock(m_);
    model_.Edit([&](ConfigImage& image) { image.reportRateCode = code; });
    rate_ = code;
    rateDue_ = clock_.Now() + kReportRateDelay;
    return {};
}

Status DeferredWrites::ChangeAngleSnapping(bool on) {
    std::lock_guard lock(m_);
    model_.Edit([&](ConfigImage& image) { image.angleSnapping = on; });
    snapping_ = on;
    snappingDue_ = clock_.Now() + kSnappingDelay;
    return {};
}

std::optional<Clock::TimePoint> DeferredWrites::NextDue() const {
    std::lock_guard lock(m_);
    std::optional<Clock::TimePoint> next;
    for (const auto& due : {dpiDue_, rateDue_, snappingDue_}) {
        if (due && (!next || *due < *next)) next = due;
    }
    return next;
}

bool DeferredWrites::Pending() const {
    return NextDue().has_value();
}

bool DeferredWrites::IsDue(const std::optional<Clock::TimePoint>& due, Scope scope) const {
    return due && (scope == Scope::Everything || *due <= clock_.Now());
}

Status DeferredWrites::Flush(Scope scope) {
    std::lock_guard lock(m_);
    Status result;
    auto keep = [&](Status s) {
        if (!s && result) result = std::move(s);
    };
    if (IsDue(dpiDue_, scope)) {
        std::vector<int> stages;
        for (int k = 0; k < kDpiStageCount; ++k) {
            if (dirtyStages_[static_cast<std::size_t>(k)]) stages.push_back(k);
        }
        Status s = model_.WriteDpiStages(stages);
        if (s) {
            dirtyStages_ = {};
            dpiDue_.reset();
        }
        keep(std::move(s));
    }
    if (IsDue(rateDue_, scope)) {
        Status s = model_.SetReportRate(*rate_);
        if (s) {
            rate_.reset();
            rateDue_.reset();
        }
        keep(std::move(s));
    }
    if (IsDue(snappingDue_, scope)) {
        Status s = model_.SetAngleSnapping(*snapping_);
        if (s) {
            snapping_.reset();
            snappingDue_.reset();
        }
        keep(std::move(s));
    }
    return result;
}

void DeferredWrites::Cancel() {
    std::lock_guard lock(m_);
    dirtyStages_ = {};
    dpiDue_.reset();
    rate_.reset();
    rateDue_.reset();
    snapping_.reset();
    snappingDue_.reset();
}

}  // namespace qvm
