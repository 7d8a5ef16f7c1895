// Time source for everything that paces device traffic. Production code sleeps for
// real; tests substitute a clock that only records the sleeps, so pacing rules can be
// checked exactly and the suite stays fast.
#pragma once

#include <chrono>

namespace qvm {

class Clock {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    virtual ~Clock() = default;
    virtual void SleepMs(int ms) = 0;
    virtual TimePoint Now() const = 0;
};

class SystemClock final : public Clock {
public:
    void SleepMs(int ms) override;
    TimePoint Now() const override;
    // The process-wide real clock.
    static SystemClock& Instance();
};

}  // namespace qvm
