#include "platform/linux/x11_pointer_acceleration.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/unique_fd.h"
#include "support/temp_folder.h"

// Xlib's macros (Status, None, Bool...) must not reach the headers above; this file is
// compiled on its own, outside the folder's unity batches, so they reach no other test.
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#undef Status

extern char** environ;

namespace qvm {
namespace {

struct SessionCase {
    const char* sessionType;
    const char* waylandDisplay;
    const char* x11Display;
    PointerSession expected;
};

class PointerSessionTest : public testing::TestWithParam<SessionCase> {};

TEST_P(PointerSessionTest, OnlyAnX11SessionIsChanged) {
    const SessionCase& c = GetParam();
    EXPECT_EQ(DetectPointerSession(c.sessionType, c.waylandDisplay, c.x11Display), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PointerSessionTest,
    testing::Values(SessionCase{"x11", nullptr, ":0", PointerSession::kX11},
                    SessionCase{nullptr, nullptr, ":1", PointerSession::kX11},
                    SessionCase{"", "", ":0", PointerSession::kX11},
                    // Xwayland offers a display, but the compositor owns the pointer.
                    SessionCase{"wayland", nullptr, ":0", PointerSession::kWayland},
                    SessionCase{nullptr, "wayland-0", ":0", PointerSession::kWayland},
                    SessionCase{"tty", nullptr, nullptr, PointerSession::kNone},
                    SessionCase{nullptr, nullptr, "", PointerSession::kNone}));

struct NodeVendorCase {
    const char* label;
    std::string node;
    const char* vendorFile;  // written for event7; nullptr: none
    std::optional<std::uint16_t> expected;
};

class InputNodeVendorTest : public testing::TestWithParam<NodeVendorCase> {};

TEST_P(InputNodeVendorTest, ReadsTheKernelsRecord) {
    test::TempFolder sys;
    if (GetParam().vendorFile) {
        sys.Write("class/input/event7/device/id/vendor", std::string(GetParam().vendorFile));
    }
    sys.Write("secret/device/id/vendor", std::string("0c45\n"));
    EXPECT_EQ(InputNodeVendor(GetParam().node, sys.path()), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, InputNodeVendorTest,
    testing::Values(NodeVendorCase{"qvm", "/dev/input/event7", "0c45\n", 0x0C45},
                    NodeVendorCase{"upper_case", "/dev/input/event7", "0C45", 0x0C45},
                    NodeVendorCase{"other", "/dev/input/event7", "046d\n", 0x046D},
                    NodeVendorCase{"missing", "/dev/input/event7", nullptr, std::nullopt},
                    NodeVendorCase{"garbage", "/dev/input/event7", "0c45x\n", std::nullopt},
                    NodeVendorCase{"too_wide", "/dev/input/event7", "10c45\n", std::nullopt},
                    // Only a plain node name is looked up: no way out of the folder.
                    NodeVendorCase{"climbs_out", "/dev/input/../../secret", "0c45", std::nullopt},
                    NodeVendorCase{"not_an_input_node", "/tmp/event7", "0c45", std::nullopt}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(SystemPointerTest, WithoutAnX11DesktopNothingIsChanged) {
    test::ScopedEnv session("XDG_SESSION_TYPE", "wayland");
    test::ScopedEnv wayland("WAYLAND_DISPLAY", "wayland-0");
    auto pointer = MakeSystemPointerAcceleration();
    EXPECT_FALSE(pointer->Available());
    EXPECT_EQ(pointer->UnavailableReason(), kX11OnlyMessage);
    EXPECT_EQ(pointer->Hold().message(), kX11OnlyMessage);
    EXPECT_EQ(pointer->Release().message(), kX11OnlyMessage);
}

// A private Xvfb server for the test, which writes its display number to a pipe once it
// accepts connections. The test is skipped where Xvfb is not installed.
class XvfbServer {
  public:
    XvfbServer() {
        int fds[2];
        if (::pipe(fds) != 0) return;
        UniqueFd readEnd(fds[0]);
        UniqueFd writeEnd(fds[1]);
        const std::string fdText = std::to_string(writeEnd.get());
        const char* argv[] = {"Xvfb",       "-displayfd", fdText.c_str(), "-nolisten",
                              "tcp",        "-noreset",   "-screen",      "0",
                              "320x240x24", nullptr};
        if (::posix_spawnp(&pid_, "Xvfb", nullptr, nullptr, const_cast<char**>(argv), environ) !=
            0) {
            pid_ = -1;
            return;
        }
        writeEnd.reset();
        std::string number;
        pollfd wait{readEnd.get(), POLLIN, 0};
        constexpr int kStartTimeoutMs = 10000;
        char c = 0;
        while (::poll(&wait, 1, kStartTimeoutMs) == 1 && ::read(readEnd.get(), &c, 1) == 1 &&
               c != '\n') {
            number += c;
        }
        if (!number.empty()) display_ = ":" + number;
    }
    ~XvfbServer() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            int status = 0;
            ::waitpid(pid_, &status, 0);
        }
    }
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    // Empty when the server did not start.
    const std::string& display() const { return display_; }

  private:
    pid_t pid_ = -1;
    std::string display_;
};

// Adds a master pointer to the server, which brings its own slave pointer with it, or
// removes it again with that slave.
void ChangeTestMaster(const std::string& display, bool add) {
    std::unique_ptr<Display, decltype(&XCloseDisplay)> d(XOpenDisplay(display.c_str()),
                                                         &XCloseDisplay);
    ASSERT_TRUE(d);
    char name[] = "qvm test";
    XIAnyHierarchyChangeInfo change{};
    if (add) {
        change.add = {XIAddMaster, name, True, True};
    } else {
        int count = 0;
        std::unique_ptr<XIDeviceInfo, decltype(&XIFreeDeviceInfo)> info(
            XIQueryDevice(d.get(), XIAllMasterDevices, &count), &XIFreeDeviceInfo);
        int master = -1;
        for (int i = 0; i < count; ++i) {
            if (info.get()[i].use == XIMasterPointer &&
                std::string(info.get()[i].name) == "qvm test pointer") {
                master = info.get()[i].deviceid;
            }
        }
        ASSERT_GE(master, 0);
        change.remove = {XIRemoveMaster, master, XIFloating, 0, 0};
    }
    XIChangeHierarchy(d.get(), &change, 1);
    XSync(d.get(), False);
}

PointerNotices NextNotices(PointerDevices& devices) {
    pollfd readable{devices.ChangeFd(), POLLIN, 0};
    constexpr int kNoticeTimeoutMs = 10000;
    EXPECT_EQ(::poll(&readable, 1, kNoticeTimeoutMs), 1);
    return devices.TakeChanges();
}

TEST(X11PointerTest, ARealServersPointersAreListedAndLeftAlone) {
    XvfbServer server;
    if (server.display().empty()) GTEST_SKIP() << "Xvfb is not available";
    auto opened = MakeX11PointerDevices(server.display().c_str());
    ASSERT_TRUE(opened) << opened.message();
    PointerDevices& devices = **opened;

    const Result<std::vector<PointerDevice>> listed = devices.List();
    ASSERT_TRUE(listed) << listed.message();
    ASSERT_FALSE(listed->empty());  // the server's own test pointer
    for (const PointerDevice& device : *listed) {
        EXPECT_FALSE(IsQvmPointer(device)) << device.name;
        EXPECT_TRUE(device.profile.empty()) << device.name;  // no libinput under Xvfb
    }
    EXPECT_GE(devices.ChangeFd(), 0);
    EXPECT_FALSE(devices.TakeChanges().changed);

    // Pointers that come and go are announced on the descriptor, those that go by number.
    ChangeTestMaster(server.display(), true);
    EXPECT_TRUE(NextNotices(devices).changed);
    EXPECT_FALSE(devices.TakeChanges().changed);
    const Result<std::vector<PointerDevice>> after = devices.List();
    ASSERT_TRUE(after);
    ASSERT_EQ(after->size(), listed->size() + 1);
    const auto isNew = [&](const PointerDevice& device) {
        return std::none_of(listed->begin(), listed->end(),
                            [&](const PointerDevice& old) { return old.id == device.id; });
    };
    const int added = std::find_if(after->begin(), after->end(), isNew)->id;
    ChangeTestMaster(server.display(), false);
    const PointerNotices removal = NextNotices(devices);
    EXPECT_TRUE(removal.changed);
    EXPECT_NE(std::find(removal.removed.begin(), removal.removed.end(), added),
              removal.removed.end());

    // Holding on a desktop without QVM pointers changes nothing and succeeds.
    PointerAcceleration pointer(std::move(*opened));
    EXPECT_TRUE(pointer.Hold());
    EXPECT_TRUE(pointer.Release());
}

TEST(X11PointerTest, AMissingDisplayIsAnError) {
    auto opened = MakeX11PointerDevices(":65000");
    ASSERT_FALSE(opened);
    EXPECT_NE(opened.message().find(":65000"), std::string::npos);
}

}  // namespace
}  // namespace qvm
