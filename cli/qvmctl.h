// qvmctl: the command-line tool. RunQvmctl is the whole program apart from main(), so
// tests can run it in-process with their own streams.
#pragma once

#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "platform/hid.h"
#include "platform/named_event.h"

namespace qvm::cli {

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitDevice = 1;  // the device failed or is missing
inline constexpr int kExitUsage = 2;   // bad arguments

// args excludes the program name; `in` answers the questions of reset and restore.
int RunQvmctl(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
              std::ostream& err);

// The same on devices the caller provides: every session of the run takes its backend
// from `backend` instead of --hid, --simulate or QVM_HID.
using BackendSource = std::function<Result<std::unique_ptr<HidBackend>>()>;
int RunQvmctl(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
              std::ostream& err, BackendSource backend);

// What a run takes from the world besides its streams, replaceable by tests.
struct QvmctlEnv {
    BackendSource backend;  // empty: --hid, --simulate or QVM_HID
    // Where the running desktop program's reload event is looked up: after a command
    // that may have changed the device, the macro library or the function library,
    // qvmctl pulses it, so that the program reloads and shows the change.
    EventFactory* events = &SystemEventFactory();
};
int RunQvmctl(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
              std::ostream& err, QvmctlEnv env);

}  // namespace qvm::cli
