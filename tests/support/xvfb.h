// An X server of a test's own: Xvfb, started on a display number it picks itself (it
// writes the number to a pipe), without a TCP listener, and ended with the test.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <string>

#include "base/unique_fd.h"

namespace qvm::test {

inline constexpr int kXvfbStartWaitMs = 10000;

// An Xvfb of this test alone: it chooses a free display number and writes it to a pipe.
class Xvfb {
  public:
    Xvfb() {
        int fds[2];
        if (::pipe(fds) != 0) return;
        UniqueFd readEnd(fds[0]);
        UniqueFd writeEnd(fds[1]);
        // Only async-signal-safe calls between fork and exec: the test may have threads.
        const std::string fd = std::to_string(writeEnd.get());
        pid_t pid = ::fork();
        if (pid == 0) {
            ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-nolisten", "tcp", "-screen", "0",
                     "640x480x24", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        if (pid < 0) return;
        pid_ = pid;
        writeEnd.reset();
        std::string number;
        pollfd ready{readEnd.get(), POLLIN, 0};
        while (::poll(&ready, 1, kXvfbStartWaitMs) > 0) {
            char c = 0;
            if (::read(readEnd.get(), &c, 1) != 1 || c == '\n') break;
            number.push_back(c);
        }
        if (!number.empty()) name_ = ":" + number;
    }
    ~Xvfb() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    Xvfb(const Xvfb&) = delete;
    Xvfb& operator=(const Xvfb&) = delete;

    const std::string& Name() const { return name_; }

  private:
    pid_t pid_ = -1;
    std::string name_;
};

// Whether Xvfb is on the PATH.
inline bool XvfbInstalled() {
    const char* path = std::getenv("PATH");
    std::istringstream folders(path != nullptr ? path : "/usr/bin:/bin");
    for (std::string folder; std::getline(folders, folder, ':');) {
        if (!folder.empty() && ::access((folder + "/Xvfb").c_str(), X_OK) == 0) return true;
    }
    return false;
}

}  // namespace qvm::test
