// The button page's label boxes: for every layout, the boxes of the buttons a device of
// that layout shows must lie in the label columns beside the drawn mouse, inside the page,
// clear of the mouse drawing and the control row, and must not overlap one another.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "device/device_values.h"
#include "device/model_table.h"
#include "present/button_geometry.h"

namespace qvm::layout_geometry_test {

struct Box {
    float left, top, right, bottom;
};

Box ToBox(const Hotspot& h) {
    return {h.x, h.y, h.x + h.w, h.y + h.h};
}

bool Overlaps(const Box& a, const Box& b) {
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

bool Inside(const Box& inner, const Box& outer) {
    return inner.left >= outer.left && inner.right <= outer.right && inner.top >= outer.top &&
           inner.bottom <= outer.bottom;
}

bool Empty(const Hotspot& h) {
    return h.w <= 0 || h.h <= 0;
}

// Regions of the 1024 x 600 main window.
constexpr Box kPageContent{0, 112, 1024, 596};
constexpr Box kLeftColumn{80, 112, 320, 596};
constexpr Box kRightColumn{704, 112, 944, 596};
constexpr Box kMouseDrawing{344, 112, 680, 548};
constexpr Box kControlRow{344, 556, 680, 592};

// The most buttons any device of each layout shows, found by asking the layout decision
// about every model code and protocol generation a device can report.
std::vector<int> ShownButtonsPerLayout() {
    std::vector<int> shown(kLayoutCount, 0);
    for (int32_t code = 0; code <= 40; ++code) {
        for (int32_t generation : {0, 1, 5, 10, 11, 12, 20}) {
            DeviceValues device;
            device.ModelCode = code;
            device.ProtocolGeneration = generation;
            const ModelLayout layout = DecideModelLayout(device);
            int& count = shown.at(static_cast<size_t>(layout.LayoutIndex));
            count = std::max(count, layout.ButtonCount);
        }
    }
    return shown;
}

class LayoutGeometryTest : public ::testing::TestWithParam<int> {};

TEST_P(LayoutGeometryTest, ShownButtonsHaveClearBoxesBesideTheMouse) {
    const int layoutIndex = GetParam();
    const int shown = ShownButtonsPerLayout()[static_cast<size_t>(layoutIndex)];
    const auto& row = ButtonHotspots(layoutIndex);

    // Every box a button is shown in exists; a layout no model uses still checks its boxes.
    int checked = 0;
    for (int i = 0; i < kLayoutPositions; ++i) {
        if (i < shown) {
            EXPECT_FALSE(Empty(row[i])) << "position " << i << " is shown but has no box";
        }
        if (!Empty(row[i])) checked = i + 1;
    }
    checked = std::max(checked, shown);
    ASSERT_GT(checked, 0);

    for (int i = 0; i < checked; ++i) {
        const Box box = ToBox(row[i]);
        const std::string where = "position " + std::to_string(i);
        EXPECT_TRUE(Inside(box, kPageContent)) << where;
        EXPECT_TRUE(Inside(box, kLeftColumn) || Inside(box, kRightColumn)) << where;
        EXPECT_FALSE(Overlaps(box, kMouseDrawing)) << where;
        EXPECT_FALSE(Overlaps(box, kControlRow)) << where;
        EXPECT_GE(row[i].h, 24) << where << " is too low for a label";
        for (int j = 0; j < i; ++j) {
            EXPECT_FALSE(Overlaps(box, ToBox(row[j]))) << where << " overlaps position " << j;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(AllLayouts, LayoutGeometryTest, ::testing::Range(0, kLayoutCount));

TEST(LayoutGeometry, FirstBoxOfTheFirstLayoutIsFixed) {
    EXPECT_EQ(ButtonHotspots(0)[0], (Hotspot{80, 528, 240, 36}));
}

}  // namespace qvm::layout_geometry_test
