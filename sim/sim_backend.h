// The in-process simulator backend: simulated devices behind the HID backend interface.
#pragma once

#include <memory>
#include <string>

#include "platform/hid.h"

namespace qvm {

// `devices` is the simulator's device list (empty: the default set, see README).
// `stateFolder`, when not empty, is where each simulated device's memory is loaded
// from at start and saved to, so changes survive a restart.
Result<std::unique_ptr<HidBackend>> MakeSimBackend(const std::string& devices,
                                                   const std::string& stateFolder);

}  // namespace qvm
