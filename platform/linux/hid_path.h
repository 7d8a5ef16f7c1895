// Device paths of hidraw nodes, built from the identifiers that sysfs and udev report.
// Pure text handling, so that the rules can be checked without devices.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/result.h"

namespace qvm {

struct HidNodeIds {
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    int interfaceNumber = 0;

    bool operator==(const HidNodeIds&) const = default;
};

// Bus number and address of a USB device, as sysfs gives them in busnum and devnum.
struct UsbLocation {
    uint8_t bus = 0;
    uint8_t address = 0;

    bool operator==(const UsbLocation&) const = default;
};

// From the sysfs attributes idVendor and idProduct of the USB device and bInterfaceNumber
// of its interface, all hexadecimal ("0c45", "7040", "01"); a trailing newline is allowed.
Result<HidNodeIds> IdsFromUsbAttributes(std::string_view idVendor, std::string_view idProduct,
                                        std::string_view interfaceNumber);

// From the HID_ID property of a HID device that is not on USB ("0005:00000C45:00007040":
// bus, vendor, product in hexadecimal). Such a device has a single interface, number 0.
Result<HidNodeIds> IdsFromHidId(std::string_view hidId);

// The interface number in the physical path of a HID device not on USB, which the HID
// core and uhid devices name as USB interfaces are named ("usb-0000:00:14.0-2/input1",
// "qvm-uhid-0/input2"): the decimal number after the last "/input". nullopt when the
// path names no interface (Bluetooth gives the adapter's address).
std::optional<int> InterfaceOfPhys(std::string_view phys);

// The identity of the physical device a HID device not on USB belongs to. The device it
// hangs off is not enough: every uhid device (Bluetooth LE devices among them) hangs off
// the uhid node. The physical path without its interface part and the unique ID tell
// them apart, and are the same for the interfaces of one device.
std::string ContainerOfNonUsb(std::string_view parentSyspath, std::string_view phys,
                              std::string_view uniq);

// From the sysfs path of a hidraw node alone, for a node that has already left and whose
// attributes can no longer be read: the HID device folder names bus, vendor and product
// ("0003:0C45:7040.0005") and a USB interface folder before it ("1-2:1.1") the interface.
Result<HidNodeIds> IdsFromDevpath(std::string_view devpath);

// From the sysfs attributes busnum and devnum (decimal) of the USB device.
Result<UsbLocation> UsbLocationFromAttributes(std::string_view busnum, std::string_view devnum);

// "hid#vid_0c45&pid_7040&mi_01#hidraw3": lower case throughout.
std::string FormatHidrawPath(const HidNodeIds& ids, std::string_view nodeName);

// The node name a device path ends in ("hidraw3"); an error when the path is not one of
// this backend's paths.
Result<std::string> HidrawNodeOfPath(std::string_view path);

std::string ToLowerAscii(std::string_view text);

}  // namespace qvm
