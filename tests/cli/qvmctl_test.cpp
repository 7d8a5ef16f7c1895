// qvmctl run in-process on simulated devices, in-process and through the bridge.
#include <gtest/gtest.h>

#include <sstream>

#include "cli/qvmctl.h"
#include "run_qvmctl.h"
#include "support/temp_folder.h"

namespace qvm::cli {
namespace {

// Writes four bytes across a 16-byte line boundary in one process and reads them back
// in another: only bytes 0x7fe..0x801 change.
void CheckWriteReadBack(const std::vector<std::string>& backend) {
    auto with = [&](std::vector<std::string> args) {
        args.insert(args.begin(), backend.begin(), backend.end());
        return Qvmctl(args);
    };
    Outcome before = with({"mem", "read", "0x7f0", "0x20"});
    ASSERT_EQ(before.status, kExitOk) << before.err;
    Outcome write = with({"mem", "write", "0x7fe", "01:02:03:04"});
    ASSERT_EQ(write.status, kExitOk) << write.err;
    EXPECT_EQ(write.out, "wrote 4 bytes at 0x07fe\n");
    Outcome after = with({"mem", "read", "0x7f0", "0x20"});
    ASSERT_EQ(after.status, kExitOk) << after.err;

    std::istringstream b(before.out), a(after.out);
    std::string b1, b2, a1, a2;
    std::getline(b, b1);
    std::getline(b, b2);
    std::getline(a, a1);
    std::getline(a, a2);
    ASSERT_EQ(a1.size(), 6u + 16 * 3 - 1) << after.out;
    EXPECT_EQ(a1.substr(0, 47), b1.substr(0, 47));
    EXPECT_EQ(a1.substr(47), " 01 02");
    EXPECT_EQ(a2.substr(0, 11), "0800: 03 04");
    EXPECT_EQ(a2.substr(11), b2.substr(11));
}

// --simulate keeps device memory in the user folder, so a second process sees the write;
// through the bridge each run starts its own qvm-sim on a shared state folder.
TEST(Qvmctl, MemoryWrittenInOneRunIsReadInTheNext) {
    test::TempFolder folder;
    for (const std::string kind : {"g0", "g7x", "g11"}) {
        SCOPED_TRACE(kind);
        CheckWriteReadBack({"--simulate=" + kind});
    }
    CheckWriteReadBack({"--hid", SimBridge("g3", folder.path())});
}

TEST(Qvmctl, StatusDecodesEachGeneration) {
    struct Case {
        std::string kind;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"g12/mem=32k", {"protocol generation: 12 (layout class C)", "memory top: 0x7fff"}},
        {"g12", {"current DPI stage: 2\n"}},  // the factory image selects stage 2
        // An erased memory has no stage: none is made up from its 0xff bytes.
        {"g12/blank", {"current DPI stage: none"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        Outcome run = Qvmctl({"--hid", "sim:" + c.kind, "status"});
        ASSERT_EQ(run.status, kExitOk) << run.err;
        for (const auto& text : c.expected) {
            EXPECT_NE(run.out.find(text), std::string::npos) << run.out;
        }
    }
}

// Bad input: a clear message on standard error, nothing on standard output, and the
// documented exit status.
TEST(Qvmctl, BadInputIsRefusedClearly) {
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string message;
    };
    const Case cases[] = {
        {{"--hid", "bogus", "list"}, kExitUsage, "unknown HID backend 'bogus'"},
        {{"--hid", "sim:q9", "list"}, kExitUsage, "q9"},
        {{"--hid", "sim", "--simulate", "list"}, kExitUsage, "cannot be used together"},
        {{"--frobnicate", "list"}, kExitUsage, "unknown option --frobnicate"},
        {{"--hid", "sim", "mem", "read", "0x10"}, kExitUsage, "usage: qvmctl [options] mem read"},
        {{"--hid", "sim", "mem", "read", "0x10000", "1"}, kExitUsage, "address 0x10000 is out"},
        {{"--hid", "sim", "mem", "read", "0xfff0", "0x20"}, kExitUsage, "goes past the last"},
        {{"--hid", "sim", "--device", "sim#nothing", "status"},
         kExitDevice,
         "no identified device at"},
        {{"--hid", "exec:/nonexistent/qvm-sim", "list"}, kExitUsage, ""},
        {{"--generation", "300", "list"}, kExitUsage, "generation 300 is out of range"},
        {{"--hid", "sim:g12", "assign", "1", "2", "Ctl + C"},
         kExitUsage,
         "did you mean 'Ctrl + C'"},
        {{"--hid", "sim:g12", "set", "dpi", "1", "90000"}, kExitUsage, "allowed 100..16000"},
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

}  // namespace
}  // namespace qvm::cli
