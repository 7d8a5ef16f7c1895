// A small tmpfs mounted on a folder, to run out of disk space on purpose. Mounting needs
// the right to (root, as CI runs the tests); where it is missing, Mounted() is false and
// the test skips itself.
#pragma once

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/unique_fd.h"

namespace qvm::test {

class SmallTmpfs {
  public:
    SmallTmpfs(std::string path, std::size_t bytes) : path_(std::move(path)) {
        std::error_code ec;
        std::filesystem::create_directories(path_, ec);
        const std::string options = "size=" + std::to_string(bytes);
        mounted_ = !ec && ::mount("tmpfs", path_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV,
                                  options.c_str()) == 0;
    }
    SmallTmpfs(const SmallTmpfs&) = delete;
    SmallTmpfs& operator=(const SmallTmpfs&) = delete;
    ~SmallTmpfs() {
        if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
    }

    bool Mounted() const { return mounted_; }
    const std::string& path() const { return path_; }

    // Takes every free byte with one file, so the next write finds the disk full.
    void Fill() const {
        const UniqueFd fd(
            ::open((path_ + "/filler").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
        const std::vector<char> block(4096, 'x');
        for (std::size_t size = block.size(); fd && size > 0; size /= 2) {
            while (::write(fd.get(), block.data(), size) == static_cast<ssize_t>(size)) {
            }
        }
    }

  private:
    std::string path_;
    bool mounted_ = false;
};

}  // namespace qvm::test
