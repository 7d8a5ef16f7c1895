// Length-prefixed strings of the binary user files (backup files and macro files).
//
// A length byte below 0xFF is the length itself and 8-bit characters follow. 0xFF
// followed by the 16-bit value 0xFFFE announces 16-bit characters; the real length then
// follows in the same scheme. Anywhere a length is expected, 0xFF followed by a 16-bit
// value is a long length. Lengths count characters; all values are little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "base/result.h"

namespace qvm {

inline constexpr uint8_t kLongLengthByte = 0xFF;
inline constexpr uint16_t kWideCharMarker = 0xFFFE;
// The longest string the scheme can carry.
inline constexpr std::size_t kMaxPrefixedLength = 0xFFFF;

struct PrefixedString {
    std::u16string text;  // 8-bit characters are read as code points 0..255
    bool wide = false;    // the file held 16-bit characters
};

// Reads the string at `offset` and moves offset past it. An error names what was cut
// short; offset is left unchanged then.
Result<PrefixedString> ReadPrefixedString(std::span<const uint8_t> bytes, std::size_t& offset);

// The bytes of a string with 16-bit characters (marker, length, UTF-16LE text). Texts
// longer than kMaxPrefixedLength units are an error.
Result<std::vector<uint8_t>> EncodePrefixedString(std::u16string_view text);

}  // namespace qvm
