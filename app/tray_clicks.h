// Clicks on the tray icon. A double click restores the main window; a single left click
// opens the tray menu half a second later, unless it turns out to be the first half of a
// double click; a right click opens the menu at once (after 10 ms). The window owns the
// one-shot menu timer (id 10) and carries out the returned actions in order.
#pragma once

#include <vector>

namespace qvm {

inline constexpr int kTrayMenuTimerId = 10;

struct TrayAction {
    enum class Kind { kStartTimer, kStopTimer, kRestoreWindow, kShowMenu };

    Kind kind = Kind::kStopTimer;
    int ms = 0;  // kStartTimer: the delay of timer 10

    bool operator==(const TrayAction&) const = default;
};

using TrayActions = std::vector<TrayAction>;

class TrayClicks {
  public:
    static constexpr int kLeftClickMenuDelayMs = 500;
    static constexpr int kRightClickMenuDelayMs = 10;

    TrayActions LeftUp();
    TrayActions DoubleClick();
    TrayActions RightUp();
    // Timer 10 fired. A firing after the timer was stopped (an event already queued)
    // does nothing.
    TrayActions TimerFired();

    bool TimerRunning() const { return timerRunning_; }

  private:
    TrayActions ClickUp(int menuDelayMs);
    void StopTimer(TrayActions& actions);

    bool menuArmed_ = true;  // a button-up may open the menu (not right after a double click)
    bool timerRunning_ = false;
};

}  // namespace qvm
