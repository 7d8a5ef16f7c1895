// Placeholder until the simulator lands; replaced by the simulator's own implementation.
#include "sim/sim_backend.h"

namespace qvm {
Result<std::unique_ptr<HidBackend>> MakeSimBackend(const std::string&, const std::string&) {
    return MakeError("the simulator is not built yet");
}
}  // namespace qvm
