#include "base/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

#include "base/unique_fd.h"

namespace qvm {
namespace {

constexpr mode_t kNewFileMode = 0644;
constexpr std::size_t kReadChunk = 64 * 1024;

Error IoError(const std::string& what, const std::string& path, int err) {
    return MakeError(ErrorKind::Io, what + " " + path + ": " + std::strerror(err));
}

// Why the file at path is no data file to read, or nothing when it is a regular file.
std::optional<Error> NotARegularFile(const std::string& path, const struct stat& st) {
    if (S_ISREG(st.st_mode)) return std::nullopt;
    if (S_ISDIR(st.st_mode)) return MakeError(ErrorKind::BadInput, path + " is a folder");
    return MakeError(ErrorKind::BadInput, path + " is not a regular file");
}

Error TooLarge(const std::string& path, std::size_t maxBytes) {
    return MakeError(ErrorKind::BadInput,
                     path + " is larger than " + std::to_string(maxBytes) + " bytes");
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
            return IoError("cannot write", path, errno);
        }
        if (n == 0) return IoError("cannot write", path, ENOSPC);
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

// Writes bytes to a new file made from pattern (mkstemp), with the given permission bits,
// flushed to disk; returns its path. Messages name `target`, or the new file when it is
// empty. On failure the new file is removed again.
Result<std::string> WriteNewFile(std::string pattern, mode_t mode,
                                 std::span<const std::uint8_t> bytes, std::string target) {
    UniqueFd fd(::mkstemp(pattern.data()));
    if (!fd) return IoError("cannot create a file in", FolderOf(pattern), errno);
    TempFileGuard guard(pattern);
    if (target.empty()) target = pattern;
    if (::fchmod(fd.get(), mode) != 0) return IoError("cannot set permissions of", target, errno);
    if (Status s = WriteAll(fd.get(), bytes, target); !s) return s.error();
    if (::fsync(fd.get()) != 0) return IoError("cannot flush", target, errno);
    if (::close(fd.release()) != 0) return IoError("cannot close", target, errno);
    guard.Release();
    return pattern;
}

// Makes a rename in folder durable; a failure here cannot undo the new file.
void SyncFolder(const std::string& folder) {
    if (UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)); dir) {
        ::fsync(dir.get());
    }
}

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

Result<std::optional<std::vector<std::uint8_t>>> ReadFileIfExists(const std::string& path,
                                                                  std::size_t maxBytes) {
    // Judged before opening, so that no device is ever opened for a file...
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) return std::optional<std::vector<std::uint8_t>>();
        return IoError("cannot open", path, errno);
    }
    if (auto wrong = NotARegularFile(path, st)) return *wrong;
    // ... and again on what was opened, in case it was swapped meanwhile. O_NONBLOCK keeps
    // the open of a FIFO from waiting for a writer; a regular file reads as without it.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd) {
        if (errno == ENOENT) return std::optional<std::vector<std::uint8_t>>();
        return IoError("cannot open", path, errno);
    }
    if (::fstat(fd.get(), &st) != 0) return IoError("cannot read", path, errno);
    if (auto wrong = NotARegularFile(path, st)) return *wrong;
    if (static_cast<std::uintmax_t>(st.st_size) > maxBytes) return TooLarge(path, maxBytes);

    std::vector<std::uint8_t> bytes;
    bytes.reserve(static_cast<std::size_t>(st.st_size));
    std::uint8_t chunk[kReadChunk];
    for (;;) {
        const ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            return IoError("cannot read", path, errno);
        }
        if (n == 0) break;
        // The file may grow while it is read.
        if (bytes.size() + static_cast<std::size_t>(n) > maxBytes) return TooLarge(path, maxBytes);
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
        return MakeError(ErrorKind::BadInput, "cannot save " + path + ": it is a folder");
    }
    const mode_t mode = hadOld ? (old.st_mode & 07777) : kNewFileMode;
    auto temp = WriteNewFile(folder + "/." + BaseNameOf(path) + ".XXXXXX", mode, bytes, path);
    if (!temp) return temp.error();
    TempFileGuard guard(*temp);
    if (::rename(temp->c_str(), path.c_str()) != 0) return IoError("cannot replace", path, errno);
    guard.Release();
    SyncFolder(folder);
    return {};
}

Result<std::string> WriteUniqueFile(const std::string& pattern,
                                    std::span<const std::uint8_t> bytes) {
    return WriteNewFile(pattern, kNewFileMode, bytes, "");
}

}  // namespace qvm
