// What the X11 code shares: an owned display connection and a trap for the errors the X
// server reports for requests sent on it.
//
// Include it after every other header: Xlib defines macros named Status, Bool, True, False
// and None; Status is dropped again here for qvm::Status.
#pragma once

#include <X11/Xlib.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>
#undef Status

#include "base/result.h"

namespace qvm {

struct DisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};
// One connection to an X server, closed exactly once.
using DisplayPtr = std::unique_ptr<Display, DisplayCloser>;

// Opens `display` ("" for $DISPLAY). Without one the error says why in the user's terms
// (DISPLAY unset, Wayland without an X server, a display that cannot be opened), followed
// by `consequence` ("the window in use cannot be told").
Result<DisplayPtr> OpenX11Display(const std::string& display, std::string_view consequence);

// Up to `maxItems` 32-bit items of `property` (of type `type`) on `window`, as Xlib hands
// them over (one long each). Empty when the property is absent, of another type or format,
// or the window is gone (the error is trapped, not fatal).
std::vector<unsigned long> ReadLongProperty(Display* display, Window window, Atom property,
                                            Atom type, long maxItems);
// The text of an 8-bit property of type `type` on `window`; empty as above.
std::string ReadTextProperty(Display* display, Window window, Atom property, Atom type);

// Where the pointer is on `root` (a round trip); none when it is on another screen of the
// display, where `root`'s coordinates cannot express it.
struct RootPoint {
    int x = 0;
    int y = 0;
};
std::optional<RootPoint> PointerOnRoot(Display* display, Window root);

// X reports request errors asynchronously to one process-wide handler. A trap installs a
// handler that records the error code, and Finish() waits for the server's answer to
// everything sent so far. Only one trap is active at a time (the window thread).
class XErrorTrap {
  public:
    explicit XErrorTrap(Display* display);
    ~XErrorTrap();
    XErrorTrap(const XErrorTrap&) = delete;
    XErrorTrap& operator=(const XErrorTrap&) = delete;

    // The message of the first error since the trap was set, empty when none came.
    std::string Finish();

  private:
    Display* display_;
    XErrorHandler previous_ = nullptr;
    bool finished_ = false;
};

}  // namespace qvm
