// Flattening the pointer acceleration of the system's QVM pointers while the program
// asks for it: only those are touched, only in an X11 session, and what was there is put
// back unless someone else changed it meanwhile or the device is another now.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>

#include "platform/linux/x11_pointer_acceleration.h"
#include "platform/pointer_acceleration.h"
#include "support/fake_pointer_devices.h"

namespace qvm {
namespace {

using test::FakePointerDesktop;
using test::LibinputPointer;
using Calls = std::vector<std::string>;
using Flags = std::vector<std::uint8_t>;
using Profiles = std::map<int, Flags>;

constexpr std::uint16_t kOtherVendor = 0x046D;

Profiles ProfilesOf(const FakePointerDesktop& desktop) {
    Profiles profiles;
    for (const PointerDevice& device : desktop.devices) profiles[device.id] = device.profile;
    return profiles;
}

struct HoldCase {
    const char* label;
    std::vector<PointerDevice> devices;
    std::set<int> refuse;
    Calls holdCalls;
    const char* holdError;  // a part of the message; nullptr: success
    Calls releaseCalls;     // after the hold's calls
};

class PointerHoldTest : public testing::TestWithParam<HoldCase> {};

TEST_P(PointerHoldTest, FlattensOnlyQvmPointersAndPutsBackWhatWasThere) {
    const HoldCase& c = GetParam();
    FakePointerDesktop desktop;
    desktop.devices = c.devices;
    desktop.refuse = c.refuse;
    const Profiles before = ProfilesOf(desktop);
    PointerAcceleration pointer(desktop.Connect());

    const Status held = pointer.Hold();
    EXPECT_EQ(desktop.calls, c.holdCalls);
    if (c.holdError == nullptr) {
        EXPECT_TRUE(held) << held.message();
    } else {
        ASSERT_FALSE(held);
        EXPECT_NE(held.message().find(c.holdError), std::string::npos) << held.message();
    }
    for (const PointerDevice& device : desktop.devices) {
        if (!IsQvmPointer(device) || !device.enabled) {
            EXPECT_EQ(device.profile, before.at(device.id)) << device.name << " was touched";
        }
    }

    desktop.calls.clear();
    EXPECT_TRUE(pointer.Release());
    EXPECT_EQ(desktop.calls, c.releaseCalls);
    EXPECT_EQ(ProfilesOf(desktop), before);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PointerHoldTest,
    testing::Values(HoldCase{"only_the_qvm_mouse",
                             {LibinputPointer(10, "Touchpad", std::nullopt),
                              LibinputPointer(11, "QVM mouse", kQvmUsbVendor),
                              LibinputPointer(12, "Other mouse", kOtherVendor)},
                             {},
                             {"set 11 0,1"},
                             nullptr,
                             {"set 11 1,0"}},
                    // A newer libinput's third (custom) profile is put back as it was.
                    HoldCase{"custom_profile_comes_back",
                             {LibinputPointer(11, "QVM mouse", kQvmUsbVendor, {0, 0, 1})},
                             {},
                             {"set 11 0,1,0"},
                             nullptr,
                             {"set 11 0,0,1"}},
                    // One refusal leaves the other mouse held, and only the held one is put back.
                    HoldCase{"refused_one_other_held",
                             {LibinputPointer(8, "QVM first", kQvmUsbVendor),
                              LibinputPointer(9, "QVM second", kQvmUsbVendor)},
                             {8},
                             {"set 8 0,1", "set 9 0,1"},
                             "\"QVM first\": BadMatch",
                             {"set 9 1,0"}}),
    [](const auto& info) { return std::string(info.param.label); });

// What a release must leave alone: each case changes the desktop between hold and release.
struct ReleaseCase {
    const char* label;
    void (*meanwhile)(FakePointerDesktop&);
    Calls releaseCalls;
};

class PointerReleaseTest : public testing::TestWithParam<ReleaseCase> {};

TEST_P(PointerReleaseTest, PutsBackOnlyWhatItStillOwns) {
    FakePointerDesktop desktop;
    desktop.devices = {LibinputPointer(11, "QVM mouse", kQvmUsbVendor)};
    PointerAcceleration pointer(desktop.Connect());
    ASSERT_TRUE(pointer.Hold());
    GetParam().meanwhile(desktop);
    ASSERT_TRUE(pointer.FollowChanges());
    desktop.calls.clear();
    EXPECT_TRUE(pointer.Release());
    EXPECT_EQ(desktop.calls, GetParam().releaseCalls);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PointerReleaseTest,
    testing::Values(
        // The user set the profile with another tool: theirs stays.
        ReleaseCase{"changed_by_someone_else",
                    [](FakePointerDesktop& d) {
                        d.Device(11).profile = {1, 0};
                    },
                    {}},
        // Another mouse took the number and the node of the one that left.
        ReleaseCase{
            "number_taken_over",
            [](FakePointerDesktop& d) {
                d.Remove(11);
                PointerDevice other = LibinputPointer(11, "Other mouse", kOtherVendor, {0, 1});
                d.Add(other);
            },
            {}},
        // Unplugged and plugged in again: a fresh device, flattened again and put back.
        ReleaseCase{"plugged_in_again",
                    [](FakePointerDesktop& d) {
                        d.Remove(11);
                        d.Add(LibinputPointer(11, "QVM mouse", kQvmUsbVendor));
                    },
                    {"set 11 1,0"}}),
    [](const auto& info) { return std::string(info.param.label); });

// Quitting puts back what was there even after a failed release, and a second hold
// never takes the flat profile for what was there.
TEST(PointerQuitTest, QuittingPutsBackEvenAfterAFailedRelease) {
    FakePointerDesktop desktop;
    desktop.devices = {LibinputPointer(11, "QVM mouse", kQvmUsbVendor)};
    {
        PointerAcceleration pointer(desktop.Connect());
        ASSERT_TRUE(pointer.Hold());
        ASSERT_TRUE(pointer.Hold());
        desktop.failList = true;
        const Status released = pointer.Release();
        ASSERT_FALSE(released);
        EXPECT_NE(released.message().find("does not answer"), std::string::npos);
        EXPECT_EQ(desktop.Device(11).profile, (Flags{0, 1}));
        desktop.failList = false;
    }
    EXPECT_EQ(desktop.Device(11).profile, (Flags{1, 0}));
}

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
                    SessionCase{"", "", ":0", PointerSession::kX11},
                    // Xwayland offers a display, but the compositor owns the pointer.
                    SessionCase{"wayland", nullptr, ":0", PointerSession::kWayland},
                    SessionCase{nullptr, "wayland-0", ":0", PointerSession::kWayland},
                    SessionCase{nullptr, nullptr, "", PointerSession::kNone}));

}  // namespace
}  // namespace qvm
