// The window the user works in (the foreground window) and the program that owns it, for
// the profiles that follow the program in use.
//
// A watcher is read on the thread that owns it (the window's): its descriptor becomes
// readable when the foreground may have changed, and Read tells the foreground as it is
// now. Nothing polls: where the desktop gives no such notice, there is no watcher, and the
// factory says why.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>

#include "base/result.h"

namespace qvm {

struct Foreground {
    unsigned long window = 0;  // 0: no window has the focus
    pid_t pid = 0;             // 0: the window does not name its process
    bool operator==(const Foreground&) const = default;
};

class ForegroundWatcher {
  public:
    virtual ~ForegroundWatcher() = default;

    // Readable when the foreground may have changed.
    virtual int Fd() const = 0;
    // Takes what made the descriptor readable, without blocking, and tells the foreground
    // window now; an error when it cannot be told at the moment.
    virtual Result<Foreground> Read() = 0;
};

// The watcher of `display` ("" for $DISPLAY) on X11. None, with the reason, without an X
// display (Wayland without Xwayland, a console) or in a build without the Linux platform.
Result<std::unique_ptr<ForegroundWatcher>> OpenForegroundWatcher(const std::string& display = {});

// Minimises the foreground window (the mice's "minimise the active window" command), on
// `display` ("" for $DISPLAY). An error says why not (no X display, no window in use).
Status MinimiseForegroundWindow(const std::string& display = {});

// The executable that process `pid` runs, as the kernel names it (the /proc/PID/exe link:
// an absolute path with links resolved), without the " (deleted)" mark of a replaced
// executable. An error when the process is gone or not ours to look at.
Result<std::string> ProcessExecutable(pid_t pid);

// The file name of the executable that process `pid` runs (the last part of the
// /proc/PID/exe link), without the " (deleted)" mark of a replaced executable. An error
// when the process is gone or not ours to look at.
Result<std::string> ProcessProgramName(pid_t pid);

}  // namespace qvm
