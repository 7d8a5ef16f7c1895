// The keyboard lighting window's rules, kept free of any toolkit: the key picture and its
// selection, the window's actions as the hub tasks that carry them to the keyboard, and
// the animated preview of the lights.
//
// The window never builds a report: every action is a KeyboardLighting call run on the
// hub's worker. The preview is for the eye only; nothing of it reaches the device.
//
// Time comes in as an argument (milliseconds since the preview started), so the preview
// holds no clock and a test drives it with a fake one.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "lang/keyboard_layout.h"
#include "lighting/keyboard_lighting.h"
#include "session/device_hub.h"

namespace qvm {

// ---- Key picture and selection ----

// One lit key of the picture: the keyboard's key index, its kind and where it is drawn.
struct LightKey {
    uint8_t key = 0;
    uint8_t kind = 0;
    KeyRect rect;
    std::string name;
};

enum class PictureButton { Left, Right };

class KeyPicture {
  public:
    // The lit keys of `layout` (LightingKeys), each once, in layout order.
    explicit KeyPicture(const KeyboardLayout& layout);

    std::span<const LightKey> Keys() const { return keys_; }
    std::vector<uint8_t> KeyIndices() const;
    std::vector<KeyOfKind> KeyKinds() const;
    // The picture's extent: the right and bottom edges of its furthest keys.
    int Width() const { return width_; }
    int Height() const { return height_; }

    // The key drawn at (x, y), as an index into Keys().
    std::optional<std::size_t> KeyAt(int x, int y) const;
    // Left: toggles the key under the pointer; right: deselects every key (wherever it
    // is clicked). True when the selection changed.
    bool Click(int x, int y, PictureButton button);
    bool Selected(std::size_t index) const { return selected_.at(index); }
    // The selected keys' indices, in picture order.
    std::vector<uint8_t> SelectedKeys() const;

  private:
    std::vector<LightKey> keys_;
    std::vector<bool> selected_;
    int width_ = 0;
    int height_ = 0;
};

// ---- Actions ----
// Each is the task DeviceHub::ChangeKeyboard runs; the task reads the state first where
// the keyboard's lighting is not known yet.
namespace keyboard_actions {

// Opening the window: the lighting state, then the colours of the picture's keys.
DeviceHub::KeyboardTask Open(std::vector<uint8_t> keys);
DeviceHub::KeyboardTask ChooseEffect(int effect);
// Speed or brightness one step up (+1) or down (-1); past 0..4 nothing is sent.
DeviceHub::KeyboardTask Step(KeyboardLevel level, int delta);
DeviceHub::KeyboardTask ChooseDirection(int direction);
// A colour picked: for the custom effect it goes, opaque, to every key of `selected` and
// the key colours are written (BadInput when none is selected); for the others it
// becomes colour 1 ("Static") or colour 2 and the set-effect report is sent.
DeviceHub::KeyboardTask ApplyColour(Rgb colour, std::vector<uint8_t> selected);
// Turns the side light over from what the keyboard last said.
DeviceHub::KeyboardTask ToggleSideLed();
DeviceHub::KeyboardTask Reset(std::vector<KeyOfKind> keys);

}  // namespace keyboard_actions

// ---- Preview ----

inline constexpr int kPreviewFrameMs = 90;

// How an effect paces its own animation (see the table in the source).
enum class PreviewPace {
    Still,   // no animation: it shows the same picture every frame
    Quick,   // a step every (12 - speed) x 10 ms: 120 ms at speed 0, 80 ms at speed 4
    Steady,  // a step every (10 - speed) x 20 ms: 200 ms at speed 0, 120 ms at speed 4
};
PreviewPace PaceOf(int effect);
// Milliseconds between the effect's animation steps at `speed`; 0 for a still effect.
int PreviewStepMs(int effect, int speed);
// `colour` at `brightness` (0..4): every channel times brightness / 6.
Rgb ScaleToBrightness(Rgb colour, int brightness);

// The colour of every key of `keys` (in that order) at `elapsedMs` after the preview
// started, for `state`. The custom effects show the key colours (a key not read shows
// dark); the others draw their animation from the key positions.
std::vector<Rgb> PreviewFrame(const KeyboardLightingState& state, std::span<const LightKey> keys,
                              int64_t elapsedMs);

}  // namespace qvm
