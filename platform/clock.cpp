#include "platform/clock.h"

#include <thread>

namespace qvm {

void SystemClock::SleepMs(int ms) {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

Clock::TimePoint SystemClock::Now() const { return std::chrono::steady_clock::now(); }

SystemClock& SystemClock::Instance() {
    static SystemClock clock;
    return clock;
}

}  // namespace qvm
