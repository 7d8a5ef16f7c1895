#include "session/device_hub.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <thread>

#include "device/transport.h"
#include "sim/sim_backend.h"
#include "support/fake_clock.h"
#include "support/sim_hub.h"
#include "support/temp_folder.h"

namespace qvm::hub_test {
namespace {

using Bytes = std::vector<uint8_t>;

// Everything the hub told its listener, in order.
struct Recorder {
    std::mutex m;
    std::vector<std::pair<HubOperation, int>> progress;
    std::vector<std::pair<HubOperation, Status>> finished;
    std::vector<int> refreshDelays;
    std::function<void(HubOperation, int)> onProgress;  // runs on the worker

    HubListener Listener() {
        HubListener l;
        l.progress = [this](HubOperation op, int percent) {
            {
                std::lock_guard lock(m);
                progress.emplace_back(op, percent);
            }
            if (onProgress) onProgress(op, percent);
        };
        l.finished = [this](HubOperation op, const Status& s) {
            std::lock_guard lock(m);
            finished.emplace_back(op, s);
        };
        l.refreshWanted = [this](int ms) {
            std::lock_guard lock(m);
            refreshDelays.push_back(ms);
        };
        return l;
    }
    Status Last(HubOperation op) {
        std::lock_guard lock(m);
        for (auto it = finished.rbegin(); it != finished.rend(); ++it) {
            if (it->first == op) return it->second;
        }
        return MakeError("no finished report");
    }
    std::vector<int> PercentsOf(HubOperation op) {
        std::lock_guard lock(m);
        std::vector<int> out;
        for (const auto& [o, p] : progress) {
            if (o == op) out.push_back(p);
        }
        return out;
    }
};

// A hub on simulated devices whose memory lives in a temporary user folder.
struct HubRig {
    test::TempFolder folder;
    test::FakeClock clock;
    Recorder recorder;
    std::unique_ptr<DeviceHub> hub;

    explicit HubRig(const std::string& devices) { Open(devices); }
    void Open(const std::string& devices) {
        hub = test::OpenSimHub(devices, folder.path(), clock);
        ASSERT_TRUE(hub);
        hub->SetListener(recorder.Listener());
    }
    SimDevice& Device() { return hub->Simulator()->Device(0); }
    Bytes Peek(uint32_t address, size_t length) { return Device().PeekMemory(address, length); }
    void RefreshAndWait() {
        hub->Refresh();
        hub->WaitIdle();
    }
};

// The active mouse leaves in the middle of a backup: the backup fails at once with the
// departure, the last known configuration stays to be shown (greyed) while every device
// operation is refused, and the same mouse is loaded again when it returns.
TEST(DeviceHub, RemovalMidBackupFailsThenReArrivalLoadsAgain) {
    HubRig rig("g12");
    rig.RefreshAndWait();
    ASSERT_TRUE(rig.hub->Snapshot().present);
    const auto shown = rig.hub->Snapshot().image;
    const std::string path = rig.hub->Snapshot().path;
    const std::string file = rig.folder.File("mid.bf");
    // The device leaves while its memory is being read.
    rig.recorder.onProgress = [&](HubOperation op, int percent) {
        if (op == HubOperation::Backup && percent >= 30) rig.Device().Detach();
    };
    const int before = rig.clock.TotalMs();
    rig.hub->SaveBackup(file);
    rig.hub->WaitIdle();
    const Status backup = rig.recorder.Last(HubOperation::Backup);
    EXPECT_FALSE(backup.ok());
    EXPECT_EQ(backup.kind(), ErrorKind::DeviceGone) << backup.message();
    // Not a poll limit per remaining piece: the backup ended at the departure.
    EXPECT_LT(rig.clock.TotalMs() - before, Transport::kIdlePollLimit);
    EXPECT_FALSE(std::ifstream(file).good()) << "a failed backup must leave no file";
    rig.recorder.onProgress = nullptr;

    rig.hub->HandleEvents();
    rig.hub->WaitIdle();
    HubSnapshot snap = rig.hub->Snapshot();
    EXPECT_TRUE(snap.away);
    EXPECT_TRUE(snap.present);
    EXPECT_EQ(snap.path, path);
    EXPECT_EQ(snap.image, shown);
    {
        std::lock_guard lock(rig.recorder.m);
        EXPECT_EQ(rig.recorder.refreshDelays, std::vector<int>{500});
    }
    // While it is away nothing reaches it, and the refresh keeps the greyed view.
    rig.hub->Change(HubOperation::ActiveProfile, Setter(&ConfigModel::SetActiveProfile, 2));
    rig.hub->WaitIdle();
    EXPECT_EQ(rig.recorder.Last(HubOperation::ActiveProfile).kind(), ErrorKind::DeviceGone);
    rig.RefreshAndWait();
    EXPECT_TRUE(rig.hub->Snapshot().away);
    EXPECT_EQ(rig.hub->Snapshot().image, shown);

    rig.Device().Attach();
    rig.hub->HandleEvents();
    rig.hub->WaitIdle();
    {
        std::lock_guard lock(rig.recorder.m);
        EXPECT_EQ(rig.recorder.refreshDelays, (std::vector<int>{500, 1000}));
    }
    rig.RefreshAndWait();
    snap = rig.hub->Snapshot();
    EXPECT_FALSE(snap.away);
    EXPECT_TRUE(snap.present);
    EXPECT_EQ(snap.path, path);
    EXPECT_TRUE(snap.image->loaded);
    EXPECT_NE(snap.image, shown) << "the returned device is read again";
    EXPECT_TRUE(rig.recorder.Last(HubOperation::Refresh).ok());
}

// The device the user chose stays the one worked on across arrivals and removals of the
// others, gives way to the first listed one while it is away, and is chosen again when it
// comes back. Devices: 0 a class C mouse, 1 a class A mouse, 2 a keyboard.
enum class Step { Select, Detach, Attach };
struct SelectionStep {
    Step step;
    int device;  // the simulated device the step acts on
    int active;  // the simulated device active afterwards
};
struct SelectionCase {
    const char* name;
    std::vector<SelectionStep> steps;
};

const SelectionCase kSelections[] = {
    {"ChosenMouseSurvivesAnotherLeavingAndComing",
     {{Step::Select, 1, 1}, {Step::Detach, 0, 1}, {Step::Attach, 0, 1}}},
    {"ChosenDeviceReturnsWithItsDevice",
     {{Step::Select, 2, 2}, {Step::Detach, 2, 0}, {Step::Attach, 2, 2}}},
};

class HubSelection : public ::testing::TestWithParam<SelectionCase> {};

TEST_P(HubSelection, KeepsTheChosenDeviceWhenItCan) {
    HubRig rig("g12,g0,mx28");
    rig.RefreshAndWait();
    std::vector<std::string> paths;
    for (const HubDevice& device : rig.hub->Snapshot().devices) paths.push_back(device.path);
    ASSERT_EQ(paths.size(), 3u);
    const auto deviceOf = [&](const std::string& path) {
        return static_cast<int>(std::find(paths.begin(), paths.end(), path) - paths.begin());
    };
    ASSERT_EQ(deviceOf(rig.hub->Snapshot().path), 0);
    for (const SelectionStep& step : GetParam().steps) {
        SimDevice& device = rig.hub->Simulator()->Device(static_cast<size_t>(step.device));
        switch (step.step) {
            case Step::Select:
                rig.hub->SelectDevice(paths[static_cast<size_t>(step.device)]);
                break;
            case Step::Detach:
                device.Detach();
                break;
            case Step::Attach:
                device.Attach();
                break;
        }
        rig.hub->HandleEvents();
        rig.RefreshAndWait();  // as the refresh timer does after a change
        const HubSnapshot snap = rig.hub->Snapshot();
        EXPECT_EQ(deviceOf(snap.path), step.active) << snap.path;
        EXPECT_EQ(snap.keyboard, step.active == 2);
        EXPECT_EQ(snap.present, step.active != 2);
    }
}

INSTANTIATE_TEST_SUITE_P(All, HubSelection, ::testing::ValuesIn(kSelections),
                         [](const auto& info) { return std::string(info.param.name); });

// A slider moved just before another device is chosen still reaches its own device.
TEST(DeviceHub, SwitchingDevicesWritesTheDeferredValuesOfTheOneLeft) {
    HubRig rig("g12,g12");
    rig.RefreshAndWait();
    const HubSnapshot first = rig.hub->Snapshot();
    ASSERT_EQ(first.devices.size(), 2u);
    ASSERT_TRUE(
        rig.hub->ChangeDeferred(DeferredSetter(&DeferredWrites::ChangeDpiStage, 2, 22, 32)).ok());
    rig.hub->SelectDevice(first.devices[1].path);
    rig.hub->WaitIdle();
    EXPECT_EQ(rig.hub->Snapshot().path, first.devices[1].path);
    EXPECT_TRUE(rig.recorder.Last(HubOperation::Refresh).ok());
    EXPECT_EQ(rig.Peek(0x07, 2), (Bytes{22, 32}));
    EXPECT_NE(rig.hub->Simulator()->Device(1).PeekMemory(0x07, 2), (Bytes{22, 32}));
    EXPECT_FALSE(rig.hub->NextDeferredDue().has_value());
}

// A backup made of a device with `source` memory is restored into a 64k device.
struct RestoreCase {
    const char* name;
    const char* source;
    bool force;
    bool restored;
};

const RestoreCase kRestores[] = {
    {"SameSize", "g12", false, true},
    {"OtherSizeRefused", "g12/mem=32k", false, false},
    {"OtherSizeForced", "g12/mem=32k", true, true},
};

class HubRestore : public ::testing::TestWithParam<RestoreCase> {};

TEST_P(HubRestore, RefusesAnotherMemorySizeUnlessForced) {
    const RestoreCase& c = GetParam();
    const Bytes marker = {5, 0x01, 0x06, 0x00};
    std::string file;
    test::TempFolder keep;
    {
        HubRig source(c.source);
        source.RefreshAndWait();
        source.hub->Change(HubOperation::AssignButton,
                           Setter(&ConfigModel::AssignSlot, 1, 2, ButtonSlot{5, 0x01, 0x06, 0x00}));
        file = keep.File("saved.bf");
        source.hub->SaveBackup(file);
        source.hub->WaitIdle();
        ASSERT_TRUE(source.recorder.Last(HubOperation::Backup).ok())
            << source.recorder.Last(HubOperation::Backup).message();
        EXPECT_EQ(source.recorder.PercentsOf(HubOperation::Backup).back(), 100);
    }
    HubRig target("g12");
    target.RefreshAndWait();
    const Bytes before = target.Peek(0xE2, 1);
    ASSERT_NE(before, Bytes{5});
    target.hub->RestoreBackup(file, c.force);
    target.hub->WaitIdle();
    const Status s = target.recorder.Last(HubOperation::Restore);
    EXPECT_EQ(s.ok(), c.restored) << s.message();
    EXPECT_EQ(target.Peek(0xE2, 1), c.restored ? Bytes{5} : before);
    if (c.restored) {
        EXPECT_EQ(target.hub->Snapshot().image->buttons[1][2].slot, (ButtonSlot{5, 1, 6, 0}));
        EXPECT_EQ(target.recorder.PercentsOf(HubOperation::Restore).back(), 100);
    }
}

INSTANTIATE_TEST_SUITE_P(All, HubRestore, ::testing::ValuesIn(kRestores),
                         [](const auto& info) { return std::string(info.param.name); });

// Windows read snapshots and change sliders while the worker loads and writes.
TEST(DeviceHub, SnapshotsStayConsistentUnderConcurrentWork) {
    HubRig rig("g12");
    rig.RefreshAndWait();
    std::atomic<bool> done{false};
    std::thread reader([&] {
        while (!done) {
            const HubSnapshot snap = rig.hub->Snapshot();
            ASSERT_NE(snap.image, nullptr);
            if (snap.present)
                (void)rig.hub->ChangeDeferred(
                    DeferredSetter(&DeferredWrites::ChangeDpiStage, 1, 10, 12));
        }
    });
    for (int i = 0; i < 5; ++i) {
        rig.hub->Refresh();
        rig.hub->Change(HubOperation::AssignButton,
                        Setter(&ConfigModel::AssignSlot, 0, 4,
                               ButtonSlot{5, 0x00, static_cast<uint8_t>(0x04 + i), 0}));
        rig.hub->FlushDeferred(DeferredWrites::Scope::Everything);
    }
    rig.hub->WaitIdle();
    done = true;
    reader.join();
    EXPECT_EQ(rig.hub->Snapshot().image->buttons[0][4].slot, (ButtonSlot{5, 0, 0x08, 0}));
    std::lock_guard lock(rig.recorder.m);
    EXPECT_EQ(rig.recorder.finished.size(), 1u + 15u);
}

}  // namespace
}  // namespace qvm::hub_test

namespace qvm::hub_test {
namespace {

std::vector<std::string> FirstBackupsIn(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

// The first change of a mouse saves its memory first and says where; when that cannot be
// done, the change is refused and kept: agreeing runs it again, declining drops it.
TEST(DeviceHub, FirstChangeIsSavedFirstOrKeptUntilTheUserAnswers) {
    for (const bool blocked : {false, true}) {
        SCOPED_TRACE(blocked ? "backups folder blocked" : "backups folder free");
        HubRig rig("g12/mem=8k");
        std::vector<std::string> told;
        HubListener listener = rig.recorder.Listener();
        listener.firstBackupSaved = [&told](const std::string&, const std::string& file) {
            told.push_back(file);
        };
        rig.hub->SetListener(listener);
        const std::string backups = rig.folder.File("backups");
        if (blocked) std::ofstream(backups) << "a file where the folder goes";
        rig.RefreshAndWait();
        const std::string path = rig.hub->Snapshot().path;
        const Bytes before = rig.Peek(0, 0x2000);

        rig.hub->Change(HubOperation::ProfileName,
                        Setter(&ConfigModel::SetProfileName, 0, std::string_view("First")));
        rig.hub->WaitIdle();
        const Status first = rig.recorder.Last(HubOperation::ProfileName);
        if (!blocked) {
            EXPECT_TRUE(first.ok()) << first.message();
            ASSERT_EQ(told.size(), 1u);
            ASSERT_EQ(FirstBackupsIn(backups).size(), 1u);
            EXPECT_EQ(told[0], backups + "/" + FirstBackupsIn(backups)[0]);
            EXPECT_EQ(rig.hub->FirstBackupOf(path).value(), told[0]);
            EXPECT_NE(rig.Peek(0, 0x2000), before);
            continue;
        }
        EXPECT_EQ(first.kind(), ErrorKind::Unsaved) << first.message();
        EXPECT_EQ(rig.Peek(0, 0x2000), before);
        EXPECT_TRUE(told.empty());

        // Declined: the refused change is forgotten, agreeing later runs nothing old.
        rig.hub->DropUnsaved();
        rig.hub->AcceptUnsaved(path);
        rig.hub->WaitIdle();
        EXPECT_EQ(rig.Peek(0, 0x2000), before);

        // Refused again on a new program run, then agreed: the change runs again and is
        // written, without a backup.
        rig.hub.reset();
        rig.Open("g12/mem=8k");
        rig.RefreshAndWait();
        rig.hub->Change(HubOperation::ProfileName,
                        Setter(&ConfigModel::SetProfileName, 0, std::string_view("Second")));
        rig.hub->WaitIdle();
        EXPECT_EQ(rig.recorder.Last(HubOperation::ProfileName).kind(), ErrorKind::Unsaved);
        rig.hub->AcceptUnsaved(rig.hub->Snapshot().path);
        rig.hub->WaitIdle();
        const Status agreed = rig.recorder.Last(HubOperation::ProfileName);
        EXPECT_TRUE(agreed.ok()) << agreed.message();
        EXPECT_NE(rig.Peek(0, 0x2000), before);
        EXPECT_TRUE(told.empty());
    }
}

}  // namespace
}  // namespace qvm::hub_test
