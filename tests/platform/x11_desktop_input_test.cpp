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
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "base/unique_fd.h"
#include "platform/linux/x11_desktop_input.h"

// Xlib last: its macros must not reach the headers above.
#include <X11/extensions/XTest.h>

#include "platform/linux/x11_display.h"

namespace qvm {
namespace {

using namespace std::chrono_literals;
using Kind = DesktopEvent::Kind;
using Events = std::vector<DesktopEvent>;

constexpr auto kGenerousWait = 10s;
constexpr int kXKeyA = 38;  // evdev 30 + 8
constexpr int kXKeyB = 56;  // evdev 48 + 8
constexpr int kXLeftCtrl = 37;

bool OnPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string rest = path != nullptr ? path : "/usr/bin:/bin";
    while (!rest.empty()) {
        const auto colon = rest.find(':');
        const std::string folder = rest.substr(0, colon);
        if (!folder.empty() && ::access((folder + "/" + program).c_str(), X_OK) == 0) return true;
        if (colon == std::string::npos) break;
        rest.erase(0, colon + 1);
    }
    return false;
}

// An Xvfb of this test alone: it chooses a free display number and writes it to a pipe.
class Xvfb {
  public:
    Xvfb() {
        int fds[2];
        if (::pipe(fds) != 0) return;
        UniqueFd readEnd(fds[0]);
        UniqueFd writeEnd(fds[1]);
        pid_t pid = ::fork();
        if (pid == 0) {
            const std::string fd = std::to_string(writeEnd.get());
            ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-nolisten", "tcp", "-screen", "0",
                     "640x480x24", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        if (pid < 0) return;
        pid_ = pid;
        writeEnd.reset();
        std::string number;
        pollfd ready{readEnd.get(), POLLIN, 0};
        while (::poll(&ready, 1, static_cast<int>(kGenerousWait / 1ms)) > 0) {
            char c = 0;
            if (::read(readEnd.get(), &c, 1) != 1 || c == '\n') break;
            number.push_back(c);
        }
        if (!number.empty()) name_ = ":" + number;
    }
    ~Xvfb() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    Xvfb(const Xvfb&) = delete;
    Xvfb& operator=(const Xvfb&) = delete;

    const std::string& Name() const { return name_; }

  private:
    pid_t pid_ = -1;
    std::string name_;
};

// Another program: a window of its own that has the input focus, and XTest to make input.
class OtherClient {
  public:
    explicit OtherClient(const std::string& display) : display_(XOpenDisplay(display.c_str())) {
        if (!display_) return;
        Display* d = display_.get();
        window_ = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 200, 100, 0, 0, 0);
        XSelectInput(d, window_, KeyPressMask | KeyReleaseMask);
        XMapWindow(d, window_);
        XSync(d, False);
        XSetInputFocus(d, window_, RevertToParent, CurrentTime);
        XSync(d, False);
    }
    bool Ok() const { return display_ != nullptr; }

    void Key(int keycode, bool down) { XTestFakeKeyEvent(display_.get(), keycode, down, 0); }
    void Button(int button, bool down) { XTestFakeButtonEvent(display_.get(), button, down, 0); }
    void MoveTo(int x, int y) { XTestFakeMotionEvent(display_.get(), -1, x, y, 0); }
    // Everything sent has been carried out by the server.
    void Sync() { XSync(display_.get(), False); }

    int Grab() {
        return XGrabKeyboard(display_.get(), DefaultRootWindow(display_.get()), False,
                             GrabModeAsync, GrabModeAsync, CurrentTime);
    }
    void Ungrab() {
        XUngrabKeyboard(display_.get(), CurrentTime);
        Sync();
    }
    // Whether a grab is possible now; a grab that succeeds is given back at once.
    int TryGrab() {
        const int result = Grab();
        if (result == GrabSuccess) Ungrab();
        return result;
    }

    // The key presses the focused window got.
    std::vector<int> KeyPresses() {
        Sync();
        std::vector<int> keys;
        while (XPending(display_.get()) > 0) {
            XEvent event;
            XNextEvent(display_.get(), &event);
            if (event.type == KeyPress) keys.push_back(static_cast<int>(event.xkey.keycode));
        }
        return keys;
    }

  private:
    DisplayPtr display_;
    Window window_ = 0;
};

// Reads until `count` events other than motion have come (or the generous wait is over).
Events ReadUntil(DesktopInput& input, std::size_t count, bool keepMotion = false) {
    Events got;
    const auto deadline = std::chrono::steady_clock::now() + kGenerousWait;
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
        if (!OnPath("Xvfb")) GTEST_SKIP() << "Xvfb is not installed (Debian package xvfb)";
        xvfb_ = std::make_unique<Xvfb>();
        ASSERT_FALSE(xvfb_->Name().empty()) << "Xvfb did not start";
        other_ = std::make_unique<OtherClient>(xvfb_->Name());
        ASSERT_TRUE(other_->Ok());
        auto opened = OpenX11DesktopInput(xvfb_->Name());
        ASSERT_TRUE(opened.ok()) << opened.message();
        input_ = std::move(*opened);
    }

    std::unique_ptr<Xvfb> xvfb_;
    std::unique_ptr<OtherClient> other_;
    std::unique_ptr<DesktopInput> input_;
};

struct InputCase {
    const char* name;
    std::function<void(OtherClient&)> make;
    Events expected;
};

TEST_F(X11DesktopInputTest, InputInAnotherWindowReachesRead) {
    const InputCase cases[] = {
        {"key down and up",
         [](OtherClient& c) {
             c.Key(kXKeyA, true);
             c.Key(kXKeyA, false);
         },
         {{Kind::KeyDown, kXKeyA}, {Kind::KeyUp, kXKeyA}}},
        {"ctrl held over a key",
         [](OtherClient& c) {
             c.Key(kXLeftCtrl, true);
             c.Key(kXKeyB, true);
             c.Key(kXKeyB, false);
             c.Key(kXLeftCtrl, false);
         },
         {{Kind::KeyDown, kXLeftCtrl},
          {Kind::KeyDown, kXKeyB},
          {Kind::KeyUp, kXKeyB},
          {Kind::KeyUp, kXLeftCtrl}}},
        {"left click",
         [](OtherClient& c) {
             c.Button(1, true);
             c.Button(1, false);
         },
         {{Kind::ButtonDown, 1}, {Kind::ButtonUp, 1}}},
        {"right and side buttons, a wheel notch",
         [](OtherClient& c) {
             c.Button(3, true);
             c.Button(3, false);
             c.Button(8, true);
             c.Button(8, false);
             c.Button(5, true);
             c.Button(5, false);
         },
         {{Kind::ButtonDown, 3},
          {Kind::ButtonUp, 3},
          {Kind::ButtonDown, 8},
          {Kind::ButtonUp, 8},
          {Kind::ButtonDown, 5},
          {Kind::ButtonUp, 5}}},
    };
    ASSERT_TRUE(input_->Listen(true).ok());
    for (const InputCase& c : cases) {
        SCOPED_TRACE(c.name);
        c.make(*other_);
        other_->Sync();
        EXPECT_EQ(ReadUntil(*input_, c.expected.size()), c.expected);
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
    EXPECT_EQ(ReadUntil(*input_, 1), (Events{{Kind::KeyDown, kXKeyB}}));
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
    ASSERT_EQ(::poll(&ready, 1, static_cast<int>(kGenerousWait / 1ms)), 1);
    EXPECT_EQ(ReadUntil(*input_, 1), (Events{{Kind::KeyDown, kXKeyA}}));
}

// While grabbed, keys come through Read and the focused window does not get them.
TEST_F(X11DesktopInputTest, GrabbedKeysReachOnlyTheSource) {
    ASSERT_TRUE(input_->Listen(true).ok());
    ASSERT_TRUE(input_->GrabKeyboard().ok());
    other_->Key(kXKeyA, true);
    other_->Key(kXKeyA, false);
    other_->Sync();
    EXPECT_EQ(ReadUntil(*input_, 2), (Events{{Kind::KeyDown, kXKeyA}, {Kind::KeyUp, kXKeyA}}));
    EXPECT_EQ(other_->KeyPresses(), std::vector<int>{});
    input_->ReleaseKeyboard();
    other_->Key(kXKeyB, true);
    other_->Key(kXKeyB, false);
    EXPECT_EQ(other_->KeyPresses(), std::vector<int>{kXKeyB});
}

// Waits for a grab by another client to succeed, as it must once the holder is gone.
int GrabWhenFree(OtherClient& other) {
    const auto deadline = std::chrono::steady_clock::now() + kGenerousWait;
    int result = other.TryGrab();
    while (result != GrabSuccess && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(20ms);
        result = other.TryGrab();
    }
    return result;
}

TEST_F(X11DesktopInputTest, GrabHoldsOffOthersAndAlwaysEnds) {
    struct Ending {
        const char* name;
        std::function<void(std::unique_ptr<DesktopInput>&)> end;
    };
    const Ending endings[] = {
        {"released", [](std::unique_ptr<DesktopInput>& in) { in->ReleaseKeyboard(); }},
        {"source destroyed", [](std::unique_ptr<DesktopInput>& in) { in.reset(); }},
    };
    for (const Ending& ending : endings) {
        SCOPED_TRACE(ending.name);
        if (!input_) input_ = std::move(*OpenX11DesktopInput(xvfb_->Name()));
        ASSERT_TRUE(input_->GrabKeyboard().ok());
        EXPECT_TRUE(input_->KeyboardGrabbed());
        EXPECT_EQ(other_->TryGrab(), AlreadyGrabbed);
        ending.end(input_);
        EXPECT_EQ(GrabWhenFree(*other_), GrabSuccess);
    }
}

// A grab another program holds makes the source's grab fail as busy, not silently.
TEST_F(X11DesktopInputTest, GrabHeldElsewhereIsBusy) {
    ASSERT_EQ(other_->Grab(), GrabSuccess);
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
    ASSERT_EQ(::poll(&ready, 1, static_cast<int>(kGenerousWait / 1ms)), 1);
    ASSERT_EQ(::read(readEnd.get(), &grabbed, 1), 1);
    const int whileHeld = other_->TryGrab();
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ASSERT_EQ(grabbed, 'g');
    EXPECT_EQ(whileHeld, AlreadyGrabbed);
    EXPECT_EQ(GrabWhenFree(*other_), GrabSuccess);
}

}  // namespace
}  // namespace qvm
#endif  // QVM_HAVE_LINUX_HID
