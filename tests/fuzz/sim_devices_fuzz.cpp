// Fuzz target for the simulator's device list (--simulate=DEVICES, --hid sim:DEVICES):
// any text must be parsed or refused with a message, and what parses must hold values
// inside the ranges the simulated devices are built from; the devices are then built.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "sim/sim_backend.h"
#include "sim/sim_grammar.h"

using qvm::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto configs = qvm::ParseSimDevices(text);
    if (!configs) {
        Require(!configs.message().empty());
        return 0;
    }
    Require(!configs->empty());
    for (const qvm::SimDeviceConfig& c : *configs) {
        if (!c.IsKeyboard()) {
            Require(c.generation >= 0 && c.generation <= 255);
            Require(c.memorySize >= 0x2000 && c.memorySize <= 0x10000);
            Require((c.memorySize & (c.memorySize - 1)) == 0);
        }
        Require(c.product.size() >= 1 && c.product.size() <= 63 * 4);
        Require(c.reports.size() <= 64);
        for (const auto& report : c.reports)
            Require(report.bytes.size() >= 1 && report.bytes.size() <= 16);
    }
    // Building many devices of 64 KiB each costs more than it finds.
    if (configs->size() <= 4) Require(qvm::MakeSimBackend(std::string(text), "").ok());
    return 0;
}
