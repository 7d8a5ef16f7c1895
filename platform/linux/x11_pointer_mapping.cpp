// What the X11 pointer code works out without an X connection: the kind of session, and a
// pointer's USB vendor from the kernel's record of its event node.
#include <charconv>
#include <fstream>
#include <string>
#include <string_view>

#include "platform/linux/x11_pointer_acceleration.h"

namespace qvm {
namespace {

constexpr std::string_view kInputNodeFolder = "/dev/input/";
constexpr int kHexBase = 16;

bool NonEmpty(const char* text) {
    return text != nullptr && *text != '\0';
}

}  // namespace

PointerSession DetectPointerSession(const char* sessionType, const char* waylandDisplay,
                                    const char* x11Display) {
    if (NonEmpty(sessionType) && std::string_view(sessionType) == "wayland") {
        return PointerSession::kWayland;
    }
    if (NonEmpty(waylandDisplay)) return PointerSession::kWayland;
    return NonEmpty(x11Display) ? PointerSession::kX11 : PointerSession::kNone;
}

std::optional<std::uint16_t> InputNodeVendor(std::string_view node, const std::string& sysRoot) {
    if (!node.starts_with(kInputNodeFolder)) return std::nullopt;
    const std::string_view name = node.substr(kInputNodeFolder.size());
    // Only a plain node name may become part of the path below.
    if (name.empty() || name.find('/') != std::string_view::npos || name.starts_with('.')) {
        return std::nullopt;
    }
    std::ifstream file(sysRoot + "/class/input/" + std::string(name) + "/device/id/vendor");
    std::string text;
    if (!(file >> text)) return std::nullopt;
    unsigned value = 0;
    const auto [end, error] =
        std::from_chars(text.data(), text.data() + text.size(), value, kHexBase);
    if (error != std::errc() || end != text.data() + text.size() || value > 0xFFFF) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(value);
}

}  // namespace qvm
