// Saved simulator state on disk: whole-file reads and atomic replacement (a temporary
// file in the same folder, flushed, then renamed over the old one), so a crash or a full
// disk never leaves a half-written state file.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/result.h"

namespace qvm {

// The whole file; an error names the file and the reason (missing, unreadable).
Result<std::vector<uint8_t>> ReadStateFile(const std::string& path);

// Creates the folder when needed and replaces `path` atomically with `bytes`.
Status WriteStateFileAtomic(const std::string& path, std::span<const uint8_t> bytes);

}  // namespace qvm
