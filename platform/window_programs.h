// The running programs that own top-level windows on the desktop, for binding one of them
// to a profile: each with its executable, a window title and, when the window has one, its
// icon.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/result.h"

namespace qvm {

// An icon as 32-bit ARGB pixels (alpha in the top byte), row by row.
struct ProgramIcon {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;  // width * height

    bool operator==(const ProgramIcon&) const = default;
};

struct WindowProgram {
    pid_t pid = 0;
    std::string executable;  // absolute, links resolved, as /proc/PID/exe names it
    std::string title;       // the title of the first of its windows
    std::optional<ProgramIcon> icon;
};

// One program a line, in the desktop's window order, each executable once and this
// program itself left out. An error saying why where the desktop cannot list its windows
// (no X display, Wayland without Xwayland, a build without the Linux platform).
Result<std::vector<WindowProgram>> ListWindowPrograms(const std::string& display = {});

// Window icons come as a run of images, each its width, its height and width * height
// ARGB pixels, one item each. The image whose larger side is closest to `wanted` (the
// larger image on a tie, as shrinking looks better than growing); none when the run holds
// no whole image. A malformed image ends the run: the images before it still count.
std::optional<ProgramIcon> PickWindowIcon(std::span<const unsigned long> items, int wanted);

}  // namespace qvm
