#include "present/tray_clicks.h"

namespace qvm {

void TrayClicks::StopTimer(TrayActions& actions) {
    actions.push_back({TrayAction::Kind::kStopTimer, 0});
    timerRunning_ = false;
}

TrayActions TrayClicks::ClickUp(TrayAction action) {
    TrayActions actions;
    StopTimer(actions);
    if (clickArmed_) {
        actions.push_back(action);
        timerRunning_ = action.kind == TrayAction::Kind::kStartTimer;
    }
    clickArmed_ = true;
    return actions;
}

TrayActions TrayClicks::LeftUp() {
    return ClickUp({TrayAction::Kind::kRestoreWindow, 0});
}

TrayActions TrayClicks::RightUp() {
    return ClickUp({TrayAction::Kind::kStartTimer, kRightClickMenuDelayMs});
}

TrayActions TrayClicks::DoubleClick() {
    TrayActions actions;
    StopTimer(actions);
    actions.push_back({TrayAction::Kind::kRestoreWindow, 0});
    // The button-up that ends a double click must not act again.
    clickArmed_ = false;
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
