// A backend between the device stack and a simulator that keeps the feature reports sent.
#pragma once

#include <mutex>
#include <vector>

#include "config/image_rig.h"
#include "platform/hid.h"
#include "sim/sim_backend.h"

namespace qvm::test {

class WireTap final : public HidBackend {
  public:
    explicit WireTap(std::unique_ptr<SimBackend> sim) : sim_(std::move(sim)) {}
    // Each report sent since the last call, without ID, check byte and trailing zeros.
    std::vector<std::vector<uint8_t>> TakeRequests() {
        std::lock_guard lock(m_);
        return std::exchange(requests_, {});
    }

    Result<std::vector<HidDeviceInfo>> Enumerate() override { return sim_->Enumerate(); }
    Result<std::unique_ptr<HidHandle>> Open(const std::string& path) override {
        auto inner = sim_->Open(path);
        if (!inner) return inner.error();
        return std::unique_ptr<HidHandle>(std::make_unique<Handle>(*this, std::move(*inner)));
    }
    std::vector<HidEvent> TakeEvents() override { return sim_->TakeEvents(); }

  private:
    class Handle final : public HidHandle {
      public:
        Handle(WireTap& tap, std::unique_ptr<HidHandle> inner)
            : tap_(tap), inner_(std::move(inner)) {}
        const HidCaps& Caps() const override { return inner_->Caps(); }
        bool GetFeature(std::span<uint8_t> buffer) override { return inner_->GetFeature(buffer); }
        bool SetFeature(std::span<const uint8_t> report) override {
            std::vector<uint8_t> bytes(report.begin() + 1, report.end() - 1);
            while (!bytes.empty() && bytes.back() == 0) bytes.pop_back();
            std::lock_guard lock(tap_.m_);
            tap_.requests_.push_back(std::move(bytes));
            return inner_->SetFeature(report);
        }
        bool Write(std::span<const uint8_t> report) override { return inner_->Write(report); }
        int Read(std::span<uint8_t> buffer, int ms) override { return inner_->Read(buffer, ms); }
        std::optional<std::vector<uint8_t>> IndexedString(int index) override {
            return inner_->IndexedString(index);
        }
        void CancelIo() override { inner_->CancelIo(); }
        HidFailure LastFailure() const override { return inner_->LastFailure(); }

      private:
        WireTap& tap_;
        std::unique_ptr<HidHandle> inner_;
    };

    std::unique_ptr<SimBackend> sim_;
    std::mutex m_;
    std::vector<std::vector<uint8_t>> requests_;
};

// A loaded configuration model on one simulated mouse, its requests tapped.
struct TappedMouse : ImageRig {
    explicit TappedMouse(const std::string& devices)
        : ImageRig(devices, [](std::unique_ptr<SimBackend> sim) {
              return std::unique_ptr<HidBackend>(std::make_unique<WireTap>(std::move(sim)));
          }) {}
    WireTap* tap = static_cast<WireTap*>(&stack->Backend());  // owned by the stack
};

}  // namespace qvm::test
