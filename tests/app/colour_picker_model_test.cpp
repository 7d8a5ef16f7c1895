// The colour picker's rules: hex text, HSV, 2-bit colours, modes and coalesced previews.
#include "present/colour_picker_model.h"

#include <gtest/gtest.h>

#include <mutex>
#include <thread>

namespace qvm {
namespace {

TEST(ColourPickerHex, RoundTripsAndRefusesAnythingButHashAndSixDigits) {
    EXPECT_EQ(FormatHexColour(ParseHexColour("#12aB9f").value()), "#12AB9F");
    for (const char* text : {"", "#", "123456", "#12345", "#1234567", " #123456", "#123456 ",
                             "#12345G", "#-12345", "0x123456", "#12 345", "##123456", "#fff"}) {
        auto parsed = ParseHexColour(text);
        ASSERT_EQ(parsed.kind(), ErrorKind::BadInput) << '"' << text << '"';
        EXPECT_NE(parsed.message().find("#RRGGBB"), std::string::npos);
    }
}

// The sector edges convert both ways; every colour comes back within rounding.
TEST(ColourPickerHsv, EdgesConvertBothWaysAndRoundTrip) {
    // clang-format off
    for (const auto& [rgb, hsv] : {
             std::pair{Rgb{0, 0, 0}, Hsv{0, 0, 0}}, {{128, 128, 128}, {0, 0, 128}},
             {{255, 255, 0}, {60, 255, 255}}, {{0, 255, 255}, {180, 255, 255}},
             {{255, 0, 255}, {300, 255, 255}}, {{255, 0, 4}, {359, 255, 255}},
             {{1, 0, 0}, {0, 255, 1}}, {{255, 128, 128}, {0, 127, 255}}}) {
        // clang-format on
        EXPECT_EQ(RgbToHsv(rgb), hsv) << FormatHexColour(rgb);
        EXPECT_EQ(HsvToRgb(hsv).value(), rgb) << FormatHexColour(rgb);
    }
    for (int i = 0; i < 18 * 18 * 18; ++i) {
        const Rgb c{uint8_t(i % 18 * 15), uint8_t(i / 18 % 18 * 15), uint8_t(i / 324 * 15)};
        const Rgb back = HsvToRgb(RgbToHsv(c)).value();
        const int apart = std::abs(back.red - c.red) + std::abs(back.green - c.green) +
                          std::abs(back.blue - c.blue);
        ASSERT_LE(apart, 6) << FormatHexColour(c) << " came back as " << FormatHexColour(back);
    }
}

TEST(ColourPickerModel, RefusedValuesChangeNothing) {
    ColourPickerModel model({.initial = {1, 2, 3}});
    for (const Hsv& hsv : {Hsv{360, 0, 0}, Hsv{-1, 0, 0}, Hsv{0, 256, 0}, Hsv{0, 0, 256}}) {
        EXPECT_EQ(HsvToRgb(hsv).kind(), ErrorKind::BadInput);
        EXPECT_FALSE(model.SetHsv(hsv));
    }
    for (const auto& [channel, value] : {std::pair{3, 0}, {0, 256}, {-1, 0}})
        EXPECT_FALSE(model.SetChannel(channel, value));
    EXPECT_FALSE(model.ChooseSwatch(kSwatchCount));
    EXPECT_EQ(model.Choice(), (PickerChoice{{1, 2, 3}, PickerMode::Colour}));
}

TEST(ColourPickerModel, TwoBitDevicesGetTheNearestOfFourLevels) {
    using Levels = std::array<uint8_t, 3>;
    for (const auto& [picked, shown, device] :
         {std::tuple{Rgb{0, 255, 128}, Rgb{0, 255, 170}, Levels{0, 3, 2}},
          {Rgb{212, 213, 170}, Rgb{170, 255, 170}, Levels{2, 3, 2}}}) {
        ColourPickerModel model({.initial = {9, 9, 9}, .twoBitChannels = true});
        model.SetRgb(picked);
        EXPECT_EQ(model.Picked(), picked);
        EXPECT_EQ(model.Choice().colour, shown);
        EXPECT_EQ(model.DeviceChannels(), device);
        EXPECT_EQ(ColourPickerModel({.initial = picked}).Shown(), picked) << "full colour";
    }
    ColourPickerModel model({.initial = {0, 0, 0}, .twoBitChannels = true});
    EXPECT_FALSE(model.SetRgb({20, 0, 0}));  // still level 0: nothing to preview
    EXPECT_TRUE(model.SetRgb({60, 0, 0}));
}

// Scripts of o(ff), n (on), b(reathing), p(rofile swatch), h(ex "#112233"), x (a bad hex).
TEST(ColourPickerModel, ModesAndColoursTogether) {
    const std::string_view modeSteps = "onbp";
    const PickerMode modes[] = {PickerMode::Off, PickerMode::On, PickerMode::Breathing,
                                PickerMode::ProfileColour};
    const Rgb own{10, 20, 30}, blue{0, 0, 255}, hex{0x11, 0x22, 0x33};
    for (const auto& [script, expected] :
         {std::pair{"o", PickerChoice{{0, 0, 0}, PickerMode::Off}},  // off is dark
          {"on", {blue, PickerMode::On}},            // leaving off brings the profile colour
          {"p", {blue, PickerMode::ProfileColour}},  // the profile swatch copies it in
          {"ph", {hex, PickerMode::Colour}},         // a picked colour leaves it (and off)
          {"bh", {hex, PickerMode::Breathing}},      // ... but keeps breathing
          {"bx", {own, PickerMode::Breathing}}}) {   // breathing keeps the colour, a bad hex too
        ColourPickerModel model({.initial = own, .profileColour = blue});
        for (const char step : std::string_view(script)) {
            const size_t mode = modeSteps.find(step);
            if (mode != modeSteps.npos) model.SetMode(modes[mode]);
            const bool good = step == 'h';
            EXPECT_TRUE(mode != modeSteps.npos ||
                        model.SetHex(good ? "#112233" : "#11223").ok() == good);
        }
        EXPECT_EQ(model.Choice(), expected) << script;
    }
}

// The wheel's marker stays at its hue and saturation while the colour has neither.
TEST(ColourPickerModel, GreyAndBlackKeepTheWheelMarker) {
    ColourPickerModel model({.initial = {0, 0, 0}});
    ASSERT_TRUE(model.SetHsv({200, 180, 255}));
    ASSERT_TRUE(model.SetHsv({200, 180, 0}));
    EXPECT_EQ(model.PickedHsv(), (Hsv{200, 180, 0}));
    model.SetRgb({90, 90, 90});
    EXPECT_EQ(model.PickedHsv(), (Hsv{200, 0, 90}));
}

// Changes during one preview give one more, the newest; a closed window previews none.
TEST(PreviewCoalescer, OneInFlightNewestWins) {
    PreviewCoalescer coalescer;
    EXPECT_EQ(coalescer.Want({{1, 0, 0}, PickerMode::Colour})->colour, (Rgb{1, 0, 0}));
    for (int i = 0; i < 50; ++i)
        EXPECT_FALSE(coalescer.Want({{uint8_t(i), 7, 7}, PickerMode::Colour}));
    EXPECT_EQ(coalescer.Finished()->colour, (Rgb{49, 7, 7}));
    EXPECT_FALSE(coalescer.Finished());
    EXPECT_TRUE(coalescer.Want({{2, 0, 0}, PickerMode::Off}));  // idle again: starts at once
    EXPECT_FALSE(coalescer.Want({{3, 0, 0}, PickerMode::Colour}));
    coalescer.DropWaiting();
    EXPECT_FALSE(coalescer.Finished());
    // A device thread finishing previews while the window keeps wanting new ones: a
    // preview starts only when the last one was taken, and the last one wanted goes last.
    std::mutex mutex;
    std::optional<PickerChoice> handedOver;  // a preview the window started; guarded by mutex
    std::atomic<bool> wanting{true};
    Rgb lastPreviewed{};
    std::jthread device([&] {
        for (;;) {
            auto job = [&] {
                std::lock_guard lock(mutex);
                return std::exchange(handedOver, std::nullopt);
            }();
            if (!job && !wanting && !coalescer.InFlight()) return;
            if (!job) std::this_thread::yield();
            for (; job; job = coalescer.Finished()) lastPreviewed = job->colour;
        }
    });
    constexpr int kWants = 2000;
    for (int i = 1; i <= kWants; ++i) {
        if (auto start =
                coalescer.Want({{uint8_t(i & 0xFF), uint8_t(i >> 8), 1}, PickerMode::Colour})) {
            std::lock_guard lock(mutex);
            EXPECT_FALSE(handedOver.has_value()) << "two previews in flight";
            handedOver = start;
        }
    }
    wanting = false;
    device.join();
    EXPECT_EQ(lastPreviewed, (Rgb{uint8_t(kWants & 0xFF), uint8_t(kWants >> 8), 1}));
}

}  // namespace
}  // namespace qvm
