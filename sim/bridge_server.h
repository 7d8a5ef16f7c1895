// The device bridge, server side: answers the bridge's requests (protocol version 1)
// from any HidBackend, so the devices of one process can serve another.
#pragma once

#include "platform/hid.h"

namespace qvm {

// Reads requests from `inFd` and writes one answer each to `outFd` until `bye` (which
// is answered `ok` first) or the end of input. Devices are named by the part of their
// backend path after the last '#', lower-cased (made unique with "~N" when two
// coincide); one handle per device stays open between requests and is reopened after
// a failed operation. Unknown IDs, malformed requests, bad hex and failed operations
// are answered `err TEXT`. Fails only when the answers cannot be written or the
// requests cannot be read. Neither descriptor is closed.
Status ServeBridge(HidBackend& backend, int inFd, int outFd);

}  // namespace qvm
