#include "sim/sim_state_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "base/atomic_file.h"
#include "base/unique_fd.h"

namespace qvm {

namespace {

std::string Reason(int error) {
    return std::strerror(error);
}

std::string NotRegular(mode_t mode) {
    const char* what = S_ISDIR(mode)    ? "a folder"
                       : S_ISFIFO(mode) ? "a FIFO"
                       : S_ISSOCK(mode) ? "a socket"
                       : S_ISCHR(mode)  ? "a character device"
                       : S_ISBLK(mode)  ? "a block device"
                                        : "of an unknown type";
    return std::string("not a regular file (") + what + ")";
}

}  // namespace

Result<std::vector<uint8_t>> ReadStateFile(const std::string& path, size_t limit) {
    // Looked at before opening: opening a FIFO for reading waits for a writer, and opening
    // a device can have effects of its own.
    struct stat seen {};
    if (::stat(path.c_str(), &seen) != 0) return MakeError(ErrorKind::Io, Reason(errno));
    if (!S_ISREG(seen.st_mode)) return MakeError(ErrorKind::BadInput, NotRegular(seen.st_mode));
    // Non-blocking and checked again once open, in case the file was swapped meanwhile.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!fd) return MakeError(ErrorKind::Io, Reason(errno));
    if (::fstat(fd.get(), &seen) != 0) return MakeError(ErrorKind::Io, Reason(errno));
    if (!S_ISREG(seen.st_mode)) return MakeError(ErrorKind::BadInput, NotRegular(seen.st_mode));
    std::vector<uint8_t> bytes(limit + 1);
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t got = ::read(fd.get(), bytes.data() + done, bytes.size() - done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return MakeError(ErrorKind::Io, Reason(errno));
        if (got == 0) break;
        done += static_cast<size_t>(got);
    }
    bytes.resize(done);
    return bytes;
}

Status WriteStateFileAtomic(const std::string& path, std::span<const uint8_t> bytes) {
    const std::filesystem::path target(path);
    std::error_code ec;
    if (target.has_parent_path()) {
        std::filesystem::create_directories(target.parent_path(), ec);
        if (ec) {
            return MakeError(ErrorKind::Io, "cannot create " + target.parent_path().string() +
                                                ": " + ec.message());
        }
    }
    // What a writer killed before its rename left behind goes first. The temporary file is
    // held until after the rename, so a writer of another process never takes it for one.
    std::string temp = TempFilePattern(path);
    RemoveAbandonedFiles(temp);
    UniqueFd fd = CreateHeldFile(temp);
    if (!fd) return MakeError(ErrorKind::Io, Reason(errno));
    auto fail = [&] {
        const std::string message = Reason(errno);
        ::unlink(temp.c_str());
        return MakeError(ErrorKind::Io, message);
    };
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::write(fd.get(), bytes.data() + done, bytes.size() - done);
        if (put < 0 && errno == EINTR) continue;
        if (put < 0) return fail();
        done += static_cast<size_t>(put);
    }
    if (::fsync(fd.get()) != 0) return fail();
    if (::rename(temp.c_str(), path.c_str()) != 0) return fail();
    return {};
}

}  // namespace qvm
