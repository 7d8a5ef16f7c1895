// Injection through uinput: two virtual devices of the program's own, a relative pointer
// with a horizontal wheel (in detents and in the high-resolution units of 120 per detent)
// and a direct touch screen with one contact. The desktop takes them as a mouse and a
// touch screen and delivers their input as it delivers any other.
//
// The touch screen's axes span the X screen's pixels (0..width-1, 0..height-1), so that
// a point in pixels is written unchanged; without an X display they span a fixed
// 1920 x 1080 and the pointer position cannot be read.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/unique_fd.h"
#include "platform/input_injector.h"
#include "platform/linux/x11_screen.h"

namespace qvm {

inline constexpr char kUinputPointerName[] = "QVM Gaming virtual pointer";
inline constexpr char kUinputTouchName[] = "QVM Gaming virtual touch";
inline constexpr int kHiResUnitsPerDetent = 120;
inline constexpr int kFallbackScreenWidth = 1920;
inline constexpr int kFallbackScreenHeight = 1080;

// One event as written to a device (the kernel stamps the time).
struct UinputEvent {
    uint16_t type = 0;
    uint16_t code = 0;
    int32_t value = 0;
    bool operator==(const UinputEvent&) const = default;
};
using UinputEvents = std::vector<UinputEvent>;

// The pointer's events for a move; nothing for (0, 0).
UinputEvents PointerMoveEvents(int dx, int dy);
// The wheel's events for `detents` steps to the right (negative: left); BadInput when the
// high-resolution amount does not fit the event's value.
Result<UinputEvents> HorizontalScrollEvents(int detents);

// The single contact of the touch screen (multi-touch type B, slot 0, with the
// single-touch axes and keys beside it), in the order a gesture passes its phases:
// Hover (in range, no contact), Down, Move..., Up, Out. A phase out of that order is
// BadInput and changes nothing, except Out while touching, which lifts the finger first
// so that a contact is never left down.
class TouchContact {
  public:
    TouchContact(int width, int height) : width_(width), height_(height) {}

    Result<UinputEvents> Phase(TouchPhase phase, InjectPoint at);
    bool InContact() const { return inContact_; }

  private:
    void Position(UinputEvents& out, InjectPoint at, bool multiTouch) const;

    int width_;
    int height_;
    bool inRange_ = false;
    bool inContact_ = false;
    int nextTrackingId_ = 0;
};

// One virtual device: its uinput descriptor, destroyed (UI_DEV_DESTROY) and closed with it.
class UinputDevice {
  public:
    UinputDevice() = default;
    explicit UinputDevice(UniqueFd fd) : fd_(std::move(fd)) {}
    UinputDevice(UinputDevice&&) noexcept = default;
    UinputDevice& operator=(UinputDevice&& other) noexcept;
    ~UinputDevice();

    Status Write(const UinputEvents& events);
    // The device's name under /sys/devices/virtual/input ("input12").
    Result<std::string> SysName() const;

  private:
    void Destroy();

    UniqueFd fd_;
};

class UinputInjector final : public InputInjector {
  public:
    // Makes both devices through `uinputPath`; `display` ("" for $DISPLAY) gives the screen
    // size and the pointer position when an X server answers. The error says why uinput
    // cannot be used (no module, no access).
    static Result<std::unique_ptr<UinputInjector>> Open(
        const std::string& uinputPath = "/dev/uinput", const std::string& display = "");

    std::string Name() const override { return "uinput"; }
    Status MovePointer(int dx, int dy) override;
    Status ScrollHorizontal(int detents) override;
    Result<InjectPoint> PointerPosition() override;
    bool CanTouch() const override { return true; }
    Status Touch(TouchPhase phase, InjectPoint at) override;

    const UinputDevice& Pointer() const { return pointer_; }
    const UinputDevice& TouchScreen() const { return touch_; }

    // Takes the devices Open made; the touch screen's axes span width x height.
    UinputInjector(UinputDevice pointer, UinputDevice touch, std::optional<X11Screen> screen,
                   int width, int height);

  private:
    UinputDevice pointer_;
    UinputDevice touch_;
    std::optional<X11Screen> screen_;
    TouchContact contact_;
};

}  // namespace qvm
