#include <atomic>

#include "platform/linux/x11_display.h"

namespace qvm {
namespace {

std::atomic<int> gLastXError{0};

int RecordXError(Display*, XErrorEvent* event) {
    gLastXError.store(event->error_code);
    return 0;
}

}  // namespace

XErrorTrap::XErrorTrap(Display* display) : display_(display) {
    XSync(display_, False);
    gLastXError.store(0);
    previous_ = XSetErrorHandler(RecordXError);
}

XErrorTrap::~XErrorTrap() {
    if (!finished_) (void)Finish();
}

std::string XErrorTrap::Finish() {
    XSync(display_, False);
    XSetErrorHandler(previous_);
    finished_ = true;
    const int code = gLastXError.exchange(0);
    if (code == 0) return {};
    char text[128] = {};
    XGetErrorText(display_, code, text, sizeof text);
    return text;
}

std::optional<RootPoint> PointerOnRoot(Display* display, Window root) {
    Window pointerRoot = 0;
    Window child = 0;
    int rootX = 0, rootY = 0, windowX = 0, windowY = 0;
    unsigned int mask = 0;
    if (!XQueryPointer(display, root, &pointerRoot, &child, &rootX, &rootY, &windowX, &windowY,
                       &mask)) {
        return std::nullopt;
    }
    return RootPoint{rootX, rootY};
}

}  // namespace qvm
