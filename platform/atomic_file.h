// Whole-file reads and crash-safe whole-file writes for the user's files (settings,
// macro files, backups). A write goes to a temporary file in the same folder, is flushed
// to disk and then renamed over the old file, so a crash, a full disk or a folder that
// refuses the write never leaves a half-written or missing file behind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/result.h"

namespace qvm {

// Files larger than this are refused rather than read into memory.
inline constexpr std::size_t kMaxReadFileBytes = 64u << 20;

// The file's bytes; std::nullopt when the file does not exist. Any other failure
// (permissions, a folder, an oversized file) is an error naming the path.
Result<std::optional<std::vector<std::uint8_t>>> ReadFileIfExists(const std::string& path);

// Replaces path with bytes atomically. An existing file keeps its permission bits; a new
// file gets 0644. On any failure the old file is untouched and the temporary removed.
Status WriteFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes);

}  // namespace qvm
