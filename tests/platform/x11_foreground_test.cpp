// The foreground watcher: on an X server of the test's own (Xvfb), another client names
// the active window as a window manager does, and each change wakes the watcher and reads
// back as that window and its process; without an X display it says why it cannot work.
#ifdef QVM_HAVE_LINUX_HID
#include <gtest/gtest.h>
#include <poll.h>

#include "platform/foreground.h"
#include "support/temp_folder.h"
#include "support/x11_window_manager_double.h"
#include "support/xvfb.h"

namespace qvm {
namespace {

bool ReadableWithin(int fd, int timeoutMs) {
    pollfd ready{fd, POLLIN, 0};
    return ::poll(&ready, 1, timeoutMs) == 1;
}

TEST(X11ForegroundTest, ActiveWindowChangesReadBackWithTheirProcess) {
    if (!test::XvfbInstalled()) GTEST_SKIP() << "Xvfb is not installed (Debian package xvfb)";
    test::Xvfb xvfb;
    ASSERT_FALSE(xvfb.Name().empty()) << "Xvfb did not start";
    test::X11WindowManagerDouble manager(xvfb.Name());
    auto watcher = OpenForegroundWatcher(xvfb.Name());
    ASSERT_TRUE(watcher.ok()) << watcher.message();
    const unsigned long withPid = manager.NewWindow(4242), noPid = manager.NewWindow({});
    const unsigned long gone = manager.NewWindow(77), other = manager.NewWindow(5);
    const struct {
        unsigned long active;  // 0: the property removed
        Foreground expected;
    } steps[] = {
        {withPid, {withPid, 4242}}, {noPid, {noPid, 0}}, {withPid, {withPid, 4242}}, {0, {}},
        {gone, {gone, 0}},          {other, {other, 5}},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.active);
        if (step.active == gone) manager.Destroy(gone);
        // A burst of changes reads as its last one.
        manager.Activate(other);
        manager.Activate(step.active);
        ASSERT_TRUE(ReadableWithin((*watcher)->Fd(), 10000));
        auto now = (*watcher)->Read();
        ASSERT_TRUE(now.ok()) << now.message();
        EXPECT_EQ(*now, step.expected);
        EXPECT_FALSE(ReadableWithin((*watcher)->Fd(), 0)) << "woken with nothing to read";
    }
}

TEST(ForegroundUnavailableTest, WithoutAnXDisplayTheReasonIsGiven) {
    const struct {
        std::optional<std::string> wayland;
        const char* reason;
    } cases[] = {{"wayland-0", "Wayland"}, {std::nullopt, "DISPLAY is not set"}};
    for (const auto& c : cases) {
        test::ScopedEnv display("DISPLAY", std::nullopt);
        test::ScopedEnv wayland("WAYLAND_DISPLAY", c.wayland);
        auto opened = OpenForegroundWatcher();
        ASSERT_FALSE(opened.ok());
        EXPECT_NE(opened.message().find(c.reason), std::string::npos) << opened.message();
    }
}

}  // namespace
}  // namespace qvm
#endif
