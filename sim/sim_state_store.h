// A simulated device's memory (a keyboard's lighting state) kept in its state file and
// shared by every process that runs the device. The desktop program, qvmctl and qvm-sim
// may run the same simulated device at once; through this store they see ONE device.
//
// - Lock: every exchange that reads or changes the image holds flock(LOCK_EX) on
//   "<state file>.lock" beside the state file. The lock file is never replaced, so the lock
//   stays on one inode whatever becomes of the state file.
// - Change detection: the first 8 bytes of the lock file count the writes (little-endian);
//   each write-through adds one. A store reloads the state file when the count or the
//   file's identity (device, inode, size, modification and change times) differs from what
//   it saw last, so another process's write is seen at the next exchange, and so is a file
//   put in place by hand. The count does not depend on the coarse time stamps.
// - Write-through: the bytes an exchange changed go with pwrite into the existing file, in
//   place, so a full disk does not stop a change to memory that is already saved. A missing
//   file is written whole and atomically. Nothing is flushed per write.
// - A write that fails is reported as lost, and the caller undoes it in the device.
// - A damaged file (wrong size, unreadable, not a regular file) is renamed to
//   "<state file>.rejected" ("<state file>.rejected.2" and on when that name is taken, so
//   nothing set aside before is replaced) and reported with both names.
//
// The state file stays a raw image of the memory, ImageSize bytes, as before.
//
// Not thread-safe: the owning SimDevice calls it under its own lock. Lock order: the
// device's mutex, then the state file's flock.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/unique_fd.h"

namespace qvm {

// What became of a state file, for the user.
struct SimStateNote {
    bool lost = false;    // a write the device could not keep (and undid)
    std::string message;  // names the file, and where it was set aside
};
// Called with the device's lock and the state file's lock held: it must not call back
// into the simulator.
using SimStateReporter = std::function<void(const SimStateNote& note)>;

class SimStateStore {
  public:
    // The store of `file`, an image of `imageSize` bytes. Creates the folder and the lock
    // file; a lock file that cannot be made is reported at the first write.
    SimStateStore(std::string file, size_t imageSize, SimStateReporter report);
    SimStateStore(const SimStateStore&) = delete;
    SimStateStore& operator=(const SimStateStore&) = delete;

    const std::string& File() const { return file_; }

    // The cross-process lock, held while the Hold lives.
    class Hold {
      public:
        explicit Hold(int fd);
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;
        ~Hold();
        bool Locked() const { return fd_ >= 0; }

      private:
        int fd_;  // -1 when not locked
    };
    [[nodiscard]] Hold Lock();

    // The state file's image when it changed since this store saw it last; nullopt when
    // it did not, or is missing, or is damaged (then it is set aside and reported). The
    // first call tells the image the device starts with.
    std::optional<std::vector<uint8_t>> Refresh(const Hold& hold);
    // Sets the state file aside as damaged, for `why` (an image the device refused).
    void SetAside(const Hold& hold, const std::string& why);
    // Keeps bytes [first, end) of `image`, the device's whole image, in the state file.
    // False, reported as lost, when they could not be kept.
    bool Write(const Hold& hold, std::span<const uint8_t> image, size_t first, size_t end);
    // What the latest Write that failed said, as it was reported.
    const std::string& LastLoss() const { return lastLoss_; }

  private:
    struct Identity {
        bool exists = false;
        bool regular = false;
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        timespec modified{};
        timespec changed{};

        bool operator==(const Identity& other) const;
    };

    Identity Identify() const;
    uint64_t ReadCount() const;
    bool WriteCount(uint64_t count);
    bool WriteInPlace(std::span<const uint8_t> image, size_t first, size_t end, const Identity& id,
                      std::string& why);
    bool Lost(const std::string& why);

    std::string file_;
    std::string lastLoss_;
    size_t imageSize_;
    SimStateReporter report_;
    UniqueFd lockFd_;
    std::string lockError_;  // why lockFd_ is not open
    UniqueFd dataFd_;        // the state file, open for writing in place
    Identity dataId_;        // what dataFd_ is open on
    // What the last refresh or write left: the write count and the file it saw. Empty
    // before the first refresh and after a failed write, which forces a reload.
    struct Seen {
        uint64_t count = 0;
        Identity id;
    };
    std::optional<Seen> seen_;
    bool refreshed_ = false;  // Refresh has run
    bool starting_ = false;   // the latest Refresh was the first: the device is starting
};

}  // namespace qvm
