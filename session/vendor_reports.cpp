#include "session/vendor_reports.h"

#include <errno.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <stop_token>
#include <thread>
#include <vector>

#include "base/event_fd.h"
#include "base/unique_fd.h"
#include "device/device_path.h"
#include "device/probe_values.h"

namespace qvm {

namespace {

struct VendorCollection {
    uint16_t usagePage;
    uint16_t usage;
};
// The mice's two kinds of vendor interface; the keyboards declare neither.
constexpr std::array<VendorCollection, 2> kVendorCollections = {{{0xFF23, 1}, {0xFF18, 1}}};

// epoll tokens; every open interface gets a token above these.
constexpr uint64_t kStopToken = 0;
constexpr uint64_t kHotPlugToken = 1;
constexpr uint64_t kFirstHandleToken = 2;

// Reports read from one interface per wake-up before the others get their turn; the
// rest wait for the next round (the descriptor stays readable).
constexpr int kReportsPerTurn = 64;
constexpr int kEventsPerWait = 16;
// One byte more than the longest report taken, so that a longer one shows as such
// (Read puts a report ID byte in front of a bare report: one more byte again).
constexpr size_t kReadBufferSize = kVendorReportMaxLength + 2;

std::string Describe(int error) {
    return std::strerror(error);
}

}  // namespace

bool IsVendorReportInterface(const HidDeviceInfo& info) {
    const std::string path = NormaliseDevicePath(info.path);
    if (!HasTextFrom(path, kVendorText, kVendorTextMinPosition)) return false;
    if (IsKeyboardSerial(info.serial)) return false;
    if (info.caps.inputLength < static_cast<int>(kVendorReportMinLength)) return false;
    return std::any_of(kVendorCollections.begin(), kVendorCollections.end(),
                       [&](const VendorCollection& c) {
                           return info.caps.usagePage == c.usagePage && info.caps.usage == c.usage;
                       });
}

struct VendorReportReader::Impl {
    struct Entry {
        std::string path;
        std::unique_ptr<HidHandle> handle;
    };

    Impl(HidBackend& b, ReportCallback r, NoticeCallback n)
        : backend(b), onReport(std::move(r)), onNotice(std::move(n)) {}

    HidBackend& backend;
    const ReportCallback onReport;
    const NoticeCallback onNotice;
    UniqueFd epoll;
    UniqueFd stop;  // eventfd: readable once the reader is to stop
    std::atomic<uint64_t> wakeUps{0};

    // Owned by the reader thread once it runs.
    std::map<uint64_t, Entry> entries;  // by epoll token
    uint64_t nextToken = kFirstHandleToken;
    std::set<std::string> noticed;  // what was already said, once each
    std::array<uint8_t, kReadBufferSize> buffer{};

    mutable std::mutex pathsMutex;       // leaf
    std::vector<std::string> openPaths;  // guarded by pathsMutex: copy for OpenPaths()

    std::jthread thread;  // last: it stops before the members it uses go

    bool watchesArrivals = false;

    void Run(std::stop_token token);
    // Opens what is listed and not open, closes what is open and no longer listed.
    void Sync();
    void Open(const HidDeviceInfo& info);
    // Reads what waits on one interface; false when the handle failed (the caller
    // closes it).
    bool Drain(Entry& entry);
    void Close(uint64_t token);
    void PublishPaths();
    void NoticeOnce(const std::string& key, const std::string& message);
};

void VendorReportReader::Impl::NoticeOnce(const std::string& key, const std::string& message) {
    if (!noticed.insert(key).second) return;
    if (onNotice) onNotice(message);
}

void VendorReportReader::Impl::PublishPaths() {
    std::vector<std::string> paths;
    for (const auto& [token, entry] : entries) paths.push_back(entry.path);
    std::sort(paths.begin(), paths.end());
    std::lock_guard lock(pathsMutex);
    openPaths = std::move(paths);
}

void VendorReportReader::Impl::Close(uint64_t token) {
    auto it = entries.find(token);
    if (it == entries.end()) return;
    // The descriptor may be shared with a later handle of the same interface: it must
    // leave the set now, not when its last holder closes it.
    ::epoll_ctl(epoll.get(), EPOLL_CTL_DEL, it->second.handle->ReadyFd(), nullptr);
    entries.erase(it);
}

void VendorReportReader::Impl::Open(const HidDeviceInfo& info) {
    const std::string path = NormaliseDevicePath(info.path);
    auto handle = backend.Open(path);
    if (!handle) {
        // A device that left meanwhile is no news; anything else is said once.
        if (handle.kind() != ErrorKind::DeviceGone) {
            NoticeOnce("open " + path,
                       "cannot read the reports of " + path + ": " + handle.error().message);
        }
        return;
    }
    const int fd = (*handle)->ReadyFd();
    if (fd < 0) {
        NoticeOnce("wait " + path,
                   "the reports of " + path + " are not read: its connection cannot signal them");
        return;
    }
    const uint64_t token = nextToken++;
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = token;
    if (::epoll_ctl(epoll.get(), EPOLL_CTL_ADD, fd, &event) != 0) {
        NoticeOnce("wait " + path, "the reports of " + path + " are not read: " + Describe(errno));
        return;
    }
    entries.emplace(token, Entry{path, std::move(*handle)});
}

void VendorReportReader::Impl::Sync() {
    auto listed = backend.Enumerate();
    if (!listed) {
        NoticeOnce("list", "the device list cannot be read: " + listed.error().message);
        return;
    }
    std::set<std::string> wanted;
    std::vector<const HidDeviceInfo*> toOpen;
    for (const HidDeviceInfo& info : *listed) {
        if (!info.openError.empty() || !IsVendorReportInterface(info)) continue;
        wanted.insert(NormaliseDevicePath(info.path));
        toOpen.push_back(&info);
    }
    std::set<std::string> open;
    for (auto it = entries.begin(); it != entries.end();) {
        const uint64_t token = it->first;
        const std::string path = it->second.path;
        ++it;
        if (wanted.count(path)) {
            open.insert(path);
        } else {
            Close(token);
        }
    }
    for (const HidDeviceInfo* info : toOpen) {
        if (!open.count(NormaliseDevicePath(info->path))) Open(*info);
    }
    PublishPaths();
}

bool VendorReportReader::Impl::Drain(Entry& entry) {
    for (int i = 0; i < kReportsPerTurn; ++i) {
        const int got = entry.handle->Read(buffer, 0);
        if (got == 0) return true;
        if (got < 0) {
            const HidFailure failure = entry.handle->LastFailure();
            if (failure.kind != HidFailureKind::Gone) {
                // A handle whose reads fail would keep its descriptor readable: it is
                // closed and tried again when the device list changes.
                NoticeOnce("read " + entry.path,
                           "reading the reports of " + entry.path + " failed: " + failure.reason);
            }
            return false;
        }
        const auto size = static_cast<size_t>(got);
        if (size < kVendorReportMinLength || size > kVendorReportMaxLength) continue;
        onReport(entry.path, std::span<const uint8_t>(buffer.data(), size));
    }
    return true;
}

void VendorReportReader::Impl::Run(std::stop_token token) {
    if (!watchesArrivals) {
        NoticeOnce("arrivals",
                   "devices attached from now on are not read: the device connection "
                   "cannot signal arrivals");
    }
    Sync();
    std::array<epoll_event, kEventsPerWait> events{};
    while (!token.stop_requested()) {
        const int count = ::epoll_wait(epoll.get(), events.data(), kEventsPerWait, -1);
        if (count < 0) {
            if (errno == EINTR) continue;
            NoticeOnce("epoll", "the device reports are no longer read: " + Describe(errno));
            return;
        }
        wakeUps.fetch_add(1, std::memory_order_relaxed);
        bool listChanged = false;
        for (int i = 0; i < count; ++i) {
            const uint64_t which = events[i].data.u64;
            if (which == kStopToken) return;
            if (which == kHotPlugToken) {
                listChanged = true;
                continue;
            }
            auto it = entries.find(which);
            if (it == entries.end()) continue;  // closed earlier in this round
            if (Drain(it->second)) continue;
            Close(which);
            PublishPaths();
        }
        // After the handles: a device that left and came back has had its old handle
        // closed above (a departure raises the handle's descriptor before the list's),
        // and is opened anew here.
        if (listChanged) Sync();
    }
}

VendorReportReader::VendorReportReader(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

VendorReportReader::~VendorReportReader() {
    // The stop callback wakes the thread; joining it here keeps it from outliving impl_.
    impl_->thread.request_stop();
    if (impl_->thread.joinable()) impl_->thread.join();
}

Result<std::unique_ptr<VendorReportReader>> VendorReportReader::Start(HidBackend& backend,
                                                                      ReportCallback onReport,
                                                                      NoticeCallback onNotice) {
    if (!onReport) return MakeError(ErrorKind::BadInput, "no callback for the device reports");
    auto impl = std::make_unique<Impl>(backend, std::move(onReport), std::move(onNotice));
    impl->epoll.reset(::epoll_create1(EPOLL_CLOEXEC));
    if (!impl->epoll) return MakeError(ErrorKind::Io, "epoll: " + Describe(errno));
    impl->stop.reset(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (!impl->stop) return MakeError(ErrorKind::Io, "eventfd: " + Describe(errno));

    epoll_event stopEvent{};
    stopEvent.events = EPOLLIN;
    stopEvent.data.u64 = kStopToken;
    if (::epoll_ctl(impl->epoll.get(), EPOLL_CTL_ADD, impl->stop.get(), &stopEvent) != 0) {
        return MakeError(ErrorKind::Io, "epoll: " + Describe(errno));
    }
    const int hotPlug = backend.EventFd();
    if (hotPlug >= 0) {
        // Edge-triggered: the events stay for their owner to take, so the descriptor may
        // stay readable; each new signal still wakes the reader once.
        epoll_event plugEvent{};
        plugEvent.events = EPOLLIN | EPOLLET;
        plugEvent.data.u64 = kHotPlugToken;
        impl->watchesArrivals =
            ::epoll_ctl(impl->epoll.get(), EPOLL_CTL_ADD, hotPlug, &plugEvent) == 0;
    }
    Impl* raw = impl.get();
    raw->thread = std::jthread([raw](std::stop_token token) {
        std::stop_callback wake(token, [raw] { SignalEventFd(raw->stop.get()); });
        raw->Run(token);
    });
    return std::unique_ptr<VendorReportReader>(new VendorReportReader(std::move(impl)));
}

uint64_t VendorReportReader::WakeUps() const {
    return impl_->wakeUps.load(std::memory_order_relaxed);
}

std::vector<std::string> VendorReportReader::OpenPaths() const {
    std::lock_guard lock(impl_->pathsMutex);
    return impl_->openPaths;
}

}  // namespace qvm
