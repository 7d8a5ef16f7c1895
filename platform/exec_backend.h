// The device bridge, host side: the devices live in another program, started with
// /bin/sh -c COMMAND, which answers one request line with one answer line on its
// standard output (protocol version 1).
#pragma once

#include <memory>
#include <string>

#include "platform/hid.h"

namespace qvm {

// Starts COMMAND and says hello; fails with a clear message when the program cannot be
// started, dies, or does not answer "ok 1".
Result<std::unique_ptr<HidBackend>> MakeExecBackend(const std::string& command);

}  // namespace qvm
