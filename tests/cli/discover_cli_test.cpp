// Which device qvmctl works on and who hears of it: --device takes what `list` prints,
// and a change wakes the running desktop program.
#include <gtest/gtest.h>

#include <sstream>

#include "cli/qvmctl.h"
#include "platform/named_event.h"
#include "run_qvmctl.h"
#include "support/fake_named_event.h"
#include "support/temp_folder.h"

namespace qvm::cli {
namespace {

TEST(QvmctlDiscover, DeviceIsChosenByNumberOrModelName) {
    test::TempFolder folder;
    const std::string sim = "--simulate=mx28/product=MX-30 Pro,g12,g5x";
    const Outcome list = Qvmctl({sim, "list"});
    ASSERT_EQ(list.status, kExitOk) << list.err;
    // The number of the line that names `model`, as `list` prints it.
    auto numberOf = [&](const std::string& model) {
        const auto at = list.out.find("    " + model + ",");
        const auto start = list.out.rfind('\n', list.out.rfind('\n', at) - 1) + 1;
        return list.out.substr(start + 2, list.out.find(':', start) - start - 2);
    };
    const std::string mouse = numberOf("MX-21");
    ASSERT_FALSE(mouse.empty()) << list.out;

    struct Case {
        std::string device;
        int status;
        std::string out;  // in `list`: the marked line is followed by this model
        std::string err;
    };
    const Case cases[] = {
        {mouse, kExitOk, "MX-21,", ""},
        {"MX-30 PRO", kExitOk, "MX-30 Pro,", ""},
        {"9", kExitUsage, "", "device 9 is out of range: allowed 1..3 (see qvmctl list)"},
        {"MX-99", kExitUsage, "", "no device is called 'MX-99' (see qvmctl list)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.device);
        const Outcome marked = Qvmctl({sim, "--device", c.device, "list"});
        EXPECT_EQ(marked.status, c.status) << marked.err;
        EXPECT_TRUE(Has(marked.err, c.err)) << marked.err;
        if (c.status != kExitOk) continue;
        const auto star = marked.out.find("* ");
        ASSERT_NE(star, std::string::npos) << marked.out;
        const auto next = marked.out.find('\n', star) + 1;
        EXPECT_EQ(marked.out.substr(next + 4, c.out.size()), c.out) << marked.out;
    }
    // The commands work on the device chosen so.
    const Outcome named = Qvmctl({sim, "--device", "mx-21", "set", "name", "1", "Picked"});
    ASSERT_EQ(named.status, kExitOk) << named.err;
    EXPECT_TRUE(Has(Qvmctl({sim, "--device", mouse, "show"}).out, "\"Picked\""));
    const Outcome keyboard = Qvmctl({sim, "--device", "mx-30 pro", "show"});
    EXPECT_TRUE(Has(keyboard.err, "is a keyboard")) << keyboard.err;
    const Outcome twins = Qvmctl({"--simulate=g12,g12", "--device", "MX-21", "show"});
    EXPECT_EQ(twins.status, kExitUsage);
    EXPECT_TRUE(Has(twins.err, "several devices are called 'MX-21'")) << twins.err;
}

// The running program is woken after every command that may change something, and
// never after one that only reads or was refused.
TEST(QvmctlDiscover, ChangesWakeTheRunningProgram) {
    test::TempFolder folder;
    test::FakeEventRegistry events;
    auto reload = events.Create(std::string(kReloadEventName));
    ASSERT_TRUE(reload.ok());
    const struct {
        std::vector<std::string> args;
        bool woken;
    } cases[] = {
        {{"set", "name", "1", "Woken"}, true},
        {{"assign", "1", "2", "Copy"}, true},
        {{"mem", "write", "0x0400", "00"}, true},
        {{"reset", "--yes"}, true},
        {{"show"}, false},
        {{"mem", "read", "0", "4"}, false},
        {{"set", "name", "9", "Refused"}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.front() + " " + c.args.back());
        std::vector<std::string> args = c.args;
        args.insert(args.begin(), "--simulate=g12");
        std::istringstream in;
        std::ostringstream out, err;
        QvmctlEnv env;
        env.events = &events;
        RunQvmctl(args, in, out, err, std::move(env));
        auto pulsed = (*reload)->TryWait();
        ASSERT_TRUE(pulsed.ok());
        EXPECT_EQ(*pulsed, c.woken) << err.str();
    }
}

}  // namespace
}  // namespace qvm::cli
