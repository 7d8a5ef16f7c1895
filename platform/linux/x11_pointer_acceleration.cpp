#include "platform/linux/x11_pointer_acceleration.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstdlib>
#include <string>

// Xlib defines macros named Status, Bool, True, False and None; it comes last so they
// cannot reach the headers above, and Status is dropped again for qvm::Status.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#undef Status

namespace qvm {
namespace {

constexpr char kProfileEnabledProperty[] = "libinput Accel Profile Enabled";
constexpr char kProfilesAvailableProperty[] = "libinput Accel Profiles Available";
constexpr char kSpeedProperty[] = "libinput Accel Speed";
constexpr char kFloatType[] = "FLOAT";
// Longer than any of the properties above, in 32-bit units.
constexpr long kPropertyReadLength = 16;
constexpr int kProfileFormat = 8;
constexpr int kSpeedFormat = 32;

// X reports request errors asynchronously to one process-wide handler. A trap installs a
// handler that records the error code, and Finish() waits for the server's answer to
// everything sent so far. Only one trap is active at a time (the window thread).
std::atomic<int> gLastXError{0};

int RecordXError(Display*, XErrorEvent* event) {
    gLastXError.store(event->error_code);
    return 0;
}

class XErrorTrap {
  public:
    explicit XErrorTrap(Display* display) : display_(display) {
        XSync(display_, False);
        gLastXError.store(0);
        previous_ = XSetErrorHandler(RecordXError);
    }
    ~XErrorTrap() {
        if (!finished_) (void)Finish();
    }
    XErrorTrap(const XErrorTrap&) = delete;
    XErrorTrap& operator=(const XErrorTrap&) = delete;

    // The message of the first error since the trap was set, empty when none came.
    std::string Finish() {
        XSync(display_, False);
        XSetErrorHandler(previous_);
        finished_ = true;
        const int code = gLastXError.exchange(0);
        if (code == 0) return {};
        char text[128] = {};
        XGetErrorText(display_, code, text, sizeof text);
        return text;
    }

  private:
    Display* display_;
    XErrorHandler previous_ = nullptr;
    bool finished_ = false;
};

struct DisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};
using DisplayPtr = std::unique_ptr<Display, DisplayCloser>;

struct XFreeDeleter {
    void operator()(void* data) const { XFree(data); }
};

struct DeviceProperty {
    Atom type = 0;
    int format = 0;
    std::vector<std::uint8_t> bytes;
};

class X11PointerAcceleration final : public PointerAcceleration {
  public:
    explicit X11PointerAcceleration(DisplayPtr display) : display_(std::move(display)) {
        Display* d = display_.get();
        int opcode = 0, event = 0, error = 0;
        int major = 2, minor = 0;
        haveXi2_ = XQueryExtension(d, "XInputExtension", &opcode, &event, &error) &&
                   XIQueryVersion(d, &major, &minor) == Success;
        // Atoms that do not exist yet mean no device has that property.
        profileEnabled_ = XInternAtom(d, kProfileEnabledProperty, True);
        profilesAvailable_ = XInternAtom(d, kProfilesAvailableProperty, True);
        speed_ = XInternAtom(d, kSpeedProperty, True);
        floatType_ = XInternAtom(d, kFloatType, False);
    }

    Result<MouseParams> GetMouseParams() override {
        XPointerControl control;
        XGetPointerControl(display_.get(), &control.numerator, &control.denominator,
                           &control.threshold);
        std::vector<std::vector<std::uint8_t>> profiles;
        for (int device : LibinputPointers()) {
            if (auto value = ReadProperty(device, profileEnabled_);
                value && value->format == kProfileFormat) {
                profiles.push_back(std::move(value->bytes));
            }
        }
        return CombinePointerState(control, ProfilesAreFlat(profiles));
    }

    std::optional<int> GetPointerSpeed() override {
        for (int device : SpeedDevices()) {
            if (auto value = ReadProperty(device, speed_); value && IsSpeedValue(*value)) {
                return PointerSpeedFromLibinput(std::bit_cast<float>(FirstWord(value->bytes)));
            }
        }
        return std::nullopt;
    }

    Status SetPointerSpeed(int speed) override {
        const Result<float> libinputSpeed = LibinputSpeedFromPointerSpeed(speed);
        if (!libinputSpeed) return libinputSpeed.error();
        const std::vector<int> devices = SpeedDevices();
        if (devices.empty()) {
            return MakeError("the X server has no pointer speed to set: no libinput pointer");
        }
        const auto word = std::bit_cast<std::uint32_t>(*libinputSpeed);
        XErrorTrap trap(display_.get());
        for (int device : devices) {
            XIChangeProperty(
                display_.get(), device, speed_, floatType_, kSpeedFormat, XIPropModeReplace,
                reinterpret_cast<unsigned char*>(const_cast<std::uint32_t*>(&word)), 1);
        }
        if (std::string error = trap.Finish(); !error.empty()) {
            return MakeError("could not set the pointer speed: " + error);
        }
        return {};
    }

    Status SetMouseParams(const MouseParams& params) override {
        Display* d = display_.get();
        const XPointerControl control = ToXPointerControl(params);
        const AccelProfile profile =
            params.acceleration > 0 ? AccelProfile::kAdaptive : AccelProfile::kFlat;
        XErrorTrap trap(d);
        XChangePointerControl(d, True, True, control.numerator, control.denominator,
                              control.threshold);
        for (int device : LibinputPointers()) {
            const auto enabled = ReadProperty(device, profileEnabled_);
            if (!enabled || enabled->format != kProfileFormat) continue;
            const auto available = ReadProperty(device, profilesAvailable_);
            const auto value =
                SelectAccelProfile(enabled->bytes,
                                   available && available->format == kProfileFormat
                                       ? std::span<const std::uint8_t>(available->bytes)
                                       : std::span<const std::uint8_t>(),
                                   profile);
            if (!value) continue;  // this device cannot run without acceleration
            XIChangeProperty(d, device, profileEnabled_, enabled->type, kProfileFormat,
                             XIPropModeReplace, const_cast<unsigned char*>(value->data()),
                             static_cast<int>(value->size()));
        }
        if (std::string error = trap.Finish(); !error.empty()) {
            return MakeError("could not change the pointer acceleration: " + error);
        }
        return {};
    }

  private:
    bool IsSpeedValue(const DeviceProperty& value) const {
        return value.type == floatType_ && value.format == kSpeedFormat &&
               value.bytes.size() >= sizeof(std::uint32_t);
    }

    static std::uint32_t FirstWord(const std::vector<std::uint8_t>& bytes) {
        std::uint32_t word = 0;
        std::copy_n(bytes.begin(), sizeof word, reinterpret_cast<std::uint8_t*>(&word));
        return word;
    }

    // Enabled pointer devices (not the virtual core pointer) that carry `property`.
    std::vector<int> PointersWith(Atom property) {
        std::vector<int> devices;
        if (!haveXi2_ || property == 0) return devices;
        int count = 0;
        std::unique_ptr<XIDeviceInfo, decltype(&XIFreeDeviceInfo)> info(
            XIQueryDevice(display_.get(), XIAllDevices, &count), &XIFreeDeviceInfo);
        for (int i = 0; info && i < count; ++i) {
            const XIDeviceInfo& device = info.get()[i];
            if (device.use != XISlavePointer || !device.enabled) continue;
            if (ReadProperty(device.deviceid, property)) devices.push_back(device.deviceid);
        }
        return devices;
    }
    std::vector<int> LibinputPointers() { return PointersWith(profileEnabled_); }
    std::vector<int> SpeedDevices() { return PointersWith(speed_); }

    // The property's value, std::nullopt when the device does not have it. 16- and
    // 32-bit items arrive as uint16_t / uint32_t arrays; the bytes keep that layout.
    std::optional<DeviceProperty> ReadProperty(int device, Atom property) {
        if (property == 0) return std::nullopt;
        DeviceProperty result;
        unsigned long items = 0, bytesAfter = 0;
        unsigned char* raw = nullptr;
        const int status =
            XIGetProperty(display_.get(), device, property, 0, kPropertyReadLength, False,
                          AnyPropertyType, &result.type, &result.format, &items, &bytesAfter, &raw);
        std::unique_ptr<unsigned char, XFreeDeleter> data(raw);
        if (status != Success || result.type == None || !data) return std::nullopt;
        result.bytes.assign(data.get(), data.get() + items * (result.format / 8));
        return result;
    }

    DisplayPtr display_;
    bool haveXi2_ = false;
    Atom profileEnabled_ = 0;
    Atom profilesAvailable_ = 0;
    Atom speed_ = 0;
    Atom floatType_ = 0;
};

class UnavailablePointerAcceleration final : public PointerAcceleration {
  public:
    Result<MouseParams> GetMouseParams() override { return MakeError(kX11OnlyMessage); }
    std::optional<int> GetPointerSpeed() override { return std::nullopt; }
    Status SetPointerSpeed(int) override { return MakeError(kX11OnlyMessage); }
    Status SetMouseParams(const MouseParams&) override { return MakeError(kX11OnlyMessage); }
};

}  // namespace

Result<std::unique_ptr<PointerAcceleration>> MakeX11PointerAcceleration(const char* displayName) {
    DisplayPtr display(XOpenDisplay(displayName));
    if (!display) {
        return MakeError(std::string("cannot open the X display ") +
                         (displayName ? displayName : "of this session"));
    }
    return std::unique_ptr<PointerAcceleration>(
        std::make_unique<X11PointerAcceleration>(std::move(display)));
}

std::unique_ptr<PointerAcceleration> MakeSystemPointerAcceleration() {
    if (DetectPointerSession(std::getenv("XDG_SESSION_TYPE"), std::getenv("WAYLAND_DISPLAY"),
                             std::getenv("DISPLAY")) == PointerSession::kX11) {
        if (auto x11 = MakeX11PointerAcceleration(nullptr)) return std::move(*x11);
    }
    return std::make_unique<UnavailablePointerAcceleration>();
}

}  // namespace qvm
