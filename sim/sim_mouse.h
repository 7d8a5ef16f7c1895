// Firmware of a simulated mouse: decodes feature requests of its protocol generation,
// keeps its memory and live state, and builds replies and vendor input reports.
// Not thread-safe on its own: SimDevice serialises every call under its lock.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "sim/sim_commands.h"
#include "sim/sim_config.h"
#include "sim/sim_layout.h"
#include "sim/sim_wire.h"

namespace qvm {

inline constexpr int kSimLedCount = 16;
inline constexpr int kSimLedRecordBytes = 4;  // red, green, blue, flags
inline constexpr int kSimLedTableBytes = kSimLedCount * kSimLedRecordBytes;
inline constexpr int kSimStagingBytes = 32;
inline constexpr int kSimMaxBlock = 32;

// The live (not stored) state of a mouse, as tests inspect it.
struct SimMouseState {
    uint8_t hostMode = 0;
    int profile = 0;
    int stage = 0;
    std::array<std::array<uint8_t, 2>, kSimStageCount> stageValues{};  // X, Y
    bool angleSnapping = false;
    bool scrollChangesDpi = false;
    uint8_t reportRate = 0;
    uint8_t lightingEffect = 0;
    uint16_t liveWord = 0;
    uint32_t liveBytes = 0;
    std::array<uint8_t, 3> profileColour{};                   // live preview colour
    std::array<std::array<uint8_t, 4>, kSimLedCount> leds{};  // red, green, blue, flags
    bool updateSession = false;
    bool pageMode = false;
    bool probeComplete = false;
    int reloads = 0;
    int reloadsAlt = 0;
    int lightingRefreshes = 0;
    int notifyUpdates = 0;
};

enum class SimRequestOutcome { Accepted, Refused, Unknown, BadFrame };

// One byte of memory a request changed, with the value it replaced.
struct SimMemoryChange {
    uint32_t address;
    uint8_t before;
};

class SimMouse {
  public:
    explicit SimMouse(const SimDeviceConfig& config);

    const SimFrameFormat& Format() const { return format_; }
    const SimDeviceConfig& Config() const { return config_; }

    // One feature request (the whole report, byte 0 the report ID).
    SimRequestOutcome HandleRequest(std::span<const uint8_t> request);
    // The reply the next feature read returns (without busy bit or faults).
    std::span<const uint8_t> Reply() const;
    // Vendor input reports produced since the last call.
    std::vector<std::vector<uint8_t>> TakeReports();

    std::optional<std::vector<uint8_t>> IndexedString(int index) const;

    // Memory, with the wrap-around of a power-of-two size.
    uint8_t Peek(uint32_t address) const { return memory_[address & mask_]; }
    // Every byte Poke changes is logged until TakeChanges(), so that what a request
    // changed can be kept elsewhere or undone.
    void Poke(uint32_t address, uint8_t value) {
        uint8_t& at = memory_[address & mask_];
        if (at == value) return;
        changes_.push_back({address & mask_, at});
        at = value;
    }
    std::span<const uint8_t> Memory() const { return memory_; }
    // Memory-write commands executed so far (byte, block and commit writes).
    uint64_t MemoryWrites() const { return memoryWrites_; }
    // The bytes changed since the previous call, oldest first.
    std::vector<SimMemoryChange> TakeChanges() { return std::exchange(changes_, {}); }
    // Puts back the bytes of `changes` and applies the memory again.
    void Undo(std::span<const SimMemoryChange> changes);
    // Replaces the whole memory (same size) and applies it, as after a power cycle.
    bool LoadMemory(std::span<const uint8_t> image);

    const std::array<uint8_t, kSimInfoAreaSize>& InfoArea() const { return info_; }
    SimMouseState State() const { return state_; }
    SimLiveView LiveView() const;

    // What a user does on the device itself: press the profile or DPI buttons.
    void SelectProfile(int profile);
    void SelectStage(int stage);
    void SetScrollChangesDpi(bool on);
    // Queues a vendor input report as the device would send it.
    void QueueReport(std::vector<uint8_t> report);

  private:
    using Args = std::array<int, 4>;

    bool Execute(const SimCommandRule& rule, std::span<const uint8_t> request, SimReply& reply);
    bool ExecuteIdentity(SimOp op, const Args& a, SimReply& reply);
    bool ExecuteMemory(const SimCommandRule& rule, const Args& a, std::span<const uint8_t> request,
                       SimReply& reply);
    bool ExecuteLive(SimOp op, const Args& a);
    void ApplyMemory();
    void ApplyLeds();  // the LEDs show their stored records
    void ApplyStage(int stage);
    void ReportIfChanged(const std::vector<uint8_t>& before);
    uint32_t Address(const Args& a, int low, int mid, int high) const;

    SimDeviceConfig config_;
    SimFrameFormat format_;
    SimMemoryGeometry geometry_;
    std::vector<uint8_t> memory_;
    uint64_t memoryWrites_ = 0;
    std::vector<SimMemoryChange> changes_;  // since the last TakeChanges()
    uint32_t mask_;
    std::array<uint8_t, kSimInfoAreaSize> info_;
    std::array<uint8_t, kSimStagingBytes> staging_{};
    SimMouseState state_;
    SimReply reply_;
    bool toggle_ = false;
    std::vector<std::vector<uint8_t>> reports_;
};

}  // namespace qvm
