#include "platform/linux/hid_path.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <optional>
#include <vector>

namespace qvm {
namespace {

constexpr std::string_view kPathPrefix = "hid#";
constexpr std::string_view kNodePrefix = "hidraw";
constexpr char kPathSeparator = '#';
constexpr uint32_t kMaxId = 0xFFFF;
constexpr uint32_t kMaxInterfaceNumber = 0xFF;
constexpr uint32_t kMaxBusOrAddress = 0xFF;
constexpr size_t kMaxNodeDigits = 9;
constexpr int kHex = 16;
constexpr int kDecimal = 10;

std::string_view TrimTrailingSpace(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
        text.remove_suffix(1);
    }
    return text;
}

// The whole of `text` as a number in `base` no greater than `max`.
Result<uint32_t> ParseNumber(std::string_view text, int base, uint32_t max, const char* what) {
    const std::string_view trimmed = TrimTrailingSpace(text);
    uint32_t value = 0;
    const char* end = trimmed.data() + trimmed.size();
    const auto [ptr, ec] = std::from_chars(trimmed.data(), end, value, base);
    if (trimmed.empty() || ec != std::errc() || ptr != end || value > max) {
        return MakeError(std::string("invalid ") + what + " '" + std::string(text) + "'");
    }
    return value;
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    while (true) {
        const size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::string_view::npos) return parts;
        start = end + 1;
    }
}

// "BBBB:VVVV:PPPP.NNNN", the name the HID core gives each HID device in sysfs.
Result<HidNodeIds> IdsFromHidDeviceName(std::string_view name) {
    const size_t dot = name.find('.');
    if (dot == std::string_view::npos) return MakeError("not a HID device name");
    const std::vector<std::string_view> fields = Split(name.substr(0, dot), ':');
    if (fields.size() != 3) return MakeError("not a HID device name");
    for (std::string_view field : fields) {
        if (!ParseNumber(field, kHex, kMaxId, "HID device name")) {
            return MakeError("not a HID device name");
        }
    }
    if (!ParseNumber(name.substr(dot + 1), kHex, UINT32_MAX, "HID device name")) {
        return MakeError("not a HID device name");
    }
    HidNodeIds ids;
    ids.vendorId = static_cast<uint16_t>(*ParseNumber(fields[1], kHex, kMaxId, ""));
    ids.productId = static_cast<uint16_t>(*ParseNumber(fields[2], kHex, kMaxId, ""));
    return ids;
}

// The interface number of a USB interface folder name "1-2.3:1.0" (decimal after the dot).
std::optional<int> InterfaceOfUsbInterfaceName(std::string_view name) {
    const size_t colon = name.rfind(':');
    if (colon == std::string_view::npos) return std::nullopt;
    const std::vector<std::string_view> configAndInterface = Split(name.substr(colon + 1), '.');
    if (configAndInterface.size() != 2) return std::nullopt;
    if (!ParseNumber(configAndInterface[0], kDecimal, kMaxInterfaceNumber, "")) {
        return std::nullopt;
    }
    const Result<uint32_t> number =
        ParseNumber(configAndInterface[1], kDecimal, kMaxInterfaceNumber, "");
    if (!number) return std::nullopt;
    return static_cast<int>(*number);
}

}  // namespace

std::string ToLowerAscii(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

Result<HidNodeIds> IdsFromUsbAttributes(std::string_view idVendor, std::string_view idProduct,
                                        std::string_view interfaceNumber) {
    const Result<uint32_t> vendor = ParseNumber(idVendor, kHex, kMaxId, "idVendor");
    if (!vendor) return vendor.error();
    const Result<uint32_t> product = ParseNumber(idProduct, kHex, kMaxId, "idProduct");
    if (!product) return product.error();
    const Result<uint32_t> interface =
        ParseNumber(interfaceNumber, kHex, kMaxInterfaceNumber, "bInterfaceNumber");
    if (!interface) return interface.error();
    return HidNodeIds{static_cast<uint16_t>(*vendor), static_cast<uint16_t>(*product),
                      static_cast<int>(*interface)};
}

Result<HidNodeIds> IdsFromHidId(std::string_view hidId) {
    const std::vector<std::string_view> fields = Split(TrimTrailingSpace(hidId), ':');
    if (fields.size() != 3) return MakeError("invalid HID_ID '" + std::string(hidId) + "'");
    HidNodeIds ids;
    for (size_t i = 0; i < fields.size(); ++i) {
        const Result<uint32_t> value = ParseNumber(fields[i], kHex, kMaxId, "HID_ID");
        if (!value) return value.error();
        if (i == 1) ids.vendorId = static_cast<uint16_t>(*value);
        if (i == 2) ids.productId = static_cast<uint16_t>(*value);
    }
    return ids;
}

namespace {

constexpr std::string_view kPhysInterface = "/input";

// Where the "/inputN" ending of a physical path starts; npos when it has none.
size_t PhysInterfaceStart(std::string_view phys) {
    const size_t at = phys.rfind(kPhysInterface);
    if (at == std::string_view::npos) return at;
    if (!ParseNumber(phys.substr(at + kPhysInterface.size()), kDecimal, kMaxInterfaceNumber, "")) {
        return std::string_view::npos;
    }
    return at;
}

}  // namespace

std::optional<int> InterfaceOfPhys(std::string_view phys) {
    const size_t at = PhysInterfaceStart(phys);
    if (at == std::string_view::npos) return std::nullopt;
    return static_cast<int>(
        *ParseNumber(phys.substr(at + kPhysInterface.size()), kDecimal, kMaxInterfaceNumber, ""));
}

std::string ContainerOfNonUsb(std::string_view parentSyspath, std::string_view phys,
                              std::string_view uniq) {
    const std::string_view device = phys.substr(0, PhysInterfaceStart(phys));
    std::string container(parentSyspath);
    if (!device.empty()) container += "#" + std::string(device);
    if (!uniq.empty()) container += "#" + std::string(uniq);
    return container;
}

Result<HidNodeIds> IdsFromDevpath(std::string_view devpath) {
    const std::vector<std::string_view> parts = Split(devpath, '/');
    for (size_t i = parts.size(); i-- > 0;) {
        Result<HidNodeIds> ids = IdsFromHidDeviceName(parts[i]);
        if (!ids) continue;
        if (i > 0) {
            if (const std::optional<int> interface = InterfaceOfUsbInterfaceName(parts[i - 1])) {
                ids->interfaceNumber = *interface;
            }
        }
        return ids;
    }
    return MakeError("no HID device in sysfs path '" + std::string(devpath) + "'");
}

Result<UsbLocation> UsbLocationFromAttributes(std::string_view busnum, std::string_view devnum) {
    const Result<uint32_t> bus = ParseNumber(busnum, kDecimal, kMaxBusOrAddress, "busnum");
    if (!bus) return bus.error();
    const Result<uint32_t> address = ParseNumber(devnum, kDecimal, kMaxBusOrAddress, "devnum");
    if (!address) return address.error();
    return UsbLocation{static_cast<uint8_t>(*bus), static_cast<uint8_t>(*address)};
}

std::string FormatHidrawPath(const HidNodeIds& ids, std::string_view nodeName) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "hid#vid_%04x&pid_%04x&mi_%02x#", ids.vendorId,
                  ids.productId, static_cast<unsigned>(ids.interfaceNumber) & kMaxInterfaceNumber);
    return buffer + ToLowerAscii(nodeName);
}

Result<std::string> HidrawNodeOfPath(std::string_view path) {
    const std::string lower = ToLowerAscii(path);
    const size_t separator = lower.rfind(kPathSeparator);
    const auto notOurs = [&] { return MakeError("not a hidraw device path: '" + lower + "'"); };
    if (lower.rfind(kPathPrefix, 0) != 0 || separator == std::string::npos) return notOurs();
    const std::string node = lower.substr(separator + 1);
    const std::string_view digits = std::string_view(node).substr(
        node.rfind(kNodePrefix, 0) == 0 ? kNodePrefix.size() : node.size());
    if (digits.empty() || digits.size() > kMaxNodeDigits ||
        !std::all_of(digits.begin(), digits.end(),
                     [](unsigned char c) { return std::isdigit(c) != 0; })) {
        return notOurs();
    }
    return node;
}

}  // namespace qvm
