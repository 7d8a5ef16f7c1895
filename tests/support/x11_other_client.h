// Another program on an X display, for the desktop input tests: a window of its own that
// has the input focus, input made through XTest, and keyboard grabs of its own. Its header
// keeps Xlib's macros out of the test files (Qt's event names among them).
#pragma once

#include <memory>
#include <string>
#include <vector>

struct _XDisplay;

namespace qvm::test {

// XGrabKeyboard's answers.
inline constexpr int kXGrabSuccess = 0;
inline constexpr int kXAlreadyGrabbed = 1;

class X11OtherClient {
  public:
    explicit X11OtherClient(const std::string& display);
    ~X11OtherClient();
    X11OtherClient(const X11OtherClient&) = delete;
    X11OtherClient& operator=(const X11OtherClient&) = delete;

    bool Ok() const { return display_ != nullptr; }

    void Key(int keycode, bool down);
    void Button(int button, bool down);
    void MoveTo(int x, int y);
    // Everything sent has been carried out by the server.
    void Sync();

    int Grab();
    void Ungrab();
    // Whether a grab is possible now; a grab that succeeds is given back at once.
    int TryGrab();
    // Tries until the grab succeeds, for as long as a generous wait: a holder that died
    // is noticed by the server a moment later.
    int GrabWhenFree();

    // The key presses the focused window got.
    std::vector<int> KeyPresses();

  private:
    struct Closer {
        void operator()(_XDisplay* display) const;
    };
    std::unique_ptr<_XDisplay, Closer> display_;
    unsigned long window_ = 0;
};

}  // namespace qvm::test
