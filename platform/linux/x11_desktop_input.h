// The desktop input source on X11: XInput 2.2 raw key, button and motion events selected
// on the root window of a connection of its own, so that input made in any window is seen,
// and the keyboard grab taken on that connection.
//
// The connection is the program's own, not the toolkit's: its events are read and its
// grab released here alone, and the X server drops the grab with the connection when the
// program ends, however it ends.
#pragma once

#include <memory>
#include <string>

#include "platform/desktop_input.h"

namespace qvm {

// Opens `display` ("" for $DISPLAY); an error names why there is no source (no display,
// no XInput 2.2).
Result<std::unique_ptr<DesktopInput>> OpenX11DesktopInput(const std::string& display);

}  // namespace qvm
