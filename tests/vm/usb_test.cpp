// A simulated mouse as a whole USB device (dummy controller, gadgetfs): the kernel's USB
// host stack enumerates it, usbhid binds it, and qvmctl identifies it through hidraw and
// the string descriptors libusb reads. Every change qvmctl makes must reach the memory
// behind the kernel exactly as it reaches the same mouse simulated inside qvmctl.
#include <filesystem>
#include <fstream>
#include <iterator>

#include "sim/sim_gadget.h"
#include "vm_rig.h"

namespace qvm::vm {
namespace {

namespace fs = std::filesystem;

constexpr const char* kGadgetFolder = "/dev/gadget";

struct UsbCase {
    const char* name;
    const char* devices;  // one mouse, in the simulator's grammar
    uint16_t product;
};

const UsbCase kCases[] = {
    {"generation0", "g0/mem=8k", 0x7010},
    {"generation12", "g12/mem=8k", 0x7030},
};

Bytes ReadFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// The second line of `qvmctl list`: model, generation, layout class, firmware.
std::string ModelLine(const std::string& list) {
    const size_t first = list.find('\n');
    if (first == std::string::npos) return "";
    const size_t second = list.find('\n', first + 1);
    return list.substr(first + 1, second - first - 1);
}

class UsbMouse : public ::testing::TestWithParam<UsbCase> {
  protected:
    void SetUp() override {
        twinFolder_ = fs::path("/tmp") / (std::string("twin-") + GetParam().name);
        fs::remove_all(twinFolder_);
        fs::create_directories(twinFolder_);
        auto sim = SimBackend::Create(GetParam().devices, "");
        ASSERT_TRUE(sim) << sim.message();
        sim_ = std::move(*sim);
        auto gadget = SimGadgetDevice::Create(sim_->Device(0), kGadgetFolder);
        ASSERT_TRUE(gadget) << gadget.message();
        gadget_ = std::move(*gadget);
        auto backend = MakeLinuxBackend();
        ASSERT_TRUE(backend) << backend.message();
        // Enumerated, bound and published with its descriptors, on USB.
        ASSERT_TRUE(WaitFor([&] {
            size_t seen = 0;
            for (const HidDeviceInfo& info : OurInterfaces(**backend)) {
                if (info.productId == GetParam().product && info.caps.usagePage != 0 &&
                    info.container.find("usb") != std::string::npos) {
                    ++seen;
                }
            }
            return seen == sim_->Device(0).Interfaces().size();
        }));
    }

    void TearDown() override {
        gadget_.reset();
        // The next device may only come once this one has left.
        auto backend = MakeLinuxBackend();
        if (backend) {
            EXPECT_TRUE(WaitFor([&] { return OurInterfaces(**backend).empty(); }));
        }
    }

    ProgramRun OnKernel(const std::vector<std::string>& args) { return RunProgram("qvmctl", args); }
    // The same mouse simulated inside qvmctl, its memory kept in the twin's folder.
    ProgramRun OnTwin(std::vector<std::string> args) {
        args.insert(args.begin(), std::string("--simulate=") + GetParam().devices);
        return RunProgram("qvmctl", args, std::nullopt, {{"QVM_USER_DIR", twinFolder_.string()}});
    }

    fs::path twinFolder_;
    std::unique_ptr<SimBackend> sim_;
    std::unique_ptr<SimGadgetDevice> gadget_;
};

TEST_P(UsbMouse, ListIdentifiesTheMouseAsTheSimulatorDoes) {
    const ProgramRun kernel = OnKernel({"list"});
    const ProgramRun twin = OnTwin({"list"});
    ASSERT_EQ(kernel.status, 0) << kernel.err;
    ASSERT_EQ(twin.status, 0) << twin.err;
    EXPECT_TRUE(Has(kernel.out, "hid#vid_0c45&pid_")) << kernel.out;
    EXPECT_EQ(ModelLine(kernel.out), ModelLine(twin.out)) << kernel.out << twin.out;
}

// The 9-byte protocol moves 7 bytes a request: under emulation a backup of generation 0
// takes minutes, beyond what the test command may spend, so its changes are checked on
// the simulator and over uhid only.
class UsbMouseChanges : public UsbMouse {};

TEST_P(UsbMouseChanges, ChangesReachTheMemoryByteForByte) {
    const fs::path macro = twinFolder_ / "tap.txt";
    std::ofstream(macro) << "key-down A\nwait 50\nkey-up A\n";
    const fs::path backup = twinFolder_ / "kernel.bf";
    const Bytes factory = sim_->Device(0).SaveImage();

    // A backup only reads: it is the memory as it is.
    const ProgramRun saved = OnKernel({"backup", backup.string()});
    ASSERT_EQ(saved.status, 0) << saved.out << saved.err;
    EXPECT_EQ(sim_->Device(0).SaveImage(), factory);

    const std::vector<std::vector<std::string>> steps = {
        {"set", "dpi", "1", "1200"},
        {"assign", "1", "4", "Ctrl + C"},
        {"macro", "store", "1", macro.string(), "--name", "Tap"},
    };
    for (const std::vector<std::string>& args : steps) {
        SCOPED_TRACE(args[0] + " " + args[1]);
        const ProgramRun kernel = OnKernel(args);
        const ProgramRun twin = OnTwin(args);
        ASSERT_EQ(kernel.status, 0) << kernel.out << kernel.err;
        ASSERT_EQ(twin.status, 0) << twin.out << twin.err;
    }
    // The twin's state file: "<place>-<kind>.mem".
    const std::string devices = GetParam().devices;
    const std::string twinName = "0-" + devices.substr(0, devices.find('/')) + ".mem";
    const Bytes changed = sim_->Device(0).SaveImage();
    EXPECT_NE(changed, factory);
    EXPECT_EQ(changed, ReadFile(twinFolder_ / "sim" / twinName));

    // The restore puts back every byte of the backup.
    const ProgramRun restore = OnKernel({"restore", backup.string(), "--yes"});
    ASSERT_EQ(restore.status, 0) << restore.out << restore.err;
    EXPECT_EQ(sim_->Device(0).SaveImage(), factory);
}

std::string CaseName(const ::testing::TestParamInfo<UsbCase>& info) {
    return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(Mice, UsbMouse, ::testing::ValuesIn(kCases), CaseName);
INSTANTIATE_TEST_SUITE_P(Mice, UsbMouseChanges, ::testing::Values(kCases[1]), CaseName);

}  // namespace
}  // namespace qvm::vm
