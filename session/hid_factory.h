// The HID backend a program runs on, chosen by name: the Linux kernel's devices, the
// simulated devices (their memory kept in the user's data folder), or a device bridge
// served by another program.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "base/result.h"
#include "platform/clock.h"
#include "platform/hid.h"
#include "platform/hid_trace.h"
#include "sim/sim_state_store.h"

namespace qvm {

// Builds the backend named by `spec`: "linux", "sim[:DEVICES]" or "exec:COMMAND".
// The error message names the accepted forms when the name is not understood.
Result<std::unique_ptr<HidBackend>> MakeHidBackend(const std::string& spec);

// Which devices a program works on.
struct BackendChoice {
    // The simulated devices (grammar of sim_grammar.h; empty: the default set), whose
    // memory is kept in the "sim" folder of the user data folder. Wins over hidBackend.
    std::optional<std::string> simulate;
    std::string hidBackend;      // "linux", "sim[:DEVICES]", "exec:COMMAND"; empty: "linux"
    std::string userDataFolder;  // empty: UserDataFolder()
    // Told what becomes of the simulated devices' state files; without it the notes of
    // the start wait in the backend's LoadNotes() and the later ones go to standard error.
    SimStateReporter simulatorNotes;
    // Where every exchange with the devices is written (--trace, QVM_TRACE); null: nowhere.
    std::shared_ptr<TraceLog> trace;
};

// Opens the backend `choice` names; `clock` paces the simulated devices.
Result<std::unique_ptr<HidBackend>> OpenBackend(const BackendChoice& choice, Clock& clock);

}  // namespace qvm
