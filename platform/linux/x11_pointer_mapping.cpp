// The translations between the pointer parameters the program works with and the values
// an X server and libinput hold. No X connection is needed here.
#include <algorithm>
#include <cmath>
#include <string>
#include <string_view>

#include "platform/linux/x11_pointer_acceleration.h"

namespace qvm {
namespace {

// One stage of acceleration doubles the motion beyond the threshold.
constexpr XPointerControl kOneStage = {2, 1, 0};
constexpr XPointerControl kNoAcceleration = {1, 1, 0};
constexpr int kMinPointerSpeed = 1;
constexpr int kMaxPointerSpeed = 20;
// Pointer speed steps per unit of libinput speed.
constexpr float kSpeedSteps = 10.0f;

bool NonEmpty(const char* text) {
    return text != nullptr && *text != '\0';
}

}  // namespace

PointerSession DetectPointerSession(const char* sessionType, const char* waylandDisplay,
                                    const char* x11Display) {
    if (NonEmpty(sessionType) && std::string_view(sessionType) == "wayland") {
        return PointerSession::kWayland;
    }
    if (NonEmpty(waylandDisplay)) return PointerSession::kWayland;
    return NonEmpty(x11Display) ? PointerSession::kX11 : PointerSession::kNone;
}

XPointerControl ToXPointerControl(const MouseParams& params) {
    XPointerControl control = params.acceleration > 0 ? kOneStage : kNoAcceleration;
    // The X server refuses negative thresholds (-1 would mean "the server's default").
    control.threshold = std::max(params.threshold1, 0);
    return control;
}

MouseParams FromXPointerControl(const XPointerControl& control) {
    const bool accelerates = control.denominator > 0 && control.numerator > control.denominator;
    if (!accelerates) return {};
    const int threshold = std::max(control.threshold, 1);
    return {threshold, threshold, 1};
}

std::optional<std::vector<std::uint8_t>> SelectAccelProfile(std::span<const std::uint8_t> enabled,
                                                            std::span<const std::uint8_t> available,
                                                            AccelProfile profile) {
    const auto index = static_cast<std::size_t>(profile);
    if (enabled.size() <= index) return std::nullopt;
    if (!available.empty() && (available.size() <= index || available[index] == 0)) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> value(enabled.size(), 0);
    value[index] = 1;
    return value;
}

std::optional<bool> ProfilesAreFlat(std::span<const std::vector<std::uint8_t>> enabledValues) {
    const auto flatIndex = static_cast<std::size_t>(AccelProfile::kFlat);
    std::optional<bool> allFlat;
    for (const auto& value : enabledValues) {
        if (value.size() <= flatIndex) continue;
        const bool flat = value[flatIndex] != 0;
        allFlat = allFlat.value_or(true) && flat;
    }
    return allFlat;
}

MouseParams CombinePointerState(const XPointerControl& control, std::optional<bool> libinputFlat) {
    if (!libinputFlat) return FromXPointerControl(control);
    if (*libinputFlat) return {};
    // The adaptive profile accelerates whatever the X pointer control says.
    MouseParams params = FromXPointerControl(control);
    if (params.acceleration == 0) {
        const int threshold = std::max(control.threshold, 1);
        params = {threshold, threshold, 1};
    }
    return params;
}

int PointerSpeedFromLibinput(float speed) {
    if (!std::isfinite(speed)) return kNeutralPointerSpeed;
    const long steps = std::lround(speed * kSpeedSteps);
    return static_cast<int>(
        std::clamp<long>(kNeutralPointerSpeed + steps, kMinPointerSpeed, kMaxPointerSpeed));
}

Result<float> LibinputSpeedFromPointerSpeed(int speed) {
    if (speed < kMinPointerSpeed || speed > kMaxPointerSpeed) {
        return MakeError("pointer speed " + std::to_string(speed) + " is outside 1..20");
    }
    return static_cast<float>(speed - kNeutralPointerSpeed) / kSpeedSteps;
}

}  // namespace qvm
