// Feature exchanges and wall time of the two long macro operations, for a simulated
// device of each layout class: storing a macro of 200 instructions into an empty memory,
// and compacting a macro memory in which 20 macros lie scattered (40 stored, every other
// one deleted). The scattered memory is prepared at no USB cost; only the measured
// operation pays the simulated cost.
//
//   bench_macro [--usb-cost-ms N]    (default 1: every control transfer costs 1 ms)
#include <chrono>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

#include "bench/sim_link.h"
#include "config/config_image.h"
#include "macro/macro_memory.h"

namespace {

using namespace qvm;

constexpr int kStoredInstructions = 200;
constexpr int kScatteredStored = 40;  // every other one is deleted again
constexpr int kScatteredInstructions = 12;

MacroItem Item(std::initializer_list<uint8_t> bytes) {
    return MakeMacroItem(std::span(bytes.begin(), bytes.size()));
}

// Key presses, releases, short waits and movements in turn: the mix a recording gives.
std::vector<MacroItem> Instructions(int count) {
    std::vector<MacroItem> items;
    for (int k = 0; k < count; ++k) {
        const auto u = static_cast<uint8_t>(0x04 + k % 26);  // A..Z
        switch (k % 4) {
            case 0:
                items.push_back(Item({0x83, u}));
                break;
            case 1:
                items.push_back(Item({0x88, 20}));
                break;
            case 2:
                items.push_back(Item({0x84, u}));
                break;
            default:
                items.push_back(Item({0x80, 3, 0, 0xFD, 0xFF}));
                break;
        }
    }
    return items;
}

struct Measured {
    uint64_t exchanges = 0;
    double ms = 0;
};

template <class Fn>
Measured Measure(bench::SimLink& device, Fn&& fn) {
    const uint64_t before = device.transport.ExchangeCount();
    const auto t0 = std::chrono::steady_clock::now();
    fn();
    const auto t1 = std::chrono::steady_clock::now();
    return {device.transport.ExchangeCount() - before,
            std::chrono::duration<double, std::milli>(t1 - t0).count()};
}

bool Check(const Status& s, const char* kind, const char* what) {
    if (!s) std::fprintf(stderr, "bench_macro: %s: %s: %s\n", kind, what, s.message().c_str());
    return s.ok();
}

// The store of one 200-instruction macro into slot 1 of an empty memory.
bool BenchStore(const char* kind, char layoutClass, int usbCostMs) {
    auto device = bench::SimLink::Open(kind, usbCostMs);
    if (!device) return false;
    ConfigModel model(device->commands, device->path);
    if (!Check(model.LoadConfiguration(), kind, "load")) return false;
    const auto items = Instructions(kStoredInstructions);
    Status stored;
    const Measured m =
        Measure(*device, [&] { stored = StoreMacro(model, 0, kMacroModeOnce, "bench", items); });
    if (!Check(stored, kind, "store")) return false;
    std::printf(
        "class %c (%-3s)  store %d instructions (%4d bytes)  exchanges %5llu  time %8.1f ms\n",
        layoutClass, kind, kStoredInstructions, model.Snapshot()->macros[0].length,
        static_cast<unsigned long long>(m.exchanges), m.ms);
    return true;
}

// Compaction of 20 macros with a hole before each.
bool BenchCompact(const char* kind, char layoutClass, int usbCostMs) {
    auto device = bench::SimLink::Open(kind, 0);
    if (!device) return false;
    ConfigModel model(device->commands, device->path);
    if (!Check(model.LoadConfiguration(), kind, "load")) return false;
    const auto items = Instructions(kScatteredInstructions);
    for (int slot = 0; slot < kScatteredStored; ++slot) {
        if (!Check(StoreMacro(model, slot, kMacroModeOnce, "m" + std::to_string(slot), items), kind,
                   "prepare")) {
            return false;
        }
    }
    for (int slot = 0; slot < kScatteredStored; slot += 2) {
        if (!Check(DeleteMacro(model, slot), kind, "prepare")) return false;
    }
    int32_t moved = 0;
    for (const MacroSlot& s : model.Snapshot()->macros) moved += s.length;
    device->SetUsbCost(usbCostMs);
    Status compacted;
    const Measured m = Measure(*device, [&] { compacted = CompactMacroMemory(model); });
    if (!Check(compacted, kind, "compact")) return false;
    std::printf(
        "class %c (%-3s)  compact %d macros (%4d bytes)       exchanges %5llu  time %8.1f ms\n",
        layoutClass, kind, kScatteredStored / 2, moved,
        static_cast<unsigned long long>(m.exchanges), m.ms);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const int usbCostMs = qvm::bench::ParseUsbCost(argc, argv, "bench_macro");
    if (usbCostMs < 0) return 2;
    std::printf("simulated USB cost: %d ms per control transfer\n", usbCostMs);
    struct Row {
        const char* kind;
        char layoutClass;
    };
    for (const Row& row : {Row{"g0", 'A'}, Row{"g5x", 'B'}, Row{"g12", 'C'}}) {
        if (!BenchStore(row.kind, row.layoutClass, usbCostMs)) return 1;
        if (!BenchCompact(row.kind, row.layoutClass, usbCostMs)) return 1;
    }
    return 0;
}
