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
    unsigned char map[256] = {};
    const int buttons = XGetPointerMapping(screen->Get(), map, sizeof map);
    return std::make_unique<XTestInjector>(std::move(*screen), buttons);
}

Status XTestInjector::Send(const std::function<void(Display*)>& send) {
    // XTest requests have no reply. Waiting for the server to have carried them out keeps
    // the input in order with what the caller does next (reads the pointer, say). Nothing
    // sent here can be refused: the buttons were counted when the injector was opened, and
    // the error handler stays the process's own, as other threads may be using theirs.
    send(screen_.Get());
    XSync(screen_.Get(), False);
    return {};
}

Status XTestInjector::MovePointer(int dx, int dy) {
    if (dx == 0 && dy == 0) return {};
    return Send([&](Display* d) { XTestFakeRelativeMotionEvent(d, dx, dy, CurrentTime); });
}

Status XTestInjector::ScrollHorizontal(int detents) {
    if (detents > kMaxXTestScrollSteps || detents < -kMaxXTestScrollSteps) {
        return MakeError(ErrorKind::BadInput,
                         "a horizontal scroll of " + std::to_string(detents) + " steps is too far");
    }
    if (detents == 0) return {};
    if (buttons_ < static_cast<int>(kXButtonScrollRight)) {
        return MakeError(ErrorKind::Other, "the X pointer has " + std::to_string(buttons_) +
                                               " buttons, too few for horizontal scrolling");
    }
    const unsigned button = detents < 0 ? kXButtonScrollLeft : kXButtonScrollRight;
    const int steps = std::abs(detents);
    return Send([&](Display* d) {
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
