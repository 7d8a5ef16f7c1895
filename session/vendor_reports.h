// Reads the vendor input reports of every attached QVM mouse and hands each one to a
// callback, on one thread that sleeps in epoll until a report waits, a device arrives or
// leaves, or the reader is stopped. Nothing here decodes a report.
//
// Which interfaces are read: those of vendor 0x0C45 (the vendor text in the path) whose
// top-level collection is one of the mice's vendor collections (usage page 0xFF23 or
// 0xFF18, usage 1) and that declare an input report long enough to carry one (11 bytes
// or more); the keyboards' interfaces are never read. Reports shorter than 11 bytes or
// longer than 999 bytes are dropped unseen.
//
// The reader opens handles of its own for input only: the configuration exchanges of the
// same device go through their own handles (feature reports), which reading does not
// disturb.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "base/result.h"
#include "platform/hid.h"

namespace qvm {

inline constexpr size_t kVendorReportMinLength = 11;
inline constexpr size_t kVendorReportMaxLength = 999;

// True when `info` is an interface the reader reads.
bool IsVendorReportInterface(const HidDeviceInfo& info);

class VendorReportReader {
  public:
    // Called on the reader's thread with the interface path and the whole report (byte 0
    // the report ID). It must not destroy the reader.
    using ReportCallback =
        std::function<void(const std::string& path, std::span<const uint8_t> report)>;
    // Called on the reader's thread, once per interface or backend, with a sentence saying
    // what cannot be waited on (and is therefore not read).
    using NoticeCallback = std::function<void(const std::string& message)>;

    // Starts reading `backend`'s devices. The backend must outlive the reader and be safe
    // to call from another thread; its arrival and removal events are left for others to
    // take: the reader only looks at the device list again when the backend's event
    // descriptor is signalled.
    static Result<std::unique_ptr<VendorReportReader>> Start(HidBackend& backend,
                                                             ReportCallback onReport,
                                                             NoticeCallback onNotice = {});
    // Stops the thread (it wakes at once, even while waiting) and closes every handle.
    ~VendorReportReader();
    VendorReportReader(const VendorReportReader&) = delete;
    VendorReportReader& operator=(const VendorReportReader&) = delete;

    // Times the thread has woken from its wait since it started (for tests and benchmarks:
    // an idle reader never wakes).
    uint64_t WakeUps() const;
    // The interface paths open now, sorted.
    std::vector<std::string> OpenPaths() const;

    struct Impl;

  private:
    explicit VendorReportReader(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace qvm
