// Saved simulator state on disk: a bounded read that never blocks, and atomic replacement
// (a temporary file in the same folder, flushed, then renamed over the old one), so a
// crash or a full disk never leaves a half-written state file.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "base/result.h"

namespace qvm {

// Reads a state file without ever blocking: only a regular file is read, so a FIFO, a
// device or a folder in its place is refused ("not a regular file (a FIFO)") without being
// opened for reading. At most `limit` + 1 bytes are read, so a longer file shows as longer
// than `limit` without being read whole. An error's message is the reason alone; the
// caller names the file.
Result<std::vector<uint8_t>> ReadStateFile(const std::string& path, size_t limit);

// Creates the folder when needed and replaces `path` atomically with `bytes`. An error's
// message is the reason alone, except for a folder that cannot be made, which it names.
Status WriteStateFileAtomic(const std::string& path, std::span<const uint8_t> bytes);

}  // namespace qvm
