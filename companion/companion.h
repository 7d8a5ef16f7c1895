// qvm-companion: a companion on the command line. It finds computers that run the
// companion service, watches one's status stream and sends it requests, speaking only
// through the protocol's packet builders and decoders.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace qvm::companion {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // the network or the service failed
inline constexpr int kExitUsage = 2;    // arguments refused

// Runs one command line (without the program's name); output to `out`, messages to `err`.
int RunCompanion(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace qvm::companion
