#include "support/x11_window_manager_double.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace qvm::test {
namespace {

// Format 32 properties travel as longs in Xlib.
void SetLongs(Display* d, Window window, const char* name, Atom type,
              const std::vector<long>& values) {
    XChangeProperty(d, window, XInternAtom(d, name, False), type, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(values.data()),
                    static_cast<int>(values.size()));
}

void SetLong(Display* d, Window window, const char* name, Atom type, long value) {
    SetLongs(d, window, name, type, {value});
}

}  // namespace

X11WindowManagerDouble::X11WindowManagerDouble(const std::string& display)
    : display_(XOpenDisplay(display.c_str()), &XCloseDisplay) {}

unsigned long X11WindowManagerDouble::NewWindow(std::optional<long> pid) {
    Display* d = display_.get();
    const Window window = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 100, 100, 0, 0, 0);
    if (pid) SetLong(d, window, "_NET_WM_PID", XA_CARDINAL, *pid);
    XSync(d, False);
    return window;
}

void X11WindowManagerDouble::Activate(unsigned long window) {
    Display* d = display_.get();
    if (window == 0) {
        XDeleteProperty(d, DefaultRootWindow(d), XInternAtom(d, "_NET_ACTIVE_WINDOW", False));
    } else {
        SetLong(d, DefaultRootWindow(d), "_NET_ACTIVE_WINDOW", XA_WINDOW,
                static_cast<long>(window));
    }
    XSync(d, False);
}

void X11WindowManagerDouble::Destroy(unsigned long window) {
    XDestroyWindow(display_.get(), window);
    XSync(display_.get(), False);
}

void X11WindowManagerDouble::ListClients(const std::vector<unsigned long>& windows) {
    Display* d = display_.get();
    SetLongs(d, DefaultRootWindow(d), "_NET_CLIENT_LIST", XA_WINDOW,
             std::vector<long>(windows.begin(), windows.end()));
    XSync(d, False);
}

void X11WindowManagerDouble::SetTitle(unsigned long window, const std::string& utf8) {
    Display* d = display_.get();
    XChangeProperty(d, window, XInternAtom(d, "_NET_WM_NAME", False),
                    XInternAtom(d, "UTF8_STRING", False), 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(utf8.data()),
                    static_cast<int>(utf8.size()));
    XSync(d, False);
}

void X11WindowManagerDouble::SetIcon(unsigned long window, const std::vector<long>& items) {
    Display* d = display_.get();
    SetLongs(d, window, "_NET_WM_ICON", XA_CARDINAL, items);
    XSync(d, False);
}

}  // namespace qvm::test
