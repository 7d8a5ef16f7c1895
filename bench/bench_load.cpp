// Feature exchanges and wall time of a full configuration load for a simulated device
// of each layout class, beside the least the pacing rules allow for reading the image
// alone (the load also asks status, live state, records and macro names).
//
//   bench_load [--usb-cost-ms N]    (default 1: every control transfer costs 1 ms)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/pacing.h"
#include "config/config_image.h"
#include "device/discovery.h"
#include "platform/named_mutex.h"
#include "sim/sim_backend.h"

int main(int argc, char** argv) {
    using namespace qvm;
    int usbCostMs = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--usb-cost-ms") == 0 && i + 1 < argc) {
            usbCostMs = std::atoi(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: bench_load [--usb-cost-ms N]\n");
            return 2;
        }
    }
    if (usbCostMs < 0 || usbCostMs > 1000) {
        std::fprintf(stderr, "bench_load: --usb-cost-ms must be 0..1000\n");
        return 2;
    }
    std::printf("simulated USB cost: %d ms per control transfer\n", usbCostMs);

    struct Row {
        const char* kind;
        char layoutClass;
        long imageBytes;  // what the load reads of the configuration area
    };
    for (const Row& row : {Row{"g0", 'A', 0x400}, Row{"g5x", 'B', 0x800}, Row{"g12", 'C', 0x800}}) {
        auto sim =
            SimBackend::Create(std::string(row.kind) + "/cost=" + std::to_string(usbCostMs), "");
        if (!sim) {
            std::fprintf(stderr, "bench_load: %s\n", sim.message().c_str());
            return 1;
        }
        LocalMutex transportLock, listLock;
        Transport transport(**sim, SystemClock::Instance(), transportLock);
        DeviceValueTable values;
        MemoryCache cache;
        DeviceCommands commands(transport, values, cache);
        DeviceLink link(**sim, commands, listLock, SystemClock::Instance());
        if (Status s = link.EnumerateDevices(); !s || link.DeviceList().empty()) {
            std::fprintf(stderr, "bench_load: %s found no device\n", row.kind);
            return 1;
        }
        const std::string path = link.DeviceList().front();
        if (Status s = link.ActivateDevice(path, true); !s) {
            std::fprintf(stderr, "bench_load: %s\n", s.message().c_str());
            return 1;
        }
        ConfigModel model(commands, path);
        const uint64_t before = transport.ExchangeCount();
        const auto t0 = std::chrono::steady_clock::now();
        const Status loaded = model.LoadConfiguration();
        const auto t1 = std::chrono::steady_clock::now();
        if (!loaded) {
            std::fprintf(stderr, "bench_load: %s: %s\n", row.kind, loaded.message().c_str());
            return 1;
        }
        const bench::Cost bound = bench::ReadBound(values.Generation(path), row.imageBytes);
        std::printf(
            "class %c (%-3s)  exchanges %5llu (image alone %4ld)  time %8.1f ms "
            "(image alone %7.1f ms)\n",
            row.layoutClass, row.kind,
            static_cast<unsigned long long>(transport.ExchangeCount() - before), bound.exchanges,
            std::chrono::duration<double, std::milli>(t1 - t0).count(), bound.Ms(usbCostMs));
    }
    return 0;
}
