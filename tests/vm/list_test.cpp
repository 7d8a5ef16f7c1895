// What qvmctl finds on kernel devices: every interface with the usage and report lengths
// its descriptor declares, at its own interface number, and the devices it identifies.
#include "vm_rig.h"

namespace qvm::vm {
namespace {

constexpr const char* kDevices = "g0,g12,mx28";

class KernelList : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(devices_.WaitPublished()); }
    KernelDevices devices_{kDevices};
};

struct InterfaceLine {
    const char* interface;  // the part of the path naming product and interface
    const char* caps;       // the capability line of `list --all`
};

// g0: configuration + vendor; g12: mouse, vendor, configuration; mx28: boot keyboard and
// the report pipe.
constexpr InterfaceLine kInterfaces[] = {
    {"pid_7010&mi_00#", "interface 0 usage 0001:0002 feature 9 input 8 output 0"},
    {"pid_7010&mi_01#", "interface 1 usage ff23:0001 feature 0 input 16 output 0"},
    {"pid_7030&mi_00#", "interface 0 usage 0001:0002 feature 0 input 8 output 0"},
    {"pid_7030&mi_01#", "interface 1 usage ff23:0001 feature 0 input 16 output 0"},
    {"pid_7030&mi_02#", "interface 2 usage ff18:0001 feature 64 input 0 output 0"},
    {"pid_7050&mi_00#", "interface 0 usage 0001:0006 feature 0 input 9 output 2"},
    {"pid_7050&mi_01#", "interface 1 usage 0001:0000 feature 0 input 32 output 32"},
};

TEST_F(KernelList, ListAllShowsEveryInterfaceAsDeclared) {
    const ProgramRun run = RunProgram("qvmctl", {"list", "--all"});
    ASSERT_EQ(run.status, 0) << run.err;
    for (const InterfaceLine& line : kInterfaces) {
        const size_t at = run.out.find(line.interface);
        ASSERT_NE(at, std::string::npos) << line.interface << " missing from\n" << run.out;
        const size_t next = run.out.find("hid#", at + 1);
        EXPECT_TRUE(Has(run.out.substr(at, next - at), line.caps))
            << line.interface << " should read '" << line.caps << "' in\n"
            << run.out;
    }
}

TEST_F(KernelList, KeyboardIsIdentifiedOnItsReportPipe) {
    const ProgramRun run = RunProgram("qvmctl", {"list"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(Has(run.out, "hid#vid_0c45&pid_7050&mi_01#hidraw")) << run.out;
    EXPECT_TRUE(Has(run.out, "QVM Gaming Keyboard, keyboard")) << run.out;
}

// The interfaces of one device are one physical device, and different devices are not.
TEST_F(KernelList, InterfacesOfOneDeviceShareTheirContainerOnly) {
    auto backend = MakeLinuxBackend();
    ASSERT_TRUE(backend) << backend.message();
    std::map<uint16_t, std::set<std::string>> containersByProduct;
    for (const HidDeviceInfo& info : OurInterfaces(**backend)) {
        containersByProduct[info.productId].insert(info.container);
    }
    std::set<std::string> all;
    for (const auto& [product, containers] : containersByProduct) {
        EXPECT_EQ(containers.size(), 1u) << "product " << std::hex << product;
        all.insert(containers.begin(), containers.end());
    }
    EXPECT_EQ(all.size(), 3u);
}

// uhid carries no USB control pipe: the indexed strings are unavailable, not invented.
TEST_F(KernelList, IndexedStringsAreUnavailableWithoutUsb) {
    auto backend = MakeLinuxBackend();
    ASSERT_TRUE(backend) << backend.message();
    for (const HidDeviceInfo& info : OurInterfaces(**backend)) {
        if (info.productId != 0x7030 || info.interfaceNumber != 2) continue;
        auto handle = (*backend)->Open(info.path);
        ASSERT_TRUE(handle) << handle.message();
        EXPECT_EQ((*handle)->IndexedString(0xC6), std::nullopt);
        return;
    }
    FAIL() << "no configuration interface of the g12 mouse";
}

}  // namespace
}  // namespace qvm::vm
