#include "support/x11_other_client.h"

#include <chrono>
#include <thread>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace qvm::test {

namespace {

constexpr auto kGenerousWait = std::chrono::seconds(10);
constexpr auto kRetryPause = std::chrono::milliseconds(20);

}  // namespace

void X11OtherClient::Closer::operator()(_XDisplay* display) const {
    XCloseDisplay(display);
}

X11OtherClient::X11OtherClient(const std::string& display)
    : display_(XOpenDisplay(display.c_str())) {
    if (!display_) return;
    Display* d = display_.get();
    window_ = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 200, 100, 0, 0, 0);
    XSelectInput(d, window_, KeyPressMask | KeyReleaseMask);
    XMapWindow(d, window_);
    XSync(d, False);
    XSetInputFocus(d, window_, RevertToParent, CurrentTime);
    XSync(d, False);
}

X11OtherClient::~X11OtherClient() = default;

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

int X11OtherClient::Grab() {
    return XGrabKeyboard(display_.get(), DefaultRootWindow(display_.get()), False, GrabModeAsync,
                         GrabModeAsync, CurrentTime);
}

void X11OtherClient::Ungrab() {
    XUngrabKeyboard(display_.get(), CurrentTime);
    Sync();
}

int X11OtherClient::TryGrab() {
    const int result = Grab();
    if (result == GrabSuccess) Ungrab();
    return result;
}

int X11OtherClient::GrabWhenFree() {
    const auto deadline = std::chrono::steady_clock::now() + kGenerousWait;
    int result = TryGrab();
    while (result != GrabSuccess && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(kRetryPause);
        result = TryGrab();
    }
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

}  // namespace qvm::test
