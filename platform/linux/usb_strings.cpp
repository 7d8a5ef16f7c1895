#include "platform/linux/usb_strings.h"

#include <libusb.h>

#include <algorithm>
#include <array>
#include <memory>

namespace qvm {
namespace {

constexpr size_t kHeaderSize = 2;
constexpr size_t kLengthOffset = 0;
constexpr size_t kTypeOffset = 1;
constexpr uint8_t kStringDescriptorType = 0x03;
constexpr size_t kMaxDescriptorSize = 255;
constexpr uint8_t kLanguageTableIndex = 0;
constexpr uint16_t kUsEnglish = 0x0409;

struct UsbClose {
    void operator()(libusb_device_handle* handle) const { libusb_close(handle); }
};
using UsbHandlePtr = std::unique_ptr<libusb_device_handle, UsbClose>;

// The device list of a context; the devices stay referenced until the list goes.
class UsbDeviceList {
  public:
    explicit UsbDeviceList(libusb_context* context)
        : count_(libusb_get_device_list(context, &list_)) {}
    ~UsbDeviceList() {
        if (list_) libusb_free_device_list(list_, 1);
    }
    UsbDeviceList(const UsbDeviceList&) = delete;
    UsbDeviceList& operator=(const UsbDeviceList&) = delete;

    std::span<libusb_device* const> Devices() const {
        return count_ > 0 ? std::span(list_, static_cast<size_t>(count_))
                          : std::span<libusb_device* const>();
    }

  private:
    libusb_device** list_ = nullptr;
    ssize_t count_ = 0;
};

UsbHandlePtr OpenAt(libusb_context* context, UsbLocation location) {
    const UsbDeviceList list(context);
    for (libusb_device* device : list.Devices()) {
        if (libusb_get_bus_number(device) != location.bus ||
            libusb_get_device_address(device) != location.address) {
            continue;
        }
        libusb_device_handle* handle = nullptr;
        if (libusb_open(device, &handle) != 0) return nullptr;
        return UsbHandlePtr(handle);
    }
    return nullptr;
}

std::optional<std::vector<uint8_t>> ReadPayload(libusb_device_handle* handle, uint8_t index,
                                                uint16_t language) {
    std::array<uint8_t, kMaxDescriptorSize> buffer{};
    const int received = libusb_get_string_descriptor(handle, index, language, buffer.data(),
                                                      static_cast<int>(buffer.size()));
    if (received < 0) return std::nullopt;
    return StringDescriptorPayload(std::span(buffer.data(), static_cast<size_t>(received)));
}

}  // namespace

std::optional<std::vector<uint8_t>> StringDescriptorPayload(std::span<const uint8_t> received) {
    if (received.size() < kHeaderSize || received[kTypeOffset] != kStringDescriptorType ||
        received[kLengthOffset] < kHeaderSize) {
        return std::nullopt;
    }
    const size_t end = std::min<size_t>(received[kLengthOffset], received.size());
    return std::vector<uint8_t>(received.begin() + kHeaderSize, received.begin() + end);
}

std::optional<uint16_t> FirstLanguage(std::span<const uint8_t> languageTable) {
    if (languageTable.size() < sizeof(uint16_t)) return std::nullopt;
    return static_cast<uint16_t>(languageTable[0] | languageTable[1] << 8);
}

UsbSession::~UsbSession() {
    if (context_) libusb_exit(context_);
}

libusb_context* UsbSession::Context() {
    std::lock_guard lock(mutex_);
    if (!initTried_) {
        initTried_ = true;
        if (libusb_init(&context_) != 0) context_ = nullptr;
    }
    return context_;
}

std::optional<std::vector<uint8_t>> UsbSession::ReadString(UsbLocation location, uint8_t index) {
    libusb_context* context = Context();
    if (!context) return std::nullopt;
    const UsbHandlePtr handle = OpenAt(context, location);
    if (!handle) return std::nullopt;
    if (auto payload = ReadPayload(handle.get(), index, kUsEnglish)) return payload;
    // Not every device offers US English: fall back to the first language it lists.
    const auto table = ReadPayload(handle.get(), kLanguageTableIndex, 0);
    const std::optional<uint16_t> language =
        table ? FirstLanguage(*table) : std::optional<uint16_t>();
    if (!language || *language == kUsEnglish) return std::nullopt;
    return ReadPayload(handle.get(), index, *language);
}

}  // namespace qvm
