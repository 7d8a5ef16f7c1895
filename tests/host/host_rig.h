// Vendor report bytes for the host tests.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <utility>
#include <vector>

namespace qvm::test {

using Bytes = std::vector<std::uint8_t>;

// An n-byte report with the given bytes set; sealed: with the trailer 9 and the checksum
// that makes bytes 1..n-1 XOR to zero.
inline Bytes ReportBytes(std::initializer_list<std::pair<std::size_t, int>> set, bool sealed = true,
                         std::size_t n = 11) {
    Bytes r(n, 0);
    for (auto [at, value] : set) r[at] = static_cast<std::uint8_t>(value);
    if (sealed) r[n - 2] = 9;
    for (std::size_t i = 1; sealed && i + 1 < n; ++i) r[n - 1] ^= r[i];
    return r;
}

inline Bytes Pointer(bool contact, int dx, int dy, int tilt) {
    return ReportBytes({{0, 0x0B},
                        {1, 0x0B},
                        {2, contact},
                        {4, dx},
                        {5, dx >> 8},
                        {6, dy},
                        {7, dy >> 8},
                        {9, tilt}},
                       false);
}

}  // namespace qvm::test
