// A foreground watcher whose foreground the test sets; each Set makes its descriptor
// readable, as a focus change makes the desktop's. Used from one thread.
#pragma once

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

#include "base/unique_fd.h"
#include "platform/foreground.h"

namespace qvm::test {

class FakeForegroundWatcher final : public ForegroundWatcher {
  public:
    void Set(Foreground foreground) {
        now_ = foreground;
        (void)::eventfd_write(ready_.get(), 1);
    }
    int Fd() const override { return ready_.get(); }
    Result<Foreground> Read() override {
        eventfd_t count = 0;
        (void)::eventfd_read(ready_.get(), &count);
        return now_;
    }

  private:
    UniqueFd ready_{::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)};
    Foreground now_;
};

}  // namespace qvm::test
