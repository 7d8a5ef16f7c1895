#include "session/device_hub.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <algorithm>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <mutex>
#include <thread>

#include "device/transport.h"
#include "sim/sim_backend.h"
#include "support/fake_clock.h"
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
    int viewChanges = 0;
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
        l.viewChanged = [this] {
            std::lock_guard lock(m);
            ++viewChanges;
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
        DeviceHubOptions options;
        options.simulate = devices;
        options.userDataFolder = folder.path();
        auto made = DeviceHub::Open(options, clock);
        ASSERT_TRUE(made.ok()) << made.message();
        hub = std::move(made).value();
        hub->SetListener(recorder.Listener());
        stateFile = hub->Simulator()->StateFile(0);
    }
    std::string stateFile;  // stays readable after the hub is gone
    SimDevice& Device() { return hub->Simulator()->Device(0); }
    Bytes Peek(uint32_t address, size_t length) { return Device().PeekMemory(address, length); }
    Bytes SavedState(uint32_t address, size_t length) {
        std::ifstream in(stateFile, std::ios::binary);
        const Bytes file((std::istreambuf_iterator<char>(in)), {});
        if (file.size() < address + length) return {};
        return Bytes(file.begin() + address, file.begin() + address + length);
    }
    void RefreshAndWait() {
        hub->Refresh();
        hub->WaitIdle();
    }
};

bool Readable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN) != 0;
}

TEST(DeviceHub, RefreshFindsAndLoadsTheMouse) {
    HubRig rig("g12/fw=0x31");
    EXPECT_FALSE(rig.hub->Snapshot().present);
    rig.RefreshAndWait();
    ASSERT_TRUE(rig.recorder.Last(HubOperation::Refresh).ok())
        << rig.recorder.Last(HubOperation::Refresh).message();
    const HubSnapshot snap = rig.hub->Snapshot();
    EXPECT_TRUE(snap.present);
    EXPECT_FALSE(snap.keyboard);
    EXPECT_EQ(snap.path.rfind("sim#vid_0c45&pid_7030&mi_02", 0), 0u) << snap.path;
    EXPECT_EQ(snap.modelName, "MX-21");
    EXPECT_EQ(snap.firmwareVersion, 0x31);
    EXPECT_TRUE(snap.image->loaded);
    EXPECT_TRUE(snap.extendedButtons);
    EXPECT_FALSE(rig.hub->Busy());
    const std::vector<int> percents = rig.recorder.PercentsOf(HubOperation::Refresh);
    ASSERT_FALSE(percents.empty());
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
    EXPECT_EQ(percents.back(), 100);
}

TEST(DeviceHub, KeyboardIsActiveWithoutAConfiguration) {
    HubRig rig("mx28");
    rig.RefreshAndWait();
    const HubSnapshot snap = rig.hub->Snapshot();
    EXPECT_TRUE(snap.keyboard);
    EXPECT_FALSE(snap.present);
    EXPECT_EQ(rig.hub->Model(), nullptr);
    rig.hub->Change(HubOperation::ActiveProfile, Setter(&ConfigModel::SetActiveProfile, 1));
    rig.hub->WaitIdle();
    EXPECT_FALSE(rig.recorder.Last(HubOperation::ActiveProfile).ok());
}

// Each write lands at its class-C address, and the saved simulated memory holds it
// before the program ends.
struct WriteCase {
    const char* name;
    std::function<void(DeviceHub&)> op;
    HubOperation reported;
    uint32_t address;
    Bytes bytes;
};

const WriteCase kWrites[] = {
    {"AssignButton",
     [](DeviceHub& h) {
         h.Change(HubOperation::AssignButton,
                  Setter(&ConfigModel::AssignSlot, 1, 2, ButtonSlot{5, 0x01, 0x06, 0x00}));
     },
     HubOperation::AssignButton,
     0xE2,
     {5}},
    {"AssignOperand",
     [](DeviceHub& h) {
         h.Change(HubOperation::AssignButton,
                  Setter(&ConfigModel::AssignSlot, 1, 2, ButtonSlot{5, 0x01, 0x06, 0x00}));
     },
     HubOperation::AssignButton,
     0x122,
     {0x06}},
    {"ProfileName",
     [](DeviceHub& h) {
         h.Change(HubOperation::ProfileName, Setter(&ConfigModel::SetProfileName, 1, "Ab"));
     },
     HubOperation::ProfileName,
     0xC6,
     {0x41, 0x00, 0x62, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
    {"ProfileColour",
     [](DeviceHub& h) {
         h.Change(HubOperation::ProfileColour,
                  Setter(&ConfigModel::SetProfileColour, 1, 0x11, 0x22, 0x33));
     },
     HubOperation::ProfileColour,
     0xC2,
     {0x0F, 0x11, 0x22, 0x33}},
    {"StageFlags",
     [](DeviceHub& h) {
         h.Change(HubOperation::StageFlags,
                  Setter(&ConfigModel::SetStageFlags,
                         std::array<bool, kDpiStageCount>{true, false, true, false, true}));
     },
     HubOperation::StageFlags,
     0x0F,
     {0x15}},
};

class HubWrites : public ::testing::TestWithParam<WriteCase> {};

TEST_P(HubWrites, ReachTheDeviceAndItsSavedMemory) {
    const WriteCase& c = GetParam();
    HubRig rig("g12");
    rig.RefreshAndWait();
    ASSERT_TRUE(rig.hub->Snapshot().present);
    ASSERT_NE(rig.Peek(c.address, c.bytes.size()), c.bytes);
    c.op(*rig.hub);
    rig.hub->WaitIdle();
    const Status s = rig.recorder.Last(c.reported);
    ASSERT_TRUE(s.ok()) << s.message();
    EXPECT_EQ(rig.Peek(c.address, c.bytes.size()), c.bytes);
    EXPECT_EQ(rig.SavedState(c.address, c.bytes.size()), c.bytes);
}

INSTANTIATE_TEST_SUITE_P(All, HubWrites, ::testing::ValuesIn(kWrites),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DeviceHub, WritesWithoutADeviceFailClearly) {
    HubRig rig("g12");
    rig.hub->Change(HubOperation::AssignButton,
                    Setter(&ConfigModel::AssignSlot, 0, 0, ButtonSlot{5, 1, 6, 0}));
    rig.hub->Reset();
    rig.hub->WaitIdle();
    EXPECT_EQ(rig.recorder.Last(HubOperation::AssignButton).message(), "no mouse is connected");
    EXPECT_FALSE(rig.recorder.Last(HubOperation::Reset).ok());
    EXPECT_FALSE(
        rig.hub->ChangeDeferred(DeferredSetter(&DeferredWrites::ChangeDpiStage, 1, 10, 10)).ok());
    EXPECT_FALSE(rig.hub->NextDeferredDue().has_value());
}

TEST(DeviceHub, SimulatedEventFdSignalsPresenceChanges) {
    HubRig rig("g12");
    const int fd = rig.hub->EventFd();
    ASSERT_GE(fd, 0);
    EXPECT_FALSE(Readable(fd));
    rig.Device().Detach();
    EXPECT_TRUE(Readable(fd));
    EXPECT_FALSE(rig.hub->Backend().TakeEvents().empty());
    EXPECT_FALSE(Readable(fd)) << "draining the events must clear the descriptor";
    rig.Device().Attach();
    EXPECT_TRUE(Readable(fd));
}

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

// Another mouse chosen while the first is away replaces the greyed view; a refresh with no
// mouse at all before any was shown leaves nothing to grey.
TEST(DeviceHub, AwayViewEndsWhenAnotherMouseIsChosen) {
    HubRig rig("g12,g5");
    rig.RefreshAndWait();
    const std::string first = rig.hub->Snapshot().path;
    rig.Device().Detach();
    rig.hub->HandleEvents();
    rig.hub->WaitIdle();
    ASSERT_TRUE(rig.hub->Snapshot().away);
    rig.RefreshAndWait();
    const HubSnapshot snap = rig.hub->Snapshot();
    EXPECT_FALSE(snap.away);
    EXPECT_NE(snap.path, first);
    EXPECT_TRUE(snap.image->loaded);

    HubRig empty("g12/removeafter=3");
    empty.RefreshAndWait();
    EXPECT_FALSE(empty.hub->Snapshot().away);
    EXPECT_FALSE(empty.hub->Snapshot().present);
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
    {"ChosenKeyboardSurvivesAnotherLeavingAndComing",
     {{Step::Select, 2, 2}, {Step::Detach, 1, 2}, {Step::Attach, 1, 2}}},
    {"ChosenDeviceReturnsWithItsDevice",
     {{Step::Select, 2, 2}, {Step::Detach, 2, 0}, {Step::Attach, 2, 2}}},
    {"LaterChoiceReplacesTheEarlier",
     {{Step::Select, 2, 2}, {Step::Select, 0, 0}, {Step::Detach, 1, 0}, {Step::Attach, 1, 0}}},
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

// An uninitialised mouse: the refresh only reads and says so; a backup reads it as it is;
// only the reset writes, and then the mouse is shown.
TEST(DeviceHub, UninitialisedMouseIsReportedAndOnlyTheResetWritesIt) {
    HubRig rig("g12/mem=8k/blank");
    const Bytes blank = rig.Peek(0, 0x2000);
    rig.RefreshAndWait();
    const Status refreshed = rig.recorder.Last(HubOperation::Refresh);
    EXPECT_EQ(refreshed.kind(), ErrorKind::Uninitialised) << refreshed.message();
    HubSnapshot snap = rig.hub->Snapshot();
    EXPECT_TRUE(snap.uninitialised);
    EXPECT_FALSE(snap.present);
    EXPECT_EQ(rig.Device().Stats().memoryWrites, 0u);

    const std::string file = rig.folder.File("blank.bf");
    rig.hub->SaveBackup(file);
    rig.hub->WaitIdle();
    ASSERT_TRUE(rig.recorder.Last(HubOperation::Backup).ok())
        << rig.recorder.Last(HubOperation::Backup).message();
    std::ifstream in(file, std::ios::binary);
    const Bytes saved((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(Bytes(saved.begin() + 22, saved.end()), blank);
    EXPECT_EQ(rig.Device().Stats().memoryWrites, 0u);
    EXPECT_EQ(rig.Peek(0, 0x2000), blank);

    rig.hub->Reset();
    rig.hub->WaitIdle();
    ASSERT_TRUE(rig.recorder.Last(HubOperation::Reset).ok())
        << rig.recorder.Last(HubOperation::Reset).message();
    snap = rig.hub->Snapshot();
    EXPECT_FALSE(snap.uninitialised);
    EXPECT_TRUE(snap.present);
    EXPECT_EQ(rig.Peek(0, 1), Bytes{0x12});
}

TEST(DeviceHub, DeferredDpiIsShownAtOnceAndWrittenWhenDue) {
    HubRig rig("g12");
    rig.RefreshAndWait();
    const Bytes before = rig.Peek(0x07, 2);
    ASSERT_NE(before, (Bytes{20, 30}));
    ASSERT_TRUE(
        rig.hub->ChangeDeferred(DeferredSetter(&DeferredWrites::ChangeDpiStage, 2, 20, 30)).ok());
    EXPECT_EQ(rig.hub->Snapshot().image->dpiStages[2], (DpiStage{20, 30}));
    ASSERT_TRUE(rig.hub->NextDeferredDue().has_value());
    rig.hub->FlushDeferred();  // not due yet: nothing is written
    rig.hub->WaitIdle();
    EXPECT_EQ(rig.Peek(0x07, 2), before);
    rig.clock.SleepMs(200);
    rig.hub->FlushDeferred();
    rig.hub->WaitIdle();
    EXPECT_EQ(rig.Peek(0x07, 2), (Bytes{20, 30}));
    EXPECT_FALSE(rig.hub->NextDeferredDue().has_value());
}

TEST(DeviceHub, PendingDeferredValuesAreWrittenWhenTheHubCloses) {
    HubRig rig("g12");
    rig.RefreshAndWait();
    ASSERT_TRUE(
        rig.hub->ChangeDeferred(DeferredSetter(&DeferredWrites::ChangeDpiStage, 2, 21, 31)).ok());
    rig.hub.reset();
    EXPECT_EQ(rig.SavedState(0x07, 2), (Bytes{21, 31}));
}

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
