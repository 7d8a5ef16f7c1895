// Stands in for a window manager on an X display of the test's own: it makes windows that
// name their process (_NET_WM_PID) or not, names the active window on the root window
// (_NET_ACTIVE_WINDOW) and destroys windows. Its header keeps Xlib's macros out of the
// test files.
#pragma once

#include <memory>
#include <optional>
#include <string>

struct _XDisplay;

namespace qvm::test {

class X11WindowManagerDouble {
  public:
    explicit X11WindowManagerDouble(const std::string& display);
    X11WindowManagerDouble(const X11WindowManagerDouble&) = delete;
    X11WindowManagerDouble& operator=(const X11WindowManagerDouble&) = delete;

    bool Ok() const { return display_ != nullptr; }

    // A new window, naming `pid` as its process when given.
    unsigned long NewWindow(std::optional<long> pid);
    // Names `window` as the active one; 0 removes the root window's property.
    void Activate(unsigned long window);
    void Destroy(unsigned long window);

  private:
    std::unique_ptr<_XDisplay, int (*)(_XDisplay*)> display_;  // closed by XCloseDisplay
};

}  // namespace qvm::test
