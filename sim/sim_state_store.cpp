#include "sim/sim_state_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "sim/sim_state_file.h"

namespace qvm {

namespace {

constexpr size_t kCountBytes = 8;
constexpr const char* kRejectedSuffix = ".rejected";
constexpr int kMaxRejected = 99;  // NAME.rejected, then NAME.rejected.2 and on

std::string Reason(int error) {
    return std::strerror(error);
}

// Writes all of `bytes` at `offset`; false with errno set when that fails.
bool WriteAllAt(int fd, std::span<const uint8_t> bytes, off_t offset) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::pwrite(fd, bytes.data() + done, bytes.size() - done,
                                     offset + static_cast<off_t>(done));
        if (put < 0 && errno == EINTR) continue;
        if (put < 0) return false;
        if (put == 0) {
            errno = ENOSPC;
            return false;
        }
        done += static_cast<size_t>(put);
    }
    return true;
}

bool SameTime(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

}  // namespace

bool SimStateStore::Identity::operator==(const Identity& other) const {
    return exists == other.exists && regular == other.regular && device == other.device &&
           inode == other.inode && size == other.size && SameTime(modified, other.modified) &&
           SameTime(changed, other.changed);
}

SimStateStore::Hold::Hold(int fd) : fd_(fd) {}

SimStateStore::Hold::~Hold() {
    if (fd_ >= 0) ::flock(fd_, LOCK_UN);
}

SimStateStore::SimStateStore(std::string file, size_t imageSize, SimStateReporter report)
    : file_(std::move(file)), imageSize_(imageSize), report_(std::move(report)) {
    const std::filesystem::path folder = std::filesystem::path(file_).parent_path();
    if (!folder.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
        if (ec) {
            lockError_ = "cannot create " + folder.string() + ": " + ec.message();
            return;
        }
    }
    const std::string lockFile = file_ + ".lock";
    lockFd_.reset(
        ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0600));
    struct stat st {};
    if (!lockFd_ || ::fstat(lockFd_.get(), &st) != 0) {
        lockError_ = "cannot open " + lockFile + ": " + Reason(errno);
        lockFd_.reset();
        return;
    }
    if (!S_ISREG(st.st_mode)) {
        lockError_ = lockFile + " is not a regular file";
        lockFd_.reset();
        return;
    }
    // Room for the write count now, while the disk may still have it, so that counting
    // later overwrites in place. Without it the count reads as 0 and the first write
    // reports the failure.
    const Hold hold = Lock();
    if (hold.Locked() && ::fstat(lockFd_.get(), &st) == 0 &&
        st.st_size < static_cast<off_t>(kCountBytes)) {
        const std::array<uint8_t, kCountBytes> zeros{};
        const auto missing = std::span(zeros).subspan(static_cast<size_t>(st.st_size));
        [[maybe_unused]] const bool sized = WriteAllAt(lockFd_.get(), missing, st.st_size);
    }
}

SimStateStore::Hold SimStateStore::Lock() {
    if (!lockFd_) return Hold(-1);
    while (::flock(lockFd_.get(), LOCK_EX) != 0) {
        if (errno != EINTR) {
            lockError_ = "cannot lock " + file_ + ".lock: " + Reason(errno);
            return Hold(-1);
        }
    }
    return Hold(lockFd_.get());
}

SimStateStore::Identity SimStateStore::Identify() const {
    Identity id;
    struct stat st {};
    if (::stat(file_.c_str(), &st) != 0) return id;  // missing: nothing to load
    id.exists = true;
    id.regular = S_ISREG(st.st_mode);
    id.device = st.st_dev;
    id.inode = st.st_ino;
    id.size = st.st_size;
    id.modified = st.st_mtim;
    id.changed = st.st_ctim;
    return id;
}

uint64_t SimStateStore::ReadCount() const {
    std::array<uint8_t, kCountBytes> bytes{};
    if (lockFd_) {
        // A short lock file reads as zeros.
        [[maybe_unused]] const ssize_t got = ::pread(lockFd_.get(), bytes.data(), bytes.size(), 0);
    }
    uint64_t count = 0;
    for (size_t i = 0; i < bytes.size(); ++i) count |= uint64_t{bytes[i]} << (8 * i);
    return count;
}

bool SimStateStore::WriteCount(uint64_t count) {
    std::array<uint8_t, kCountBytes> bytes{};
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(count >> (8 * i));
    return WriteAllAt(lockFd_.get(), bytes, 0);
}

std::optional<std::vector<uint8_t>> SimStateStore::Refresh(const Hold& hold) {
    starting_ = !refreshed_;
    refreshed_ = true;
    const uint64_t count = ReadCount();
    const Identity id = Identify();
    if (seen_ && seen_->count == count && seen_->id == id) return std::nullopt;
    seen_ = Seen{count, id};
    if (!id.exists) return std::nullopt;
    auto bytes = ReadStateFile(file_, imageSize_);
    if (!bytes) {
        // Gone between the look and the read: nothing to load after all.
        if (Identify().exists) SetAside(hold, bytes.message());
        return std::nullopt;
    }
    if (bytes->size() != imageSize_) {
        const std::string expected = std::to_string(imageSize_);
        SetAside(hold, (bytes->size() > imageSize_ ? "more than " + expected
                                                   : std::to_string(bytes->size())) +
                           " bytes, expected " + expected);
        return std::nullopt;
    }
    return std::move(bytes).value();
}

void SimStateStore::SetAside(const Hold&, const std::string& why) {
    std::string message = file_ + ": " + why;
    std::string rejected = file_ + kRejectedSuffix;
    int error = 0;
    // The first free name, so that a file set aside earlier is kept too.
    for (int n = 1; n <= kMaxRejected; ++n) {
        if (n > 1) rejected = file_ + kRejectedSuffix + "." + std::to_string(n);
        error = 0;
        if (::renameat2(AT_FDCWD, file_.c_str(), AT_FDCWD, rejected.c_str(), RENAME_NOREPLACE) ==
            0) {
            break;
        }
        error = errno;
        if (error == EINVAL) {
            // A file system that cannot refuse to replace: the first name it is.
            rejected = file_ + kRejectedSuffix;
            error = ::rename(file_.c_str(), rejected.c_str()) == 0 ? 0 : errno;
            break;
        }
        if (error != EEXIST) break;
    }
    if (error == 0) {
        message += "; set aside as " + rejected;
    } else {
        message += "; it cannot be set aside as " + rejected + ": " + Reason(error);
    }
    message += starting_ ? "; the device starts from its factory image"
                         : "; the device keeps the memory it has";
    if (seen_) seen_->id = Identify();
    if (report_) report_({false, message});
}

bool SimStateStore::Write(const Hold& hold, std::span<const uint8_t> image, size_t first,
                          size_t end) {
    if (!hold.Locked()) return Lost(lockError_);
    // The count goes first: whatever part of the change reaches the file, the other
    // processes reload it.
    const uint64_t count = ReadCount() + 1;
    if (!WriteCount(count)) return Lost(Reason(errno));
    const Identity id = Identify();
    std::string why;
    bool kept = false;
    if (id.exists && id.regular && id.size == static_cast<off_t>(imageSize_)) {
        kept = WriteInPlace(image, first, end, id, why);
    } else {
        const Status written = WriteStateFileAtomic(file_, image);
        kept = written.ok();
        if (!kept) why = written.message();
    }
    if (!kept) {
        seen_.reset();  // the next exchange reloads whatever the file now holds
        return Lost(why);
    }
    seen_ = Seen{count, Identify()};
    return true;
}

bool SimStateStore::WriteInPlace(std::span<const uint8_t> image, size_t first, size_t end,
                                 const Identity& id, std::string& why) {
    if (!dataFd_ || dataId_.device != id.device || dataId_.inode != id.inode) {
        dataFd_.reset(::open(file_.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
        struct stat st {};
        if (!dataFd_ || ::fstat(dataFd_.get(), &st) != 0) {
            why = Reason(errno);
            dataFd_.reset();
            return false;
        }
        if (!S_ISREG(st.st_mode) || st.st_dev != id.device || st.st_ino != id.inode) {
            why = "the file was replaced while it was being opened";
            dataFd_.reset();
            return false;
        }
        dataId_ = id;
    }
    if (!WriteAllAt(dataFd_.get(), image.subspan(first, end - first), static_cast<off_t>(first))) {
        why = Reason(errno);
        return false;
    }
    return true;
}

bool SimStateStore::Lost(const std::string& why) {
    lastLoss_ = "cannot keep the simulated device's memory in " + file_ + ": " + why;
    if (report_) report_({true, lastLoss_});
    return false;
}

}  // namespace qvm
