// The X11 desktop input source against an X server of the test's own (Xvfb): input made
// through XTest while another client's window has the focus reaches Read as the right
// keycodes and buttons, and the keyboard grab keeps keys from that window and always ends.
#ifdef QVM_HAVE_LINUX_HID
#include <gtest/gtest.h>
#include <poll.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "platform/linux/x11_desktop_input.h"
#include "support/x11_other_client.h"
#include "support/xvfb_fixture.h"

namespace qvm {
namespace {

using namespace std::chrono_literals;
using Kind = DesktopEvent::Kind;
using DesktopEvents = std::vector<DesktopEvent>;

constexpr auto kDesktopWait = 10s;
constexpr int kXKeyA = 38;  // evdev 30 + 8
constexpr int kXKeyB = 56;  // evdev 48 + 8
constexpr int kXLeftCtrl = 37;

// Reads until `count` events other than motion have come (or the generous wait is over).
DesktopEvents ReadDesktopUntil(DesktopInput& input, std::size_t count) {
    DesktopEvents got;
    const auto deadline = std::chrono::steady_clock::now() + kDesktopWait;
    while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
        pollfd ready{input.Fd(), POLLIN, 0};
        ::poll(&ready, 1, 100);
        for (const DesktopEvent& event : input.Read()) {
            if (event.kind != Kind::Motion) got.push_back(event);
        }
    }
    return got;
}

class X11DesktopInputTest : public test::XvfbWithOtherClientTest {
  protected:
    void SetUp() override {
        XvfbWithOtherClientTest::SetUp();
        if (Stopped()) return;
        auto opened = OpenX11DesktopInput(xvfb_.Name());
        ASSERT_TRUE(opened.ok()) << opened.message();
        input_ = std::move(*opened);
    }
    // Types a key through XTest and waits until the server has handled it.
    void Type(int keycode) {
        other_->Key(keycode, true);
        other_->Key(keycode, false);
        other_->Sync();
    }

    std::unique_ptr<DesktopInput> input_;
};

// Input made before the source listens, or after, is never reported; what comes between
// comes back edge by edge, unchanged.
TEST_F(X11DesktopInputTest, InputInAnotherWindowReachesRead) {
    const DesktopEvents events = {
        {Kind::KeyDown, kXLeftCtrl}, {Kind::KeyDown, kXKeyB}, {Kind::KeyUp, kXKeyB},
        {Kind::KeyUp, kXLeftCtrl},   {Kind::ButtonDown, 1},   {Kind::ButtonUp, 1},
        {Kind::ButtonDown, 3},       {Kind::ButtonUp, 3},     {Kind::ButtonDown, 8},
        {Kind::ButtonUp, 8},         {Kind::ButtonDown, 5},   {Kind::ButtonUp, 5}};  // wheel
    Type(kXKeyA);
    ASSERT_TRUE(input_->Listen(true).ok());
    for (const DesktopEvent& event : events) {
        const bool down = event.kind == Kind::KeyDown || event.kind == Kind::ButtonDown;
        const bool key = event.kind == Kind::KeyDown || event.kind == Kind::KeyUp;
        key ? other_->Key(event.code, down) : other_->Button(event.code, down);
    }
    other_->Sync();
    EXPECT_EQ(ReadDesktopUntil(*input_, events.size()), events);
    ASSERT_TRUE(input_->Listen(false).ok());
    Type(kXKeyA);
    EXPECT_TRUE(input_->Read().empty());
}

// An event the position's round trip pulled off the socket still makes the descriptor
// readable, and the position is where XTest put the pointer.
TEST_F(X11DesktopInputTest, EventsReadDuringARoundTripAreNotLeftWaiting) {
    ASSERT_TRUE(input_->Listen(true).ok());
    other_->MoveTo(120, 45);
    other_->Key(kXKeyA, true);
    other_->Sync();
    EXPECT_EQ(input_->PointerPosition(), (DesktopPoint{120, 45}));
    pollfd ready{input_->Fd(), POLLIN, 0};
    ASSERT_EQ(::poll(&ready, 1, static_cast<int>(kDesktopWait / 1ms)), 1);
    EXPECT_EQ(ReadDesktopUntil(*input_, 1), (DesktopEvents{{Kind::KeyDown, kXKeyA}}));
}

// While grabbed, keys come through Read only, and nobody else can grab; however the grab
// ends, the focused window gets keys again and another client can grab.
TEST_F(X11DesktopInputTest, GrabbedKeysReachOnlyTheSourceUntilTheGrabEnds) {
    const std::pair<const char*, std::function<void(std::unique_ptr<DesktopInput>&)>> endings[] = {
        {"released", [](std::unique_ptr<DesktopInput>& in) { in->ReleaseKeyboard(); }},
        {"source destroyed", [](std::unique_ptr<DesktopInput>& in) { in.reset(); }},
    };
    for (const auto& [name, end] : endings) {
        SCOPED_TRACE(name);
        input_ = std::move(*OpenX11DesktopInput(xvfb_.Name()));  // nothing read before
        ASSERT_TRUE(input_->Listen(true).ok());
        ASSERT_TRUE(input_->GrabKeyboard().ok());
        EXPECT_EQ(other_->TryGrab(), test::kXAlreadyGrabbed);
        Type(kXKeyA);
        EXPECT_EQ(ReadDesktopUntil(*input_, 2),
                  (DesktopEvents{{Kind::KeyDown, kXKeyA}, {Kind::KeyUp, kXKeyA}}));
        EXPECT_EQ(other_->KeyPresses(), std::vector<int>{});
        end(input_);
        EXPECT_EQ(other_->TryGrab(true), test::kXGrabSuccess);
        Type(kXKeyB);
        EXPECT_EQ(other_->KeyPresses(), std::vector<int>{kXKeyB});
    }
}

// A grab another program holds makes the source's grab fail as busy, not silently.
TEST_F(X11DesktopInputTest, GrabHeldElsewhereIsBusy) {
    auto holder = OpenX11DesktopInput(xvfb_.Name());
    ASSERT_TRUE(holder.ok() && (*holder)->GrabKeyboard().ok());
    EXPECT_EQ(input_->GrabKeyboard().kind(), ErrorKind::DeviceBusy);
    EXPECT_FALSE(input_->KeyboardGrabbed());
    (*holder)->ReleaseKeyboard();
    EXPECT_TRUE(input_->GrabKeyboard().ok());
}

}  // namespace
}  // namespace qvm
#endif  // QVM_HAVE_LINUX_HID
