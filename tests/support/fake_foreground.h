// A foreground watcher whose foreground the test sets: each Set makes its descriptor
// readable, as a focus change makes the desktop's.
#pragma once

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <mutex>

#include "base/unique_fd.h"
#include "platform/foreground.h"

namespace qvm::test {

class FakeForegroundWatcher final : public ForegroundWatcher {
  public:
    FakeForegroundWatcher() : ready_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

    void Set(Foreground foreground) {
        {
            std::lock_guard lock(mutex_);
            now_ = foreground;
        }
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(ready_.get(), &one, sizeof one);
    }

    int Fd() const override { return ready_.get(); }
    Result<Foreground> Read() override {
        uint64_t count = 0;
        [[maybe_unused]] const ssize_t got = ::read(ready_.get(), &count, sizeof count);
        std::lock_guard lock(mutex_);
        return now_;
    }

  private:
    UniqueFd ready_;
    std::mutex mutex_;
    Foreground now_;
};

}  // namespace qvm::test
