#include "platform/linux/xtest_injector.h"

#include <cstdlib>
#include <functional>
#include <string>

// XTest.h declares functions returning Xlib's Status, which x11_display.h then drops.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include "platform/linux/x11_display.h"

namespace qvm {

Result<std::unique_ptr<XTestInjector>> XTestInjector::Open(const std::string& display) {
    auto screen = X11Screen::Open(display);
    if (!screen) return screen.error();
    int eventBase = 0;
    int errorBase = 0;
    int major = 0;
    int minor = 0;
    if (!XTestQueryExtension(screen->Get(), &eventBase, &errorBase, &major, &minor)) {
        return MakeError(ErrorKind::Other, "the X server has no XTest extension");
    }
    return std::make_unique<XTestInjector>(std::move(*screen));
}

Status XTestInjector::Send(const char* what, const std::function<void(Display*)>& send) {
    // XTest requests have no reply: a trap set before them waits for the server to carry
    // them out and reports the error it sent back, if any.
    XErrorTrap trap(screen_.Get());
    send(screen_.Get());
    const std::string error = trap.Finish();
    if (error.empty()) return {};
    return MakeError(ErrorKind::Io, std::string("XTest ") + what + " failed: " + error);
}

Status XTestInjector::MovePointer(int dx, int dy) {
    if (dx == 0 && dy == 0) return {};
    return Send("pointer motion",
                [&](Display* d) { XTestFakeRelativeMotionEvent(d, dx, dy, CurrentTime); });
}

Status XTestInjector::ScrollHorizontal(int detents) {
    if (detents > kMaxXTestScrollSteps || detents < -kMaxXTestScrollSteps) {
        return MakeError(ErrorKind::BadInput,
                         "a horizontal scroll of " + std::to_string(detents) + " steps is too far");
    }
    if (detents == 0) return {};
    const unsigned button = detents < 0 ? kXButtonScrollLeft : kXButtonScrollRight;
    const int steps = std::abs(detents);
    return Send("wheel button", [&](Display* d) {
        for (int i = 0; i < steps; ++i) {
            XTestFakeButtonEvent(d, button, True, CurrentTime);
            XTestFakeButtonEvent(d, button, False, CurrentTime);
        }
    });
}

Status XTestInjector::Touch(TouchPhase, InjectPoint) {
    return MakeError(ErrorKind::Other, "XTest cannot inject touch input");
}

}  // namespace qvm
