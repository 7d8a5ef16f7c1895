// Stands in for a window manager on a test's X display: windows that name their process
// (_NET_WM_PID) or not, with titles and icons, the active window named on the root
// (_NET_ACTIVE_WINDOW) and the managed ones listed there (_NET_CLIENT_LIST).
// Its header keeps Xlib's macros out of the test files.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

struct _XDisplay;

namespace qvm::test {

class X11WindowManagerDouble {
  public:
    explicit X11WindowManagerDouble(const std::string& display);
    unsigned long NewWindow(std::optional<long> pid);
    void Activate(unsigned long window);  // 0 removes the property
    void Destroy(unsigned long window);
    // The managed windows, in _NET_CLIENT_LIST of the root.
    void ListClients(const std::vector<unsigned long>& windows);
    void SetTitle(unsigned long window, const std::string& utf8);
    // _NET_WM_ICON: width, height and pixels of each image in turn.
    void SetIcon(unsigned long window, const std::vector<long>& items);

  private:
    std::unique_ptr<_XDisplay, int (*)(_XDisplay*)> display_;
};

}  // namespace qvm::test
