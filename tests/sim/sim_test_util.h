// Helpers of the simulator tests: requests in both frame sizes.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <utility>
#include <vector>

#include "sim/sim_mouse.h"

namespace qvm::test {

using Bytes = std::vector<uint8_t>;

// XOR of bytes 1 to L-2, for building requests in bulk. Expected replies are never built
// with it: they are written out byte by byte.
inline uint8_t TestCheck(const Bytes& frame) {
    uint8_t x = 0;
    for (size_t i = 1; i + 1 < frame.size(); ++i) x ^= frame[i];
    return x;
}

// A 9-byte request from bytes 1 to 6 (byte 7 is 0x12, byte 8 the check byte).
inline Bytes Short(std::initializer_list<uint8_t> body) {
    Bytes frame(9, 0);
    int i = 1;
    for (uint8_t b : body) frame[i++] = b;
    frame[7] = 0x12;
    frame[8] = TestCheck(frame);
    return frame;
}

// A 64-byte request from bytes 1 onward, report ID 1, check byte at 63.
inline Bytes LongRequest(std::initializer_list<uint8_t> body) {
    Bytes frame(64, 0);
    frame[0] = 0x01;
    int i = 1;
    for (uint8_t b : body) frame[i++] = b;
    frame[63] = TestCheck(frame);
    return frame;
}

}  // namespace qvm::test
