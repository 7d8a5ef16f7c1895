// Fuzz target for how the host judges what a device answers: the simulated devices
// answer every request, and the input rewrites bytes of those answers (feature replies
// and input reports) before the host sees them. Identification, activation, learning the
// memory top and loading the configuration must survive any answer and give values
// inside the ranges the rest of the program indexes with.
//
// Input: byte 0 picks the mouse; then, per answer, one byte whose low two bits give a
// number of edits, each a position and a value. Once the input is spent the answers
// are the simulator's own.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "config/config_image.h"
#include "config/memory_top.h"
#include "device/device_stack.h"
#include "fuzz/fuzz_support.h"
#include "sim/sim_backend.h"
#include "support/fake_clock.h"

namespace {

using qvm::fuzz::Require;

class Edits {
  public:
    explicit Edits(std::span<const uint8_t> data) : data_(data) {}

    void Apply(std::span<uint8_t> answer) {
        if (at_ >= data_.size() || answer.empty()) return;
        const int count = data_[at_++] & 0x03;
        for (int i = 0; i < count && at_ + 1 < data_.size(); ++i, at_ += 2)
            answer[data_[at_] % answer.size()] = data_[at_ + 1];
    }

  private:
    std::span<const uint8_t> data_;
    std::size_t at_ = 0;
};

class EditedHandle final : public qvm::HidHandle {
  public:
    EditedHandle(std::unique_ptr<qvm::HidHandle> inner, Edits& edits)
        : inner_(std::move(inner)), edits_(edits) {}
    const qvm::HidCaps& Caps() const override { return inner_->Caps(); }
    bool GetFeature(std::span<uint8_t> buffer) override {
        const bool ok = inner_->GetFeature(buffer);
        if (ok) edits_.Apply(buffer);
        return ok;
    }
    bool SetFeature(std::span<const uint8_t> report) override { return inner_->SetFeature(report); }
    bool Write(std::span<const uint8_t> report) override { return inner_->Write(report); }
    int Read(std::span<uint8_t> buffer, int timeoutMs) override {
        const int n = inner_->Read(buffer, timeoutMs);
        if (n > 0) edits_.Apply(buffer.first(static_cast<std::size_t>(n)));
        return n;
    }
    std::optional<std::vector<uint8_t>> IndexedString(int index) override {
        return inner_->IndexedString(index);
    }
    qvm::HidFailure LastFailure() const override { return inner_->LastFailure(); }

  private:
    std::unique_ptr<qvm::HidHandle> inner_;
    Edits& edits_;
};

class EditedBackend final : public qvm::HidBackend {
  public:
    EditedBackend(std::unique_ptr<qvm::HidBackend> inner, Edits& edits)
        : inner_(std::move(inner)), edits_(edits) {}
    qvm::Result<std::vector<qvm::HidDeviceInfo>> Enumerate() override {
        return inner_->Enumerate();
    }
    qvm::Result<std::unique_ptr<qvm::HidHandle>> Open(const std::string& path) override {
        auto handle = inner_->Open(path);
        if (!handle) return handle.error();
        return std::unique_ptr<qvm::HidHandle>(
            std::make_unique<EditedHandle>(std::move(*handle), edits_));
    }
    std::vector<qvm::HidEvent> TakeEvents() override { return inner_->TakeEvents(); }

  private:
    std::unique_ptr<qvm::HidBackend> inner_;
    Edits& edits_;
};

void CheckImage(const qvm::ConfigImage& image) {
    Require(image.profileCount >= 0 && image.profileCount <= qvm::kProfileCount);
    Require(image.dpiStageCount >= 0 && image.dpiStageCount <= qvm::kDpiStageCount);
    Require(image.currentProfile >= 0 && image.currentProfile < qvm::kProfileCount);
    Require(image.currentDpiStage >= 0 && image.currentDpiStage < qvm::kDpiStageCount);
    Require(image.ButtonCount() >= 0 && image.ButtonCount() <= qvm::kMaxButtons);
    if (image.memoryTop) Require(*image.memoryTop <= 0xFFFF);
    for (const qvm::KeyCycleList& list : image.keyCycles) (void)list.Count();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    qvm::test::FakeClock clock;
    // One mouse of each protocol family: the 9-byte reports, the 64-byte ones with the
    // update bracket (plain and extended layout), and the newest generation.
    constexpr const char* kMice[] = {"g0", "g5", "g5x", "g12", "g12/mem=8k"};
    auto sim = qvm::SimBackend::Create(kMice[data[0] % std::size(kMice)], "", clock);
    Require(sim.ok());
    std::string path;
    for (const qvm::HidDeviceInfo& info : *(*sim)->Enumerate()) {
        if (info.caps.featureLength > 0) path = info.path;
    }
    Edits edits(std::span(data, size).subspan(1));
    qvm::DeviceStack stack(std::make_unique<EditedBackend>(std::move(*sim), edits), clock,
                           qvm::DeviceStack::LocalLocks());
    if (path.empty()) return 0;

    if (!stack.Link().IdentifyDevice(path)) return 0;
    if (!stack.Link().ActivateDevice(path, false)) return 0;
    if (const auto top = qvm::LearnMemoryTop(stack.Commands(), path)) Require(*top <= 0xFFFF);
    qvm::ConfigModel model(stack.Commands(), path);
    if (model.LoadConfiguration()) CheckImage(*model.Snapshot());
    return 0;
}
