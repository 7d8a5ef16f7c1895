// A DeviceLink wired to simulated devices, with a backend shim in front of the
// simulator that can show a simulated interface under another path or with other
// capabilities, list interfaces that cannot be opened, inject events and count opens.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "device/commands.h"
#include "device/discovery.h"
#include "sim/sim_backend.h"
#include "support/fake_clock.h"

namespace qvm::test {

class CapsOverrideHandle final : public HidHandle {
  public:
    CapsOverrideHandle(std::unique_ptr<HidHandle> inner, HidCaps caps)
        : inner_(std::move(inner)), caps_(caps) {}
    const HidCaps& Caps() const override { return caps_; }
    bool GetFeature(std::span<uint8_t> b) override { return inner_->GetFeature(b); }
    bool SetFeature(std::span<const uint8_t> r) override { return inner_->SetFeature(r); }
    bool Write(std::span<const uint8_t> r) override { return inner_->Write(r); }
    int Read(std::span<uint8_t> b, int t) override { return inner_->Read(b, t); }
    std::optional<std::vector<uint8_t>> IndexedString(int i) override {
        return inner_->IndexedString(i);
    }

  private:
    std::unique_ptr<HidHandle> inner_;
    HidCaps caps_;
};

class ShimBackend final : public HidBackend {
  public:
    explicit ShimBackend(SimBackend& sim) : sim_(sim) {}

    // Shows the simulated interface `target` also as `path`, optionally with other caps.
    void Alias(const std::string& path, const std::string& target,
               std::optional<HidCaps> caps = {}) {
        std::lock_guard lock(m_);
        aliases_[path] = {target, caps};
    }
    // Lists an interface that cannot be opened.
    void AddUnopenable(HidDeviceInfo info) {
        std::lock_guard lock(m_);
        unopenable_.push_back(std::move(info));
    }
    void QueueEvent(HidEvent event) {
        std::lock_guard lock(m_);
        injected_.push_back(std::move(event));
    }
    int Opens(const std::string& path) const {
        std::lock_guard lock(m_);
        auto it = opens_.find(path);
        return it == opens_.end() ? 0 : it->second;
    }

    Result<std::vector<HidDeviceInfo>> Enumerate() override {
        auto list = sim_.Enumerate();
        if (!list) return list;
        std::vector<HidDeviceInfo> out = *list;
        std::lock_guard lock(m_);
        for (const auto& [path, alias] : aliases_) {
            for (const HidDeviceInfo& info : *list) {
                if (info.path != alias.target) continue;
                HidDeviceInfo copy = info;
                copy.path = path;
                if (alias.caps) copy.caps = *alias.caps;
                out.push_back(copy);
            }
        }
        out.insert(out.end(), unopenable_.begin(), unopenable_.end());
        return out;
    }
    Result<std::unique_ptr<HidHandle>> Open(const std::string& path) override {
        std::optional<std::pair<std::string, std::optional<HidCaps>>> alias;
        {
            std::lock_guard lock(m_);
            ++opens_[path];
            for (const HidDeviceInfo& u : unopenable_) {
                if (u.path == path) return MakeError(u.openError);
            }
            auto it = aliases_.find(path);
            if (it != aliases_.end()) alias = {{it->second.target, it->second.caps}};
        }
        if (!alias) return sim_.Open(path);
        auto inner = sim_.Open(alias->first);
        if (!inner || !alias->second) return inner;
        return std::unique_ptr<HidHandle>(
            std::make_unique<CapsOverrideHandle>(std::move(inner).value(), *alias->second));
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
    struct AliasTarget {
        std::string target;
        std::optional<HidCaps> caps;
    };
    SimBackend& sim_;
    mutable std::mutex m_;
    std::map<std::string, AliasTarget> aliases_;
    std::vector<HidDeviceInfo> unopenable_;
    std::vector<HidEvent> injected_;
    std::map<std::string, int> opens_;
};

inline std::unique_ptr<SimBackend> MakeSim(const std::string& devices, Clock& clock) {
    auto made = SimBackend::Create(devices, "", clock);
    EXPECT_TRUE(made.ok()) << (made ? "" : made.message());
    return made ? std::move(made).value() : nullptr;
}

struct LinkRig {
    FakeClock clock;
    std::unique_ptr<SimBackend> sim;
    ShimBackend shim;
    LocalMutex transportLock;
    LocalMutex listLock;
    Transport transport;
    DeviceValueTable values;
    MemoryCache cache;
    DeviceCommands commands;
    DeviceLink link;

    explicit LinkRig(const std::string& devices)
        : sim(MakeSim(devices, clock)),
          shim(*sim),
          transport(shim, clock, transportLock),
          commands(transport, values, cache),
          link(shim, commands, listLock, clock) {}

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
    HidDeviceInfo InfoOf(const std::string& path) {
        for (const HidDeviceInfo& info : *sim->Enumerate()) {
            if (info.path == path) return info;
        }
        ADD_FAILURE() << "no interface " << path;
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
