// Runs qvmctl in-process with its own streams.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "cli/qvmctl.h"

namespace qvm::cli {

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

inline Outcome Qvmctl(std::vector<std::string> args, const std::string& input = "") {
    std::istringstream in(input);
    std::ostringstream out, err;
    const int status = RunQvmctl(args, in, out, err);
    return {status, out.str(), err.str()};
}

}  // namespace qvm::cli
