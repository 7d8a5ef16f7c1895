// The setup the benchmarks share: the --usb-cost-ms option, and one simulated mouse
// behind the real transport, command set and discovery, found and switched to host mode.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "device/device_stack.h"
#include "platform/clock.h"
#include "sim/sim_backend.h"

namespace qvm::bench {

inline constexpr int kMaxUsbCostMs = 1000;

// Reads "[--usb-cost-ms N]" (default 1 ms a control transfer); prints the usage and
// returns -1 on anything else.
inline int ParseUsbCost(int argc, char** argv, const char* program) {
    int usbCostMs = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--usb-cost-ms") == 0 && i + 1 < argc) {
            usbCostMs = std::atoi(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: %s [--usb-cost-ms N]\n", program);
            return -1;
        }
    }
    if (usbCostMs < 0 || usbCostMs > kMaxUsbCostMs) {
        std::fprintf(stderr, "%s: --usb-cost-ms must be 0..%d\n", program, kMaxUsbCostMs);
        return -1;
    }
    return usbCostMs;
}

// One simulated mouse behind a device stack of this process alone.
struct SimLink {
    SimBackend* sim;  // owned by the stack
    DeviceStack stack;
    Transport& transport;
    DeviceValueTable& values;
    DeviceCommands& commands;
    DeviceLink& link;
    std::string path;

    explicit SimLink(std::unique_ptr<SimBackend> backend)
        : sim(backend.get()),
          stack(std::move(backend), SystemClock::Instance(), DeviceStack::LocalLocks()),
          transport(stack.GetTransport()),
          values(stack.Values()),
          commands(stack.Commands()),
          link(stack.Link()) {}

    // The simulated device `kind` (e.g. "g12") whose control transfers cost usbCostMs,
    // found and in host mode; prints why and returns null when that fails.
    static std::unique_ptr<SimLink> Open(const std::string& kind, int usbCostMs) {
        auto sim = SimBackend::Create(kind + "/cost=" + std::to_string(usbCostMs), "");
        if (!sim) {
            std::fprintf(stderr, "%s: %s\n", kind.c_str(), sim.message().c_str());
            return nullptr;
        }
        auto made = std::make_unique<SimLink>(std::move(sim).value());
        if (Status s = made->link.EnumerateDevices(); !s || made->link.DeviceList().empty()) {
            std::fprintf(stderr, "%s: no device found\n", kind.c_str());
            return nullptr;
        }
        made->path = made->link.DeviceList().front();
        if (Status s = made->link.ActivateDevice(made->path, true); !s) {
            std::fprintf(stderr, "%s: %s\n", kind.c_str(), s.message().c_str());
            return nullptr;
        }
        return made;
    }

    // Changes what each control transfer costs from now on.
    void SetUsbCost(int usbCostMs) {
        SimFaults faults = sim->Device(0).Faults();
        faults.costMs = usbCostMs;
        sim->Device(0).SetFaults(faults);
    }
};

}  // namespace qvm::bench
