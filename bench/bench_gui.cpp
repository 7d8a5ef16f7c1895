// Start-up time and idle load of the desktop program on simulated devices.
//
// Starts the build's qvm-gaming on the offscreen platform with a fresh user folder and
// --simulate, and measures:
//   - the time to the first paint: the program prints "first-paint-ms N" (N counted from
//     its own process start) on standard error after its main window first painted; the
//     bench also shows the time it saw from starting the child to that line;
//   - the idle CPU of the running program over a while (default 30 s): user + system time
//     from /proc/PID/stat, as percent of one core;
// then ends it with "qvm-gaming /close", and kills it when it has not ended after a grace
// period. Last, in its own process, it times full repaints of the macro editor's edit
// area holding 5,000 items (all selected, scrolled to the middle). Prints its figures;
// it judges nothing.
//
//   bench_gui [--idle-seconds N] [--paint-timeout-seconds N]
//
// The close request goes to whatever instance of the program the same user runs, as any
// second instance's would: run the bench while no other qvm-gaming of yours is running.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>
#include <algorithm>

#include "base/unique_fd.h"
#include "macro/macro_item.h"
#include "macro/macro_library.h"
#include "platform/clock.h"
#include "present/macro_editor_model.h"
#include "ui/macro_edit_area.h"

namespace {

using Clock = std::chrono::steady_clock;
using qvm::UniqueFd;

constexpr const char* kFirstPaintPrefix = "first-paint-ms ";
constexpr int kDefaultIdleSeconds = 30;
constexpr int kDefaultPaintTimeoutSeconds = 30;
constexpr auto kCloseGrace = std::chrono::seconds(10);
constexpr auto kTermGrace = std::chrono::seconds(3);
constexpr auto kWaitStep = std::chrono::milliseconds(50);
// utime and stime are fields 14 and 15 of /proc/PID/stat; counted after the command
// name's closing parenthesis they are the 12th and 13th.
constexpr int kUtimeAfterName = 12;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct Options {
    int idleSeconds = kDefaultIdleSeconds;
    int paintTimeoutSeconds = kDefaultPaintTimeoutSeconds;
};

std::optional<Options> ParseOptions(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        int* target = arg == "--idle-seconds"            ? &o.idleSeconds
                      : arg == "--paint-timeout-seconds" ? &o.paintTimeoutSeconds
                                                         : nullptr;
        if (target == nullptr || i + 1 >= argc) return std::nullopt;
        char* end = nullptr;
        const long value = std::strtol(argv[++i], &end, 10);
        if (*end != '\0' || value < 1 || value > 3600) return std::nullopt;
        *target = static_cast<int>(value);
    }
    return o;
}

// Runs the program with the arguments in a child whose environment adds `env`; the
// child's standard error goes to errWrite when given. Returns the child's pid or -1.
pid_t Spawn(const std::vector<std::string>& args, const std::vector<std::string>& env,
            int errWrite) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    for (const std::string& e : env) ::putenv(const_cast<char*>(e.c_str()));
    if (errWrite >= 0) ::dup2(errWrite, STDERR_FILENO);
    ::execv(argv[0], argv.data());
    std::fprintf(stderr, "bench_gui: cannot start %s: %s\n", argv[0], std::strerror(errno));
    ::_exit(127);
}

// The child's CPU time (user + system) in seconds; none once it is gone.
std::optional<double> CpuSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), {});
    const auto close = stat.rfind(')');
    if (close == std::string::npos) return std::nullopt;
    std::istringstream fields(stat.substr(close + 1));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 1; i <= kUtimeAfterName + 1 && fields >> field; ++i) {
        if (i == kUtimeAfterName) utime = std::stoull(field);
        if (i == kUtimeAfterName + 1) stime = std::stoull(field);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// The child's standard error, read line by line; lines other than the first-paint line
// are passed on so its warnings stay visible.
class ErrorLines {
  public:
    explicit ErrorLines(UniqueFd fd) : fd_(std::move(fd)) {}

    // Reads until `deadline`; returns the first-paint value when its line arrives.
    std::optional<long> ReadUntil(Clock::time_point deadline) {
        while (fd_.valid()) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) return std::nullopt;
            pollfd p{fd_.get(), POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
            char buffer[4096];
            const ssize_t n = ::read(fd_.get(), buffer, sizeof buffer);
            if (n <= 0) {
                fd_.reset();  // the child closed its end: it has ended
                return std::nullopt;
            }
            pending_.append(buffer, static_cast<std::size_t>(n));
            if (auto found = TakeLines()) return found;
        }
        return std::nullopt;
    }
    bool Open() const { return fd_.valid(); }

  private:
    std::optional<long> TakeLines() {
        std::optional<long> found;
        for (auto end = pending_.find('\n'); end != std::string::npos; end = pending_.find('\n')) {
            const std::string line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            if (line.rfind(kFirstPaintPrefix, 0) == 0 && !found) {
                found = std::strtol(line.c_str() + std::strlen(kFirstPaintPrefix), nullptr, 10);
            } else {
                std::fprintf(stderr, "  qvm-gaming: %s\n", line.c_str());
            }
        }
        return found;
    }

    UniqueFd fd_;
    std::string pending_;
};

// Waits up to `limit` for the child to end; true when it has (and is reaped).
bool WaitEnd(pid_t pid, Clock::duration limit, int& status) {
    const auto deadline = Clock::now() + limit;
    while (Clock::now() < deadline) {
        if (::waitpid(pid, &status, WNOHANG) == pid) return true;
        std::this_thread::sleep_for(kWaitStep);
    }
    return false;
}

std::string Describe(int status) {
    if (WIFEXITED(status)) return "exit status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) return std::string("signal ") + ::strsignal(WTERMSIG(status));
    return "unknown end";
}

}  // namespace

// Full repaints of the edit area with a long macro: the figure a user feels while
// scrolling and editing. Runs after the child has ended: no fork once Qt runs here.
void BenchEditAreaRepaint(int argc, char** argv, const std::string& folder) {
    constexpr int kItems = 5000;
    constexpr int kFrames = 200;
    constexpr int kWarmUp = 5;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    qvm::MacroLibrary library(folder + "/Favorite");
    qvm::MacroEditorModel model(library, qvm::SystemClock::Instance());
    std::vector<qvm::MacroItem> items;
    for (int i = 0; i < kItems; ++i) items.push_back(qvm::MakeWaitItem(i % 70000));
    model.InsertCaptured(items);
    model.SelectAll();
    qvm::ui::MacroEditArea area(model);
    area.resize(640, 800);
    area.show();
    area.ShowModel();
    QApplication::processEvents();
    area.verticalScrollBar()->setValue(area.verticalScrollBar()->maximum() / 2);
    std::vector<double> ms;
    for (int frame = 0; frame < kWarmUp + kFrames; ++frame) {
        QElapsedTimer timer;
        timer.start();
        area.viewport()->repaint();
        if (frame >= kWarmUp) ms.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    std::printf(
        "edit area repaint, %d items, %dx%d: median %.3f ms, worst %.3f ms over %d frames\n",
        kItems, area.viewport()->width(), area.viewport()->height(), ms[ms.size() / 2], ms.back(),
        kFrames);
}

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);  // figures in order with the child's lines
    const auto options = ParseOptions(argc, argv);
    if (!options) {
        std::fprintf(stderr, "usage: bench_gui [--idle-seconds N] [--paint-timeout-seconds N]\n");
        return 2;
    }
    std::string userDir = (std::filesystem::temp_directory_path() / "qvm-bench-XXXXXX").string();
    if (::mkdtemp(userDir.data()) == nullptr) {
        std::fprintf(stderr, "bench_gui: cannot make a temporary folder: %s\n",
                     std::strerror(errno));
        return 1;
    }
    const std::vector<std::string> env = {"QT_QPA_PLATFORM=offscreen", "QVM_USER_DIR=" + userDir,
                                          "QVM_REPORT_FIRST_PAINT=1"};
    std::printf("program: %s\nuser folder: %s\n", QVM_GAMING_BINARY, userDir.c_str());

    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        std::fprintf(stderr, "bench_gui: pipe: %s\n", std::strerror(errno));
        return 1;
    }
    UniqueFd readEnd(fds[0]);
    UniqueFd writeEnd(fds[1]);
    const auto start = Clock::now();
    const pid_t child = Spawn({QVM_GAMING_BINARY, "--simulate"}, env, writeEnd.get());
    writeEnd.reset();
    if (child < 0) {
        std::fprintf(stderr, "bench_gui: fork: %s\n", std::strerror(errno));
        return 1;
    }
    ErrorLines errors(std::move(readEnd));

    const auto painted =
        errors.ReadUntil(start + std::chrono::seconds(options->paintTimeoutSeconds));
    if (painted) {
        std::printf(
            "first paint: %ld ms after the program started (%.0f ms after the bench "
            "started it)\n",
            *painted, MsSince(start));
    } else if (errors.Open()) {
        std::printf("first paint: timed out after %d s (no \"%s\" line)\n",
                    options->paintTimeoutSeconds, kFirstPaintPrefix);
    } else {
        std::printf("first paint: none; the program ended before it painted\n");
    }

    int status = 0;
    bool ended = false;
    if (const auto before = CpuSeconds(child)) {
        const auto t0 = Clock::now();
        errors.ReadUntil(t0 + std::chrono::seconds(options->idleSeconds));
        const double wall = MsSince(t0) / 1000.0;
        if (const auto after = CpuSeconds(child)) {
            std::printf("idle CPU: %.2f %% of one core over %.1f s (%.3f s of CPU time)\n",
                        100.0 * (*after - *before) / wall, wall, *after - *before);
        } else {
            std::printf("idle CPU: not measured; the program ended during the measurement\n");
        }
    }

    const auto closeStart = Clock::now();
    const pid_t closer = Spawn({QVM_GAMING_BINARY, "/close"}, env, -1);
    int closerStatus = 0;
    if (closer > 0 && !WaitEnd(closer, kCloseGrace, closerStatus)) ::kill(closer, SIGKILL);
    if (closer > 0) ::waitpid(closer, &closerStatus, WNOHANG);
    ended = WaitEnd(child, kCloseGrace, status);
    if (ended) {
        std::printf("close: ended %.0f ms after /close (%s)\n", MsSince(closeStart),
                    Describe(status).c_str());
    } else {
        std::printf("close: still running %lld s after /close; terminating it\n",
                    static_cast<long long>(
                        std::chrono::duration_cast<std::chrono::seconds>(kCloseGrace).count()));
        ::kill(child, SIGTERM);
        if (!WaitEnd(child, kTermGrace, status)) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
        }
        std::printf("close: %s\n", Describe(status).c_str());
    }
    BenchEditAreaRepaint(argc, argv, userDir);
    std::error_code ec;
    std::filesystem::remove_all(userDir, ec);
    return 0;
}
