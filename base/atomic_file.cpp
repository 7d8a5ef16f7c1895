#include "base/atomic_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>

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

constexpr std::string_view kTempInfix = ".tmp-";
constexpr std::string_view kUniqueTail = "XXXXXX";
// mkstemp gives up after this many names taken; a removed name (see CreateHeldFile) takes
// another try.
constexpr int kCreateAttempts = 8;

struct FolderCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The letters mkstemp puts in place of "XXXXXX".
bool UniqueTail(std::string_view tail) {
    if (tail.size() != kUniqueTail.size()) return false;
    for (const char c : tail) {
        const bool alnum =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!alnum) return false;
    }
    return true;
}

// Takes the lock that marks a file as held by a live writer. A file system without
// locks refuses it alike to everyone, so RemoveAbandonedFiles never removes a file there.
void HoldLock(int fd) {
    while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
}

// Writes bytes to a new held file made from pattern, with the given permission bits,
// flushed to disk. Messages name `target`. On failure the new file is removed again.
Result<StagedFile> WriteNewFile(std::string pattern, mode_t mode,
                                std::span<const std::uint8_t> bytes, const std::string& target) {
    UniqueFd fd = CreateHeldFile(pattern);
    if (!fd) return IoError("cannot write", target, errno);
    UniqueFd held(::fcntl(fd.get(), F_DUPFD_CLOEXEC, 0));
    if (!held) {
        const int err = errno;
        ::unlink(pattern.c_str());
        return IoError("cannot write", target, err);
    }
    StagedFile staged(pattern, std::move(held));
    if (::fchmod(fd.get(), mode) != 0) return IoError("cannot set permissions of", target, errno);
    if (Status s = WriteAll(fd.get(), bytes, target); !s) return s.error();
    if (::fsync(fd.get()) != 0) return IoError("cannot flush", target, errno);
    // close() reports what a network file system could not store. The staged file keeps
    // a copy of the descriptor, and with it the lock.
    if (::close(fd.release()) != 0) return IoError("cannot close", target, errno);
    return staged;
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

StagedFile::~StagedFile() {
    // Removed while still held, so no cleaner takes it for another writer's.
    if (!path_.empty()) ::unlink(path_.c_str());
}

std::string TempFilePattern(const std::string& path) {
    return FolderOf(path) + "/." + BaseNameOf(path) + std::string(kTempInfix) +
           std::string(kUniqueTail);
}

UniqueFd CreateHeldFile(std::string& pattern) {
    for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
        std::string name = pattern;
        UniqueFd fd(::mkostemp(name.data(), O_CLOEXEC));
        if (!fd) return fd;
        HoldLock(fd.get());
        // Between mkostemp and the lock a cleaner may have taken the file for abandoned and
        // removed it (it removes only while holding the lock, so that is over by now).
        struct stat mine {};
        struct stat named {};
        if (::fstat(fd.get(), &mine) == 0 && ::lstat(name.c_str(), &named) == 0 &&
            SameFile(mine, named)) {
            pattern = std::move(name);
            return fd;
        }
    }
    errno = EEXIST;
    return UniqueFd();
}

void RemoveAbandonedFiles(const std::string& pattern) {
    const std::string folder = FolderOf(pattern);
    const std::string base = BaseNameOf(pattern);
    if (base.size() < kUniqueTail.size()) return;
    const std::string prefix = base.substr(0, base.size() - kUniqueTail.size());
    const std::unique_ptr<DIR, FolderCloser> dir(::opendir(folder.c_str()));
    if (!dir) return;
    const uid_t user = ::geteuid();
    while (const struct dirent* entry = ::readdir(dir.get())) {
        const std::string_view name = entry->d_name;
        if (!name.starts_with(prefix) || !UniqueTail(name.substr(prefix.size()))) continue;
        const std::string path = folder + "/" + std::string(name);
        // O_NOFOLLOW: a link of that name is nobody's temporary file; O_NONBLOCK: neither
        // is a FIFO, and opening one must not wait.
        UniqueFd fd(
            ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        struct stat opened {};
        struct stat named {};
        if (!fd || ::fstat(fd.get(), &opened) != 0) continue;
        if (!S_ISREG(opened.st_mode) || opened.st_uid != user) continue;
        // A live writer holds its file from creation to rename.
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) continue;
        if (::lstat(path.c_str(), &named) != 0 || !SameFile(opened, named)) continue;
        ::unlink(path.c_str());
    }
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
    const std::string pattern = TempFilePattern(path);
    RemoveAbandonedFiles(pattern);
    auto staged = WriteNewFile(pattern, mode, bytes, path);
    if (!staged) return staged.error();
    // Renamed while still held, so that no cleaner can take it for abandoned.
    if (::rename(staged->path().c_str(), path.c_str()) != 0) {
        return IoError("cannot replace", path, errno);
    }
    staged->Keep();
    SyncFolder(folder);
    return {};
}

Result<StagedFile> WriteUniqueFile(const std::string& pattern,
                                   std::span<const std::uint8_t> bytes) {
    return WriteNewFile(pattern, kNewFileMode, bytes, "a new file in " + FolderOf(pattern));
}

}  // namespace qvm
