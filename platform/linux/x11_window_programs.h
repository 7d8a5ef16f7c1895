// The programs behind the desktop's top-level windows on X11: the window manager lists the
// windows it manages in the root window's _NET_CLIENT_LIST, and each window names its
// process in _NET_WM_PID, its title in _NET_WM_NAME (else WM_NAME) and its icons in
// _NET_WM_ICON.
#pragma once

#include <string>
#include <vector>

#include "platform/window_programs.h"

namespace qvm {

// Opens `display` ("" for $DISPLAY) for the one listing; an error says why it cannot.
Result<std::vector<WindowProgram>> ListX11WindowPrograms(const std::string& display);

}  // namespace qvm
