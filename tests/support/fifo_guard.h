// A FIFO in place of a data file, for tests that a reader never waits on one.
//
// A reader that opens a FIFO without O_NONBLOCK waits for a writer, and then reads until
// every writer has gone. The guard's thread keeps opening the writing end and closing it
// again, so such a reader is let go at once with an empty file: a regression makes the
// test fail on its assertions instead of hanging it.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <stop_token>
#include <string>
#include <thread>

#include "base/unique_fd.h"

namespace qvm::test {

class FifoGuard {
  public:
    explicit FifoGuard(std::string path) : path_(std::move(path)) {
        if (::mkfifo(path_.c_str(), 0600) != 0) {
            ADD_FAILURE() << "mkfifo " << path_ << ": " << std::strerror(errno);
            return;
        }
        // The FIFO itself, reopened through /proc even if something replaces its name.
        node_ = UniqueFd(::open(path_.c_str(), O_PATH | O_CLOEXEC));
        if (!node_) {
            ADD_FAILURE() << "open " << path_ << ": " << std::strerror(errno);
            return;
        }
        writer_ = std::jthread([this](std::stop_token stop) {
            while (!stop.stop_requested()) {
                // Waits until some reader opens the FIFO, then lets it see the end at once.
                const UniqueFd fd(::open(NodePath().c_str(), O_WRONLY | O_CLOEXEC));
                if (!fd) return;
                if (!stop.stop_requested()) opened_ = true;
            }
        });
    }
    FifoGuard(const FifoGuard&) = delete;
    FifoGuard& operator=(const FifoGuard&) = delete;
    ~FifoGuard() {
        if (!writer_.joinable()) return;
        // Held open until the thread has ended, so its last open cannot wait for a reader.
        const UniqueFd reader(::open(NodePath().c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
        writer_.request_stop();
        writer_.join();
    }

    const std::string& path() const { return path_; }
    // True once some reader has opened the FIFO at all (even without waiting on it).
    bool Opened() const { return opened_; }

  private:
    std::string NodePath() const { return "/proc/self/fd/" + std::to_string(node_.get()); }

    std::string path_;
    UniqueFd node_;
    std::atomic<bool> opened_{false};
    std::jthread writer_;
};

}  // namespace qvm::test
