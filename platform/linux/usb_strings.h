// USB string descriptors read with libusb from the USB device a hidraw node belongs to.
// The vendor's indexed strings carry binary data, so they are returned as raw bytes.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "platform/linux/hid_path.h"

struct libusb_context;

namespace qvm {

// The payload of a string descriptor as received: the bytes after the two-byte header
// (bLength, bDescriptorType), up to bLength or to what arrived, whichever is shorter.
// nullopt when the bytes are not a string descriptor.
std::optional<std::vector<uint8_t>> StringDescriptorPayload(std::span<const uint8_t> received);

// The first language ID of a language table (the payload of string descriptor 0).
std::optional<uint16_t> FirstLanguage(std::span<const uint8_t> languageTable);

// One libusb context, set up on first use and shared by every handle of a backend.
// Thread-safe.
class UsbSession {
  public:
    UsbSession() = default;
    ~UsbSession();
    UsbSession(const UsbSession&) = delete;
    UsbSession& operator=(const UsbSession&) = delete;

    // String `index` of the device at `location`, in US English or else the device's first
    // language. nullopt when the device cannot be opened or has no such string.
    std::optional<std::vector<uint8_t>> ReadString(UsbLocation location, uint8_t index);

  private:
    libusb_context* Context();

    std::mutex mutex_;  // guards context_ and initTried_
    libusb_context* context_ = nullptr;
    bool initTried_ = false;
};

}  // namespace qvm
