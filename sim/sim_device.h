// One simulated USB device: its HID interfaces, its firmware (a mouse or a keyboard), the
// faults it is told to show and its transfer statistics. Every member function is
// thread-safe; one lock per device guards all of its state.
//
// Lock order: SimDevice's lock, then the state file's lock (sim_state_store.h), then the
// presence hook's or the state reporter's own lock (the backend's); the hooks are called
// with the device lock held and must not call back into the device.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "base/unique_fd.h"
#include "platform/clock.h"
#include "platform/hid.h"
#include "sim/sim_config.h"
#include "sim/sim_keyboard.h"
#include "sim/sim_mouse.h"
#include "sim/sim_state_store.h"

namespace qvm {

struct SimTransferStats {
    uint64_t getFeature = 0;
    uint64_t setFeature = 0;
    uint64_t writes = 0;
    uint64_t reads = 0;
    uint64_t badFrames = 0;        // wrong report ID, check byte, marker or tag: ignored
    uint64_t unknownCommands = 0;  // well framed, but not a command of this device
    uint64_t refusedCommands = 0;  // a known command with a parameter out of range
    uint64_t busyReplies = 0;      // feature reads answered with the busy bit
    uint64_t failedTransfers = 0;  // transfers that returned failure
    uint64_t memoryWrites = 0;     // accepted commands that wrote memory (byte, block, commit)

    bool operator==(const SimTransferStats&) const = default;
};

enum class SimRole { Config, Mouse, Vendor, KeyboardBoot };

struct SimInterface {
    int number;
    SimRole role;
    HidCaps caps;
};

class SimDevice {
  public:
    // Called with the device lock held whenever the device leaves (false) or returns (true).
    using PresenceHook = std::function<void(const SimDevice& device, bool present)>;

    static constexpr size_t kMaxQueuedReports = 64;

    SimDevice(const SimDeviceConfig& config, int index, Clock& clock);

    const SimDeviceConfig& Config() const { return config_; }
    int Index() const { return index_; }
    bool IsKeyboard() const { return config_.IsKeyboard(); }
    // Every interface with its path and strings; the same whether present or not.
    const std::vector<HidDeviceInfo>& Interfaces() const { return infos_; }
    // Interface number of `path`, or -1 when the path is not one of this device's.
    int InterfaceOf(const std::string& path) const;
    // The interface where vendor input reports arrive (-1 for keyboards).
    int VendorInterface() const;

    // The attachment a handle opened now belongs to; nullopt when the device is absent.
    std::optional<uint64_t> OpenEpoch() const;
    bool Present() const;

    // Transfers of a handle opened under `epoch`; they fail once the device has left.
    bool GetFeature(int iface, uint64_t epoch, std::span<uint8_t> buffer);
    bool SetFeature(int iface, uint64_t epoch, std::span<const uint8_t> report);
    bool Write(int iface, uint64_t epoch, std::span<const uint8_t> report);
    int Read(int iface, uint64_t epoch, std::span<uint8_t> buffer, int timeoutMs);
    // An eventfd readable while input reports wait on interface `iface`, and from the
    // device's departure until a read finds nothing (a handle of the old attachment
    // then learns that it failed); -1 for an unknown interface or without eventfds.
    int ReadyFd(int iface) const;
    std::optional<std::vector<uint8_t>> IndexedString(uint64_t epoch, int index) const;

    void SetFaults(const SimFaults& faults);
    SimFaults Faults() const;
    SimTransferStats Stats() const;
    // Why the latest transfer failed although the device is attached (a change the state
    // file could not keep); empty when it did not fail for such a reason.
    std::string Refusal() const;
    void ResetStats();

    // The device leaves (handles fail, its input reports are dropped) or comes back
    // (as after a power cycle: live state reset, memory kept).
    void Detach();
    void Attach();
    void SetPresenceHook(PresenceHook hook);

    // Keeps the device's image in a state file shared with other processes: loaded from it
    // now when it holds one, reloaded before each exchange after another process changed
    // it, and written through at every change. A transfer whose change cannot be kept
    // fails, and the change is undone.
    void KeepIn(std::unique_ptr<SimStateStore> store);

    // Mice: memory and live state. Addresses wrap at the memory size. PokeMemory is
    // false when the bytes could not be kept in the state file (they are then undone).
    SimMouseState MouseState() const;
    std::vector<uint8_t> PeekMemory(uint32_t address, size_t length) const;
    bool PokeMemory(uint32_t address, std::span<const uint8_t> bytes);
    std::array<uint8_t, kSimInfoAreaSize> InfoArea() const;
    // Keyboards: lighting state.
    SimKeyboardLighting KeyboardLighting() const;
    int KeyboardIdentifications() const;

    // What a user does on the mouse itself; each change queues a status report.
    void SelectProfile(int profile);
    void SelectStage(int stage);
    void SetScrollChangesDpi(bool on);
    // Special event reports for the host action engine.
    void EmitPointerReport(uint8_t contact, int16_t dx, int16_t dy, int8_t horizontal);
    void EmitWindowCommand(uint8_t command);
    void EmitInputReport(std::vector<uint8_t> report);
    size_t PendingInputReports(int iface) const;

    // The bytes kept across restarts: a mouse's memory, a keyboard's lighting state.
    std::vector<uint8_t> SaveImage() const;
    size_t ImageSize() const;

  private:
    using Lock = std::unique_lock<std::mutex>;

    // Counts the transfer; `control` transfers take the simulated USB time.
    bool BeginTransfer(uint64_t epoch, uint64_t& counter, bool control);
    void EndTransfer();
    const SimInterface* Find(int iface) const;
    void Queue(int iface, std::vector<uint8_t> report);
    // Raise or lower an interface's ready descriptor (with the device lock held).
    void SignalReady(size_t iface);
    void ClearReady(size_t iface);
    void MoveMouseReports();
    void DetachLocked();
    void Count(SimRequestOutcome outcome);
    // With the device lock held. Runs `change` on the firmware with the image in step
    // with the state file, and keeps what it changed; false when that could not be kept
    // (the change is then undone).
    bool Kept(const std::function<void()>& change);
    // With the device lock held: loads what another process wrote meanwhile.
    void Refresh() const;
    void RefreshHeld(const SimStateStore::Hold& hold) const;
    bool ReplaceImage(std::span<const uint8_t> image) const;
    // Queues the reports that need no wait and starts releasing the others.
    void ReleaseReports(std::span<const SimDeviceConfig::TimedReport> reports);
    // Sends a report that was due; a status report also puts the mouse in its state.
    void SendLater(const std::vector<uint8_t>& report);

    const SimDeviceConfig config_;
    const int index_;
    std::string refusal_;  // guarded by mutex_: why the latest transfer was refused
    Clock& clock_;
    std::vector<SimInterface> interfaces_;
    std::vector<HidDeviceInfo> infos_;

    mutable std::mutex mutex_;
    std::condition_variable inputReady_;
    // Reading the device (const members too) first loads what other processes wrote.
    std::unique_ptr<SimMouse> mouse_;
    std::unique_ptr<SimKeyboard> keyboard_;
    std::unique_ptr<SimStateStore> store_;  // null: the memory lives in this process only
    SimFaults faults_;
    int busyRemaining_ = 0;
    bool present_ = true;
    uint64_t epoch_ = 1;
    SimTransferStats stats_;
    std::vector<std::deque<std::vector<uint8_t>>> queues_;  // by interface number
    std::vector<UniqueFd> readyFds_;                        // by interface number
    PresenceHook hook_;
    // Last: releases the reports that wait, and stops before the rest goes.
    std::jthread releaser_;
};

}  // namespace qvm
