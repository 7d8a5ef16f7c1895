// The foreground window on X11: the window manager names it in the root window's
// _NET_ACTIVE_WINDOW property and the window names its process in _NET_WM_PID. A
// connection of the watcher's own selects property changes on the root window, so the
// watcher wakes when the focus moves and at no other time.
#pragma once

#include <memory>
#include <string>

#include "platform/foreground.h"

namespace qvm {

// Opens `display` ("" for $DISPLAY); an error says why there is no watcher.
Result<std::unique_ptr<ForegroundWatcher>> OpenX11ForegroundWatcher(const std::string& display);

// Asks the window manager to minimise the root window's _NET_ACTIVE_WINDOW.
Status MinimiseX11ActiveWindow(const std::string& display);

}  // namespace qvm
