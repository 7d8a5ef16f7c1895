#include "platform/linux/x11_foreground.h"

#include <X11/Xatom.h>

#include <cstdlib>

#include "platform/linux/x11_display.h"  // last: Xlib's macros

namespace qvm {
namespace {

// Events that come in while the properties are read may describe changes after the
// read: they are taken and, when the active window changed, it is read again, a bounded
// number of times.
constexpr int kMaxReadRounds = 8;

std::string DisplayLabel(const std::string& display) {
    if (!display.empty()) return display;
    const char* env = std::getenv("DISPLAY");
    return env != nullptr ? env : "";
}

// Why no X display could be opened, in the user's terms.
// `consequence` says what cannot be done for want of it.
Error NoDisplay(const std::string& display, const std::string& consequence) {
    const std::string label = DisplayLabel(display);
    if (!label.empty()) {
        return MakeError(ErrorKind::Other,
                         "cannot open the X display " + label + ": " + consequence);
    }
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if (wayland != nullptr && *wayland != '\0') {
        return MakeError(ErrorKind::Other,
                         "the desktop runs Wayland without an X server: " + consequence);
    }
    return MakeError(ErrorKind::Other, "no X display (DISPLAY is not set): " + consequence);
}

constexpr const char* kNoForeground = "the window in use cannot be told";
constexpr const char* kNoMinimise = "the window in use cannot be minimised";

// Opens `display` ("" for $DISPLAY) without letting Xlib guess at an empty $DISPLAY.
Result<DisplayPtr> OpenDisplay(const std::string& display, const std::string& consequence) {
    if (display.empty()) {
        const char* env = std::getenv("DISPLAY");
        if (env == nullptr || *env == '\0') return NoDisplay(display, consequence);
    }
    DisplayPtr connection(XOpenDisplay(display.empty() ? nullptr : display.c_str()));
    if (!connection) return NoDisplay(display, consequence);
    return connection;
}

// The first 32-bit item of `property` on `window`, 0 when it is absent, of another type,
// or the window is gone.
unsigned long ReadCardinal(Display* display, unsigned long window, Atom property, Atom type) {
    XErrorTrap trap(display);
    Atom actualType = 0;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    const int got = XGetWindowProperty(display, window, property, 0, 1, False, type, &actualType,
                                       &format, &items, &after, &data);
    unsigned long value = 0;
    if (got == Success && data != nullptr && actualType == type && format == 32 && items >= 1) {
        // Xlib hands 32-bit items over as longs.
        value = *reinterpret_cast<const unsigned long*>(data);
    }
    if (data != nullptr) XFree(data);
    if (!trap.Finish().empty()) return 0;
    return value;
}

class X11ForegroundWatcher final : public ForegroundWatcher {
  public:
    explicit X11ForegroundWatcher(DisplayPtr display)
        : display_(std::move(display)),
          root_(DefaultRootWindow(display_.get())),
          activeWindow_(XInternAtom(display_.get(), "_NET_ACTIVE_WINDOW", False)),
          windowPid_(XInternAtom(display_.get(), "_NET_WM_PID", False)) {
        XSelectInput(display_.get(), root_, PropertyChangeMask);
        XFlush(display_.get());
    }

    int Fd() const override { return ConnectionNumber(display_.get()); }

    Result<Foreground> Read() override {
        // The first read tells the foreground as it is; later ones read it again only
        // when the active window changed, not for every other root property.
        bool changed = !readOnce_;
        for (int round = 0; round < kMaxReadRounds; ++round) {
            changed = TakeEvents() || changed;
            if (!changed) break;
            changed = false;
            now_.window = ReadCardinal(display_.get(), root_, activeWindow_, XA_WINDOW);
            now_.pid = now_.window == 0
                           ? 0
                           : static_cast<pid_t>(ReadCardinal(display_.get(), now_.window,
                                                             windowPid_, XA_CARDINAL));
            readOnce_ = true;
            if (QLength(display_.get()) == 0) break;
        }
        return now_;
    }

  private:
    // Takes every waiting event; true when one was a change of the active window.
    bool TakeEvents() {
        bool active = false;
        while (XPending(display_.get()) > 0) {
            XEvent event;
            XNextEvent(display_.get(), &event);
            active =
                active || (event.type == PropertyNotify && event.xproperty.atom == activeWindow_);
        }
        return active;
    }

    DisplayPtr display_;
    Window root_;
    Atom activeWindow_;
    Atom windowPid_;
    bool readOnce_ = false;
    Foreground now_;
};

}  // namespace

Result<std::unique_ptr<ForegroundWatcher>> OpenX11ForegroundWatcher(const std::string& display) {
    auto connection = OpenDisplay(display, kNoForeground);
    if (!connection) return connection.error();
    return std::unique_ptr<ForegroundWatcher>(
        std::make_unique<X11ForegroundWatcher>(std::move(*connection)));
}

Status MinimiseX11ActiveWindow(const std::string& display) {
    auto connection = OpenDisplay(display, kNoMinimise);
    if (!connection) return connection.error();
    Display* x = connection->get();
    const Window root = DefaultRootWindow(x);
    const Window active =
        ReadCardinal(x, root, XInternAtom(x, "_NET_ACTIVE_WINDOW", False), XA_WINDOW);
    if (active == 0) {
        return MakeError(ErrorKind::Other,
                         "no window is in use (the window manager names none): nothing to "
                         "minimise");
    }
    // The window manager iconifies on the client message XIconifyWindow sends to the root.
    XErrorTrap trap(x);
    const int sent = XIconifyWindow(x, active, DefaultScreen(x));
    if (const std::string error = trap.Finish(); !error.empty() || sent == 0) {
        return MakeError(ErrorKind::Other, "cannot minimise the window in use: " +
                                               (error.empty() ? std::string("refused") : error));
    }
    return {};
}

}  // namespace qvm
