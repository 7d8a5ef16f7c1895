// The desktop's pointer devices on X11, through XInput 2: each slave pointer with its
// "Device Node", "Device Product ID" and libinput's "libinput Accel Profile Enabled" /
// "libinput Accel Profiles Available" properties, and the hierarchy notices that tell when
// pointers come and go. The X server's global pointer control is never touched.
//
// On Wayland the compositor owns the pointer settings and an X client cannot change them,
// so there the option reports that it is unavailable and changes nothing.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/pointer_acceleration.h"

namespace qvm {

// The pointer devices of this session, or a holder whose changes fail with a clear message
// when no X11 desktop is reachable.
std::unique_ptr<PointerAcceleration> MakeSystemPointerAcceleration();

// The pointer devices of the X server `displayName` (nullptr: $DISPLAY), whatever the
// session. Not thread-safe: call it from one thread (the window thread).
Result<std::unique_ptr<PointerDevices>> MakeX11PointerDevices(const char* displayName);

inline constexpr char kX11OnlyMessage[] =
    "the mouse acceleration option works only on an X11 desktop; on this desktop set the "
    "mouse's acceleration in the desktop's own mouse settings";

// Which session the environment describes. A Wayland session may still offer an X
// display (Xwayland), but changes there would not reach the compositor's pointer.
enum class PointerSession { kX11, kWayland, kNone };
PointerSession DetectPointerSession(const char* sessionType, const char* waylandDisplay,
                                    const char* x11Display);

// The USB vendor of an input event node ("/dev/input/event7") from the kernel's record of
// it under `sysRoot` (normally "/sys"); std::nullopt when it cannot be read.
std::optional<std::uint16_t> InputNodeVendor(std::string_view node, const std::string& sysRoot);

}  // namespace qvm
