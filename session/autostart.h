// "Start with the desktop": an XDG autostart entry that the desktop session runs at
// login. The entry starts the program hidden ("/hide"), so it waits in the tray.
//
// The entry is ours when it sits at AutostartFilePath(); the user (or a settings tool)
// may keep the file but switch it off with Hidden=true, which counts as off.
#pragma once

#include <string>
#include <string_view>

#include "base/result.h"

namespace qvm {

inline constexpr std::string_view kAutostartFileName = "qvm-gaming.desktop";

// $XDG_CONFIG_HOME (when set and absolute, else ~/.config) + /autostart/qvm-gaming.desktop.
std::string AutostartFilePath();

// True when the entry exists and is not switched off with Hidden=true.
bool AutostartEnabled();

// on: writes the entry atomically (creating the autostart folder) so that it starts
// `executable` with "/hide"; executable must be an absolute path. off: removes the entry
// (a missing entry is fine). Errors name the file and the reason.
Status SetAutostart(bool on, const std::string& executable);

// One argument of a desktop entry's Exec key: as it is when it holds no reserved
// character, else in double quotes with ", `, $ and \ escaped; then escaped once more
// as a string value, and % doubled.
std::string QuoteExecArgument(std::string_view argument);

}  // namespace qvm
