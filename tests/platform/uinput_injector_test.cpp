// The uinput injector: touch phases and wheel steps as events, and, where /dev/uinput is
// writable, what the kernel's event node of each virtual device gives back.
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
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/uinput_injector.h"

namespace qvm {

// Events in a failure message as {type,code,value}.
void PrintTo(const UinputEvent& e, std::ostream* out) {
    *out << "{" << e.type << "," << e.code << "," << e.value << "}";
}

namespace {

using P = TouchPhase;
constexpr auto kUinputWait = std::chrono::seconds(20);  // only bounds a hang
const std::filesystem::path kVirtualInput = "/sys/devices/virtual/input";

std::optional<int32_t> ValueOf(const UinputEvents& events, uint16_t type, uint16_t code) {
    std::optional<int32_t> value;
    for (const UinputEvent& e : events) {
        if (e.type == type && e.code == code) value = e.value;
    }
    return value;
}

// `refused`: the index of the first phase refused, -1 when all are taken.
TEST(TouchContactTest, PhasesOutOfOrderAndWheelOverflowAreRefused) {
    const struct {
        std::vector<TouchPhase> phases;
        int refused;
    } cases[] = {
        {{P::Hover, P::Down, P::Move, P::Up, P::Out}, -1},
        {{P::Down, P::Up, P::Down, P::Up, P::Out}, -1},
        {{P::Hover, P::Move}, 1},
        {{P::Hover, P::Up}, 1},
        {{P::Down, P::Down}, 1},
        {{P::Down, P::Hover}, 1},
        {{P::Out}, 0},
    };
    for (const auto& c : cases) {
        TouchContact contact(640, 480);
        int refused = -1;
        for (size_t i = 0; i < c.phases.size() && refused < 0; ++i) {
            auto events = contact.Phase(c.phases[i], {10, 10});
            if (!events) refused = events.kind() == ErrorKind::BadInput ? int(i) : -2;
        }
        EXPECT_EQ(refused, c.refused) << c.phases.size();
    }
    // A wheel amount whose 120ths do not fit the event's value is refused too.
    EXPECT_EQ(HorizontalScrollEvents(-(INT32_MAX / kHiResUnitsPerDetent) - 1).kind(),
              ErrorKind::BadInput);
}

// Points off the screen land on its edge; each contact has its own tracking id; leaving the
// range while touching lifts the finger, so none stays down.
TEST(TouchContactTest, ContactsStayOnTheScreenAndAreNeverLeftDown) {
    const struct {
        InjectPoint at;
        int x, y;
    } cases[] = {{{639, 479}, 639, 479}, {{640, 480}, 639, 479}, {{INT_MAX, INT_MIN}, 639, 0}};
    TouchContact contact(640, 480);
    std::optional<int32_t> lastId;
    for (const auto& c : cases) {
        auto down = contact.Phase(P::Down, c.at);
        ASSERT_TRUE(down.ok());
        EXPECT_EQ(ValueOf(*down, EV_ABS, ABS_MT_POSITION_X), c.x);
        EXPECT_EQ(ValueOf(*down, EV_ABS, ABS_Y), c.y);
        EXPECT_NE(ValueOf(*down, EV_ABS, ABS_MT_TRACKING_ID), lastId);
        lastId = ValueOf(*down, EV_ABS, ABS_MT_TRACKING_ID);
        auto out = contact.Phase(P::Out, c.at);
        ASSERT_TRUE(out.ok());
        EXPECT_EQ(ValueOf(*out, EV_ABS, ABS_MT_TRACKING_ID), -1);
        EXPECT_EQ(ValueOf(*out, EV_KEY, BTN_TOUCH), 0);
    }
}

std::string SysText(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::string text;
    std::getline(in, text);
    return text;
}

// The event node of the device uinput calls `sysName`, once the kernel has published it.
UniqueFd OpenEventNode(const std::string& sysName) {
    const auto end = std::chrono::steady_clock::now() + kUinputWait;
    for (; std::chrono::steady_clock::now() < end;
         std::this_thread::sleep_for(std::chrono::milliseconds(20))) {
        std::error_code error;
        for (const auto& entry :
             std::filesystem::directory_iterator(kVirtualInput / sysName, error)) {
            const std::string leaf = entry.path().filename();
            if (leaf.rfind("event", 0) != 0) continue;
            UniqueFd fd(::open(("/dev/input/" + leaf).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
            if (fd) return fd;
        }
    }
    return UniqueFd();
}

// The events the node gives until as many reports as `expected` has have ended.
UinputEvents ReadLike(int fd, const UinputEvents& expected) {
    int reports = 0;
    for (const UinputEvent& e : expected) reports += e.type == EV_SYN;
    UinputEvents got;
    const auto end = std::chrono::steady_clock::now() + kUinputWait;
    while (reports > 0 && std::chrono::steady_clock::now() < end) {
        pollfd ready{fd, POLLIN, 0};
        ::poll(&ready, 1, 100);
        input_event event{};
        while (reports > 0 && ::read(fd, &event, sizeof event) == sizeof event) {
            got.push_back({event.type, event.code, event.value});
            reports -= event.type == EV_SYN;
        }
    }
    return got;
}

// The kernel passes on only values that change, so a touch phase shows just what moved.
TEST(UinputKernelTest, DevicesGiveBackWhatWasInjectedAndLeaveWithTheInjector) {
    if (::access("/dev/uinput", W_OK) != 0) {
        // The virtual machine of the end-to-end tests loads uinput and asks for it.
        if (std::getenv("QVM_REQUIRE_UINPUT") != nullptr) FAIL() << "/dev/uinput is missing";
        GTEST_SKIP() << "/dev/uinput is not writable here (no uinput module, or not root)";
    }
    const UinputEvent syn{EV_SYN, SYN_REPORT, 0};
    const struct {
        bool touch;
        std::function<void(InputInjector&)> inject;
        UinputEvents expected;
    } cases[] = {
        {false,
         [](InputInjector& in) {
             for (auto [dx, dy] : {std::pair{15, -7}, {0, 0}, {0, 3}}) {
                 ASSERT_TRUE(in.MovePointer(dx, dy).ok());
             }
             ASSERT_TRUE(in.ScrollHorizontal(-3).ok());
         },
         {{EV_REL, REL_X, 15},
          {EV_REL, REL_Y, -7},
          syn,
          {EV_REL, REL_Y, 3},
          syn,
          {EV_REL, REL_HWHEEL, -3},
          {EV_REL, REL_HWHEEL_HI_RES, -360},
          syn}},
        {true,
         [](InputInjector& in) {
             for (auto [phase, x, y] : {std::tuple{P::Hover, 100, 200},
                                        {P::Down, 100, 200},
                                        {P::Move, 130, 220},
                                        {P::Up, 130, 220},
                                        {P::Out, 130, 220}}) {
                 ASSERT_TRUE(in.Touch(phase, {x, y}).ok());
             }
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
    for (const auto& c : cases) {
        auto injector = UinputInjector::Open("/dev/uinput");
        ASSERT_TRUE(injector.ok()) << injector.message();
        const UinputDevice& device = c.touch ? (*injector)->TouchScreen() : (*injector)->Pointer();
        const std::string sysName = device.SysName().ok() ? *device.SysName() : "";
        EXPECT_EQ(SysText(kVirtualInput / sysName / "name"),
                  c.touch ? kUinputTouchName : kUinputPointerName);
        // The touch screen is direct (bit INPUT_PROP_DIRECT): the desktop maps it on the screen.
        EXPECT_EQ(SysText(kVirtualInput / sysName / "properties"), c.touch ? "2" : "0");
        UniqueFd node = OpenEventNode(sysName);
        ASSERT_TRUE(node.valid()) << "no event node for " << sysName;
        c.inject(**injector);
        EXPECT_EQ(ReadLike(node.get(), c.expected), c.expected);
        injector->reset();
        const auto end = std::chrono::steady_clock::now() + kUinputWait;
        while (std::filesystem::exists(kVirtualInput / sysName) &&
               std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        EXPECT_FALSE(std::filesystem::exists(kVirtualInput / sysName)) << "device left behind";
    }
}

}  // namespace
}  // namespace qvm
#endif  // QVM_HAVE_LINUX_HID
