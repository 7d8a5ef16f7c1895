// A backend between the device stack and a simulator that keeps every feature report
// and output report the host sends, so tests see the exact bytes while the simulated
// firmware answers as a device would.
#pragma once

#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "config/image_rig.h"
#include "platform/hid.h"
#include "sim/sim_backend.h"

namespace qvm::test {

class WireTap final : public HidBackend {
  public:
    explicit WireTap(std::unique_ptr<SimBackend> sim) : sim_(std::move(sim)) {}

    // Bytes 1.. of each feature report sent (the report ID and the check byte dropped:
    // the transport's tests cover them), trailing zeros trimmed.
    std::vector<std::vector<uint8_t>> Requests() const {
        std::lock_guard lock(m_);
        return requests_;
    }
    void Clear() {
        std::lock_guard lock(m_);
        requests_.clear();
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
            tap_.Keep(report);
            return inner_->SetFeature(report);
        }
        bool Write(std::span<const uint8_t> report) override { return inner_->Write(report); }
        int Read(std::span<uint8_t> buffer, int timeoutMs) override {
            return inner_->Read(buffer, timeoutMs);
        }
        std::optional<std::vector<uint8_t>> IndexedString(int index) override {
            return inner_->IndexedString(index);
        }
        void CancelIo() override { inner_->CancelIo(); }
        HidFailure LastFailure() const override { return inner_->LastFailure(); }

      private:
        WireTap& tap_;
        std::unique_ptr<HidHandle> inner_;
    };

    void Keep(std::span<const uint8_t> report) {
        // The 64-byte frames end with a check byte; the 9-byte ones are not used here.
        std::vector<uint8_t> bytes(report.begin() + 1, report.end() - 1);
        while (!bytes.empty() && bytes.back() == 0) bytes.pop_back();
        std::lock_guard lock(m_);
        requests_.push_back(std::move(bytes));
    }

    std::unique_ptr<SimBackend> sim_;
    mutable std::mutex m_;
    std::vector<std::vector<uint8_t>> requests_;
};

// A loaded configuration model on one simulated mouse, with the host's requests tapped.
struct TappedMouse : ImageRig {
    WireTap* tap = nullptr;  // owned by the stack

    explicit TappedMouse(const std::string& devices)
        : ImageRig(devices, [](std::unique_ptr<SimBackend> sim) {
              return std::unique_ptr<HidBackend>(std::make_unique<WireTap>(std::move(sim)));
          }) {
        tap = static_cast<WireTap*>(&stack->Backend());
    }
};

}  // namespace qvm::test
