// The desktop program's hub and qvmctl on the same simulated device at the same time:
// quitting the window keeps what qvmctl changed, the hub tells at start which state files
// it had to set aside, and a change the disk cannot keep fails and leaves no trace.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>

#include "cli/qvmctl.h"
#include "session/device_hub.h"
#include "support/fake_clock.h"
#include "support/sim_hub.h"
#include "support/small_tmpfs.h"
#include "support/temp_folder.h"

namespace qvm::hub_test {
namespace {

struct SharedHub {
    test::TempFolder folder;  // also QVM_USER_DIR, where qvmctl keeps its devices
    test::FakeClock clock;
    std::unique_ptr<DeviceHub> hub;

    void Open() { hub = test::OpenSimHub("g12", folder.path(), clock); }
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
    rig.hub->Change(HubOperation::ProfileName, Setter(&ConfigModel::SetProfileName, 1, "Hub"));
    rig.hub->WaitIdle();
    rig.hub.reset();

    const QvmctlRun show = RunOnG12({"show", "--json"});
    ASSERT_EQ(show.status, 0) << show.err;
    EXPECT_NE(show.out.find("\"x_dpi\": 1200"), std::string::npos) << show.out;
    EXPECT_NE(show.out.find("\"name\": \"Hub\""), std::string::npos) << show.out;
}

TEST(HubSharedSim, AChangeTheDiskCannotKeepFailsAndTheViewShowsTheDevice) {
    SharedHub rig;
    test::SmallTmpfs disk(rig.folder.File("sim"), 256 * 1024);
    if (!disk.Mounted()) {
        GTEST_SKIP() << "cannot mount a tmpfs: " << disk.Why();
    }
    disk.Fill();  // no state file yet: the first change needs a new one
    rig.Open();
    std::mutex m;
    std::optional<Status> named;
    HubListener listener;
    listener.finished = [&](HubOperation op, const Status& status) {
        std::lock_guard lock(m);
        if (op == HubOperation::ProfileName) named = status;
    };
    rig.hub->SetListener(listener);
    rig.hub->Refresh();
    rig.hub->WaitIdle();
    ASSERT_TRUE(rig.hub->Snapshot().present);
    const std::string before = rig.hub->Snapshot().image->profiles[1].name;

    rig.hub->Change(HubOperation::ProfileName, Setter(&ConfigModel::SetProfileName, 1, "Lost"));
    rig.hub->WaitIdle();
    std::lock_guard lock(m);
    ASSERT_TRUE(named.has_value());
    EXPECT_EQ(named->kind(), ErrorKind::Io);
    EXPECT_EQ(named->message(), "cannot keep the simulated device's memory in " +
                                    rig.folder.File("sim/0-g12.mem") + ": No space left on device");
    EXPECT_EQ(rig.hub->Snapshot().image->profiles[1].name, before)
        << "the view is read again from the device, which kept nothing";
}

}  // namespace
}  // namespace qvm::hub_test
