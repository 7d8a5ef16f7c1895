#include "platform/linux/x11_desktop_input.h"

#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "base/unique_fd.h"

// Xlib's macros (Status, None, True...) come last; x11_display.h drops Status again.
#include <X11/extensions/XInput2.h>

#include "platform/linux/x11_display.h"

namespace qvm {
namespace {

constexpr int kXiMajor = 2;
constexpr int kXiMinor = 2;  // raw events on the root window for every client, grabs or not

// The raw events taken while listening. Selected on the master devices, so that each
// press reaches us once, whichever physical device made it.
constexpr std::array kRawEvents = {XI_RawKeyPress, XI_RawKeyRelease, XI_RawButtonPress,
                                   XI_RawButtonRelease, XI_RawMotion};

std::string DisplayLabel(const std::string& display) {
    return display.empty() ? std::string("$DISPLAY") : "'" + display + "'";
}

class X11DesktopInput final : public DesktopInput {
  public:
    X11DesktopInput(DisplayPtr display, int xiOpcode, UniqueFd epoll, UniqueFd wake)
        : display_(std::move(display)),
          root_(DefaultRootWindow(display_.get())),
          xiOpcode_(xiOpcode),
          epoll_(std::move(epoll)),
          wake_(std::move(wake)) {}

    ~X11DesktopInput() override {
        if (grabbed_) ReleaseKeyboard();
        if (listening_) (void)Select(false);
        XSync(display_.get(), False);
    }

    X11DesktopInput(const X11DesktopInput&) = delete;
    X11DesktopInput& operator=(const X11DesktopInput&) = delete;

    // Readable when the X connection has data or Xlib already holds events it read during
    // a round trip (which leaves the socket quiet): both are watched through one epoll
    // descriptor, the second by an eventfd raised after each round trip.
    int Fd() const override { return epoll_.get(); }

    Status Listen(bool on) override {
        if (on == listening_) return {};
        if (Status selected = Select(on); !selected) return selected;
        listening_ = on;
        if (!on) Discard();
        return {};
    }

    bool Listening() const override { return listening_; }

    std::vector<DesktopEvent> Read() override {
        uint64_t raised = 0;
        while (::read(wake_.get(), &raised, sizeof raised) > 0) {
        }
        std::vector<DesktopEvent> events;
        Display* display = display_.get();
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            XGenericEventCookie* cookie = &event.xcookie;
            if (cookie->type != GenericEvent || cookie->extension != xiOpcode_) continue;
            if (!XGetEventData(display, cookie)) continue;
            if (listening_) Translate(*cookie, events);
            XFreeEventData(display, cookie);
        }
        return events;
    }

    std::optional<DesktopPoint> PointerPosition() override {
        const std::optional<RootPoint> at = PointerOnRoot(display_.get(), root_);
        RaiseIfQueued();
        if (!at) return std::nullopt;
        return DesktopPoint{at->x, at->y};
    }

    // The grab is an XInput 2 grab of the master keyboards whose mask holds the raw key
    // events: the X server gives a grabbing client its raw events only through the grab,
    // so a core keyboard grab would leave Read deaf to the keys it keeps from others.
    Status GrabKeyboard() override {
        if (grabbed_) return {};
        Display* display = display_.get();
        std::array<unsigned char, XIMaskLen(XI_LASTEVENT)> bits{};
        XISetMask(bits.data(), XI_RawKeyPress);
        XISetMask(bits.data(), XI_RawKeyRelease);
        int result = GrabSuccess;
        for (int keyboard : MasterKeyboards()) {
            XIEventMask mask;
            mask.deviceid = keyboard;
            mask.mask_len = static_cast<int>(bits.size());
            mask.mask = bits.data();
            result = XIGrabDevice(display, keyboard, root_, CurrentTime, 0, XIGrabModeAsync,
                                  XIGrabModeAsync, False, &mask);
            if (result != GrabSuccess) break;
            grabbedKeyboards_.push_back(keyboard);
        }
        if (grabbedKeyboards_.empty() && result == GrabSuccess) {
            result = GrabNotViewable;  // no keyboard at all
        }
        RaiseIfQueued();
        if (result == GrabSuccess) {
            grabbed_ = true;
            return {};
        }
        Ungrab();
        if (result == AlreadyGrabbed || result == GrabFrozen) {
            return MakeError(ErrorKind::DeviceBusy,
                             "another program holds the keyboard (an open menu or a screen "
                             "lock); close it and try again");
        }
        return MakeError(ErrorKind::Other,
                         "the X server did not let the program take the keyboard");
    }

    void ReleaseKeyboard() override {
        if (!grabbed_) return;
        Ungrab();
        grabbed_ = false;
    }

    bool KeyboardGrabbed() const override { return grabbed_; }

  private:
    Status Select(bool on) {
        std::array<unsigned char, XIMaskLen(XI_LASTEVENT)> bits{};
        if (on) {
            for (int type : kRawEvents) XISetMask(bits.data(), type);
        }
        XIEventMask mask;
        mask.deviceid = XIAllMasterDevices;
        mask.mask_len = static_cast<int>(bits.size());
        mask.mask = bits.data();
        XErrorTrap trap(display_.get());
        XISelectEvents(display_.get(), root_, &mask, 1);
        const std::string error = trap.Finish();
        RaiseIfQueued();
        if (!error.empty()) {
            return MakeError(ErrorKind::Other,
                             "the X server refused to report input from the desktop: " + error);
        }
        return {};
    }

    void Translate(const XGenericEventCookie& cookie, std::vector<DesktopEvent>& events) const {
        const auto* raw = static_cast<const XIRawEvent*>(cookie.data);
        using Kind = DesktopEvent::Kind;
        switch (cookie.evtype) {
            case XI_RawKeyPress:
                if (raw->flags & XIKeyRepeat) return;  // a held key's repeats are no presses
                events.push_back({Kind::KeyDown, raw->detail});
                return;
            case XI_RawKeyRelease:
                events.push_back({Kind::KeyUp, raw->detail});
                return;
            case XI_RawButtonPress:
                events.push_back({Kind::ButtonDown, raw->detail});
                return;
            case XI_RawButtonRelease:
                events.push_back({Kind::ButtonUp, raw->detail});
                return;
            case XI_RawMotion:
                events.push_back({Kind::Motion, 0});
                return;
            default:
                return;
        }
    }

    std::vector<int> MasterKeyboards() {
        int count = 0;
        std::unique_ptr<XIDeviceInfo, decltype(&XIFreeDeviceInfo)> info(
            XIQueryDevice(display_.get(), XIAllMasterDevices, &count), &XIFreeDeviceInfo);
        std::vector<int> keyboards;
        for (int i = 0; info && i < count; ++i) {
            if (info.get()[i].use == XIMasterKeyboard) keyboards.push_back(info.get()[i].deviceid);
        }
        return keyboards;
    }

    void Ungrab() {
        for (int keyboard : grabbedKeyboards_)
            XIUngrabDevice(display_.get(), keyboard, CurrentTime);
        grabbedKeyboards_.clear();
        // A round trip, not a flush: the keyboard is free when this returns, so a grab
        // another client asks for next is not refused for a release still on its way.
        XSync(display_.get(), False);
        RaiseIfQueued();
    }

    // Events read while not listening (the last ones before the selection ended) are
    // nobody's.
    void Discard() { (void)Read(); }

    // A round trip may leave events in Xlib's queue with the socket quiet: make the
    // descriptor readable for them.
    void RaiseIfQueued() {
        if (XEventsQueued(display_.get(), QueuedAlready) <= 0) return;
        const uint64_t one = 1;
        (void)::write(wake_.get(), &one, sizeof one);
    }

    DisplayPtr display_;
    Window root_;
    int xiOpcode_;
    UniqueFd epoll_;
    UniqueFd wake_;
    bool listening_ = false;
    bool grabbed_ = false;
    std::vector<int> grabbedKeyboards_;
};

Status Watch(int epoll, int fd) {
    epoll_event watch{};
    watch.events = EPOLLIN;
    watch.data.fd = fd;
    if (epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &watch) != 0) {
        return MakeError(ErrorKind::Io,
                         std::string("cannot watch the X connection: ") + std::strerror(errno));
    }
    return {};
}

}  // namespace

Result<std::unique_ptr<DesktopInput>> OpenX11DesktopInput(const std::string& display) {
    DisplayPtr connection(XOpenDisplay(display.empty() ? nullptr : display.c_str()));
    if (!connection) {
        return MakeError(ErrorKind::Other, "cannot open the X display " + DisplayLabel(display));
    }
    int opcode = 0, event = 0, error = 0;
    if (!XQueryExtension(connection.get(), "XInputExtension", &opcode, &event, &error)) {
        return MakeError(ErrorKind::Other,
                         "the X display " + DisplayLabel(display) + " has no XInput extension");
    }
    int major = kXiMajor, minor = kXiMinor;
    if (XIQueryVersion(connection.get(), &major, &minor) != Success ||
        major * 100 + minor < kXiMajor * 100 + kXiMinor) {
        return MakeError(ErrorKind::Other,
                         "the X display " + DisplayLabel(display) + " has no XInput 2.2");
    }
    UniqueFd epoll(epoll_create1(EPOLL_CLOEXEC));
    UniqueFd wake(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (!epoll || !wake) {
        return MakeError(ErrorKind::Io,
                         std::string("cannot wait for X events: ") + std::strerror(errno));
    }
    if (Status ok = Watch(epoll.get(), ConnectionNumber(connection.get())); !ok) return ok.error();
    if (Status ok = Watch(epoll.get(), wake.get()); !ok) return ok.error();
    return std::unique_ptr<DesktopInput>(std::make_unique<X11DesktopInput>(
        std::move(connection), opcode, std::move(epoll), std::move(wake)));
}

}  // namespace qvm
