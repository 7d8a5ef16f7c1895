#include "device/memory_cache.h"

#include <algorithm>

namespace qvm {

MemoryCache::MemoryCache() : bytes_(kSize, 0), validity_(kSize, 0) {}

void MemoryCache::Activate(const std::string& path, bool enable) {
    std::lock_guard lock(m_);
    path_ = path;
    enabled_ = enable;
    std::fill(validity_.begin(), validity_.end(), 0);
}

bool MemoryCache::Read(const std::string& path, uint32_t address, std::span<uint8_t> dest) const {
    std::lock_guard lock(m_);
    if (!enabled_ || path != path_ || dest.empty()) return false;
    if (address < kFirstCachedAddress) return false;
    // 64-bit arithmetic: address + size cannot wrap.
    if (uint64_t{address} + dest.size() > kSize) return false;
    for (std::size_t i = 0; i < dest.size(); ++i) {
        if (!validity_[address + i]) return false;
    }
    std::copy_n(bytes_.begin() + address, dest.size(), dest.begin());
    return true;
}

bool MemoryCache::Update(const std::string& path, uint32_t address, std::span<const uint8_t> data,
                         bool valid) {
    std::lock_guard lock(m_);
    if (path != path_) return false;
    bool allStored = true;
    for (std::size_t i = 0; i < data.size(); ++i) {
        const uint64_t at = uint64_t{address} + i;
        if (at >= kSize) {
            allStored = false;
            break;
        }
        bytes_[at] = data[i];
        validity_[at] = (valid && at >= kFirstCachedAddress) ? 1 : 0;
    }
    return allStored;
}

std::string MemoryCache::Path() const {
    std::lock_guard lock(m_);
    return path_;
}

bool MemoryCache::Enabled() const {
    std::lock_guard lock(m_);
    return enabled_;
}

}  // namespace qvm
