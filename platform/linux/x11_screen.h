// A connection of an injector's own to the X server: where the pointer is and how large the
// screen is. Xlib stays out of this header, so the injectors' users do not get its macros.
#pragma once

#include <memory>
#include <string>

#include "platform/input_injector.h"

struct _XDisplay;

namespace qvm {

class X11Screen {
  public:
    // Opens `display` ("" for $DISPLAY); the error says why no X server answered.
    static Result<X11Screen> Open(const std::string& display);

    // The pointer on the root window of the screen it is on.
    Result<InjectPoint> PointerPosition() const;
    // The size of the default screen's root window in pixels, as read when it was opened.
    int Width() const { return width_; }
    int Height() const { return height_; }

    _XDisplay* Get() const { return display_.get(); }

  private:
    explicit X11Screen(_XDisplay* display);

    std::unique_ptr<_XDisplay, int (*)(_XDisplay*)> display_;  // closed by XCloseDisplay
    int width_ = 0;
    int height_ = 0;
};

}  // namespace qvm
