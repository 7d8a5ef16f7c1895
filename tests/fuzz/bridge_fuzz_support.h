// Descriptors for the device bridge's fuzz targets: the input as a file to read lines
// from, and a file that collects what is written.
#pragma once

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "base/unique_fd.h"

namespace qvm::fuzz {

// An anonymous file holding `bytes`, positioned at its start.
inline UniqueFd MemoryFile(std::span<const uint8_t> bytes) {
    UniqueFd fd(::memfd_create("qvm-fuzz", MFD_CLOEXEC));
    if (!fd) std::abort();
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd.get(), bytes.data() + done, bytes.size() - done);
        if (n <= 0) std::abort();
        done += static_cast<std::size_t>(n);
    }
    if (::lseek(fd.get(), 0, SEEK_SET) != 0) std::abort();
    return fd;
}

// Everything written to `fd` (a MemoryFile) so far.
inline std::string MemoryFileText(int fd) {
    std::string text;
    if (::lseek(fd, 0, SEEK_SET) != 0) std::abort();
    char buffer[4096];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, n);
    return text;
}

}  // namespace qvm::fuzz
