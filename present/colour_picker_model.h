// The colour picker's rules, kept free of any toolkit: the colour being picked (in RGB,
// with the hue, saturation and value the wheel and the value slider show), the "#RRGGBB"
// text of the hex field, the swatches, the LED mode its buttons choose, and the
// coalescing of live previews.
//
// The picker knows nothing of devices. What it hands back is a PickerChoice, a plain
// value that the caller turns into device writes: a profile colour, a keyboard colour or
// the colour record of one LED or of several.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "base/result.h"
#include "config/image_layout.h"

namespace qvm {

// Hue in degrees 0..359, saturation and value 0..255.
struct Hsv {
    int hue = 0;
    int saturation = 0;
    int value = 0;
    bool operator==(const Hsv&) const = default;
};
inline constexpr int kHueSteps = 360;
inline constexpr int kChannelMax = 255;

// The hue of a grey (saturation 0) or of black is undefined; it comes back as 0.
Hsv RgbToHsv(Rgb colour);
// Refuses (BadInput) a hue outside 0..359 or a saturation or value outside 0..255.
Result<Rgb> HsvToRgb(Hsv hsv);

// "#RRGGBB": a '#' and exactly six hexadecimal digits, either case. Anything else (no '#',
// three digits, blanks, a seventh digit) is refused with BadInput.
Result<Rgb> ParseHexColour(std::string_view text);
// "#RRGGBB" with upper-case digits.
std::string FormatHexColour(Rgb colour);

// What the mode buttons choose for the LEDs being edited.
enum class PickerMode : uint8_t {
    Colour,         // a colour from the wheel, sliders, hex field or swatches; breathing as it was
    Breathing,      // "Breathing": the own colour, breathing
    On,             // "ON": the own colour, steady
    Off,            // "OFF": dark
    ProfileColour,  // the profile swatch: follow the current profile's colour
};

struct PickerChoice {
    Rgb colour;  // as the device will show it (2-bit rounded where the device keeps 2 bits)
    PickerMode mode = PickerMode::Colour;
    bool operator==(const PickerChoice&) const = default;
};

// The channel values a device takes for colour: 0..3 each where it keeps 2 bits a
// channel (the nearest level), else the 8-bit values unchanged.
std::array<uint8_t, 3> DeviceChannels(Rgb colour, bool twoBitChannels);

// The ready-made colours of the swatch row.
inline constexpr std::size_t kSwatchCount = 12;
const std::array<Rgb, kSwatchCount>& PickerSwatches();

struct ColourPickerSetup {
    Rgb initial;
    PickerMode initialMode = PickerMode::Colour;
    // The device keeps 2 bits a channel (profile colours of the oldest layout class): the
    // colour is shown, previewed and handed back as the device will show it.
    bool twoBitChannels = false;
    // The colour the profile swatch and the way out of "OFF" copy in.
    Rgb profileColour;
};

class ColourPickerModel {
  public:
    explicit ColourPickerModel(const ColourPickerSetup& setup);

    // The colour as picked, before any rounding (what the sliders and the wheel show).
    Rgb Picked() const { return picked_; }
    // The hue, saturation and value of the wheel and the value slider. The hue and
    // saturation stay where the user put them while the value is 0 or the colour grey.
    Hsv PickedHsv() const { return hsv_; }
    // The colour as the device shows it: the picked colour, rounded to 2 bits a channel
    // where the device keeps no more.
    Rgb Shown() const;
    PickerMode Mode() const { return mode_; }
    PickerChoice Choice() const { return {Shown(), mode_}; }
    // The channel values the device takes: 0..3 each with 2-bit channels, else 0..255.
    std::array<uint8_t, 3> DeviceChannels() const;

    // Each returns true when the choice (shown colour or mode) changed, so that the caller
    // previews only real changes. A colour picked while "OFF" or the profile colour is
    // chosen turns the LED back to its own colour.
    bool SetRgb(Rgb colour);
    // channel 0 red, 1 green, 2 blue; value 0..255. Out of range: BadInput, nothing changed.
    Result<bool> SetChannel(int channel, int value);
    Result<bool> SetHsv(Hsv hsv);
    Result<bool> SetHex(std::string_view text);
    Result<bool> ChooseSwatch(std::size_t index);
    // Breathing and ON keep the colour; leaving "OFF" for them brings the profile colour
    // back, since the dark colour is no colour of the LED's own. OFF shows black; the
    // profile colour copies the profile's colour in.
    bool SetMode(PickerMode mode);

  private:
    // The wheel position of colour, keeping the hue and saturation where colour has none.
    Hsv KeepMarker(Rgb colour) const;
    // A colour picked by the user: "OFF" and the profile colour give way to an own colour.
    bool Pick(Rgb colour, Hsv hsv);

    Rgb picked_;
    Hsv hsv_;
    PickerMode mode_;
    bool twoBit_;
    Rgb profileColour_;
};

// The previews of a picker: at most one in flight and at most one waiting, the newest.
// Dragging the wheel produces a change per pointer move; each Want replaces the waiting
// choice, so a slow device is never more than one preview behind the pointer.
//
// Thread-safe: the window calls Want on its thread; Finished may come from the thread
// that ran the preview.
class PreviewCoalescer {
  public:
    // The choice to preview now, or nothing when a preview is in flight (the choice then
    // waits, replacing any choice that waited before it).
    std::optional<PickerChoice> Want(const PickerChoice& choice);
    // The preview in flight is done: the waiting choice to preview next (it is then in
    // flight), or nothing when none waits.
    std::optional<PickerChoice> Finished();
    // Forgets the waiting choice (the window closes); a preview in flight stays in flight.
    void DropWaiting();
    bool InFlight() const;

  private:
    mutable std::mutex mutex_;
    bool inFlight_ = false;                // guarded by mutex_
    std::optional<PickerChoice> waiting_;  // guarded by mutex_
};

}  // namespace qvm
