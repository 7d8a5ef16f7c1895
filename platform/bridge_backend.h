// The device bridge's host side with its limits exposed, for callers (and tests) that
// need other time limits than the defaults or a server connected some other way than
// through a child process.
#pragma once

#include <memory>
#include <string>

#include "base/unique_fd.h"
#include "platform/bridge_channel.h"
#include "platform/hid.h"

namespace qvm {

// Starts `/bin/sh -c command` and says hello (see MakeExecBackend).
Result<std::unique_ptr<HidBackend>> MakeExecBackend(const std::string& command,
                                                    const BridgeOptions& options);

// Talks to a server already reachable through `requests` (written) and `answers`
// (read), starting with hello. The backend owns both descriptors.
Result<std::unique_ptr<HidBackend>> ConnectBridgeBackend(UniqueFd requests, UniqueFd answers,
                                                         const BridgeOptions& options);

}  // namespace qvm
