// A DeviceLink wired to simulated devices, with a backend shim in front of the
// simulator that can list interfaces that cannot be opened and inject events.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device/device_stack.h"
#include "sim/sim_backend.h"
#include "support/fake_clock.h"
#include "support/kept.h"

namespace qvm::test {

class ShimBackend final : public HidBackend {
  public:
    explicit ShimBackend(SimBackend& sim) : sim_(sim) {}

    // Lists an interface that cannot be opened.
    void AddUnopenable(HidDeviceInfo info) {
        std::lock_guard lock(m_);
        unopenable_.push_back(std::move(info));
    }
    void QueueEvent(HidEvent event) {
        std::lock_guard lock(m_);
        injected_.push_back(std::move(event));
    }
    Result<std::vector<HidDeviceInfo>> Enumerate() override {
        auto list = sim_.Enumerate();
        if (!list) return list;
        std::lock_guard lock(m_);
        list->insert(list->end(), unopenable_.begin(), unopenable_.end());
        return list;
    }
    Result<std::unique_ptr<HidHandle>> Open(const std::string& path) override {
        {
            std::lock_guard lock(m_);
            for (const HidDeviceInfo& u : unopenable_) {
                if (u.path == path) return MakeError(u.openError);
            }
        }
        return sim_.Open(path);
    }
    std::vector<HidEvent> TakeEvents() override {
        std::vector<HidEvent> out;
        {
            std::lock_guard lock(m_);
            out.swap(injected_);
        }
        for (HidEvent& e : sim_.TakeEvents()) out.push_back(std::move(e));
        return out;
    }

  private:
    SimBackend& sim_;
    mutable std::mutex m_;
    std::vector<HidDeviceInfo> unopenable_;
    std::vector<HidEvent> injected_;
};

inline std::unique_ptr<SimBackend> MakeSim(const std::string& devices, Clock& clock) {
    auto made = SimBackend::Create(devices, "", clock);
    EXPECT_TRUE(made.ok()) << (made ? "" : made.message());
    return made ? std::move(made).value() : nullptr;
}

struct LinkRig {
    FakeClock clock;
    std::unique_ptr<SimBackend> sim;
    ShimBackend* shim = nullptr;  // in front of the simulator; owned by the stack
    DeviceStack stack;
    DeviceValueTable& values;
    DeviceLink& link;

    explicit LinkRig(const std::string& devices)
        : sim(MakeSim(devices, clock)),
          stack(Kept(shim, std::make_unique<ShimBackend>(*sim)), clock, DeviceStack::LocalLocks()),
          values(stack.Values()),
          link(stack.Link()) {}

    SimDevice& Device(size_t i) { return sim->Device(i); }
    // The path of interface `number` of simulated device `i`.
    std::string PathOf(size_t i, int number) {
        for (const HidDeviceInfo& info : Device(i).Interfaces()) {
            if (info.interfaceNumber == number) return info.path;
        }
        ADD_FAILURE() << "device " << i << " has no interface " << number;
        return {};
    }
    // The interface the link identifies the device by: the configuration interface of a
    // mouse, the report pipe of a keyboard.
    std::string ConfigPath(size_t i) {
        for (const HidDeviceInfo& info : Device(i).Interfaces()) {
            if (info.caps.featureLength > 0 || info.caps.outputLength == 32) return info.path;
        }
        ADD_FAILURE() << "device " << i << " has no configuration interface";
        return {};
    }
};

inline uint64_t Transfers(const SimTransferStats& s) {
    return s.getFeature + s.setFeature + s.writes + s.reads;
}

inline int SleepsOf(const FakeClock& clock, int ms) {
    const auto sleeps = clock.Sleeps();
    return static_cast<int>(std::count(sleeps.begin(), sleeps.end(), ms));
}

}  // namespace qvm::test
