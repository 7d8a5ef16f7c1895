// Feature exchanges and wall time of a full configuration load for a simulated device
// of each layout class, beside the least the pacing rules allow for reading the image
// alone (the load also asks status, live state, records and macro names).
//
//   bench_load [--usb-cost-ms N]    (default 1: every control transfer costs 1 ms)
#include <chrono>
#include <cstdio>
#include <string>

#include "bench/pacing.h"
#include "bench/sim_link.h"
#include "config/config_image.h"

int main(int argc, char** argv) {
    using namespace qvm;
    const int usbCostMs = bench::ParseUsbCost(argc, argv, "bench_load");
    if (usbCostMs < 0) return 2;
    std::printf("simulated USB cost: %d ms per control transfer\n", usbCostMs);

    struct Row {
        const char* kind;
        char layoutClass;
        long imageBytes;  // what the load reads of the configuration area
    };
    for (const Row& row : {Row{"g0", 'A', 0x400}, Row{"g5x", 'B', 0x800}, Row{"g12", 'C', 0x800}}) {
        auto device = bench::SimLink::Open(row.kind, usbCostMs);
        if (!device) return 1;
        ConfigModel model(device->commands, device->path);
        const uint64_t before = device->transport.ExchangeCount();
        const auto t0 = std::chrono::steady_clock::now();
        const Status loaded = model.LoadConfiguration();
        const auto t1 = std::chrono::steady_clock::now();
        if (!loaded) {
            std::fprintf(stderr, "bench_load: %s: %s\n", row.kind, loaded.message().c_str());
            return 1;
        }
        const bench::Cost bound =
            bench::ReadBound(device->values.Generation(device->path), row.imageBytes);
        std::printf(
            "class %c (%-3s)  exchanges %5llu (image alone %4ld)  time %8.1f ms "
            "(image alone %7.1f ms)\n",
            row.layoutClass, row.kind,
            static_cast<unsigned long long>(device->transport.ExchangeCount() - before),
            bound.exchanges, std::chrono::duration<double, std::milli>(t1 - t0).count(),
            bound.Ms(usbCostMs));
    }
    return 0;
}
