#include "lighting/keyboard_lighting.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "device/device_values.h"
#include "device/transport.h"

namespace qvm {
namespace {

using E = EffectColour;

// clang-format off
constexpr std::array<KeyboardEffectInfo, kKeyboardEffectCount> kEffects{{
    {"Customize",       {0, 0, 0, 0},    {0, 0, 0, 0},    E::Colour2},
    {"Rainbow",         {0xFF, 0, 0, 0}, {0, 0xFF, 0, 1}, E::Colour2},
    {"Static",          {0, 0, 0, 0},    {0, 0, 0, 0},    E::Colour1},
    {"Breathing",       {0, 0, 0, 0},    {0, 0xFF, 0, 0}, E::Colour2},
    {"Rain",            {0, 0, 0, 0},    {0xFF, 0, 0, 1}, E::Colour2},
    {"Horse race lamp", {0, 0, 0, 0},    {0xFF, 0, 0, 1}, E::Colour2},
    {"Twinkling stars", {0, 0, 0, 0},    {0, 0xFF, 0, 1}, E::Colour2},
    {"One Click",       {0, 0, 0, 1},    {0, 0xFF, 0, 1}, E::Colour2},
    {"Water drop",      {0, 0, 0, 1},    {0, 0xFF, 0, 1}, E::Colour2},
    {"Cross",           {0, 0, 0, 1},    {0, 0xFF, 0, 1}, E::Colour2},
    {"Ripple",          {0, 0, 0, 1},    {0, 0xFF, 0, 1}, E::Colour2},
    {"Ripple 2",        {0, 0, 0, 1},    {0, 0xFF, 0, 1}, E::Colour2},
    {"Aurora",          {0, 0, 0, 1},    {0, 0xFF, 0, 1}, E::Colour2},
    {"Customize",       {0, 0xFF, 0, 0}, {0, 0, 0, 0},    E::None},
}};
// clang-format on

constexpr std::array<std::string_view, kMaxKeyboardDirection + 1> kDirections{"Left", "Right", "Up",
                                                                              "Down"};

Status CheckRange(const char* what, int value, int max) {
    if (value < 0 || value > max) {
        return MakeError(ErrorKind::BadInput, std::string(what) + " " + std::to_string(value) +
                                                  " is outside 0 to " + std::to_string(max));
    }
    return {};
}

// A user colour as the report carries it: 0 becomes red, in the state as well.
void PutColour(Rgb& colour, std::array<uint8_t, 4>& slot) {
    if (colour == Rgb{}) colour = kKeyboardZeroColour;
    slot[0] = colour.red;
    slot[1] = colour.green;
    slot[2] = colour.blue;
}

Rgb ColourAt(const KeyboardReport& reply, int at) {
    return {reply[static_cast<std::size_t>(at)], reply[static_cast<std::size_t>(at + 1)],
            reply[static_cast<std::size_t>(at + 2)]};
}

// Sorted by key, or BadInput for an empty list or a key given twice.
template <class T, class KeyOf>
Result<std::vector<T>> SortedKeys(std::span<const T> items, KeyOf keyOf) {
    if (items.empty()) return MakeError(ErrorKind::BadInput, "no key was given");
    std::vector<T> sorted(items.begin(), items.end());
    std::stable_sort(sorted.begin(), sorted.end(),
                     [&](const T& a, const T& b) { return keyOf(a) < keyOf(b); });
    for (std::size_t i = 1; i < sorted.size(); ++i) {
        if (keyOf(sorted[i]) == keyOf(sorted[i - 1])) {
            return MakeError(ErrorKind::BadInput,
                             "key " + std::to_string(keyOf(sorted[i])) + " is given twice");
        }
    }
    return sorted;
}

}  // namespace

std::span<const KeyboardEffectInfo> KeyboardEffects() {
    return kEffects;
}

std::span<const std::string_view> KeyboardDirections() {
    return kDirections;
}

namespace {

bool SameName(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

}  // namespace

std::optional<int> KeyboardEffectNamed(std::string_view name) {
    // From the end, so the name both the first and the last effect carry gives the
    // custom effect, the one that takes per-key colours.
    for (int code = kKeyboardEffectCount - 1; code >= 0; --code) {
        if (SameName(name, kEffects[static_cast<std::size_t>(code)].name)) return code;
    }
    return std::nullopt;
}

std::optional<int> KeyboardDirectionNamed(std::string_view name) {
    for (std::size_t d = 0; d < kDirections.size(); ++d) {
        if (SameName(name, kDirections[d])) return static_cast<int>(d);
    }
    return std::nullopt;
}

Status CheckKeyboardLighting(const KeyboardLightingState& state) {
    for (Status s : {CheckRange("effect", state.effect, kKeyboardEffectCount - 1),
                     CheckRange("speed", state.speed, kMaxKeyboardLevel),
                     CheckRange("brightness", state.brightness, kMaxKeyboardLevel),
                     CheckRange("direction", state.direction, kMaxKeyboardDirection)}) {
        if (!s) return s;
    }
    return {};
}

KeyboardEffect BuildKeyboardEffect(KeyboardLightingState& state) {
    const KeyboardEffectInfo& info = kEffects.at(static_cast<std::size_t>(state.effect));
    KeyboardEffect effect;
    effect.effect = static_cast<uint8_t>(state.effect);
    effect.speed = static_cast<uint8_t>(state.speed);
    effect.brightness = static_cast<uint8_t>(state.brightness);
    effect.direction = static_cast<uint8_t>(state.direction);
    effect.slot1 = info.slot1;
    effect.slot2 = info.slot2;
    if (info.takes == E::Colour1) PutColour(state.colour1, effect.slot1);
    if (info.takes == E::Colour2) PutColour(state.colour2, effect.slot2);
    return effect;
}

KeyboardLighting::KeyboardLighting(KeyboardCommands& commands, std::string path)
    : commands_(commands), path_(std::move(path)) {}

Status KeyboardLighting::RequireKeyboard() const {
    if (commands_.Values().ModelCode(path_) != kKeyboardModelCode) {
        return MakeError(ErrorKind::BadInput, "the device is not a keyboard");
    }
    return {};
}

Error KeyboardLighting::Failed(uint64_t mark, const std::string& what) const {
    if (auto failure = commands_.GetTransport().FailureSince(path_, mark)) {
        return MakeError(failure->kind,
                         "the keyboard did not take the " + what + ": " + failure->Message());
    }
    return MakeError(ErrorKind::Other,
                     "the keyboard could not be opened for the " + what + " (" + path_ + ")");
}

Status KeyboardLighting::EnsureState() {
    if (StateKnown()) return {};
    auto read = ReadLightingState();
    if (!read) return read.error();
    return {};
}

Result<int> KeyboardLighting::ReadLightingState() {
    if (Status ok = RequireKeyboard(); !ok) return ok.error();
    const uint64_t mark = commands_.GetTransport().FailureMark();
    // The report pipe leaves the reply zeroed when no input report came back; a keyboard
    // that answered has at least its report ID there.
    const auto unanswered = [this](const KeyboardReport& r) -> Status {
        if (std::any_of(r.begin(), r.end(), [](uint8_t b) { return b != 0; })) return {};
        return MakeError(ErrorKind::DeviceSilent,
                         "the keyboard did not answer the lighting state request (" + path_ + ")");
    };
    const auto keys = commands_.KeyboardReadState(path_, KeyboardLight::Keys);
    if (!keys) return Failed(mark, "lighting state request");
    if (Status ok = unanswered(*keys); !ok) return ok.error();
    const auto side = commands_.KeyboardReadState(path_, KeyboardLight::Side);
    if (!side) return Failed(mark, "side light state request");
    if (Status ok = unanswered(*side); !ok) return ok.error();

    KeyboardLightingState read = state_;
    read.effect = (*keys)[kKbEffectAt];
    read.speed = (*keys)[kKbSpeedAt];
    read.brightness = (*keys)[kKbBrightnessAt];
    read.direction = (*keys)[kKbDirectionAt];
    read.colour1 = ColourAt(*keys, kKbSlot1At);
    read.colour2 = ColourAt(*keys, kKbSlot2At);
    read.sideLed = (*side)[kKbSideOnAt] != 0;
    if (Status ok = CheckKeyboardLighting(read); !ok) {
        return MakeError(ErrorKind::DeviceGarbled,
                         "the keyboard reports a lighting " + ok.message() + "; nothing was taken");
    }
    state_ = std::move(read);
    lastReadEffect_ = static_cast<uint8_t>(state_.effect);
    return state_.effect;
}

Status KeyboardLighting::SendEffect(KeyboardLightingState& state, const std::string& what) {
    const uint64_t mark = commands_.GetTransport().FailureMark();
    if (!commands_.KeyboardSetEffect(path_, BuildKeyboardEffect(state))) return Failed(mark, what);
    return {};
}

Status KeyboardLighting::ChangeEffect(const KeyboardEffectChange& change) {
    if (Status ok = RequireKeyboard(); !ok) return ok;
    const auto changed = [&change](KeyboardLightingState state) {
        const auto apply = [](const std::optional<int>& value, int& field) {
            if (value) field = *value;
        };
        apply(change.effect, state.effect);
        apply(change.speed, state.speed);
        apply(change.brightness, state.brightness);
        apply(change.direction, state.direction);
        return state;
    };
    // The values are checked before anything goes out, the state read included.
    const KeyboardLightingState checked = changed(state_);
    if (Status ok = CheckKeyboardLighting(checked); !ok) return ok;
    if (change.colour && checked.effect == kCustomKeyboardEffect) {
        return MakeError(ErrorKind::BadInput,
                         "the custom effect takes no effect colour: its colours are per key");
    }
    if (Status ok = EnsureState(); !ok) return ok;
    KeyboardLightingState next = changed(state_);
    if (change.colour) {
        const bool first = kEffects[static_cast<std::size_t>(next.effect)].takes == E::Colour1;
        (first ? next.colour1 : next.colour2) = *change.colour;
    }
    if (Status ok = SendEffect(next, "lighting effect"); !ok) return ok;
    state_ = std::move(next);
    return {};
}

Result<bool> KeyboardLighting::Step(KeyboardLevel level, int delta) {
    if (Status ok = RequireKeyboard(); !ok) return ok.error();
    if (Status ok = EnsureState(); !ok) return ok.error();
    KeyboardLightingState next = state_;
    int& value = level == KeyboardLevel::Speed ? next.speed : next.brightness;
    const int stepped = value + delta;
    if (delta == 0 || stepped < 0 || stepped > kMaxKeyboardLevel) return false;
    value = stepped;
    if (Status ok = SendEffect(next, "lighting effect"); !ok) return ok.error();
    state_ = std::move(next);
    return true;
}

Status KeyboardLighting::SetSideLed(bool on) {
    if (Status ok = RequireKeyboard(); !ok) return ok;
    const uint64_t mark = commands_.GetTransport().FailureMark();
    if (!commands_.KeyboardSetSideLed(path_, on)) return Failed(mark, "side light");
    state_.sideLed = on;
    return {};
}

Status KeyboardLighting::WriteKeyColours(std::span<const KeyColourAt> keys) {
    if (Status ok = RequireKeyboard(); !ok) return ok;
    auto sorted = SortedKeys(keys, [](const KeyColourAt& k) { return k.key; });
    if (!sorted) return sorted.error();
    if (Status ok = EnsureState(); !ok) return ok;
    std::vector<uint8_t> indices;
    std::vector<KeyColour> colours;
    for (const KeyColourAt& k : *sorted) {
        indices.push_back(k.key);
        colours.push_back(k.colour);
    }
    const uint64_t mark = commands_.GetTransport().FailureMark();
    if (!commands_.KeyboardWriteKeyColours(path_, *lastReadEffect_, indices, colours)) {
        return Failed(mark, "key colours");
    }
    for (const KeyColourAt& k : *sorted) state_.keys[k.key] = k.colour;
    return {};
}

Status KeyboardLighting::ColourKeys(std::span<const uint8_t> keys, const Rgb& colour) {
    std::vector<KeyColourAt> coloured;
    for (uint8_t key : keys) {
        coloured.push_back({key, {colour.red, colour.green, colour.blue, true}});
    }
    return WriteKeyColours(coloured);
}

Result<std::vector<KeyColourAt>> KeyboardLighting::ReadKeyColours(std::span<const uint8_t> keys) {
    if (Status ok = RequireKeyboard(); !ok) return ok.error();
    auto sorted = SortedKeys(keys, [](uint8_t k) { return k; });
    if (!sorted) return sorted.error();
    if (Status ok = EnsureState(); !ok) return ok.error();
    const uint64_t mark = commands_.GetTransport().FailureMark();
    const auto colours = commands_.KeyboardReadKeyColours(path_, *lastReadEffect_, *sorted);
    if (!colours || colours->size() != sorted->size()) return Failed(mark, "key colour request");
    std::vector<KeyColourAt> read;
    for (std::size_t i = 0; i < sorted->size(); ++i) {
        read.push_back({(*sorted)[i], (*colours)[i]});
        state_.keys[(*sorted)[i]] = (*colours)[i];
    }
    return read;
}

Status KeyboardLighting::Reset(std::span<const KeyOfKind> keys) {
    constexpr KeyColour kRed{0xFF, 0x00, 0x00, true};
    constexpr KeyColour kBlack{};
    if (Status ok = RequireKeyboard(); !ok) return ok;
    if (!keys.empty()) {
        auto unique = SortedKeys(keys, [](const KeyOfKind& k) { return k.key; });
        if (!unique) return unique.error();
    }
    if (Status ok = EnsureState(); !ok) return ok;

    KeyboardLightingState custom = state_;
    custom.effect = kCustomKeyboardEffect;
    custom.brightness = kMaxKeyboardLevel;
    custom.speed = 0;
    custom.direction = 0;
    if (Status ok = SendEffect(custom, "custom effect"); !ok) return ok;

    KeyboardLightingState next = state_;
    next.effect = kRainbowKeyboardEffect;
    next.brightness = kMaxKeyboardLevel;
    next.speed = 0;
    next.direction = 0;
    next.colour2 = kKeyboardZeroColour;
    if (Status ok = SetSideLed(true); !ok) return ok;
    if (!keys.empty()) {
        std::vector<KeyColourAt> colours;
        for (const KeyOfKind& k : keys) {
            colours.push_back({k.key, k.kind == kResetRedKeyKind ? kRed : kBlack});
        }
        if (Status ok = WriteKeyColours(colours); !ok) return ok;
    }
    next.sideLed = state_.sideLed;
    next.keys = state_.keys;
    if (Status ok = SendEffect(next, "lighting effect"); !ok) return ok;
    state_ = std::move(next);
    auto read = ReadLightingState();
    if (!read) return read.error();
    return {};
}

}  // namespace qvm
