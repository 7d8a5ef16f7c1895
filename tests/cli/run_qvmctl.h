// Runs qvmctl in-process with its own streams, and looks into what it wrote.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "cli/qvmctl.h"
#include "support/fake_named_event.h"

namespace qvm::cli {

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

inline Outcome Qvmctl(std::vector<std::string> args, const std::string& input = "") {
    std::istringstream in(input);
    std::ostringstream out, err;
    // Its pulses after a change go to events of its own, never to a program that runs on
    // this machine.
    test::FakeEventRegistry events;
    QvmctlEnv env;
    env.events = &events;
    const int status = RunQvmctl(args, in, out, err, std::move(env));
    return {status, out.str(), err.str()};
}

// The arguments of a qvmctl run on simulated devices whose memory the user folder keeps.
inline std::vector<std::string> OnSim(const std::string& devices, std::vector<std::string> args) {
    args.insert(args.begin(), "--simulate=" + devices);
    return args;
}

// The same on the simulated class C mouse.
inline std::vector<std::string> OnG12(std::vector<std::string> args) {
    return OnSim("g12", std::move(args));
}

// The --hid value that has a qvm-sim of its own serve `devices` over the device bridge,
// their memory kept in the folder `state` (or nowhere).
inline std::string SimBridge(const std::string& devices, const std::string& state = "") {
    return std::string("exec:") + QVM_SIM_BINARY + (state.empty() ? "" : " --state " + state) +
           " " + devices;
}

// Whether qvmctl's output holds `part` somewhere.
inline bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

}  // namespace qvm::cli
