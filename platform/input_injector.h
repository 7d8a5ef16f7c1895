// Input the program makes on the user's behalf when a mouse asks the host for it: pointer
// moves, horizontal scrolling and a single touch contact ("Virtual Touch").
//
// The Linux implementations write to a virtual device through uinput when /dev/uinput is
// writable, else use the X server's XTest extension (no touch there), else nothing; the
// factory says which one it could open and why the better ones were not available.
// An injector is used from one thread at a time; the host services give it its own.
#pragma once

#include <memory>
#include <string>

#include "base/result.h"

namespace qvm {

struct InjectPoint {
    int x = 0;
    int y = 0;
    bool operator==(const InjectPoint&) const = default;
};

// The phases of one touch gesture, in the order a gesture passes them: the finger hovers
// in range, touches down, moves while in contact, lifts, and leaves the range.
enum class TouchPhase { Hover, Down, Move, Up, Out };

class InputInjector {
  public:
    virtual ~InputInjector() = default;

    // "uinput", "XTest" or "none": what the program tells the user it injects through.
    virtual std::string Name() const = 0;

    // Moves the pointer by (dx, dy) from where it is.
    virtual Status MovePointer(int dx, int dy) = 0;
    // Scrolls horizontally by `detents` wheel steps, positive to the right, into the
    // window under the pointer as the desktop delivers wheel events.
    virtual Status ScrollHorizontal(int detents) = 0;
    // Where the pointer is on the screen; BadInput when it cannot be told.
    virtual Result<InjectPoint> PointerPosition() = 0;

    // Whether Touch does anything; without it a touch gesture is not injected (the pointer
    // still moves).
    virtual bool CanTouch() const = 0;
    // One phase of the single touch contact at `at`, in screen pixels.
    virtual Status Touch(TouchPhase phase, InjectPoint at) = 0;
};

// The best injector this machine offers: uinput, else XTest, else one that does nothing
// (Name() "none"). `why` receives, for each better one that could not be used, the
// reason, so the program can say once why injection is limited or absent.
std::unique_ptr<InputInjector> OpenInputInjector(std::string& why);

}  // namespace qvm
