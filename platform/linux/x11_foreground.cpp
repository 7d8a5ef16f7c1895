#include "platform/linux/x11_foreground.h"

#include <X11/Xatom.h>

#include <string_view>

#include "platform/linux/x11_display.h"  // last: Xlib's macros

namespace qvm {
namespace {

// Events that come in while the properties are read may describe changes after the
// read: they are taken and, when the active window changed, it is read again, a bounded
// number of times.
constexpr int kMaxReadRounds = 8;

constexpr std::string_view kWithoutDisplay = "the window in use cannot be told";
constexpr std::string_view kCannotMinimise = "the window in use cannot be minimised";

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
            now_.window = ReadCardinal(root_, activeWindow_, XA_WINDOW);
            now_.pid = now_.window == 0
                           ? 0
                           : static_cast<pid_t>(ReadCardinal(now_.window, windowPid_, XA_CARDINAL));
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

    // The first 32-bit item of `property` on `window`, 0 when it is absent, of another
    // type, or the window is gone.
    unsigned long ReadCardinal(unsigned long window, Atom property, Atom type) {
        const auto values = ReadLongProperty(display_.get(), window, property, type, 1);
        return values.empty() ? 0 : values.front();
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
    auto connection = OpenX11Display(display, kWithoutDisplay);
    if (!connection) return connection.error();
    return std::unique_ptr<ForegroundWatcher>(
        std::make_unique<X11ForegroundWatcher>(std::move(connection).value()));
}

Status MinimiseX11ActiveWindow(const std::string& display) {
    auto connection = OpenX11Display(display, kCannotMinimise);
    if (!connection) return connection.error();
    Display* x = connection->get();
    const std::vector<unsigned long> active = ReadLongProperty(
        x, DefaultRootWindow(x), XInternAtom(x, "_NET_ACTIVE_WINDOW", False), XA_WINDOW, 1);
    if (active.empty() || active.front() == 0) {
        return MakeError(ErrorKind::Other,
                         "no window is in use (the window manager names none): nothing to "
                         "minimise");
    }
    // The window manager iconifies on the client message XIconifyWindow sends to the root.
    XErrorTrap trap(x);
    const int sent = XIconifyWindow(x, active.front(), DefaultScreen(x));
    if (const std::string error = trap.Finish(); !error.empty() || sent == 0) {
        return MakeError(ErrorKind::Other, "cannot minimise the window in use: " +
                                               (error.empty() ? std::string("refused") : error));
    }
    return {};
}

}  // namespace qvm
