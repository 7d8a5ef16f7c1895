// Owning pointers for libudev objects and null-safe accessors. libudev objects are not
// thread-safe: whoever owns a udev context uses it and everything made from it under one lock.
#pragma once

#include <libudev.h>

#include <memory>
#include <string>

namespace qvm {

struct UdevUnref {
    void operator()(udev* p) const { udev_unref(p); }
    void operator()(udev_device* p) const { udev_device_unref(p); }
    void operator()(udev_enumerate* p) const { udev_enumerate_unref(p); }
    void operator()(udev_monitor* p) const { udev_monitor_unref(p); }
};

using UdevPtr = std::unique_ptr<udev, UdevUnref>;
using UdevDevicePtr = std::unique_ptr<udev_device, UdevUnref>;
using UdevEnumeratePtr = std::unique_ptr<udev_enumerate, UdevUnref>;
using UdevMonitorPtr = std::unique_ptr<udev_monitor, UdevUnref>;

inline std::string OrEmpty(const char* text) {
    return text ? std::string(text) : std::string();
}

// A sysfs attribute of `device`, empty when the device or the attribute is absent.
inline std::string SysattrOf(udev_device* device, const char* name) {
    return device ? OrEmpty(udev_device_get_sysattr_value(device, name)) : std::string();
}

// A udev property of `device`, empty when the device or the property is absent.
inline std::string PropertyOf(udev_device* device, const char* name) {
    return device ? OrEmpty(udev_device_get_property_value(device, name)) : std::string();
}

}  // namespace qvm
