#include "platform/foreground.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#ifdef QVM_HAVE_LINUX_HID
#include "platform/linux/x11_foreground.h"
#endif

namespace qvm {
namespace {

// The kernel marks the link of an executable replaced or removed since it started.
constexpr std::string_view kDeletedMark = " (deleted)";
// Longer than any path the kernel gives for a link (PATH_MAX).
constexpr std::size_t kLinkBufferSize = 4096;

}  // namespace

Result<std::unique_ptr<ForegroundWatcher>> OpenForegroundWatcher(const std::string& display) {
#ifdef QVM_HAVE_LINUX_HID
    return OpenX11ForegroundWatcher(display);
#else
    (void)display;
    return MakeError(ErrorKind::Other,
                     "this build leaves out the Linux platform, which tells the window in use");
#endif
}

Status MinimiseForegroundWindow(const std::string& display) {
#ifdef QVM_HAVE_LINUX_HID
    return MinimiseX11ActiveWindow(display);
#else
    (void)display;
    return MakeError(ErrorKind::Other,
                     "this build leaves out the Linux platform, which minimises windows");
#endif
}

Result<std::string> ProcessExecutable(pid_t pid) {
    if (pid <= 0) return MakeError(ErrorKind::BadInput, "no process given");
    const std::string link = "/proc/" + std::to_string(pid) + "/exe";
    std::string target(kLinkBufferSize, '\0');
    const ssize_t length = ::readlink(link.c_str(), target.data(), target.size());
    if (length < 0) {
        return MakeError(ErrorKind::Io, "cannot tell the program of process " +
                                            std::to_string(pid) + ": " + std::strerror(errno));
    }
    target.resize(static_cast<std::size_t>(length));
    if (target.ends_with(kDeletedMark)) target.resize(target.size() - kDeletedMark.size());
    return target;
}

Result<std::string> ProcessProgramName(pid_t pid) {
    auto executable = ProcessExecutable(pid);
    if (!executable) return executable.error();
    const std::string& target = *executable;
    const std::size_t slash = target.rfind('/');
    return slash == std::string::npos ? target : target.substr(slash + 1);
}

}  // namespace qvm
