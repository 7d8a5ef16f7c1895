// Frame: one feature report as it travels to or from a configuration interface.
// Short interfaces carry 9 bytes, long ones 64; the buffer always holds 64 so one
// type serves both, and the transport uses only the first `length` bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>

namespace qvm {

inline constexpr int kShortFrame = 9;
inline constexpr int kLongFrame = 64;

struct Frame {
    static constexpr std::size_t kCapacity = kLongFrame;

    std::array<uint8_t, kCapacity> bytes{};

    Frame() = default;
    // Bytes from byte 0 on; the rest stays zero. More than 64 bytes are dropped.
    Frame(std::initializer_list<uint8_t> init) {
        std::size_t i = 0;
        for (uint8_t b : init) {
            if (i == kCapacity) break;
            bytes[i++] = b;
        }
    }

    uint8_t& operator[](std::size_t i) { return bytes.at(i); }
    uint8_t operator[](std::size_t i) const { return bytes.at(i); }

    // The first `length` bytes (clamped to 0..64).
    std::span<uint8_t> Span(int length = kLongFrame) { return {bytes.data(), Clamp(length)}; }
    std::span<const uint8_t> Span(int length = kLongFrame) const {
        return {bytes.data(), Clamp(length)};
    }

    void Clear() { bytes.fill(0); }

    // "00 01 12 ..." of the first `length` bytes, for messages and test output.
    std::string Hex(int length = kLongFrame) const {
        static constexpr char kDigits[] = "0123456789abcdef";
        std::string out;
        for (std::size_t i = 0; i < Clamp(length); ++i) {
            if (i) out += ' ';
            out += kDigits[bytes[i] >> 4];
            out += kDigits[bytes[i] & 0x0F];
        }
        return out;
    }

    bool operator==(const Frame&) const = default;

  private:
    static std::size_t Clamp(int length) {
        if (length < 0) return 0;
        return length > kLongFrame ? kCapacity : static_cast<std::size_t>(length);
    }
};

}  // namespace qvm
