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
#include <vector>

#include "base/result.h"

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
// file gets 0644. On any failure (ErrorKind::Io) the old file is untouched and the
// temporary removed.
Status WriteFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes);

// Writes bytes, flushed to disk, to a new file of a name no other writer can be given
// (made from pattern, which ends in "XXXXXX", as mkstemp does) and returns its path. For
// files that are renamed into place afterwards. On failure (ErrorKind::Io) nothing is
// left behind.
Result<std::string> WriteUniqueFile(const std::string& pattern,
                                    std::span<const std::uint8_t> bytes);

}  // namespace qvm
