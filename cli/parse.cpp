#include "cli/parse.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace qvm::cli {
namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool IsSeparator(char c) {
    return c == ' ' || c == '\t' || c == ':' || c == '-';
}

}  // namespace

Result<long long> ParseNumber(const std::string& text, long long min, long long max,
                              const std::string& what) {
    const auto bad = [&] {
        return MakeError("invalid " + what + " '" + text +
                         "': expected a number (decimal, or hexadecimal with 0x)");
    };
    const bool negative = !text.empty() && text[0] == '-';
    std::size_t pos = !text.empty() && (negative || text[0] == '+') ? 1 : 0;
    int base = 10;
    if (text.size() > pos + 2 && text[pos] == '0' &&
        (text[pos + 1] == 'x' || text[pos + 1] == 'X')) {
        base = 16;
        pos += 2;
    }
    if (pos == text.size()) return bad();
    long long value = 0;
    for (; pos < text.size(); ++pos) {
        const int digit = HexValue(text[pos]);
        if (digit < 0 || digit >= base) return bad();
        if (value <= max) value = value * base + digit;  // stops growing far from overflow
    }
    const char* why = nullptr;
    if (negative && value != 0) {
        why = " is negative: allowed ";
    } else if (value < min || value > max) {
        why = " is out of range: allowed ";
    }
    if (why != nullptr) {
        // The range is echoed in hexadecimal only to a user who wrote hexadecimal.
        char range[96];
        if (base == 16) {
            std::snprintf(range, sizeof range, "0x%llx..0x%llx", min, max);
        } else {
            std::snprintf(range, sizeof range, "%lld..%lld", min, max);
        }
        return MakeError(what + " " + text + why + range);
    }
    return value;
}

bool LooksLikeNumber(const std::string& text) {
    const std::size_t first = !text.empty() && (text[0] == '-' || text[0] == '+') ? 1 : 0;
    return first < text.size() && text[first] >= '0' && text[first] <= '9';
}

Result<std::vector<uint8_t>> ParseHexBytes(const std::string& text) {
    std::string_view s = text;
    if (s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) s.remove_prefix(2);
    std::vector<uint8_t> bytes;
    std::size_t i = 0;
    while (i < s.size()) {
        if (IsSeparator(s[i])) {
            ++i;
            continue;
        }
        const int hi = HexValue(s[i]);
        const int lo = i + 1 < s.size() ? HexValue(s[i + 1]) : -1;
        if (hi < 0 || lo < 0) {
            return MakeError("malformed hex '" + text +
                             "': expected pairs of hex digits such as 0a1b2c");
        }
        bytes.push_back(static_cast<uint8_t>(hi << 4 | lo));
        i += 2;
    }
    if (bytes.empty()) return MakeError("malformed hex '" + text + "': no bytes given");
    return bytes;
}

bool IsWord(std::string_view text, std::string_view word) {
    return std::equal(text.begin(), text.end(), word.begin(), word.end(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) ==
               std::tolower(static_cast<unsigned char>(b));
    });
}

Result<bool> ParseOnOff(const std::string& text, const std::string& what) {
    if (IsWord(text, "on") || text == "1") return true;
    if (IsWord(text, "off") || text == "0") return false;
    return MakeError(ErrorKind::BadInput, what + ": expected on or off, not '" + text + "'");
}

Result<Rgb> ParseColour(const std::string& text) {
    const std::string hex = text.starts_with('#') ? text.substr(1) : text;
    const bool digits = hex.size() == 6 && std::all_of(hex.begin(), hex.end(),
                                                       [](char c) { return HexValue(c) >= 0; });
    if (!digits) {
        return MakeError(ErrorKind::BadInput, "colour '" + text + "': expected #RRGGBB");
    }
    const auto channel = [&](std::size_t at) {
        return static_cast<uint8_t>(HexValue(hex[at]) << 4 | HexValue(hex[at + 1]));
    };
    return Rgb{channel(0), channel(2), channel(4)};
}

std::string ColourText(const Rgb& colour) {
    char text[16];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", colour.red, colour.green, colour.blue);
    return text;
}

std::string FormatBytes(std::span<const uint8_t> bytes) {
    std::string out;
    char cell[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(cell, sizeof cell, i ? " %02x" : "%02x", bytes[i]);
        out += cell;
    }
    return out;
}

std::string FormatDump(uint32_t address, std::span<const uint8_t> bytes) {
    constexpr std::size_t kPerLine = 16;
    std::string out;
    char head[16];
    for (std::size_t off = 0; off < bytes.size(); off += kPerLine) {
        std::snprintf(head, sizeof head, "%04x: ", static_cast<unsigned>(address + off));
        out += head;
        out += FormatBytes(bytes.subspan(off, std::min(kPerLine, bytes.size() - off)));
        out += '\n';
    }
    return out;
}

}  // namespace qvm::cli
