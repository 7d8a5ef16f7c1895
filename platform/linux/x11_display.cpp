#include <atomic>
#include <cstdlib>
#include <cstring>

#include "platform/linux/x11_display.h"

namespace qvm {
namespace {

std::atomic<int> gLastXError{0};

int RecordXError(Display*, XErrorEvent* event) {
    gLastXError.store(event->error_code);
    return 0;
}

std::string DisplayLabel(const std::string& display) {
    if (!display.empty()) return display;
    const char* env = std::getenv("DISPLAY");
    return env != nullptr ? env : "";
}

Error NoDisplay(const std::string& display, std::string_view consequence) {
    const std::string tail = ": " + std::string(consequence);
    const std::string label = DisplayLabel(display);
    if (!label.empty())
        return MakeError(ErrorKind::Other, "cannot open the X display " + label + tail);
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if (wayland != nullptr && *wayland != '\0') {
        return MakeError(ErrorKind::Other, "the desktop runs Wayland without an X server" + tail);
    }
    return MakeError(ErrorKind::Other, "no X display (DISPLAY is not set)" + tail);
}

// One XGetWindowProperty, its errors trapped; the data is freed by the caller's visitor.
template <class Take>
void WithProperty(Display* display, Window window, Atom property, Atom type, long maxLongs,
                  int wantedFormat, Take take) {
    XErrorTrap trap(display);
    Atom actualType = 0;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    const int got = XGetWindowProperty(display, window, property, 0, maxLongs, False, type,
                                       &actualType, &format, &items, &after, &data);
    const bool fits =
        got == Success && data != nullptr && actualType == type && format == wantedFormat;
    const bool failed = !trap.Finish().empty();
    if (fits && !failed) take(data, items);
    if (data != nullptr) XFree(data);
}

}  // namespace

Result<DisplayPtr> OpenX11Display(const std::string& display, std::string_view consequence) {
    if (display.empty()) {
        const char* env = std::getenv("DISPLAY");
        if (env == nullptr || *env == '\0') return NoDisplay(display, consequence);
    }
    DisplayPtr connection(XOpenDisplay(display.empty() ? nullptr : display.c_str()));
    if (!connection) return NoDisplay(display, consequence);
    return connection;
}

std::vector<unsigned long> ReadLongProperty(Display* display, Window window, Atom property,
                                            Atom type, long maxItems) {
    std::vector<unsigned long> values;
    WithProperty(display, window, property, type, maxItems, 32,
                 [&](const unsigned char* data, unsigned long items) {
                     // Xlib hands 32-bit items over as longs.
                     const auto* longs = reinterpret_cast<const unsigned long*>(data);
                     values.assign(longs, longs + items);
                 });
    return values;
}

std::string ReadTextProperty(Display* display, Window window, Atom property, Atom type) {
    // Window titles are short; a longer one is cut, not refused.
    constexpr long kMaxTitleLongs = 1024;
    std::string text;
    WithProperty(display, window, property, type, kMaxTitleLongs, 8,
                 [&](const unsigned char* data, unsigned long items) {
                     text.assign(reinterpret_cast<const char*>(data), items);
                 });
    return text;
}

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
