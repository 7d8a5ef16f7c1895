// The choice of injector: uinput where /dev/uinput is writable, else XTest on the display,
// else one whose every call fails with the reasons why the better ones were not used.
#ifdef QVM_HAVE_LINUX_HID
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "platform/input_injector.h"
#include "support/xvfb.h"

namespace qvm {
namespace {

TEST(OpenInputInjectorTest, TakesTheBestAvailableAndSaysWhyNotTheOthers) {
    const bool uinput = ::access("/dev/uinput", W_OK) == 0;
    const char* old = std::getenv("DISPLAY");
    const std::optional<std::string> oldDisplay =
        old ? std::optional<std::string>(old) : std::nullopt;
    test::Xvfb xvfb;
    const bool haveX = test::XvfbInstalled() && !xvfb.Name().empty();
    struct Case {
        std::optional<std::string> display;
        const char* name;  // without uinput
        std::vector<std::string> reasons;
    };
    const Case cases[] = {
        {std::nullopt, "none", {"uinput: /dev/uinput", "XTest: no X display"}},
        {":999999", "none", {"uinput: /dev/uinput", "XTest: cannot open the X display :999999"}},
        {xvfb.Name(), "XTest", {"uinput: /dev/uinput"}},
    };
    for (const Case& c : cases) {
        if (std::string(c.name) == "XTest" && !haveX) continue;
        c.display ? ::setenv("DISPLAY", c.display->c_str(), 1) : ::unsetenv("DISPLAY");
        std::string why = "stale text";
        auto injector = OpenInputInjector(why);
        ASSERT_NE(injector, nullptr);
        if (uinput) {
            EXPECT_EQ(injector->Name(), "uinput");
            EXPECT_EQ(why, "");
            continue;
        }
        EXPECT_EQ(injector->Name(), c.name) << why;
        for (const std::string& reason : c.reasons) {
            EXPECT_NE(why.find(reason), std::string::npos) << why << " lacks " << reason;
        }
        if (injector->Name() != "none") continue;
        // Nothing pretends to have happened.
        for (const Status& s : {injector->MovePointer(1, 1), injector->ScrollHorizontal(-3),
                                injector->Touch(TouchPhase::Down, {1, 1})}) {
            EXPECT_NE(s.message().find(why), std::string::npos) << s.message();
        }
    }
    oldDisplay ? ::setenv("DISPLAY", oldDisplay->c_str(), 1) : ::unsetenv("DISPLAY");
}

}  // namespace
}  // namespace qvm
#endif  // QVM_HAVE_LINUX_HID
