// Clicks on the tray icon. As on every Linux desktop, a left click opens the main window
// and a right click the tray menu (after 10 ms). A double click restores the window too,
// and the button-up that ends a double click does nothing more (neither a left click's
// window nor a right click's menu). The window owns the one-shot menu timer (id 10) and
// carries out the returned actions in order.
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
    static constexpr int kRightClickMenuDelayMs = 10;

    TrayActions LeftUp();
    TrayActions DoubleClick();
    TrayActions RightUp();
    // Timer 10 fired. A firing after the timer was stopped (an event already queued)
    // does nothing.
    TrayActions TimerFired();

    bool TimerRunning() const { return timerRunning_; }

  private:
    // Stops the menu timer; unless the click ends a double click, adds `action`.
    TrayActions ClickUp(TrayAction action);
    void StopTimer(TrayActions& actions);

    bool clickArmed_ = true;  // a button-up acts (not the one right after a double click)
    bool timerRunning_ = false;
};

}  // namespace qvm
