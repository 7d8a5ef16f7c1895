// The uinput injector: the events a touch gesture, a move and a scroll become, and, where
// /dev/uinput is writable, what the kernel's event node of each virtual device gives back.
#ifdef QVM_HAVE_LINUX_HID
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/input.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/uinput_injector.h"

namespace qvm {
namespace {

using Phases = std::vector<TouchPhase>;
using P = TouchPhase;

// The kernel publishes a device's node within milliseconds; this only bounds a hang.
constexpr auto kUinputNodeWait = std::chrono::seconds(20);

// A gesture's phases in an order the contact takes or refuses: `refused` is the index of
// the first phase refused (-1: all taken).
TEST(TouchContactTest, PhasesOutOfOrderAreRefused) {
    struct Case {
        const char* name;
        Phases phases;
        int refused;
    };
    const Case cases[] = {
        {"whole gesture", {P::Hover, P::Down, P::Move, P::Move, P::Up, P::Out}, -1},
        {"down without hover", {P::Down, P::Up, P::Out}, -1},
        {"two gestures", {P::Hover, P::Down, P::Up, P::Down, P::Up, P::Out}, -1},
        {"move before down", {P::Hover, P::Move}, 1},
        {"up before down", {P::Hover, P::Up}, 1},
        {"down twice", {P::Hover, P::Down, P::Down}, 2},
        {"hover while touching", {P::Down, P::Hover}, 1},
        {"move after up", {P::Down, P::Up, P::Move}, 2},
        {"out before hover", {P::Out}, 0},
        {"out twice", {P::Hover, P::Out, P::Out}, 2},
    };
    for (const Case& c : cases) {
        TouchContact contact(640, 480);
        int refused = -1;
        for (size_t i = 0; i < c.phases.size() && refused < 0; ++i) {
            auto events = contact.Phase(c.phases[i], {10, 10});
            if (!events) {
                EXPECT_EQ(events.kind(), ErrorKind::BadInput) << c.name;
                refused = static_cast<int>(i);
            }
        }
        EXPECT_EQ(refused, c.refused) << c.name;
    }
}

// The value the events give `code`, if they give it one.
std::optional<int32_t> ValueOf(const UinputEvents& events, uint16_t type, uint16_t code) {
    std::optional<int32_t> value;
    for (const UinputEvent& e : events) {
        if (e.type == type && e.code == code) value = e.value;
    }
    return value;
}

// Every phase ends its report; a point off the screen lands on its nearest edge, on both
// the multi-touch and the single-touch axes.
TEST(TouchContactTest, PointsOffTheScreenLandOnItsEdge) {
    struct Case {
        InjectPoint at;
        int x;
        int y;
    };
    const Case cases[] = {{{0, 0}, 0, 0},         {{639, 479}, 639, 479},
                          {{640, 480}, 639, 479}, {{-5, 100}, 0, 100},
                          {{100, -1}, 100, 0},    {{INT_MAX, INT_MIN}, 639, 0}};
    for (const Case& c : cases) {
        TouchContact contact(640, 480);
        auto down = contact.Phase(P::Down, c.at);
        ASSERT_TRUE(down.ok()) << down.message();
        EXPECT_EQ(down->back(), (UinputEvent{EV_SYN, SYN_REPORT, 0}));
        EXPECT_EQ(ValueOf(*down, EV_ABS, ABS_MT_POSITION_X), c.x) << c.at.x;
        EXPECT_EQ(ValueOf(*down, EV_ABS, ABS_X), c.x) << c.at.x;
        EXPECT_EQ(ValueOf(*down, EV_ABS, ABS_MT_POSITION_Y), c.y) << c.at.y;
        EXPECT_EQ(ValueOf(*down, EV_ABS, ABS_Y), c.y) << c.at.y;
    }
}

// Each contact gets a tracking id of its own, within the axis' range also after it wraps,
// and leaving the range while touching lifts the finger first, so none stays down.
TEST(TouchContactTest, ContactsAreTrackedAndNeverLeftDown) {
    TouchContact contact(640, 480);
    std::optional<int32_t> previous;
    for (int gesture = 0; gesture < 0x10001; ++gesture) {
        auto down = contact.Phase(P::Down, {1, 1});
        ASSERT_TRUE(down.ok());
        const auto id = ValueOf(*down, EV_ABS, ABS_MT_TRACKING_ID);
        ASSERT_TRUE(id && *id >= 0 && *id <= 0xFFFF) << gesture;
        if (previous) {
            ASSERT_NE(*id, *previous) << gesture;
        }
        previous = id;
        auto out = contact.Phase(P::Out, {1, 1});
        ASSERT_TRUE(out.ok());
        ASSERT_EQ(ValueOf(*out, EV_ABS, ABS_MT_TRACKING_ID), -1);
        ASSERT_EQ(ValueOf(*out, EV_KEY, BTN_TOUCH), 0);
        ASSERT_EQ(ValueOf(*out, EV_KEY, BTN_TOOL_FINGER), 0);
        ASSERT_FALSE(contact.InContact());
    }
}

TEST(UinputEventsTest, HorizontalScrollCarriesDetentsAndHighResolutionUnits) {
    struct Case {
        int detents;
        bool ok;
        std::optional<int32_t> wheel;
        std::optional<int32_t> hiRes;
    };
    const int limit = INT32_MAX / kHiResUnitsPerDetent;
    const Case cases[] = {{-3, true, -3, -360},
                          {1, true, 1, 120},
                          {0, true, std::nullopt, std::nullopt},
                          {limit, true, limit, limit * 120},
                          {-limit, true, -limit, -limit * 120},
                          {limit + 1, false, {}, {}},
                          {INT_MIN, false, {}, {}}};
    for (const Case& c : cases) {
        auto events = HorizontalScrollEvents(c.detents);
        ASSERT_EQ(events.ok(), c.ok) << c.detents;
        if (!c.ok) {
            EXPECT_EQ(events.kind(), ErrorKind::BadInput);
            continue;
        }
        EXPECT_EQ(ValueOf(*events, EV_REL, REL_HWHEEL), c.wheel) << c.detents;
        EXPECT_EQ(ValueOf(*events, EV_REL, REL_HWHEEL_HI_RES), c.hiRes) << c.detents;
    }
}

// ---- The kernel's side ----

std::string ReadSysText(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::string text;
    std::getline(in, text);
    return text;
}

// The event node of the device uinput named `sysName`, opened for reading once the kernel
// has published it and it carries `name`.
UniqueFd OpenEventNode(const std::string& sysName, const std::string& name) {
    const std::filesystem::path device = "/sys/devices/virtual/input/" + sysName;
    const auto end = std::chrono::steady_clock::now() + kUinputNodeWait;
    while (std::chrono::steady_clock::now() < end) {
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(device, error)) {
            const std::string leaf = entry.path().filename();
            if (leaf.rfind("event", 0) != 0) continue;
            EXPECT_EQ(ReadSysText(device / "name"), name);
            UniqueFd fd(::open(("/dev/input/" + leaf).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
            if (fd) return fd;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return UniqueFd();
}

// The events the node gives until `reports` reports have ended (or a generous wait).
UinputEvents ReadReports(int fd, int reports) {
    UinputEvents got;
    const auto end = std::chrono::steady_clock::now() + kUinputNodeWait;
    while (reports > 0 && std::chrono::steady_clock::now() < end) {
        pollfd ready{fd, POLLIN, 0};
        ::poll(&ready, 1, 100);
        input_event event{};
        while (reports > 0 && ::read(fd, &event, sizeof event) == sizeof event) {
            got.push_back({event.type, event.code, event.value});
            if (event.type == EV_SYN && event.code == SYN_REPORT) --reports;
        }
    }
    return got;
}

int CountReports(const UinputEvents& events) {
    int count = 0;
    for (const UinputEvent& e : events) count += e.type == EV_SYN && e.code == SYN_REPORT;
    return count;
}

class UinputKernelTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (::access("/dev/uinput", W_OK) != 0) {
            // The virtual machine of the end-to-end tests loads uinput and asks for it.
            if (std::getenv("QVM_REQUIRE_UINPUT") != nullptr) FAIL() << "/dev/uinput is missing";
            GTEST_SKIP() << "/dev/uinput is not writable here (no uinput module, or not root)";
        }
        injector_ = OpenDevices();
    }
    static std::unique_ptr<UinputInjector> OpenDevices() {
        auto opened = UinputInjector::Open("/dev/uinput");
        EXPECT_TRUE(opened.ok()) << opened.message();
        return opened ? std::move(*opened) : nullptr;
    }

    std::unique_ptr<UinputInjector> injector_;
};

// What the desktop reads from each device: the kernel passes on only values that change,
// so a touch phase shows just what moved.
TEST_F(UinputKernelTest, DevicesGiveBackWhatWasInjected) {
    struct Case {
        const char* name;
        bool touch;
        std::function<void(InputInjector&)> inject;
        UinputEvents expected;
    };
    const UinputEvent syn{EV_SYN, SYN_REPORT, 0};
    const Case cases[] = {
        {"move",
         false,
         [](InputInjector& in) {
             ASSERT_TRUE(in.MovePointer(15, -7).ok());
             ASSERT_TRUE(in.MovePointer(0, 0).ok());
             ASSERT_TRUE(in.MovePointer(0, 3).ok());
         },
         {{EV_REL, REL_X, 15}, {EV_REL, REL_Y, -7}, syn, {EV_REL, REL_Y, 3}, syn}},
        {"scroll left 3",
         false,
         [](InputInjector& in) { ASSERT_TRUE(in.ScrollHorizontal(-3).ok()); },
         {{EV_REL, REL_HWHEEL, -3}, {EV_REL, REL_HWHEEL_HI_RES, -360}, syn}},
        {"touch gesture",
         true,
         [](InputInjector& in) {
             ASSERT_TRUE(in.Touch(P::Hover, {100, 200}).ok());
             ASSERT_TRUE(in.Touch(P::Down, {100, 200}).ok());
             ASSERT_TRUE(in.Touch(P::Move, {130, 220}).ok());
             ASSERT_TRUE(in.Touch(P::Up, {130, 220}).ok());
             ASSERT_TRUE(in.Touch(P::Out, {130, 220}).ok());
         },
         {{EV_ABS, ABS_X, 100},
          {EV_ABS, ABS_Y, 200},
          {EV_KEY, BTN_TOOL_FINGER, 1},
          syn,
          {EV_ABS, ABS_MT_TRACKING_ID, 0},
          {EV_ABS, ABS_MT_POSITION_X, 100},
          {EV_ABS, ABS_MT_POSITION_Y, 200},
          {EV_KEY, BTN_TOUCH, 1},
          syn,
          {EV_ABS, ABS_MT_POSITION_X, 130},
          {EV_ABS, ABS_MT_POSITION_Y, 220},
          {EV_ABS, ABS_X, 130},
          {EV_ABS, ABS_Y, 220},
          syn,
          {EV_ABS, ABS_MT_TRACKING_ID, -1},
          {EV_KEY, BTN_TOUCH, 0},
          syn,
          {EV_KEY, BTN_TOOL_FINGER, 0},
          syn}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (injector_ == nullptr) injector_ = OpenDevices();
        ASSERT_NE(injector_, nullptr);
        const UinputDevice& device = c.touch ? injector_->TouchScreen() : injector_->Pointer();
        auto sysName = device.SysName();
        ASSERT_TRUE(sysName.ok()) << sysName.message();
        UniqueFd node = OpenEventNode(*sysName, c.touch ? kUinputTouchName : kUinputPointerName);
        ASSERT_TRUE(node.valid()) << "no event node for " << *sysName;
        c.inject(*injector_);
        EXPECT_EQ(ReadReports(node.get(), CountReports(c.expected)), c.expected);
        injector_.reset();  // a fresh pair of devices for the next case
    }
}

// The touch screen is a direct one (the desktop maps it onto the screen) and the pointer
// has the axes a mouse has; both leave the system when the injector goes.
TEST_F(UinputKernelTest, DevicesAreWhatTheDesktopExpectsAndLeaveWithTheInjector) {
    ASSERT_NE(injector_, nullptr);
    const std::string pointer = *injector_->Pointer().SysName();
    const std::string touch = *injector_->TouchScreen().SysName();
    const std::filesystem::path sys = "/sys/devices/virtual/input/";
    EXPECT_EQ(ReadSysText(sys / touch / "properties"), "2");  // bit INPUT_PROP_DIRECT (1)
    // REL_X, REL_Y, REL_HWHEEL and REL_HWHEEL_HI_RES: bits 0, 1, 6 and 12.
    EXPECT_EQ(ReadSysText(sys / pointer / "capabilities/rel"), "1043");
    injector_.reset();
    const auto end = std::chrono::steady_clock::now() + kUinputNodeWait;
    while ((std::filesystem::exists(sys / pointer) || std::filesystem::exists(sys / touch)) &&
           std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_FALSE(std::filesystem::exists(sys / pointer));
    EXPECT_FALSE(std::filesystem::exists(sys / touch));
}

}  // namespace
}  // namespace qvm
#endif  // QVM_HAVE_LINUX_HID
