// Text conversions between the program's UTF-8 strings and the UTF-16 text that the
// devices, the settings files and the macro and backup files hold, and text made safe for
// a terminal. Nothing here throws or crashes on bad input: the conversions make every
// invalid sequence U+FFFD unless they say otherwise.
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

// Text files (settings, the program's ini files, macro texts) as people and programs
// write them: UTF-16LE or UTF-16BE after a byte-order mark; UTF-8 after its byte-order
// mark, or without one when the whole content is valid UTF-8; anything else is a legacy
// 8-bit file, read as Windows-1252 (Latin-1 with its printable 0x80..0x9F; the five bytes
// it leaves undefined keep their own code as U+0081, U+008D, U+008F, U+0090, U+009D), so
// every byte keeps a meaning and nothing becomes U+FFFD. After a UTF-8 byte-order mark, a
// byte that is no part of a valid sequence is read the same way.
struct DecodedText {
    std::u16string text;  // without the byte-order mark
    std::string problem;  // what could not be read as it stands; empty when all could
};
DecodedText DecodeTextFile(std::span<const std::uint8_t> bytes);

// Text that came from outside (names, file contents, paths) made safe to print on a
// terminal: ESC, CR, LF and tab as \e, \r, \n and \t; the other C0 controls and DEL as
// \xNN; C1 controls and invisible format characters (byte-order mark, zero-width and
// direction marks) as \uNNNN; bytes that are not UTF-8 as \xNN. Backslashes stay as they
// are. With KeepLineBreaks::kYes, LF is kept (for messages laid out in lines).
enum class KeepLineBreaks { kNo, kYes };
std::string EscapeForTerminal(std::string_view text, KeepLineBreaks keep = KeepLineBreaks::kNo);

}  // namespace qvm
