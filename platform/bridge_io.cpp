#include "platform/bridge_io.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>

namespace qvm {
namespace {

constexpr std::size_t kReadChunk = 4096;

// Milliseconds left until `deadline`, rounded up, for poll(); -1 (wait forever) when
// there is no deadline.
int PollTimeoutMs(std::optional<std::chrono::steady_clock::time_point> deadline) {
    if (!deadline) return -1;
    auto left = *deadline - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) return 0;
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return static_cast<int>(std::min<long long>(ms, 60'000));
}

}  // namespace

bool LineReader::TakeLine(std::string& line) {
    while (true) {
        std::size_t newline = buffer_.find('\n');
        if (skipping_) {
            if (newline == std::string::npos) {
                buffer_.clear();
                return false;
            }
            buffer_.erase(0, newline + 1);
            skipping_ = false;
            continue;
        }
        if (newline == std::string::npos) return false;
        line.assign(buffer_, 0, newline);
        buffer_.erase(0, newline + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return true;
    }
}

LineReader::Outcome LineReader::Next(
    std::string& line, std::optional<std::chrono::steady_clock::time_point> deadline) {
    while (true) {
        if (TakeLine(line)) return Outcome::Line;
        if (!skipping_ && buffer_.size() > maxLength_) {
            buffer_.clear();
            skipping_ = true;
            return Outcome::TooLong;
        }
        pollfd pfd{fd_, POLLIN, 0};
        int ready = ::poll(&pfd, 1, PollTimeoutMs(deadline));
        if (ready < 0) {
            if (errno == EINTR) continue;
            return Outcome::Failed;
        }
        if (ready == 0) {
            if (PollTimeoutMs(deadline) == 0) return Outcome::TimedOut;
            continue;  // poll's timeout is capped; the deadline is further away
        }
        char chunk[kReadChunk];
        ssize_t n = ::read(fd_, chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            return Outcome::Failed;
        }
        if (n == 0) return Outcome::End;
        buffer_.append(chunk, static_cast<std::size_t>(n));
    }
}

bool WriteAllNoSigpipe(int fd, std::string_view text,
                       std::optional<std::chrono::steady_clock::time_point> deadline) {
    sigset_t pipeOnly;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);

    // A SIGPIPE that was already pending belongs to someone else; leave it be.
    sigset_t pending;
    sigpending(&pending);
    bool wasPending = sigismember(&pending, SIGPIPE) == 1;

    sigset_t oldMask;
    pthread_sigmask(SIG_BLOCK, &pipeOnly, &oldMask);

    bool ok = true;
    bool brokenPipe = false;
    while (!text.empty()) {
        ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN) {
                // The pipe is full: wait until the reader takes some, or the deadline.
                pollfd pfd{fd, POLLOUT, 0};
                int ready = ::poll(&pfd, 1, PollTimeoutMs(deadline));
                if (ready > 0 || (ready < 0 && errno == EINTR)) continue;
                if (ready == 0 && PollTimeoutMs(deadline) != 0) continue;
                if (ready == 0) errno = ETIMEDOUT;
                ok = false;
                break;
            }
            brokenPipe = errno == EPIPE;
            ok = false;
            break;
        }
        text.remove_prefix(static_cast<std::size_t>(n));
    }

    if (brokenPipe && !wasPending) {
        int savedErrno = errno;
        timespec zero{0, 0};
        while (sigtimedwait(&pipeOnly, nullptr, &zero) < 0 && errno == EINTR) {
        }
        errno = savedErrno;
    }
    pthread_sigmask(SIG_SETMASK, &oldMask, nullptr);
    return ok;
}

}  // namespace qvm
