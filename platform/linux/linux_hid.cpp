// The hidraw backend: nodes found and watched through udev, opened directly, described by
// their report descriptors.
#include "platform/linux/linux_hid.h"

#include <fcntl.h>
#include <linux/hid.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <mutex>
#include <string_view>
#include <system_error>
#include <vector>

#include "base/unique_fd.h"
#include "platform/linux/hid_path.h"
#include "platform/linux/hidraw_handle.h"
#include "platform/linux/report_descriptor.h"
#include "platform/linux/udev_ptr.h"
#include "platform/linux/usb_strings.h"

namespace qvm {
namespace {

constexpr const char* kHidrawSubsystem = "hidraw";
constexpr const char* kPermissionDenied = "permission denied: install the udev rule, see README";
constexpr std::string_view kActionAdd = "add";
constexpr std::string_view kActionRemove = "remove";
// Present while a udev daemon runs.
constexpr const char* kUdevControl = "/run/udev/control";

// What udev and sysfs tell about one hidraw node, without opening it.
struct NodeFacts {
    HidDeviceInfo info;  // everything but caps and openError
    std::string devnode;
    std::string descriptorFile;  // the report descriptor as sysfs publishes it
    std::optional<UsbLocation> usbDevice;
};

std::string SystemMessage(int error) {
    return std::system_category().message(error);
}

std::string OpenErrorText(int error) {
    return error == EACCES || error == EPERM ? kPermissionDenied : SystemMessage(error);
}

Result<NodeFacts> ReadNodeFacts(udev_device* node) {
    NodeFacts facts;
    const std::string name = OrEmpty(udev_device_get_sysname(node));
    const char* devnode = udev_device_get_devnode(node);
    facts.devnode = devnode ? devnode : "/dev/" + name;
    // Parents belong to `node` and live as long as it does.
    udev_device* hid = udev_device_get_parent_with_subsystem_devtype(node, "hid", nullptr);
    udev_device* usbInterface =
        udev_device_get_parent_with_subsystem_devtype(node, "usb", "usb_interface");
    udev_device* usbDevice =
        udev_device_get_parent_with_subsystem_devtype(node, "usb", "usb_device");
    if (!hid) return MakeError(name + " has no HID device");

    const Result<HidNodeIds> ids =
        usbInterface && usbDevice
            ? IdsFromUsbAttributes(SysattrOf(usbDevice, "idVendor"),
                                   SysattrOf(usbDevice, "idProduct"),
                                   SysattrOf(usbInterface, "bInterfaceNumber"))
            : IdsFromHidId(PropertyOf(hid, "HID_ID"));
    if (!ids) return MakeError(name + ": " + ids.message());
    HidNodeIds nodeIds = *ids;
    const std::string phys = PropertyOf(hid, "HID_PHYS");
    if (!usbInterface) {
        if (const std::optional<int> interface = InterfaceOfPhys(phys)) {
            nodeIds.interfaceNumber = *interface;
        }
    }

    HidDeviceInfo& info = facts.info;
    info.path = FormatHidrawPath(nodeIds, name);
    info.vendorId = nodeIds.vendorId;
    info.productId = nodeIds.productId;
    info.interfaceNumber = nodeIds.interfaceNumber;
    facts.descriptorFile = OrEmpty(udev_device_get_syspath(hid)) + "/report_descriptor";
    if (usbDevice) {
        info.serial = SysattrOf(usbDevice, "serial");
        info.product = SysattrOf(usbDevice, "product");
        info.container = OrEmpty(udev_device_get_syspath(usbDevice));
        const Result<UsbLocation> location = UsbLocationFromAttributes(
            SysattrOf(usbDevice, "busnum"), SysattrOf(usbDevice, "devnum"));
        if (location) facts.usbDevice = *location;
    } else {
        // Bluetooth, uhid and other buses: the HID core keeps the strings; the device the
        // HID device hangs off, with the physical path and unique ID, stands for the
        // physical device.
        info.serial = PropertyOf(hid, "HID_UNIQ");
        info.product = PropertyOf(hid, "HID_NAME");
        info.container = ContainerOfNonUsb(
            OrEmpty(udev_device_get_syspath(udev_device_get_parent(hid))), phys, info.serial);
    }
    return facts;
}

Result<UniqueFd> OpenNode(const std::string& devnode) {
    UniqueFd fd(::open(devnode.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK));
    if (!fd) {
        // The node vanished between the udev lookup and the open: the device left.
        const bool gone = errno == ENOENT || errno == ENODEV || errno == ENXIO;
        return MakeError(gone ? ErrorKind::DeviceGone : ErrorKind::Other, OpenErrorText(errno));
    }
    return fd;
}

Result<std::vector<uint8_t>> DescriptorOfNode(const UniqueFd& fd) {
    int size = 0;
    if (::ioctl(fd.get(), HIDIOCGRDESCSIZE, &size) < 0) {
        return MakeError("cannot read the report descriptor: " + SystemMessage(errno));
    }
    if (size < 0 || size > HID_MAX_DESCRIPTOR_SIZE) {
        return MakeError("report descriptor of impossible size " + std::to_string(size));
    }
    hidraw_report_descriptor descriptor{};
    descriptor.size = static_cast<uint32_t>(size);
    if (::ioctl(fd.get(), HIDIOCGRDESC, &descriptor) < 0) {
        return MakeError("cannot read the report descriptor: " + SystemMessage(errno));
    }
    return std::vector<uint8_t>(descriptor.value, descriptor.value + size);
}

// The sysfs copy of the descriptor, readable without access to the node itself.
Result<std::vector<uint8_t>> DescriptorOfFile(const std::string& file) {
    const UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) return MakeError("cannot read " + file + ": " + SystemMessage(errno));
    std::vector<uint8_t> bytes(HID_MAX_DESCRIPTOR_SIZE);
    size_t filled = 0;
    while (filled < bytes.size()) {
        const ssize_t got = ::read(fd.get(), bytes.data() + filled, bytes.size() - filled);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return MakeError("cannot read " + file + ": " + SystemMessage(errno));
        if (got == 0) break;
        filled += static_cast<size_t>(got);
    }
    bytes.resize(filled);
    return bytes;
}

// Fills caps and openError: through the node when it opens, else through sysfs.
void Probe(const NodeFacts& facts, HidDeviceInfo& info) {
    Result<std::vector<uint8_t>> descriptor = MakeError("");
    if (Result<UniqueFd> fd = OpenNode(facts.devnode)) {
        descriptor = DescriptorOfNode(*fd);
    } else {
        info.openError = fd.message();
        descriptor = DescriptorOfFile(facts.descriptorFile);
    }
    if (!descriptor) {
        if (info.openError.empty()) info.openError = descriptor.message();
        return;
    }
    const Result<ReportDescriptorInfo> parsed = ParseReportDescriptor(*descriptor);
    if (parsed) {
        info.caps = parsed->caps;
    } else if (info.openError.empty()) {
        info.openError = parsed.message();
    }
}

// Where arrivals and removals are heard. A running udev daemon passes each device on once
// it has set it up (its node's access rights included), so its events are the ones to
// wait for; without one (containers, minimal systems) it sends nothing, and the kernel's
// own events are all there is.
const char* MonitorSource() {
    return ::access(kUdevControl, F_OK) == 0 ? "udev" : "kernel";
}

class LinuxHidBackend final : public HidBackend {
  public:
    LinuxHidBackend(UdevPtr udev, UdevMonitorPtr monitor)
        : udev_(std::move(udev)),
          monitor_(std::move(monitor)),
          monitorFd_(udev_monitor_get_fd(monitor_.get())) {}

    // The udev monitor's socket: readable when an arrival or removal is waiting.
    int EventFd() const override { return monitorFd_; }

    Result<std::vector<HidDeviceInfo>> Enumerate() override {
        std::lock_guard lock(mutex_);
        UdevEnumeratePtr scan(udev_enumerate_new(udev_.get()));
        if (!scan || udev_enumerate_add_match_subsystem(scan.get(), kHidrawSubsystem) < 0 ||
            udev_enumerate_scan_devices(scan.get()) < 0) {
            return MakeError("cannot list the hidraw devices through udev");
        }
        std::vector<HidDeviceInfo> found;
        udev_list_entry* entry = nullptr;
        udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(scan.get())) {
            const UdevDevicePtr node(
                udev_device_new_from_syspath(udev_.get(), udev_list_entry_get_name(entry)));
            // A node that left during the scan, or that cannot be named, is not listed.
            if (!node) continue;
            if (std::optional<HidDeviceInfo> info = Describe(node.get())) {
                found.push_back(std::move(*info));
            }
        }
        return found;
    }

    Result<std::unique_ptr<HidHandle>> Open(const std::string& path) override {
        const Result<std::string> name = HidrawNodeOfPath(path);
        if (!name) return name.error();
        Result<NodeFacts> facts = MakeError("");
        {
            std::lock_guard lock(mutex_);
            const UdevDevicePtr node(udev_device_new_from_subsystem_sysname(
                udev_.get(), kHidrawSubsystem, name->c_str()));
            if (!node) return MakeError(ErrorKind::DeviceGone, "device not present: " + path);
            facts = ReadNodeFacts(node.get());
        }
        if (!facts) {
            return MakeError(ErrorKind::DeviceGone,
                             "device not present: " + path + " (" + facts.message() + ")");
        }
        // Node numbers are reused: the node must still belong to the device the path names.
        if (facts->info.path != ToLowerAscii(path)) {
            return MakeError(ErrorKind::DeviceGone, "device not present: " + path + " (" + *name +
                                                        " is now " + facts->info.path + ")");
        }
        Result<UniqueFd> fd = OpenNode(facts->devnode);
        if (!fd) return MakeError(fd.kind(), "cannot open " + path + ": " + fd.message());
        const Result<std::vector<uint8_t>> bytes = DescriptorOfNode(*fd);
        if (!bytes) return MakeError(path + ": " + bytes.message());
        const Result<ReportDescriptorInfo> descriptor = ParseReportDescriptor(*bytes);
        if (!descriptor) return MakeError(path + ": " + descriptor.message());
        return MakeHidrawHandle(std::move(*fd), *descriptor, usb_, facts->usbDevice);
    }

    std::vector<HidEvent> TakeEvents() override {
        std::lock_guard lock(mutex_);
        std::vector<HidEvent> events;
        while (true) {
            const UdevDevicePtr node(udev_monitor_receive_device(monitor_.get()));
            if (!node) return events;
            // OrEmpty gives a string: a view of it would dangle past this line.
            const std::string action = OrEmpty(udev_device_get_action(node.get()));
            if (action == kActionAdd) {
                if (std::optional<HidDeviceInfo> info = Describe(node.get())) {
                    events.push_back({HidEventKind::Added, std::move(*info)});
                }
            } else if (action == kActionRemove) {
                if (std::optional<std::string> path = Forget(node.get())) {
                    HidEvent event{HidEventKind::Removed, {}};
                    event.info.path = std::move(*path);
                    events.push_back(std::move(event));
                }
            }
        }
    }

  private:
    // Requires mutex_. Remembers the path of the node so that its removal can be named
    // after its sysfs attributes are gone.
    std::optional<HidDeviceInfo> Describe(udev_device* node) {
        const Result<NodeFacts> facts = ReadNodeFacts(node);
        if (!facts) return std::nullopt;
        HidDeviceInfo info = facts->info;
        Probe(*facts, info);
        pathsByNode_[OrEmpty(udev_device_get_sysname(node))] = info.path;
        return info;
    }

    // Requires mutex_. The path a removed node had.
    std::optional<std::string> Forget(udev_device* node) {
        const std::string name = OrEmpty(udev_device_get_sysname(node));
        const auto known = pathsByNode_.find(name);
        if (known != pathsByNode_.end()) {
            std::string path = std::move(known->second);
            pathsByNode_.erase(known);
            return path;
        }
        const Result<HidNodeIds> ids = IdsFromDevpath(OrEmpty(udev_device_get_devpath(node)));
        if (!ids) return std::nullopt;
        return FormatHidrawPath(*ids, name);
    }

    std::mutex mutex_;  // guards udev_, monitor_ and pathsByNode_
    UdevPtr udev_;
    UdevMonitorPtr monitor_;
    const int monitorFd_;  // owned by monitor_; fixed for its lifetime
    std::map<std::string, std::string> pathsByNode_;
    std::shared_ptr<UsbSession> usb_ = std::make_shared<UsbSession>();
};

}  // namespace

Result<std::unique_ptr<HidBackend>> MakeLinuxBackend() {
    UdevPtr udev(udev_new());
    if (!udev) return MakeError("cannot start udev: " + SystemMessage(errno));
    UdevMonitorPtr monitor(udev_monitor_new_from_netlink(udev.get(), MonitorSource()));
    if (!monitor ||
        udev_monitor_filter_add_match_subsystem_devtype(monitor.get(), kHidrawSubsystem, nullptr) <
            0 ||
        udev_monitor_enable_receiving(monitor.get()) < 0) {
        return MakeError("cannot watch for hidraw devices through udev: " + SystemMessage(errno));
    }
    // Events are collected without blocking; callers wait on the descriptor itself.
    const int monitorFd = udev_monitor_get_fd(monitor.get());
    const int flags = ::fcntl(monitorFd, F_GETFL);
    if (flags < 0 || ::fcntl(monitorFd, F_SETFL, flags | O_NONBLOCK) < 0) {
        return MakeError("cannot watch for hidraw devices: " + SystemMessage(errno));
    }
    return std::unique_ptr<HidBackend>(
        std::make_unique<LinuxHidBackend>(std::move(udev), std::move(monitor)));
}

}  // namespace qvm
