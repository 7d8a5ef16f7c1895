#include "present/keyboard_lighting_view.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <numbers>

#include "lighting/keyboard_keys.h"
#include "present/colour_picker_model.h"

namespace qvm {

// ---- Key picture ----

KeyPicture::KeyPicture(const KeyboardLayout& layout) {
    const std::vector<KeyOfKind> lit = LightingKeys(layout);
    for (const KeyOfKind& k : lit) {
        const auto drawn =
            std::find_if(layout.keys.begin(), layout.keys.end(),
                         [&k](const KeyboardKey& key) { return key.usage == k.key; });
        keys_.push_back({k.key, k.kind, drawn->rect, drawn->name});
        width_ = std::max(width_, drawn->rect.right);
        height_ = std::max(height_, drawn->rect.bottom);
    }
    selected_.assign(keys_.size(), false);
}

std::vector<uint8_t> KeyPicture::KeyIndices() const {
    std::vector<uint8_t> indices;
    for (const LightKey& k : keys_) indices.push_back(k.key);
    return indices;
}

std::vector<KeyOfKind> KeyPicture::KeyKinds() const {
    std::vector<KeyOfKind> kinds;
    for (const LightKey& k : keys_) kinds.push_back({k.key, k.kind});
    return kinds;
}

std::optional<std::size_t> KeyPicture::KeyAt(int x, int y) const {
    for (std::size_t i = 0; i < keys_.size(); ++i) {
        const KeyRect& r = keys_[i].rect;
        if (x >= r.left && x < r.right && y >= r.top && y < r.bottom) return i;
    }
    return std::nullopt;
}

bool KeyPicture::Click(int x, int y, PictureButton button) {
    if (button == PictureButton::Right) {
        const bool any = std::find(selected_.begin(), selected_.end(), true) != selected_.end();
        selected_.assign(keys_.size(), false);
        return any;
    }
    const auto at = KeyAt(x, y);
    if (!at) return false;
    selected_[*at] = !selected_[*at];
    return true;
}

std::vector<uint8_t> KeyPicture::SelectedKeys() const {
    std::vector<uint8_t> keys;
    for (std::size_t i = 0; i < keys_.size(); ++i) {
        if (selected_[i]) keys.push_back(keys_[i].key);
    }
    return keys;
}

// ---- Actions ----

namespace keyboard_actions {

using Task = DeviceHub::KeyboardTask;
using Progress = DeviceHub::ProgressFn;

Task Open(std::vector<uint8_t> keys) {
    return [keys = std::move(keys)](KeyboardLighting& lighting, const Progress&) -> Status {
        if (auto effect = lighting.ReadLightingState(); !effect) return effect.error();
        if (keys.empty()) return {};
        auto colours = lighting.ReadKeyColours(keys);
        return colours ? Status{} : Status(colours.error());
    };
}

Task ChooseEffect(int effect) {
    return [effect](KeyboardLighting& lighting, const Progress&) {
        return lighting.ChangeEffect({.effect = effect});
    };
}

Task Step(KeyboardLevel level, int delta) {
    return [level, delta](KeyboardLighting& lighting, const Progress&) -> Status {
        auto stepped = lighting.Step(level, delta);
        return stepped ? Status{} : Status(stepped.error());
    };
}

Task ChooseDirection(int direction) {
    return [direction](KeyboardLighting& lighting, const Progress&) {
        return lighting.ChangeEffect({.direction = direction});
    };
}

Task ApplyColour(Rgb colour, std::vector<uint8_t> selected) {
    return [colour, selected = std::move(selected)](KeyboardLighting& lighting,
                                                    const Progress&) -> Status {
        if (!lighting.StateKnown()) {
            if (auto read = lighting.ReadLightingState(); !read) return read.error();
        }
        if (lighting.State().effect != kCustomKeyboardEffect) {
            return lighting.ChangeEffect({.colour = colour});
        }
        if (selected.empty()) {
            return MakeError(ErrorKind::BadInput, "select the keys to colour first");
        }
        return lighting.ColourKeys(selected, colour);
    };
}

Task ToggleSideLed() {
    return [](KeyboardLighting& lighting, const Progress&) -> Status {
        if (!lighting.StateKnown()) {
            if (auto read = lighting.ReadLightingState(); !read) return read.error();
        }
        return lighting.SetSideLed(!lighting.State().sideLed);
    };
}

Task Reset(std::vector<KeyOfKind> keys) {
    return [keys = std::move(keys)](KeyboardLighting& lighting, const Progress&) {
        return lighting.Reset(keys);
    };
}

}  // namespace keyboard_actions

// ---- Preview ----
//
// Pacing of the effects (the preview draws a frame every 90 ms; an effect's animation
// advances one step per its own step time):
//
//   Still:  "Customize" (both), "Static"                          the same picture always
//   Quick:  "Rainbow", "Horse race lamp", "Cross", "Aurora"       (12 - speed) x 10 ms
//   Steady: "Breathing", "Rain", "Twinkling stars", "One Click",  (10 - speed) x 20 ms
//           "Water drop", "Ripple", "Ripple 2"
//
// The sweeping effects move quickly; the ones that light and fade single keys or rings
// take the longer step so that each light can be seen.

namespace {

constexpr std::array<PreviewPace, kKeyboardEffectCount> kPaces{{
    PreviewPace::Still,   // 0 Customize
    PreviewPace::Quick,   // 1 Rainbow
    PreviewPace::Still,   // 2 Static
    PreviewPace::Steady,  // 3 Breathing
    PreviewPace::Steady,  // 4 Rain
    PreviewPace::Quick,   // 5 Horse race lamp
    PreviewPace::Steady,  // 6 Twinkling stars
    PreviewPace::Steady,  // 7 One Click
    PreviewPace::Steady,  // 8 Water drop
    PreviewPace::Quick,   // 9 Cross
    PreviewPace::Steady,  // 10 Ripple
    PreviewPace::Steady,  // 11 Ripple 2
    PreviewPace::Quick,   // 12 Aurora
    PreviewPace::Still,   // 13 Customize, per key
}};

constexpr int kBrightnessDivisor = 6;

// Where a key sits: x and y from 0 to 1 across the picture, and in picture widths (so
// that rings stay round).
struct Place {
    double x = 0;
    double y = 0;
    double wideX = 0;
    double wideY = 0;
};

std::vector<Place> Places(std::span<const LightKey> keys) {
    int left = 0, top = 0, right = 1, bottom = 1;
    if (!keys.empty()) {
        left = top = std::numeric_limits<int>::max();
        right = bottom = std::numeric_limits<int>::min();
    }
    for (const LightKey& k : keys) {
        left = std::min(left, k.rect.left);
        top = std::min(top, k.rect.top);
        right = std::max(right, k.rect.right);
        bottom = std::max(bottom, k.rect.bottom);
    }
    const double width = std::max(1, right - left);
    const double height = std::max(1, bottom - top);
    std::vector<Place> places;
    places.reserve(keys.size());
    for (const LightKey& k : keys) {
        const double cx = (k.rect.left + k.rect.right) / 2.0 - left;
        const double cy = (k.rect.top + k.rect.bottom) / 2.0 - top;
        places.push_back({cx / width, cy / height, cx / width, cy / width});
    }
    return places;
}

// How far along the effect's direction a key sits, 0 to 1: waves travel towards 1.
double Along(int direction, const Place& p) {
    switch (direction) {
        case 0:  // Left
            return 1.0 - p.x;
        case 1:  // Right
            return p.x;
        case 2:  // Up
            return 1.0 - p.y;
        default:  // Down
            return p.y;
    }
}
// Across the direction, 0 to 1.
double Across(int direction, const Place& p) {
    return direction < 2 ? p.y : p.x;
}

double Fraction(double v) {
    return v - std::floor(v);
}

uint32_t Mix(uint32_t a, uint32_t b) {
    uint32_t h = a * 0x9E3779B1u ^ (b + 0x7F4A7C15u + (a << 6) + (a >> 2));
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    return h;
}

Rgb Hue(double degrees) {
    const int hue = static_cast<int>(Fraction(degrees / kHueSteps) * kHueSteps) % kHueSteps;
    return HsvToRgb({hue, kChannelMax, kChannelMax}).value();
}

Rgb Dim(Rgb c, double level) {
    level = std::clamp(level, 0.0, 1.0);
    auto scale = [level](uint8_t v) { return static_cast<uint8_t>(std::lround(v * level)); };
    return {scale(c.red), scale(c.green), scale(c.blue)};
}

// A colour of 0 shows as the red the keyboard is sent instead.
Rgb Shown(Rgb c) {
    return c == Rgb{} ? kKeyboardZeroColour : c;
}

// A ring of `radius` (picture widths) around (cx, cy): full on it, fading to 0 a
// `width` away.
double Ring(const Place& p, double cx, double cy, double radius, double width) {
    const double d = std::hypot(p.wideX - cx, p.wideY - cy);
    return std::max(0.0, 1.0 - std::abs(d - radius) / width);
}

struct PreviewScene {
    const KeyboardLightingState& state;
    std::span<const LightKey> keys;
    std::vector<Place> places;
    int64_t step;  // the effect's animation step
    Rgb colour;    // the effect's own colour, as shown
    double depth;  // the picture's height, in picture widths

    Rgb Key(std::size_t i) const;
};

Rgb PreviewScene::Key(std::size_t i) const {
    const Place& p = places[i];
    const int dir = state.direction;
    const double s = static_cast<double>(step);
    const auto key = static_cast<uint32_t>(keys[i].key);
    switch (state.effect) {
        case 1:  // Rainbow: the hues sweep across the keys in the direction
            return Hue(360.0 * Along(dir, p) - 15.0 * s);
        case 2:
            return Shown(state.colour1);
        case 3: {  // Breathing: up and down over 16 steps
            const int64_t t = step % 16;
            return Dim(colour, (t < 8 ? t : 16 - t) / 8.0);
        }
        case 4: {  // Rain: drops run down 12 lanes, each lane at its own time
            const auto lane = static_cast<uint32_t>(Across(dir, p) * 12.0);
            const double head = Fraction(s / 14.0 + (Mix(lane, 4) % 100) / 100.0) * 1.4;
            const double behind = head - Along(dir, p);
            return behind >= 0 && behind < 0.35 ? Dim(colour, 1.0 - behind / 0.35) : Rgb{};
        }
        case 5:  // Horse race lamp: two bands chase each other round
            return Fraction(2.0 * Along(dir, p) - s / 20.0) < 0.25 ? colour : Dim(colour, 0.1);
        case 6: {  // Twinkling stars: one key in four lights and fades over 6 steps
            const int64_t cycle = (step + Mix(key, 6) % 6) / 6;
            if (Mix(key, static_cast<uint32_t>(cycle)) % 4 != 0) return Rgb{};
            const int64_t t = (step + Mix(key, 6) % 6) % 6;
            return Dim(colour, (t < 3 ? t + 1 : 6 - t) / 3.0);
        }
        case 7: {  // One Click: a key pressed now and then, fading out
            const int64_t cycle = step / 8;
            const std::size_t pressed = Mix(static_cast<uint32_t>(cycle), 7) % keys.size();
            return i == pressed ? Dim(colour, 1.0 - (step % 8) / 8.0) : Rgb{};
        }
        case 8: {  // Water drop: a ring from a drop at a new place each time
            const auto cycle = static_cast<uint32_t>(step / 12);
            const double cx = (Mix(cycle, 8) % 100) / 100.0;
            const double cy = (Mix(cycle, 9) % 100) / 100.0 * depth;
            return Dim(colour, Ring(p, cx, cy, (step % 12) / 12.0 * 0.6, 0.05));
        }
        case 9: {  // Cross: one bar sweeps along the direction, one across it
            const double along = std::abs(Along(dir, p) - Fraction(s / 24.0));
            const double across = std::abs(Across(dir, p) - Fraction(s / 12.0));
            return along < 0.05 || across < 0.12 ? colour : Rgb{};
        }
        case 10:  // Ripple: rings from the middle of the keyboard
            return Dim(colour, Ring(p, 0.5, depth / 2, (step % 10) / 10.0 * 0.6, 0.06));
        case 11: {  // Ripple 2: rainbow rings running outwards
            const double d = std::hypot(p.wideX - 0.5, p.wideY - depth / 2);
            return Hue(720.0 * d - 20.0 * s);
        }
        case 12: {  // Aurora: the colour's hue waving slowly in the direction
            const double wave =
                std::sin(2 * std::numbers::pi * (Along(dir, p) + 0.3 * Across(dir, p) - s / 40.0));
            const Hsv base = RgbToHsv(colour);
            return Dim(Hue(base.hue + 40.0 * wave), 0.6 + 0.4 * wave);
        }
        default: {  // the custom effects: each key its own colour
            const auto found = state.keys.find(keys[i].key);
            if (found == state.keys.end()) return Rgb{};
            const KeyColour& c = found->second;
            return {c.red, c.green, c.blue};
        }
    }
}

}  // namespace

PreviewPace PaceOf(int effect) {
    if (effect < 0 || effect >= kKeyboardEffectCount) return PreviewPace::Still;
    return kPaces[static_cast<std::size_t>(effect)];
}

int PreviewStepMs(int effect, int speed) {
    speed = std::clamp(speed, 0, kMaxKeyboardLevel);
    switch (PaceOf(effect)) {
        case PreviewPace::Quick:
            return (12 - speed) * 10;
        case PreviewPace::Steady:
            return (10 - speed) * 20;
        case PreviewPace::Still:
            break;
    }
    return 0;
}

Rgb ScaleToBrightness(Rgb colour, int brightness) {
    brightness = std::clamp(brightness, 0, kMaxKeyboardLevel);
    auto scale = [brightness](uint8_t v) {
        return static_cast<uint8_t>(v * brightness / kBrightnessDivisor);
    };
    return {scale(colour.red), scale(colour.green), scale(colour.blue)};
}

std::vector<Rgb> PreviewFrame(const KeyboardLightingState& state, std::span<const LightKey> keys,
                              int64_t elapsedMs) {
    const int stepMs = PreviewStepMs(state.effect, state.speed);
    std::vector<Place> places = Places(keys);
    double depth = 0;
    for (const Place& p : places) depth = std::max(depth, p.wideY);
    const PreviewScene frame{state,
                             keys,
                             std::move(places),
                             stepMs > 0 ? std::max<int64_t>(0, elapsedMs) / stepMs : 0,
                             Shown(state.colour2),
                             depth};
    std::vector<Rgb> colours;
    colours.reserve(keys.size());
    for (std::size_t i = 0; i < keys.size(); ++i) {
        colours.push_back(ScaleToBrightness(frame.Key(i), state.brightness));
    }
    return colours;
}

}  // namespace qvm
