// The text form of macros: one instruction per line, for people and scripts. Formatting
// and parsing round-trip byte for byte: ParseMacroText(FormatMacroText(items)) gives
// items whose bytes (EncodeMacroCode) equal those of the original list, for every list,
// including invalid opcodes and items of stray bytes.
//
// Lines (keywords and names are case-insensitive; "#" starts a comment, blank lines are
// ignored; numbers are decimal or 0x-hexadecimal):
//   key-down NAME | key-up NAME        0x83 / 0x84; a key name or a usage 0x00..0xFF
//   wait MS                            0x88 for 0..255, 0x89 for 256..65535
//   wait-long MS                       always 0x89 (0..65535), so a short 0x89 survives
//   button-down B... | button-up B...  0x20 / 0x40 | mask; B is left right middle b4 b5
//                                      for the mask bits 0x01 0x02 0x04 0x08 0x10
//   wheel N                            0x60 | N, N from -16 to 15
//   move DX DY                         0x80, relative, -32768..32767 each
//   move-to X Y                        0xC0, absolute, -32768..32767 each
//   move-to-unsigned X Y               0xA0, absolute, 0..65535 each
//   consumer-down NAME                 0x85 with a consumer name or a usage 0x1..0xFFFF
//   consumer-up                        0x85 00 00
//   end | stop                         0x00 / 0x01
//   mode-once | mode-loop | mode-firekey   0x04 / 0x05 / 0x06
//   jump ADDR | decrement-jump ADDR | set-acc VALUE   0x08 / 0x10 / 0x18, 0..65535
//   system N                           0xC0 + N, N from 1 to 15
//   op81 V | op82 V                    0x81 / 0x82 with one byte 0..255
//   raw XX [XX...]                     1 to 5 bytes in hex, taken exactly as written
// The button names follow the mask bits: b4 is bit 0x08 and b5 bit 0x10 (the device's
// own description texts call bit 0x08 "B5" and bit 0x10 "B4").
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "macro/macro_item.h"

namespace qvm {

// A slot holds at most 65535 bytes, whose text takes far less than this, comments
// included; a bigger text, from a file or standard input, is refused unread.
inline constexpr std::size_t kMaxMacroTextBytes = 4u << 20;

// One line per item, each ending in a line feed. Items that are not one whole valid
// instruction are written as raw bytes.
std::string FormatMacroText(std::span<const MacroItem> items);

// The items of a text; the first bad line fails the whole text with an error that names
// the line number and what was wrong. Operands out of range are errors, never clamped.
Result<std::vector<MacroItem>> ParseMacroText(std::string_view text);

// The items of a macro text as a file holds it, in any encoding editors save text in:
// UTF-8 with or without a byte-order mark, UTF-16 with one (see DecodeTextFile); line
// ends LF or CR LF.
Result<std::vector<MacroItem>> ParseMacroTextFile(std::span<const uint8_t> bytes);

}  // namespace qvm
