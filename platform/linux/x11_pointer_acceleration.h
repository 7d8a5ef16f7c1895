// The desktop's pointer acceleration on X11. Two places hold it: the X server's pointer
// control (one threshold and a multiplier, used by the classic input drivers) and, for
// devices driven by libinput, each device's "libinput Accel Profile Enabled" property
// (adaptive = accelerated, flat = not). Holding acceleration off sets both; the pointer
// speed is libinput's "libinput Accel Speed" where devices have it.
//
// On Wayland the compositor owns these settings and an X client cannot change them, so
// there the operations fail with a message that says so.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "platform/pointer_acceleration.h"

namespace qvm {

// The pointer of this session, or one whose operations fail with a clear message when no
// X11 desktop is reachable. Not thread-safe: call it from one thread (the window thread).
std::unique_ptr<PointerAcceleration> MakeSystemPointerAcceleration();

// The pointer of the X server `displayName` (nullptr: $DISPLAY), whatever the session.
Result<std::unique_ptr<PointerAcceleration>> MakeX11PointerAcceleration(const char* displayName);

inline constexpr char kX11OnlyMessage[] =
    "pointer acceleration can only be changed on an X11 desktop";

// Which session the environment describes. A Wayland session may still offer an X
// display (Xwayland), but changes there would not reach the compositor's pointer.
enum class PointerSession { kX11, kWayland, kNone };
PointerSession DetectPointerSession(const char* sessionType, const char* waylandDisplay,
                                    const char* x11Display);

// The X server's pointer control: motion of more than `threshold` pixels in one event is
// multiplied by numerator / denominator.
struct XPointerControl {
    int numerator = 1;
    int denominator = 1;
    int threshold = 0;

    bool operator==(const XPointerControl&) const = default;
};

// The X server has one acceleration stage: any level above 0 doubles motion beyond the
// first threshold; the second threshold has no X counterpart.
XPointerControl ToXPointerControl(const MouseParams& params);
// Back again: a multiplier above 1 is acceleration with one stage, whose first threshold
// is at least 1 (a first threshold of 0 or less means acceleration is off).
MouseParams FromXPointerControl(const XPointerControl& control);

// libinput's profile property: one 8-bit flag per profile in this order (newer versions
// append more profiles). Exactly one flag is set.
enum class AccelProfile : std::size_t { kAdaptive = 0, kFlat = 1 };

// The value that enables `profile`, as long as the current value; std::nullopt when the
// value is too short or `available` (the "libinput Accel Profiles Available" flags, empty
// when the device does not report them) says the device lacks the profile.
std::optional<std::vector<std::uint8_t>> SelectAccelProfile(std::span<const std::uint8_t> enabled,
                                                            std::span<const std::uint8_t> available,
                                                            AccelProfile profile);

// Whether every device's profile value is flat; std::nullopt when no value is usable.
std::optional<bool> ProfilesAreFlat(std::span<const std::vector<std::uint8_t>> enabledValues);

// The parameters the desktop is running with: the X pointer control, unless libinput
// devices exist, whose profiles then decide whether acceleration is on.
MouseParams CombinePointerState(const XPointerControl& control, std::optional<bool> libinputFlat);

// libinput's speed runs from -1 to 1 with 0 neutral; the pointer speed from 1 to 20 with
// kNeutralPointerSpeed neutral.
int PointerSpeedFromLibinput(float speed);
Result<float> LibinputSpeedFromPointerSpeed(int speed);

}  // namespace qvm
