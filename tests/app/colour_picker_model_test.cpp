// The colour picker's rules: the hex field's text, the wheel's HSV at its edges, the
// 2-bit colours of the oldest mice, the mode buttons, and the preview coalescing that
// keeps a dragged wheel from queueing previews behind a slow device.
#include "present/colour_picker_model.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace qvm {

// Colours in failure messages as the hex field shows them.
void PrintTo(const Rgb& c, std::ostream* out) {
    *out << FormatHexColour(c);
}

namespace {

TEST(ColourPickerHex, ParsesAndFormatsRoundTrip) {
    struct Case {
        const char* text;
        Rgb colour;
        const char* formatted;
    };
    const Case cases[] = {
        {"#000000", {0, 0, 0}, "#000000"},
        {"#FFFFFF", {255, 255, 255}, "#FFFFFF"},
        {"#12aB9f", {0x12, 0xAB, 0x9F}, "#12AB9F"},
        {"#0a0B0c", {0x0A, 0x0B, 0x0C}, "#0A0B0C"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        auto parsed = ParseHexColour(c.text);
        ASSERT_TRUE(parsed) << parsed.message();
        EXPECT_EQ(*parsed, c.colour);
        EXPECT_EQ(FormatHexColour(*parsed), c.formatted);
    }
}

TEST(ColourPickerHex, RefusesAnythingButHashAndSixDigits) {
    const char* refused[] = {"",         "#",        "123456",  "#12345",  "#1234567",
                             " #123456", "#123456 ", "#12345G", "#-12345", "0x123456",
                             "#12 345",  "##123456", "#fff",    "#12345\n"};
    for (const char* text : refused) {
        SCOPED_TRACE(testing::PrintToString(text));
        auto parsed = ParseHexColour(text);
        ASSERT_FALSE(parsed);
        EXPECT_EQ(parsed.kind(), ErrorKind::BadInput);
        EXPECT_NE(parsed.message().find("#RRGGBB"), std::string::npos);
    }
}

TEST(ColourPickerHsv, EdgesConvertBothWays) {
    struct Case {
        Rgb rgb;
        Hsv hsv;
    };
    const Case cases[] = {
        {{0, 0, 0}, {0, 0, 0}},           {{255, 255, 255}, {0, 0, 255}},
        {{128, 128, 128}, {0, 0, 128}},   {{255, 0, 0}, {0, 255, 255}},
        {{255, 255, 0}, {60, 255, 255}},  {{0, 255, 0}, {120, 255, 255}},
        {{0, 255, 255}, {180, 255, 255}}, {{0, 0, 255}, {240, 255, 255}},
        {{255, 0, 255}, {300, 255, 255}}, {{255, 0, 4}, {359, 255, 255}},
        {{1, 0, 0}, {0, 255, 1}},         {{255, 128, 128}, {0, 127, 255}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(FormatHexColour(c.rgb));
        const Hsv hsv = RgbToHsv(c.rgb);
        EXPECT_EQ(hsv.hue, c.hsv.hue);
        EXPECT_EQ(hsv.saturation, c.hsv.saturation);
        EXPECT_EQ(hsv.value, c.hsv.value);
        auto back = HsvToRgb(c.hsv);
        ASSERT_TRUE(back);
        EXPECT_EQ(*back, c.rgb);
    }
}

// Every sector of the wheel maps back to within rounding of where it came from.
TEST(ColourPickerHsv, RoundTripStaysWithinRounding) {
    for (int r = 0; r <= 255; r += 15) {
        for (int g = 0; g <= 255; g += 15) {
            for (int b = 0; b <= 255; b += 15) {
                const Rgb c{uint8_t(r), uint8_t(g), uint8_t(b)};
                auto back = HsvToRgb(RgbToHsv(c));
                ASSERT_TRUE(back);
                ASSERT_LE(
                    std::abs(back->red - r) + std::abs(back->green - g) + std::abs(back->blue - b),
                    6)
                    << FormatHexColour(c) << " came back as " << FormatHexColour(*back);
            }
        }
    }
}

TEST(ColourPickerHsv, RefusesOutOfRange) {
    const Hsv refused[] = {{360, 0, 0}, {-1, 0, 0}, {0, 256, 0}, {0, -1, 0}, {0, 0, 256}};
    for (const Hsv& hsv : refused) {
        auto rgb = HsvToRgb(hsv);
        EXPECT_FALSE(rgb);
        EXPECT_EQ(rgb.kind(), ErrorKind::BadInput);
        ColourPickerModel model({.initial = {1, 2, 3}});
        EXPECT_FALSE(model.SetHsv(hsv));
        EXPECT_EQ(model.Picked(), (Rgb{1, 2, 3}));
    }
}

TEST(ColourPickerModel, TwoBitDevicesGetTheNearestOfFourLevels) {
    struct Case {
        Rgb picked;
        Rgb shown;
        std::array<uint8_t, 3> device;
    };
    const Case cases[] = {
        {{0, 255, 128}, {0, 255, 170}, {0, 3, 2}},
        {{42, 43, 128}, {0, 85, 170}, {0, 1, 2}},
        {{0x12, 0x80, 0x7F}, {0, 170, 85}, {0, 2, 1}},
        {{212, 213, 170}, {170, 255, 170}, {2, 3, 2}},
        {{85, 170, 86}, {85, 170, 85}, {1, 2, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(FormatHexColour(c.picked));
        ColourPickerModel model({.initial = {9, 9, 9}, .twoBitChannels = true});
        model.SetRgb(c.picked);
        EXPECT_EQ(model.Picked(), c.picked);
        EXPECT_EQ(model.Shown(), c.shown);
        EXPECT_EQ(model.Choice().colour, c.shown);
        EXPECT_EQ(model.DeviceChannels(), c.device);

        ColourPickerModel full({.initial = c.picked});
        EXPECT_EQ(full.Shown(), c.picked);
        EXPECT_EQ(full.DeviceChannels(),
                  (std::array<uint8_t, 3>{c.picked.red, c.picked.green, c.picked.blue}));
    }
}

TEST(ColourPickerModel, TwoBitChangeBelowOneLevelIsNoChange) {
    ColourPickerModel model({.initial = {0, 0, 0}, .twoBitChannels = true});
    EXPECT_FALSE(model.SetRgb({20, 0, 0}));  // still level 0: nothing to preview
    EXPECT_TRUE(model.SetRgb({60, 0, 0}));
}

TEST(ColourPickerModel, ModesAndColoursTogether) {
    using Step = std::function<void(ColourPickerModel&)>;
    const Step off = [](ColourPickerModel& m) { m.SetMode(LedMode::Off); };
    const Step on = [](ColourPickerModel& m) { m.SetMode(LedMode::On); };
    const Step breathing = [](ColourPickerModel& m) { m.SetMode(LedMode::Breathing); };
    const Step profile = [](ColourPickerModel& m) { m.SetMode(LedMode::ProfileColour); };
    const Step hex = [](ColourPickerModel& m) { ASSERT_TRUE(m.SetHex("#112233")); };
    const Step swatch = [](ColourPickerModel& m) { ASSERT_TRUE(m.ChooseSwatch(0)); };
    const Step badHex = [](ColourPickerModel& m) { ASSERT_FALSE(m.SetHex("#11223")); };
    const Step green = [](ColourPickerModel& m) { ASSERT_TRUE(m.SetChannel(1, 200)); };
    struct Case {
        const char* name;
        std::vector<Step> steps;
        PickerChoice expected;
    };
    const Rgb own{10, 20, 30};
    const Rgb profileBlue{0, 0, 255};
    const Case cases[] = {
        {"nothing", {}, {own, LedMode::Colour}},
        {"off is dark", {off}, {{0, 0, 0}, LedMode::Off}},
        {"on after off brings the profile colour", {off, on}, {profileBlue, LedMode::On}},
        {"breathing after off too", {off, breathing}, {profileBlue, LedMode::Breathing}},
        {"breathing keeps the colour", {breathing}, {own, LedMode::Breathing}},
        {"profile swatch copies it in", {profile}, {profileBlue, LedMode::ProfileColour}},
        {"a picked colour leaves the profile",
         {profile, hex},
         {{0x11, 0x22, 0x33}, LedMode::Colour}},
        {"a picked colour leaves off", {off, swatch}, {{255, 0, 0}, LedMode::Colour}},
        {"a picked colour keeps breathing",
         {breathing, hex},
         {{0x11, 0x22, 0x33}, LedMode::Breathing}},
        {"a refused hex changes nothing", {breathing, badHex}, {own, LedMode::Breathing}},
        {"a slider changes one channel", {green}, {{10, 200, 30}, LedMode::Colour}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ColourPickerModel model({.initial = own, .profileColour = profileBlue});
        for (const Step& step : c.steps) step(model);
        EXPECT_EQ(model.Choice().colour, c.expected.colour);
        EXPECT_EQ(model.Choice().mode, c.expected.mode);
    }
}

TEST(ColourPickerModel, RefusedValuesChangeNothing) {
    ColourPickerModel model({.initial = {1, 2, 3}});
    EXPECT_FALSE(model.SetChannel(3, 0));
    EXPECT_FALSE(model.SetChannel(0, 256));
    EXPECT_FALSE(model.SetChannel(-1, 0));
    EXPECT_FALSE(model.ChooseSwatch(kSwatchCount));
    EXPECT_EQ(model.Choice(), (PickerChoice{{1, 2, 3}, LedMode::Colour}));
}

// The wheel's marker stays at its hue and saturation while the colour has neither.
TEST(ColourPickerModel, GreyAndBlackKeepTheWheelMarker) {
    ColourPickerModel model({.initial = {0, 0, 0}});
    ASSERT_TRUE(model.SetHsv({200, 180, 255}));
    ASSERT_TRUE(model.SetHsv({200, 180, 0}));
    EXPECT_EQ(model.Picked(), (Rgb{0, 0, 0}));
    EXPECT_EQ(model.PickedHsv(), (Hsv{200, 180, 0}));
    model.SetRgb({90, 90, 90});
    EXPECT_EQ(model.PickedHsv(), (Hsv{200, 0, 90}));
    model.SetMode(LedMode::Off);
    EXPECT_EQ(model.PickedHsv().hue, 200);
}

TEST(PreviewCoalescer, FiftyChangesDuringOnePreviewGiveOneMore) {
    PreviewCoalescer coalescer;
    auto first = coalescer.Want({{1, 0, 0}, LedMode::Colour});
    ASSERT_TRUE(first);
    EXPECT_EQ(first->colour, (Rgb{1, 0, 0}));
    for (int i = 0; i < 50; ++i) {
        EXPECT_FALSE(coalescer.Want({{uint8_t(i), 7, 7}, LedMode::Colour}));
    }
    auto next = coalescer.Finished();
    ASSERT_TRUE(next);
    EXPECT_EQ(next->colour, (Rgb{49, 7, 7}));
    EXPECT_TRUE(coalescer.InFlight());
    EXPECT_FALSE(coalescer.Finished());
    EXPECT_FALSE(coalescer.InFlight());
    EXPECT_TRUE(coalescer.Want({{2, 0, 0}, LedMode::Off}));  // idle again: starts at once
}

TEST(PreviewCoalescer, DroppedWaitingChoiceIsNotPreviewed) {
    PreviewCoalescer coalescer;
    ASSERT_TRUE(coalescer.Want({{1, 0, 0}, LedMode::Colour}));
    EXPECT_FALSE(coalescer.Want({{2, 0, 0}, LedMode::Colour}));
    coalescer.DropWaiting();
    EXPECT_TRUE(coalescer.InFlight());
    EXPECT_FALSE(coalescer.Finished());
}

// A device thread finishing previews while the window keeps wanting new ones: never two
// previews at once, and the last colour wanted is the last one previewed.
TEST(PreviewCoalescer, DeviceThreadNeverRunsTwoAndEndsOnTheNewest) {
    PreviewCoalescer coalescer;
    std::mutex mutex;
    std::optional<PickerChoice> handedOver;  // a preview the window started; guarded by mutex
    std::atomic<int> running{0};
    std::atomic<bool> wanting{true};
    Rgb lastPreviewed{};
    std::jthread device([&](std::stop_token) {
        for (;;) {
            std::optional<PickerChoice> job;
            {
                std::lock_guard lock(mutex);
                job = std::exchange(handedOver, std::nullopt);
            }
            if (!job) {
                if (!wanting && !coalescer.InFlight()) return;
                std::this_thread::yield();
                continue;
            }
            while (job) {
                EXPECT_EQ(running.fetch_add(1), 0);
                lastPreviewed = job->colour;
                running.fetch_sub(1);
                job = coalescer.Finished();
            }
        }
    });
    constexpr int kWants = 2000;
    for (int i = 1; i <= kWants; ++i) {
        const Rgb colour{uint8_t(i & 0xFF), uint8_t(i >> 8), 1};
        if (auto start = coalescer.Want({colour, LedMode::Colour})) {
            std::lock_guard lock(mutex);
            EXPECT_FALSE(handedOver.has_value());
            handedOver = start;
        }
    }
    wanting = false;
    device.join();
    EXPECT_EQ(lastPreviewed, (Rgb{uint8_t(kWants & 0xFF), uint8_t(kWants >> 8), 1}));
}

}  // namespace
}  // namespace qvm
