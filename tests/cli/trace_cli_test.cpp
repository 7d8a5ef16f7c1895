// Traces made with qvmctl --trace: replayed onto a fresh simulated mouse they give the
// same memory, and `trace show` reads them.
#include <gtest/gtest.h>

#include <fstream>

#include "run_qvmctl.h"
#include "support/temp_folder.h"

namespace qvm::cli {
namespace {

TEST(QvmctlTrace, ReplayGivesAFreshMouseTheSameMemory) {
    test::TempFolder traced;
    const std::string trace = traced.File("t.trace");
    const std::string macro = traced.Write("m.txt", std::string("key-down A\nwait 20\nkey-up A\n"));
    const std::vector<std::vector<std::string>> commands{
        {"set", "dpi", "2", "1200"},
        {"assign", "1", "3", "Ctrl + C"},
        {"macro", "store", "3", macro, "--name", "typed"},
        {"assign", "2", "4", "macro:3"},
        {"set", "rate", "250"},
    };
    for (const auto& command : commands) {
        std::vector<std::string> args{"--trace", trace};
        args.insert(args.end(), command.begin(), command.end());
        const Outcome run = Qvmctl(OnG12(args));
        ASSERT_EQ(run.status, kExitOk) << command[0] << ": " << run.err;
    }
    const std::vector<uint8_t> memory = traced.Read("sim/0-g12.mem");
    ASSERT_FALSE(memory.empty());

    test::TempFolder fresh;  // a user folder of its own: a factory-new mouse
    const Outcome replay = Qvmctl(OnG12({"trace", "replay", trace}));
    ASSERT_EQ(replay.status, kExitOk) << replay.err;
    EXPECT_TRUE(Has(replay.out, "reports replayed")) << replay.out;
    EXPECT_EQ(fresh.Read("sim/0-g12.mem"), memory);
}

TEST(QvmctlTrace, ReplayRefusesWhatItCannotReproduce) {
    test::TempFolder folder;
    const std::string other =
        folder.Write("other.trace",
                     std::string("1.000 > setf hid#vid_0c45&pid_9999&mi_01#hidraw0 0111030000\n"));
    const Outcome model = Qvmctl(OnG12({"trace", "replay", other}));
    EXPECT_EQ(model.status, kExitUsage);
    EXPECT_TRUE(Has(model.err, "pid_9999")) << model.err;
    const Outcome real = Qvmctl({"--hid", "linux", "trace", "replay", other});
    EXPECT_EQ(real.status, kExitUsage);
    EXPECT_TRUE(Has(real.err, "simulated")) << real.err;
}

TEST(QvmctlTrace, ShowNamesTheCommandsAndSkipsDamagedLines) {
    test::TempFolder folder;
    const std::string trace = folder.File("t.trace");
    ASSERT_EQ(Qvmctl(OnG12({"--trace", trace, "set", "dpi", "2", "1200"})).status, kExitOk);
    {
        std::ofstream append(trace, std::ios::app);
        append << "99.000 > setf sim#vid_0c45&pid_7040&mi_01#d0i1 01zz\n"
               << "99.500 > setf sim#vid_0c45&pid_7040&mi_01#d0i1 0137" << std::string(124, '0')
               << '\n';
    }
    const Outcome show = Qvmctl({"trace", "show", trace});
    EXPECT_EQ(show.status, kExitOk) << show.err;
    for (const char* part :
         {"# qvm-trace 1 start=", "interface sim#vid_0c45", "> WriteBlock address=0x",
          "< reply ReadPiece status=", "> unknown 0x37  01370000"}) {
        EXPECT_TRUE(Has(show.out, part)) << part << "\n" << show.out;
    }
    EXPECT_TRUE(Has(show.err, "line ")) << show.err;
    EXPECT_TRUE(Has(show.err, "not hexadecimal; skipped")) << show.err;
}

}  // namespace
}  // namespace qvm::cli
