#include "sim/sim_backend.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "sim/sim_grammar.h"

namespace qvm {

namespace {

// An open interface of a simulated device. It keeps the attachment it was opened under,
// so it fails for good once the device has left, even if the device comes back.
class SimHandle final : public HidHandle {
  public:
    SimHandle(std::shared_ptr<SimDevice> device, int iface, uint64_t epoch, HidCaps caps)
        : device_(std::move(device)), iface_(iface), epoch_(epoch), caps_(caps) {}

    const HidCaps& Caps() const override { return caps_; }
    bool GetFeature(std::span<uint8_t> buffer) override {
        return Note(device_->GetFeature(iface_, epoch_, buffer));
    }
    bool SetFeature(std::span<const uint8_t> report) override {
        return Note(device_->SetFeature(iface_, epoch_, report));
    }
    bool Write(std::span<const uint8_t> report) override {
        return Note(device_->Write(iface_, epoch_, report));
    }
    int Read(std::span<uint8_t> buffer, int timeoutMs) override {
        const int got = device_->Read(iface_, epoch_, buffer, timeoutMs);
        Note(got >= 0);
        return got;
    }
    int ReadyFd() const override { return device_->ReadyFd(iface_); }
    std::optional<std::vector<uint8_t>> IndexedString(int index) override {
        return device_->IndexedString(epoch_, index);
    }
    HidFailure LastFailure() const override { return failure_; }

  private:
    std::shared_ptr<SimDevice> device_;
    int iface_;
    uint64_t epoch_;
    HidCaps caps_;
    HidFailure failure_;

    // A failed transfer of a device that left (or left and came back: this handle's
    // attachment is over) is a departure; anything else a transfer the device refused.
    bool Note(bool ok) {
        if (ok) return true;
        const std::optional<uint64_t> now = device_->OpenEpoch();
        if (!now || *now != epoch_) {
            failure_ = {HidFailureKind::Gone, {}};
        } else {
            std::string refusal = device_->Refusal();
            failure_ = {HidFailureKind::Failed,
                        refusal.empty() ? "the simulated device did not answer" : refusal};
        }
        return false;
    }
};

}  // namespace

Result<std::unique_ptr<HidBackend>> MakeSimBackend(const std::string& devices,
                                                   const std::string& stateFolder,
                                                   SimStateReporter reporter) {
    auto backend =
        SimBackend::Create(devices, stateFolder, SystemClock::Instance(), std::move(reporter));
    if (!backend) return backend.error();
    return std::unique_ptr<HidBackend>(std::move(*backend));
}

Result<std::unique_ptr<SimBackend>> SimBackend::Create(const std::string& devices,
                                                       const std::string& stateFolder, Clock& clock,
                                                       SimStateReporter reporter) {
    auto configs = ParseSimDevices(devices);
    if (!configs) return configs.error();
    return std::make_unique<SimBackend>(*configs, stateFolder, clock, std::move(reporter));
}

SimBackend::SimBackend(const std::vector<SimDeviceConfig>& configs, std::string stateFolder,
                       Clock& clock, SimStateReporter reporter)
    : stateFolder_(std::move(stateFolder)),
      reporter_(std::move(reporter)),
      eventFd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    // Without an eventfd (-1) callers fall back to draining the events now and then.
    for (size_t i = 0; i < configs.size(); ++i) {
        auto device = std::make_shared<SimDevice>(configs[i], static_cast<int>(i), clock);
        device->SetPresenceHook(
            [this](const SimDevice& d, bool present) { OnPresence(d, present); });
        devices_.push_back(std::move(device));
    }
    if (!stateFolder_.empty()) {
        for (size_t i = 0; i < devices_.size(); ++i) {
            devices_[i]->KeepIn(std::make_unique<SimStateStore>(
                StateFile(i), devices_[i]->ImageSize(),
                [this](const SimStateNote& note) { OnStateNote(note); }));
        }
    }
    std::lock_guard lock(notesMutex_);
    starting_ = false;
}

SimBackend::~SimBackend() {
    // Handles may outlive the backend: stop devices from calling back into it first, and
    // from keeping their memory through stores that report to it. Nothing is left to
    // save: every write went to the state files at once.
    for (auto& device : devices_) {
        device->SetPresenceHook(nullptr);
        device->KeepIn(nullptr);
    }
}

std::string SimBackend::StateFile(size_t index) const {
    if (stateFolder_.empty()) return {};
    const SimDevice& device = *devices_.at(index);
    const std::string name =
        std::to_string(device.Index()) + "-" + device.Config().KindName() + ".mem";
    return (std::filesystem::path(stateFolder_) / name).string();
}

// Called with a device's lock and its state file's lock held (see the lock order above).
void SimBackend::OnStateNote(const SimStateNote& note) {
    bool starting = false;
    {
        std::lock_guard lock(notesMutex_);
        starting = starting_;
        if (starting) loadNotes_.push_back(note.message);
        if (note.lost && !lostWrite_) lostWrite_ = note.message;
    }
    if (reporter_) {
        reporter_(note);
    } else if (!starting) {
        std::fprintf(stderr, "qvm: %s\n", note.message.c_str());
    }
}

std::vector<std::string> SimBackend::LoadNotes() const {
    std::lock_guard lock(notesMutex_);
    return loadNotes_;
}

Status SimBackend::TakeLostWrite() {
    std::lock_guard lock(notesMutex_);
    if (!lostWrite_) return {};
    Status lost = MakeError(ErrorKind::Io, std::move(*lostWrite_));
    lostWrite_.reset();
    return lost;
}

Result<std::vector<HidDeviceInfo>> SimBackend::Enumerate() {
    std::vector<HidDeviceInfo> all;
    for (const auto& device : devices_) {
        if (!device->Present()) continue;
        const auto& infos = device->Interfaces();
        all.insert(all.end(), infos.begin(), infos.end());
    }
    return all;
}

SimDevice* SimBackend::FindDevice(const std::string& path) {
    for (const auto& device : devices_) {
        if (device->InterfaceOf(path) >= 0) return device.get();
    }
    return nullptr;
}

Result<std::unique_ptr<HidHandle>> SimBackend::Open(const std::string& path) {
    for (const auto& device : devices_) {
        const int iface = device->InterfaceOf(path);
        if (iface < 0) continue;
        const auto epoch = device->OpenEpoch();
        if (!epoch) {
            return MakeError(ErrorKind::DeviceGone,
                             "simulated device " + path + " is not attached");
        }
        HidCaps caps;
        for (const HidDeviceInfo& info : device->Interfaces()) {
            if (info.interfaceNumber == iface) caps = info.caps;
        }
        return std::unique_ptr<HidHandle>(std::make_unique<SimHandle>(device, iface, *epoch, caps));
    }
    return MakeError(ErrorKind::DeviceGone, "no simulated device has the path " + path);
}

std::vector<HidEvent> SimBackend::TakeEvents() {
    std::lock_guard lock(eventsMutex_);
    std::vector<HidEvent> taken(events_.begin(), events_.end());
    events_.clear();
    if (eventFd_.valid()) {
        // Resets the counter: the descriptor is readable again only after a new event.
        uint64_t count = 0;
        [[maybe_unused]] const ssize_t got = ::read(eventFd_.get(), &count, sizeof count);
    }
    return taken;
}

// Called by a device with its own lock held (lock order: device, then event queue).
void SimBackend::OnPresence(const SimDevice& device, bool present) {
    std::lock_guard lock(eventsMutex_);
    for (const HidDeviceInfo& info : device.Interfaces()) {
        HidEvent event;
        event.kind = present ? HidEventKind::Added : HidEventKind::Removed;
        event.info = info;
        events_.push_back(std::move(event));
    }
    if (eventFd_.valid()) {
        const uint64_t one = 1;
        // Cannot fail short of a counter overflow, which a pending signal makes harmless.
        [[maybe_unused]] const ssize_t put = ::write(eventFd_.get(), &one, sizeof one);
    }
}

SimTransferStats SimBackend::TotalStats() const {
    SimTransferStats total;
    for (const auto& device : devices_) {
        const SimTransferStats s = device->Stats();
        total.getFeature += s.getFeature;
        total.setFeature += s.setFeature;
        total.writes += s.writes;
        total.reads += s.reads;
        total.badFrames += s.badFrames;
        total.unknownCommands += s.unknownCommands;
        total.refusedCommands += s.refusedCommands;
        total.busyReplies += s.busyReplies;
        total.failedTransfers += s.failedTransfers;
        total.memoryWrites += s.memoryWrites;
    }
    return total;
}

}  // namespace qvm
