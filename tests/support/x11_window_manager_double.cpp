#include "support/x11_window_manager_double.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace qvm::test {

X11WindowManagerDouble::X11WindowManagerDouble(const std::string& display)
    : display_(XOpenDisplay(display.c_str()), &XCloseDisplay) {}

unsigned long X11WindowManagerDouble::NewWindow(std::optional<long> pid) {
    Display* d = display_.get();
    const Window window = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 100, 100, 0, 0, 0);
    if (pid) {
        const long value = *pid;  // format 32 properties travel as longs in Xlib
        XChangeProperty(d, window, XInternAtom(d, "_NET_WM_PID", False), XA_CARDINAL, 32,
                        PropModeReplace, reinterpret_cast<const unsigned char*>(&value), 1);
    }
    XMapWindow(d, window);
    XSync(d, False);
    return window;
}

void X11WindowManagerDouble::Activate(unsigned long window) {
    Display* d = display_.get();
    const Atom active = XInternAtom(d, "_NET_ACTIVE_WINDOW", False);
    if (window == 0) {
        XDeleteProperty(d, DefaultRootWindow(d), active);
    } else {
        const long value = static_cast<long>(window);
        XChangeProperty(d, DefaultRootWindow(d), active, XA_WINDOW, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&value), 1);
    }
    XSync(d, False);
}

void X11WindowManagerDouble::Destroy(unsigned long window) {
    XDestroyWindow(display_.get(), window);
    XSync(display_.get(), False);
}

}  // namespace qvm::test
