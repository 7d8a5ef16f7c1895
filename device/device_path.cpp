#include "device/device_path.h"

namespace qvm {

namespace {
constexpr std::size_t kMarkPosition = 1;
constexpr char kMark = '?';
constexpr char kMarkReplacement = '\\';
}  // namespace

std::string NormaliseDevicePath(std::string_view path) {
    std::string out(path);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    if (out.size() > kMarkPosition && out[kMarkPosition] == kMark) {
        out[kMarkPosition] = kMarkReplacement;
    }
    return out;
}

std::size_t TextPosition(std::string_view path, std::string_view text) {
    return path.find(text);
}

bool HasTextFrom(std::string_view path, std::string_view text, std::size_t minPosition) {
    const std::size_t at = TextPosition(path, text);
    return at != std::string_view::npos && at >= minPosition;
}

}  // namespace qvm
