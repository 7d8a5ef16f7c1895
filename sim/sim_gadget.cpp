#include "sim/sim_gadget.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/usb/ch9.h>
#include <linux/usb/gadgetfs.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <optional>
#include <stop_token>
#include <system_error>
#include <thread>

#include "base/unique_fd.h"
#include "sim/sim_descriptors.h"

namespace qvm {

namespace {

// The interrupt IN endpoints of the dummy controller, one per interface, and the
// addresses the configuration gives them (their numbers).
constexpr std::array<const char*, 3> kEndpointFiles = {"ep5in-int", "ep10in-int", "ep15in-int"};
constexpr std::array<uint8_t, 3> kEndpointAddresses = {0x85, 0x8A, 0x8F};

constexpr uint8_t kStringManufacturer = 1;
constexpr uint8_t kStringProduct = 2;
constexpr uint8_t kStringSerial = 3;
constexpr uint16_t kLanguageUsEnglish = 0x0409;
constexpr const char* kManufacturer = "QVM";
constexpr uint8_t kConfigurationValue = 1;
constexpr uint8_t kMaxPowerTwoMa = 50;
constexpr uint16_t kEndpointPacket = 64;
constexpr uint8_t kFullSpeedInterval = 1;  // frames of 1 ms
constexpr uint8_t kHighSpeedInterval = 4;  // 2^(4-1) microframes: 1 ms
constexpr uint8_t kClassHid = 3;
constexpr uint8_t kDescriptorHid = 0x21;
constexpr uint8_t kDescriptorReport = 0x22;
constexpr uint8_t kHidGetReport = 0x01;
constexpr uint8_t kHidSetReport = 0x09;
constexpr uint8_t kHidSetIdle = 0x0A;
constexpr uint8_t kHidSetProtocol = 0x0B;
constexpr uint8_t kReportOutput = 2;
constexpr uint8_t kReportFeature = 3;
constexpr uint8_t kRequestClassInterfaceIn = 0xA1;
constexpr uint8_t kRequestClassInterfaceOut = 0x21;
constexpr uint8_t kRequestStandardInterfaceIn = 0x81;
constexpr int kInputWaitMs = 250;
constexpr int kServePriority = 50;

std::string SystemMessage(int error) {
    return std::system_category().message(error);
}

void Put16(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value & 0xFF));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

// Boot subclass and protocol of an interface, by its top-level usage.
std::pair<uint8_t, uint8_t> BootClass(const HidCaps& caps) {
    if (caps.usagePage == 0x0001 && caps.usage == 6) return {1, 1};  // keyboard
    if (caps.usagePage == 0x0001 && caps.usage == 2) return {1, 2};  // mouse
    return {0, 0};
}

std::vector<uint8_t> EndpointDescriptor(size_t index, bool highSpeed) {
    std::vector<uint8_t> out = {USB_DT_ENDPOINT_SIZE, USB_DT_ENDPOINT, kEndpointAddresses[index],
                                USB_ENDPOINT_XFER_INT};
    Put16(out, kEndpointPacket);
    out.push_back(highSpeed ? kHighSpeedInterval : kFullSpeedInterval);
    return out;
}

// A string descriptor from UTF-8 text holding ASCII only (the simulator's names).
std::vector<uint8_t> TextDescriptor(const std::string& text) {
    std::vector<uint8_t> out = {static_cast<uint8_t>(2 + 2 * text.size()), USB_DT_STRING};
    for (char c : text) Put16(out, static_cast<uint8_t>(c));
    return out;
}

size_t Write(int fd, const void* data, size_t size) {
    while (true) {
        const ssize_t done = ::write(fd, data, size);
        if (done < 0 && errno == EINTR) continue;
        return done < 0 ? 0 : static_cast<size_t>(done);
    }
}

}  // namespace

uint8_t GadgetEndpointAddress(size_t interfaceIndex) {
    return kEndpointAddresses.at(interfaceIndex);
}

std::vector<uint8_t> GadgetDeviceDescriptor(const SimDevice& device) {
    const SimDeviceConfig& config = device.Config();
    std::vector<uint8_t> out = {USB_DT_DEVICE_SIZE, USB_DT_DEVICE};
    Put16(out, 0x0200);
    out.insert(out.end(), {0, 0, 0, static_cast<uint8_t>(kEndpointPacket)});
    Put16(out, kSimVendorId);
    Put16(out, config.productId);
    Put16(out, static_cast<uint16_t>(config.firmware & 0xFFFF));
    out.push_back(kStringManufacturer);
    out.push_back(kStringProduct);
    out.push_back(config.Serial().empty() ? 0 : kStringSerial);
    out.push_back(1);  // configurations
    return out;
}

std::vector<uint8_t> GadgetConfigDescriptor(const SimDevice& device, bool highSpeed) {
    const std::vector<HidDeviceInfo>& interfaces = device.Interfaces();
    std::vector<uint8_t> out = {USB_DT_CONFIG_SIZE,
                                USB_DT_CONFIG,
                                0,
                                0,
                                static_cast<uint8_t>(interfaces.size()),
                                kConfigurationValue,
                                0,
                                USB_CONFIG_ATT_ONE,
                                kMaxPowerTwoMa};
    for (size_t i = 0; i < interfaces.size(); ++i) {
        const HidDeviceInfo& info = interfaces[i];
        const auto [subclass, protocol] = BootClass(info.caps);
        out.insert(out.end(), {USB_DT_INTERFACE_SIZE, USB_DT_INTERFACE,
                               static_cast<uint8_t>(info.interfaceNumber), 0, 1, kClassHid,
                               subclass, protocol, 0});
        const std::optional<SimReportDescriptor> report = SimDescriptorFor(info.caps);
        out.insert(out.end(), {9, kDescriptorHid, 0x11, 0x01, 0, 1, kDescriptorReport});
        Put16(out, static_cast<uint16_t>(report ? report->bytes.size() : 0));
        const std::vector<uint8_t> endpoint = EndpointDescriptor(i, highSpeed);
        out.insert(out.end(), endpoint.begin(), endpoint.end());
    }
    out[2] = static_cast<uint8_t>(out.size() & 0xFF);
    out[3] = static_cast<uint8_t>(out.size() >> 8);
    return out;
}

class SimGadget {
  public:
    SimGadget(SimDevice& device, std::string folder, uint64_t epoch, UniqueFd control,
              UniqueFd wake)
        : device_(device),
          folder_(std::move(folder)),
          epoch_(epoch),
          control_(std::move(control)),
          wake_(std::move(wake)) {
        serve_ = std::jthread([this](std::stop_token stop) { Serve(stop); });
    }

    ~SimGadget() {
        serve_.request_stop();
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t ignored = ::write(wake_.get(), &one, sizeof one);
        if (serve_.joinable()) serve_.join();
        for (std::jthread& pump : pumps_) pump.request_stop();
        // Closing the control file disconnects the device: the endpoints go, and a
        // pump waiting for the host to take a report returns.
        control_.reset();
        for (std::jthread& pump : pumps_) {
            if (pump.joinable()) pump.join();
        }
    }

  private:
    void Serve(const std::stop_token& stop) {
        RaisePriority();
        std::array<usb_gadgetfs_event, 8> events{};
        while (!stop.stop_requested()) {
            pollfd fds[2] = {{control_.get(), POLLIN | POLLOUT, 0}, {wake_.get(), POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if (fds[1].revents != 0) return;
            if ((fds[0].revents & POLLIN) == 0) {
                // A request arrived before the previous one was collected (the host gave
                // up on it): gadgetfs waits for an answer to a request whose event it
                // still holds. Stalling it lets the event through; the host retries.
                uint8_t none = 0;
                [[maybe_unused]] const ssize_t r = ::read(control_.get(), &none, 0);
                continue;
            }
            const ssize_t got = ::read(control_.get(), events.data(), sizeof events);
            if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (got <= 0) return;
            const size_t count = static_cast<size_t>(got) / sizeof(usb_gadgetfs_event);
            for (size_t i = 0; i < count; ++i) {
                if (events[i].type == GADGETFS_SETUP) Setup(events[i].u.setup);
            }
        }
    }

    // The host completes a request that carries data to the device without waiting for
    // this program, and the next request replaces it in gadgetfs if it was not collected
    // by then: the thread that collects them runs ahead of every ordinary process.
    void RaisePriority() {
        sched_param param{};
        param.sched_priority = kServePriority;
        if (::pthread_setschedparam(::pthread_self(), SCHED_FIFO, &param) != 0) {
            std::fprintf(stderr,
                         "qvm-uhid: no real-time priority for the control pipe: under load, "
                         "feature reports the host sends may be lost\n");
        }
    }

    void Reply(const std::vector<uint8_t>& bytes, uint16_t length) {
        Write(control_.get(), bytes.data(), std::min<size_t>(bytes.size(), length));
    }
    // Status stage of a request without data.
    void Acknowledge() { [[maybe_unused]] const ssize_t r = ::read(control_.get(), nullptr, 0); }
    // A request the device does not support: the control pipe stalls.
    void Stall(bool in) {
        uint8_t none = 0;
        if (in) {
            [[maybe_unused]] const ssize_t r = ::read(control_.get(), &none, 0);
        } else {
            [[maybe_unused]] const ssize_t w = ::write(control_.get(), &none, 0);
        }
    }

    const HidDeviceInfo* InterfaceAt(uint16_t number, size_t* index = nullptr) const {
        const std::vector<HidDeviceInfo>& all = device_.Interfaces();
        for (size_t i = 0; i < all.size(); ++i) {
            if (all[i].interfaceNumber != number) continue;
            if (index) *index = i;
            return &all[i];
        }
        return nullptr;
    }

    std::optional<std::vector<uint8_t>> StringDescriptor(uint8_t index) const {
        const SimDeviceConfig& config = device_.Config();
        if (index == 0) {
            std::vector<uint8_t> languages = {4, USB_DT_STRING};
            Put16(languages, kLanguageUsEnglish);
            return languages;
        }
        if (index == kStringManufacturer) return TextDescriptor(kManufacturer);
        if (index == kStringProduct) return TextDescriptor(config.product);
        if (index == kStringSerial && !config.Serial().empty()) {
            return TextDescriptor(config.Serial());
        }
        // The identification strings: their bytes as the firmware keeps them.
        std::optional<std::vector<uint8_t>> raw = device_.IndexedString(epoch_, index);
        if (!raw || raw->size() > 253) return std::nullopt;
        std::vector<uint8_t> out = {static_cast<uint8_t>(2 + raw->size()), USB_DT_STRING};
        out.insert(out.end(), raw->begin(), raw->end());
        return out;
    }

    void Setup(const usb_ctrlrequest& request) {
        const uint16_t value = request.wValue;
        const uint16_t index = request.wIndex;
        const uint16_t length = request.wLength;
        const bool in = (request.bRequestType & USB_DIR_IN) != 0;
        const uint8_t high = static_cast<uint8_t>(value >> 8);
        const uint8_t low = static_cast<uint8_t>(value & 0xFF);

        if (request.bRequestType == USB_DIR_IN && request.bRequest == USB_REQ_GET_DESCRIPTOR &&
            high == USB_DT_STRING) {
            const auto text = StringDescriptor(low);
            return text ? Reply(*text, length) : Stall(true);
        }
        if (request.bRequestType == kRequestStandardInterfaceIn &&
            request.bRequest == USB_REQ_GET_DESCRIPTOR && high == kDescriptorReport) {
            const HidDeviceInfo* info = InterfaceAt(index);
            const auto report = info ? SimDescriptorFor(info->caps) : std::nullopt;
            if (!report) return Stall(true);
            return Reply({report->bytes.begin(), report->bytes.end()}, length);
        }
        if (request.bRequestType == USB_RECIP_DEVICE &&
            request.bRequest == USB_REQ_SET_CONFIGURATION) {
            if (low == kConfigurationValue) StartEndpoints();
            return Acknowledge();
        }
        if (request.bRequestType == kRequestClassInterfaceOut &&
            (request.bRequest == kHidSetIdle || request.bRequest == kHidSetProtocol ||
             request.bRequest == USB_REQ_SET_INTERFACE)) {
            return Acknowledge();
        }
        if (request.bRequestType == kRequestClassInterfaceOut &&
            request.bRequest == kHidSetReport) {
            return SetReport(index, high, low, length);
        }
        if (request.bRequestType == kRequestClassInterfaceIn && request.bRequest == kHidGetReport) {
            return GetReport(index, high, low, length);
        }
        if (!in && length == 0) return Acknowledge();
        Stall(in);
    }

    // Without report IDs the ID byte does not travel; the firmware always sees it.
    void SetReport(uint16_t interface, uint8_t type, uint8_t id, uint16_t length) {
        std::vector<uint8_t> frame(length + (id == 0 ? 1 : 0), 0);
        uint8_t* data = frame.data() + (id == 0 ? 1 : 0);
        size_t got = 0;
        while (got < length) {
            const ssize_t r = ::read(control_.get(), data + got, length - got);
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) return;
            got += static_cast<size_t>(r);
        }
        const HidDeviceInfo* info = InterfaceAt(interface);
        if (!info) return;
        if (type == kReportFeature) device_.SetFeature(info->interfaceNumber, epoch_, frame);
        if (type == kReportOutput) device_.Write(info->interfaceNumber, epoch_, frame);
    }

    void GetReport(uint16_t interface, uint8_t type, uint8_t id, uint16_t length) {
        const HidDeviceInfo* info = InterfaceAt(interface);
        if (!info || type != kReportFeature || info->caps.featureLength <= 0) return Stall(true);
        std::vector<uint8_t> buffer(static_cast<size_t>(info->caps.featureLength), 0);
        buffer[0] = id;
        if (!device_.GetFeature(info->interfaceNumber, epoch_, buffer)) return Stall(true);
        if (id == 0) buffer.erase(buffer.begin());
        Reply(buffer, length);
    }

    // On the host's configuration: the interrupt endpoints, and a pump for each interface
    // that sends input reports.
    void StartEndpoints() {
        if (!pumps_.empty()) return;
        const std::vector<HidDeviceInfo>& interfaces = device_.Interfaces();
        for (size_t i = 0; i < interfaces.size() && i < kEndpointFiles.size(); ++i) {
            const std::string file = folder_ + "/" + kEndpointFiles[i];
            UniqueFd endpoint(::open(file.c_str(), O_RDWR | O_CLOEXEC));
            if (!endpoint) {
                std::fprintf(stderr, "qvm-uhid: cannot open %s: %s\n", file.c_str(),
                             SystemMessage(errno).c_str());
                continue;
            }
            std::vector<uint8_t> setup = {1, 0, 0, 0};  // tag of an endpoint configuration
            for (bool high : {false, true}) {
                const std::vector<uint8_t> d = EndpointDescriptor(i, high);
                setup.insert(setup.end(), d.begin(), d.end());
            }
            if (Write(endpoint.get(), setup.data(), setup.size()) != setup.size()) {
                std::fprintf(stderr, "qvm-uhid: cannot configure %s: %s\n", file.c_str(),
                             SystemMessage(errno).c_str());
                continue;
            }
            if (interfaces[i].caps.inputLength <= 0) {
                idle_.push_back(std::move(endpoint));
                continue;
            }
            const int number = interfaces[i].interfaceNumber;
            const size_t length = static_cast<size_t>(interfaces[i].caps.inputLength);
            const bool withId =
                SimDescriptorFor(interfaces[i].caps).value_or(SimReportDescriptor{}).reportId != 0;
            pumps_.emplace_back(
                [this, number, length, withId,
                 fd = std::make_shared<UniqueFd>(std::move(endpoint))](std::stop_token stop) {
                    Pump(stop, number, length, withId, fd->get());
                });
        }
    }

    void Pump(const std::stop_token& stop, int number, size_t length, bool withId, int endpoint) {
        std::vector<uint8_t> report(length);
        while (!stop.stop_requested()) {
            const int got = device_.Read(number, epoch_, report, kInputWaitMs);
            if (got < 0) return;
            const size_t skip = withId ? 0 : 1;
            if (static_cast<size_t>(got) <= skip) continue;
            const size_t size = static_cast<size_t>(got) - skip;
            if (Write(endpoint, report.data() + skip, size) != size) return;
        }
    }

    SimDevice& device_;
    const std::string folder_;
    const uint64_t epoch_;
    UniqueFd control_;
    UniqueFd wake_;
    std::vector<UniqueFd> idle_;       // configured endpoints without reports; serving thread
    std::vector<std::jthread> pumps_;  // started by the serving thread, joined at the end
    std::jthread serve_;
};

Result<std::unique_ptr<SimGadgetDevice>> SimGadgetDevice::Create(SimDevice& device,
                                                                 const std::string& gadgetFolder) {
    const std::optional<uint64_t> epoch = device.OpenEpoch();
    if (!epoch) return MakeError(ErrorKind::DeviceGone, "the simulated device is not attached");
    if (device.Interfaces().size() > kEndpointFiles.size()) {
        return MakeError("the device has more interfaces than the controller has endpoints");
    }
    // The controller's file is the one entry that is not an endpoint.
    std::string controller;
    if (DIR* dir = ::opendir(gadgetFolder.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != ".." && name.rfind("ep", 0) != 0) controller = name;
        }
        ::closedir(dir);
    }
    if (controller.empty()) {
        return MakeError(ErrorKind::Io, "no USB device controller in " + gadgetFolder +
                                            " (is gadgetfs mounted there?)");
    }
    const std::string path = gadgetFolder + "/" + controller;
    UniqueFd control(::open(path.c_str(), O_RDWR | O_CLOEXEC));
    if (!control) {
        return MakeError(ErrorKind::Io, "cannot open " + path + ": " + SystemMessage(errno));
    }
    std::vector<uint8_t> setup = {0, 0, 0, 0};  // tag of the device configuration
    for (bool high : {false, true}) {
        const std::vector<uint8_t> config = GadgetConfigDescriptor(device, high);
        setup.insert(setup.end(), config.begin(), config.end());
    }
    const std::vector<uint8_t> descriptor = GadgetDeviceDescriptor(device);
    setup.insert(setup.end(), descriptor.begin(), descriptor.end());
    if (Write(control.get(), setup.data(), setup.size()) != setup.size()) {
        return MakeError(ErrorKind::Io, "cannot set up the USB device: " + SystemMessage(errno));
    }
    UniqueFd wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!wake) return MakeError(ErrorKind::Io, "eventfd: " + SystemMessage(errno));
    return std::make_unique<SimGadgetDevice>(std::make_unique<SimGadget>(
        device, gadgetFolder, *epoch, std::move(control), std::move(wake)));
}

SimGadgetDevice::SimGadgetDevice(std::unique_ptr<SimGadget> gadget) : gadget_(std::move(gadget)) {}

SimGadgetDevice::~SimGadgetDevice() = default;

}  // namespace qvm
