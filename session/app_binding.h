// What a binding of a program to a profile stores, checked the same way wherever a binding
// is made (qvmctl app bind, the binding dialog): the executable as the kernel names it for
// the running program, and a name that fits on one line of set.ini.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "base/result.h"
#include "session/settings.h"

namespace qvm {

// The slot for the executable `givenPath` under `name`, or under its display name when
// `name` is not given. Links are resolved, so that the path stored is the file the program
// runs from (what /proc/PID/exe names); the display name comes from the path as given,
// since desktop entries name the link. Refused (BadInput): a missing file, a folder or
// other non-file, a file without execute permission, a path or name with a line break
// (set.ini keeps one value a line) and an empty name.
Result<AppSlot> MakeAppSlot(const std::string& givenPath,
                            const std::optional<std::string>& name = std::nullopt);

}  // namespace qvm
