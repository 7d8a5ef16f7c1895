// A user without access to the device nodes is told why, as the README promises.
#include "vm_rig.h"

namespace qvm::vm {
namespace {

constexpr uid_t kNobody = 65534;

TEST(KernelPermissions, NodeWithoutAccessIsListedWithTheReason) {
    KernelDevices devices("mx28");
    ASSERT_TRUE(devices.WaitPublished());
    // devtmpfs creates hidraw nodes for root only: without the udev rule nobody else may
    // open them.
    struct Case {
        std::vector<std::string> args;
        int status;
    };
    for (const Case& c : {Case{{"list", "--all"}, 0}, Case{{"list"}, 0}}) {
        SCOPED_TRACE(c.args.back());
        const ProgramRun run = RunProgram("qvmctl", c.args, kNobody);
        EXPECT_EQ(run.status, c.status) << run.out << run.err;
        EXPECT_TRUE(Has(run.out + run.err, "permission denied: install the udev rule, see README"))
            << run.out << run.err;
        EXPECT_TRUE(Has(run.out + run.err, "hid#vid_0c45&pid_7050&mi_01#hidraw"))
            << run.out << run.err;
    }
    // Root, who may open them, is not told so.
    const ProgramRun root = RunProgram("qvmctl", {"list"});
    EXPECT_FALSE(Has(root.out + root.err, "permission denied")) << root.out << root.err;
}

}  // namespace
}  // namespace qvm::vm
