#include "sim/sim_uhid.h"

#include <fcntl.h>
#include <linux/input.h>
#include <linux/uhid.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stop_token>
#include <string>
#include <system_error>
#include <thread>

#include "base/unique_fd.h"
#include "sim/sim_descriptors.h"

namespace qvm {

namespace {

constexpr const char* kUhidNode = "/dev/uhid";
// How long the forwarding thread waits for a report before it looks at its stop request.
constexpr int kInputWaitMs = 250;
constexpr uint32_t kDeviceVersion = 0x0100;

std::string SystemMessage(int error) {
    return std::system_category().message(error);
}

template <size_t N>
void CopyText(uint8_t (&field)[N], const std::string& text) {
    const size_t length = std::min(text.size(), N - 1);
    std::memcpy(field, text.data(), length);
    field[length] = 0;
}

// Writes one whole event; uhid takes an event per write or none of it.
bool SendEvent(int fd, const uhid_event& event) {
    while (true) {
        const ssize_t written = ::write(fd, &event, sizeof event);
        if (written == static_cast<ssize_t>(sizeof event)) return true;
        if (written < 0 && errno == EINTR) continue;
        return false;
    }
}

}  // namespace

class SimUhidInterface {
  public:
    SimUhidInterface(SimDevice& device, const HidDeviceInfo& info, SimReportDescriptor descriptor,
                     uint64_t epoch, UniqueFd uhid, UniqueFd wake)
        : device_(device),
          number_(info.interfaceNumber),
          caps_(info.caps),
          reportId_(descriptor.reportId),
          epoch_(epoch),
          uhid_(std::move(uhid)),
          wake_(std::move(wake)) {
        serve_ = std::jthread([this](std::stop_token stop) { Serve(stop); });
        if (caps_.inputLength > 0) {
            pump_ = std::jthread([this](std::stop_token stop) { Pump(stop); });
        }
    }

    ~SimUhidInterface() {
        // The threads stop and are joined before the descriptors close; closing /dev/uhid
        // then removes the kernel device.
        pump_.request_stop();
        serve_.request_stop();
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t ignored = ::write(wake_.get(), &one, sizeof one);
        if (pump_.joinable()) pump_.join();
        if (serve_.joinable()) serve_.join();
    }

  private:
    // Answers the kernel's requests until the stop request.
    void Serve(const std::stop_token& stop) {
        auto event = std::make_unique<uhid_event>();
        while (!stop.stop_requested()) {
            pollfd fds[2] = {{uhid_.get(), POLLIN, 0}, {wake_.get(), POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR) continue;
                std::fprintf(stderr, "qvm-uhid: %s\n", SystemMessage(errno).c_str());
                return;
            }
            if (fds[1].revents != 0) return;
            const ssize_t got = ::read(uhid_.get(), event.get(), sizeof *event);
            if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (got <= 0) return;
            Answer(*event);
        }
    }

    void Answer(const uhid_event& request) {
        auto reply = std::make_unique<uhid_event>();
        switch (request.type) {
            case UHID_GET_REPORT: {
                const uhid_get_report_req& get = request.u.get_report;
                reply->type = UHID_GET_REPORT_REPLY;
                uhid_get_report_reply_req& answer = reply->u.get_report_reply;
                answer.id = get.id;
                answer.err = EIO;
                if (get.rtype == UHID_FEATURE_REPORT && caps_.featureLength > 0) {
                    // Byte 0 is the report ID even where the descriptor declares none:
                    // hidraw hands the host the buffer as it is.
                    std::span<uint8_t> buffer(answer.data,
                                              static_cast<size_t>(caps_.featureLength));
                    buffer[0] = get.rnum;
                    if (device_.GetFeature(number_, epoch_, buffer)) {
                        answer.err = 0;
                        answer.size = static_cast<uint16_t>(buffer.size());
                    }
                }
                SendEvent(uhid_.get(), *reply);
                return;
            }
            case UHID_SET_REPORT: {
                const uhid_set_report_req& set = request.u.set_report;
                reply->type = UHID_SET_REPORT_REPLY;
                reply->u.set_report_reply.id = set.id;
                const size_t size = std::min<size_t>(set.size, UHID_DATA_MAX);
                const bool ok = set.rtype == UHID_FEATURE_REPORT &&
                                device_.SetFeature(number_, epoch_, {set.data, size});
                reply->u.set_report_reply.err = ok ? 0 : EIO;
                SendEvent(uhid_.get(), *reply);
                return;
            }
            case UHID_OUTPUT: {
                // Output reports have no answer; the keyboards reply with input reports.
                const uhid_output_req& output = request.u.output;
                const size_t size = std::min<size_t>(output.size, UHID_DATA_MAX);
                device_.Write(number_, epoch_, {output.data, size});
                return;
            }
            default:
                return;  // start, stop, open, close: nothing to do
        }
    }

    // Forwards the firmware's input reports until the stop request or the device leaves.
    void Pump(const std::stop_token& stop) {
        std::vector<uint8_t> report(static_cast<size_t>(caps_.inputLength));
        auto event = std::make_unique<uhid_event>();
        event->type = UHID_INPUT2;
        while (!stop.stop_requested()) {
            const int got = device_.Read(number_, epoch_, report, kInputWaitMs);
            if (got < 0) return;
            if (got == 0) continue;
            // Without report IDs the ID byte does not travel on the interrupt pipe.
            const size_t skip = reportId_ == 0 ? 1 : 0;
            if (static_cast<size_t>(got) <= skip) continue;
            event->u.input2.size = static_cast<uint16_t>(got - skip);
            std::copy(report.begin() + static_cast<std::ptrdiff_t>(skip), report.begin() + got,
                      event->u.input2.data);
            if (!SendEvent(uhid_.get(), *event)) return;
        }
    }

    SimDevice& device_;
    const int number_;
    const HidCaps caps_;
    const uint8_t reportId_;
    const uint64_t epoch_;
    UniqueFd uhid_;
    UniqueFd wake_;  // eventfd: readable once the serving thread is to stop
    std::jthread serve_;
    std::jthread pump_;
};

Result<std::unique_ptr<SimUhidDevice>> SimUhidDevice::Create(SimDevice& device) {
    const std::optional<uint64_t> epoch = device.OpenEpoch();
    if (!epoch) return MakeError(ErrorKind::DeviceGone, "the simulated device is not attached");
    std::vector<std::unique_ptr<SimUhidInterface>> interfaces;
    for (const HidDeviceInfo& info : device.Interfaces()) {
        const std::optional<SimReportDescriptor> descriptor = SimDescriptorFor(info.caps);
        if (!descriptor) {
            return MakeError("no report descriptor for interface " +
                             std::to_string(info.interfaceNumber) + " of " + info.path);
        }
        UniqueFd uhid(::open(kUhidNode, O_RDWR | O_CLOEXEC));
        if (!uhid) {
            return MakeError(ErrorKind::Io,
                             std::string("cannot open ") + kUhidNode + ": " + SystemMessage(errno));
        }
        UniqueFd wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
        if (!wake) return MakeError(ErrorKind::Io, "eventfd: " + SystemMessage(errno));

        auto create = std::make_unique<uhid_event>();
        create->type = UHID_CREATE2;
        uhid_create2_req& request = create->u.create2;
        CopyText(request.name, info.product);
        CopyText(request.uniq, info.serial);
        CopyText(request.phys, "qvm-uhid-" + std::to_string(device.Index()) + "/input" +
                                   std::to_string(info.interfaceNumber));
        request.bus = BUS_VIRTUAL;
        request.vendor = info.vendorId;
        request.product = info.productId;
        request.version = kDeviceVersion;
        request.rd_size = static_cast<uint16_t>(descriptor->bytes.size());
        std::copy(descriptor->bytes.begin(), descriptor->bytes.end(), request.rd_data);
        if (!SendEvent(uhid.get(), *create)) {
            return MakeError(ErrorKind::Io, "cannot create the kernel device of " + info.path +
                                                ": " + SystemMessage(errno));
        }
        interfaces.push_back(std::make_unique<SimUhidInterface>(device, info, *descriptor, *epoch,
                                                                std::move(uhid), std::move(wake)));
    }
    return std::make_unique<SimUhidDevice>(std::move(interfaces));
}

SimUhidDevice::SimUhidDevice(std::vector<std::unique_ptr<SimUhidInterface>> interfaces)
    : interfaces_(std::move(interfaces)) {}

SimUhidDevice::~SimUhidDevice() = default;

}  // namespace qvm
