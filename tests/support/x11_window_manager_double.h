// Stands in for a window manager on a test's X display: windows that name their process
// (_NET_WM_PID) or not, and the active window named on the root (_NET_ACTIVE_WINDOW).
// Its header keeps Xlib's macros out of the test files.
#pragma once

#include <memory>
#include <optional>
#include <string>

struct _XDisplay;

namespace qvm::test {

class X11WindowManagerDouble {
  public:
    explicit X11WindowManagerDouble(const std::string& display);
    unsigned long NewWindow(std::optional<long> pid);
    void Activate(unsigned long window);  // 0 removes the property
    void Destroy(unsigned long window);

  private:
    std::unique_ptr<_XDisplay, int (*)(_XDisplay*)> display_;
};

}  // namespace qvm::test
