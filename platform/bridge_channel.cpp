#include "platform/bridge_channel.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "platform/bridge_protocol.h"

extern char** environ;

namespace qvm {
namespace {

constexpr int kExitCommandNotFound = 127;
constexpr int kExitNotExecutable = 126;
constexpr int kShellSignalBase = 128;
// How long a server that closed its output gets to finish exiting before its exit
// status is given up on.
constexpr int kExitStatusWaitMs = 500;
// Pause between two checks whether the child has exited.
constexpr int kExitPollMs = 5;
// Longest excerpt of a request or answer quoted in an error message.
constexpr std::size_t kQuoteLength = 60;

std::string Quote(std::string_view text) {
    if (text.size() <= kQuoteLength) return "'" + std::string(text) + "'";
    return "'" + std::string(text.substr(0, kQuoteLength)) + "...'";
}

// The request's verb and ID: enough to say which request failed without hex dumps.
std::string RequestHead(std::string_view request) {
    std::size_t first = request.find(' ');
    if (first == std::string_view::npos) return std::string(request);
    std::size_t second = request.find(' ', first + 1);
    return std::string(request.substr(0, second));
}

// Waits up to `waitMs` for the child to exit without reaping it; true when it has.
bool WaitForExit(pid_t child, int waitMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    while (true) {
        siginfo_t info{};
        int rc = ::waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOHANG | WNOWAIT);
        if (rc == 0 && info.si_pid == child) return true;
        if (rc < 0 && errno != EINTR) return true;  // nothing left to wait for
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(kExitPollMs));
    }
}

struct Pipe {
    UniqueFd read;
    UniqueFd write;
};

std::optional<Pipe> MakePipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return std::nullopt;
    return Pipe{UniqueFd(fds[0]), UniqueFd(fds[1])};
}

// posix_spawn's attribute and file-action objects, destroyed on every path.
struct SpawnSetup {
    posix_spawnattr_t attr;
    posix_spawn_file_actions_t actions;
    SpawnSetup() {
        posix_spawnattr_init(&attr);
        posix_spawn_file_actions_init(&actions);
    }
    ~SpawnSetup() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attr);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;
};

}  // namespace

std::string DescribeExitStatus(int status) {
    if (WIFEXITED(status)) {
        int code = WEXITSTATUS(status);
        std::string text = "exited with status " + std::to_string(code);
        if (code == kExitCommandNotFound) text += " (command not found)";
        if (code == kExitNotExecutable) text += " (command not executable)";
        // The shell reports a command killed by signal N as status 128 + N.
        if (code > kShellSignalBase && code < kShellSignalBase + NSIG)
            text += " (killed by signal " + std::to_string(code - kShellSignalBase) + ", " +
                    ::strsignal(code - kShellSignalBase) + ")";
        return text;
    }
    if (WIFSIGNALED(status)) {
        int sig = WTERMSIG(status);
        return "was killed by signal " + std::to_string(sig) + " (" + ::strsignal(sig) + ")";
    }
    return "stopped (wait status " + std::to_string(status) + ")";
}

Result<std::shared_ptr<BridgeChannel>> BridgeChannel::Start(const std::string& command,
                                                            const BridgeOptions& options) {
    std::string name = "the device bridge '" + command + "'";
    auto toChild = MakePipe();
    auto fromChild = MakePipe();
    if (!toChild || !fromChild)
        return MakeError("cannot start " + name + ": pipe: " + ::strerror(errno));

    SpawnSetup setup;
    posix_spawn_file_actions_adddup2(&setup.actions, toChild->read.get(), STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&setup.actions, fromChild->write.get(), STDOUT_FILENO);
    // The child starts with default signal handling and an empty mask whatever the
    // host has set up, in a process group of its own.
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    posix_spawnattr_setsigmask(&setup.attr, &none);
    posix_spawnattr_setsigdefault(&setup.attr, &defaults);
    posix_spawnattr_setpgroup(&setup.attr, 0);
    posix_spawnattr_setflags(
        &setup.attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);

    const char* argv[] = {"/bin/sh", "-c", command.c_str(), nullptr};
    pid_t child = -1;
    int rc = ::posix_spawn(&child, "/bin/sh", &setup.actions, &setup.attr,
                           const_cast<char* const*>(argv), environ);
    if (rc != 0) return MakeError("cannot start " + name + ": " + ::strerror(rc));

    // Keep only the host's ends; the child holds the others.
    toChild->read.reset();
    fromChild->write.reset();
    return std::shared_ptr<BridgeChannel>(new BridgeChannel(
        std::move(toChild->write), std::move(fromChild->read), options, child, std::move(name)));
}

BridgeChannel::BridgeChannel(UniqueFd requests, UniqueFd answers, const BridgeOptions& options)
    : BridgeChannel(std::move(requests), std::move(answers), options, -1, "the device bridge") {}

BridgeChannel::BridgeChannel(UniqueFd requests, UniqueFd answers, const BridgeOptions& options,
                             pid_t child, std::string name)
    : options_(options),
      name_(std::move(name)),
      requests_(std::move(requests)),
      answers_(std::move(answers)),
      reader_(answers_.get(), kBridgeMaxLineLength),
      child_(child) {
    // Writes wait for a full pipe only until the answer deadline (see Ask).
    int flags = ::fcntl(requests_.get(), F_GETFL);
    if (flags >= 0) ::fcntl(requests_.get(), F_SETFL, flags | O_NONBLOCK);
}

BridgeChannel::~BridgeChannel() {
    std::lock_guard lock(mutex_);
    if (!broken_) {
        std::string bye = std::string(bridge::kBye) + "\n";
        auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(options_.exitWaitMs);
        if (WriteAllNoSigpipe(requests_.get(), bye, deadline)) {
            std::string line;
            reader_.Next(line, deadline);  // "ok"; what it says no longer matters
        }
    }
    requests_.reset();  // end of input for a server that missed `bye`
    if (child_ > 0) {
        WaitForExit(child_, options_.exitWaitMs);
        StopChildLocked();
    }
}

std::optional<std::string> BridgeChannel::Broken() const {
    std::lock_guard lock(mutex_);
    return broken_;
}

Result<BridgeAnswer> BridgeChannel::Ask(std::string_view request, Form form) {
    std::lock_guard lock(mutex_);
    if (broken_) return MakeError(*broken_);

    auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(options_.answerTimeoutMs);
    std::string line(request);
    line += '\n';
    if (!WriteAllNoSigpipe(requests_.get(), line, deadline)) {
        if (errno == EPIPE) return PeerGoneLocked("stopped reading requests");
        if (errno == ETIMEDOUT)
            return BreakLocked(name_ + " did not take " + Quote(RequestHead(request)) + " within " +
                               std::to_string(options_.answerTimeoutMs) + " ms");
        return BreakLocked(name_ + ": cannot send " + Quote(RequestHead(request)) + ": " +
                           ::strerror(errno));
    }

    BridgeAnswer answer;
    while (true) {
        std::string received;
        switch (reader_.Next(received, deadline)) {
            case LineReader::Outcome::Line:
                break;
            case LineReader::Outcome::End:
                return PeerGoneLocked("closed its output");
            case LineReader::Outcome::TimedOut:
                return BreakLocked(name_ + " did not answer " + Quote(RequestHead(request)) +
                                   " within " + std::to_string(options_.answerTimeoutMs) + " ms");
            case LineReader::Outcome::TooLong:
                return BreakLocked(name_ + " answered " + Quote(RequestHead(request)) +
                                   " with a line longer than " +
                                   std::to_string(kBridgeMaxLineLength) + " bytes");
            case LineReader::Outcome::Failed:
                return BreakLocked(name_ + ": cannot read its answer: " + ::strerror(errno));
        }
        bool first = answer.lines.empty();
        std::string_view errPrefix = bridge::kErr;
        if (first && received.size() > errPrefix.size() &&
            received.compare(0, errPrefix.size(), errPrefix) == 0 &&
            received[errPrefix.size()] == ' ') {
            answer.refusal = received.substr(errPrefix.size() + 1);
            return answer;
        }
        if (first && received == errPrefix) {
            answer.refusal = "(no reason given)";
            return answer;
        }
        if (form == Form::Line) {
            answer.lines.push_back(std::move(received));
            return answer;
        }
        if (received == bridge::kEnd) return answer;
        answer.lines.push_back(std::move(received));
    }
}

std::string BridgeChannel::Refused(std::string_view request, std::string_view text) const {
    return name_ + " refused " + Quote(RequestHead(request)) + ": " + std::string(text);
}

Error BridgeChannel::Break(std::string_view request, std::string_view answer) {
    std::lock_guard lock(mutex_);
    if (broken_) return MakeError(*broken_);
    return BreakLocked(name_ + " answered " + Quote(RequestHead(request)) + " with " +
                       Quote(answer) + ", which is not an answer of protocol version " +
                       std::to_string(kBridgeProtocolVersion));
}

Error BridgeChannel::BreakLocked(std::string message) {
    broken_ = message;
    StopChildLocked();
    requests_.reset();
    answers_.reset();
    return MakeError(std::move(message));
}

Error BridgeChannel::PeerGoneLocked(std::string_view what) {
    if (child_ > 0 && WaitForExit(child_, kExitStatusWaitMs)) {
        // Leftovers of the child's process group go with it; the exited child still
        // holds its ID until it is reaped below.
        ::kill(-child_, SIGKILL);
        int status = 0;
        while (::waitpid(child_, &status, 0) < 0 && errno == EINTR) {
        }
        child_ = -1;
        return BreakLocked(name_ + " " + DescribeExitStatus(status));
    }
    return BreakLocked(name_ + " " + std::string(what));
}

void BridgeChannel::StopChildLocked() {
    if (child_ <= 0) return;
    // The group is killed before the child is reaped, while its ID cannot be reused.
    ::kill(-child_, SIGKILL);
    while (::waitpid(child_, nullptr, 0) < 0 && errno == EINTR) {
    }
    child_ = -1;
}

}  // namespace qvm
