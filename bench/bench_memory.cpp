// Feature exchanges and wall time to read and to write 0x800 bytes of device memory,
// for a simulated device of each layout class, beside the lower bound that the
// device's pacing rules allow.
//
//   bench_memory [--usb-cost-ms N]    (default 1: every control transfer costs 1 ms)
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/pacing.h"
#include "bench/sim_link.h"

namespace {

using namespace qvm;
using bench::Cost;

constexpr int kBytes = 0x800;
constexpr uint32_t kAddress = 0x800;  // above the configuration area, clear of it

// Write: blocks of 32 bytes. Generation 0 stages six bytes a command (send only), sleeps
// 1 ms, commits with a 10 ms reply wait and sleeps 2 ms; the others send one block (send
// only) and sleep 1 ms.
Cost WriteBound(int generation) {
    Cost c;
    const long blocks = kBytes / 32;
    if (generation <= 0) {
        c.Exchange(-1, blocks * ((32 + 5) / 6));
        c.Exchange(10, blocks);
        c.sleepMs += blocks * (1 + 2);
    } else {
        c.Exchange(-1, blocks);
        c.sleepMs += blocks;
    }
    return c;
}

struct Measured {
    uint64_t exchanges = 0;
    uint64_t transfers = 0;
    double ms = 0;
};

template <class Fn>
Measured Measure(SimBackend& sim, Transport& transport, Fn&& fn) {
    const uint64_t before = transport.ExchangeCount();
    const SimTransferStats s0 = sim.TotalStats();
    const auto t0 = std::chrono::steady_clock::now();
    fn();
    const auto t1 = std::chrono::steady_clock::now();
    const SimTransferStats s1 = sim.TotalStats();
    return {transport.ExchangeCount() - before,
            (s1.getFeature + s1.setFeature) - (s0.getFeature + s0.setFeature),
            std::chrono::duration<double, std::milli>(t1 - t0).count()};
}

void Report(const char* what, int generation, const Measured& m, const Cost& bound, int cost) {
    std::printf(
        "%-6s gen %-3d exchanges %5llu (bound %5ld)  transfers %5llu (bound %5ld)  "
        "time %8.1f ms (bound %8.1f ms)\n",
        what, generation, static_cast<unsigned long long>(m.exchanges), bound.exchanges,
        static_cast<unsigned long long>(m.transfers), bound.transfers, m.ms, bound.Ms(cost));
}

}  // namespace

int main(int argc, char** argv) {
    const int usbCostMs = bench::ParseUsbCost(argc, argv, "bench_memory");
    if (usbCostMs < 0) return 2;
    std::printf("simulated USB cost: %d ms per control transfer\n", usbCostMs);

    for (int generation : {0, 5, 12}) {
        auto device = bench::SimLink::Open("g" + std::to_string(generation), usbCostMs);
        if (!device) return 1;
        const std::string& path = device->path;
        DeviceCommands& commands = device->commands;

        std::vector<uint8_t> data(kBytes);
        for (int i = 0; i < kBytes; ++i) data[i] = static_cast<uint8_t>(i * 7);
        std::vector<uint8_t> back(kBytes);
        bool ok = true;
        const Measured write = Measure(*device->sim, device->transport, [&] {
            ok = commands.WriteMemory(path, kAddress, data) && ok;
        });
        const Measured read = Measure(*device->sim, device->transport, [&] {
            ok = commands.ReadMemory(path, kAddress, back, false) && ok;
        });
        Report("read", generation, read, bench::ReadBound(generation, kBytes), usbCostMs);
        Report("write", generation, write, WriteBound(generation), usbCostMs);
        if (!ok || back != data) {
            std::fprintf(stderr, "bench_memory: generation %d did not read back what it wrote\n",
                         generation);
            return 1;
        }
    }
    return 0;
}
