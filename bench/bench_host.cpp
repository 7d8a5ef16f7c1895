// The host services on a simulated mouse's vendor reports: the report reader hands every
// report to the host action engine, which injects it. Printed:
//   - latency from the reader's callback receiving a pointer report to the injected move
//     being written (median, 99th percentile), one report at a time;
//   - CPU time of the whole process per second of wall time while the mouse sends 1,000
//     pointer reports a second;
//   - wake-ups of the idle services (reader and workers, target zero) and the process's
//     voluntary context switches, with the mouse in this process and over the device
//     bridge (whose watcher has to ask the server for reports), there with the watcher's
//     back-off and without it.
// The real uinput injector is used when /dev/uinput is writable (the pointer moves by one
// pixel to and fro), else an injector of this program that only takes the time.
//
//   bench_host
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/host_actions.h"
#include "platform/bridge_backend.h"
#include "session/vendor_reports.h"
#include "sim/sim_backend.h"
#ifdef QVM_HAVE_LINUX_HID
#include "platform/linux/uinput_injector.h"
#endif

namespace {

using namespace qvm;
using Steady = std::chrono::steady_clock;

constexpr int kLatencyReports = 3000;
constexpr int kLoadReportsPerSecond = 1000;
constexpr int kLoadSeconds = 5;
constexpr int kIdleSeconds = 3;
// Time for the services to settle (a device found, a burst drained) before idling counts.
constexpr auto kSettle = std::chrono::milliseconds(300);
constexpr auto kInjectionWait = std::chrono::seconds(5);

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Steady::now().time_since_epoch())
        .count();
}

// Forwards to the real injector when there is one and notes when each move was written.
class TimingInjector final : public InputInjector {
  public:
    explicit TimingInjector(std::unique_ptr<InputInjector> inner) : inner_(std::move(inner)) {}

    std::string Name() const override {
        return inner_ ? inner_->Name() : "timestamping (this benchmark's own, writes nothing)";
    }
    Status MovePointer(int dx, int dy) override {
        Status status = inner_ ? inner_->MovePointer(dx, dy) : Status{};
        const int64_t at = NowNs();
        std::lock_guard lock(mutex_);
        lastMoveNs_ = at;
        ++moves_;
        moved_.notify_all();
        return status;
    }
    Status ScrollHorizontal(int detents) override {
        return inner_ ? inner_->ScrollHorizontal(detents) : Status{};
    }
    Result<InjectPoint> PointerPosition() override {
        if (inner_) return inner_->PointerPosition();
        return InjectPoint{};
    }
    bool CanTouch() const override { return inner_ && inner_->CanTouch(); }
    Status Touch(TouchPhase phase, InjectPoint at) override {
        return inner_ ? inner_->Touch(phase, at) : Status{};
    }

    // Waits until more than `seen` moves were written; the time of the latest, or -1.
    int64_t WaitForMove(uint64_t seen) {
        std::unique_lock lock(mutex_);
        if (!moved_.wait_for(lock, kInjectionWait, [&] { return moves_ > seen; })) return -1;
        return lastMoveNs_;
    }
    uint64_t Moves() const {
        std::lock_guard lock(mutex_);
        return moves_;
    }

  private:
    std::unique_ptr<InputInjector> inner_;
    mutable std::mutex mutex_;  // leaf
    std::condition_variable moved_;
    uint64_t moves_ = 0;      // guarded by mutex_
    int64_t lastMoveNs_ = 0;  // guarded by mutex_
};

std::unique_ptr<InputInjector> RealInjectorIfWritable() {
#ifdef QVM_HAVE_LINUX_HID
    if (::access("/dev/uinput", W_OK) == 0) {
        auto uinput = UinputInjector::Open();
        if (uinput) return std::move(*uinput);
        std::printf("uinput: %s\n", uinput.message().c_str());
    }
#endif
    return nullptr;
}

// The reader feeding the engine, with the time each report reached the reader's callback.
struct Services {
    TimingInjector injector;
    HostStatus status;
    HostActions actions;
    std::atomic<int64_t> lastReadNs{0};
    std::atomic<uint64_t> reports{0};
    std::unique_ptr<VendorReportReader> reader;

    explicit Services(std::unique_ptr<InputInjector> real)
        : injector(std::move(real)),
          actions(injector, SystemClock::Instance(), status, HostCallbacks{}) {}

    Status Start(HidBackend& backend) {
        auto started = VendorReportReader::Start(
            backend,
            [this](const std::string&, std::span<const uint8_t> report) {
                lastReadNs.store(NowNs());
                reports.fetch_add(1);
                actions.HandleReport(report);
            },
            [](const std::string& notice) { std::printf("reader: %s\n", notice.c_str()); });
        if (!started) return started.error();
        reader = std::move(*started);
        for (int i = 0; i < 500 && reader->OpenPaths().empty(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (reader->OpenPaths().empty()) return MakeError(ErrorKind::Other, "no interface read");
        return {};
    }
    ~Services() {
        reader.reset();  // first: it hands reports to the engine
        actions.Stop();
    }
};

double Ms(int64_t ns) {
    return double(ns) / 1e6;
}

double CpuSeconds(int who) {
    rusage usage{};
    ::getrusage(who, &usage);
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

long VoluntarySwitches(int who) {
    rusage usage{};
    ::getrusage(who, &usage);
    return usage.ru_nvcsw;
}

bool Latency(Services& services, SimDevice& mouse) {
    std::vector<int64_t> ns;
    ns.reserve(kLatencyReports);
    for (int i = 0; i < kLatencyReports; ++i) {
        const uint64_t seen = services.injector.Moves();
        mouse.EmitPointerReport(0, i % 2 == 0 ? 1 : -1, 0, 0);  // to and fro: the pointer stays
        const int64_t written = services.injector.WaitForMove(seen);
        if (written < 0) {
            std::fprintf(stderr, "bench_host: report %d was never injected\n", i);
            return false;
        }
        ns.push_back(written - services.lastReadNs.load());
    }
    std::sort(ns.begin(), ns.end());
    std::printf(
        "latency, report read to move written (%d reports): median %.3f ms, "
        "99th percentile %.3f ms, max %.3f ms\n",
        kLatencyReports, Ms(ns[ns.size() / 2]), Ms(ns[ns.size() * 99 / 100]), Ms(ns.back()));
    return true;
}

// The mouse sends kLoadReportsPerSecond pointer reports a second from this thread, each
// at its own moment on a fixed schedule (a late one does not push the later ones back).
void Load(Services& services, SimDevice& mouse) {
    const int total = kLoadReportsPerSecond * kLoadSeconds;
    const uint64_t readBefore = services.reports.load();
    const uint64_t movesBefore = services.injector.Moves();
    const double processBefore = CpuSeconds(RUSAGE_SELF);
    const double senderBefore = CpuSeconds(RUSAGE_THREAD);
    const auto start = Steady::now();
    const auto period = std::chrono::microseconds(1'000'000 / kLoadReportsPerSecond);
    for (int i = 0; i < total; ++i) {
        std::this_thread::sleep_until(start + period * i);
        mouse.EmitPointerReport(0, i % 2 == 0 ? 1 : -1, 0, 0);
    }
    std::this_thread::sleep_until(start + period * total);
    const double wall = std::chrono::duration<double>(Steady::now() - start).count();
    const double process = CpuSeconds(RUSAGE_SELF) - processBefore;
    const double sender = CpuSeconds(RUSAGE_THREAD) - senderBefore;
    std::printf("load, %d pointer reports a second for %d s: %llu read, %llu moves written\n",
                kLoadReportsPerSecond, kLoadSeconds,
                static_cast<unsigned long long>(services.reports.load() - readBefore),
                static_cast<unsigned long long>(services.injector.Moves() - movesBefore));
    std::printf(
        "  CPU per wall second: process %.1f ms, services alone %.1f ms "
        "(the simulated mouse's sending thread takes the rest)\n",
        1000 * process / wall, 1000 * (process - sender) / wall);
}

// Wake-ups of the services while nothing arrives; the measuring thread's own sleep is
// taken out of the context switches.
void Idle(const char* where, Services& services) {
    std::this_thread::sleep_for(kSettle);
    const uint64_t readerBefore = services.reader->WakeUps();
    const uint64_t workersBefore = services.actions.WakeUps();
    const long processBefore = VoluntarySwitches(RUSAGE_SELF);
    const long selfBefore = VoluntarySwitches(RUSAGE_THREAD);
    std::this_thread::sleep_for(std::chrono::seconds(kIdleSeconds));
    const long others = (VoluntarySwitches(RUSAGE_SELF) - processBefore) -
                        (VoluntarySwitches(RUSAGE_THREAD) - selfBefore);
    std::printf(
        "idle %d s, %s: reader wake-ups %llu, worker wake-ups %llu, voluntary context "
        "switches of the other threads %ld (%.1f a second)\n",
        kIdleSeconds, where,
        static_cast<unsigned long long>(services.reader->WakeUps() - readerBefore),
        static_cast<unsigned long long>(services.actions.WakeUps() - workersBefore), others,
        double(others) / kIdleSeconds);
}

}  // namespace

int main(int argc, char**) {
    if (argc > 1) {
        std::fprintf(stderr, "usage: bench_host\n");
        return 2;
    }
    auto sim = SimBackend::Create("g12", "");
    if (!sim) {
        std::fprintf(stderr, "bench_host: %s\n", sim.message().c_str());
        return 1;
    }
    SimDevice& mouse = (*sim)->Device(0);
    {
        Services services(RealInjectorIfWritable());
        std::printf("injector: %s\n", services.injector.Name().c_str());
        if (Status started = services.Start(**sim); !started) {
            std::fprintf(stderr, "bench_host: %s\n", started.message().c_str());
            return 1;
        }
        if (!Latency(services, mouse)) return 1;
        Load(services, mouse);
        Idle("simulated mouse in this process", services);
    }
#ifdef QVM_SIM_BINARY
    // With the watcher's back-off, and for comparison without (asking every first pause).
    struct BridgeRun {
        const char* where;
        int idlePollMs;
    };
    for (const BridgeRun run :
         {BridgeRun{"simulated mouse over the device bridge", kBridgeWatchIdlePollMs},
          BridgeRun{"over the bridge, watcher without back-off", kBridgeWatchPollMs}}) {
        BridgeOptions options;
        options.watchIdlePollMs = run.idlePollMs;
        auto bridge = MakeExecBackend(std::string("exec ") + QVM_SIM_BINARY + " g12", options);
        if (!bridge) {
            std::fprintf(stderr, "bench_host: bridge: %s\n", bridge.message().c_str());
            return 1;
        }
        Services services(nullptr);
        if (Status started = services.Start(**bridge); !started) {
            std::fprintf(stderr, "bench_host: bridge: %s\n", started.message().c_str());
            return 1;
        }
        Idle(run.where, services);
    }
#endif
    return 0;
}
