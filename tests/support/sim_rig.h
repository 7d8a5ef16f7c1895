// One simulated device wired to the real transport and command set, with a fake clock,
// and its per-device values filled from the simulator's own description as the probe
// would fill them.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "device/device_stack.h"
#include "sim/sim_backend.h"
#include "support/fake_clock.h"

namespace qvm::test {

struct SimRig {
    FakeClock clock;
    std::unique_ptr<DeviceStack> stack;
    SimBackend* sim = nullptr;  // owned by the stack
    Transport* transport = nullptr;
    DeviceCommands* commands = nullptr;
    std::string path;  // the configuration interface of device 0

    // Puts a backend of the test's own between the stack and the simulator (one that
    // records what goes out, say); it owns the simulator it is given.
    using Wrap = std::function<std::unique_ptr<HidBackend>(std::unique_ptr<SimBackend>)>;

    explicit SimRig(const std::string& devices, const Wrap& wrap = {}) {
        auto made = SimBackend::Create(devices, "", clock);
        EXPECT_TRUE(made.ok()) << (made ? "" : made.message());
        sim = made->get();
        std::unique_ptr<HidBackend> backend =
            wrap ? wrap(std::move(made).value()) : std::move(made).value();
        stack = std::make_unique<DeviceStack>(std::move(backend), clock, DeviceStack::LocalLocks());
        transport = &stack->GetTransport();
        commands = &stack->Commands();
        DeviceValueTable& values = stack->Values();
        for (const auto& info : *sim->Enumerate()) {
            if (info.caps.featureLength > 0 && path.empty()) path = info.path;
        }
        const SimDeviceConfig& config = Device().Config();
        const auto area = Device().InfoArea();
        DeviceValues v;
        v.ProtocolGeneration = config.generation;
        v.IdentByte1 = config.identByte1;
        v.IdentByte2 = config.identByte2;
        v.ExtendedLayoutFlag = config.extendedLayout || config.generation >= 11 ? 1 : 0;
        InfoRecord info{};
        std::copy_n(area.begin(), info.size(), info.begin());
        v.InfoPages = info;
        values.Set(path, v);
        stack->Cache().Activate(path, true);
    }

    SimDevice& Device() { return sim->Device(0); }
    SimMouseState State() { return Device().MouseState(); }
    std::vector<uint8_t> Peek(uint32_t address, std::size_t length) {
        return Device().PeekMemory(address, length);
    }
    void Poke(uint32_t address, const std::vector<uint8_t>& bytes) {
        Device().PokeMemory(address, bytes);
    }
};

}  // namespace qvm::test
