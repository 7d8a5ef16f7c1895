// Device paths: the only device identity in the system. Every path is normalised once,
// here, before it is compared, stored or used as a key.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qvm {

// Lower case; a "?" in second position becomes a backslash.
std::string NormaliseDevicePath(std::string_view path);

// Character position of the first occurrence of `text` in `path`, or npos.
std::size_t TextPosition(std::string_view path, std::string_view text);

// True when the first occurrence of `text` in `path` starts at `minPosition` or later.
// Identity texts at the very start of a path are not the vendor's or interface's field.
bool HasTextFrom(std::string_view path, std::string_view text, std::size_t minPosition);

// Identity texts and where they must sit.
inline constexpr std::string_view kVendorText = "vid_0c45";
inline constexpr std::size_t kVendorTextMinPosition = 2;
inline constexpr std::size_t kInterfaceTextMinPosition = 3;
inline constexpr std::string_view kShortInterfaceText = "mi_00";

// The configuration interfaces: interface text in the path, then the capabilities the
// interface must declare.
struct ConfigInterfaceRule {
    std::string_view text;
    int featureLength;
    uint16_t usagePage;
    uint16_t usage;
};
inline constexpr std::array<ConfigInterfaceRule, 3> kConfigInterfaces = {{
    {"mi_00", 9, 0x0001, 2},
    {"mi_01", 64, 0xFF18, 1},
    {"mi_02", 64, 0xFF18, 1},
}};
inline constexpr int kShortFeatureLength = 9;
inline constexpr int kLongFeatureLength = 64;

// The keyboards' report-pipe interface.
inline constexpr uint16_t kKeyboardUsagePage = 0x0001;
inline constexpr uint16_t kKeyboardUsage = 0;
inline constexpr int kKeyboardOutputLength = 32;

}  // namespace qvm
