#include "platform/named_mutex.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "base/unique_fd.h"

namespace qvm {
namespace {

class FileLockMutex final : public NamedMutex {
  public:
    explicit FileLockMutex(UniqueFd fd) : fd_(std::move(fd)) {}

    // Lock order inside: the in-process mutex first, then the file lock.
    void lock() override {
        inProcess_.lock();
        while (::flock(fd_.get(), LOCK_EX) != 0) {
            if (errno != EINTR) {
                // A lock file we opened ourselves cannot refuse flock for any other
                // reason than a broken system; fail loudly instead of racing.
                inProcess_.unlock();
                throw std::system_error(errno, std::generic_category(), "flock");
            }
        }
    }
    void unlock() override {
        ::flock(fd_.get(), LOCK_UN);
        inProcess_.unlock();
    }

  private:
    UniqueFd fd_;
    std::mutex inProcess_;
};

bool MakeFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) == 0) return true;
    struct stat st {};
    return errno == EEXIST && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

std::string LockFolder() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
        std::string base = runtime;
        if (MakeFolder(base + "/qvm-gaming")) return base + "/qvm-gaming";
    }
    return "/tmp/qvm-gaming-" + std::to_string(::getuid());
}

Result<std::unique_ptr<NamedMutex>> OpenNamedMutex(const std::string& name) {
    const std::string folder = LockFolder();
    if (!MakeFolder(folder)) {
        return MakeError("cannot create the lock folder " + folder + ": " + std::strerror(errno));
    }
    const std::string file = folder + "/" + name + ".lock";
    UniqueFd fd(::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (!fd) return MakeError("cannot open the lock file " + file + ": " + std::strerror(errno));
    return std::unique_ptr<NamedMutex>(std::make_unique<FileLockMutex>(std::move(fd)));
}

namespace {

constexpr std::size_t kMaxLockNameBytes = 200;  // the lock file adds ".lock" and stays < 255
constexpr std::size_t kKeptNameBytes = 160;

bool PlainNameByte(char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '&' || c == '#' ||
           c == '.' || c == '-';
}

// 64-bit FNV-1a: stable across processes and builds, unlike std::hash.
uint64_t StableHash(const std::string& text) {
    uint64_t h = 0xcbf29ce484222325ULL;
    for (unsigned char c : text) {
        h ^= c;
        h *= 0x100000001b3ULL;
    }
    return h;
}

}  // namespace

std::string DeviceLockName(const std::string& base, const std::string& device) {
    if (device.empty()) return base;
    std::string name = base + " ";
    for (char c : device) {
        if (PlainNameByte(c)) {
            name += c;
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", static_cast<unsigned char>(c));
            name += escaped;
        }
    }
    if (name.size() > kMaxLockNameBytes) {
        char hash[24];
        std::snprintf(hash, sizeof hash, "~%016llx",
                      static_cast<unsigned long long>(StableHash(name)));
        name = name.substr(0, kKeptNameBytes) + hash;
    }
    return name;
}

Result<NamedMutex*> NamedDeviceLocks::For(const std::string& device) {
    std::lock_guard guard(mutex_);
    auto& slot = locks_[device];
    if (!slot) {
        auto opened = OpenNamedMutex(DeviceLockName(base_, device));
        if (!opened) {
            locks_.erase(device);
            return opened.error();
        }
        slot = std::move(opened).value();
    }
    return slot.get();
}

}  // namespace qvm
