#include "platform/linux/x11_window_programs.h"

#include <X11/Xatom.h>
#include <unistd.h>

#include <set>
#include <string_view>

#include "platform/foreground.h"
#include "platform/linux/x11_display.h"  // last: Xlib's macros

namespace qvm {
namespace {

constexpr std::string_view kWithoutDisplay = "the programs' windows cannot be listed";
// More windows than any desktop holds; the list is cut there.
constexpr long kMaxClients = 4096;
// The icon property of one window: a few images up to 256 x 256 pixels.
constexpr long kMaxIconItems = 4 * 256 * 256;
constexpr int kIconSize = 32;

struct Atoms {
    Atom clientList;
    Atom pid;
    Atom name;
    Atom utf8;
    Atom icon;
};

std::string WindowTitle(Display* display, Window window, const Atoms& atoms) {
    std::string title = ReadTextProperty(display, window, atoms.name, atoms.utf8);
    if (title.empty()) title = ReadTextProperty(display, window, XA_WM_NAME, XA_STRING);
    return title;
}

}  // namespace

Result<std::vector<WindowProgram>> ListX11WindowPrograms(const std::string& display) {
    auto opened = OpenX11Display(display, kWithoutDisplay);
    if (!opened) return opened.error();
    Display* d = opened->get();
    const Atoms atoms{XInternAtom(d, "_NET_CLIENT_LIST", False),
                      XInternAtom(d, "_NET_WM_PID", False), XInternAtom(d, "_NET_WM_NAME", False),
                      XInternAtom(d, "UTF8_STRING", False), XInternAtom(d, "_NET_WM_ICON", False)};
    const auto clients =
        ReadLongProperty(d, DefaultRootWindow(d), atoms.clientList, XA_WINDOW, kMaxClients);
    const pid_t self = ::getpid();
    std::vector<WindowProgram> programs;
    std::set<std::string> seen;
    for (const unsigned long window : clients) {
        const auto pid = ReadLongProperty(d, window, atoms.pid, XA_CARDINAL, 1);
        if (pid.empty() || pid.front() == 0) continue;
        WindowProgram program;
        program.pid = static_cast<pid_t>(pid.front());
        if (program.pid == self) continue;
        // A window whose process is gone, or another user's, names no program to bind.
        auto executable = ProcessExecutable(program.pid);
        if (!executable || !seen.insert(*executable).second) continue;
        program.executable = std::move(executable).value();
        program.title = WindowTitle(d, window, atoms);
        const auto icons = ReadLongProperty(d, window, atoms.icon, XA_CARDINAL, kMaxIconItems);
        program.icon = PickWindowIcon(icons, kIconSize);
        programs.push_back(std::move(program));
    }
    return programs;
}

}  // namespace qvm
