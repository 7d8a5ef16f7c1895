#include "present/tray_clicks.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qvm {
namespace {

enum class Ev { kLeftUp, kDoubleClick, kRightUp, kTimer };

using K = TrayAction::Kind;
const TrayAction kStop{K::kStopTimer, 0};
const TrayAction kStart10{K::kStartTimer, 10};
const TrayAction kRestore{K::kRestoreWindow, 0};
const TrayAction kMenu{K::kShowMenu, 0};

struct TrayStep {
    Ev event;
    TrayActions expected;
};

struct TrayCase {
    const char* label;
    std::vector<TrayStep> steps;
};

class TrayClicksTest : public testing::TestWithParam<TrayCase> {};

TEST_P(TrayClicksTest, EachClickGivesItsActions) {
    TrayClicks tray;
    for (std::size_t i = 0; i < GetParam().steps.size(); ++i) {
        const TrayStep& step = GetParam().steps[i];
        TrayActions got;
        switch (step.event) {
            case Ev::kLeftUp:
                got = tray.LeftUp();
                break;
            case Ev::kDoubleClick:
                got = tray.DoubleClick();
                break;
            case Ev::kRightUp:
                got = tray.RightUp();
                break;
            case Ev::kTimer:
                got = tray.TimerFired();
                break;
        }
        EXPECT_EQ(got, step.expected) << "step " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, TrayClicksTest,
    testing::Values(TrayCase{"left_click_opens_the_window_at_once",
                             {{Ev::kLeftUp, {kStop, kRestore}}, {Ev::kTimer, {}}}},
                    TrayCase{"right_click_opens_menu_after_10ms",
                             {{Ev::kRightUp, {kStop, kStart10}}, {Ev::kTimer, {kStop, kMenu}}}},
                    TrayCase{"double_click_restores_and_its_button_up_does_nothing",
                             {{Ev::kLeftUp, {kStop, kRestore}},
                              {Ev::kDoubleClick, {kStop, kRestore}},
                              {Ev::kLeftUp, {kStop}},
                              {Ev::kTimer, {}},
                              {Ev::kLeftUp, {kStop, kRestore}}}},
                    TrayCase{"right_click_after_a_double_click_opens_no_menu",
                             {{Ev::kDoubleClick, {kStop, kRestore}},
                              {Ev::kRightUp, {kStop}},
                              {Ev::kTimer, {}},
                              {Ev::kRightUp, {kStop, kStart10}},
                              {Ev::kTimer, {kStop, kMenu}}}},
                    TrayCase{"left_click_cancels_a_pending_menu",
                             {{Ev::kRightUp, {kStop, kStart10}},
                              {Ev::kLeftUp, {kStop, kRestore}},
                              {Ev::kTimer, {}}}},
                    TrayCase{"menu_opens_once_per_right_click",
                             {{Ev::kRightUp, {kStop, kStart10}},
                              {Ev::kRightUp, {kStop, kStart10}},
                              {Ev::kTimer, {kStop, kMenu}},
                              {Ev::kTimer, {}}}}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace qvm
