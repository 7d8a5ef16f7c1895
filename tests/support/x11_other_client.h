// Another program on an X display, for the desktop input tests: a window of its own that
// has the input focus, input made through XTest, and keyboard grabs of its own. Its header
// keeps Xlib's macros out of the test files (Qt's event names among them).
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

struct _XDisplay;

namespace qvm::test {

// XGrabKeyboard's answers.
inline constexpr int kXGrabSuccess = 0;
inline constexpr int kXAlreadyGrabbed = 1;

class X11OtherClient {
  public:
    explicit X11OtherClient(const std::string& display);
    X11OtherClient(const X11OtherClient&) = delete;
    X11OtherClient& operator=(const X11OtherClient&) = delete;

    bool Ok() const { return display_ != nullptr; }

    void Key(int keycode, bool down);
    void Button(int button, bool down);
    void MoveTo(int x, int y);
    // Everything sent has been carried out by the server.
    void Sync();

    // Whether a grab is possible (a grab that succeeds is given back at once); waiting, it
    // tries for a generous while, as a holder's closed connection ends its grab a moment later.
    int TryGrab(bool waitUntilFree = false);

    // The key presses the focused window got.
    std::vector<int> KeyPresses();
    // The buttons pressed (+button) and released (-button) over the window, in order.
    std::vector<int> Buttons();
    // Where the pointer is on the root window, as this client asks the server.
    std::pair<int, int> PointerPosition();

  private:
    std::unique_ptr<_XDisplay, int (*)(_XDisplay*)> display_;  // closed by XCloseDisplay
    unsigned long window_ = 0;
};

}  // namespace qvm::test
