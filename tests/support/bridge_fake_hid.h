// A small HID backend for the device bridge's tests: devices with feature reports kept
// per report ID (a get answers what the last set stored, padded or cut to the length
// asked for), queued input reports, indexed strings, scripted failures and queued
// arrival/removal events. Thread-safe.
#pragma once

#include <algorithm>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/hid.h"

namespace qvm::test {

class BridgeFakeHid final : public HidBackend {
  public:
    struct Device {
        HidDeviceInfo info;
        std::map<uint8_t, std::vector<uint8_t>> features;  // by report ID
        std::deque<std::vector<uint8_t>> inputs;
        std::vector<std::vector<uint8_t>> written;  // output reports, in order
        std::map<int, std::vector<uint8_t>> strings;
        int failures = 0;  // the next N operations of any handle fail
        int opens = 0;
        int reads = 0;            // Read calls, answered or not
        int inputAfterReads = 0;  // the queued inputs show only from this many reads on
    };

    void Add(HidDeviceInfo info) {
        std::lock_guard lock(m_);
        devices_.push_back(std::make_shared<Device>(Device{.info = std::move(info)}));
    }
    // Runs `f` on the device with `path` under the fake's lock.
    template <class F>
    void With(const std::string& path, F f) {
        std::lock_guard lock(m_);
        f(*Find(path));
    }
    void QueueEvent(HidEvent event) {
        std::lock_guard lock(m_);
        events_.push_back(std::move(event));
    }
    void Remove(const std::string& path) {
        std::lock_guard lock(m_);
        std::erase_if(devices_, [&](const auto& d) { return d->info.path == path; });
    }

    Result<std::vector<HidDeviceInfo>> Enumerate() override {
        std::lock_guard lock(m_);
        std::vector<HidDeviceInfo> out;
        for (const auto& d : devices_) out.push_back(d->info);
        return out;
    }
    Result<std::unique_ptr<HidHandle>> Open(const std::string& path) override {
        std::lock_guard lock(m_);
        auto device = Find(path);
        if (!device) return MakeError("no such device");
        ++device->opens;
        return std::unique_ptr<HidHandle>(std::make_unique<Handle>(*this, device));
    }
    std::vector<HidEvent> TakeEvents() override {
        std::lock_guard lock(m_);
        return std::exchange(events_, {});
    }

  private:
    class Handle final : public HidHandle {
      public:
        Handle(BridgeFakeHid& owner, std::shared_ptr<Device> device)
            : owner_(owner), device_(std::move(device)), caps_(device_->info.caps) {}
        const HidCaps& Caps() const override { return caps_; }
        bool GetFeature(std::span<uint8_t> buffer) override {
            std::lock_guard lock(owner_.m_);
            if (Fails()) return false;
            const auto& stored = device_->features[buffer[0]];
            std::fill(buffer.begin() + 1, buffer.end(), 0);
            std::copy_n(stored.begin(), std::min(stored.size(), buffer.size()), buffer.begin());
            return true;
        }
        bool SetFeature(std::span<const uint8_t> report) override {
            std::lock_guard lock(owner_.m_);
            if (Fails()) return false;
            device_->features[report[0]].assign(report.begin(), report.end());
            return true;
        }
        bool Write(std::span<const uint8_t> report) override {
            std::lock_guard lock(owner_.m_);
            if (Fails()) return false;
            device_->written.emplace_back(report.begin(), report.end());
            return true;
        }
        int Read(std::span<uint8_t> buffer, int) override {
            std::lock_guard lock(owner_.m_);
            if (Fails()) return -1;
            ++device_->reads;
            if (device_->inputs.empty() || device_->reads <= device_->inputAfterReads) return 0;
            auto report = std::move(device_->inputs.front());
            device_->inputs.pop_front();
            std::size_t n = std::min(report.size(), buffer.size());
            std::copy_n(report.begin(), n, buffer.begin());
            return static_cast<int>(n);
        }
        std::optional<std::vector<uint8_t>> IndexedString(int index) override {
            std::lock_guard lock(owner_.m_);
            if (Fails()) return std::nullopt;
            auto it = device_->strings.find(index);
            if (it == device_->strings.end()) return std::nullopt;
            return it->second;
        }

      private:
        bool Fails() {
            if (device_->failures == 0) return false;
            --device_->failures;
            return true;
        }
        BridgeFakeHid& owner_;
        std::shared_ptr<Device> device_;
        HidCaps caps_;
    };

    std::shared_ptr<Device> Find(const std::string& path) {
        for (const auto& d : devices_) {
            if (d->info.path == path) return d;
        }
        return nullptr;
    }

    std::mutex m_;
    std::vector<std::shared_ptr<Device>> devices_;
    std::vector<HidEvent> events_;
};

}  // namespace qvm::test
