#include "support/x11_other_client.h"

#include <chrono>
#include <thread>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace qvm::test {

constexpr auto kGenerousWait = std::chrono::seconds(10);
constexpr auto kRetryPause = std::chrono::milliseconds(20);

X11OtherClient::X11OtherClient(const std::string& display)
    : display_(XOpenDisplay(display.c_str()), &XCloseDisplay) {
    if (!display_) return;
    Display* d = display_.get();
    window_ = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 200, 100, 0, 0, 0);
    XSelectInput(d, window_, KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask);
    XMapWindow(d, window_);
    XSync(d, False);
    XSetInputFocus(d, window_, RevertToParent, CurrentTime);
    XSync(d, False);
}

void X11OtherClient::Key(int keycode, bool down) {
    XTestFakeKeyEvent(display_.get(), static_cast<unsigned>(keycode), down, 0);
}

void X11OtherClient::Button(int button, bool down) {
    XTestFakeButtonEvent(display_.get(), static_cast<unsigned>(button), down, 0);
}

void X11OtherClient::MoveTo(int x, int y) {
    XTestFakeMotionEvent(display_.get(), -1, x, y, 0);
}

void X11OtherClient::Sync() {
    XSync(display_.get(), False);
}

int X11OtherClient::TryGrab(bool waitUntilFree) {
    Display* d = display_.get();
    const auto deadline = std::chrono::steady_clock::now() + kGenerousWait;
    const auto grab = [d] {
        return XGrabKeyboard(d, DefaultRootWindow(d), False, GrabModeAsync, GrabModeAsync,
                             CurrentTime);
    };
    int result = grab();
    while (result != GrabSuccess && waitUntilFree && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(kRetryPause);
        result = grab();
    }
    if (result == GrabSuccess) XUngrabKeyboard(d, CurrentTime);
    Sync();
    return result;
}

std::vector<int> X11OtherClient::KeyPresses() {
    Sync();
    std::vector<int> keys;
    while (XPending(display_.get()) > 0) {
        XEvent event;
        XNextEvent(display_.get(), &event);
        if (event.type == KeyPress) keys.push_back(static_cast<int>(event.xkey.keycode));
    }
    return keys;
}

std::vector<int> X11OtherClient::Buttons() {
    Sync();
    std::vector<int> buttons;
    while (XPending(display_.get()) > 0) {
        XEvent event;
        XNextEvent(display_.get(), &event);
        const int button = static_cast<int>(event.xbutton.button);
        if (event.type == ButtonPress) buttons.push_back(button);
        if (event.type == ButtonRelease) buttons.push_back(-button);
    }
    return buttons;
}

std::pair<int, int> X11OtherClient::PointerPosition() {
    Display* d = display_.get();
    Window root = 0;
    Window child = 0;
    int x = 0;
    int y = 0;
    int windowX = 0;
    int windowY = 0;
    unsigned mask = 0;
    XQueryPointer(d, DefaultRootWindow(d), &root, &child, &x, &y, &windowX, &windowY, &mask);
    return {x, y};
}

}  // namespace qvm::test
