#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/unique_fd.h"

namespace qvm {
namespace {

constexpr mode_t kNewFileMode = 0644;
constexpr std::size_t kReadChunk = 64 * 1024;

Error ErrnoError(const std::string& what, const std::string& path, int err) {
    return MakeError(what + " " + path + ": " + std::strerror(err));
}

std::string FolderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string BaseNameOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

Status WriteAll(int fd, std::span<const std::uint8_t> bytes, const std::string& path) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return ErrnoError("cannot write", path, errno);
        }
        if (n == 0) return ErrnoError("cannot write", path, ENOSPC);
        done += static_cast<std::size_t>(n);
    }
    return {};
}

// Removes the temporary file unless the write was completed by the rename.
class TempFileGuard {
  public:
    explicit TempFileGuard(std::string path) : path_(std::move(path)) {}
    TempFileGuard(const TempFileGuard&) = delete;
    TempFileGuard& operator=(const TempFileGuard&) = delete;
    ~TempFileGuard() {
        if (!path_.empty()) ::unlink(path_.c_str());
    }
    void Release() { path_.clear(); }

  private:
    std::string path_;
};

// A symbolic link (a settings file kept with the user's dotfiles, say) is followed, so
// the link survives and its target gets the new content.
std::string ResolveLink(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    const std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr),
                                                               &std::free);
    return resolved ? std::string(resolved.get()) : path;
}

}  // namespace

Result<std::optional<std::vector<std::uint8_t>>> ReadFileIfExists(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) {
        if (errno == ENOENT) return std::optional<std::vector<std::uint8_t>>();
        return ErrnoError("cannot open", path, errno);
    }
    std::vector<std::uint8_t> bytes;
    std::uint8_t chunk[kReadChunk];
    for (;;) {
        const ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            return ErrnoError("cannot read", path, errno);
        }
        if (n == 0) break;
        if (bytes.size() + static_cast<std::size_t>(n) > kMaxReadFileBytes) {
            return MakeError("cannot read " + path + ": file larger than " +
                             std::to_string(kMaxReadFileBytes) + " bytes");
        }
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
    return std::optional<std::vector<std::uint8_t>>(std::move(bytes));
}

Status WriteFileAtomically(const std::string& requestedPath, std::span<const std::uint8_t> bytes) {
    const std::string path = ResolveLink(requestedPath);
    const std::string folder = FolderOf(path);
    struct stat old {};
    const bool hadOld = ::stat(path.c_str(), &old) == 0;
    if (hadOld && S_ISDIR(old.st_mode)) {
        return MakeError("cannot save " + path + ": it is a folder");
    }

    std::string tempPath = folder + "/." + BaseNameOf(path) + ".XXXXXX";
    UniqueFd fd(::mkstemp(tempPath.data()));
    if (!fd) return ErrnoError("cannot create a temporary file in", folder, errno);
    TempFileGuard guard(tempPath);

    const mode_t mode = hadOld ? (old.st_mode & 07777) : kNewFileMode;
    if (::fchmod(fd.get(), mode) != 0) return ErrnoError("cannot set permissions of", path, errno);
    if (Status s = WriteAll(fd.get(), bytes, path); !s) return s;
    if (::fsync(fd.get()) != 0) return ErrnoError("cannot flush", path, errno);
    if (::close(fd.release()) != 0) return ErrnoError("cannot close", path, errno);
    if (::rename(tempPath.c_str(), path.c_str()) != 0) {
        return ErrnoError("cannot replace", path, errno);
    }
    guard.Release();

    // Make the rename itself durable; a failure here cannot undo the new file.
    if (UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)); dir) {
        ::fsync(dir.get());
    }
    return {};
}

}  // namespace qvm
