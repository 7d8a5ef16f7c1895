// MemoryCache: a host-side copy of one device's configuration memory, so repeated
// reads of the same bytes do not go to the device while that device stays active.
// Bytes the host itself writes are stored but never served (validity 0): only bytes
// read back from the device are trusted.
#pragma once

#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <vector>

namespace qvm {

class MemoryCache {
  public:
    static constexpr uint32_t kSize = 70000;             // addresses 0 .. 69999
    static constexpr uint32_t kFirstCachedAddress = 32;  // the header is never cached

    MemoryCache();

    // Makes `path` the cached device, sets the enable flag and forgets every byte.
    void Activate(const std::string& path, bool enable);

    // Copies dest.size() bytes at `address` out of the cache. Succeeds only for the
    // cached path with the cache enabled, when every address is at least 32 and
    // valid. An empty request fails (there is nothing the cache could vouch for).
    bool Read(const std::string& path, uint32_t address, std::span<uint8_t> dest) const;

    // Stores `data` at `address` for the cached path (ignored for any other path).
    // Each byte's validity becomes `valid` at 32 and above and 0 below. Bytes past
    // 69999 are refused; the bytes inside are still stored, so no stale byte stays
    // valid. Returns false when the path is not the cached one or any byte was
    // refused.
    bool Update(const std::string& path, uint32_t address, std::span<const uint8_t> data,
                bool valid);

    std::string Path() const;
    bool Enabled() const;

  private:
    mutable std::mutex m_;
    std::string path_;
    bool enabled_ = false;
    std::vector<uint8_t> bytes_;
    std::vector<uint8_t> validity_;
};

}  // namespace qvm
