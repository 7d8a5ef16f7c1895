// The qvmctl commands. Each takes its own arguments (after the command words) and
// writes results to `out`, errors to `err`; it returns an exit status of qvmctl.h.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "cli/session.h"

namespace qvm::cli {

struct CommandContext {
    const GlobalOptions& options;
    const std::vector<std::string>& args;
    std::ostream& out;
    std::ostream& err;
};

struct CommandSpec {
    const char* words;    // "list", "mem read", ...
    const char* usage;    // arguments after the words
    const char* summary;  // one line for the overview
    const char* help;     // the rest of COMMAND --help
    int minArgs;
    int maxArgs;
    int (*run)(CommandContext&);
};

// Every command, in the order the overview lists them.
const std::vector<CommandSpec>& Commands();

// Prints "qvmctl: MESSAGE" and returns `status`.
int Fail(std::ostream& err, int status, const std::string& message);

}  // namespace qvm::cli
