#include "platform/linux/uinput_injector.h"

#include <fcntl.h>
#include <linux/uinput.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <limits>
#include <span>

namespace qvm {
namespace {

constexpr int kMaxTrackingId = 0xFFFF;
constexpr char kUinputRule[] = "data/71-qvm-gaming-uinput.rules";

std::string SystemMessage(int error) {
    return std::strerror(error);
}

// One capability of a device: UI_SET_EVBIT and its kin with the bit they set.
struct Capability {
    unsigned long request;
    int bit;
};

constexpr Capability kPointerCapabilities[] = {
    {UI_SET_EVBIT, EV_KEY},
    {UI_SET_KEYBIT, BTN_LEFT},  // a mouse has a button
    {UI_SET_EVBIT, EV_REL},
    {UI_SET_RELBIT, REL_X},
    {UI_SET_RELBIT, REL_Y},
    {UI_SET_RELBIT, REL_HWHEEL},
    {UI_SET_RELBIT, REL_HWHEEL_HI_RES},
};

constexpr Capability kTouchCapabilities[] = {
    {UI_SET_EVBIT, EV_KEY},
    {UI_SET_KEYBIT, BTN_TOUCH},
    {UI_SET_KEYBIT, BTN_TOOL_FINGER},
    {UI_SET_EVBIT, EV_ABS},
    {UI_SET_ABSBIT, ABS_X},
    {UI_SET_ABSBIT, ABS_Y},
    {UI_SET_ABSBIT, ABS_MT_SLOT},
    {UI_SET_ABSBIT, ABS_MT_TRACKING_ID},
    {UI_SET_ABSBIT, ABS_MT_POSITION_X},
    {UI_SET_ABSBIT, ABS_MT_POSITION_Y},
    {UI_SET_PROPBIT, INPUT_PROP_DIRECT},
};

Status Ioctl(int fd, unsigned long request, const void* argument, const char* what) {
    if (::ioctl(fd, request, argument) < 0) {
        return MakeError(ErrorKind::Io,
                         std::string("uinput ") + what + ": " + SystemMessage(errno));
    }
    return {};
}

Status SetCapabilities(int fd, std::span<const Capability> capabilities) {
    for (const Capability& c : capabilities) {
        if (::ioctl(fd, c.request, c.bit) < 0) {
            return MakeError(ErrorKind::Io,
                             "uinput cannot set a device capability: " + SystemMessage(errno));
        }
    }
    return {};
}

Result<UniqueFd> OpenUinput(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd) return fd;
    const int error = errno;
    if (error == EACCES || error == EPERM) {
        return MakeError(ErrorKind::Io, path + ": permission denied (see " + kUinputRule + ")");
    }
    if (error == ENOENT || error == ENODEV || error == ENXIO) {
        return MakeError(ErrorKind::Io, path + ": not there (the uinput module is not loaded)");
    }
    return MakeError(ErrorKind::Io, path + ": " + SystemMessage(error));
}

// Opens `path`, gives the new device its capabilities (and, through `axes`, its absolute
// axes), names it and makes it.
Result<UinputDevice> CreateDevice(const std::string& path, const char* name,
                                  std::span<const Capability> capabilities,
                                  const std::function<Status(int)>& axes) {
    auto fd = OpenUinput(path);
    if (!fd) return fd.error();
    const int raw = fd->get();
    if (Status set = SetCapabilities(raw, capabilities); !set) return set.error();
    if (axes) {
        if (Status set = axes(raw); !set) return set.error();
    }
    uinput_setup setup{};
    setup.id.bustype = BUS_VIRTUAL;
    std::strncpy(setup.name, name, UINPUT_MAX_NAME_SIZE - 1);
    if (Status s = Ioctl(raw, UI_DEV_SETUP, &setup, "setup"); !s) return s.error();
    if (::ioctl(raw, UI_DEV_CREATE) < 0) {
        return MakeError(ErrorKind::Io,
                         std::string("uinput cannot create ") + name + ": " + SystemMessage(errno));
    }
    return UinputDevice(std::move(*fd));
}

Status SetTouchAxes(int fd, int width, int height) {
    struct Axis {
        uint16_t code;
        int32_t maximum;
    };
    const Axis axes[] = {{ABS_X, width - 1},
                         {ABS_Y, height - 1},
                         {ABS_MT_SLOT, 0},  // one contact
                         {ABS_MT_TRACKING_ID, kMaxTrackingId},
                         {ABS_MT_POSITION_X, width - 1},
                         {ABS_MT_POSITION_Y, height - 1}};
    for (const Axis& axis : axes) {
        uinput_abs_setup setup{};
        setup.code = axis.code;
        setup.absinfo.minimum = 0;
        setup.absinfo.maximum = axis.maximum;
        if (Status s = Ioctl(fd, UI_ABS_SETUP, &setup, "axis setup"); !s) return s;
    }
    return {};
}

}  // namespace

UinputEvents PointerMoveEvents(int dx, int dy) {
    UinputEvents events;
    // The kernel drops zero relative values; leaving them out keeps the report as read.
    if (dx != 0) events.push_back({EV_REL, REL_X, dx});
    if (dy != 0) events.push_back({EV_REL, REL_Y, dy});
    if (!events.empty()) events.push_back({EV_SYN, SYN_REPORT, 0});
    return events;
}

Result<UinputEvents> HorizontalScrollEvents(int detents) {
    constexpr int kLimit = std::numeric_limits<int32_t>::max() / kHiResUnitsPerDetent;
    if (detents > kLimit || detents < -kLimit) {
        return MakeError(ErrorKind::BadInput,
                         "a horizontal scroll of " + std::to_string(detents) + " steps is too far");
    }
    if (detents == 0) return UinputEvents{};
    return UinputEvents{{EV_REL, REL_HWHEEL, detents},
                        {EV_REL, REL_HWHEEL_HI_RES, detents * kHiResUnitsPerDetent},
                        {EV_SYN, SYN_REPORT, 0}};
}

void TouchContact::Position(UinputEvents& out, InjectPoint at, bool multiTouch) const {
    // Points off the screen go to its nearest edge: the axes cannot say more.
    const int x = std::clamp(at.x, 0, width_ - 1);
    const int y = std::clamp(at.y, 0, height_ - 1);
    if (multiTouch) {
        out.push_back({EV_ABS, ABS_MT_POSITION_X, x});
        out.push_back({EV_ABS, ABS_MT_POSITION_Y, y});
    }
    out.push_back({EV_ABS, ABS_X, x});
    out.push_back({EV_ABS, ABS_Y, y});
}

Result<UinputEvents> TouchContact::Phase(TouchPhase phase, InjectPoint at) {
    UinputEvents out;
    const auto lift = [&] {
        out.push_back({EV_ABS, ABS_MT_SLOT, 0});
        Position(out, at, true);
        out.push_back({EV_ABS, ABS_MT_TRACKING_ID, -1});
        out.push_back({EV_KEY, BTN_TOUCH, 0});
        inContact_ = false;
    };
    switch (phase) {
        case TouchPhase::Hover:
            if (inContact_) return MakeError(ErrorKind::BadInput, "touch hover while touching");
            Position(out, at, false);
            out.push_back({EV_KEY, BTN_TOOL_FINGER, 1});
            inRange_ = true;
            break;
        case TouchPhase::Down:
            if (inContact_) return MakeError(ErrorKind::BadInput, "touch down while touching");
            out.push_back({EV_ABS, ABS_MT_SLOT, 0});
            out.push_back({EV_ABS, ABS_MT_TRACKING_ID, nextTrackingId_});
            nextTrackingId_ = nextTrackingId_ == kMaxTrackingId ? 0 : nextTrackingId_ + 1;
            Position(out, at, true);
            out.push_back({EV_KEY, BTN_TOUCH, 1});
            out.push_back({EV_KEY, BTN_TOOL_FINGER, 1});
            inContact_ = inRange_ = true;
            break;
        case TouchPhase::Move:
            if (!inContact_) return MakeError(ErrorKind::BadInput, "touch move without contact");
            out.push_back({EV_ABS, ABS_MT_SLOT, 0});
            Position(out, at, true);
            break;
        case TouchPhase::Up:
            if (!inContact_) return MakeError(ErrorKind::BadInput, "touch up without contact");
            lift();
            break;
        case TouchPhase::Out:
            if (!inRange_) return MakeError(ErrorKind::BadInput, "touch out of range twice");
            if (inContact_) lift();
            out.push_back({EV_KEY, BTN_TOOL_FINGER, 0});
            inRange_ = false;
            break;
    }
    out.push_back({EV_SYN, SYN_REPORT, 0});
    return out;
}

UinputDevice& UinputDevice::operator=(UinputDevice&& other) noexcept {
    if (this != &other) {
        Destroy();
        fd_ = std::move(other.fd_);
    }
    return *this;
}

UinputDevice::~UinputDevice() {
    Destroy();
}

void UinputDevice::Destroy() {
    if (fd_) (void)::ioctl(fd_.get(), UI_DEV_DESTROY);
    fd_.reset();
}

Status UinputDevice::Write(const UinputEvents& events) {
    std::vector<input_event> raw(events.size());
    for (size_t i = 0; i < events.size(); ++i) {
        raw[i].type = events[i].type;
        raw[i].code = events[i].code;
        raw[i].value = events[i].value;
    }
    const auto* bytes = reinterpret_cast<const char*>(raw.data());
    size_t left = raw.size() * sizeof(input_event);
    // uinput takes whole events; a short write leaves the rest of the report to write.
    while (left > 0) {
        const ssize_t written = ::write(fd_.get(), bytes, left);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            return MakeError(ErrorKind::Io, "writing to the virtual input device failed: " +
                                                SystemMessage(written < 0 ? errno : EIO));
        }
        bytes += written;
        left -= static_cast<size_t>(written);
    }
    return {};
}

Result<std::string> UinputDevice::SysName() const {
    char name[64] = {};
    if (::ioctl(fd_.get(), UI_GET_SYSNAME(sizeof name - 1), name) < 0) {
        return MakeError(ErrorKind::Io, "uinput cannot name its device: " + SystemMessage(errno));
    }
    return std::string(name);
}

UinputInjector::UinputInjector(UinputDevice pointer, UinputDevice touch,
                               std::optional<X11Screen> screen, int width, int height)
    : pointer_(std::move(pointer)),
      touch_(std::move(touch)),
      screen_(std::move(screen)),
      contact_(width, height) {}

Result<std::unique_ptr<UinputInjector>> UinputInjector::Open(const std::string& uinputPath,
                                                             const std::string& display) {
    auto pointer = CreateDevice(uinputPath, kUinputPointerName, kPointerCapabilities, nullptr);
    if (!pointer) return pointer.error();
    std::optional<X11Screen> screen;
    if (auto opened = X11Screen::Open(display)) screen.emplace(std::move(*opened));
    const int width = screen ? screen->Width() : kFallbackScreenWidth;
    const int height = screen ? screen->Height() : kFallbackScreenHeight;
    auto touch = CreateDevice(uinputPath, kUinputTouchName, kTouchCapabilities,
                              [&](int fd) { return SetTouchAxes(fd, width, height); });
    if (!touch) return touch.error();
    return std::make_unique<UinputInjector>(std::move(*pointer), std::move(*touch),
                                            std::move(screen), width, height);
}

Status UinputInjector::MovePointer(int dx, int dy) {
    const UinputEvents events = PointerMoveEvents(dx, dy);
    return events.empty() ? Status{} : pointer_.Write(events);
}

Status UinputInjector::ScrollHorizontal(int detents) {
    auto events = HorizontalScrollEvents(detents);
    if (!events) return events.error();
    return events->empty() ? Status{} : pointer_.Write(*events);
}

Result<InjectPoint> UinputInjector::PointerPosition() {
    if (!screen_) {
        return MakeError(ErrorKind::BadInput,
                         "the pointer position is unknown without an X display");
    }
    return screen_->PointerPosition();
}

Status UinputInjector::Touch(TouchPhase phase, InjectPoint at) {
    const TouchContact before = contact_;
    auto events = contact_.Phase(phase, at);
    if (!events) return events.error();
    Status written = touch_.Write(*events);
    // A phase the device did not take did not happen: the next one starts from before it.
    if (!written) contact_ = before;
    return written;
}

}  // namespace qvm
