#include "app/tray_clicks.h"

namespace qvm {

void TrayClicks::StopTimer(TrayActions& actions) {
    actions.push_back({TrayAction::Kind::kStopTimer, 0});
    timerRunning_ = false;
}

TrayActions TrayClicks::ClickUp(int menuDelayMs) {
    TrayActions actions;
    StopTimer(actions);
    if (menuArmed_) {
        actions.push_back({TrayAction::Kind::kStartTimer, menuDelayMs});
        timerRunning_ = true;
    }
    menuArmed_ = true;
    return actions;
}

TrayActions TrayClicks::LeftUp() {
    return ClickUp(kLeftClickMenuDelayMs);
}

TrayActions TrayClicks::RightUp() {
    return ClickUp(kRightClickMenuDelayMs);
}

TrayActions TrayClicks::DoubleClick() {
    TrayActions actions;
    StopTimer(actions);
    actions.push_back({TrayAction::Kind::kRestoreWindow, 0});
    // The button-up that ends a double click must not open the menu.
    menuArmed_ = false;
    return actions;
}

TrayActions TrayClicks::TimerFired() {
    if (!timerRunning_) return {};
    TrayActions actions;
    StopTimer(actions);
    actions.push_back({TrayAction::Kind::kShowMenu, 0});
    return actions;
}

}  // namespace qvm
