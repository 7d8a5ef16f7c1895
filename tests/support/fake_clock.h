// A clock that never sleeps: it records every requested sleep and advances its own
// time, so pacing rules can be asserted exactly.
#pragma once

#include <mutex>
#include <vector>

#include "platform/clock.h"

namespace qvm::test {

class FakeClock final : public Clock {
  public:
    void SleepMs(int ms) override {
        std::lock_guard lock(m_);
        sleeps_.push_back(ms);
        now_ += std::chrono::milliseconds(ms);
    }
    TimePoint Now() const override {
        std::lock_guard lock(m_);
        return now_;
    }
    std::vector<int> Sleeps() const {
        std::lock_guard lock(m_);
        return sleeps_;
    }
    int TotalMs() const {
        std::lock_guard lock(m_);
        int total = 0;
        for (int s : sleeps_) total += s;
        return total;
    }
    void Clear() {
        std::lock_guard lock(m_);
        sleeps_.clear();
    }

  private:
    mutable std::mutex m_;
    std::vector<int> sleeps_;
    TimePoint now_{};
};

}  // namespace qvm::test
