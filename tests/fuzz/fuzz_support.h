// Helpers shared by the fuzz targets: a check that traps (so libFuzzer and the sanitizers
// keep the input) and a scratch folder for the readers that take a path.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>
#include <string_view>
#include <system_error>

namespace qvm::fuzz {

inline void Require(bool condition) {
    if (!condition) __builtin_trap();
}

// One folder per process under $TMPDIR, removed when the process ends; the readers that
// only take a path are given the input as a file in it.
class ScratchFolder {
  public:
    ScratchFolder() {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/qvm-fuzz-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) std::abort();
        path_ = pattern;
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& Path() const { return path_; }

    // Writes bytes to NAME in the folder (folders on the way are made) and returns its path.
    std::string Write(std::string_view name, std::span<const uint8_t> bytes) const {
        const std::filesystem::path file = std::filesystem::path(path_) / name;
        std::filesystem::create_directories(file.parent_path());
        // A plain write: the atomic replace syncs to disk, far too slow for every input.
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        if (!out) std::abort();
        return file.string();
    }

  private:
    std::string path_;
};

inline const ScratchFolder& Scratch() {
    static const ScratchFolder folder;
    return folder;
}

}  // namespace qvm::fuzz
