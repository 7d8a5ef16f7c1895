// Report rates, and the sole left click a change must not take away.
#include <gtest/gtest.h>

#include "config/config_image.h"

namespace qvm {
namespace {

TEST(ImageReportRate, EveryCodeRoundTripsThroughItsRate) {
    for (int code = 0; code < 8; ++code) {
        EXPECT_EQ(ReportRateCodeFor(ReportRateHz(code)), code) << code;
    }
    EXPECT_EQ(ReportRateHz(0), 1000);
    EXPECT_EQ(ReportRateHz(7), 125);
    // Other rates take the nearest code, ties to the faster rate.
    const std::pair<int, int> nearest[] = {{2000, 0}, {600, 1}, {10, 7}, {750, 0}};
    for (const auto& [hz, code] : nearest) EXPECT_EQ(ReportRateCodeFor(hz), code) << hz;
}

TEST(ImageSoleLeftClick, CountsOnlyShownButtonsOfTheCurrentProfile) {
    struct Case {
        std::vector<std::pair<int, ButtonSlot>> slots;  // profile 1
        std::vector<int> shown;
        std::optional<int> sole;
    };
    const ButtonSlot left{4, 1, 0, 0};
    const ButtonSlot smart{35, 1, 0, 0};
    const ButtonSlot right{4, 2, 0, 0};
    const ButtonSlot leftAndRight{4, 3, 0, 0};
    const Case cases[] = {
        {{{0, right}, {3, left}}, {0, 1, 2, 3}, 3},
        {{{0, left}, {3, smart}}, {0, 1, 2, 3}, std::nullopt},
        {{{0, left}, {3, smart}}, {0, 1, 2}, 0},
        {{{0, {0, 0, 0, 0}}, {1, right}}, {0, 1}, 0},  // stored default on button 0
        {{{1, {0, 0, 0, 0}}, {2, leftAndRight}}, {0, 1, 2}, std::nullopt},
    };
    for (const Case& c : cases) {
        ConfigImage image;
        image.currentProfile = 1;
        for (auto& row : image.buttons[1]) row.slot = {1, 0, 0, 0};
        image.buttons[0][5].slot = left;  // another profile does not count
        for (const auto& [j, slot] : c.slots)
            image.buttons[1][static_cast<std::size_t>(j)].slot = slot;
        EXPECT_EQ(FindSoleLeftClickButton(image, c.shown), c.sole);
    }
}

}  // namespace
}  // namespace qvm
