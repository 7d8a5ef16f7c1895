// Profiles that follow the program in use: each of the five stored application slots
// binds an executable to the profile of the same number, and when a bound program's window
// comes to the foreground, its profile becomes the mouse's current one.
//
// A running program is known by the file name of its executable. A slot matches it when
// the slot's path ends with that name (compared case-sensitively), so a slot ".../xgame"
// matches a running "game" too; an empty slot never matches, and of several matching
// slots the lowest wins.
#pragma once

#include <array>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/foreground.h"
#include "session/device_hub.h"
#include "session/settings.h"

namespace qvm {

// The profile (0-based slot index) bound to the program called `programName`, if any; only
// the stored slots are looked at.
std::optional<int> MatchAppSlot(std::span<const AppSlot> slots, std::string_view programName);

// The decision made for one foreground report, apart from reading the devices and files.
class ForegroundSwitch {
  public:
    // Whether `window` is a new foreground window; it is then remembered. The same
    // window reported again, and no window at all, are not new: nothing is switched for
    // them, even when the profile was changed by hand meanwhile.
    bool NewWindow(unsigned long window);
    // Forgets the remembered window, so that it counts as new when reported again (the
    // decision for it could not be made yet).
    void Forget() { remembered_ = 0; }
    // The profile to switch to for the matched slot: none when nothing matched or the
    // current profile is already the matched one.
    static std::optional<int> ProfileToSelect(std::optional<int> matched, int currentProfile);

  private:
    unsigned long remembered_ = 0;
};

// What happened to one foreground report.
struct AppSwitchResult {
    std::optional<int> profile;  // the profile a switch was queued for
    std::string program;         // the foreground program's name, empty when not read
};

// Owns the foreground watcher and the slots, and switches the hub's mouse. Lives on the
// thread that serves the watcher's descriptor (the window's); the hub's work runs on the
// hub's own worker.
class AppProfiles {
  public:
    using ProgramNameFn = Result<std::string> (*)(pid_t pid);

    // `watcher` may be null: Unavailable() then tells why (from `whyNone`).
    AppProfiles(DeviceHub& hub, std::unique_ptr<ForegroundWatcher> watcher, std::string whyNone,
                ProgramNameFn programName = &ProcessProgramName);

    // The watcher of this desktop, or the reason there is none.
    static std::unique_ptr<AppProfiles> OpenForDesktop(DeviceHub& hub);

    // The slots as set.ini holds them; read again after every change of the bindings.
    void SetSlots(std::span<const AppSlot> slots);

    // The descriptor to watch for readability; -1 when there is no watcher.
    int Fd() const;
    // Empty while the watcher works; else why programs cannot switch profiles here (no
    // watcher, or its last read failed).
    const std::string& Unavailable() const { return unavailable_; }

    // Called when Fd() is readable: reads the foreground and runs the step below.
    AppSwitchResult HandleReadable();
    // The step for one foreground window: a new window whose program is bound to a
    // profile other than the current one queues the switch on the hub. While no mouse is
    // loaded the window is not remembered: call HandleReadable() again once one is.
    AppSwitchResult OnForeground(const Foreground& foreground);

  private:
    DeviceHub& hub_;
    std::unique_ptr<ForegroundWatcher> watcher_;
    std::string unavailable_;
    ProgramNameFn programName_;
    std::array<AppSlot, kStoredAppSlots> slots_;
    ForegroundSwitch switch_;
};

}  // namespace qvm
