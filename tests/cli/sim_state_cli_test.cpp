// qvmctl on simulated devices whose memory other programs use at the same time, on a
// full disk and with damaged state files: nothing is lost or put back silently, and
// every problem is told with the file it concerns.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>

#include "cli/qvmctl.h"
#include "platform/hid.h"
#include "run_qvmctl.h"
#include "session/hid_factory.h"
#include "support/small_tmpfs.h"
#include "support/temp_folder.h"

namespace qvm::cli {
namespace {

using Bytes = std::vector<uint8_t>;

// Stage 1's DPI in the JSON of `show`; a class C mouse starts at 800.
std::string Stage1Json(int dpi) {
    return "\"x_dpi\": " + std::to_string(dpi) + ",\n      \"y_dpi\": " + std::to_string(dpi);
}

struct FullDiskCase {
    const char* name;
    bool savedBefore;  // the device's state file exists before the disk fills
    bool bridge;       // the device is served by qvm-sim over the device bridge
    int status;
    bool kept;
};

// A change made on a full disk: an existing state file is overwritten in place and needs
// no new block, so the change is kept; without one the change cannot be kept, and
// qvmctl says why and fails, whichever process keeps the simulated device.
const FullDiskCase kFullDiskCases[] = {
    {"NothingSavedYet", false, false, kExitDevice, false},
    {"NothingSavedYetThroughTheBridge", false, true, kExitDevice, false},
    {"SavedMemoryIsOverwrittenInPlace", true, false, kExitOk, true},
};

void PrintTo(const FullDiskCase& c, std::ostream* os) {
    *os << c.name;
}

class QvmctlFullDisk : public ::testing::TestWithParam<FullDiskCase> {};

TEST_P(QvmctlFullDisk, SaysWhatWasNotKept) {
    const FullDiskCase& c = GetParam();
    test::TempFolder folder;
    test::SmallTmpfs disk(folder.File("sim"), 256 * 1024);
    if (!disk.Mounted()) {
        GTEST_SKIP() << "cannot mount a tmpfs: " << disk.Why();
    }
    if (c.savedBefore) {
        ASSERT_EQ(Qvmctl(OnG12({"set", "name", "1", "Before"})).status, kExitOk);
    }
    disk.Fill();

    const std::vector<std::string> dpi{"set", "dpi", "1", "1200"};
    std::vector<std::string> args = OnG12(dpi);
    if (c.bridge) {
        args = {"--hid",
                std::string("exec:") + QVM_SIM_BINARY + " --state " + folder.File("sim") + " g12"};
        args.insert(args.end(), dpi.begin(), dpi.end());
    }
    Outcome set = Qvmctl(args);
    EXPECT_EQ(set.status, c.status) << set.err;
    // The command's own failure carries the reason, once; no success is claimed.
    const std::string reason = "cannot keep the simulated device's memory in " +
                               folder.File("sim/0-g12.mem") + ": No space left on device";
    const std::size_t first = set.err.find(reason);
    EXPECT_EQ(first != std::string::npos, !c.kept) << set.err;
    if (first != std::string::npos) {
        EXPECT_EQ(set.err.find(reason, first + 1), std::string::npos) << set.err;
        EXPECT_TRUE(Has(set.err, "cannot set the DPI: the device did not take the request"))
            << set.err;
        EXPECT_FALSE(Has(set.out, "1200")) << set.out;
    }

    disk.Free();
    Outcome show = Qvmctl(OnG12({"show", "--json"}));
    ASSERT_EQ(show.status, kExitOk) << show.err;
    EXPECT_EQ(Has(show.out, Stage1Json(1200)), c.kept) << show.out;
    EXPECT_EQ(Has(show.out, Stage1Json(800)), !c.kept) << show.out;
}

INSTANTIATE_TEST_SUITE_P(States, QvmctlFullDisk, ::testing::ValuesIn(kFullDiskCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct UnusableStateCase {
    const char* name;
    std::function<void(const std::string& file)> make;
};

const UnusableStateCase kUnusableStates[] = {
    {"WrongSize", [](const std::string& f) { std::ofstream(f) << std::string(100, 'x'); }},
    {"Fifo", [](const std::string& f) { ASSERT_EQ(::mkfifo(f.c_str(), 0600), 0); }},
};

void PrintTo(const UnusableStateCase& c, std::ostream* os) {
    *os << c.name;
}

class QvmctlUnusableState : public ::testing::TestWithParam<UnusableStateCase> {};

TEST_P(QvmctlUnusableState, IsReportedByNameAndTheDeviceStartsAfresh) {
    test::TempFolder folder;
    const std::string file = folder.File("sim/0-g12.mem");
    std::filesystem::create_directories(folder.File("sim"));
    GetParam().make(file);

    auto pending = std::async(std::launch::async, [] { return Qvmctl(OnG12({"show", "--json"})); });
    if (pending.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
        ::close(::open(file.c_str(), O_WRONLY | O_NONBLOCK));  // lets a stuck reader go
        FAIL() << "qvmctl blocked on the state file";
    }
    Outcome show = pending.get();
    EXPECT_EQ(show.status, kExitOk) << show.err;
    EXPECT_TRUE(Has(show.err, "qvmctl: " + file + ": ")) << show.err;
    EXPECT_TRUE(Has(show.err, file + ".rejected")) << show.err;
    EXPECT_TRUE(Has(show.out, Stage1Json(800))) << "the factory configuration\n" << show.out;
    // Reported once: the file is out of the way now.
    Outcome again = Qvmctl(OnG12({"show"}));
    EXPECT_EQ(again.status, kExitOk);
    EXPECT_EQ(again.err, "");
}

INSTANTIATE_TEST_SUITE_P(Kinds, QvmctlUnusableState, ::testing::ValuesIn(kUnusableStates),
                         [](const auto& info) { return std::string(info.param.name); });

// Raw memory access to a class C mouse through any backend, as a host would do it.
Bytes ClassCRequest(std::initializer_list<uint8_t> body) {
    Bytes frame(64, 0);
    frame[0] = 0x01;
    std::copy(body.begin(), body.end(), frame.begin() + 1);
    for (std::size_t i = 1; i + 1 < frame.size(); ++i) frame.back() ^= frame[i];
    return frame;
}

uint8_t ReadByteAt(HidHandle& handle, uint16_t address) {
    if (!handle.SetFeature(ClassCRequest({0x02, uint8_t(address), uint8_t(address >> 8)}))) {
        ADD_FAILURE() << "read request failed";
        return 0;
    }
    Bytes reply(64, 0);
    reply[0] = 0x01;
    EXPECT_TRUE(handle.GetFeature(reply));
    return reply[2];
}

TEST(QvmctlSharedSim, MeetsAQvmSimServingTheSameDevice) {
    test::TempFolder folder;
    auto bridge = MakeHidBackend(std::string("exec:") + QVM_SIM_BINARY + " --state " +
                                 folder.File("sim") + " g12");
    ASSERT_TRUE(bridge) << bridge.message();
    std::string config;
    for (const HidDeviceInfo& info : *(*bridge)->Enumerate()) {
        if (info.caps.featureLength == 64) config = info.path;
    }
    auto handle = (*bridge)->Open(config);
    ASSERT_TRUE(handle) << handle.message();
    ASSERT_EQ(ReadByteAt(**handle, 0x0003), 8) << "stage 1 starts at 800 DPI";

    // qvmctl changes the device while qvm-sim serves it: qvm-sim's next read sees it.
    ASSERT_EQ(Qvmctl(OnG12({"set", "dpi", "1", "1200"})).status, kExitOk);
    EXPECT_EQ(ReadByteAt(**handle, 0x0003), 12);

    // qvm-sim changes it: the next qvmctl run sees that.
    ASSERT_TRUE((*handle)->SetFeature(ClassCRequest({0x03, 0x00, 0x09, 1, 0x5A})));
    Outcome read = Qvmctl(OnG12({"mem", "read", "0x900", "1"}));
    EXPECT_EQ(read.out, "0900: 5a\n") << read.err;

    // qvm-sim ends: it puts nothing old back.
    handle->reset();
    bridge->reset();
    Outcome show = Qvmctl(OnG12({"show", "--json"}));
    EXPECT_TRUE(Has(show.out, Stage1Json(1200))) << show.out;
}

}  // namespace
}  // namespace qvm::cli
