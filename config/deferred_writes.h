// Slider-driven settings are written lazily: a DPI value 200 ms after its last change,
// the report rate and angle snapping 1000 ms after theirs. DeferredWrites keeps what is
// pending and when it is due; it owns no thread. Whoever drives it (a window timer, or
// qvmctl before it exits) asks NextDue() and calls Flush() then.
#pragma once

#include <array>
#include <chrono>
#include <mutex>
#include <optional>

#include "base/result.h"
#include "config/image_layout.h"
#include "platform/clock.h"

namespace qvm {

class ConfigModel;

class DeferredWrites {
  public:
    static constexpr std::chrono::milliseconds kDpiDelay{200};
    static constexpr std::chrono::milliseconds kReportRateDelay{1000};
    static constexpr std::chrono::milliseconds kSnappingDelay{1000};

    DeferredWrites(ConfigModel& model, Clock& clock);

    // Each change is checked, shown in the model at once and written when due. A new
    // change restarts its own delay.
    Status ChangeDpiStage(int stage, int x, int y);
    Status ChangeReportRate(int code);
    Status ChangeAngleSnapping(bool on);

    // The earliest time something is due; nullopt when nothing is pending.
    std::optional<Clock::TimePoint> NextDue() const;
    bool Pending() const;

    enum class Scope { Due, Everything };
    // Writes what is due (or everything): the dirty DPI stages between two update
    // notices, then the report rate, then angle snapping. A write that fails stays
    // pending and its error is returned.
    Status Flush(Scope scope = Scope::Due);
    // Forgets everything pending (a reset is about to overwrite it). Waits for a
    // flush in progress to end, so no stale value follows.
    void Cancel();

  private:
    bool IsDue(const std::optional<Clock::TimePoint>& due, Scope scope) const;

    ConfigModel& model_;
    Clock& clock_;
    // Held during a whole flush; taken before any lock of the model.
    mutable std::mutex m_;
    std::array<bool, kDpiStageCount> dirtyStages_{};
    std::optional<Clock::TimePoint> dpiDue_;
    std::optional<int> rate_;
    std::optional<Clock::TimePoint> rateDue_;
    std::optional<bool> snapping_;
    std::optional<Clock::TimePoint> snappingDue_;
};

}  // namespace qvm
