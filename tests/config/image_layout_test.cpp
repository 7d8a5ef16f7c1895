// Encodings of the image: report rates, DPI steps, factory DPI stages and colours.
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
}

TEST(ImageReportRate, NearestCodeForOtherRates) {
    const std::pair<int, int> cases[] = {{2000, 0}, {600, 1}, {10, 7}, {150, 6}, {750, 0}};
    for (const auto& [hz, code] : cases) EXPECT_EQ(ReportRateCodeFor(hz), code) << hz;
}

struct IdentCase {
    int id1;
    int id2;
    int step;
    int steps;
    std::array<uint8_t, 5> stages;
};

class ImageIdent : public ::testing::TestWithParam<IdentCase> {};

TEST_P(ImageIdent, StepCountAndFactoryStages) {
    const IdentCase& c = GetParam();
    EXPECT_EQ(DpiStepFor(c.id1), c.step);
    EXPECT_EQ(DpiStepCountFor(c.id1, c.id2), c.steps);
    EXPECT_EQ(DefaultDpiStages(c.id1), c.stages);
}

INSTANTIATE_TEST_SUITE_P(Table, ImageIdent,
                         ::testing::Values(IdentCase{0x12, 160, 100, 160, {8, 16, 32, 160, 80}},
                                           IdentCase{0x03, 100, 50, 240, {16, 32, 64, 164, 80}},
                                           IdentCase{0x01, 120, 50, 120, {16, 32, 64, 80, 80}}));

TEST(ImageColour, PackedFactoryColoursMatchTheEightBitOnes) {
    const std::array<uint8_t, 5> packed = {0x07, 0x0C, 0x30, 0x33, 0x3C};
    for (std::size_t p = 0; p < packed.size(); ++p) {
        const Rgb& c = DefaultProfileColours()[p];
        EXPECT_EQ(PackColour(Reduce8Bit(c.red), Reduce8Bit(c.green), Reduce8Bit(c.blue)),
                  packed[p]);
    }
    EXPECT_EQ(UnpackColour(0x39), (Rgb{85, 170, 255}));
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
