#include "platform/linux/x11_screen.h"

#include <cstdlib>

#include "platform/linux/x11_display.h"

namespace qvm {

X11Screen::X11Screen(_XDisplay* display) : display_(display, &XCloseDisplay) {
    Screen* screen = DefaultScreenOfDisplay(display);
    width_ = WidthOfScreen(screen);
    height_ = HeightOfScreen(screen);
}

Result<X11Screen> X11Screen::Open(const std::string& display) {
    const char* name = display.empty() ? std::getenv("DISPLAY") : display.c_str();
    if (name == nullptr || *name == '\0') {
        return MakeError(ErrorKind::Other, "no X display ($DISPLAY is not set)");
    }
    Display* opened = XOpenDisplay(name);
    if (opened == nullptr) {
        return MakeError(ErrorKind::Other, std::string("cannot open the X display ") + name);
    }
    return X11Screen(opened);
}

Result<InjectPoint> X11Screen::PointerPosition() const {
    Display* d = display_.get();
    const std::optional<RootPoint> at = PointerOnRoot(d, DefaultRootWindow(d));
    if (!at) return MakeError(ErrorKind::BadInput, "the pointer is on another X screen");
    return InjectPoint{at->x, at->y};
}

}  // namespace qvm
