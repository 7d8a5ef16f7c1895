// The host's end of the device bridge: a server program started with /bin/sh -c (or
// any pair of connected descriptors), requests written to its standard input, answers
// read from its standard output. One lock serialises requests so that requests and
// answers strictly alternate. Once the server dies, stops answering or answers
// something that is not protocol, the channel is broken for good: every later request
// fails at once with the same message.
#pragma once

#include <sys/types.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "base/unique_fd.h"
#include "platform/bridge_io.h"
#include "platform/clock.h"

namespace qvm {

// How long the server may take to answer one request (all lines of it).
inline constexpr int kBridgeAnswerTimeoutMs = 5000;
// How long the server may take to leave after `bye` before it is killed.
inline constexpr int kBridgeExitWaitMs = 2000;
// Pause between two `read` polls while a handle waits for an input report.
inline constexpr int kBridgeReadPollMs = 2;
// Pauses between two `read` polls of a handle that is watched for reports (ReadyFd): the
// protocol has no other way to learn of a report. Right after a report the server is
// asked again at once, after the first empty answer kBridgeWatchPollMs later, and each
// further empty answer doubles the pause up to kBridgeWatchIdlePollMs, so a device that
// sends nothing costs a few requests a second and one that starts sending is heard from
// within that time.
inline constexpr int kBridgeWatchPollMs = 10;
inline constexpr int kBridgeWatchIdlePollMs = 250;

// The watcher's pause before its next `read`, from what the last one brought.
class BridgeWatchPacing {
  public:
    BridgeWatchPacing(int firstMs, int idleMs) : firstMs_(firstMs), idleMs_(idleMs) {}
    // After a report: 0 (ask again at once). After an empty answer: the first pause, then
    // twice the previous one, never more than the idle pause.
    int Next(bool gotReport) {
        if (gotReport) {
            pauseMs_ = 0;
        } else {
            pauseMs_ = pauseMs_ == 0 ? firstMs_ : std::min(pauseMs_ * 2, idleMs_);
        }
        return pauseMs_;
    }

  private:
    const int firstMs_;
    const int idleMs_;
    int pauseMs_ = 0;
};

struct BridgeOptions {
    int answerTimeoutMs = kBridgeAnswerTimeoutMs;
    int exitWaitMs = kBridgeExitWaitMs;
    int readPollMs = kBridgeReadPollMs;
    int watchPollMs = kBridgeWatchPollMs;
    int watchIdlePollMs = kBridgeWatchIdlePollMs;
    // Paces `read` polling; the system clock when null. A watched handle's pauses are
    // slept on this clock when one is given (a test clock records them without waiting);
    // without one they are waits that stopping the handle ends at once.
    Clock* clock = nullptr;
};

// The answer to one request: either the server's lines, or its refusal (`err TEXT`).
struct BridgeAnswer {
    std::vector<std::string> lines;  // the single answer line, or a block without `end`
    std::optional<std::string> refusal;
};

class BridgeChannel {
  public:
    enum class Form { Line, Block };

    // Starts `/bin/sh -c command` with pipes on its standard input and output; its
    // standard error is the host's. The child gets its own process group so that
    // everything it started can be stopped together.
    static Result<std::shared_ptr<BridgeChannel>> Start(const std::string& command,
                                                        const BridgeOptions& options);
    // Talks to a server already connected through `requests` and `answers`.
    BridgeChannel(UniqueFd requests, UniqueFd answers, const BridgeOptions& options);
    BridgeChannel(const BridgeChannel&) = delete;
    BridgeChannel& operator=(const BridgeChannel&) = delete;
    // Says `bye`, waits up to exitWaitMs for the server to leave, then stops and reaps it.
    ~BridgeChannel();

    // Sends one request and reads its answer. An error means the channel is broken.
    Result<BridgeAnswer> Ask(std::string_view request, Form form);
    // The message for a request the server refused with `err TEXT`.
    std::string Refused(std::string_view request, std::string_view text) const;
    // Breaks the channel because an answer made no sense; returns the resulting error.
    Error Break(std::string_view request, std::string_view answer);
    // The message every request fails with once broken; nullopt while healthy.
    std::optional<std::string> Broken() const;

    // "the device bridge 'COMMAND'" / "the device bridge": the start of every message.
    const std::string& Name() const { return name_; }

  private:
    BridgeChannel(UniqueFd requests, UniqueFd answers, const BridgeOptions& options, pid_t child,
                  std::string name);

    // Marks the channel broken (caller holds mutex_) and stops the child.
    Error BreakLocked(std::string message);
    // The server stopped talking: says why (its exit status when it has one).
    Error PeerGoneLocked(std::string_view what);
    // Kills the child's process group and reaps the child (caller holds mutex_).
    void StopChildLocked();

    const BridgeOptions options_;
    const std::string name_;
    mutable std::mutex mutex_;  // guards everything below; held for a whole request
    UniqueFd requests_;
    UniqueFd answers_;
    LineReader reader_;
    pid_t child_ = -1;  // -1 when there is no child or it has been reaped
    std::optional<std::string> broken_;
};

// Describes a wait status: "exited with status 3", "was killed by signal 9 (Killed)".
std::string DescribeExitStatus(int status);

}  // namespace qvm
