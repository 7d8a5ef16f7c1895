#include "platform/linux/hidraw_handle.h"

#include <errno.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>

namespace qvm {
namespace {

// The ioctls encode the buffer length in 14 bits.
constexpr size_t kMaxIoctlLength = (1u << 14) - 1;
constexpr int kMaxStringIndex = 0xFF;
constexpr short kGoneEvents = POLLERR | POLLHUP | POLLNVAL;

// Errors of a node whose device was unplugged (or whose descriptor no longer works):
// nothing will answer on this descriptor again.
bool MeansGone(int error) {
    return error == ENODEV || error == EIO || error == ESHUTDOWN || error == EBADF ||
           error == ENXIO;
}

class HidrawHandle final : public HidHandle {
  public:
    HidrawHandle(UniqueFd fd, const ReportDescriptorInfo& descriptor,
                 std::shared_ptr<UsbSession> usb, std::optional<UsbLocation> usbDevice)
        : fd_(std::move(fd)),
          caps_(descriptor.caps),
          usesReportIds_(descriptor.usesReportIds),
          usb_(std::move(usb)),
          usbDevice_(usbDevice) {}

    const HidCaps& Caps() const override { return caps_; }

    bool GetFeature(std::span<uint8_t> buffer) override {
        if (buffer.empty() || buffer.size() > kMaxIoctlLength) return false;
        int got = -1;
        do {
            got = ::ioctl(fd_.get(), HIDIOCGFEATURE(buffer.size()), buffer.data());
        } while (got < 0 && errno == EINTR);
        if (got < 0) return Failed(errno);
        // A device may answer with fewer bytes than asked for; the rest reads as zero.
        std::fill(buffer.begin() + std::min<size_t>(static_cast<size_t>(got), buffer.size()),
                  buffer.end(), 0);
        return true;
    }

    bool SetFeature(std::span<const uint8_t> report) override {
        if (report.empty() || report.size() > kMaxIoctlLength) return false;
        int sent = -1;
        do {
            // The ioctl only reads the buffer; its declaration asks for a mutable pointer.
            sent = ::ioctl(fd_.get(), HIDIOCSFEATURE(report.size()),
                           const_cast<uint8_t*>(report.data()));
        } while (sent < 0 && errno == EINTR);
        if (sent < 0) return Failed(errno);
        return static_cast<size_t>(sent) == report.size() || Short();
    }

    bool Write(std::span<const uint8_t> report) override {
        if (report.empty()) return false;
        ssize_t sent = -1;
        do {
            sent = ::write(fd_.get(), report.data(), report.size());
        } while (sent < 0 && errno == EINTR);
        if (sent < 0) return Failed(errno);
        return static_cast<size_t>(sent) == report.size() || Short();
    }

    int Read(std::span<uint8_t> buffer, int timeoutMs) override {
        // Without report IDs the node delivers the bare report; the caller's buffer keeps
        // byte 0 for the (zero) report ID, as it does for every other report.
        const size_t skip = usesReportIds_ ? 0 : 1;
        if (buffer.size() <= skip) return -1;
        using Clock = std::chrono::steady_clock;
        const Clock::time_point deadline =
            Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
        while (true) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            pollfd entry{fd_.get(), POLLIN, 0};
            const int ready =
                ::poll(&entry, 1, static_cast<int>(std::max<int64_t>(left.count(), 0)));
            if (ready < 0 && errno == EINTR) continue;
            if (ready < 0) {
                Failed(errno);
                return -1;
            }
            if (ready == 0) return 0;
            if (!(entry.revents & POLLIN) && (entry.revents & kGoneEvents)) {
                failure_ = {HidFailureKind::Gone, "the device node hung up"};
                return -1;
            }
            const ssize_t got = ::read(fd_.get(), buffer.data() + skip, buffer.size() - skip);
            if (got > 0) {
                if (skip) buffer[0] = 0;
                return static_cast<int>(got + static_cast<ssize_t>(skip));
            }
            if (got == 0) {
                failure_ = {HidFailureKind::Gone, "the device node was closed"};
                return -1;
            }
            if (errno != EAGAIN && errno != EINTR) {
                Failed(errno);
                return -1;
            }
            if (Clock::now() >= deadline) return 0;
        }
    }

    // The node itself: readable while a report waits, with POLLHUP once the device left.
    int ReadyFd() const override { return fd_.get(); }

    std::optional<std::vector<uint8_t>> IndexedString(int index) override {
        if (!usb_ || !usbDevice_ || index < 0 || index > kMaxStringIndex) return std::nullopt;
        return usb_->ReadString(*usbDevice_, static_cast<uint8_t>(index));
    }

    HidFailure LastFailure() const override { return failure_; }

  private:
    // Records why a call failed; returns false for the caller to pass on.
    bool Failed(int error) {
        failure_ = {MeansGone(error) ? HidFailureKind::Gone : HidFailureKind::Failed,
                    std::strerror(error)};
        return false;
    }
    bool Short() {
        failure_ = {HidFailureKind::Failed, "the report was sent only in part"};
        return false;
    }

    UniqueFd fd_;
    HidCaps caps_;
    bool usesReportIds_;
    std::shared_ptr<UsbSession> usb_;
    std::optional<UsbLocation> usbDevice_;
    HidFailure failure_;
};

}  // namespace

std::unique_ptr<HidHandle> MakeHidrawHandle(UniqueFd fd, const ReportDescriptorInfo& descriptor,
                                            std::shared_ptr<UsbSession> usb,
                                            std::optional<UsbLocation> usbDevice) {
    return std::make_unique<HidrawHandle>(std::move(fd), descriptor, std::move(usb), usbDevice);
}

}  // namespace qvm
