// Parsing and formatting of the values qvmctl takes and prints: numbers with an
// optional 0x prefix, byte strings in hex, and memory dumps.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "config/image_layout.h"

namespace qvm::cli {

// A whole number in decimal or, with a 0x prefix, hexadecimal, with an optional sign,
// within [min, max] (max far below the limit of long long). `what` names the value in the
// error message ("address", "length", ...), which says whether the number is negative,
// out of range or no number at all.
Result<long long> ParseNumber(const std::string& text, long long min, long long max,
                              const std::string& what);

// True for a word written as a number (digits after an optional sign), whatever its
// value: such a word is meant as a number and is never taken for a name.
bool LooksLikeNumber(const std::string& text);

// Hex digit pairs, either case, optionally separated by blanks, ':' or '-' between
// bytes ("0a1B2c", "0a 1b 2c", "0a:1b:2c"); a leading 0x is accepted.
Result<std::vector<uint8_t>> ParseHexBytes(const std::string& text);

// "AAAA: xx xx ..." lines, 16 bytes a line, lower-case hex; the address has at least four
// digits and more when it needs them.
std::string FormatDump(uint32_t address, std::span<const uint8_t> bytes);

// `text` and `word` are the same word, whatever the letter case of either.
bool IsWord(std::string_view text, std::string_view word);

// on/off (any case) or 1/0; `what` names the setting in the error.
Result<bool> ParseOnOff(const std::string& text, const std::string& what);

// A colour written #RRGGBB (the # may be left out, hex digits in either case).
Result<Rgb> ParseColour(const std::string& text);

// "#rrggbb".
std::string ColourText(const Rgb& colour);

// "xx xx xx" for a short byte string.
std::string FormatBytes(std::span<const uint8_t> bytes);

}  // namespace qvm::cli
