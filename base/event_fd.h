// Signalling through an eventfd: the counter a waiter polls for readability.
#pragma once

#include <unistd.h>

#include <cstdint>

namespace qvm {

// Adds one to the counter, making the descriptor readable. Cannot fail short of a counter
// overflow, which a pending signal makes harmless.
inline void SignalEventFd(int fd) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t put = ::write(fd, &one, sizeof one);
}

// Resets the counter; a non-blocking descriptor with nothing signalled (EAGAIN) is as good.
inline void DrainEventFd(int fd) {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t got = ::read(fd, &count, sizeof count);
}

}  // namespace qvm
