// Vendor report bytes for the host tests, and a clock whose sleeps wait at a gate the test
// opens, so a worker's progress through a touch gesture is decided by the test.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/clock.h"

namespace qvm::test {

using Bytes = std::vector<std::uint8_t>;

// An n-byte report with the given bytes set, the rest zero.
inline Bytes ReportBytes(std::initializer_list<std::pair<std::size_t, std::uint8_t>> set,
                         std::size_t n = 11) {
    Bytes r(n, 0);
    for (auto [at, value] : set) r[at] = value;
    return r;
}

// Gives a report the trailer 9 and the checksum that makes bytes 1..n-1 XOR to zero.
inline Bytes Sealed(Bytes r) {
    r[r.size() - 2] = 9;
    std::uint8_t x = 0;
    for (std::size_t i = 1; i + 1 < r.size(); ++i) x ^= r[i];
    r.back() = x;
    return r;
}

inline Bytes Pointer(bool contact, int dx, int dy, int tilt) {
    auto lo = [](int v) { return static_cast<std::uint8_t>(v & 0xFF); };
    auto hi = [](int v) { return static_cast<std::uint8_t>((v >> 8) & 0xFF); };
    return ReportBytes({{0, 0x0B},
                        {1, 0x0B},
                        {2, contact ? 1 : 0},
                        {4, lo(dx)},
                        {5, hi(dx)},
                        {6, lo(dy)},
                        {7, hi(dy)},
                        {9, lo(tilt)}});
}

class GatedClock final : public Clock {
  public:
    void SleepMs(int ms) override {
        std::unique_lock lock(m_);
        ++held_;
        changed_.notify_all();
        changed_.wait(lock, [&] { return free_ || allowed_ > 0; });
        if (!free_) --allowed_;
        --held_;
        ++passed_;
        now_ += std::chrono::milliseconds(ms);
        changed_.notify_all();
    }
    TimePoint Now() const override {
        std::lock_guard lock(m_);
        return now_;
    }
    void Allow(int sleeps) {
        std::lock_guard lock(m_);
        allowed_ += sleeps;
        changed_.notify_all();
    }
    void Free() {
        std::lock_guard lock(m_);
        free_ = true;
        changed_.notify_all();
    }
    // Waits until a sleeper waits at the gate after exactly `passed` sleeps went through.
    bool HeldAfter(int passed) {
        std::unique_lock lock(m_);
        return changed_.wait_for(lock, std::chrono::seconds(60),
                                 [&] { return held_ > 0 && allowed_ == 0 && passed_ == passed; });
    }

  private:
    mutable std::mutex m_;
    std::condition_variable changed_;
    TimePoint now_{};
    int allowed_ = 0;
    int held_ = 0;
    int passed_ = 0;
    bool free_ = false;
};

}  // namespace qvm::test
