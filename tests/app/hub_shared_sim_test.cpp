// The desktop program's hub and qvmctl on the same simulated device at the same time:
// quitting the window keeps what qvmctl changed.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/device_hub.h"
#include "cli/qvmctl.h"
#include "support/fake_clock.h"
#include "support/temp_folder.h"

namespace qvm::hub_test {
namespace {

struct SharedHub {
    test::TempFolder folder;  // also QVM_USER_DIR, where qvmctl keeps its devices
    test::FakeClock clock;
    std::unique_ptr<DeviceHub> hub;

    void Open() {
        DeviceHubOptions options;
        options.simulate = "g12";
        options.userDataFolder = folder.path();
        auto made = DeviceHub::Open(options, clock);
        ASSERT_TRUE(made.ok()) << made.message();
        hub = std::move(made).value();
    }
};

struct QvmctlRun {
    int status;
    std::string out, err;
};

QvmctlRun RunOnG12(std::vector<std::string> args) {
    args.insert(args.begin(), "--simulate=g12");
    std::istringstream in;
    std::ostringstream out, err;
    const int status = cli::RunQvmctl(args, in, out, err);
    return {status, out.str(), err.str()};
}

TEST(HubSharedSim, QuittingKeepsWhatQvmctlChangedMeanwhile) {
    SharedHub rig;
    rig.Open();
    rig.hub->Refresh();
    rig.hub->WaitIdle();
    ASSERT_TRUE(rig.hub->Snapshot().present);

    const QvmctlRun set = RunOnG12({"set", "dpi", "1", "1200"});
    ASSERT_EQ(set.status, 0) << set.err;
    // The window changes something else, then quits.
    rig.hub->SetProfileName(1, "Hub");
    rig.hub->WaitIdle();
    rig.hub.reset();

    const QvmctlRun show = RunOnG12({"show", "--json"});
    ASSERT_EQ(show.status, 0) << show.err;
    EXPECT_NE(show.out.find("\"x_dpi\": 1200"), std::string::npos) << show.out;
    EXPECT_NE(show.out.find("\"name\": \"Hub\""), std::string::npos) << show.out;
}

}  // namespace
}  // namespace qvm::hub_test
