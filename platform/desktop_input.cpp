#include "platform/desktop_input.h"

namespace qvm {

Result<std::unique_ptr<DesktopInput>> OpenDesktopInput(const std::string& display) {
    (void)display;
    return MakeError(ErrorKind::Other,
                     "input from the whole desktop is not available in this build yet");
}

}  // namespace qvm
