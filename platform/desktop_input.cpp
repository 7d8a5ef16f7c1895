#include "platform/desktop_input.h"

#ifdef QVM_HAVE_LINUX_HID
#include "platform/linux/x11_desktop_input.h"
#endif

namespace qvm {

Result<std::unique_ptr<DesktopInput>> OpenDesktopInput(const std::string& display) {
#ifdef QVM_HAVE_LINUX_HID
    return OpenX11DesktopInput(display);
#else
    (void)display;
    return MakeError(ErrorKind::Other,
                     "this build leaves out the Linux platform, which reads input from the whole "
                     "desktop");
#endif
}

}  // namespace qvm
