// A simulator the test keeps, lent to qvmctl sessions run in-process: its devices, their
// memory and their transfer counts outlive each run.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "cli/qvmctl.h"
#include "run_qvmctl.h"
#include "sim/sim_backend.h"

namespace qvm::cli {

// Lends the test's simulator to one qvmctl session: the devices, their memory and their
// transfer counts outlive the run.
class LentSimulator final : public HidBackend {
  public:
    explicit LentSimulator(SimBackend& sim) : sim_(sim) {}
    Result<std::vector<HidDeviceInfo>> Enumerate() override { return sim_.Enumerate(); }
    Result<std::unique_ptr<HidHandle>> Open(const std::string& path) override {
        return sim_.Open(path);
    }
    std::vector<HidEvent> TakeEvents() override { return sim_.TakeEvents(); }
    int EventFd() const override { return sim_.EventFd(); }

  private:
    SimBackend& sim_;
};

// Simulated devices kept in the test (a mouse first), and qvmctl run on them.
struct HeldMouse {
    std::unique_ptr<SimBackend> sim;

    explicit HeldMouse(const std::string& devices) {
        auto made = SimBackend::Create(devices, "");
        EXPECT_TRUE(made.ok()) << (made ? "" : made.message());
        if (made) sim = std::move(made).value();
    }
    SimDevice& Device(std::size_t index = 0) { return sim->Device(index); }
    std::vector<uint8_t> Memory() { return Device().PeekMemory(0, Device().Config().memorySize); }
    uint64_t MemoryWrites() { return Device().Stats().memoryWrites; }

    Outcome Run(const std::vector<std::string>& args, const std::string& input = "") {
        std::istringstream in(input);
        std::ostringstream out, err;
        SimBackend& lent = *sim;
        test::FakeEventRegistry events;  // no pulse reaches a program running here
        QvmctlEnv env;
        env.events = &events;
        env.backend = [&lent]() -> Result<std::unique_ptr<HidBackend>> {
            return std::unique_ptr<HidBackend>(std::make_unique<LentSimulator>(lent));
        };
        const int status = RunQvmctl(args, in, out, err, std::move(env));
        return {status, out.str(), err.str()};
    }
};

}  // namespace qvm::cli
