// qvmctl run in-process on simulated devices: what `status` reads, bad arguments, which
// device --device picks (what `list` prints) and who hears of a change. (A change that
// outlives the run: the configuration tests, in-process and bridged.)
#include <gtest/gtest.h>

#include <sstream>

#include "cli/qvmctl.h"
#include "platform/named_event.h"
#include "run_qvmctl.h"
#include "support/fake_named_event.h"
#include "support/temp_folder.h"

namespace qvm::cli {
namespace {

// An erased memory has no DPI stage: none is made up from its 0xff bytes.
TEST(Qvmctl, StatusOfABlankDeviceMakesUpNoStage) {
    const Outcome run = Qvmctl({"--hid", "sim:g12/blank", "status"});
    ASSERT_EQ(run.status, kExitOk) << run.err;
    EXPECT_TRUE(Has(run.out, "current DPI stage: none")) << run.out;
    EXPECT_TRUE(Has(Qvmctl({"--hid", "sim:g12", "status"}).out, "current DPI stage: 2\n"));
}

// Bad input: a clear message on standard error, nothing on standard output, and the
// documented exit status.
TEST(Qvmctl, BadInputIsRefusedClearly) {
    test::TempFolder folder;  // the user folder the simulated devices are kept in
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string message;
    };
    const Case cases[] = {
        {{"--hid", "bogus", "list"}, kExitUsage, "unknown HID backend 'bogus'"},
        {{"--frobnicate", "list"}, kExitUsage, "unknown option --frobnicate"},
        {{"--hid", "sim", "mem", "read", "0x10"}, kExitUsage, "usage: qvmctl [options] mem read"},
        {{"--hid", "sim", "mem", "read", "0x10000", "1"}, kExitUsage, "address 0x10000 is out"},
        {{"--hid", "sim", "mem", "read", "0xfff0", "0x20"}, kExitUsage, "goes past the last"},
        {{"--hid", "sim", "--device", "sim#nothing", "status"},
         kExitDevice,
         "no identified device at"},
        {{"--generation", "300", "list"}, kExitUsage, "generation 300 is out of range"},
        {{"--hid", "sim:g12", "assign", "1", "2", "Ctl + C"},
         kExitUsage,
         "did you mean 'Ctrl + C'"},
        {{"--hid", "sim:g12", "set", "dpi", "1", "90000"}, kExitUsage, "allowed 100..16000"},
        {{"--hid", "sim:g12", "set", "snapping", "onn"}, kExitUsage, "onn"},
        {{"--simulate=g12,g5x", "--device", "9", "show"},
         kExitUsage,
         "device 9 is out of range: allowed 1..2 (see qvmctl list)"},
        {{"--simulate=g12", "--device", "MX-99", "show"},
         kExitUsage,
         "no device is called 'MX-99' (see qvmctl list)"},
        {{"--simulate=g12,g12", "--device", "MX-21", "show"},
         kExitUsage,
         "several devices are called 'MX-21'"},
    };
    for (const auto& c : cases) {
        std::string joined;
        for (const auto& a : c.args) joined += a + " ";
        SCOPED_TRACE(joined);
        Outcome run = Qvmctl(c.args);
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.err.rfind("qvmctl: ", 0), 0u) << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "");
    }
}

// --device takes the number `list` prints or the model name in any case, and the
// command works on that device. (Numbers and names that pick none: the table above.)
TEST(QvmctlDiscover, DeviceIsChosenByNumberOrModelName) {
    test::TempFolder folder;
    const std::string sim = "--simulate=mx28/product=MX-30 Pro,g12,g5x";
    const Outcome list = Qvmctl({sim, "list"});
    ASSERT_EQ(list.status, kExitOk) << list.err;
    // The number of the entry whose second line names MX-21.
    const auto at = list.out.find("    MX-21,");
    const auto start = list.out.rfind('\n', list.out.rfind('\n', at) - 1) + 1;
    const std::string mouse = list.out.substr(start + 2, list.out.find(':', start) - start - 2);
    ASSERT_FALSE(mouse.empty()) << list.out;

    const Outcome named = Qvmctl({sim, "--device", "mx-21", "set", "name", "1", "Picked"});
    ASSERT_EQ(named.status, kExitOk) << named.err;
    EXPECT_TRUE(Has(Qvmctl({sim, "--device", mouse, "show"}).out, "\"Picked\""));
    EXPECT_FALSE(Has(Qvmctl({sim, "--device", "MX-30 PRO", "show"}).out, "\"Picked\""));
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
        {{"app", "bind", "1", "/bin/sh"}, true},
        {{"app", "unbind", "1"}, true},
        {{"app", "list"}, false},
        {{"app", "bind", "6", "/bin/sh"}, false},
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
