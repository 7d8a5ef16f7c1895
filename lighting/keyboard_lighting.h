// The keyboards' lighting engine: an effect with speed, brightness, direction and two
// colours, the side light, and per-key colours for the custom effect, on top of the
// keyboard reports of KeyboardCommands (32-byte output reports, reply read after 10 ms).
//
// KeyboardLighting keeps the lighting state of one keyboard as last read from it and
// changed by its own calls; each change is sent at once, nothing is stored on the host.
// It is not thread-safe: one thread (the hub's worker) uses an instance at a time.
//
// Errors: ErrorKind::BadInput for a value outside its range, a device that is not a
// keyboard, or an empty or repeated key list; nothing is sent then and the state stays.
// DeviceGarbled when the keyboard reports a state outside the ranges below. Otherwise the
// device's failure kind (DeviceGone...) when a report could not be exchanged.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "config/image_layout.h"
#include "device/keyboard_commands.h"

namespace qvm {

// ---- Ranges ----
inline constexpr int kKeyboardEffectCount = 14;  // effects 0 to 13
inline constexpr int kRainbowKeyboardEffect = 1;
inline constexpr int kStaticKeyboardEffect = 2;
inline constexpr int kCustomKeyboardEffect = 13;  // colours per key
inline constexpr int kMaxKeyboardLevel = 4;       // speed and brightness: 0 to 4
inline constexpr int kMaxKeyboardDirection = 3;   // 0 left, 1 right, 2 up, 3 down

// ---- Effect table ----
// Which of the user's colours the set-effect report carries for an effect.
enum class EffectColour : uint8_t { None, Colour1, Colour2 };

struct KeyboardEffectInfo {
    std::string_view name;
    std::array<uint8_t, 4> slot1;  // default colour slot 1: red, green, blue, 4th byte
    std::array<uint8_t, 4> slot2;  // default colour slot 2
    EffectColour takes;
};

// The 14 effects, indexed by effect code.
std::span<const KeyboardEffectInfo> KeyboardEffects();
// "Left", "Right", "Up", "Down", indexed by direction.
std::span<const std::string_view> KeyboardDirections();

// The code of an effect or a direction named as the tables name it, in any letter case;
// "Customize" names the custom per-key effect (13). nullopt for a name not in the table.
std::optional<int> KeyboardEffectNamed(std::string_view name);
std::optional<int> KeyboardDirectionNamed(std::string_view name);

// A colour the set-effect report carries as 0 is sent as this red.
inline constexpr Rgb kKeyboardZeroColour{0xFF, 0x00, 0x00};

// ---- State ----
struct KeyboardLightingState {
    int effect = 0;
    int speed = 0;
    int brightness = 0;
    int direction = 0;
    Rgb colour1;  // used by "Static"
    Rgb colour2;  // used by the other effects that take a colour
    bool sideLed = false;
    std::map<uint8_t, KeyColour> keys;  // the key colours known, by key index

    bool operator==(const KeyboardLightingState&) const = default;
};

// BadInput when a field is outside its range.
Status CheckKeyboardLighting(const KeyboardLightingState& state);

// The set-effect report's fields for `state`: colour slots 1 and 2 start from the
// effect's default pair; "Static" puts colour 1 into slot 1, every effect but "Static"
// and the custom one puts colour 2 into slot 2, a colour 0 first becoming red in `state`
// too. The 4th bytes always keep the table's values.
KeyboardEffect BuildKeyboardEffect(KeyboardLightingState& state);

// One key's colour for the key-colour reports. Key indices are the keyboard's own;
// a report lists up to five and ends its list with 0 bytes, so lists are sent sorted by
// index (an index 0 then always comes first in its report).
struct KeyColourAt {
    uint8_t key = 0;
    KeyColour colour;

    bool operator==(const KeyColourAt&) const = default;
};

// A key of the key picture with its kind; RESET lights the keys of kind 3 red.
struct KeyOfKind {
    uint8_t key = 0;
    uint8_t kind = 0;
};
inline constexpr uint8_t kResetRedKeyKind = 3;

// A change of the effect: the fields given replace the state's. The colour goes to
// colour 1 for "Static" and to colour 2 for the others; the custom effect refuses one
// (its colours are per key).
struct KeyboardEffectChange {
    std::optional<int> effect;
    std::optional<int> speed;
    std::optional<int> brightness;
    std::optional<int> direction;
    std::optional<Rgb> colour;
};

enum class KeyboardLevel { Speed, Brightness };

class KeyboardLighting {
  public:
    KeyboardLighting(KeyboardCommands& commands, std::string path);

    const std::string& Path() const { return path_; }
    const KeyboardLightingState& State() const { return state_; }
    // The state has been read from the keyboard at least once.
    bool StateKnown() const { return lastReadEffect_.has_value(); }

    // Sends the read-state report for the key lighting (06 BE 14 00 00 ...) and for the
    // side light (06 BE 14 00 02 ...) and fills the state's effect, speed, brightness,
    // direction, colours and side light from the replies. Returns the effect code. The
    // effect read is the one the key-colour reports carry afterwards.
    Result<int> ReadLightingState();

    // Every call below that needs the state reads it first when it is not known yet.

    // Sends the set-effect report (06 BE 15 00 01 02 effect speed brightness direction
    // 00 00 slot1[4] slot2[4] ...) for the state with `change` applied; the state takes
    // the change only when the report went out.
    Status ChangeEffect(const KeyboardEffectChange& change);
    // Steps speed or brightness by `delta` within 0 to 4 and sends the set-effect report.
    // A step past the range changes nothing and sends nothing: false.
    Result<bool> Step(KeyboardLevel level, int delta);
    // Sends the side-light report (06 BE 15 00 02 06 06 00 level, byte 16 0xFF, byte 19
    // 0x01; level 4 on, 0 off).
    Status SetSideLed(bool on);

    // Sends the key colours, five keys a report (06 BE 19 00 01 00 effect k0..k4, then
    // red, green, blue at 12 + 4i); the last report carries the rest.
    Status WriteKeyColours(std::span<const KeyColourAt> keys);
    // Gives `colour`, opaque, to every key of `keys` and writes them.
    Status ColourKeys(std::span<const uint8_t> keys, const Rgb& colour);
    // Asks the colours of `keys`, five keys a report (sub-command 0x18, laid out as the
    // write), and keeps them in the state. Returned in ascending key order.
    Result<std::vector<KeyColourAt>> ReadKeyColours(std::span<const uint8_t> keys);

    // "RESET": the set-effect report for the custom effect at brightness 4, speed 0,
    // direction 0; then the state becomes "Rainbow", brightness 4, speed 0, direction 0
    // with colour 2 red; the side light goes on; every key of `keys` of kind 3 becomes
    // opaque red and every other key black, and all are written; the set-effect report
    // for the new state is sent; the state is read back.
    Status Reset(std::span<const KeyOfKind> keys);

  private:
    Status RequireKeyboard() const;
    Status EnsureState();
    Status SendEffect(KeyboardLightingState& state, const std::string& what);
    Error Failed(uint64_t mark, const std::string& what) const;

    KeyboardCommands& commands_;
    std::string path_;
    KeyboardLightingState state_;
    std::optional<uint8_t> lastReadEffect_;
};

}  // namespace qvm
