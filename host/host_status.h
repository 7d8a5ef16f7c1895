// What the mouse last said about itself in a status report (DPI stage and values, profile,
// angle snapping), and the change-flag word the on-screen display shows from. One owner:
// the thread that hands in status reports writes, any thread reads a snapshot.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <optional>

#include "host/vendor_report.h"

namespace qvm {

// Bits of the change-flag word. Stage, profile and angle snapping are flagged only while
// the on-screen display is enabled; the scroll-to-change-DPI mode and the 16-bit value
// always.
namespace change_flag {
inline constexpr std::uint32_t kStage = 1;
inline constexpr std::uint32_t kProfile = 2;
inline constexpr std::uint32_t kScrollChangesDpi = 4;
inline constexpr std::uint32_t kAngleSnapping = 8;
inline constexpr std::uint32_t kValue16 = 16;
}  // namespace change_flag

inline constexpr int kStageCount = 5;
// Passes of the on-screen display at full opacity that a status report starts.
inline constexpr int kDisplayCountdownTicks = 80;

struct HostStatusSnapshot {
    int stage = 0;
    std::array<int, kStageCount> xValues{};  // DPI steps of each stage
    std::array<int, kStageCount> yValues{};
    int currentX = 0;
    int currentY = 0;
    int profile = 0;  // the whole byte of the last report
    bool angleSnapping = false;
    int value16 = 0;
    std::uint32_t changeFlags = 0;
    bool operator==(const HostStatusSnapshot&) const = default;
};

// What the rest of the program does after one status report.
struct StatusEffects {
    // The on-screen display (re)starts its countdown at this many ticks; 0 leaves it.
    int displayCountdown = 0;
    bool stageChanged = false;  // the main window shows the new stage and its values
    bool angleSnappingChanged = false;
    // The main window's profile changed: it reloads the configuration after this delay.
    std::optional<int> reloadAfterMs;
    bool operator==(const StatusEffects&) const = default;
};

class HostStatus {
  public:
    // Read at each report: whether the on-screen display is enabled ("osd") and the
    // configuration delay the reload after a profile change waits on top of.
    void SetDisplayEnabled(bool enabled);
    void SetConfigDelayMs(int delayMs);
    // The profile the main window shows (after the user or the program switched it), so
    // that a report of the same profile does not reload it again. Until told, the first
    // report's profile counts as a change.
    void SetWindowProfile(int profile);

    StatusEffects Apply(const StatusReport& report);

    HostStatusSnapshot Snapshot() const;
    // The display clears the word when it has hidden itself.
    void ClearChangeFlags();

  private:
    mutable std::mutex mutex_;  // leaf
    HostStatusSnapshot status_;
    bool displayEnabled_ = true;
    int configDelayMs_ = 0;
    std::optional<int> windowProfile_;
};

// How long the main window waits before reloading the configuration after the mouse
// switched profile: the configuration delay plus 50 ms, at least 100 ms.
int ProfileReloadDelayMs(int configDelayMs);

}  // namespace qvm
