// Input from the whole desktop: the keys, buttons, wheel and pointer motion the user makes
// in any window, for the macro recorder and quick binding, and the keyboard grab that keeps
// desktop shortcuts from acting while they are recorded.
//
// The source is read on the thread that owns it (the window's): it offers a descriptor
// that becomes readable when events wait, and Read drains them without blocking. Nothing is
// selected from the display server until Listen(true), so an idle program is not woken by
// every key the user types.
//
// A grabbed keyboard is released by ReleaseKeyboard, by destroying the source, and by the
// display server itself when the program dies (the grab belongs to the source's own
// connection), so no path leaves the keyboard taken.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/result.h"

namespace qvm {

struct DesktopPoint {
    int x = 0;
    int y = 0;
    bool operator==(const DesktopPoint&) const = default;
};

struct DesktopEvent {
    enum class Kind { KeyDown, KeyUp, ButtonDown, ButtonUp, Motion };
    Kind kind = Kind::Motion;
    // KeyDown/KeyUp: the X keycode (evdev code + 8). ButtonDown/ButtonUp: the X button
    // number (1 left, 2 middle, 3 right, 4/5 wheel forward/back, 6/7 tilt, 8/9 side).
    int code = 0;
    bool operator==(const DesktopEvent&) const = default;
};

class DesktopInput {
  public:
    virtual ~DesktopInput() = default;

    // Readable when Read has events for the caller; -1 when the source has no descriptor.
    virtual int Fd() const = 0;
    // Starts or stops taking events; while off, Read returns nothing and the descriptor
    // stays quiet.
    virtual Status Listen(bool on) = 0;
    virtual bool Listening() const = 0;
    // Every event waiting, oldest first, without blocking.
    virtual std::vector<DesktopEvent> Read() = 0;
    // Where the pointer is on the screen now; none when it cannot be told.
    virtual std::optional<DesktopPoint> PointerPosition() = 0;

    // Takes the whole keyboard: keys still come through Read, but no other window and no
    // desktop shortcut sees them. Fails (DeviceBusy) when another program holds a grab.
    virtual Status GrabKeyboard() = 0;
    virtual void ReleaseKeyboard() = 0;
    virtual bool KeyboardGrabbed() const = 0;
};

// The X11 source (XInput 2 raw events on the root window of its own connection): null with
// the reason when there is no X display or it has no XInput 2.2 (Wayland without Xwayland,
// a build without the Linux platform).
Result<std::unique_ptr<DesktopInput>> OpenDesktopInput(const std::string& display = {});

}  // namespace qvm
