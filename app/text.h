// Text conversions between the program's UTF-8 strings and the UTF-16 text that the
// devices, the settings files and the macro and backup files hold. Nothing here throws
// or crashes on bad input: every invalid sequence becomes U+FFFD.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qvm {

inline constexpr char16_t kReplacementChar = 0xFFFD;

// UTF-8 -> UTF-16. Overlong forms, encoded surrogates, code points above U+10FFFF,
// stray continuation bytes and truncated sequences each give one U+FFFD.
std::u16string Utf8ToUtf16(std::string_view utf8);

// UTF-16 -> UTF-8. A lone surrogate gives U+FFFD.
std::string Utf16ToUtf8(std::u16string_view utf16);

// Number of UTF-16 code units the UTF-8 text takes (what a UTF-16 length limit counts).
std::size_t CountUtf16Units(std::string_view utf8);

// Keeps at most maxUnits UTF-16 code units of the UTF-8 text; a surrogate pair that the
// cut would split is dropped whole.
std::string TruncateUtf16Units(std::string_view utf8, std::size_t maxUnits);

// UTF-16 code units <-> little-endian / big-endian bytes, without a byte-order mark.
// Decoding ignores a final odd byte.
std::vector<std::uint8_t> EncodeUtf16Le(std::u16string_view text);
std::u16string DecodeUtf16Le(std::span<const std::uint8_t> bytes);
std::u16string DecodeUtf16Be(std::span<const std::uint8_t> bytes);

// Fixed-size text fields as the devices and binary files store them: UTF-16LE, cut to
// whole characters that fit, the rest of the field zero-filled.
std::vector<std::uint8_t> EncodeUtf16LeField(std::string_view utf8, std::size_t fieldBytes);
// Reads a field up to its first NUL code unit (or its end) and returns UTF-8.
std::string DecodeUtf16LeField(std::span<const std::uint8_t> bytes);

}  // namespace qvm
