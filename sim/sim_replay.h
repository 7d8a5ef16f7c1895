// Replays an exchange trace onto devices: the trace's feature reports set and output
// reports written go, in their order, to the interfaces of the same vendor, product and
// interface number. A fresh simulated device of the traced model then ends with the
// memory the traced device had, so a user's trace reproduces their device.
#pragma once

#include <string>
#include <vector>

#include "platform/hid.h"
#include "platform/hid_trace.h"

namespace qvm {

struct ReplaySummary {
    int sent = 0;     // reports sent
    int skipped = 0;  // reports the traced device did not take (failed transfers)
    std::vector<std::string> interfaces;  // the interfaces written, as "traced -> replayed"
};

// The part of a device path that names the interface whatever the backend:
// "vid_0c45&pid_7040&mi_01" of "sim#vid_0c45&pid_7040&mi_01#d0i1". Empty when the path
// has no such part.
std::string InterfaceKey(const std::string& path);

// An error of kind BadInput when a traced interface has no counterpart in `backend`
// (before anything is sent), the transfer's own failure when a report is refused (the
// message gives the trace's line).
Result<ReplaySummary> ReplayTrace(const ParsedTrace& trace, HidBackend& backend);

}  // namespace qvm
