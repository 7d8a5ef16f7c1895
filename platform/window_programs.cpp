#include "platform/window_programs.h"

#include <cstdlib>

#ifdef QVM_HAVE_LINUX_HID
#include "platform/linux/x11_window_programs.h"
#endif

namespace qvm {
namespace {

// Bigger than any icon a window manager shows; a larger side is taken as garbage.
constexpr unsigned long kMaxIconSide = 1024;

}  // namespace

Result<std::vector<WindowProgram>> ListWindowPrograms(const std::string& display) {
#ifdef QVM_HAVE_LINUX_HID
    return ListX11WindowPrograms(display);
#else
    (void)display;
    return MakeError(ErrorKind::Other,
                     "this build leaves out the Linux platform, which lists the programs' windows");
#endif
}

std::optional<ProgramIcon> PickWindowIcon(std::span<const unsigned long> items, int wanted) {
    std::optional<std::size_t> best;  // where the chosen image's size items start
    int bestDistance = 0;
    int bestSide = 0;
    std::size_t at = 0;
    while (items.size() - at >= 2) {
        const unsigned long width = items[at];
        const unsigned long height = items[at + 1];
        if (width == 0 || height == 0 || width > kMaxIconSide || height > kMaxIconSide) break;
        const std::size_t count = width * height;
        if (items.size() - at - 2 < count) break;
        const int side = static_cast<int>(std::max(width, height));
        const int distance = std::abs(side - wanted);
        if (!best || distance < bestDistance || (distance == bestDistance && side > bestSide)) {
            best = at;
            bestDistance = distance;
            bestSide = side;
        }
        at += 2 + count;
    }
    if (!best) return std::nullopt;
    ProgramIcon icon;
    icon.width = static_cast<int>(items[*best]);
    icon.height = static_cast<int>(items[*best + 1]);
    const auto pixels = items.subspan(
        *best + 2, static_cast<std::size_t>(icon.width) * static_cast<std::size_t>(icon.height));
    icon.pixels.reserve(pixels.size());
    // Each item carries one pixel in its low 32 bits.
    for (unsigned long item : pixels) icon.pixels.push_back(static_cast<uint32_t>(item));
    return icon;
}

}  // namespace qvm
