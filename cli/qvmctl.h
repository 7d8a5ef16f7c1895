// qvmctl: the command-line tool. RunQvmctl is the whole program apart from main(), so
// tests can run it in-process with their own streams.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace qvm::cli {

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitDevice = 1;  // the device failed or is missing
inline constexpr int kExitUsage = 2;   // bad arguments

// args excludes the program name; `in` answers the questions of reset and restore.
int RunQvmctl(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
              std::ostream& err);

}  // namespace qvm::cli
