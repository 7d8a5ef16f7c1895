// A small tmpfs mounted on a folder for the length of a test, so a test can fill a disk
// and see what a program does when a write finds no space. Mounting needs the right to
// mount (CI runs as root); without it the test is skipped, never failed.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace qvm::test {

class SmallTmpfs {
  public:
    // Mounts a tmpfs of `bytes` on `folder` (created when missing). Check Mounted() and
    // skip the test when it is false.
    SmallTmpfs(std::string folder, std::size_t bytes) : folder_(std::move(folder)) {
        std::filesystem::create_directories(folder_);
        const std::string options = "size=" + std::to_string(bytes);
        if (::mount("tmpfs", folder_.c_str(), "tmpfs", 0, options.c_str()) == 0) {
            mounted_ = true;
        } else {
            why_ = std::strerror(errno);
        }
    }
    SmallTmpfs(const SmallTmpfs&) = delete;
    SmallTmpfs& operator=(const SmallTmpfs&) = delete;
    ~SmallTmpfs() {
        if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
    }

    bool Mounted() const { return mounted_; }
    const std::string& Why() const { return why_; }
    const std::string& path() const { return folder_; }

    // Writes a filler file until the file system has no block left.
    void Fill() {
        const std::string filler = folder_ + "/filler";
        const int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0) << std::strerror(errno);
        const std::vector<char> block(4096, 'f');
        while (::write(fd, block.data(), block.size()) > 0) {
        }
        // The last page may still take a few bytes.
        while (::write(fd, block.data(), 1) > 0) {
        }
        EXPECT_EQ(errno, ENOSPC);
        ::close(fd);
    }
    // Gives the space back.
    void Free() { std::filesystem::remove(folder_ + "/filler"); }

  private:
    std::string folder_;
    bool mounted_ = false;
    std::string why_;
};

}  // namespace qvm::test
