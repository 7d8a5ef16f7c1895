// Placeholder until the device bridge lands; replaced by the bridge client.
#include "platform/exec_backend.h"

namespace qvm {
Result<std::unique_ptr<HidBackend>> MakeExecBackend(const std::string&) {
    return MakeError("the device bridge is not built yet");
}
}  // namespace qvm
