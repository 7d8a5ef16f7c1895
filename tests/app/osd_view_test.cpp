// The on-screen display's pacing, with passes as the clock, and what it shows.
#include "present/osd_view.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

namespace qvm {
namespace {

struct OsdFaderCase {
    const char* label;
    std::map<int, int> reports;    // pass (from 1) -> the countdown its report starts
    int rising, holding, falling;  // passes whose opacity rose, stayed full, fell
    std::vector<int> shownAt, hiddenAt;
    std::map<int, int> opacityAfter;  // spot checks
    friend void PrintTo(const OsdFaderCase& c, std::ostream* os) { *os << c.label; }
};

class OsdFaderTest : public testing::TestWithParam<OsdFaderCase> {};

TEST_P(OsdFaderTest, FadesHoldsAndHidesOnPasses) {
    const OsdFaderCase& c = GetParam();
    OsdFader fader;
    int rising = 0, holding = 0, falling = 0;
    std::vector<int> shownAt, hiddenAt;
    for (int pass = 1; pass <= c.reports.rbegin()->first || fader.Active(); ++pass) {
        ASSERT_LT(pass, 1000) << "never hides";
        if (c.reports.contains(pass)) fader.Start(c.reports.at(pass));
        const int before = fader.Opacity();
        const OsdPass step = fader.Pass();
        const int after = fader.Opacity();
        rising += after > before;
        holding += after == before && after == kOsdFullOpacity;
        falling += after < before;
        if (step.show) shownAt.push_back(pass);
        if (step.hidden) hiddenAt.push_back(pass);
        EXPECT_EQ(fader.Visible(), after > 0) << "pass " << pass;  // never up at opacity 0
        if (c.opacityAfter.contains(pass)) {
            EXPECT_EQ(after, c.opacityAfter.at(pass)) << pass;
        }
    }
    EXPECT_EQ(std::vector({rising, holding, falling}),
              std::vector({c.rising, c.holding, c.falling}));
    EXPECT_EQ(shownAt, c.shownAt);
    EXPECT_EQ(hiddenAt, c.hiddenAt);
}

constexpr int kOsdTicks = kDisplayCountdownTicks;

INSTANTIATE_TEST_SUITE_P(
    Table, OsdFaderTest,
    testing::Values(
        OsdFaderCase{"one_report",
                     {{1, kOsdTicks}},
                     11,
                     69,
                     11,
                     {1},
                     {91},
                     {{1, 25}, {11, 255}, {80, 255}, {81, 230}, {90, 5}}},
        // Two stage changes 25 passes (0.5 s) apart: one overlay, 80 passes after the second.
        OsdFaderCase{"two_reports", {{1, kOsdTicks}, {26, kOsdTicks}}, 11, 94, 11, {1}, {116}, {}},
        // In the fade-out (155 after pass 84) it rises again from there.
        OsdFaderCase{"report_in_fade_out",
                     {{1, kOsdTicks}, {85, kOsdTicks}},
                     15,
                     145,
                     15,
                     {1},
                     {175},
                     {{84, 155}, {85, 180}, {88, 255}}},
        OsdFaderCase{"display_off", {{1, 0}, {2, -3}}, 0, 0, 0, {}, {}, {}},
        OsdFaderCase{
            "off_while_up_does_not_extend", {{1, kOsdTicks}, {50, 0}}, 11, 69, 11, {1}, {91}, {}}),
    [](const auto& info) { return std::string(info.param.label); });

// The content in one line: "Name", "X length dpi", "Y length dpi", the hint, the angle text.
std::string OsdDescribe(const OsdContent& c) {
    std::string out = c.profile ? c.profile->name + ";" : "";
    const auto bar = [&](const char* axis, const OsdDpiBar& b) {
        out += std::string(axis) + " " + std::to_string(b.length) + " " + b.text + ";";
    };
    if (c.dpi) bar("X", c.dpi->x);
    if (c.dpi && c.dpi->y) bar("Y", *c.dpi->y);
    if (c.dpi) out += c.dpi->hint + "(" + std::to_string(c.dpi->height) + ");";
    return out + c.angleSnapping;
}

OsdSource OsdTwoProfiles(int step = 50, int count = 32) {
    return OsdSource{{{"Office", {255, 0, 0}}, {"Game", {0, 170, 85}}}, step, count};
}

struct OsdContentCase {
    const char* label;
    std::uint32_t flags;
    int x, y, profile;
    OsdSource source;
    std::string expected;
    friend void PrintTo(const OsdContentCase& c, std::ostream* os) { *os << c.label; }
};

class OsdContentTest : public testing::TestWithParam<OsdContentCase> {};

TEST_P(OsdContentTest, ShowsWhatTheFlagsSay) {
    const OsdContentCase& c = GetParam();
    HostStatusSnapshot s{.currentX = c.x,
                         .currentY = c.y,
                         .profile = c.profile,
                         .angleSnapping = true,
                         .changeFlags = c.flags};
    EXPECT_EQ(OsdDescribe(BuildOsdContent(s, c.source)), c.expected);
}

namespace osd_flag = change_flag;

INSTANTIATE_TEST_SUITE_P(
    Table, OsdContentTest,
    testing::Values(
        OsdContentCase{"profile", osd_flag::kProfile, 16, 16, 1, OsdTwoProfiles(), "Game;"},
        OsdContentCase{"profile_6", osd_flag::kProfile, 16, 16, 6, OsdTwoProfiles(), ""},
        OsdContentCase{"profile_7", osd_flag::kProfile, 16, 16, 7, OsdTwoProfiles(), ""},
        OsdContentCase{"profile_mouse_lacks", osd_flag::kProfile, 16, 16, 2, OsdTwoProfiles(), ""},
        OsdContentCase{"y_differs", osd_flag::kStage, 16, 8, 0, OsdTwoProfiles(),
                       "X 100 800;Y 50 400;(50);"},
        OsdContentCase{"scroll_mode", osd_flag::kScrollChangesDpi, 4, 4, 0, OsdTwoProfiles(),
                       "X 25 200;Scroll to change DPI(80);"},
        OsdContentCase{"beyond_max", osd_flag::kStage, 40, 40, 0, OsdTwoProfiles(100, 32),
                       "X 200 4000;(50);"},
        OsdContentCase{"no_step_count", osd_flag::kStage, 16, 16, 0, OsdTwoProfiles(50, 0),
                       "X 0 800;(50);"},
        OsdContentCase{"angle", osd_flag::kAngleSnapping, 0, 0, 0, OsdTwoProfiles(),
                       "angle snapping ON"},
        OsdContentCase{"value16_alone", osd_flag::kValue16, 16, 16, 1, OsdTwoProfiles(), ""}),
    [](const auto& info) { return std::string(info.param.label); });

// With the display switched off the status flags only the scroll mode (and the 16-bit
// value): a report that changes everything shows nothing but the DPI hint.
TEST(OsdStatusTest, SwitchedOffStatusFlagsOnlyTheScrollMode) {
    for (const bool enabled : {true, false}) {
        HostStatus status;
        status.SetDisplayEnabled(enabled);
        status.Apply(StatusReport{2, 20, 10, 1, true, true, 7});
        EXPECT_EQ(OsdDescribe(BuildOsdContent(status.Snapshot(), OsdTwoProfiles())),
                  std::string(enabled ? "Game;" : "") +
                      "X 125 1000;Y 62 500;Scroll to change DPI(80);" +
                      (enabled ? "angle snapping ON" : ""));
    }
}

}  // namespace
}  // namespace qvm
