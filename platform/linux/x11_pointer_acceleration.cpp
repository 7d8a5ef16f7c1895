#include "platform/linux/x11_pointer_acceleration.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

// Xlib defines macros named Status, Bool, True, False and None; it comes last so they
// cannot reach the headers above, and Status is dropped again for qvm::Status.
#include <X11/Xatom.h>
#include <X11/extensions/XInput2.h>

#include "platform/linux/x11_display.h"

namespace qvm {
namespace {

constexpr char kProfileEnabledProperty[] = "libinput Accel Profile Enabled";
constexpr char kProfilesAvailableProperty[] = "libinput Accel Profiles Available";
constexpr char kDeviceNodeProperty[] = "Device Node";
constexpr char kProductIdProperty[] = "Device Product ID";  // vendor, product (32 bits each)
constexpr char kSysRoot[] = "/sys";
// Longer than any of the properties above, in 32-bit units.
constexpr long kPropertyReadLength = 64;
constexpr int kProfileFormat = 8;
constexpr int kNodeFormat = 8;
constexpr int kProductIdFormat = 32;
constexpr int kHierarchyNotices =
    XISlaveAdded | XISlaveRemoved | XIDeviceEnabled | XIDeviceDisabled;

struct XFreeDeleter {
    void operator()(void* data) const { XFree(data); }
};

struct DeviceProperty {
    Atom type = 0;
    int format = 0;
    std::vector<std::uint8_t> bytes;  // 16- and 32-bit items keep their native layout
};

class X11PointerDevices final : public PointerDevices {
  public:
    explicit X11PointerDevices(DisplayPtr display) : display_(std::move(display)) {
        Display* d = display_.get();
        int event = 0, error = 0;
        int major = 2, minor = 0;
        haveXi2_ = XQueryExtension(d, "XInputExtension", &xiOpcode_, &event, &error) &&
                   XIQueryVersion(d, &major, &minor) == Success;
        LookUpAtoms();
        if (haveXi2_) WatchHierarchy();
    }

    Result<std::vector<PointerDevice>> List() override {
        if (!haveXi2_) return MakeError("the X server has no XInput 2 extension");
        LookUpAtoms();  // a device added later may bring the property names with it
        int count = 0;
        std::unique_ptr<XIDeviceInfo, decltype(&XIFreeDeviceInfo)> info(
            XIQueryDevice(display_.get(), XIAllDevices, &count), &XIFreeDeviceInfo);
        std::vector<PointerDevice> devices;
        for (int i = 0; info && i < count; ++i) {
            const XIDeviceInfo& x = info.get()[i];
            if (x.use != XISlavePointer) continue;
            PointerDevice& device = devices.emplace_back();
            device.id = x.deviceid;
            device.name = x.name != nullptr ? x.name : "";
            device.enabled = x.enabled != 0;
            if (auto node = ReadProperty(x.deviceid, deviceNode_, kNodeFormat)) {
                device.node.assign(node->bytes.begin(), node->bytes.end());
                if (const auto end = device.node.find('\0'); end != std::string::npos) {
                    device.node.resize(end);
                }
            }
            if (auto ids = ReadProperty(x.deviceid, productId_, kProductIdFormat);
                ids && ids->bytes.size() >= sizeof(std::uint32_t)) {
                std::uint32_t vendor = 0;
                std::memcpy(&vendor, ids->bytes.data(), sizeof vendor);
                if (vendor <= 0xFFFF) device.vendor = static_cast<std::uint16_t>(vendor);
            }
            if (!device.vendor && !device.node.empty()) {
                device.vendor = InputNodeVendor(device.node, kSysRoot);
            }
            if (auto profile = ReadProperty(x.deviceid, profileEnabled_, kProfileFormat)) {
                device.profile = std::move(profile->bytes);
            }
            if (auto available = ReadProperty(x.deviceid, profilesAvailable_, kProfileFormat)) {
                device.available = std::move(available->bytes);
            }
        }
        return devices;
    }

    Status SetProfile(int id, std::span<const std::uint8_t> value) override {
        if (profileEnabled_ == 0) return MakeError("no libinput pointer on this X server");
        std::vector<unsigned char> data(value.begin(), value.end());
        XErrorTrap trap(display_.get());
        XIChangeProperty(display_.get(), id, profileEnabled_, XA_INTEGER, kProfileFormat,
                         XIPropModeReplace, data.data(), static_cast<int>(data.size()));
        if (std::string error = trap.Finish(); !error.empty()) {
            return MakeError("the X server refused the change: " + error);
        }
        return {};
    }

    int ChangeFd() override { return haveXi2_ ? ConnectionNumber(display_.get()) : -1; }

    PointerNotices TakeChanges() override {
        Display* d = display_.get();
        PointerNotices notices;
        // XPending also reads what has arrived on the connection, without blocking.
        while (XPending(d) > 0) {
            XEvent event;
            XNextEvent(d, &event);
            XGenericEventCookie* cookie = &event.xcookie;
            if (cookie->type != GenericEvent || cookie->extension != xiOpcode_ ||
                !XGetEventData(d, cookie)) {
                continue;
            }
            if (cookie->evtype == XI_HierarchyChanged) {
                const auto* hierarchy = static_cast<const XIHierarchyEvent*>(cookie->data);
                notices.changed = notices.changed || (hierarchy->flags & kHierarchyNotices) != 0;
                for (int i = 0; i < hierarchy->num_info; ++i) {
                    if (hierarchy->info[i].flags & XISlaveRemoved) {
                        notices.removed.push_back(hierarchy->info[i].deviceid);
                    }
                }
            }
            XFreeEventData(d, cookie);
        }
        return notices;
    }

  private:
    // Atoms that do not exist yet mean no device has that property (yet).
    void LookUpAtoms() {
        const std::pair<Atom*, const char*> atoms[] = {
            {&profileEnabled_, kProfileEnabledProperty},
            {&profilesAvailable_, kProfilesAvailableProperty},
            {&deviceNode_, kDeviceNodeProperty},
            {&productId_, kProductIdProperty}};
        for (const auto& [atom, name] : atoms) {
            if (*atom == 0) *atom = XInternAtom(display_.get(), name, True);
        }
    }

    void WatchHierarchy() {
        unsigned char mask[XIMaskLen(XI_LASTEVENT)] = {};
        XISetMask(mask, XI_HierarchyChanged);
        XIEventMask events{XIAllDevices, static_cast<int>(sizeof mask), mask};
        XISelectEvents(display_.get(), DefaultRootWindow(display_.get()), &events, 1);
        XFlush(display_.get());
    }

    // The property's value in `format`, std::nullopt when the device does not have it.
    std::optional<DeviceProperty> ReadProperty(int device, Atom property, int format) {
        if (property == 0) return std::nullopt;
        DeviceProperty result;
        unsigned long items = 0, bytesAfter = 0;
        unsigned char* raw = nullptr;
        const int status =
            XIGetProperty(display_.get(), device, property, 0, kPropertyReadLength, False,
                          AnyPropertyType, &result.type, &result.format, &items, &bytesAfter, &raw);
        std::unique_ptr<unsigned char, XFreeDeleter> data(raw);
        if (status != Success || result.type == None || !data || result.format != format) {
            return std::nullopt;
        }
        result.bytes.assign(data.get(), data.get() + items * (result.format / 8));
        return result;
    }

    DisplayPtr display_;
    bool haveXi2_ = false;
    int xiOpcode_ = 0;
    Atom profileEnabled_ = 0;
    Atom profilesAvailable_ = 0;
    Atom deviceNode_ = 0;
    Atom productId_ = 0;
};

}  // namespace

Result<std::unique_ptr<PointerDevices>> MakeX11PointerDevices(const char* displayName) {
    DisplayPtr display(XOpenDisplay(displayName));
    if (!display) {
        return MakeError(std::string("cannot open the X display ") +
                         (displayName ? displayName : "of this session"));
    }
    return std::unique_ptr<PointerDevices>(std::make_unique<X11PointerDevices>(std::move(display)));
}

std::unique_ptr<PointerAcceleration> MakeSystemPointerAcceleration() {
    if (DetectPointerSession(std::getenv("XDG_SESSION_TYPE"), std::getenv("WAYLAND_DISPLAY"),
                             std::getenv("DISPLAY")) != PointerSession::kX11) {
        return std::make_unique<PointerAcceleration>(std::string(kX11OnlyMessage));
    }
    Result<std::unique_ptr<PointerDevices>> x11 = MakeX11PointerDevices(nullptr);
    if (!x11) {
        return std::make_unique<PointerAcceleration>(
            "the mouse acceleration option cannot reach the desktop: " + x11.message());
    }
    return std::make_unique<PointerAcceleration>(std::move(*x11));
}

}  // namespace qvm
