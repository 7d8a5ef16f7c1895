#include "sim/sim_device.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "base/event_fd.h"
#include "sim/sim_wire.h"

namespace qvm {

namespace {

constexpr uint16_t kPageDesktop = 0x0001;
constexpr uint16_t kPageConfig = 0xFF18;
constexpr uint16_t kPageVendor = 0xFF23;
constexpr uint16_t kUsageMouse = 2;
constexpr uint16_t kUsageKeyboard = 6;
constexpr uint8_t kCorruptPattern = 0xA5;
// A status report's stage and profile are the low three bits of their bytes.
constexpr uint8_t kStatusIndexMask = 0x07;

// Interfaces of each family: number, role, usage page, usage, feature, input and output
// report lengths (report-ID byte included).
struct InterfaceRow {
    int number;
    SimRole role;
    HidCaps caps;
};

constexpr InterfaceRow kShortMouse[] = {
    {0, SimRole::Config, {kPageDesktop, kUsageMouse, 9, 8, 0}},
    {1, SimRole::Vendor, {kPageVendor, 1, 0, kSimVendorReportLength, 0}},
};
constexpr InterfaceRow kLongMouse[] = {
    {0, SimRole::Mouse, {kPageDesktop, kUsageMouse, 0, 8, 0}},
    {1, SimRole::Config, {kPageConfig, 1, 64, 0, 0}},
    {2, SimRole::Vendor, {kPageVendor, 1, 0, kSimVendorReportLength, 0}},
};
constexpr InterfaceRow kClassCMouse[] = {
    {0, SimRole::Mouse, {kPageDesktop, kUsageMouse, 0, 8, 0}},
    {1, SimRole::Vendor, {kPageVendor, 1, 0, kSimVendorReportLength, 0}},
    {2, SimRole::Config, {kPageConfig, 1, 64, 0, 0}},
};
constexpr InterfaceRow kKeyboard[] = {
    {0, SimRole::KeyboardBoot, {kPageDesktop, kUsageKeyboard, 0, 9, 2}},
    {1, SimRole::Config, {kPageDesktop, 0, 0, kSimKeyboardReportLength, kSimKeyboardReportLength}},
};

std::span<const InterfaceRow> InterfaceRows(const SimDeviceConfig& config) {
    if (config.IsKeyboard()) return kKeyboard;
    if (config.generation <= 0) return kShortMouse;
    if (config.generation <= 10) return kLongMouse;
    return kClassCMouse;
}

std::string InterfacePath(const SimDeviceConfig& config, int index, int number) {
    char text[96];
    std::snprintf(text, sizeof text, "sim#vid_%04x&pid_%04x&mi_%02d#d%di%d", kSimVendorId,
                  config.productId, number, index, number);
    return text;
}

void Corrupt(std::span<uint8_t> bytes, int first) {
    for (size_t i = first; i + 1 < bytes.size(); ++i) bytes[i] ^= kCorruptPattern;
    bytes.back() = static_cast<uint8_t>(SimCheckByte(bytes) ^ 0xFF);
}

}  // namespace

SimDevice::SimDevice(const SimDeviceConfig& config, int index, Clock& clock)
    : config_(config), index_(index), clock_(clock), faults_(config.faults) {
    for (const InterfaceRow& row : InterfaceRows(config)) {
        interfaces_.push_back({row.number, row.role, row.caps});
        HidDeviceInfo info;
        info.path = InterfacePath(config, index, row.number);
        info.vendorId = kSimVendorId;
        info.productId = config.productId;
        info.interfaceNumber = row.number;
        info.caps = row.caps;
        info.serial = config.Serial();
        info.product = config.product;
        info.container = "sim-" + std::to_string(index);
        infos_.push_back(std::move(info));
    }
    queues_.resize(interfaces_.size() + 1);
    // Without an eventfd (-1) the interface simply offers no ready descriptor.
    for (size_t i = 0; i < queues_.size(); ++i) {
        readyFds_.emplace_back(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    }
    if (config.IsKeyboard()) {
        keyboard_ = std::make_unique<SimKeyboard>(config);
    } else {
        mouse_ = std::make_unique<SimMouse>(config);
        ReleaseReports(config.reports);
    }
}

void SimDevice::ReleaseReports(std::span<const SimDeviceConfig::TimedReport> reports) {
    std::size_t first = 0;
    for (; first < reports.size() && reports[first].afterMs == 0; ++first) {
        Queue(VendorInterface(), reports[first].bytes);
    }
    if (first == reports.size()) return;
    // The rest come later, as a mouse sends them while it is used: one thread sleeps
    // until each is due and ends after the last (or when the device goes away).
    std::vector<SimDeviceConfig::TimedReport> later(reports.begin() + first, reports.end());
    releaser_ = std::jthread([this, later = std::move(later)](std::stop_token stop) {
        std::mutex waitMutex;
        std::condition_variable_any wake;
        for (const SimDeviceConfig::TimedReport& report : later) {
            std::unique_lock wait(waitMutex);
            wake.wait_for(wait, stop, std::chrono::milliseconds(report.afterMs),
                          [] { return false; });
            if (stop.stop_requested()) return;
            SendLater(report.bytes);
        }
    });
}

void SimDevice::SendLater(const std::vector<uint8_t>& report) {
    std::lock_guard lock(mutex_);
    // A status report tells what the user just did on the mouse (a DPI or profile button):
    // the device is in that state from now on, so that what the host reads agrees.
    if (const std::optional<SimLiveView> view = ReadStatusReport(report); view && mouse_) {
        [[maybe_unused]] const bool kept = Kept([&] {
            mouse_->SelectStage(view->stage & kStatusIndexMask);
            mouse_->SelectProfile(view->profile & kStatusIndexMask);
        });
        mouse_->TakeReports();  // the report that says so is this one
    }
    Queue(VendorInterface(), report);
}

int SimDevice::InterfaceOf(const std::string& path) const {
    for (size_t i = 0; i < infos_.size(); ++i) {
        if (infos_[i].path == path) return infos_[i].interfaceNumber;
    }
    return -1;
}

int SimDevice::VendorInterface() const {
    for (const SimInterface& i : interfaces_) {
        if (i.role == SimRole::Vendor) return i.number;
    }
    return -1;
}

const SimInterface* SimDevice::Find(int iface) const {
    for (const SimInterface& i : interfaces_) {
        if (i.number == iface) return &i;
    }
    return nullptr;
}

std::optional<uint64_t> SimDevice::OpenEpoch() const {
    std::lock_guard lock(mutex_);
    if (!present_) return std::nullopt;
    return epoch_;
}

bool SimDevice::Present() const {
    std::lock_guard lock(mutex_);
    return present_;
}

std::string SimDevice::Refusal() const {
    Lock lock(mutex_);
    return refusal_;
}

bool SimDevice::BeginTransfer(uint64_t epoch, uint64_t& counter, bool control) {
    ++counter;
    refusal_.clear();
    if (!present_ || epoch != epoch_) {
        ++stats_.failedTransfers;
        return false;
    }
    if (control && faults_.costMs > 0) clock_.SleepMs(faults_.costMs);
    return true;
}

// Counts the transfer towards a pending removal.
void SimDevice::EndTransfer() {
    if (faults_.removeAfter > 0 && --faults_.removeAfter == 0) DetachLocked();
}

bool SimDevice::GetFeature(int iface, uint64_t epoch, std::span<uint8_t> buffer) {
    Lock lock(mutex_);
    if (!BeginTransfer(epoch, stats_.getFeature, true)) return false;
    const SimInterface* i = Find(iface);
    bool ok = mouse_ && i && i->role == SimRole::Config && !faults_.noReply &&
              static_cast<int>(buffer.size()) == mouse_->Format().length &&
              buffer[0] == mouse_->Format().reportId;
    if (ok && (faults_.busyForever || busyRemaining_ > 0)) {
        if (busyRemaining_ > 0) --busyRemaining_;
        ++stats_.busyReplies;
        std::fill(buffer.begin() + 1, buffer.end(), 0);
        buffer[kSimCommandByte] = kSimBusyBit;
    } else if (ok) {
        const auto reply = mouse_->Reply();
        std::copy(reply.begin(), reply.end(), buffer.begin());
        if (faults_.corrupt) Corrupt(buffer, 2);
    }
    if (!ok) ++stats_.failedTransfers;
    EndTransfer();
    return ok;
}

bool SimDevice::SetFeature(int iface, uint64_t epoch, std::span<const uint8_t> report) {
    Lock lock(mutex_);
    if (!BeginTransfer(epoch, stats_.setFeature, true)) return false;
    const SimInterface* i = Find(iface);
    bool ok = mouse_ && i && i->role == SimRole::Config &&
              static_cast<int>(report.size()) == mouse_->Format().length;
    if (ok) {
        const uint64_t writesBefore = mouse_->MemoryWrites();
        SimRequestOutcome outcome = SimRequestOutcome::Accepted;
        ok = Kept([&] { outcome = mouse_->HandleRequest(report); });
        Count(outcome);
        stats_.memoryWrites += mouse_->MemoryWrites() - writesBefore;
        if (outcome != SimRequestOutcome::BadFrame) busyRemaining_ = faults_.busyPolls;
        MoveMouseReports();
    }
    if (!ok) ++stats_.failedTransfers;
    EndTransfer();
    return ok;
}

bool SimDevice::Write(int iface, uint64_t epoch, std::span<const uint8_t> report) {
    Lock lock(mutex_);
    if (!BeginTransfer(epoch, stats_.writes, true)) return false;
    const SimInterface* i = Find(iface);
    bool ok = keyboard_ && i && i->role == SimRole::Config;
    if (ok) {
        SimRequestOutcome outcome = SimRequestOutcome::Accepted;
        std::optional<std::vector<uint8_t>> reply;
        ok = Kept([&] { reply = keyboard_->HandleOutput(report, outcome); });
        Count(outcome);
        if (ok && reply && !faults_.noReply) {
            if (faults_.corrupt) Corrupt(*reply, 3);
            Queue(iface, std::move(*reply));
        }
    }
    if (!ok) ++stats_.failedTransfers;
    EndTransfer();
    return ok;
}

int SimDevice::Read(int iface, uint64_t epoch, std::span<uint8_t> buffer, int timeoutMs) {
    Lock lock(mutex_);
    if (!BeginTransfer(epoch, stats_.reads, false)) return -1;
    if (Find(iface) == nullptr) {
        ++stats_.failedTransfers;
        return -1;
    }
    auto& queue = queues_[iface];
    if (queue.empty() && timeoutMs > 0) {
        inputReady_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return !queue.empty() || !present_ || epoch != epoch_; });
    }
    if (!present_ || epoch != epoch_) {
        ++stats_.failedTransfers;
        return -1;
    }
    int stored = 0;
    if (!queue.empty()) {
        const std::vector<uint8_t>& report = queue.front();
        stored = static_cast<int>(std::min(report.size(), buffer.size()));
        std::copy_n(report.begin(), stored, buffer.begin());
        queue.pop_front();
    }
    if (queue.empty()) ClearReady(static_cast<size_t>(iface));
    EndTransfer();
    return stored;
}

std::optional<std::vector<uint8_t>> SimDevice::IndexedString(uint64_t epoch, int index) const {
    std::lock_guard lock(mutex_);
    if (!present_ || epoch != epoch_ || !mouse_) return std::nullopt;
    return mouse_->IndexedString(index);
}

void SimDevice::Count(SimRequestOutcome outcome) {
    switch (outcome) {
        case SimRequestOutcome::Accepted:
            break;
        case SimRequestOutcome::Refused:
            ++stats_.refusedCommands;
            break;
        case SimRequestOutcome::Unknown:
            ++stats_.unknownCommands;
            break;
        case SimRequestOutcome::BadFrame:
            ++stats_.badFrames;
            break;
    }
}

void SimDevice::Queue(int iface, std::vector<uint8_t> report) {
    if (!present_ || iface < 0) return;
    auto& queue = queues_[iface];
    if (queue.size() >= kMaxQueuedReports) queue.pop_front();
    queue.push_back(std::move(report));
    SignalReady(static_cast<size_t>(iface));
    inputReady_.notify_all();
}

int SimDevice::ReadyFd(int iface) const {
    if (iface < 0 || static_cast<size_t>(iface) >= readyFds_.size()) return -1;
    return readyFds_[iface].get();
}

void SimDevice::SignalReady(size_t iface) {
    if (iface >= readyFds_.size() || !readyFds_[iface]) return;
    SignalEventFd(readyFds_[iface].get());
}

void SimDevice::ClearReady(size_t iface) {
    if (iface >= readyFds_.size() || !readyFds_[iface]) return;
    DrainEventFd(readyFds_[iface].get());
}

void SimDevice::MoveMouseReports() {
    for (auto& report : mouse_->TakeReports()) Queue(VendorInterface(), std::move(report));
}

void SimDevice::SetFaults(const SimFaults& faults) {
    std::lock_guard lock(mutex_);
    faults_ = faults;
    busyRemaining_ = 0;
}

SimFaults SimDevice::Faults() const {
    std::lock_guard lock(mutex_);
    return faults_;
}

SimTransferStats SimDevice::Stats() const {
    std::lock_guard lock(mutex_);
    return stats_;
}

void SimDevice::ResetStats() {
    std::lock_guard lock(mutex_);
    stats_ = {};
}

void SimDevice::DetachLocked() {
    if (!present_) return;
    present_ = false;
    for (auto& queue : queues_) queue.clear();
    // Handles of this attachment wake up and learn from Read() that the device left.
    for (size_t i = 0; i < readyFds_.size(); ++i) SignalReady(i);
    inputReady_.notify_all();
    if (hook_) hook_(*this, false);
}

void SimDevice::Detach() {
    std::lock_guard lock(mutex_);
    DetachLocked();
}

void SimDevice::Attach() {
    std::lock_guard lock(mutex_);
    if (present_) return;
    present_ = true;
    ++epoch_;
    busyRemaining_ = 0;
    faults_.removeAfter = 0;
    if (mouse_) {
        const std::vector<uint8_t> memory(mouse_->Memory().begin(), mouse_->Memory().end());
        mouse_ = std::make_unique<SimMouse>(config_);
        mouse_->LoadMemory(memory);
    }
    if (hook_) hook_(*this, true);
}

void SimDevice::SetPresenceHook(PresenceHook hook) {
    std::lock_guard lock(mutex_);
    hook_ = std::move(hook);
}

SimMouseState SimDevice::MouseState() const {
    std::lock_guard lock(mutex_);
    Refresh();
    return mouse_ ? mouse_->State() : SimMouseState{};
}

std::vector<uint8_t> SimDevice::PeekMemory(uint32_t address, size_t length) const {
    std::lock_guard lock(mutex_);
    std::vector<uint8_t> bytes;
    if (!mouse_) return bytes;
    Refresh();
    for (size_t i = 0; i < length; ++i) bytes.push_back(mouse_->Peek(address + i));
    return bytes;
}

bool SimDevice::PokeMemory(uint32_t address, std::span<const uint8_t> bytes) {
    std::lock_guard lock(mutex_);
    if (!mouse_) return false;
    return Kept([&] {
        for (size_t i = 0; i < bytes.size(); ++i) mouse_->Poke(address + i, bytes[i]);
    });
}

std::array<uint8_t, kSimInfoAreaSize> SimDevice::InfoArea() const {
    std::lock_guard lock(mutex_);
    return mouse_ ? mouse_->InfoArea() : std::array<uint8_t, kSimInfoAreaSize>{};
}

SimKeyboardLighting SimDevice::KeyboardLighting() const {
    std::lock_guard lock(mutex_);
    Refresh();
    return keyboard_ ? keyboard_->Lighting() : SimKeyboardLighting{};
}

int SimDevice::KeyboardIdentifications() const {
    std::lock_guard lock(mutex_);
    return keyboard_ ? keyboard_->Identifications() : 0;
}

void SimDevice::SelectProfile(int profile) {
    std::lock_guard lock(mutex_);
    if (!mouse_) return;
    mouse_->SelectProfile(profile);
    MoveMouseReports();
}

void SimDevice::SelectStage(int stage) {
    std::lock_guard lock(mutex_);
    if (!mouse_) return;
    // A stage byte that cannot be kept is undone and reported: the press changes nothing.
    [[maybe_unused]] const bool kept = Kept([&] { mouse_->SelectStage(stage); });
    MoveMouseReports();
}

void SimDevice::SetScrollChangesDpi(bool on) {
    std::lock_guard lock(mutex_);
    if (!mouse_) return;
    mouse_->SetScrollChangesDpi(on);
    MoveMouseReports();
}

void SimDevice::EmitPointerReport(uint8_t contact, int16_t dx, int16_t dy, int8_t horizontal) {
    EmitInputReport(BuildPointerReport(contact, dx, dy, horizontal));
}

void SimDevice::EmitWindowCommand(uint8_t command) {
    EmitInputReport(BuildWindowCommandReport(command));
}

void SimDevice::EmitInputReport(std::vector<uint8_t> report) {
    std::lock_guard lock(mutex_);
    Queue(VendorInterface(), std::move(report));
}

size_t SimDevice::PendingInputReports(int iface) const {
    std::lock_guard lock(mutex_);
    return iface >= 0 && static_cast<size_t>(iface) < queues_.size() ? queues_[iface].size() : 0;
}

std::vector<uint8_t> SimDevice::SaveImage() const {
    std::lock_guard lock(mutex_);
    Refresh();
    if (keyboard_) return keyboard_->SaveImage();
    return {mouse_->Memory().begin(), mouse_->Memory().end()};
}

size_t SimDevice::ImageSize() const {
    return config_.IsKeyboard() ? SimKeyboard::kImageSize : config_.memorySize;
}

bool SimDevice::ReplaceImage(std::span<const uint8_t> image) const {
    if (keyboard_) return keyboard_->LoadImage(image);
    return mouse_->LoadMemory(image);
}

void SimDevice::KeepIn(std::unique_ptr<SimStateStore> store) {
    std::lock_guard lock(mutex_);
    store_ = std::move(store);
    Refresh();
}

void SimDevice::Refresh() const {
    if (!store_) return;
    const SimStateStore::Hold hold = store_->Lock();
    RefreshHeld(hold);
}

void SimDevice::RefreshHeld(const SimStateStore::Hold& hold) const {
    const auto image = store_->Refresh(hold);
    if (image && !ReplaceImage(*image)) {
        store_->SetAside(hold, "holds values the device does not take");
    }
}

bool SimDevice::Kept(const std::function<void()>& change) {
    if (!store_) {
        change();
        if (mouse_) mouse_->TakeChanges();  // nothing keeps them elsewhere
        return true;
    }
    const SimStateStore::Hold hold = store_->Lock();
    RefreshHeld(hold);
    // A keyboard's image is small: compared whole. A mouse logs the bytes it changes.
    const std::vector<uint8_t> before = keyboard_ ? keyboard_->SaveImage() : std::vector<uint8_t>{};
    change();
    if (mouse_) {
        const std::vector<SimMemoryChange> changes = mouse_->TakeChanges();
        if (changes.empty()) return true;
        const auto [low, high] = std::minmax_element(
            changes.begin(), changes.end(), [](const SimMemoryChange& a, const SimMemoryChange& b) {
                return a.address < b.address;
            });
        if (store_->Write(hold, mouse_->Memory(), low->address, high->address + 1)) return true;
        mouse_->Undo(changes);
        refusal_ = store_->LastLoss();
        return false;
    }
    const std::vector<uint8_t> after = keyboard_->SaveImage();
    const auto first = std::mismatch(before.begin(), before.end(), after.begin()).first;
    if (first == before.end()) return true;
    const auto last = std::mismatch(before.rbegin(), before.rend(), after.rbegin()).first;
    const size_t begin = static_cast<size_t>(first - before.begin());
    const size_t end = before.size() - static_cast<size_t>(last - before.rbegin());
    if (store_->Write(hold, after, begin, end)) return true;
    keyboard_->LoadImage(before);
    refusal_ = store_->LastLoss();
    return false;
}

}  // namespace qvm
