// Whole-file reads and crash-safe whole-file writes for the user's files (settings,
// macro files, backups). A write goes to a temporary file in the same folder, is flushed
// to disk and then renamed over the old file, so a crash, a full disk or a folder that
// refuses the write never leaves a half-written or missing file behind.
//
// Every data file the programs read (settings and the other ini files, macro files and
// macro texts, backups) is read through ReadFileIfExists: only regular files are read,
// so a FIFO or a device in a file's place can neither stall a program nor feed it
// endless data, and each kind of file is read up to its own bound.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "base/result.h"
#include "base/unique_fd.h"

namespace qvm {

// The bound of a read that names none; every kind of file names a smaller one.
inline constexpr std::size_t kMaxReadFileBytes = 64u << 20;

// The bytes of the regular file at path (a symbolic link is followed); std::nullopt when
// nothing is there. A FIFO, a device or a socket is refused at once without waiting for
// data ("PATH is not a regular file"), as are a folder ("PATH is a folder") and a file
// larger than maxBytes ("PATH is larger than N bytes"): all ErrorKind::BadInput. A file
// that cannot be opened or read is an ErrorKind::Io error naming the path.
Result<std::optional<std::vector<std::uint8_t>>> ReadFileIfExists(
    const std::string& path, std::size_t maxBytes = kMaxReadFileBytes);

// Replaces path with bytes atomically. An existing file keeps its permission bits; a new
// file gets 0644. On any failure (ErrorKind::Io, naming path) the old file is untouched
// and the temporary removed. Temporary files that earlier writes of path left behind when
// their process died are removed first (see RemoveAbandonedFiles).
Status WriteFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes);

// The pattern of the temporary files a write of path makes beside it:
// "FOLDER/.NAME.tmp-XXXXXX".
std::string TempFilePattern(const std::string& path);

// Creates a new file from pattern (which ends in "XXXXXX", as mkstemp takes it; pattern
// becomes the name made), open for writing and closed on exec. The file is locked
// (flock) for as long as the returned descriptor, or a copy of it, stays open: that lock
// is how RemoveAbandonedFiles tells a live writer's file from one whose writer died. An
// invalid descriptor, with errno set, on failure.
UniqueFd CreateHeldFile(std::string& pattern);

// Removes the files made from pattern (as CreateHeldFile makes them) that no live process
// holds: what a writer killed before its rename left behind. Only regular files of this
// user whose name is pattern with six letters or digits in place of "XXXXXX" are looked
// at; failures are ignored, since the next write tries again.
void RemoveAbandonedFiles(const std::string& pattern);

// A complete file, flushed to disk, under a name no other writer can be given, still held
// (see CreateHeldFile) until the object is destroyed. Unless Keep() was called, it is
// removed then.
class StagedFile {
  public:
    StagedFile(std::string path, UniqueFd fd) : path_(std::move(path)), fd_(std::move(fd)) {}
    StagedFile(StagedFile&& other) noexcept
        : path_(std::exchange(other.path_, {})), fd_(std::move(other.fd_)) {}
    StagedFile& operator=(StagedFile&&) = delete;
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;
    ~StagedFile();

    const std::string& path() const { return path_; }
    // The file was renamed into place and must stay.
    void Keep() { path_.clear(); }

  private:
    std::string path_;
    UniqueFd fd_;
};

// Writes bytes to a new file made from pattern (see CreateHeldFile), for a file that is
// renamed into place afterwards. Messages name the folder. On failure (ErrorKind::Io)
// nothing is left behind.
Result<StagedFile> WriteUniqueFile(const std::string& pattern, std::span<const std::uint8_t> bytes);

}  // namespace qvm
