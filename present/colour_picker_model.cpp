#include "present/colour_picker_model.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

namespace qvm {

namespace {

constexpr int kHueSector = 60;  // degrees between a primary and the next secondary colour
constexpr std::size_t kHexDigits = 6;

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

uint8_t RoundChannel(double value) {
    return static_cast<uint8_t>(std::clamp(std::lround(value), 0L, static_cast<long>(kChannelMax)));
}

Rgb RoundTo2Bit(Rgb colour) {
    return {Expand2Bit(Reduce8Bit(colour.red)), Expand2Bit(Reduce8Bit(colour.green)),
            Expand2Bit(Reduce8Bit(colour.blue))};
}

bool InRange(int value, int low, int high) {
    return value >= low && value <= high;
}

}  // namespace

Hsv RgbToHsv(Rgb colour) {
    const int r = colour.red, g = colour.green, b = colour.blue;
    const int high = std::max({r, g, b});
    const int low = std::min({r, g, b});
    const int delta = high - low;
    Hsv hsv;
    hsv.value = high;
    if (high == 0 || delta == 0) return hsv;
    hsv.saturation = static_cast<int>(std::lround(delta * double{kChannelMax} / high));
    double sector = 0;
    if (high == r) {
        sector = static_cast<double>(g - b) / delta;
    } else if (high == g) {
        sector = 2.0 + static_cast<double>(b - r) / delta;
    } else {
        sector = 4.0 + static_cast<double>(r - g) / delta;
    }
    int hue = static_cast<int>(std::lround(sector * kHueSector));
    hsv.hue = ((hue % kHueSteps) + kHueSteps) % kHueSteps;
    return hsv;
}

Result<Rgb> HsvToRgb(Hsv hsv) {
    if (!InRange(hsv.hue, 0, kHueSteps - 1) || !InRange(hsv.saturation, 0, kChannelMax) ||
        !InRange(hsv.value, 0, kChannelMax)) {
        return MakeError(ErrorKind::BadInput,
                         "hue 0 to 359, saturation and value 0 to 255 expected");
    }
    const double chroma = hsv.value * (hsv.saturation / double{kChannelMax});
    const double sector = hsv.hue / double{kHueSector};
    const double second = chroma * (1.0 - std::fabs(std::fmod(sector, 2.0) - 1.0));
    const double base = hsv.value - chroma;
    // Per sector: which of chroma (c), second (x) and 0 goes to red, green and blue.
    struct Mix {
        double red, green, blue;
    };
    const std::array<Mix, 6> mixes{{{chroma, second, 0},
                                    {second, chroma, 0},
                                    {0, chroma, second},
                                    {0, second, chroma},
                                    {second, 0, chroma},
                                    {chroma, 0, second}}};
    const Mix& mix = mixes[static_cast<std::size_t>(hsv.hue / kHueSector)];
    return Rgb{RoundChannel(mix.red + base), RoundChannel(mix.green + base),
               RoundChannel(mix.blue + base)};
}

Result<Rgb> ParseHexColour(std::string_view text) {
    auto refuse = [&] {
        return MakeError(ErrorKind::BadInput,
                         "colour '" + std::string(text) + "': expected #RRGGBB");
    };
    if (text.size() != kHexDigits + 1 || text[0] != '#') return refuse();
    std::array<uint8_t, 3> channels{};
    for (std::size_t i = 0; i < channels.size(); ++i) {
        const int high = HexDigit(text[1 + 2 * i]);
        const int low = HexDigit(text[2 + 2 * i]);
        if (high < 0 || low < 0) return refuse();
        channels[i] = static_cast<uint8_t>(high * 16 + low);
    }
    return Rgb{channels[0], channels[1], channels[2]};
}

std::string FormatHexColour(Rgb colour) {
    char text[8];
    std::snprintf(text, sizeof text, "#%02X%02X%02X", colour.red, colour.green, colour.blue);
    return text;
}

std::array<uint8_t, 3> DeviceChannels(Rgb colour, bool twoBitChannels) {
    if (!twoBitChannels) return {colour.red, colour.green, colour.blue};
    return {Reduce8Bit(colour.red), Reduce8Bit(colour.green), Reduce8Bit(colour.blue)};
}

const std::array<Rgb, kSwatchCount>& PickerSwatches() {
    static constexpr std::array<Rgb, kSwatchCount> kSwatches{{
        {0xFF, 0x00, 0x00},
        {0xFF, 0x80, 0x00},
        {0xFF, 0xFF, 0x00},
        {0x80, 0xFF, 0x00},
        {0x00, 0xFF, 0x00},
        {0x00, 0xFF, 0x80},
        {0x00, 0xFF, 0xFF},
        {0x00, 0x80, 0xFF},
        {0x00, 0x00, 0xFF},
        {0x80, 0x00, 0xFF},
        {0xFF, 0x00, 0xFF},
        {0xFF, 0xFF, 0xFF},
    }};
    return kSwatches;
}

ColourPickerModel::ColourPickerModel(const ColourPickerSetup& setup)
    : picked_(setup.initial),
      hsv_(RgbToHsv(setup.initial)),
      mode_(setup.initialMode),
      twoBit_(setup.twoBitChannels),
      profileColour_(setup.profileColour) {}

Rgb ColourPickerModel::Shown() const {
    return twoBit_ ? RoundTo2Bit(picked_) : picked_;
}

std::array<uint8_t, 3> ColourPickerModel::DeviceChannels() const {
    return qvm::DeviceChannels(picked_, twoBit_);
}

Hsv ColourPickerModel::KeepMarker(Rgb colour) const {
    Hsv hsv = RgbToHsv(colour);
    // A grey has no hue and black no saturation either: the wheel's marker stays put.
    if (hsv.saturation == 0) hsv.hue = hsv_.hue;
    if (hsv.value == 0) hsv.saturation = hsv_.saturation;
    return hsv;
}

bool ColourPickerModel::Pick(Rgb colour, Hsv hsv) {
    const PickerChoice before = Choice();
    if (mode_ == PickerMode::Off || mode_ == PickerMode::ProfileColour) mode_ = PickerMode::Colour;
    picked_ = colour;
    hsv_ = hsv;
    return Choice() != before;
}

bool ColourPickerModel::SetRgb(Rgb colour) {
    return Pick(colour, KeepMarker(colour));
}

Result<bool> ColourPickerModel::SetChannel(int channel, int value) {
    if (!InRange(channel, 0, 2) || !InRange(value, 0, kChannelMax)) {
        return MakeError(ErrorKind::BadInput, "channel 0 to 2, value 0 to 255 expected");
    }
    Rgb colour = picked_;
    std::array<uint8_t*, 3> channels{&colour.red, &colour.green, &colour.blue};
    *channels[static_cast<std::size_t>(channel)] = static_cast<uint8_t>(value);
    return SetRgb(colour);
}

Result<bool> ColourPickerModel::SetHsv(Hsv hsv) {
    auto colour = HsvToRgb(hsv);
    if (!colour) return colour.error();
    return Pick(*colour, hsv);
}

Result<bool> ColourPickerModel::SetHex(std::string_view text) {
    auto colour = ParseHexColour(text);
    if (!colour) return colour.error();
    return SetRgb(*colour);
}

Result<bool> ColourPickerModel::ChooseSwatch(std::size_t index) {
    if (index >= kSwatchCount) {
        return MakeError(ErrorKind::BadInput,
                         "swatch 0 to " + std::to_string(kSwatchCount - 1) + " expected");
    }
    return SetRgb(PickerSwatches()[index]);
}

bool ColourPickerModel::SetMode(PickerMode mode) {
    const PickerChoice before = Choice();
    Rgb colour = picked_;
    switch (mode) {
        case PickerMode::Off:
            colour = {};
            break;
        case PickerMode::ProfileColour:
            colour = profileColour_;
            break;
        case PickerMode::Colour:
        case PickerMode::Breathing:
        case PickerMode::On:
            if (mode_ == PickerMode::Off) colour = profileColour_;
            break;
    }
    mode_ = mode;
    hsv_ = KeepMarker(colour);
    picked_ = colour;
    return Choice() != before;
}

std::optional<PickerChoice> PreviewCoalescer::Want(const PickerChoice& choice) {
    std::lock_guard lock(mutex_);
    if (!inFlight_) {
        inFlight_ = true;
        return choice;
    }
    waiting_ = choice;
    return std::nullopt;
}

std::optional<PickerChoice> PreviewCoalescer::Finished() {
    std::lock_guard lock(mutex_);
    std::optional<PickerChoice> next = std::exchange(waiting_, std::nullopt);
    inFlight_ = next.has_value();
    return next;
}

void PreviewCoalescer::DropWaiting() {
    std::lock_guard lock(mutex_);
    waiting_.reset();
}

bool PreviewCoalescer::InFlight() const {
    std::lock_guard lock(mutex_);
    return inFlight_;
}

}  // namespace qvm
