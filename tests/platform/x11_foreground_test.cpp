// The X11 foreground watcher against an X server of the test's own (Xvfb), with another
// client standing in for the window manager: each change of the active window wakes the
// watcher's descriptor and reads back as that window and its process; nothing else does.
#ifdef QVM_HAVE_LINUX_HID
#include <gtest/gtest.h>
#include <poll.h>

#include <optional>
#include <string>

#include "platform/foreground.h"
#include "support/temp_folder.h"
#include "support/x11_window_manager_double.h"
#include "support/xvfb.h"

namespace qvm {
namespace {

constexpr int kForegroundWaitMs = 10000;

bool ReadableWithin(int fd, int timeoutMs) {
    pollfd ready{fd, POLLIN, 0};
    return ::poll(&ready, 1, timeoutMs) == 1;
}

class X11ForegroundTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!test::XvfbInstalled()) GTEST_SKIP() << "Xvfb is not installed (Debian package xvfb)";
        ASSERT_FALSE(xvfb_.Name().empty()) << "Xvfb did not start";
        manager_ = std::make_unique<test::X11WindowManagerDouble>(xvfb_.Name());
        ASSERT_TRUE(manager_->Ok());
        auto opened = OpenForegroundWatcher(xvfb_.Name());
        ASSERT_TRUE(opened.ok()) << opened.message();
        watcher_ = std::move(*opened);
    }

    test::Xvfb xvfb_;
    std::unique_ptr<test::X11WindowManagerDouble> manager_;
    std::unique_ptr<ForegroundWatcher> watcher_;
};

struct FocusStep {
    const char* label;
    int window;  // index into the windows made below; -1: no active window
    bool destroyFirst;
    Foreground (*expected)(const unsigned long* windows);
};

TEST_F(X11ForegroundTest, ActiveWindowChangesReadBackWithTheirProcess) {
    // Before any window manager named a window: no foreground.
    auto initial = watcher_->Read();
    ASSERT_TRUE(initial.ok()) << initial.message();
    EXPECT_EQ(*initial, Foreground{});
    EXPECT_FALSE(ReadableWithin(watcher_->Fd(), 0));

    const unsigned long windows[] = {manager_->NewWindow(4242), manager_->NewWindow(std::nullopt),
                                     manager_->NewWindow(77)};
    const FocusStep steps[] = {
        {"window with a process", 0, false,
         [](const unsigned long* w) {
             return Foreground{w[0], 4242};
         }},
        {"window without _NET_WM_PID", 1, false,
         [](const unsigned long* w) {
             return Foreground{w[1], 0};
         }},
        {"back to the first", 0, false,
         [](const unsigned long* w) {
             return Foreground{w[0], 4242};
         }},
        {"property removed", -1, false, [](const unsigned long*) { return Foreground{}; }},
        {"active window already destroyed", 2, true,
         [](const unsigned long* w) {
             return Foreground{w[2], 0};
         }},
    };
    for (const FocusStep& step : steps) {
        SCOPED_TRACE(step.label);
        const unsigned long window = step.window < 0 ? 0 : windows[step.window];
        if (step.destroyFirst) manager_->Destroy(window);
        manager_->Activate(window);
        ASSERT_TRUE(ReadableWithin(watcher_->Fd(), kForegroundWaitMs));
        auto now = watcher_->Read();
        ASSERT_TRUE(now.ok()) << now.message();
        EXPECT_EQ(*now, step.expected(windows));
        // Everything that woke it was taken: an idle desktop leaves it asleep.
        EXPECT_FALSE(ReadableWithin(watcher_->Fd(), 0));
    }
}

// Several changes before the watcher is read come back as the last one alone.
TEST_F(X11ForegroundTest, ChangesInABurstReadAsTheLast) {
    const unsigned long first = manager_->NewWindow(1);
    const unsigned long last = manager_->NewWindow(2);
    for (int i = 0; i < 5; ++i) {
        manager_->Activate(first);
        manager_->Activate(last);
    }
    ASSERT_TRUE(ReadableWithin(watcher_->Fd(), kForegroundWaitMs));
    auto now = watcher_->Read();
    ASSERT_TRUE(now.ok()) << now.message();
    EXPECT_EQ(*now, (Foreground{last, 2}));
    EXPECT_FALSE(ReadableWithin(watcher_->Fd(), 0));
}

struct NoDisplayCase {
    const char* label;
    std::optional<std::string> display;
    std::optional<std::string> wayland;
    std::string given;
    const char* reason;
};

TEST(ForegroundUnavailableTest, WithoutAnXDisplayTheReasonIsGiven) {
    const NoDisplayCase cases[] = {
        {"Wayland without X", std::nullopt, "wayland-0", "", "Wayland"},
        {"no display at all", std::nullopt, std::nullopt, "", "DISPLAY is not set"},
        {"empty DISPLAY", "", std::nullopt, "", "DISPLAY is not set"},
        {"display that is not there", std::nullopt, std::nullopt, ":4093",
         "cannot open the X display :4093"},
    };
    for (const NoDisplayCase& c : cases) {
        SCOPED_TRACE(c.label);
        test::ScopedEnv display("DISPLAY", c.display);
        test::ScopedEnv wayland("WAYLAND_DISPLAY", c.wayland);
        auto opened = OpenForegroundWatcher(c.given);
        ASSERT_FALSE(opened.ok());
        EXPECT_NE(opened.message().find(c.reason), std::string::npos) << opened.message();
    }
}

}  // namespace
}  // namespace qvm
#endif
