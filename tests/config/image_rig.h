// A configuration model wired to one simulated mouse through the real command set and
// transport, with a fake clock. The device values are filled as discovery would.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "config/config_image.h"
#include "device/commands.h"
#include "sim/sim_backend.h"
#include "support/fake_clock.h"

namespace qvm::test {

struct ImageRig {
    FakeClock clock;
    std::unique_ptr<SimBackend> sim;
    LocalMutex lock;
    std::unique_ptr<Transport> transport;
    DeviceValueTable values;
    MemoryCache cache;
    std::unique_ptr<DeviceCommands> commands;
    std::string path;
    std::unique_ptr<ConfigModel> model;

    explicit ImageRig(const std::string& devices) {
        auto made = SimBackend::Create(devices, "", clock);
        EXPECT_TRUE(made.ok()) << (made ? "" : made.message());
        sim = std::move(made).value();
        transport = std::make_unique<Transport>(*sim, clock, lock);
        commands = std::make_unique<DeviceCommands>(*transport, values, cache);
        for (const auto& info : *sim->Enumerate()) {
            if (info.caps.featureLength > 0) path = info.path;
        }
        const SimDeviceConfig& config = Device().Config();
        const auto area = Device().InfoArea();
        DeviceValues v;
        v.ProtocolGeneration = config.generation;
        v.IdentByte1 = config.identByte1;
        v.IdentByte2 = config.identByte2;
        v.ExtendedLayoutFlag = config.extendedLayout ? 1 : 0;
        InfoRecord info{};
        std::copy_n(area.begin(), info.size(), info.begin());
        v.InfoPages = info;
        values.Set(path, v);
        cache.Activate(path, true);
        model = std::make_unique<ConfigModel>(*commands, path);
    }

    SimDevice& Device() { return sim->Device(0); }
    std::vector<uint8_t> Peek(uint32_t address, std::size_t length) {
        return Device().PeekMemory(address, length);
    }
    void Poke(uint32_t address, const std::vector<uint8_t>& bytes) {
        Device().PokeMemory(address, bytes);
    }
    std::shared_ptr<const ConfigImage> Image() { return model->Snapshot(); }
    void Load() {
        const Status s = model->LoadConfiguration();
        ASSERT_TRUE(s.ok()) << s.message();
    }
};

}  // namespace qvm::test
