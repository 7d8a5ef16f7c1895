#include "sim/sim_state_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/unique_fd.h"

namespace qvm {

namespace {

std::string Reason(int error) {
    return std::strerror(error);
}

}  // namespace

Result<std::vector<uint8_t>> ReadStateFile(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) return MakeError("cannot open " + path + ": " + Reason(errno));
    std::vector<uint8_t> bytes;
    uint8_t chunk[4096];
    while (true) {
        const ssize_t got = ::read(fd.get(), chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return MakeError("cannot read " + path + ": " + Reason(errno));
        if (got == 0) return bytes;
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
}

Status WriteStateFileAtomic(const std::string& path, std::span<const uint8_t> bytes) {
    const std::filesystem::path target(path);
    std::error_code ec;
    if (target.has_parent_path()) {
        std::filesystem::create_directories(target.parent_path(), ec);
        if (ec) {
            return MakeError("cannot create " + target.parent_path().string() + ": " +
                             ec.message());
        }
    }
    std::string temp = path + ".tmp-XXXXXX";
    UniqueFd fd(::mkstemp(temp.data()));
    if (!fd) return MakeError("cannot create a temporary file for " + path + ": " + Reason(errno));
    auto fail = [&](const std::string& what) {
        const std::string message = what + " " + temp + ": " + Reason(errno);
        fd.reset();
        ::unlink(temp.c_str());
        return MakeError(message);
    };
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::write(fd.get(), bytes.data() + done, bytes.size() - done);
        if (put < 0 && errno == EINTR) continue;
        if (put < 0) return fail("cannot write");
        done += static_cast<size_t>(put);
    }
    if (::fsync(fd.get()) != 0) return fail("cannot flush");
    if (::close(fd.release()) != 0) return fail("cannot close");
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        const std::string message = "cannot replace " + path + ": " + Reason(errno);
        ::unlink(temp.c_str());
        return MakeError(message);
    }
    return {};
}

}  // namespace qvm
