// The X11 desktop input source against a real X server (Xvfb, started here on a display
// number it picks itself): input made through XTest while another client's window has the
// focus reaches Read as the right keycodes and buttons, and the keyboard grab keeps keys
// from that window and always ends: released, source destroyed, or its process killed.
#ifdef QVM_HAVE_LINUX_HID
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "base/unique_fd.h"
#include "platform/linux/x11_desktop_input.h"
#include "support/x11_other_client.h"
#include "support/xvfb.h"

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
DesktopEvents ReadDesktopUntil(DesktopInput& input, std::size_t count, bool keepMotion = false) {
    DesktopEvents got;
    const auto deadline = std::chrono::steady_clock::now() + kDesktopWait;
    while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
        pollfd ready{input.Fd(), POLLIN, 0};
        ::poll(&ready, 1, 100);
        for (const DesktopEvent& event : input.Read()) {
            if (keepMotion || event.kind != Kind::Motion) got.push_back(event);
        }
    }
    return got;
}

class X11DesktopInputTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!test::XvfbInstalled()) GTEST_SKIP() << "Xvfb is not installed (Debian package xvfb)";
        xvfb_ = std::make_unique<test::Xvfb>();
        ASSERT_FALSE(xvfb_->Name().empty()) << "Xvfb did not start";
        other_ = std::make_unique<test::X11OtherClient>(xvfb_->Name());
        ASSERT_TRUE(other_->Ok());
        auto opened = OpenX11DesktopInput(xvfb_->Name());
        ASSERT_TRUE(opened.ok()) << opened.message();
        input_ = std::move(*opened);
    }

    std::unique_ptr<test::Xvfb> xvfb_;
    std::unique_ptr<test::X11OtherClient> other_;
    std::unique_ptr<DesktopInput> input_;
};

// Each case's input is made through XTest, edge by edge, and must come back unchanged.
TEST_F(X11DesktopInputTest, InputInAnotherWindowReachesRead) {
    const std::pair<const char*, DesktopEvents> cases[] = {
        {"key down and up", {{Kind::KeyDown, kXKeyA}, {Kind::KeyUp, kXKeyA}}},
        {"ctrl held over a key",
         {{Kind::KeyDown, kXLeftCtrl},
          {Kind::KeyDown, kXKeyB},
          {Kind::KeyUp, kXKeyB},
          {Kind::KeyUp, kXLeftCtrl}}},
        {"left click", {{Kind::ButtonDown, 1}, {Kind::ButtonUp, 1}}},
        {"right and side buttons, a wheel notch",
         {{Kind::ButtonDown, 3},
          {Kind::ButtonUp, 3},
          {Kind::ButtonDown, 8},
          {Kind::ButtonUp, 8},
          {Kind::ButtonDown, 5},
          {Kind::ButtonUp, 5}}},
    };
    ASSERT_TRUE(input_->Listen(true).ok());
    for (const auto& [name, events] : cases) {
        SCOPED_TRACE(name);
        for (const DesktopEvent& event : events) {
            const bool down = event.kind == Kind::KeyDown || event.kind == Kind::ButtonDown;
            if (event.kind == Kind::KeyDown || event.kind == Kind::KeyUp) {
                other_->Key(event.code, down);
            } else {
                other_->Button(event.code, down);
            }
        }
        other_->Sync();
        EXPECT_EQ(ReadDesktopUntil(*input_, events.size()), events);
    }
}

// Input made while the source does not listen is never reported, not even later.
TEST_F(X11DesktopInputTest, NothingBeforeListening) {
    other_->Key(kXKeyA, true);
    other_->Key(kXKeyA, false);
    other_->Sync();
    ASSERT_TRUE(input_->Listen(true).ok());
    other_->Key(kXKeyB, true);
    other_->Sync();
    EXPECT_EQ(ReadDesktopUntil(*input_, 1), (DesktopEvents{{Kind::KeyDown, kXKeyB}}));
    ASSERT_TRUE(input_->Listen(false).ok());
    other_->Key(kXKeyB, false);
    other_->Sync();
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

// While grabbed, keys come through Read and the focused window does not get them.
TEST_F(X11DesktopInputTest, GrabbedKeysReachOnlyTheSource) {
    ASSERT_TRUE(input_->Listen(true).ok());
    ASSERT_TRUE(input_->GrabKeyboard().ok());
    other_->Key(kXKeyA, true);
    other_->Key(kXKeyA, false);
    other_->Sync();
    EXPECT_EQ(ReadDesktopUntil(*input_, 2),
              (DesktopEvents{{Kind::KeyDown, kXKeyA}, {Kind::KeyUp, kXKeyA}}));
    EXPECT_EQ(other_->KeyPresses(), std::vector<int>{});
    input_->ReleaseKeyboard();
    other_->Key(kXKeyB, true);
    other_->Key(kXKeyB, false);
    EXPECT_EQ(other_->KeyPresses(), std::vector<int>{kXKeyB});
}

TEST_F(X11DesktopInputTest, GrabHoldsOffOthersAndAlwaysEnds) {
    struct GrabEnding {
        const char* name;
        std::function<void(std::unique_ptr<DesktopInput>&)> end;
    };
    const GrabEnding endings[] = {
        {"released", [](std::unique_ptr<DesktopInput>& in) { in->ReleaseKeyboard(); }},
        {"source destroyed", [](std::unique_ptr<DesktopInput>& in) { in.reset(); }},
    };
    for (const GrabEnding& ending : endings) {
        SCOPED_TRACE(ending.name);
        if (!input_) input_ = std::move(*OpenX11DesktopInput(xvfb_->Name()));
        ASSERT_TRUE(input_->GrabKeyboard().ok());
        EXPECT_TRUE(input_->KeyboardGrabbed());
        EXPECT_EQ(other_->TryGrab(), test::kXAlreadyGrabbed);
        ending.end(input_);
        EXPECT_EQ(other_->GrabWhenFree(), test::kXGrabSuccess);
    }
}

// A grab another program holds makes the source's grab fail as busy, not silently.
TEST_F(X11DesktopInputTest, GrabHeldElsewhereIsBusy) {
    ASSERT_EQ(other_->Grab(), test::kXGrabSuccess);
    const Status grabbed = input_->GrabKeyboard();
    EXPECT_EQ(grabbed.kind(), ErrorKind::DeviceBusy);
    EXPECT_FALSE(input_->KeyboardGrabbed());
    other_->Ungrab();
    EXPECT_TRUE(input_->GrabKeyboard().ok());
}

// A program killed while it holds the keyboard does not leave it taken: the grab belongs
// to its connection, which the X server closes.
TEST_F(X11DesktopInputTest, GrabEndsWithAKilledProcess) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    UniqueFd readEnd(fds[0]);
    UniqueFd writeEnd(fds[1]);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        auto holder = OpenX11DesktopInput(xvfb_->Name());
        const char grabbed = holder && (*holder)->GrabKeyboard().ok() ? 'g' : 'f';
        (void)::write(writeEnd.get(), &grabbed, 1);
        for (;;) ::pause();
    }
    writeEnd.reset();
    char grabbed = 0;
    pollfd ready{readEnd.get(), POLLIN, 0};
    ASSERT_EQ(::poll(&ready, 1, static_cast<int>(kDesktopWait / 1ms)), 1);
    ASSERT_EQ(::read(readEnd.get(), &grabbed, 1), 1);
    const int whileHeld = other_->TryGrab();
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ASSERT_EQ(grabbed, 'g');
    EXPECT_EQ(whileHeld, test::kXAlreadyGrabbed);
    EXPECT_EQ(other_->GrabWhenFree(), test::kXGrabSuccess);
}

}  // namespace
}  // namespace qvm
#endif  // QVM_HAVE_LINUX_HID
