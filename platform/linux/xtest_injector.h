// Injection through the X server's XTest extension: relative pointer motion, and a
// horizontal scroll as presses and releases of the wheel buttons 6 (left) and 7 (right),
// one pair per step. XTest has no touch input, so Touch fails.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/input_injector.h"
#include "platform/linux/x11_screen.h"

namespace qvm {

inline constexpr unsigned kXButtonScrollLeft = 6;
inline constexpr unsigned kXButtonScrollRight = 7;
// More steps than one call may make: each is a press and a release sent to the server.
inline constexpr int kMaxXTestScrollSteps = 10000;

class XTestInjector final : public InputInjector {
  public:
    // Opens `display` ("" for $DISPLAY); the error says why there is no XTest there.
    static Result<std::unique_ptr<XTestInjector>> Open(const std::string& display = "");

    // `buttons`: how many buttons the X pointer has (XGetPointerMapping).
    XTestInjector(X11Screen screen, int buttons) : screen_(std::move(screen)), buttons_(buttons) {}

    std::string Name() const override { return "XTest"; }
    Status MovePointer(int dx, int dy) override;
    Status ScrollHorizontal(int detents) override;
    Result<InjectPoint> PointerPosition() override { return screen_.PointerPosition(); }
    bool CanTouch() const override { return false; }
    Status Touch(TouchPhase phase, InjectPoint at) override;

  private:
    // Sends the requests `send` makes and waits until the server has carried them out.
    Status Send(const std::function<void(_XDisplay*)>& send);

    X11Screen screen_;
    int buttons_;
};

}  // namespace qvm
