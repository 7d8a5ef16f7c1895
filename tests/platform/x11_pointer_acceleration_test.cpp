#include "platform/linux/x11_pointer_acceleration.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <string>

#include "app/settings.h"
#include "platform/unique_fd.h"
#include "support/temp_folder.h"

extern char** environ;

namespace qvm {
namespace {

using Bytes = std::vector<std::uint8_t>;

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

struct ToXCase {
    MouseParams params;
    XPointerControl expected;
};

class ToXPointerControlTest : public testing::TestWithParam<ToXCase> {};

TEST_P(ToXPointerControlTest, Maps) {
    EXPECT_EQ(ToXPointerControl(GetParam().params), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ToXPointerControlTest,
    testing::Values(ToXCase{{4, 12, 2}, {2, 1, 4}}, ToXCase{{6, 0, 1}, {2, 1, 6}},
                    ToXCase{{0, 0, 0}, {1, 1, 0}}, ToXCase{{7, 9, 0}, {1, 1, 7}},
                    // Negative thresholds are refused by the server.
                    ToXCase{{-5, 3, 2}, {2, 1, 0}}, ToXCase{{3, 3, -1}, {1, 1, 3}}));

struct FromXCase {
    XPointerControl control;
    MouseParams expected;
};

class FromXPointerControlTest : public testing::TestWithParam<FromXCase> {};

TEST_P(FromXPointerControlTest, Maps) {
    EXPECT_EQ(FromXPointerControl(GetParam().control), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FromXPointerControlTest,
    testing::Values(FromXCase{{2, 1, 4}, {4, 4, 1}}, FromXCase{{3, 2, 10}, {10, 10, 1}},
                    // Accelerating from the first count still reads
                    // as on: a first threshold of 0 would mean off.
                    FromXCase{{2, 1, 0}, {1, 1, 1}}, FromXCase{{1, 1, 4}, {0, 0, 0}},
                    FromXCase{{1, 2, 4}, {0, 0, 0}}, FromXCase{{5, 0, 4}, {0, 0, 0}},
                    FromXCase{{5, -1, 4}, {0, 0, 0}}));

struct ProfileCase {
    Bytes enabled;
    Bytes available;
    AccelProfile profile;
    std::optional<Bytes> expected;
};

class SelectAccelProfileTest : public testing::TestWithParam<ProfileCase> {};

TEST_P(SelectAccelProfileTest, SetsExactlyTheWantedFlag) {
    const ProfileCase& c = GetParam();
    EXPECT_EQ(SelectAccelProfile(c.enabled, c.available, c.profile), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SelectAccelProfileTest,
    testing::Values(
        ProfileCase{{1, 0}, {1, 1}, AccelProfile::kFlat, Bytes{0, 1}},
        ProfileCase{{0, 1}, {1, 1}, AccelProfile::kAdaptive, Bytes{1, 0}},
        ProfileCase{{1, 0}, {}, AccelProfile::kFlat, Bytes{0, 1}},
        // Newer libinput has a third (custom) profile: the length is kept, it is cleared.
        ProfileCase{{0, 0, 1}, {1, 1, 1}, AccelProfile::kFlat, Bytes{0, 1, 0}},
        ProfileCase{{0, 0, 1}, {1, 1, 1}, AccelProfile::kAdaptive, Bytes{1, 0, 0}},
        // A device without the flat profile is left as it is.
        ProfileCase{{1, 0}, {1, 0}, AccelProfile::kFlat, std::nullopt},
        ProfileCase{{1, 0}, {1}, AccelProfile::kFlat, std::nullopt},
        ProfileCase{{1}, {1, 1}, AccelProfile::kFlat, std::nullopt},
        ProfileCase{{}, {}, AccelProfile::kAdaptive, std::nullopt}));

struct FlatCase {
    std::vector<Bytes> values;
    std::optional<bool> expected;
};

class ProfilesAreFlatTest : public testing::TestWithParam<FlatCase> {};

TEST_P(ProfilesAreFlatTest, FlatOnlyWhenEveryDeviceIs) {
    EXPECT_EQ(ProfilesAreFlat(GetParam().values), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ProfilesAreFlatTest,
    testing::Values(FlatCase{{}, std::nullopt}, FlatCase{{{0, 1}}, true}, FlatCase{{{1, 0}}, false},
                    FlatCase{{{0, 1}, {0, 1, 0}}, true}, FlatCase{{{0, 1}, {1, 0}}, false},
                    FlatCase{{{1, 0}, {0, 1}}, false},
                    // Too short to say: ignored, not counted as flat.
                    FlatCase{{{1}}, std::nullopt}, FlatCase{{{1}, {0, 1}}, true}));

struct CombineCase {
    XPointerControl control;
    std::optional<bool> libinputFlat;
    MouseParams expected;
};

class CombinePointerStateTest : public testing::TestWithParam<CombineCase> {};

TEST_P(CombinePointerStateTest, LibinputDecidesWhereItExists) {
    const CombineCase& c = GetParam();
    EXPECT_EQ(CombinePointerState(c.control, c.libinputFlat), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Table, CombinePointerStateTest,
                         testing::Values(CombineCase{{2, 1, 4}, std::nullopt, {4, 4, 1}},
                                         CombineCase{{1, 1, 4}, std::nullopt, {0, 0, 0}},
                                         CombineCase{{2, 1, 4}, true, {0, 0, 0}},
                                         CombineCase{{2, 1, 6}, false, {6, 6, 1}},
                                         CombineCase{{1, 1, 6}, false, {6, 6, 1}},
                                         CombineCase{{1, 1, 0}, false, {1, 1, 1}}));

struct SpeedCase {
    float libinput;
    int speed;
};

class PointerSpeedTest : public testing::TestWithParam<SpeedCase> {};

TEST_P(PointerSpeedTest, MapsBothWays) {
    const SpeedCase& c = GetParam();
    EXPECT_EQ(PointerSpeedFromLibinput(c.libinput), c.speed);
    const Result<float> back = LibinputSpeedFromPointerSpeed(c.speed);
    ASSERT_TRUE(back) << back.message();
    EXPECT_FLOAT_EQ(*back, c.libinput);
}

INSTANTIATE_TEST_SUITE_P(Table, PointerSpeedTest,
                         testing::Values(SpeedCase{0.0f, 10}, SpeedCase{1.0f, 20},
                                         SpeedCase{-0.9f, 1}, SpeedCase{0.3f, 13},
                                         SpeedCase{-0.5f, 5}));

TEST(PointerSpeedLimitsTest, OutOfRangeValues) {
    EXPECT_EQ(PointerSpeedFromLibinput(-1.0f), 1);
    EXPECT_EQ(PointerSpeedFromLibinput(2.5f), 20);
    EXPECT_EQ(PointerSpeedFromLibinput(std::nanf("")), kNeutralPointerSpeed);
    for (int bad : {0, 21, -10}) {
        const Result<float> speed = LibinputSpeedFromPointerSpeed(bad);
        ASSERT_FALSE(speed) << bad;
        EXPECT_NE(speed.message().find(std::to_string(bad)), std::string::npos);
    }
}

TEST(SystemPointerTest, WithoutAnX11DesktopEveryChangeFailsClearly) {
    test::ScopedEnv session("XDG_SESSION_TYPE", "wayland");
    test::ScopedEnv wayland("WAYLAND_DISPLAY", "wayland-0");
    auto pointer = MakeSystemPointerAcceleration();
    const Result<MouseParams> params = pointer->GetMouseParams();
    ASSERT_FALSE(params);
    EXPECT_EQ(params.message(), kX11OnlyMessage);
    EXPECT_EQ(pointer->SetMouseParams({0, 0, 0}).message(), kX11OnlyMessage);
    EXPECT_EQ(pointer->SetPointerSpeed(10).message(), kX11OnlyMessage);
    EXPECT_EQ(pointer->GetPointerSpeed(), std::nullopt);
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

TEST(X11PointerTest, AccelerationSwitchesOnARealServer) {
    XvfbServer server;
    if (server.display().empty()) GTEST_SKIP() << "Xvfb is not available";
    auto opened = MakeX11PointerAcceleration(server.display().c_str());
    ASSERT_TRUE(opened) << opened.message();
    PointerAcceleration& pointer = **opened;

    // Xvfb's devices are not libinput's: only the pointer control moves, and there is no
    // speed to set.
    EXPECT_EQ(pointer.GetPointerSpeed(), std::nullopt);
    EXPECT_FALSE(pointer.SetPointerSpeed(12));

    ASSERT_TRUE(ApplyPointerAcceleration(true, pointer));
    const Result<MouseParams> off = pointer.GetMouseParams();
    ASSERT_TRUE(off) << off.message();
    EXPECT_EQ(*off, (MouseParams{0, 0, 0}));

    // The option turned off again switches acceleration on because it was off.
    ASSERT_TRUE(ApplyPointerAcceleration(false, pointer));
    const Result<MouseParams> on = pointer.GetMouseParams();
    ASSERT_TRUE(on) << on.message();
    EXPECT_EQ(*on, (MouseParams{4, 4, 1}));

    ASSERT_TRUE(pointer.SetMouseParams({9, 20, 1}));
    EXPECT_EQ(*pointer.GetMouseParams(), (MouseParams{9, 9, 1}));
}

TEST(X11PointerTest, AMissingDisplayIsAnError) {
    auto opened = MakeX11PointerAcceleration(":65000");
    ASSERT_FALSE(opened);
    EXPECT_NE(opened.message().find(":65000"), std::string::npos);
}

}  // namespace
}  // namespace qvm
