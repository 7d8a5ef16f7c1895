// The companion service on 127.0.0.1, with a simulated mouse behind the device hub and the
// service on ports the system picks. Printed:
//   - latency from a change of the mouse's stage through the hub to a companion on the
//     status stream receiving the status packet that shows it (median, 99th percentile,
//     max; target under 5 ms), and the service's own share of it: marking every companion
//     dirty to the packet received;
//   - the service's CPU with 100 idle companions connected (they only read), as % of one
//     core, with its loop's wake-ups and the bytes it sends a second;
//   - how long a computer-name request takes to be answered right after 200 connections to
//     the status port and 200 to the request port were opened at once.
// The idle companions run in a child process forked before any thread starts, so that
// this process's CPU time is the service's (the hub's worker sleeps meanwhile).
//
//   bench_remote [--usb-cost-ms N]
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench/sim_link.h"
#include "companion/net_io.h"
#include "config/config_image.h"
#include "net/remote_host.h"
#include "session/device_hub.h"

namespace {

using namespace qvm;
using namespace qvm::remote;
using std::chrono::milliseconds;
using Steady = std::chrono::steady_clock;

constexpr int kLatencySamples = 400;
constexpr double kLatencyTargetMs = 5;
constexpr int kFullHouseSamples = 100;
constexpr int kIdleCompanions = 100;
constexpr int kIdleSeconds = 5;
constexpr int kFloodConnections = 200;  // to each of the two TCP ports
constexpr int kFloodRounds = 10;
constexpr double kFloodTargetMs = 100;
constexpr milliseconds kWait{10'000};  // no single step of the benchmark takes longer
constexpr milliseconds kSettle{300};   // connection packets drained, closed sockets reaped
constexpr const char* kComputerName = "bench-remote";

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Steady::now().time_since_epoch())
        .count();
}

int64_t ProcessCpuNs() {
    timespec ts{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return int64_t{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec;
}

companion::Endpoint Loopback(uint16_t port) {
    return {{127, 0, 0, 1}, port};
}

// Sorted figures in milliseconds, printed as the other benchmarks print theirs.
std::string Summary(std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    char text[160];
    std::snprintf(text, sizeof text, "median %.3f ms, 99th percentile %.3f ms, max %.3f ms",
                  ms[ms.size() / 2], ms[ms.size() * 99 / 100], ms.back());
    return text;
}

double Percentile99(std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() * 99 / 100];
}

// Nothing is injected here: the benchmark sends no pointer moves.
class NoInjector final : public InputInjector {
  public:
    std::string Name() const override { return "none"; }
    Status MovePointer(int, int) override { return Refused(); }
    Status ScrollHorizontal(int) override { return Refused(); }
    Result<InjectPoint> PointerPosition() override { return Refused(); }
    bool CanTouch() const override { return false; }
    Status Touch(TouchPhase, InjectPoint) override { return Refused(); }

  private:
    static Error Refused() { return MakeError(ErrorKind::Other, "the benchmark injects nothing"); }
};

// ---- the idle companions' process -------------------------------------------------

bool ReadFull(int fd, void* into, std::size_t size) {
    auto* bytes = static_cast<char*>(into);
    for (std::size_t got = 0; got < size;) {
        const ssize_t n = ::read(fd, bytes + got, size - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        got += static_cast<std::size_t>(n);
    }
    return true;
}

bool WriteFull(int fd, const void* from, std::size_t size) {
    return ::send(fd, from, size, MSG_NOSIGNAL) == static_cast<ssize_t>(size);
}

// What the idle companions report when the control socket closes.
struct IdleReport {
    uint64_t bytesSinceMark = 0;
    uint32_t closedByService = 0;
};

// Told the status port on `control`, connects kIdleCompanions companions, answers one
// byte once they are connected, and reads whatever arrives until `control` closes. A byte
// on `control` marks the start of the measurement; the report counts from there.
[[noreturn]] void RunIdleCompanions(int control) {
    uint16_t port = 0;
    if (!ReadFull(control, &port, sizeof port)) ::_exit(1);
    std::vector<UniqueFd> companions;
    for (int i = 0; i < kIdleCompanions; ++i) {
        auto fd = companion::ConnectTcp(Loopback(port), kWait);
        if (!fd) {
            std::fprintf(stderr, "bench_remote: idle companion: %s\n", fd.message().c_str());
            ::_exit(1);
        }
        companions.push_back(std::move(*fd));
    }
    const char ready = 'r';
    if (!WriteFull(control, &ready, 1)) ::_exit(1);

    std::vector<pollfd> polls{{control, POLLIN, 0}};
    for (const UniqueFd& c : companions) polls.push_back({c.get(), POLLIN, 0});
    uint64_t received = 0;
    IdleReport report;
    std::array<uint8_t, 65536> buffer{};
    for (;;) {
        if (::poll(polls.data(), polls.size(), -1) < 0) continue;
        if (polls[0].revents != 0) {
            char mark = 0;
            if (::read(control, &mark, 1) != 1) break;  // closed: the measurement is over
            report.bytesSinceMark = received;
        }
        for (std::size_t i = 1; i < polls.size(); ++i) {
            if (polls[i].revents == 0) continue;
            const ssize_t n = ::recv(polls[i].fd, buffer.data(), buffer.size(), 0);
            if (n > 0) {
                received += static_cast<uint64_t>(n);
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                ++report.closedByService;
                polls[i].fd = -1;  // poll skips it from now on
            }
        }
    }
    report.bytesSinceMark = received - report.bytesSinceMark;
    WriteFull(control, &report, sizeof report);
    ::_exit(0);
}

struct IdleChild {
    pid_t pid = -1;
    UniqueFd control;
};

// Forks the idle companions' process; before any thread exists, as fork wants.
std::optional<IdleChild> ForkIdleCompanions() {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return std::nullopt;
    UniqueFd mine(pair[0]), theirs(pair[1]);
    const pid_t pid = ::fork();
    if (pid < 0) return std::nullopt;
    if (pid == 0) {
        mine.reset();
        RunIdleCompanions(theirs.get());
    }
    return IdleChild{pid, std::move(mine)};
}

// ---- the service in front of the hub ------------------------------------------------

struct Rig {
    std::filesystem::path folder;  // the simulated mouse's memory
    NoInjector injector;
    std::unique_ptr<DeviceHub> hub;
    std::unique_ptr<RemoteHost> host;
    std::atomic<int64_t> viewChangedNs{0};

    ~Rig() {
        if (host) host->Stop();
        if (hub) {
            hub->SetListener({});
            hub->WaitIdle();
        }
        host.reset();
        hub.reset();
        std::error_code ec;
        if (!folder.empty()) std::filesystem::remove_all(folder, ec);
    }

    // The hub on a simulated g12 whose control transfers cost usbCostMs, loaded; its view
    // changes reach the service the way the program passes them on.
    Status Open(int usbCostMs) {
        std::string pattern = (std::filesystem::temp_directory_path() / "qvm-bench-XXXXXX");
        if (::mkdtemp(pattern.data()) == nullptr) {
            return MakeError(ErrorKind::Io, "cannot create a temporary folder");
        }
        folder = pattern;
        DeviceHubOptions options;
        options.simulate = "g12/cost=" + std::to_string(usbCostMs);
        options.userDataFolder = folder.string();
        auto opened = DeviceHub::Open(options);
        if (!opened) return opened.error();
        hub = std::move(opened).value();
        hub->Refresh();
        hub->WaitIdle();
        if (!hub->Snapshot().present || !hub->Snapshot().image->loaded) {
            return MakeError(ErrorKind::Other, "the simulated mouse was not loaded");
        }
        host = std::make_unique<RemoteHost>(*hub, injector);
        HubListener listener;
        listener.viewChanged = [this] {
            viewChangedNs.store(NowNs());
            host->ViewChanged();
        };
        hub->SetListener(std::move(listener));

        RemoteHostOptions o;
        o.service.bindAddress = {127, 0, 0, 1};
        o.service.statusPort = o.service.datagramPort = o.service.requestPort = 0;
        o.service.announceTargets = [] { return std::vector<Ipv4Address>{}; };  // none
        o.computerName = kComputerName;
        return host->Start(o);
    }
};

// Reads status packets until one satisfies `want`; the time it was read, or none when
// the stream ended or stayed silent.
std::optional<int64_t> ReadStatusUntil(int fd,
                                       const std::function<bool(const DecodedStatus&)>& want) {
    StreamPacket packet{};
    for (;;) {
        if (Status read = companion::ReadExact(fd, packet, kWait); !read) {
            std::fprintf(stderr, "bench_remote: status stream: %s\n", read.message().c_str());
            return std::nullopt;
        }
        const int64_t at = NowNs();
        const DecodedStreamPacket decoded = DecodeStreamPacket(packet);
        if (decoded.kind == StreamKind::Status && want(decoded.status)) return at;
    }
}

double Ms(int64_t ns) {
    return double(ns) / 1e6;
}

bool Latency(Rig& rig) {
    auto companion = companion::ConnectTcp(Loopback(rig.host->Ports().status), kWait);
    if (!companion) {
        std::fprintf(stderr, "bench_remote: %s\n", companion.message().c_str());
        return false;
    }
    const int fd = companion->get();
    int stage = 0;  // the stage the last packet showed
    const auto first = [&](const DecodedStatus& s) {
        stage = s.currentStage;
        return true;
    };
    if (!ReadStatusUntil(fd, first)) return false;

    std::vector<double> queued, viewed, service;
    for (int i = 0; i < kLatencySamples; ++i) {
        stage = stage == 0 ? 1 : 0;
        const int64_t queuedNs = NowNs();
        rig.hub->Change(HubOperation::CurrentStage,
                        Setter(&ConfigModel::SetCurrentDpiStage, stage));
        const auto at =
            ReadStatusUntil(fd, [&](const DecodedStatus& s) { return s.currentStage == stage; });
        if (!at) return false;
        rig.hub->WaitIdle();  // the listener has run: its time is stored
        queued.push_back(Ms(*at - queuedNs));
        viewed.push_back(Ms(*at - rig.viewChangedNs.load()));
    }
    // The event rate is not marked by itself, so the first packet carrying a new rate is
    // the one the mark built, not a resend of the last.
    for (int i = 0; i < kLatencySamples; ++i) {
        const auto rate = static_cast<uint16_t>(1000 + i);
        rig.host->SetEventRate(rate);
        const int64_t markedNs = NowNs();
        rig.host->ViewChanged();
        const auto at =
            ReadStatusUntil(fd, [&](const DecodedStatus& s) { return s.eventRate == rate; });
        if (!at) return false;
        service.push_back(Ms(*at - markedNs));
    }
    const double p99 = Percentile99(viewed);
    std::printf(
        "latency, the stage changed through the hub to the companion's status packet "
        "showing it (%d changes, one companion):\n",
        kLatencySamples);
    std::printf("  view changed -> packet received: %s; target < %.0f ms (99th percentile): %s\n",
                Summary(viewed).c_str(), kLatencyTargetMs,
                p99 < kLatencyTargetMs ? "PASS" : "MISS");
    std::printf("  change queued -> packet received (with the mouse's memory write): %s\n",
                Summary(queued).c_str());
    std::printf("  the service alone, MarkAllClientsDirty -> packet received: %s\n",
                Summary(service).c_str());
    return true;
}

// The service alone with every slot taken: one mark, until the last of kStatusSlots
// companions in this process has read the packet it built. The companions are read one
// after the other, so the figure is an upper bound.
bool FullHouseLatency(Rig& rig) {
    std::vector<UniqueFd> companions;
    for (std::size_t i = 0; i < kStatusSlots; ++i) {
        auto fd = companion::ConnectTcp(Loopback(rig.host->Ports().status), kWait);
        if (!fd) {
            std::fprintf(stderr, "bench_remote: %s\n", fd.message().c_str());
            return false;
        }
        companions.push_back(std::move(*fd));
    }
    const auto any = [](const DecodedStatus&) { return true; };
    for (const UniqueFd& c : companions) {
        if (!ReadStatusUntil(c.get(), any)) return false;  // past the lists
    }
    std::vector<double> last;
    for (int i = 0; i < kFullHouseSamples; ++i) {
        const auto rate = static_cast<uint16_t>(2000 + i);
        rig.host->SetEventRate(rate);
        const int64_t markedNs = NowNs();
        rig.host->ViewChanged();
        int64_t lastNs = markedNs;
        for (const UniqueFd& c : companions) {
            const auto at = ReadStatusUntil(
                c.get(), [&](const DecodedStatus& s) { return s.eventRate == rate; });
            if (!at) return false;
            lastNs = std::max(lastNs, *at);
        }
        last.push_back(Ms(lastNs - markedNs));
    }
    std::printf(
        "  the service alone with all %zu slots taken, to the last companion's packet "
        "(%d marks): %s\n",
        kStatusSlots, kFullHouseSamples, Summary(last).c_str());
    return true;
}

bool IdleCpu(Rig& rig, IdleChild& child) {
    const uint16_t port = rig.host->Ports().status;
    char ready = 0;
    pollfd p{child.control.get(), POLLIN, 0};
    if (!WriteFull(child.control.get(), &port, sizeof port) ||
        ::poll(&p, 1, int(kWait.count()) * 2) != 1 || !ReadFull(child.control.get(), &ready, 1)) {
        std::fprintf(stderr, "bench_remote: the idle companions did not connect\n");
        return false;
    }
    std::this_thread::sleep_for(kSettle);
    const char mark = 'm';
    WriteFull(child.control.get(), &mark, 1);
    const int64_t cpuBefore = ProcessCpuNs();
    const uint64_t wakeBefore = rig.host->WakeUps();
    const auto start = Steady::now();
    std::this_thread::sleep_for(std::chrono::seconds(kIdleSeconds));
    const int64_t cpu = ProcessCpuNs() - cpuBefore;
    const uint64_t wakeUps = rig.host->WakeUps() - wakeBefore;
    const double wall = std::chrono::duration<double>(Steady::now() - start).count();

    ::shutdown(child.control.get(), SHUT_WR);
    IdleReport report;
    const bool reported = ReadFull(child.control.get(), &report, sizeof report);
    int exitStatus = 0;
    ::waitpid(child.pid, &exitStatus, 0);
    child.pid = -1;
    rusage companions{};
    ::getrusage(RUSAGE_CHILDREN, &companions);
    if (!reported || !WIFEXITED(exitStatus) || WEXITSTATUS(exitStatus) != 0) {
        std::fprintf(stderr, "bench_remote: the idle companions failed\n");
        return false;
    }
    const double resendsPerSecond = kIdleCompanions * 1000.0 / 22;
    std::printf("idle, %d companions connected that only read, %d s:\n", kIdleCompanions,
                kIdleSeconds);
    std::printf(
        "  service process CPU %.1f ms per second = %.1f%% of one core: its loop resending each "
        "companion its last status packet every 22 ms (%.0f sends of 400 bytes a second) and "
        "the kernel's loopback delivery of them, which is charged to the sender\n",
        Ms(cpu) / wall, Ms(cpu) / wall / 10, resendsPerSecond);
    std::printf(
        "  loop wake-ups %.1f a second; sent %.0f bytes a second (%.0f expected); "
        "companions closed by the service: %u\n",
        double(wakeUps) / wall, double(report.bytesSinceMark) / wall,
        resendsPerSecond * kStreamPacketSize, report.closedByService);
    const auto seconds = [](const timeval& t) {
        return double(t.tv_sec) + double(t.tv_usec) / 1e6;
    };
    std::printf("  (the companions' own process, not counted above: %.0f ms CPU in all)\n",
                1000 * (seconds(companions.ru_utime) + seconds(companions.ru_stime)));
    return true;
}

// One computer-name request, answered and read to the end; its time in ms, or none.
std::optional<double> AskName(uint16_t port, int64_t sinceNs) {
    auto fd = companion::ConnectTcp(Loopback(port), kWait);
    if (!fd) {
        std::fprintf(stderr, "bench_remote: name request: %s\n", fd.message().c_str());
        return std::nullopt;
    }
    const Request request = BuildRequest(NameRequest{});
    if (Status sent = companion::SendAll(fd->get(), request, kWait); !sent) {
        std::fprintf(stderr, "bench_remote: name request: %s\n", sent.message().c_str());
        return std::nullopt;
    }
    std::array<uint8_t, kNameReplySize> reply{};
    const Result<std::size_t> got = companion::ReadUntilClosed(fd->get(), reply, kWait);
    const int64_t at = NowNs();
    if (!got) {
        std::fprintf(stderr, "bench_remote: name request: %s\n", got.message().c_str());
        return std::nullopt;
    }
    if (DecodeNameReply(std::span(reply.data(), *got)) != kComputerName) {
        std::fprintf(stderr, "bench_remote: name request: a wrong reply\n");
        return std::nullopt;
    }
    return Ms(at - sinceNs);
}

// Non-blocking connections that send and read nothing.
void OpenSilent(std::vector<UniqueFd>& into, uint16_t port, int count) {
    const sockaddr_in to{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
    for (int i = 0; i < count; ++i) {
        UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&to), sizeof to);
        into.push_back(std::move(fd));
    }
}

// `statusCount` and `requestCount` silent connections opened at once, then a name request;
// from the first connection to the reply read, one figure a round.
std::optional<std::vector<double>> FloodRounds(const RemotePorts& ports, int statusCount,
                                               int requestCount) {
    std::vector<double> answered;
    for (int round = 0; round < kFloodRounds; ++round) {
        std::vector<UniqueFd> silent;
        const int64_t start = NowNs();
        OpenSilent(silent, ports.status, statusCount);
        OpenSilent(silent, ports.request, requestCount);
        const auto ms = AskName(ports.request, start);
        if (!ms) return std::nullopt;
        answered.push_back(*ms);
        silent.clear();
        std::this_thread::sleep_for(kSettle);  // the service closes them before the next round
    }
    return answered;
}

bool Flood(Rig& rig) {
    const RemotePorts ports = rig.host->Ports();
    std::vector<double> quiet;
    for (int round = 0; round < kFloodRounds; ++round) {
        const auto ms = AskName(ports.request, NowNs());
        if (!ms) return false;
        quiet.push_back(*ms);
    }
    const auto both = FloodRounds(ports, kFloodConnections, kFloodConnections);
    const auto statusOnly = FloodRounds(ports, kFloodConnections, 0);
    const auto requestOnly = FloodRounds(ports, 0, kFloodConnections);
    if (!both || !statusOnly || !requestOnly) return false;
    const double worst = *std::max_element(both->begin(), both->end());
    std::printf(
        "%d connections to the status port and %d to the request port at once, then a "
        "name request (%d rounds):\n",
        kFloodConnections, kFloodConnections, kFloodRounds);
    std::printf(
        "  from the first connection to the name answered: %s; target < %.0f ms (max): "
        "%s\n",
        Summary(*both).c_str(), kFloodTargetMs, worst < kFloodTargetMs ? "PASS" : "MISS");
    std::printf("  the status port's %d alone (each new companion gets its lists): %s\n",
                kFloodConnections, Summary(*statusOnly).c_str());
    std::printf("  the request port's %d alone: %s\n", kFloodConnections,
                Summary(*requestOnly).c_str());
    std::printf("  a name request on a quiet service: %s\n", Summary(quiet).c_str());
    // Nothing is left stuck: the flood's connections are gone and a request still passes.
    return AskName(ports.request, NowNs()).has_value();
}

}  // namespace

int main(int argc, char** argv) {
    const int usbCostMs = bench::ParseUsbCost(argc, argv, "bench_remote");
    if (usbCostMs < 0) return 2;
    std::optional<IdleChild> child = ForkIdleCompanions();
    if (!child) {
        std::perror("bench_remote: cannot start the idle companions");
        return 1;
    }
    bool ok = false;
    {
        Rig rig;
        if (Status opened = rig.Open(usbCostMs); !opened) {
            std::fprintf(stderr, "bench_remote: %s\n", opened.message().c_str());
        } else {
            ok = Latency(rig) && FullHouseLatency(rig) && IdleCpu(rig, *child) && Flood(rig);
        }
    }
    if (child->pid > 0) {
        child->control.reset();  // the companions end when the control socket closes
        ::waitpid(child->pid, nullptr, 0);
    }
    return ok ? 0 : 1;
}
